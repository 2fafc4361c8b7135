#pragma once
// Processes of the command-line tests: vrx4-cli runs to its end, a
// vrx4-unitsim serves a socket until the test stops it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <functional>
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

// A vrx4-cli process the test watches line by line (standard output) and
// may send signals to; standard error goes to a file.
class CliChild {
 public:
  CliChild(const TempDir& dir, const std::vector<std::string>& args) : errPath_(dir.file("child.err")) {
    std::vector<std::string> all = {VRX4_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addopen(&fa, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, VRX4_CLI_PATH, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~CliChild() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  // Reads lines until one satisfies `want` (true) or the output ends or
  // `seconds` pass (false).
  bool waitForLine(const std::function<bool(const std::string&)>& want, int seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      size_t nl;
      while ((nl = pending_.find('\n')) != std::string::npos) {
        std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        lines_.push_back(line);
        if (want(line)) return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, int(left.count())) <= 0) return false;
      char buf[65536];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      pending_.append(buf, size_t(n));
    }
  }
  void signal(int sig) {
    signalled_ = std::chrono::steady_clock::now();
    ::kill(pid_, sig);
  }
  // Reads the rest and waits for the end: the exit status (-1 when it did
  // not exit by itself within `seconds`).
  int wait(int seconds = 10) {
    waitForLine([](const std::string&) { return false; }, seconds);
    int raw = 0;
    for (int i = 0; i < seconds * 100; ++i) {
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        secondsToExit_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled_).count();
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      }
      ::usleep(10000);
    }
    return -1;
  }
  double secondsFromSignalToExit() const { return secondsToExit_; }
  const std::vector<std::string>& lines() const { return lines_; }
  nlohmann::json lastEvent() const {
    return lines_.empty() ? nlohmann::json() : nlohmann::json::parse(lines_.back(), nullptr, false);
  }
  std::string err() const { return readFile(errPath_); }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string errPath_;
  std::string pending_;
  std::vector<std::string> lines_;
  std::chrono::steady_clock::time_point signalled_;
  double secondsToExit_ = -1;
};

// vrx4-unitsim --socket PATH --instant ... ; ready once it says it serves.
class UnitSim {
 public:
  // instant: busy phases and operations take no time.
  UnitSim(const std::string& socket, std::vector<std::string> extra, bool instant = true) {
    std::vector<std::string> args = {VRX4_UNITSIM_PATH, "--socket", socket};
    if (instant) args.push_back("--instant");
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
