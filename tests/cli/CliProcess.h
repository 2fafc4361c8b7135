#pragma once
// Processes of the command-line tests: vrx4-cli runs to its end or is
// watched line by line; a vrx4-unitsim (UnitSim) serves a socket until the
// test stops it.
#include <poll.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ChildProcess.h"
#include "FileTestSupport.h"

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
class CliChild : public ChildProcess {
 public:
  CliChild(const TempDir& dir, const std::vector<std::string>& args) : errPath_(dir.file("child.err")) {
    std::vector<std::string> all = {VRX4_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    start(VRX4_CLI_PATH, std::move(all), 1, errPath_);
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
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{pipe_, POLLIN, 0};
      if (::poll(&p, 1, int(left.count())) <= 0) return false;
      char buf[65536];
      const ssize_t n = ::read(pipe_, buf, sizeof buf);
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
    for (int i = 0; i < seconds * 100; ++i) {
      int status = -1;
      if (reapIfEnded(status)) {
        secondsToExit_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled_).count();
        return status;
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
  std::string errPath_;
  std::string pending_;
  std::vector<std::string> lines_;
  std::chrono::steady_clock::time_point signalled_;
  double secondsToExit_ = -1;
};

}  // namespace vrx4::test
