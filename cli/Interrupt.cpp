#include "cli/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/StopRequest.h"

namespace vrx4::cli {
namespace {

struct Lines {
  int recordFd = -1;
  std::string record, result, message;
};

// Texts are never freed while the program runs once published: a handler
// may be reading one. A job replaces them a few times at most. They are
// owned here so that the end of the program frees them, after the handler
// has been told there are none.
std::atomic<const Lines*> published{nullptr};
struct PublishedLines {
  std::vector<std::unique_ptr<Lines>> kept;
  ~PublishedLines() { published.store(nullptr); }
};
PublishedLines& publishedLines() {
  static PublishedLines all;
  return all;
}
std::atomic<int> firstSignal{0};
std::atomic<int> signalsSeen{0};
constexpr size_t kMaxChildren = 64;
std::atomic<pid_t> children[kMaxChildren];
std::atomic<size_t> childCount{0};
static_assert(std::atomic<const Lines*>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<pid_t>::is_always_lock_free,
              "read from signal handlers");

// Async-signal-safe from here on: write(2), no allocation, no locks.
void writeAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    p += w;
    n -= size_t(w);
  }
}

size_t nameOf(int signal, char* out) {
  const char* name = signal == SIGINT    ? "SIGINT"
                     : signal == SIGTERM ? "SIGTERM"
                     : signal == SIGHUP  ? "SIGHUP"
                                         : "SIGNAL";
  size_t n = 0;
  while (name[n]) {
    out[n] = name[n];
    ++n;
  }
  return n;
}

size_t decimal(int value, char* out) {
  char digits[12];
  size_t n = 0;
  unsigned v = unsigned(value < 0 ? 0 : value);
  do {
    digits[n++] = char('0' + v % 10);
    v /= 10;
  } while (v && n < sizeof digits);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

bool startsWith(const char* p, const char* end, const char* marker) {
  for (; *marker; ++p, ++marker)
    if (p >= end || *p != *marker) return false;
  return true;
}

// Writes text with "@SIGNAL@" and "@STATUS@" replaced by the signal's name
// and the shell's status for it.
void writeFilled(int fd, const std::string& text, int signal) {
  const char* p = text.data();
  const char* end = p + text.size();
  const char* run = p;
  char value[16];
  while (p < end) {
    size_t n = 0;
    size_t skip = 0;
    if (*p == '@' && startsWith(p, end, "@SIGNAL@")) {
      n = nameOf(signal, value);
      skip = 8;
    } else if (*p == '@' && startsWith(p, end, "@STATUS@")) {
      n = decimal(interruptExitStatus(signal), value);
      skip = 8;
    }
    if (!skip) {
      ++p;
      continue;
    }
    writeAll(fd, run, size_t(p - run));
    writeAll(fd, value, n);
    p += skip;
    run = p;
  }
  writeAll(fd, run, size_t(p - run));
}

void onSignal(int signal) {
  const int savedErrno = errno;
  const size_t count = childCount.load();
  for (size_t i = 0; i < count && i < kMaxChildren; ++i) {
    const pid_t pid = children[i].load();
    if (pid > 0) ::kill(pid, signal);
  }
  if (signalsSeen.fetch_add(1) == 0) {
    firstSignal.store(signal);
    raiseStopRequest();
    errno = savedErrno;
    return;
  }
  // The second signal: the operator does not want to wait any longer.
  const int first = firstSignal.load();
  if (const Lines* l = published.load()) {
    if (l->recordFd >= 0) writeFilled(l->recordFd, l->record, first);
    writeFilled(STDOUT_FILENO, l->result, first);
    writeFilled(STDERR_FILENO, l->message, first);
  }
  ::_exit(interruptExitStatus(first));
}

}  // namespace

void installInterruptHandlers() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&sa.sa_mask, s);
  // Interrupted reads and writes go on; every wait looks at the stop flag.
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &sa, nullptr);
}

int interruptSignal() { return firstSignal.load(); }

std::string signalName(int signal) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGTERM) return "SIGTERM";
  if (signal == SIGHUP) return "SIGHUP";
  return "signal " + std::to_string(signal);
}

void setInterruptLines(int recordFd, std::string recordLine, std::string resultLine, std::string message) {
  auto lines =
      std::make_unique<Lines>(Lines{recordFd, std::move(recordLine), std::move(resultLine), std::move(message)});
  const Lines* now = lines.get();
  publishedLines().kept.push_back(std::move(lines));
  published.store(now);
}

void clearInterruptLines() { published.store(nullptr); }

void setSignalChildren(const pid_t* pids, size_t count) {
  childCount.store(0);
  const size_t n = count < kMaxChildren ? count : kMaxChildren;
  for (size_t i = 0; i < n; ++i) children[i].store(pids[i]);
  childCount.store(n);
}

void resetInterruptForTests() {
  firstSignal.store(0);
  signalsSeen.store(0);
  childCount.store(0);
  clearInterruptLines();
  clearStopRequest();
}

}  // namespace vrx4::cli
