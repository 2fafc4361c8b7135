#pragma once
// Processes of the command-line tests: vrx4-cli runs to its end, a
// vrx4-unitsim serves a socket until the test stops it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "FileTestSupport.h"

extern char** environ;

namespace vrx4::test {

struct CliRun {
  int status = -1;
  std::string out, err;
  // Standard output as JSON lines (null entries for lines that do not parse).
  std::vector<nlohmann::json> events() const {
    std::vector<nlohmann::json> e;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) e.push_back(nlohmann::json::parse(line, nullptr, false));
    return e;
  }
};

inline CliRun runCli(const TempDir& dir, const std::vector<std::string>& args) {
  std::string cmd = "'" + std::string(VRX4_CLI_PATH) + "'";
  for (const std::string& a : args) cmd += " '" + a + "'";
  const std::string out = dir.file("cli.out"), err = dir.file("cli.err");
  const int raw = std::system((cmd + " >'" + out + "' 2>'" + err + "' </dev/null").c_str());
  CliRun r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = readFile(out);
  r.err = readFile(err);
  return r;
}

// vrx4-unitsim --socket PATH --instant ... ; ready once it says it serves.
class UnitSim {
 public:
  UnitSim(const std::string& socket, std::vector<std::string> extra) {
    std::vector<std::string> args = {VRX4_UNITSIM_PATH, "--socket", socket, "--instant"};
    args.insert(args.end(), extra.begin(), extra.end());
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&fa, pipeFds[0]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, VRX4_UNITSIM_PATH, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(pipeFds[1]);
    err_ = pipeFds[0];
    ready_ = pid_ > 0 && waitForLog("serving");
  }
  ~UnitSim() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (err_ >= 0) ::close(err_);
  }
  bool ready() const { return ready_; }
  // Reads the log until a line holds text (false at its end).
  bool waitForLog(const std::string& text) {
    char buf[512];
    while (log_.find(text) == std::string::npos) {
      const ssize_t n = ::read(err_, buf, sizeof buf);
      if (n <= 0) return false;
      log_.append(buf, size_t(n));
    }
    return true;
  }
  // SIGTERM: the simulator saves its state file and ends.
  int stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& log() const { return log_; }

 private:
  pid_t pid_ = -1;
  int err_ = -1;
  bool ready_ = false;
  std::string log_;
};

}  // namespace vrx4::test
