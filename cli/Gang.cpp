#include "cli/Gang.h"

#include "base/DisplayText.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/Events.h"
#include "cli/ExitStatus.h"

extern char** environ;

namespace vrx4::cli {

using json = nlohmann::ordered_json;

namespace {

struct Child {
  std::string unit;
  pid_t pid = -1;
  int out = -1, err = -1;
  std::string outBuffer, errBuffer;
  json result;  // the child's result event
  std::string serial;  // the board's serial number, when the child took one
  int status = kExitLink;
};

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool spawnChild(Child& c, const std::string& self, const std::vector<std::string>& args) {
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return false;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return false;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], STDERR_FILENO);
  std::vector<std::string> all;
  all.push_back(self);
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = ::posix_spawn(&c.pid, self.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    c.pid = -1;
    return false;
  }
  c.out = outPipe[0];
  c.err = errPipe[0];
  return true;
}

class GangOutput {
 public:
  explicit GangOutput(Events& events) : events_(events) {}

  void stdoutLine(Child& c, const std::string& text) {
    json e = json::parse(text, nullptr, false);
    if (e.is_discarded() || !e.is_object()) {
      stderrLine(c, text);
      return;
    }
    const std::string kind = e.value("event", "");
    if (kind == "serial") c.serial = e.value("serial", "");
    if (kind == "result") {
      c.result = e;
      c.status = e.value("status", int(kExitLink));
    }
    if (events_.mode() == OutputMode::Json) {
      e["unit"] = c.unit;
      events_.rawJson(e);
      return;
    }
    const bool quiet = events_.mode() == OutputMode::Quiet;
    if (kind == "result") {
      const std::string word = e.value("word", "");
      const int status = e.value("status", int(kExitLink));
      if (!quiet || status != kExitPass)
        std::fprintf(stdout, "%s: Result : %s (exit status %d)\n", c.unit.c_str(),
                     word.empty() ? "(none)" : word.c_str(), status);
      std::fflush(stdout);
    } else if (kind == "error") {
      std::fprintf(stderr, "%s: vrx4-cli: %s\n", c.unit.c_str(), displayText(e.value("text", "")).c_str());
    } else if (kind == "message" && quiet && e.value("icon", "") == "stop") {
      std::fprintf(stderr, "%s: vrx4: stop: %s\n", c.unit.c_str(), displayText(e.value("text", "")).c_str());
    }
  }

  void stderrLine(Child& c, const std::string& text) {
    if (events_.mode() == OutputMode::Quiet) return;
    std::string line = c.unit + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }

 private:
  Events& events_;
};

// Reads what is there; passes on whole lines. False at end of file.
bool drain(int& fd, std::string& buffer, const std::function<void(const std::string&)>& onLine) {
  char chunk[4096];
  ssize_t n;
  do {
    n = ::read(fd, chunk, sizeof chunk);
  } while (n < 0 && errno == EINTR);
  if (n > 0) buffer.append(chunk, size_t(n));
  size_t nl;
  while ((nl = buffer.find('\n')) != std::string::npos) {
    onLine(buffer.substr(0, nl));
    buffer.erase(0, nl + 1);
  }
  if (n > 0) return true;
  if (!buffer.empty()) onLine(buffer);
  buffer.clear();
  closeFd(fd);
  return false;
}

}  // namespace

std::vector<std::string> childArgs(const std::vector<std::string>& args, const std::string& unit) {
  std::vector<std::string> out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--unit") {
      ++i;
      continue;
    }
    if (a.rfind("--unit=", 0) == 0 || a == "--json") continue;
    out.push_back(a);
  }
  out.push_back("--unit");
  out.push_back(unit);
  out.push_back("--json");
  return out;
}

int runGang(Events& events, const std::string& self, const std::vector<std::string>& args,
            const std::vector<std::string>& units) {
  std::vector<Child> children(units.size());
  GangOutput output(events);
  for (size_t i = 0; i < units.size(); ++i) {
    children[i].unit = units[i];
    if (!spawnChild(children[i], self, childArgs(args, units[i])))
      events.error(units[i] + ": cannot start a process for the unit: " + std::strerror(errno));
  }
  // Every child ends by itself: its waits on the unit are bounded.
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<std::pair<Child*, bool>> owners;  // bool: standard output
    for (Child& c : children) {
      if (c.out >= 0) {
        fds.push_back({c.out, POLLIN, 0});
        owners.push_back({&c, true});
      }
      if (c.err >= 0) {
        fds.push_back({c.err, POLLIN, 0});
        owners.push_back({&c, false});
      }
    }
    if (fds.empty()) break;
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t k = 0; k < fds.size(); ++k) {
      if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Child& c = *owners[k].first;
      if (owners[k].second)
        drain(c.out, c.outBuffer, [&](const std::string& l) { output.stdoutLine(c, l); });
      else
        drain(c.err, c.errBuffer, [&](const std::string& l) { output.stderrLine(c, l); });
    }
  }
  int worst = kExitPass;
  json summary = json::array();
  for (Child& c : children) {
    closeFd(c.out);
    closeFd(c.err);
    int exitStatus = kExitLink;
    if (c.pid > 0) {
      int raw = 0;
      while (::waitpid(c.pid, &raw, 0) < 0 && errno == EINTR) {
      }
      // A child that died without its own status counts as a failed link.
      exitStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : kExitLink;
    }
    if (exitStatus == kExitPass && c.result.is_null()) exitStatus = kExitLink;  // never 0 without a result
    c.status = exitStatus;
    worst = worstStatus(worst, exitStatus);
    summary.push_back({{"unit", c.unit},
                       {"code", c.result.is_object() ? c.result.value("code", 0) : 0},
                       {"word", c.result.is_object() ? c.result.value("word", "") : ""},
                       {"status", exitStatus}});
    if (!c.serial.empty()) summary.back()["serial"] = c.serial;
  }
  if (events.mode() == OutputMode::Json) {
    events.rawJson({{"event", "result"}, {"gang", summary}, {"status", worst}});
  } else if (events.mode() == OutputMode::Human) {
    for (const Child& c : children)
      if (!c.serial.empty()) std::fprintf(stdout, "%s: Serial : %s\n", c.unit.c_str(), displayText(c.serial).c_str());
    std::fprintf(stdout, "Gang : %zu units, exit status %d\n", children.size(), worst);
    std::fflush(stdout);
  }
  return worst;
}

}  // namespace vrx4::cli
