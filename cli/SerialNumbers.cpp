#include "cli/SerialNumbers.h"

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
#include "base/InputFile.h"
#include "cli/Events.h"
#include "app/DeviceTable.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "cli/ExitStatus.h"
#include "cli/HexText.h"

namespace vrx4::cli {

void (*serialTakeStep)(int step) = nullptr;

namespace {

using json = nlohmann::ordered_json;

void step(int n) {
  if (serialTakeStep) serialTakeStep(n);
}

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

bool decimal(const std::string& s, uint64_t& v) {
  if (s.empty() || s.size() > 19) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* formatName(SerialFormat f) {
  switch (f) {
    case SerialFormat::Le: return "le";
    case SerialFormat::Be: return "be";
    case SerialFormat::Bcd: return "bcd";
    case SerialFormat::Ascii: return "ascii";
    case SerialFormat::Hex: return "hex";
  }
  return "le";
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
      line = trim(line);
      if (line.empty() && n > 1) continue;
      uint64_t v;
      if (!decimal(line, v)) {
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
  uint64_t peek() const {
    return returned.empty() ? next : *std::min_element(returned.begin(), returned.end());
  }
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
    fd_ = create ? ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
    line = trim(line);
    if (!line.empty() && line[0] != '#') values.push_back(line);
  }
  return true;
}

}  // namespace

bool parseSerialField(const std::string& text, SerialField& f, std::string& why) {
  why = "--serial '" + text + "': expected ADDR:WIDTH[:FORMAT] such as 3F000:4:le (ADDR hexadecimal, WIDTH "
        "1-32 bytes, FORMAT le, be, bcd, ascii or hex)";
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string p; std::getline(in, p, ':');) parts.push_back(p);
  if (parts.size() < 2 || parts.size() > 3) return false;
  std::string a = parts[0];
  if (a.size() > 2 && a[0] == '0' && (a[1] == 'x' || a[1] == 'X')) a = a.substr(2);
  if (a.empty() || a.size() > 8) return false;
  uint32_t address = 0;
  for (char c : a) {
    const int d = hexDigit(c);
    if (d < 0) return false;
    address = address << 4 | uint32_t(d);
  }
  uint64_t width = 0;
  if (!decimal(parts[1], width) || width < 1 || width > 32) return false;
  SerialFormat format = SerialFormat::Le;
  if (parts.size() == 3) {
    const std::string& n = parts[2];
    if (n == "le") format = SerialFormat::Le;
    else if (n == "be") format = SerialFormat::Be;
    else if (n == "bcd") format = SerialFormat::Bcd;
    else if (n == "ascii") format = SerialFormat::Ascii;
    else if (n == "hex") format = SerialFormat::Hex;
    else return false;
  }
  f.address = address;
  f.width = int(width);
  f.format = format;
  why.clear();
  return true;
}

bool checkSerialField(const SerialField& f, const DeviceDef& d, std::string& why) {
  const uint64_t first = f.address, last = uint64_t(f.address) + uint64_t(f.width) - 1;
  const std::string where = "--serial: the field " + hex6(f.address) + "-" + hex6(uint32_t(last));
  if (first < d.userRomStart || last > d.userRomEnd || d.userRomSize == 0) {
    why = where + " is outside the user ROM " + hex6(d.userRomStart) + "-" + hex6(d.userRomEnd) + " of " + d.name();
    return false;
  }
  const int ids = std::clamp<int32_t>(d.idCodeLength, 0, kMaxIdCodeLength);
  for (int i = 0; i < ids; ++i) {
    const uint32_t a = d.idCodeAddress[i];
    if (a >= first && a <= last) {
      why = where + " holds ID code byte " + std::to_string(i) + " (" + hex6(a) + ")";
      return false;
    }
  }
  if (d.protectAddress >= first && d.protectAddress <= last) {
    why = where + " holds the protect byte (" + hex6(d.protectAddress) + ")";
    return false;
  }
  return true;
}

std::string SerialValue::text() const {
  if (!isBytes) return std::to_string(number);
  std::string t;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02X", unsigned(v));
    t += (t.empty() ? "" : ":") + std::string(b);
  }
  return t;
}

bool parseSerialValue(const std::string& raw, SerialValue& v) {
  const std::string line = trim(raw);
  v = SerialValue();
  if (decimal(line, v.number)) return true;
  // Hex byte pairs, with one separator between them.
  v.isBytes = true;
  size_t i = 0;
  while (i < line.size()) {
    if (i + 1 >= line.size()) return false;
    const int h = hexDigit(line[i]), l = hexDigit(line[i + 1]);
    if (h < 0 || l < 0) return false;
    v.bytes.push_back(uint8_t(h << 4 | l));
    i += 2;
    if (i == line.size()) break;
    if (line[i] != ':' && line[i] != '-' && line[i] != ' ') return false;
    ++i;
    if (i == line.size()) return false;
  }
  return !v.bytes.empty() && v.bytes.size() <= 32;
}

