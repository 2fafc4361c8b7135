#pragma once
// One log sink for the whole program. The core never prints: diagnostics and
// a copy of every operator message go here, and the front end decides where
// the lines end up (standard error unless it says otherwise).
#include <functional>
#include <string>
#include <string_view>

namespace vrx4 {

using LogSink = std::function<void(std::string_view line)>;

// Writes one line (no trailing newline needed) to the current sink.
void logLine(std::string_view line);

// The name every program-level line starts with ("vrx4", "vrx4-cli",
// "vrx4-unitsim"), set once by each program's main before anything is
// logged; "vrx4" until then.
void setLogProgramName(std::string_view name);
const std::string& logProgramName();

// logLine(name + ": " + text): a line that says which program wrote it.
void logProgramLine(std::string_view text);

// Replaces the sink; an empty function restores the standard-error sink.
// Returns the previous sink.
LogSink setLogSink(LogSink sink);

}  // namespace vrx4
