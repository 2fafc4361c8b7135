#pragma once
// The job record: one JSON line per job and unit, appended to a file that
// several vrx4-cli processes may share.
#include <string>

#include <nlohmann/json.hpp>

namespace vrx4::cli {

// Appends the object as one line. The line goes out in one write(2) on a
// descriptor opened with O_APPEND, so lines of parallel writers never mix
// or overwrite each other. False (with why) when the file cannot be opened
// or the line was not written whole.
bool appendRecordLine(const std::string& path, const nlohmann::ordered_json& record, std::string& why);

// The current time as "2026-12-09T02:10:50.123Z".
std::string utcTimestamp();

}  // namespace vrx4::cli
