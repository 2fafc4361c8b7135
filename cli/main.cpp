// vrx4-cli: the program's work from a command line, without a window.
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "base/Log.h"
#include "base/StartupMessage.h"
#include "cli/CliApp.h"

int main(int argc, char** argv) {
  vrx4::setLogProgramName("vrx4-cli");
  // No start-up picture here: messages are not held back for one.
  vrx4::setStartupPauseEnabled(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  // The device table ships beside the executable.
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = n > 0 ? std::string(self, size_t(n)) : std::string(argv[0]);
  return vrx4::cli::run(args, path);
}