bool encodeSerial(const SerialField& f, const SerialValue& v, std::vector<uint8_t>& out, std::string& why) {
  const size_t w = size_t(f.width);
  out.assign(w, 0);
  const std::string value = v.text();
  auto tooWide = [&](const std::string& detail) {
    why = "serial " + value + " does not fit " + std::to_string(w) + " byte" + (w > 1 ? "s" : "") + " as " +
          formatName(f.format) + (detail.empty() ? "" : " (" + detail + ")");
    return false;
  };
  if (v.isBytes) {
    if (f.format == SerialFormat::Hex) {
      if (v.bytes.size() * 2 > w) return tooWide("two digits a byte");
      const std::string digits = [&] {
        std::string d;
        char b[4];
        for (uint8_t x : v.bytes) {
          std::snprintf(b, sizeof b, "%02X", unsigned(x));
          d += b;
        }
        return d;
      }();
      std::string padded = std::string(w - digits.size(), '0') + digits;
      std::copy(padded.begin(), padded.end(), out.begin());
      return true;
    }
    if (f.format == SerialFormat::Ascii) return tooWide("bytes have no decimal form");
    if (v.bytes.size() != w) return tooWide("a list value of bytes must have exactly WIDTH bytes");
    out = v.bytes;
    return true;
  }
  const uint64_t n = v.number;
  switch (f.format) {
    case SerialFormat::Le:
    case SerialFormat::Be: {
      if (w < 8 && (n >> (8 * w)) != 0) return tooWide("");
      for (size_t i = 0; i < w; ++i) {
        const uint8_t b = i < 8 ? uint8_t(n >> (8 * i)) : 0;
        out[f.format == SerialFormat::Le ? i : w - 1 - i] = b;
      }
      return true;
    }
    case SerialFormat::Bcd: {
      std::string d = std::to_string(n);
      if (d.size() > 2 * w) return tooWide("");
      d = std::string(2 * w - d.size(), '0') + d;
      for (size_t i = 0; i < w; ++i) out[i] = uint8_t((d[2 * i] - '0') << 4 | (d[2 * i + 1] - '0'));
      return true;
    }
    case SerialFormat::Ascii: {
      std::string d = std::to_string(n);
      if (d.size() > w) return tooWide("");
      d = std::string(w - d.size(), '0') + d;
      std::copy(d.begin(), d.end(), out.begin());
      return true;
    }
    case SerialFormat::Hex: {
      char t[24];
      std::snprintf(t, sizeof t, "%llX", static_cast<unsigned long long>(n));
      std::string d = t;
      if (d.size() > w) return tooWide("");
      d = std::string(w - d.size(), '0') + d;
      std::copy(d.begin(), d.end(), out.begin());
      return true;
    }
  }
  return false;
}

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

int checkSerialFieldOfDevice(Events& events, const std::string& fieldText, const std::string& deviceName,
                             const std::string& folder) {
  SerialField field;
  std::string why;
  if (!parseSerialField(fieldText, field, why)) {
    events.error(why);
    return kExitUsage;
  }
  DeviceTable table;
  bool missing = false;
  LogSink quiet = setLogSink([](std::string_view) {});
  const bool read = parseDeviceTableFile(findDataFile(folder, kDeviceTableFileName), table, missing);
  setLogSink(quiet);
  const int row = read ? table.findByName(deviceName) : -1;
  if (row >= 0 && !checkSerialField(field, table.row(row), why)) {
    events.error(why);
    return kExitUsage;
  }
  return kExitPass;
}

int JobSerial::take(const DeviceDef& device, const std::string& operation, Events& events) {
  if (!requested_) return kExitPass;
  // Only a job that programs gives a board its number.
  if (operation != "epv" && operation != "ep") {
    events.line("Serial : none (the operation programs nothing)");
    return kExitPass;
  }
  std::string why;
  if (!checkSerialField(field_, device, why)) {
    events.error(why);
    return kExitUsage;
  }
  switch (takeSerial(source_, field_, value_, why)) {
    case TakeResult::Taken: break;
    case TakeResult::Refused: events.error(why); return kExitUsage;
    case TakeResult::Failed: events.error("serial number not taken: " + why); return kExitFile;
  }
  encodeSerial(field_, value_.value, bytes_, why);
  taken_ = true;
  const std::string text = value_.value.text();
  events.fact("serial", {{"serial", text}, {"address", hex6(field_.address)}, {"width", field_.width},
                         {"format", formatName(field_.format)}},
              "Serial : " + text);
  return kExitPass;
}

void JobSerial::patch(MemoryImage& image) const {
  if (!taken_) return;
  for (size_t i = 0; i < bytes_.size(); ++i) {
    const uint32_t a = field_.address + uint32_t(i);
    if (a < kUserImageSize) image.userImage[a] = bytes_[i];
    image.bankHasData[size_t(bankOf(a))] = 1;  // the bank goes to the unit
  }
}

json JobSerial::finish(int status, bool imageSent, Events& events) {
  if (!taken_) return nullptr;
  const std::string text = value_.value.text();
  std::string state = "used";
  if (!finished_ && status != kExitPass) {
    state = "burned";
    if (reuseFailed_ && !imageSent) {
      std::string why;
      if (handBackSerial(source_, value_, why))
        state = "handed back";
      else
        events.error("serial " + text + " not handed back: " + why);
    }
    events.line("Serial : " + text + " " + state);
  }
  finished_ = true;
  return {{"value", text}, {"state", state}};
}

}  // namespace vrx4::cli
