#pragma once
// The file commands of vrx4-cli: they need no unit, only the loader, the
// saver and the device table the GUI uses.
#include <string>
#include <vector>

namespace vrx4::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the program refused the input or the output
inline constexpr int kExitUsage = 2;   // the command line itself is wrong

// Usage text for --help.
std::string usage();

// Runs the command line (arguments after the program name); messages go to
// the log (standard error), results to standard output.
int run(const std::vector<std::string>& args, const std::string& programFolder);

}  // namespace vrx4::cli
