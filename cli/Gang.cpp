#include "cli/Gang.h"

#include "base/DisplayText.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "base/Prompter.h"
#include "base/StopRequest.h"
#include "base/Version.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/JobRecord.h"

extern char** environ;

namespace vrx4::cli {

using json = nlohmann::ordered_json;

namespace {

struct Child {
  std::string unit;
  pid_t pid = -1;
  int out = -1, err = -1;
  std::string outBuffer, errBuffer;
  json result;         // the child's result event
  std::string serial;  // the board's serial number, when the child took one
  int status = kExitLink;
  std::string barText;  // the last progress, for the terminal's line of this unit
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
  // A process group of its own: a terminal's Ctrl-C reaches the parent
  // only, which passes it on once.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  std::vector<std::string> all;
  all.push_back(self);
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = ::posix_spawn(&c.pid, self.c_str(), &fa, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
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
  // bars: on a terminal, one progress line per unit below the other lines.
  GangOutput(Events& events, std::vector<Child>& children, bool bars)
      : events_(events), children_(children), bars_(bars && events.mode() == OutputMode::Human) {}

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
    if (kind == "progress") {
      if (!bars_) return;
      const std::string bar =
          progressBarText(e.value("phase", ""), e.value("done", uint64_t(0)), e.value("total", uint64_t(0)), 30);
      if (bar == c.barText) return;
      c.barText = bar;
      eraseBars();
      drawBars();
      return;
    }
    if (kind == "result") {
      const std::string word = e.value("word", "");
      const int status = e.value("status", int(kExitLink));
      if (!quiet || status != kExitPass) {
        eraseBars();
        std::fprintf(stdout, "%s: Result : %s (exit status %d)\n", c.unit.c_str(),
                     word.empty() ? "(none)" : word.c_str(), status);
        std::fflush(stdout);
        drawBars();
      }
    } else if (kind == "error") {
      eraseBars();
      std::fprintf(stderr, "%s: vrx4-cli: %s\n", c.unit.c_str(), displayText(e.value("text", "")).c_str());
      drawBars();
    } else if (kind == "message" && quiet && e.value("icon", "") == "stop") {
      // The child's own log line, which a quiet run does not pass on.
      std::fprintf(stderr, "%s: %s\n", c.unit.c_str(),
                   displayText(messageLogLine(e.value("text", ""), Icon::Stop, e.value("detail", ""))).c_str());
    }
  }

  void stderrLine(Child& c, const std::string& text) {
    if (events_.mode() == OutputMode::Quiet) return;
    eraseBars();
    std::string line = c.unit + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    drawBars();
  }

  // The progress lines go before the summary.
  void eraseBars() {
    if (!barsShown_) return;
    for (size_t i = 0; i < children_.size(); ++i) std::fputs("\033[1A\r\033[K", stderr);
    barsShown_ = false;
  }

 private:
  void drawBars() {
    if (!bars_) return;
    bool any = false;
    for (const Child& c : children_) any = any || !c.barText.empty();
    if (!any) return;
    for (const Child& c : children_)
      std::fprintf(stderr, "%s: %s\n", c.unit.c_str(), c.barText.empty() ? "..." : c.barText.c_str());
    std::fflush(stderr);
    barsShown_ = true;
  }

