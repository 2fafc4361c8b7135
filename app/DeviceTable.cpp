#include "app/DeviceTable.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <istream>
#include <sstream>
#include <string_view>

#include "base/InputFile.h"
#include "base/Log.h"
#include "base/StartupMessage.h"
#include "base/TextChars.h"

namespace vrx4 {

const DeviceDef& DeviceTable::row(int index) const {
  static const DeviceDef none{};
  if (index < 0 || index >= rowCount()) return none;
  return rows_[size_t(index)];
}

int DeviceTable::findByName(const std::string& name) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].name() == name) return int(i);
  return -1;
}

void DeviceTable::clear() {
  rows_.clear();
  optionMode_ = false;
}

bool DeviceTable::append(const DeviceDef& row) {
  if (rowCount() >= kMaxRows) return false;
  rows_.push_back(row);
  return true;
}

namespace {

constexpr std::string_view kHeaderPrefix = "# T552-VRX4";    // 11 characters
constexpr std::string_view kOptionPrefix = "# OPTION MODE";  // 13 characters
constexpr std::string_view kCommentPrefix = "//";
constexpr int kCommasPerLine = 15;
constexpr size_t kMaxNameLength = 64;

enum class LineRead { Line, TooLong, End };

// Reads one line without its line end: CR LF, LF and a lone CR each end a
// line. The line stops at a NUL as a C string would. A line longer than the
// limit is reported, not split: the remainder would otherwise be taken as a
// line of its own.
LineRead readLine(std::streambuf& in, std::string& line) {
  line.clear();
  using Traits = std::streambuf::traits_type;
  int c = in.sbumpc();
  if (Traits::eq_int_type(c, Traits::eof())) return LineRead::End;
  while (!Traits::eq_int_type(c, Traits::eof()) && c != '\n' && c != '\r') {
    if (line.size() >= kDeviceTableLineLimit) return LineRead::TooLong;
    line.push_back(Traits::to_char_type(c));
    c = in.sbumpc();
  }
  if (c == '\r' && in.sgetc() == '\n') in.sbumpc();
  if (size_t nul = line.find('\0'); nul != std::string::npos) line.resize(nul);
  return LineRead::Line;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view trimBlanks(std::string_view t) {
  while (!t.empty() && isBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && isBlank(t.back())) t.remove_suffix(1);
  return t;
}

// One hexadecimal number at the start of a field: leading blanks, an
// optional "0x" or "0X" prefix, then as many hex digits as there are. What
// follows the digits ("h", a note) is ignored, and a field without digits
// (also an empty one) reads as 0. False only for a value that does not fit
// 32 bits, which cannot be what the line meant.
bool parseHex(std::string_view text, uint32_t& value) {
  size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) i += 2;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    const int d = hexDigitValue(text[i]);
    if (d < 0) break;
    v = v * 16 + uint64_t(d);
    if (v > 0xFFFFFFFFu) return false;
  }
  value = uint32_t(v);
  return true;
}

// A "/"-separated list of numbers ended by its comma (the text between the
// commas is given). An empty list has no values; an empty item is 0. Entries
// past `count` keep 0. More items than the array holds are refused, except
// empty ones at the end (a trailing "/"), which would only store zeros.
bool parseList(std::string_view text, LeU32* out, size_t capacity, size_t& count, std::string& reason,
               const char* what) {
  count = 0;
  if (trimBlanks(text).empty()) return true;
  for (;;) {
    size_t slash = text.find('/');
    std::string_view item = text.substr(0, slash);
    if (count >= capacity) {
      if (text.find_first_not_of(" \t\v\f\r/") == std::string_view::npos) return true;
      reason = std::string("more than ") + std::to_string(capacity) + " values in " + what;
      return false;
    }
    uint32_t v = 0;
    if (!parseHex(item, v)) {
      reason = std::string("number too large in ") + what;
      return false;
    }
    out[count++] = v;
    if (slash == std::string_view::npos) return true;
    text.remove_prefix(slash + 1);
  }
}

// The 16 fields of a data line, between its commas.
using LineFields = std::array<std::string_view, kCommasPerLine + 1>;

