#include "sim/UnitState.h"

#include "base/AtomicFile.h"
#include "base/InputFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "sim/TargetModel.h"

namespace vrx4 {
namespace {

constexpr char kMagic[8] = {'V', 'R', 'X', '4', 'U', 'N', 'I', 'T'};
constexpr uint32_t kFormatVersion = 1;
enum : uint32_t { kSecSettings = 1, kSecFirmware = 2, kSecUser = 3, kSecBoot = 4, kSecTarget = 5 };
constexpr size_t kPage = 256;

class Writer {
 public:
  std::vector<uint8_t> bytes;
  void u8(uint8_t v) { bytes.push_back(v); }
  void u16(uint16_t v) {
    u8(uint8_t(v));
    u8(uint8_t(v >> 8));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(uint8_t(v >> (8 * i)));
  }
  void raw(const uint8_t* p, size_t n) { bytes.insert(bytes.end(), p, p + n); }
  void blob(const std::vector<uint8_t>& v) {
    u32(uint32_t(v.size()));
    raw(v.data(), v.size());
  }
  void text(const std::string& s) {
    u32(uint32_t(s.size()));
    raw(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  // Non-blank pages of a memory area; the last page may be short.
  void pages(const std::vector<uint8_t>& mem) {
    const size_t countAt = bytes.size();
    u32(0);
    uint32_t count = 0;
    for (size_t off = 0; off < mem.size(); off += kPage) {
      const size_t n = std::min(kPage, mem.size() - off);
      bool blank = true;
      for (size_t i = 0; i < n && blank; ++i) blank = mem[off + i] == 0xFF;
      if (blank) continue;
      u32(uint32_t(off / kPage));
      raw(mem.data() + off, n);
      ++count;
    }
    for (int i = 0; i < 4; ++i) bytes[countAt + i] = uint8_t(count >> (8 * i));
  }
  void section(uint32_t tag, const Writer& body) {
    u32(tag);
    blob(body.bytes);
  }
};

class Reader {
 public:
  Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool ok = true;
  bool done() const { return pos_ >= n_; }
  uint8_t u8() { return need(1) ? p_[pos_++] : 0; }
  uint16_t u16() {
    uint16_t a = u8();
    return uint16_t(a | (u8() << 8));
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(u8()) << (8 * i);
    return v;
  }
  void raw(uint8_t* out, size_t n) {
    if (!need(n)) return;
    std::memcpy(out, p_ + pos_, n);
    pos_ += n;
  }
  std::vector<uint8_t> blob(size_t limit) {
    const uint32_t n = u32();
    if (n > limit || !need(n)) {
      ok = false;
      return {};
    }
    std::vector<uint8_t> v(p_ + pos_, p_ + pos_ + n);
    pos_ += n;
    return v;
  }
  std::string text(size_t limit) {
    std::vector<uint8_t> v = blob(limit);
    return std::string(v.begin(), v.end());
  }
  void pages(std::vector<uint8_t>& mem) {
    const uint32_t count = u32();
    for (uint32_t k = 0; k < count && ok; ++k) {
      const size_t off = size_t(u32()) * kPage;
      if (off >= mem.size()) {
        ok = false;
        return;
      }
      raw(mem.data() + off, std::min(kPage, mem.size() - off));
    }
  }

 private:
  bool need(size_t n) {
    if (!ok || n > n_ - pos_) ok = false;
    return ok;
  }
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

void writeSettings(Writer& w, const KeptSettings& s) {
  w.u8(s.hasDevice ? 1 : 0);
  w.blob(s.devicePayload);
  w.u8(s.userDataPresent);
  w.text(s.userFileName);
  for (uint16_t sum : s.blockSums) w.u16(sum);
  w.blob(s.idCode);
  w.u8(s.operationCode);
  w.u8(s.sendFlags);
  w.u8(s.lockBitState);
  w.raw(s.operationBlockMask.bytes, 8);
  w.raw(s.lockAfterProgramMask.bytes, 8);
  w.raw(s.can, sizeof s.can);
}

void readSettings(Reader& r, KeptSettings& s) {
  s.hasDevice = r.u8() != 0;
  s.devicePayload = r.blob(1024);
  s.userDataPresent = r.u8();
  s.userFileName = r.text(kMaxKeptFileNameLength);
  for (uint16_t& sum : s.blockSums) sum = r.u16();
  s.idCode = r.blob(kMaxKeptIdCodeLength);
  s.operationCode = r.u8();
  s.sendFlags = r.u8();
  s.lockBitState = r.u8();
  r.raw(s.operationBlockMask.bytes, 8);
  r.raw(s.lockAfterProgramMask.bytes, 8);
  r.raw(s.can, sizeof s.can);
}

}  // namespace

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc) {
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

UnitState::UnitState() : userBuffer(kUnitUserBufferSize, 0xFF), bootBuffer(kUnitBootBufferSize, 0xFF) {}

namespace {

constexpr char kMemoryMagic[8] = {'V', 'R', 'X', '4', 'U', 'M', 'E', 'M'};
enum : uint32_t { kSecTargetMemory = 6 };

// Reads a whole file and checks its magic, CRC and format version; the
// reader then stands on the first section.
StateLoad readChecked(const std::string& path, const char (&magic)[8], std::vector<uint8_t>& file, std::string& why) {
  InputFile in;
  if (!in.open(path, InputKind::UnitState)) {
    if (in.failure() == InputFile::Failure::CannotOpen) return StateLoad::Missing;
    why = path + ": not a unit state file (" + in.reason() + ")";
    return StateLoad::Damaged;
  }
  if (!in.readAll(file)) {
    why = path + " cannot be read: " + in.reason();
    return StateLoad::Damaged;
  }
  if (file.size() < sizeof magic + 8 || std::memcmp(file.data(), magic, sizeof magic) != 0) {
    why = path + ": not a unit state file";
    return StateLoad::Damaged;
  }
  const size_t bodyEnd = file.size() - 4;
  Reader tail(file.data() + bodyEnd, 4);
  if (tail.u32() != crc32(file.data(), bodyEnd)) {
    why = path + ": checksum mismatch";
    return StateLoad::Damaged;
  }
  Reader r(file.data() + sizeof magic, 4);
  if (r.u32() != kFormatVersion) {
    why = path + ": unknown format version";
    return StateLoad::Damaged;
  }
  file.resize(bodyEnd);
  file.erase(file.begin(), file.begin() + sizeof magic + 4);
  return StateLoad::Loaded;
}

// Calls section(tag, reader) for each section; false when one is malformed.
template <typename F>
bool forSections(const std::vector<uint8_t>& body, F section) {
  Reader r(body.data(), body.size());
  while (r.ok && !r.done()) {
    const uint32_t tag = r.u32();
    std::vector<uint8_t> bytes = r.blob(64u << 20);
    if (!r.ok) break;
    Reader b(bytes.data(), bytes.size());
    section(tag, b);
    if (!b.ok) return false;
  }
  return r.ok;
}

bool writeAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why) {
  std::error_code ec;
  const std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  return writeFileAtomically(path, bytes.data(), bytes.size(), 0644, &why);
}

std::vector<uint8_t> sealed(const char (&magic)[8], Writer& body) {
  Writer w;
  w.raw(reinterpret_cast<const uint8_t*>(magic), sizeof magic);
  w.u32(kFormatVersion);
  w.raw(body.bytes.data(), body.bytes.size());
  w.u32(crc32(w.bytes.data(), w.bytes.size()));
  return std::move(w.bytes);
}

}  // namespace

std::string unitMemoryPath(const std::string& statePath) { return statePath + ".memory"; }

std::string keepDamagedCopy(const std::string& path) {
  namespace fs = std::filesystem;
  // The copy's name says when it was put aside (UTC), so that later ones
  // never overwrite it: PATH.damaged-YYYYMMDD-HHMMSS, with -2, -3 ... for
  // more than one in a second.
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
  const fs::path p(path);
  const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
  const std::string stem = p.filename().string() + ".damaged";
  std::error_code ec;
  std::vector<std::string> copies;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name == stem || name.rfind(stem + "-", 0) == 0) copies.push_back(name);
  }
  // Time stamps of fixed width sort by time; the number -N after its second.
  auto parts = [&](const std::string& name, std::string& when, int& n) {
    when.clear();
    n = 0;
    if (name == stem) return;
    const std::string rest = name.substr(stem.size() + 1);
    const size_t dash = rest.find('-', 9);
    when = rest.substr(0, std::min(dash, rest.size()));
    n = dash == std::string::npos ? 1 : std::atoi(rest.c_str() + dash + 1);
  };
  auto key = [&](const std::string& name) {
    std::string when;
    int n;
    parts(name, when, n);
    char order[16];
    std::snprintf(order, sizeof order, "%06d", n);
    return when + order;
  };
  // A number past every copy of the same second: a name is never reused,
  // even one whose copy has been removed.
  int last = 0;
  for (const std::string& name : copies) {
    std::string when;
    int n;
    parts(name, when, n);
    if (when == stamp) last = std::max(last, n);
  }
  const std::string name = stem + "-" + stamp + (last ? "-" + std::to_string(last + 1) : std::string());
  const std::string target = (folder / name).string();
  if (fs::exists(fs::symlink_status(target, ec))) return {};
  fs::rename(path, target, ec);
  if (ec) return {};
  copies.push_back(name);