  Events& events_;
  std::vector<Child>& children_;
  bool bars_;
  bool barsShown_ = false;
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

// One process per unit, each with the gang's ID; a unit whose process
// cannot be started gets an error and no pid. Returns the pids.
std::vector<pid_t> startChildren(Events& events, std::vector<Child>& children, const std::string& self,
                                 const std::vector<std::string>& args, const std::vector<std::string>& units,
                                 const std::string& gangId) {
  std::vector<pid_t> pids;
  for (size_t i = 0; i < units.size(); ++i) {
    children[i].unit = units[i];
    if (!spawnChild(children[i], self, childArgs(args, units[i], gangId)))
      events.error(units[i] + ": cannot start a process for the unit: " + std::strerror(errno));
    pids.push_back(children[i].pid);
  }
  return pids;
}

// The lines a second signal leaves: the gang's interrupted result.
void setGangInterruptLines(const Events& events) {
  std::string lastResult =
      "{\"event\":\"result\",\"word\":\"interrupted\",\"signal\":\"@SIGNAL@\",\"status\":@STATUS@}\n";
  if (events.mode() != OutputMode::Json) lastResult = "Gang : interrupted (@SIGNAL@)\n";
  setInterruptLines(-1, {}, lastResult, "vrx4-cli: interrupted by @SIGNAL@, ended at once by a second signal\n");
}

// Passes the children's lines on until every one of their pipes is closed.
// Every child ends by itself: its waits on the unit are bounded. After a
// stop they are given kGangStopWaitMs, then ended. True when they were.
bool relayChildren(std::vector<Child>& children, GangOutput& output) {
  using Steady = std::chrono::steady_clock;
  std::optional<Steady::time_point> stopDeadline;
  bool killed = false;
  for (;;) {
    if (!stopDeadline && stopRequestRaised()) stopDeadline = Steady::now() + std::chrono::milliseconds(kGangStopWaitMs);
    if (stopDeadline && !killed && Steady::now() >= *stopDeadline) {
      for (const Child& c : children)
        if (c.pid > 0 && c.result.is_null()) ::kill(c.pid, SIGKILL);
      killed = true;
    }
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
    if (::poll(fds.data(), fds.size(), 100) < 0) {
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
  return killed;
}

// Waits for the child's end (raw: its wait status) and gives its exit
// status. A child that died without its own status counts as a failed link
// (or as interrupted when the gang was stopped), and none passes without a
// result.
int waitForChild(const Child& c, int sig, int& raw) {
  int exitStatus = kExitLink;
  raw = 0;
  if (c.pid > 0) {
    while (::waitpid(c.pid, &raw, 0) < 0 && errno == EINTR) {}
    exitStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : sig ? interruptExitStatus(sig) : kExitLink;
  }
  if (exitStatus == kExitPass && c.result.is_null()) exitStatus = kExitLink;  // never 0 without a result
  return exitStatus;
}

// The gang's own facts for the record lines it writes.
struct GangFacts {
  std::string id;       // the gang's UUID
  std::string started;  // when the gang started (UTC)
  int signal = 0;       // the signal that stopped it, 0 for none
  bool killed = false;  // its children were ended after a stop
};

// The record line of a unit whose process ended without a result. A child
// writes its own line before its result event, so this one has neither.
json missingRecordLine(const Child& c, int raw, const std::string& word, const GangFacts& gang) {
  std::string reason = c.pid <= 0         ? "no process could be started for the unit"
                       : WIFSIGNALED(raw) ? "the unit's process was ended by " + signalName(WTERMSIG(raw))
                                          : "the unit's process ended without a result";
  if (gang.killed) reason += " (it did not end within " + std::to_string(kGangStopWaitMs / 1000) + " s of the stop)";
  const std::string now = utcTimestamp();
  json r = {{"time", now},
            {"job_id", randomUuid()},
            {"gang_id", gang.id},
            {"started", gang.started},
            {"ended", now},
            {"tool_version", kProgramVersion},
            {"host", hostName()},
            {"unit", {{"path", c.unit}, {"serial", ""}}},
            {"result", {{"code", 0}, {"word", word}}},
            {"status", c.status},
            {"reason", reason}};
  if (gang.signal) r["signal"] = signalName(gang.signal);
  return r;
}

// Every child's end: its status and its entry of the summary, and the
// record line of one that left none. Returns the highest status.
int collectChildren(Events& events, std::vector<Child>& children, RecordFile& record, const GangFacts& gang,
                    json& summary) {
  const int sig = gang.signal;
  int worst = kExitPass;
  for (Child& c : children) {
    closeFd(c.out);
    closeFd(c.err);
    int raw = 0;
    c.status = waitForChild(c, sig, raw);
    worst = worstStatus(worst, c.status);
    const std::string word = c.result.is_object() ? c.result.value("word", "") : sig ? "interrupted" : "";
    summary.push_back({{"unit", c.unit},
                       {"code", c.result.is_object() ? c.result.value("code", 0) : 0},
                       {"word", word},
                       {"status", c.status}});
    if (!c.serial.empty()) summary.back()["serial"] = c.serial;
    if (c.result.is_null() && record.isOpen()) {
      std::string why;
      if (!record.append(missingRecordLine(c, raw, word, gang), why)) events.error("record not written: " + why);
    }
  }
  return worst;
}

// The gang's result: one JSON event with every unit's, or the serial
// numbers and the summary line (also in a quiet run that was interrupted).
void printGangResult(Events& events, const std::vector<Child>& children, const json& summary, int worst,
                     const GangFacts& gang) {
  const int sig = gang.signal;
  if (events.mode() == OutputMode::Json) {
    json e = {{"event", "result"}, {"gang", summary}, {"status", worst}, {"gang_id", gang.id}};
    if (sig) {
      e["word"] = "interrupted";
      e["signal"] = signalName(sig);
    }
    events.rawJson(e);
  } else if (events.mode() == OutputMode::Human || sig) {
    for (const Child& c : children)
      if (!c.serial.empty()) std::fprintf(stdout, "%s: Serial : %s\n", c.unit.c_str(), displayText(c.serial).c_str());
    std::fprintf(stdout, "Gang : %zu units, exit status %d%s\n", children.size(), worst,
                 sig ? (", interrupted by " + signalName(sig)).c_str() : "");
    std::fflush(stdout);
  }
}

}  // namespace

std::vector<std::string> childArgs(const std::vector<std::string>& args, const std::string& unit,
                                   const std::string& gangId) {
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
  if (!gangId.empty()) {
    out.push_back("--gang-id");
    out.push_back(gangId);
  }
  return out;
}

int runGang(Events& events, const std::string& self, const std::vector<std::string>& args,
            const std::vector<std::string>& units, const std::string& recordPath) {
  GangFacts gang;
  gang.id = randomUuid();
  gang.started = utcTimestamp();
  // Open before any child starts: a gang whose record cannot be kept does
  // not start.
  RecordFile record;
  if (!recordPath.empty()) {
    std::string why;
    if (!record.open(recordPath, why)) {
      events.error("the record file cannot be written, so the job does not start: " + why);
      events.result(0, "", kExitFile, "record", {{"reason", "record file: " + why}});
      return kExitFile;
    }
  }
  std::vector<Child> children(units.size());
  GangOutput output(events, children, events.drawsProgressBar());
  std::vector<pid_t> pids = startChildren(events, children, self, args, units, gang.id);
  // From here a signal is passed on to every child.
  setSignalChildren(pids.data(), pids.size());
  setGangInterruptLines(events);
  gang.killed = relayChildren(children, output);
  setSignalChildren(nullptr, 0);
  output.eraseBars();
  gang.signal = interruptSignal();
  json summary = json::array();
  int worst = collectChildren(events, children, record, gang, summary);
  if (gang.signal) worst = worstStatus(worst, interruptExitStatus(gang.signal));
  printGangResult(events, children, summary, worst, gang);
  clearInterruptLines();
  return worst;
}

}  // namespace vrx4::cli
