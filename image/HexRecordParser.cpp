// The Intel HEX record parser: one record a line, and why a refused one was
// refused; and the hex field reader both formats fall back on.
#include "image/ProgramLoader.h"

#include "image/RecordFields.h"

namespace vrx4 {

using namespace records;

bool parseHexField(std::string_view text, int digits, uint32_t& value) {
  if (digits <= 0 || digits > 32) return false;
  size_t n = std::min(text.size(), size_t(digits));
  size_t i = 0;
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  uint32_t v = 0;
  size_t got = 0;
  for (; i < n; ++i) {
    char c = text[i];
    if (c == '\0') break;
    int d = hexValue(c);
    if (d < 0) return false;
    v = (v << 4) | uint32_t(d);
    ++got;
  }
  if (got == 0) return false;
  value = v;
  return true;
}

bool parseHexField(const char* text, int digits, uint32_t& value) {
  if (!text || digits <= 0 || digits > 32) return false;
  return parseHexField(std::string_view(text, strnlen(text, size_t(digits))), digits, value);
}

int parseHexLine(std::string_view line, std::span<uint8_t> buffer, ParseState& st) {
  st.recordFirst = st.recordLast = kNoAddress;
  st.outsideFirst = st.outsideLast = kNoAddress;
  // Common path: a record of plain digits, decoded in one pass (count,
  // address, type, data, checksum). Anything unusual takes the field-by-field
  // path below, which gives the same result for such a line.
  if (line.size() >= 11) {
    int c = pairValue(line.data() + 1);
    uint8_t raw[5 + 255];
    uint32_t sum;
    if (c >= 0 && line.size() >= 11 + 2 * size_t(c) && decodePlain(line.data() + 1, c + 5, raw, sum)) {
      if ((sum & 0xFF) != 0) return kLineBadChecksum;
      switch (raw[3]) {
        case 0x00:
          return storeRecord(uint32_t(st.base + (uint32_t(raw[1]) << 8 | raw[2])), raw + 4, c, buffer, st);
        case 0x01:
          return kLineEnd;
        case 0x02:
          if (c < 2) break;
          st.base = (uint32_t(raw[4]) << 8 | raw[5]) * 16;
          return kLineOk;
        case 0x04:
        case 0xFF:
          if (c < 2) break;
          st.base = (uint32_t(raw[4]) << 8 | raw[5]) << 16;
          return kLineOk;
        default:
          return kLineMalformed;
      }
    }
  }
  uint32_t count;
  if (!field(line, 1, 2, count)) return kLineMalformed;
  // count, address high, address low, type, data
  uint8_t bytes[4 + 255];
  int64_t sum = readBytes(line, 1, int(count) + 4, bytes);
  if (sum < 0) return kLineMalformed;
  uint32_t check;
  if (!field(line, 9 + 2 * size_t(count), 2, check)) return kLineMalformed;
  if (check != ((0x100 - (uint32_t(sum) & 0xFF)) & 0xFF)) return kLineBadChecksum;
  uint32_t type = bytes[3];
  uint32_t value;
  switch (type) {
    case 0x00: {
      if (!field(line, 3, 4, value)) return kLineMalformed;
      uint64_t address = uint32_t(st.base + value);  // 32-bit arithmetic
      return storeRecord(address, bytes + 4, int(count), buffer, st);
    }
    case 0x01:
      if (!field(line, 1, 2, value) || !field(line, 3, 4, value)) return kLineMalformed;
      return kLineEnd;
    case 0x02:
      if (!field(line, 9, 4, value)) return kLineMalformed;
      st.base = value * 16;
      return kLineOk;
    case 0x04:
    case 0xFF:  // written by our own saver for areas above 0xFFFFF
      if (!field(line, 9, 4, value)) return kLineMalformed;
      st.base = value << 16;
      return kLineOk;
    default:  // 03 and 05 (start address) and anything else
      return kLineMalformed;
  }
}

std::string records::hexLineProblem(std::string_view line) {
  uint32_t count, v;
  if (!field(line, 1, 2, count)) return fieldProblem(line, 1, 2);
  uint32_t sum = 0, type = 0;
  for (uint32_t k = 0; k < count + 4; ++k) {
    if (!field(line, 1 + 2 * size_t(k), 2, v)) return fieldProblem(line, 1 + 2 * size_t(k), 2);
    sum += v;
    if (k == 3) type = v;
  }
  uint32_t check;
  if (!field(line, 9 + 2 * size_t(count), 2, check)) return fieldProblem(line, 9 + 2 * size_t(count), 2);
  const uint32_t computed = (0x100 - (sum & 0xFF)) & 0xFF;
  if (check != computed) return checksumProblem(check, computed);
  switch (type) {
    case 0x00:
      if (!field(line, 3, 4, v)) return fieldProblem(line, 3, 4);
      break;
    case 0x01:
      break;
    case 0x02:
    case 0x04:
    case 0xFF:
      if (!field(line, 9, 4, v)) return fieldProblem(line, 9, 4);
      break;
    case 0x03:
      return "record type 03 (start segment address) is not read";
    case 0x05:
      return "record type 05 (start linear address) is not read";
    default:
      return "unknown record type " + hex2(type);
  }
  return "malformed record";
}

}  // namespace vrx4
