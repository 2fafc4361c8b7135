#pragma once
// The program's command line: which transport reaches the unit, and whether
// the start-up picture is shown.
#include <string>
#include <vector>

namespace vrx4 {

enum class UnitKind { Usb, Sim, Socket };

struct UnitChoice {
  UnitKind kind = UnitKind::Usb;  // without an option: the real unit on USB
  std::string socketPath;         // UnitKind::Socket only
};

struct CommandLine {
  // False when the program was started with the switch "Embedding" or
  // "Automation" ('-' or '/' before it, letter case ignored).
  bool splashEnabled = true;
  UnitChoice unit;
  bool showHelp = false;
  // Empty when the command line is good; otherwise why it is not.
  std::string error;
  bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. Understood:
//   -Embedding, /Embedding, -Automation, /Automation (any letter case)
//   --unit usb|sim|socket:PATH (also --unit=...), --simulate (= --unit sim),
//   --help, -h
// Anything else is an error.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// Usage text for --help and after a command-line error (several lines).
std::string commandLineUsage(const std::string& programName);

// Exit status of a program stopped by a command-line error.
inline constexpr int kCommandLineErrorStatus = 2;

}  // namespace vrx4
