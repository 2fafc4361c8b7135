// vrx4-cli: the program's work from a command line, without a window.
#include <string>
#include <vector>

#include "base/ProgramFiles.h"
#include "cli/CliApp.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The device table ships beside the executable (or in ../share/vrx4/).
  return vrx4::cli::run(args, vrx4::runningExecutablePath(argv[0]));
}
