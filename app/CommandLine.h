#pragma once
// The program's command line: which transport reaches the unit, and whether
// the start-up picture is shown.
#include <string>
#include <vector>

namespace vrx4 {

enum class UnitKind { Usb, Sim, Socket };

// How the built-in simulated unit starts (UnitKind::Sim only).
struct SimChoice {
  std::string firmwareVersion;  // non-empty: the unit reports this version
  bool updateMode = false;      // the unit starts in update mode
  std::string statePath;        // empty: the user's state folder
  bool freshState = false;      // forget what the last run left in the unit
  bool keepNothing = false;     // no state file at all
};

struct UnitChoice {
  UnitKind kind = UnitKind::Usb;  // without an option: the real unit on USB
  std::string socketPath;         // UnitKind::Socket only
  SimChoice sim;
  std::string usbId;             // --usb-id VID:PID (checked); empty: not given
  double usbTimeoutSeconds = 0;  // --usb-timeout; 0: not given
};

struct CommandLine {
  // False when the program was started with the switch "Embedding" or
  // "Automation" ('-' or '/' before it, letter case ignored).
  bool splashEnabled = true;
  UnitChoice unit;
  bool showHelp = false;
  bool showVersion = false;
  // Words the program does not know, in the order given. They are warned
  // about and otherwise ignored: the command line only chooses the
  // start-up picture and how the unit is reached.
  std::vector<std::string> unknown;
  // Empty when the command line is good; otherwise why it is not (an option
  // of the program with a missing or unusable value).
  std::string error;
  bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. Understood:
//   -Embedding, /Embedding, -Automation, /Automation (any letter case)
//   --unit usb|sim|socket:PATH (also --unit=...), --simulate (= --unit sim),
//   --sim-firmware TEXT, --sim-update-mode, --sim-state PATH, --sim-fresh,
//   --sim-no-state (how the built-in simulated unit starts),
//   --usb-id VID:PID, --usb-timeout SECONDS (also with '='),
//   --help, -h, --version
// Anything else goes to `unknown`.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// Usage text after a command-line error (several lines); --help adds more.
std::string commandLineUsage(const std::string& programName);
// What --help prints: the usage, the files the program reads and writes, and
// examples.
std::string commandLineHelp(const std::string& programName);

// The one warning line about a word the program does not know.
std::string unknownArgumentWarning(const std::string& programName, const std::string& arg);

// --version text (three lines): the program's version, the unit firmware
// version it carries and expects, and the unit's USB IDs in use with where
// they come from (`usbIdOption`: the --usb-id given, if any).
std::string commandLineVersion(const std::string& programName, const std::string& usbIdOption = {});

// Reads --usb-timeout's value: seconds, more than 0 and at most 3600.
bool parseUsbTimeout(const std::string& text, double& seconds);

// Exit statuses of the program: 0 after Exit or a stop request (SIGINT,
// SIGTERM); 1 when start-up failed (no unit, a failed check, a declined or
// failed firmware update, a second instance); 2 after a command-line error;
// 3 when the unit was lost while the program ran.
inline constexpr int kStartupFailedStatus = 1;
inline constexpr int kCommandLineErrorStatus = 2;
inline constexpr int kUnitLostExitStatus = 3;

}  // namespace vrx4