  // At most kDamagedCopiesKept: the oldest go (a plain PATH.damaged of an
  // earlier version counts as the oldest of all).
  std::sort(copies.begin(), copies.end(), [&](const std::string& a, const std::string& b) { return key(a) < key(b); });
  for (size_t i = 0; i + kDamagedCopiesKept < copies.size(); ++i) fs::remove(folder / copies[i], ec);
  return target;
}

namespace {

// The state file's sections into `s`, its target's flash size into
// `flashSize` and its target record checked against that size.
StateLoad readStateFile(const std::string& path, UnitState& s, uint32_t& flashSize, std::string& why) {
  std::vector<uint8_t> body;
  const StateLoad main = readChecked(path, kMagic, body, why);
  if (main != StateLoad::Loaded) return main;
  const bool ok = forSections(body, [&](uint32_t tag, Reader& b) {
    switch (tag) {
      case kSecSettings:
        readSettings(b, s.settings);
        break;
      case kSecFirmware:
        s.firmwareVersion = b.text(32);
        s.firmwareDate = b.text(16);
        break;
      case kSecTarget:
        s.targetPayload = b.blob(1024);
        flashSize = b.u32();
        b.raw(s.targetLockBits.bytes, 8);
        s.targetVersion = b.text(8);
        break;
      default:
        break;  // a section of a later version: skipped
    }
  });
  if (!ok) {
    why = path + ": truncated or malformed section";
    return StateLoad::Damaged;
  }
  if (!s.targetPayload.empty()) {
    auto g = TargetGeometry::parse(s.targetPayload.data(), s.targetPayload.size());
    if (!g || g->userRomSize != flashSize) {
      why = path + ": target record inconsistent";
      return StateLoad::Damaged;
    }
  } else if (flashSize != 0) {
    // No target, yet a flash size: the file would make the unit take any
    // amount of memory for a target it does not have.
    why = path + ": target record inconsistent";
    return StateLoad::Damaged;
  }
  return StateLoad::Loaded;
}

// The memory file: damaged or not matching the target, memory starts blank
// (`s` keeps what it has). Returns what the log says of it, empty when all
// is well.
std::string readMemoryFile(const std::string& memPath, uint32_t flashSize, UnitState& s) {
  std::string memWhy;
  std::vector<uint8_t> body;
  UnitState m;
  m.targetFlash.assign(flashSize, 0xFF);
  StateLoad mem = readChecked(memPath, kMemoryMagic, body, memWhy);
  if (mem == StateLoad::Loaded) {
    bool fits = true;
    const bool memOk = forSections(body, [&](uint32_t tag, Reader& b) {
      switch (tag) {
        case kSecUser:
          b.pages(m.userBuffer);
          break;
        case kSecBoot:
          m.bootDataPresent = b.u8() != 0;
          b.pages(m.bootBuffer);
          break;
        case kSecTargetMemory:
          if (b.u32() != flashSize) {
            fits = false;
            return;
          }
          b.pages(m.targetFlash);
          break;
        default:
          break;
      }
    });
    if (!memOk)
      memWhy = memPath + ": truncated or malformed section";
    else if (!fits)
      memWhy = memPath + ": flash size differs from the target's";
    if (memOk && fits) {
      s.userBuffer = std::move(m.userBuffer);
      s.bootBuffer = std::move(m.bootBuffer);
      s.bootDataPresent = m.bootDataPresent;
      s.targetFlash = std::move(m.targetFlash);
    }
    if (!memOk || !fits) mem = StateLoad::Damaged;
  } else if (mem == StateLoad::Missing && flashSize) {
    memWhy = memPath + " missing";
  }
  if (mem == StateLoad::Damaged) {
    // Kept aside for a look, as a damaged state file is: the blank memory
    // saved next must not destroy what is left of it.
    const std::string kept = keepDamagedCopy(memPath);
    if (!kept.empty()) memWhy += ", the old file kept as " + kept;
  }
  return memWhy;
}

}  // namespace

StateLoad loadUnitState(const std::string& path, UnitState& state, std::string& why) {
  UnitState s;
  uint32_t flashSize = 0;
  const StateLoad main = readStateFile(path, s, flashSize, why);
  if (main != StateLoad::Loaded) return main;
  s.targetFlash.assign(flashSize, 0xFF);
  why = readMemoryFile(unitMemoryPath(path), flashSize, s);
  state = std::move(s);
  return StateLoad::Loaded;
}

bool saveUnitState(const std::string& path, const UnitState& state, std::string& why, unsigned parts) {
  if (parts & kStateMemory) {
    Writer body, sec;
    sec.pages(state.userBuffer);
    body.section(kSecUser, sec);
    sec = Writer{};
    sec.u8(state.bootDataPresent ? 1 : 0);
    sec.pages(state.bootBuffer);
    body.section(kSecBoot, sec);
    sec = Writer{};
    sec.u32(uint32_t(state.targetFlash.size()));
    sec.pages(state.targetFlash);
    body.section(kSecTargetMemory, sec);
    if (!writeAtomically(unitMemoryPath(path), sealed(kMemoryMagic, body), why)) return false;
  }
  if (parts & kStateSettings) {
    Writer body, sec;
    writeSettings(sec, state.settings);
    body.section(kSecSettings, sec);
    sec = Writer{};
    sec.text(state.firmwareVersion);
    sec.text(state.firmwareDate);
    body.section(kSecFirmware, sec);
    sec = Writer{};
    sec.blob(state.targetPayload);
    sec.u32(uint32_t(state.targetFlash.size()));
    sec.raw(state.targetLockBits.bytes, 8);
    sec.text(state.targetVersion);
    body.section(kSecTarget, sec);
    if (!writeAtomically(path, sealed(kMagic, body), why)) return false;
  }
  return true;
}

std::string defaultUnitStatePath() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/vrx4/unit-state";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.local/state/vrx4/unit-state";
  return {};
}

}  // namespace vrx4
