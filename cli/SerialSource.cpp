// Where serial numbers come from: a counter file holding the next number,
// or a list file with one value a line whose position is kept in LIST.pos.
// A number is taken under an exclusive lock, and the file that says so is
// replaced atomically and synced before the number is used.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "base/AtomicFile.h"
#include "base/Clock.h"
#include "cli/SerialText.h"

namespace vrx4::cli {

void (*serialTakeStep)(int step) = nullptr;

namespace {

void step(int n) {
  if (serialTakeStep) serialTakeStep(n);
}

// The whole text of a small file; false (why) when it cannot be read.
// `missing` tells a file that is not there.
bool readSmallFile(const std::string& path, std::string& text, bool& missing, std::string& why) {
  missing = false;
  // Opened without waiting and taken only as a regular file: a pipe or a
  // device given as the counter or the list must not hold the job.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    missing = errno == ENOENT;
    why = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = path + ": not a regular file";
    ::close(fd);
    return false;
  }
  text.clear();
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buf, size_t(n));
    if (text.size() > (64u << 20)) {
      why = path + ": too large";
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

// A counter or position file: the next number on its first line, the
// numbers handed back on the lines after it.
struct NumberFile {
  uint64_t next = 0;
  std::vector<uint64_t> returned;

  bool parse(const std::string& path, const std::string& text, std::string& why) {
    std::istringstream in(text);
    std::string line;
    int n = 0;
    returned.clear();
    while (std::getline(in, line)) {
      ++n;
      line = trimmedText(line);
      if (line.empty() && n > 1) continue;
      uint64_t v;
      if (!decimalNumber(line, v)) {
        why = path + ", line " + std::to_string(n) + ": not a number";
        return false;
      }
      if (n == 1)
        next = v;
      else
        returned.push_back(v);
    }
    if (n == 0) {
      why = path + ": empty";
      return false;
    }
    return true;
  }
  std::string text() const {
    std::string t = std::to_string(next) + "\n";
    for (uint64_t r : returned) t += std::to_string(r) + "\n";
    return t;
  }
  // The value a take hands out: the smallest handed back, else next.
  uint64_t peek() const { return returned.empty() ? next : *std::min_element(returned.begin(), returned.end()); }
  void take() {
    if (returned.empty()) {
      ++next;
      return;
    }
    returned.erase(std::min_element(returned.begin(), returned.end()));
  }
};

// The exclusive lock of one source, held for the whole of a take or a
// hand-back.
class SourceLock {
 public:
  bool acquire(const std::string& path, bool create, std::string& why) {
    fd_ =
        create ? ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      why = path + ": " + std::strerror(errno);
      return false;
    }
    // Bounded: a process that keeps the lock for ten seconds is stuck.
    const uint64_t until = clock().nowMs() + 10000;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        why = path + ": " + std::strerror(errno);
        return false;
      }
      if (clock().nowMs() >= until) {
        why = path + ": locked by another process for more than 10 s";
        return false;
      }
      clock().sleepMs(5);
    }
    return true;
  }
  ~SourceLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }

 private:
  int fd_ = -1;
};

bool writeNumberFile(const std::string& path, const NumberFile& f, std::string& why) {
  AtomicFile out;
  if (!out.open(path, 0644)) {
    why = path + ": " + out.error();
    return false;
  }
  const std::string text = f.text();
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(out.fd(), text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = path + ": " + std::strerror(errno);
      return false;
    }
    done += size_t(n);
  }
  step(3);
  if (!out.commit()) {
    why = path + ": " + out.error();
    return false;
  }
  step(4);
  return true;
}

// The values of a list file: every line that is neither empty nor a
// comment ('#').
bool readList(const std::string& path, std::vector<std::string>& values, std::string& why) {
  std::string text;
  bool missing = false;
  if (!readSmallFile(path, text, missing, why)) return false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    line = trimmedText(line);
    if (!line.empty() && line[0] != '#') values.push_back(line);
  }
  return true;
}

}  // namespace

TakeResult takeSerial(const SerialSource& s, const SerialField& field, TakenSerial& taken, std::string& why) {
  const bool counter = !s.counter.empty();
  const std::string numbers = counter ? s.counter : s.list + ".pos";
  // The counter is replaced at every take, so the lock is on a file of its
  // own that stays; a list is never replaced and carries its own lock.
  SourceLock lock;
  if (!lock.acquire(counter ? s.counter + ".lock" : s.list, counter, why)) return TakeResult::Failed;
  step(1);
  NumberFile file;
  std::string text;
  bool missing = false;
  if (readSmallFile(numbers, text, missing, why)) {
    if (!file.parse(numbers, text, why)) return TakeResult::Failed;
  } else if (!missing) {
    return TakeResult::Failed;
  } else if (counter && !s.haveStart) {
    why = s.counter + ": no such counter file (--serial-start N creates it)";
    return TakeResult::Refused;
  } else {
    file.next = counter ? s.start : 0;  // a new counter, or a list not used yet
  }
  TakenSerial t;
  t.slot = file.peek();
  if (counter) {
    t.value.number = t.slot;
  } else {
    std::vector<std::string> values;
    if (!readList(s.list, values, why)) return TakeResult::Failed;
    if (t.slot >= values.size()) {
      why = s.list + ": every value of the list is taken (" + std::to_string(values.size()) + ")";
      return TakeResult::Refused;
    }
    if (!parseSerialValue(values[size_t(t.slot)], t.value)) {
      why = s.list + ": value " + std::to_string(t.slot + 1) + " ('" + values[size_t(t.slot)] +
            "') is neither a number nor hex bytes";
      return TakeResult::Refused;
    }
  }
  std::vector<uint8_t> bytes;
  if (!encodeSerial(field, t.value, bytes, why)) return TakeResult::Refused;
  step(2);
  file.take();
  if (!writeNumberFile(numbers, file, why)) return TakeResult::Failed;
  taken = t;
  return TakeResult::Taken;
}

bool handBackSerial(const SerialSource& s, const TakenSerial& taken, std::string& why) {
  const bool counter = !s.counter.empty();
  const std::string numbers = counter ? s.counter : s.list + ".pos";
  SourceLock lock;
  if (!lock.acquire(counter ? s.counter + ".lock" : s.list, counter, why)) return false;
  NumberFile file;
  std::string text;
  bool missing = false;
  if (!readSmallFile(numbers, text, missing, why) || !file.parse(numbers, text, why)) return false;
  // The last one taken goes back as the next; any other waits in the list
  // of handed-back values.
  if (taken.slot + 1 == file.next)
    file.next = taken.slot;
  else if (std::find(file.returned.begin(), file.returned.end(), taken.slot) == file.returned.end())
    file.returned.push_back(taken.slot);
  return writeNumberFile(numbers, file, why);
}

}  // namespace vrx4::cli
