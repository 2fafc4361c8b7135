#pragma once
// Programs the tests start as processes of their own: a child with one of
// its streams on a pipe the test reads, killed and reaped with the object
// unless the test waited for its end; and vrx4-unitsim serving a socket.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace vrx4::test {

class ChildProcess {
 public:
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

 protected:
  ChildProcess() = default;
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (pipe_ >= 0) ::close(pipe_);
  }

  // Starts `program` with `args` (argv[0] included); its stream `piped` (1
  // or 2) goes to pipe(), and standard error to `errFile` when one is named.
  void start(const char* program, std::vector<std::string> args, int piped, const std::string& errFile = {}) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], piped);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    if (!errFile.empty()) posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, program, &fa, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    pipe_ = fds[0];
  }
  // Waits for the end: the exit status (-1 when it did not exit by itself).
  int reap() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The end without waiting: true once the child has ended (status as reap()).
  bool reapIfEnded(int& status) {
    int raw = 0;
    if (::waitpid(pid_, &raw, WNOHANG) != pid_) return false;
    pid_ = -1;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
  }

  pid_t pid_ = -1;
  int pipe_ = -1;
};

// The simulator's classes are there for the test programs that are given
// its path (VRX4_UNITSIM_PATH).
#ifdef VRX4_UNITSIM_PATH
// vrx4-unitsim with the arguments given; its log (standard error) is read
// as the test asks for it.
class UnitProcess : public ChildProcess {
 public:
  explicit UnitProcess(std::vector<std::string> args) {
    args.insert(args.begin(), VRX4_UNITSIM_PATH);
    start(VRX4_UNITSIM_PATH, std::move(args), 2);
  }
  // Reads the process's log until a line holds `text` (false at its end).
  bool waitForLog(const std::string& text) {
    char buf[512];
    while (log_.find(text) == std::string::npos) {
      const ssize_t n = ::read(pipe_, buf, sizeof buf);
      if (n <= 0) return false;
      log_.append(buf, size_t(n));
    }
    return true;
  }
  // Signals the process (SIGTERM: it saves its state file and ends; 0: no
  // signal) and returns its exit status (-1 when it did not exit).
  int stop(int sig = SIGTERM) {
    if (pid_ <= 0) return -1;
    if (sig) ::kill(pid_, sig);
    return reap();
  }
  const std::string& log() const { return log_; }

 private:
  std::string log_;
};

// vrx4-unitsim --socket PATH --instant ... ; ready once it says it serves.
class UnitSim : public UnitProcess {
 public:
  // instant: busy phases and operations take no time.
  UnitSim(const std::string& socket, const std::vector<std::string>& extra, bool instant = true)
      : UnitProcess(arguments(socket, extra, instant)) {
    ready_ = pid_ > 0 && waitForLog("serving");
  }
  bool ready() const { return ready_; }

 private:
  static std::vector<std::string> arguments(const std::string& socket, const std::vector<std::string>& extra,
                                            bool instant) {
    std::vector<std::string> args = {"--socket", socket};
    if (instant) args.push_back("--instant");
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  bool ready_ = false;
};
#endif

}  // namespace vrx4::test
