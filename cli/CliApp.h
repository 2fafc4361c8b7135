#pragma once
// vrx4-cli's command line: the sub-commands, their options and the exit
// status table.
#include <string>
#include <vector>

namespace vrx4::cli {

// Usage text for --help (also documents the exit statuses).
std::string usage();

// Runs the command line (arguments after the program name). self is the
// program's own file: its folder holds the device table, and the gang
// runner starts it again once per unit.
int run(const std::vector<std::string>& args, const std::string& self);

}  // namespace vrx4::cli