// Splits the line at its commas: exactly 15 in the whole line.
bool splitFields(std::string_view line, LineFields& field, std::string& reason) {
  std::array<size_t, kCommasPerLine> commas{};
  int commaCount = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != ',') continue;
    if (commaCount < kCommasPerLine) commas[size_t(commaCount)] = i;
    ++commaCount;
  }
  if (commaCount != kCommasPerLine) {
    reason = std::to_string(commaCount) + " commas, 15 expected";
    return false;
  }
  size_t from = 0;
  for (int i = 0; i < kCommasPerLine; ++i) {
    field[size_t(i)] = line.substr(from, commas[size_t(i)] - from);
    from = commas[size_t(i)] + 1;
  }
  field[kCommasPerLine] = line.substr(from);
  return true;
}

// The name ends at the first comma, within the first 65 characters. `d`
// starts afresh from here.
bool parseName(std::string_view name, DeviceDef& d, std::string& reason) {
  if (name.size() > kMaxNameLength) {
    reason = "name longer than 64 characters";
    return false;
  }
  d = DeviceDef{};
  std::memcpy(d.deviceName, name.data(), name.size());
  return true;
}

// F1..F7: the ROM areas, the voltage, the protect address and the ID code
// length, then their size checks in this order and the ROM areas' ends.
bool parseRomFields(const LineFields& field, DeviceDef& d, std::string& reason) {
  uint32_t f[7] = {};
  for (int i = 0; i < 7; ++i) {
    if (!parseHex(field[size_t(1 + i)], f[i])) {
      reason = "number too large in field F" + std::to_string(i + 1);
      return false;
    }
  }
  d.bootRomStart = f[0];
  d.bootRomSize = f[1];
  d.userRomStart = f[2];
  d.userRomSize = f[3];
  d.voltageCode = f[4];
  d.protectAddress = f[5];
  d.idCodeLength = int32_t(f[6]);

  // A negative ID code length (a value of 0x80000000 or more) is refused as
  // well: the other parts use it as a count.
  if (f[1] > kMaxBootRomSize) {
    reason = "boot ROM size above 0x10000";
    return false;
  }
  if (f[3] > kMaxUserRomSize) {
    reason = "user ROM size above 0x400000";
    return false;
  }
  if (d.idCodeLength > kMaxIdCodeLength || d.idCodeLength < 0) {
    reason = "ID code length outside 0..32";
    return false;
  }

  // Derived ends (modulo 2^32, as the stored form keeps them).
  d.bootRomEnd = f[0] + f[1] - 1;
  d.userRomEnd = f[2] + f[3] - 1;
  return true;
}

// The block count (a negative one is refused like one above 64), then
// lists B and C: the block starts and sizes.
bool parseBlocks(const LineFields& field, DeviceDef& d, std::string& reason) {
  uint32_t count = 0;
  if (!parseHex(field[9], count)) {
    reason = "block count too large";
    return false;
  }
  d.blockCount = int32_t(count);
  if (d.blockCount > kMaxBlocks || d.blockCount < 0) {
    reason = "block count outside 0..64";
    return false;
  }
  size_t n = 0;
  return parseList(field[10], d.blockStart, kMaxBlocks, n, reason, "the block start list") &&
         parseList(field[11], d.blockSize, kMaxBlocks, n, reason, "the block size list");
}

// E1..E4, low 8 bits each.
bool parseExtraBytes(const LineFields& field, DeviceDef& d, std::string& reason) {
  uint32_t e[4] = {};
  for (int i = 0; i < 4; ++i) {
    if (!parseHex(field[size_t(12 + i)], e[i])) {
      reason = "number too large in field E" + std::to_string(i + 1);
      return false;
    }
  }
  d.extraByte1 = uint8_t(e[0]);
  d.extraByte2 = uint8_t(e[1]);
  d.lockBitMode = uint8_t(e[2]);
  d.blockSelectFlags = uint8_t(e[3]);
  return true;
}

// Parses one data line into `d`; false with the reason when it is malformed.
// The steps run in the line's order, so the first fault found is reported.
bool parseDataLine(std::string_view line, DeviceDef& d, std::string& reason) {
  LineFields field;
  if (!splitFields(line, field, reason) || !parseName(field[0], d, reason) || !parseRomFields(field, d, reason))
    return false;
  // List A: the ID code addresses.
  size_t n = 0;
  if (!parseList(field[8], d.idCodeAddress, kMaxIdCodeLength, n, reason, "the ID code address list") ||
      !parseBlocks(field, d, reason) || !parseExtraBytes(field, d, reason))
    return false;
  d.blockMask = d.blockCount >= 32 ? 0xFFFFFFFFu : (uint32_t(1) << d.blockCount) - 1;
  return true;
}

