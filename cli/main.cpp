// vrx4-cli: the program's work from a command line, without a window.
#include <string>
#include <vector>

#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "base/StartupMessage.h"
#include "cli/CliApp.h"

int main(int argc, char** argv) {
  vrx4::setLogProgramName("vrx4-cli");
  // No start-up picture here: messages are not held back for one.
  vrx4::setStartupPauseEnabled(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  // The device table ships beside the executable (or in ../share/vrx4/).
  return vrx4::cli::run(args, vrx4::runningExecutablePath(argv[0]));
}