bool startsWith(std::string_view line, std::string_view prefix) { return line.substr(0, prefix.size()) == prefix; }

// First character that ends the table: a control character, DEL or any
// character above 0x7F (an empty line counts too).
bool endsTable(std::string_view line) {
  if (line.empty()) return true;
  unsigned char c = static_cast<unsigned char>(line.front());
  return c < 0x20 || c >= 0x7F;
}

}  // namespace

bool parseDeviceTableQuiet(std::istream& in, DeviceTable& table, DeviceTableError& error) {
  table.clear();
  error = {};
  std::streambuf* buf = in.rdbuf();
  if (!buf) {
    error.reason = "no stream";
    return false;
  }
  bool headerSeen = false;
  std::string line;
  for (int lineNo = 1;; ++lineNo) {
    LineRead r = readLine(*buf, line);
    if (r == LineRead::End) break;
    if (endsTable(line)) break;
    if (r == LineRead::TooLong) {
      error = {lineNo, "line longer than 2999 characters"};
      return false;
    }
    if (startsWith(line, kOptionPrefix)) {
      table.setOptionMode(true);
      continue;
    }
    if (!headerSeen && startsWith(line, kHeaderPrefix)) {
      headerSeen = true;
      continue;
    }
    if (startsWith(line, kCommentPrefix)) continue;

    if (table.rowCount() >= DeviceTable::kMaxRows) {
      error = {lineNo, "more than 256 devices"};
      return false;
    }
    DeviceDef d;
    if (!parseDataLine(line, d, error.reason)) {
      error.line = lineNo;
      return false;
    }
    table.append(d);
  }
  if (!headerSeen) {
    error = {0, "no \"# T552-VRX4\" header line"};
    return false;
  }
  return true;
}

namespace {

std::string tableErrorDetail(const std::string& where, const DeviceTableError& error) {
  std::string detail = where;
  if (error.line > 0) detail += (where.empty() ? "line " : ", line ") + std::to_string(error.line);
  if (!detail.empty()) detail += ": ";
  return detail + error.reason;
}

}  // namespace

bool parseDeviceTable(std::istream& in, DeviceTable& table) {
  DeviceTableError error;
  if (parseDeviceTableQuiet(in, table, error)) return true;
  pauseAndHideSplash();
  showMessageWithDetail(kDeviceTableFormatError, tableErrorDetail("", error));
  return false;
}

bool parseDeviceTableFile(const std::string& path, DeviceTable& table, bool& fileMissing) {
  return parseDeviceTableFile(path, table, fileMissing, kDeviceTableFileName);
}

bool parseDeviceTableFile(const std::string& path, DeviceTable& table, bool& fileMissing,
                          const std::string& shownName) {
  table.clear();
  InputFile file;
  std::vector<uint8_t> bytes;
  fileMissing = !file.open(path, InputKind::DeviceTable);
  if (fileMissing) {
    // A name that is there but is no table (a folder, a pipe, a file far
    // too large) is not a missing table.
    if (file.failure() == InputFile::Failure::CannotOpen) return false;
    fileMissing = false;
  }
  DeviceTableError error;
  if (file.isOpen() && file.readAll(bytes)) {
    file.close();
    std::istringstream in(std::string(bytes.begin(), bytes.end()), std::ios::binary);
    if (parseDeviceTableQuiet(in, table, error)) return true;
  } else {
    error.reason = file.reason();
  }
  pauseAndHideSplash();
  showMessageWithDetail(deviceTableFormatErrorText(shownName), tableErrorDetail(path, error));
  return false;
}

std::string deviceTableMissingText(const std::string& shownName) {
  if (shownName == kDeviceTableFileName) return kDeviceTableMissing;
  return "No device definition file '" + shownName + "' found.";
}

std::string deviceTableFormatErrorText(const std::string& shownName) {
  if (shownName == kDeviceTableFileName) return kDeviceTableFormatError;
  return "Device definition file '" + shownName + "' format error.";
}

}  // namespace vrx4
