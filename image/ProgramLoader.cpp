#include "image/ProgramLoader.h"

#include <algorithm>
#include <array>
#include <sys/mman.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/Log.h"
#include "base/Prompter.h"
#include "base/StartupMessage.h"
#include "image/LineReader.h"

namespace vrx4 {
namespace {

// Value of each character as a hex digit, -1 for anything else.
constexpr std::array<int8_t, 256> makeHexTable() {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[size_t(c)] = int8_t(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[size_t(c)] = int8_t(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[size_t(c)] = int8_t(c - 'a' + 10);
  return t;
}
constexpr std::array<int8_t, 256> kHex = makeHexTable();

inline int hexValue(char c) { return kHex[uint8_t(c)]; }

// Value of each pair of characters as a two-digit hex byte, -1 when either
// is not a digit: one look-up per byte on the common path.
struct PairTable {
  int16_t v[65536];
  PairTable() {
    for (int a = 0; a < 256; ++a)
      for (int b = 0; b < 256; ++b) {
        int hi = kHex[size_t(a)], lo = kHex[size_t(b)];
        v[a << 8 | b] = int16_t(hi < 0 || lo < 0 ? -1 : hi << 4 | lo);
      }
  }
};
const PairTable kPairs;

inline int pairValue(const char* p) { return kPairs.v[uint8_t(p[0]) << 8 | uint8_t(p[1])]; }

#if defined(__SSE2__)
// Eight plain two-digit bytes from 16 characters at once; false when any
// of them is not a hex digit.
[[gnu::always_inline]] inline bool decode8(const char* p, uint8_t* out, uint32_t& sum) {
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i bias = _mm_set1_epi8(char(0x80));
  // Unsigned "x < n" as a signed compare of biased values.
  const __m128i d = _mm_sub_epi8(c, _mm_set1_epi8('0'));
  const __m128i isDigit = _mm_cmplt_epi8(_mm_xor_si128(d, bias), _mm_set1_epi8(char(0x80 + 10)));
  const __m128i l = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i isLetter = _mm_cmplt_epi8(_mm_xor_si128(l, bias), _mm_set1_epi8(char(0x80 + 6)));
  if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF) return false;
  const __m128i v = _mm_or_si128(_mm_and_si128(d, isDigit),
                                 _mm_and_si128(_mm_add_epi8(l, _mm_set1_epi8(10)), isLetter));
  // Each 16-bit lane holds (first digit, second digit): byte = first << 4 | second.
  const __m128i pairs = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(0x00FF)), 4),
                                     _mm_srli_epi16(v, 8));
  const __m128i bytes = _mm_packus_epi16(pairs, pairs);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
  sum += uint32_t(_mm_cvtsi128_si32(_mm_sad_epu8(bytes, _mm_setzero_si128())));
  return true;
}
#endif

// Decodes n plain two-digit bytes at p; false when any character is not a
// digit (the caller then takes the field-by-field path).
[[gnu::always_inline]] inline bool decodePlain(const char* p, int n, uint8_t* out, uint32_t& sum) {
  int bad = 0;
  uint32_t s = 0;
  int i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= n; i += 8)
    if (!decode8(p + 2 * i, out + i, s)) return false;
#endif
  for (; i < n; ++i) {
    int v = pairValue(p + 2 * i);
    bad |= v;
    out[i] = uint8_t(v);
    s += uint32_t(v) & 0xFF;
  }
  sum = s;
  return bad >= 0;
}

// The field of `digits` characters at `pos` of the line, read the slow way:
// through the general field reader, so blanks and early ends keep their
// exact meaning. Past the end of the line the field reads as if the line
// ended in a NUL.
[[gnu::noinline]] bool fieldSlow(std::string_view line, size_t pos, int digits, uint32_t& v) {
  if (pos >= line.size()) return false;  // nothing but the implied NUL
  return parseHexField(line.substr(pos), digits, v);
}

// The same; plain digits, the common case, are decoded directly.
[[gnu::always_inline]] inline bool field(std::string_view line, size_t pos, int digits, uint32_t& v) {
  if (pos + size_t(digits) <= line.size()) {
    uint32_t r = 0;
    int bad = 0;
    for (int i = 0; i < digits; ++i) {
      int d = hexValue(line[pos + size_t(i)]);
      bad |= d;
      r = (r << 4) | uint32_t(d & 0xF);
    }
    if (bad >= 0) {
      v = r;
      return true;
    }
  }
  return fieldSlow(line, pos, digits, v);
}

// Decodes `n` two-digit bytes starting at `pos` into out and returns their
// sum, or -1 when a field fails.
[[gnu::always_inline]] inline int64_t readBytes(std::string_view line, size_t pos, int n, uint8_t* out) {
  uint32_t sum = 0;
  if (pos + 2 * size_t(n) <= line.size()) {
    const char* p = line.data() + pos;
    int bad = 0;
    for (int i = 0; i < n; ++i) {
      int hi = hexValue(p[2 * i]);
      int lo = hexValue(p[2 * i + 1]);
      bad |= hi | lo;
      uint32_t b = uint32_t(((hi & 0xF) << 4) | (lo & 0xF));
      out[i] = uint8_t(b);
      sum += b;
    }
    if (bad >= 0) return sum;
    sum = 0;
  }
  for (int i = 0; i < n; ++i) {
    uint32_t b;
    if (!field(line, pos + 2 * size_t(i), 2, b)) return -1;
    out[i] = uint8_t(b);
    sum += b;
  }
  return sum;
}

// The part of the loader's area that the buffer can hold, as [start, end]
// in 64 bits; empty (end < start) when the area is empty.
void effectiveArea(const ParseState& st, std::span<uint8_t> buffer, uint64_t& start, uint64_t& end) {
  start = st.areaStart;
  end = st.areaEnd;
  if (st.areaEnd < st.areaStart || buffer.empty()) {
    start = 1;  // nothing lies inside
    end = 0;
    return;
  }
  end = std::min<uint64_t>(end, start + buffer.size() - 1);
}

// The out-of-area rule: ask once, then skip the whole record.
int outsideArea(ParseState& st) {
  if (st.outsideAccepted == 0) {
    Answer a = showMessage(kOutsideAreaQuestion, Icon::Stop, Buttons::YesNo, Answer::No);
    if (a != Answer::Yes) return kLineAbandoned;
  }
  st.outsideAccepted = 1;
  return kLineOk;
}

// Stores n data bytes at address, after the area test of the loader or the
// bookkeeping of the collecting mode.
int storeRecord(uint64_t address, const uint8_t* data, int n, std::span<uint8_t> buffer, ParseState& st) {
  if (n <= 0) return kLineOk;
  uint64_t last = address + uint64_t(n) - 1;
  if (st.collectMode) {
    // Addresses are 32 bits; a record running past the top is damage.
    if (last > 0xFFFFFFFFull) return kLineMalformed;
    st.areaStart = std::min<uint32_t>(st.areaStart, uint32_t(address));
    st.areaEnd = std::max<uint32_t>(st.areaEnd, uint32_t(last));
    if (buffer.size() < 0x10000) return kLineOk;
    for (int i = 0; i < n; ++i) buffer[size_t((address + uint64_t(i)) & 0xFFFF)] = data[i];
    return kLineOk;
  }
  uint64_t start, end;
  effectiveArea(st, buffer, start, end);
  if (address < start || last > end) {
    st.outsideFirst = uint32_t(std::min<uint64_t>(address, 0xFFFFFFFFull));
    st.outsideLast = uint32_t(std::min<uint64_t>(last, 0xFFFFFFFFull));
    return outsideArea(st);
  }
  std::memcpy(buffer.data() + (address - start), data, size_t(n));
  st.recordFirst = uint32_t(address);
  st.recordLast = uint32_t(last);
  return kLineOk;
}

// The 4 MiB working buffer of one load. Aligned to 2 MiB and offered to the
// kernel for huge pages: the buffer is touched whole, and two huge page
// faults cost far less than a thousand small ones.
struct WorkBuffer {
  static constexpr size_t kAlign = 2 * 1024 * 1024;
  uint8_t* data = static_cast<uint8_t*>(std::aligned_alloc(kAlign, kUserImageSize));
  WorkBuffer() {
#ifdef MADV_HUGEPAGE
    if (data) ::madvise(data, kUserImageSize, MADV_HUGEPAGE);
#endif
  }
  ~WorkBuffer() { std::free(data); }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;
};

}  // namespace

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

ProgramFormat commonNameFormat(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return ProgramFormat::ByName;
  std::string ext;
  for (char c : name.substr(dot + 1)) ext.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
  if (ext == "ihx" || ext == "ihex") return ProgramFormat::IntelHex;
  if (ext == "s19" || ext == "s28" || ext == "s37" || ext == "srec") return ProgramFormat::SRecord;
  return ProgramFormat::ByName;
}

char fileTypeLetter(std::string_view path) {
  size_t dot = path.rfind('.');
  char c;
  if (dot == std::string_view::npos)
    c = path.size() > 1 ? path[1] : '\0';
  else
    c = dot + 1 < path.size() ? path[dot + 1] : '\0';
  if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return c;
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

int parseSRecordLine(std::string_view line, std::span<uint8_t> buffer, ParseState& st) {
  st.recordFirst = st.recordLast = kNoAddress;
  st.outsideFirst = st.outsideLast = kNoAddress;
  uint32_t count;
  // count byte, address bytes, data bytes, checksum
  uint8_t bytes[257];
  bool plain = false;
  if (line.size() >= 4) {
    int c = pairValue(line.data() + 2);
    uint32_t sum;
    if (c >= 0 && line.size() >= 4 + 2 * size_t(c) && decodePlain(line.data() + 2, c + 1, bytes, sum)) {
      if ((sum & 0xFF) != 0xFF) return kLineBadChecksum;
      count = uint32_t(c);
      plain = true;
    }
  }
  if (!plain) {
    if (!field(line, 2, 2, count)) return kLineMalformed;
    int64_t sum = readBytes(line, 2, int(count), bytes);
    if (sum < 0) return kLineMalformed;
    uint32_t check;
    if (!field(line, 2 + 2 * size_t(count), 2, check)) return kLineMalformed;
    if (check != (0xFF - (uint32_t(sum) & 0xFF))) return kLineBadChecksum;
  }
  if (line.empty() || line[0] != 'S') return kLineMalformed;
  char kind = line.size() > 1 ? line[1] : '\0';
  int addressBytes;
  bool termination = false;
  switch (kind) {
    case '0':  // header
    case '5':  // record count, 16 bits
    case '6':  // record count, 24 bits (files of more than 65 535 records)
      return kLineOk;
    case '1': addressBytes = 2; break;
    case '2': addressBytes = 3; break;
    case '3': addressBytes = 4; break;
    case '9': addressBytes = 2; termination = true; break;
    case '8': addressBytes = 3; termination = true; break;
    case '7': addressBytes = 4; termination = true; break;
    default:
      return kLineMalformed;
  }
  // A count too small for its own address is damage, never a negative length.
  int n = int(count) - addressBytes - 1;
  if (n < 0) return kLineMalformed;
  uint32_t address = 0;
  if (plain) {
    for (int k = 1; k <= addressBytes; ++k) address = address << 8 | bytes[k];
  } else if (!field(line, 4, addressBytes * 2, address)) {
    return kLineMalformed;
  }
  const uint8_t* data = bytes + 1 + addressBytes;
  if (!termination) return storeRecord(address, data, n, buffer, st);

  if (st.collectMode) return kLineEnd;
  if (n == 0) return kLineOk;  // the usual form: reading goes on
  // A termination record carrying data ends the reading when its range lies
  // inside the area; its bytes are not stored.
  uint64_t start, end;
  effectiveArea(st, buffer, start, end);
  uint64_t last = uint64_t(address) + uint64_t(n) - 1;
  if (address < start || last > end) {
    st.outsideFirst = address;
    st.outsideLast = uint32_t(std::min<uint64_t>(last, 0xFFFFFFFFull));
    return outsideArea(st);
  }
  st.recordFirst = address;
  return kLineEnd;
}

namespace {

std::string hex2(uint32_t v) {
  char t[8];
  std::snprintf(t, sizeof t, "%02X", unsigned(v & 0xFF));
  return t;
}

// What is wrong with the field of `digits` characters at `pos`, read as
// parseHexField reads it: blanks first, then digits up to a NUL or the end.
std::string fieldProblem(std::string_view line, size_t pos, int digits) {
  const size_t end = std::min(line.size(), pos + size_t(digits));
  size_t i = pos;
  while (i < end && (line[i] == ' ' || line[i] == '\t')) ++i;
  for (; i < end && line[i] != '\0'; ++i) {
    const char c = line[i];
    if (hexValue(c) >= 0) continue;
    if (c == '\r' || c == '\n') break;  // the line ends inside the field
    char t[64];
    if (uint8_t(c) >= 0x20 && uint8_t(c) < 0x7F)
      std::snprintf(t, sizeof t, "bad digit '%c' in column %zu", c, i + 1);
    else
      std::snprintf(t, sizeof t, "bad digit (byte 0x%02X) in column %zu", unsigned(uint8_t(c)), i + 1);
    return t;
  }
  size_t length = line.size();
  while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n')) --length;
  return "short record (" + std::to_string(length) + " characters, a field is missing from column " +
         std::to_string(pos + 1) + ")";
}

// The checksum the record holds and the one its bytes give.
std::string checksumProblem(uint32_t held, uint32_t computed) {
  return "checksum mismatch (the record says " + hex2(held) + ", its bytes give " + hex2(computed) + ")";
}

std::string hexLineProblem(std::string_view line) {
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

std::string sRecordLineProblem(std::string_view line) {
  uint32_t count, v;
  if (!field(line, 2, 2, count)) return fieldProblem(line, 2, 2);
  uint32_t sum = 0;
  for (uint32_t k = 0; k < count; ++k) {
    if (!field(line, 2 + 2 * size_t(k), 2, v)) return fieldProblem(line, 2 + 2 * size_t(k), 2);
    sum += v;
  }
  uint32_t check;
  if (!field(line, 2 + 2 * size_t(count), 2, check)) return fieldProblem(line, 2 + 2 * size_t(count), 2);
  const uint32_t computed = 0xFF - (sum & 0xFF);
  if (check != computed) return checksumProblem(check, computed);
  if (line.empty() || line[0] != 'S')
    return line.size() > 0 && line[0] == 's' ? "record starts with 's', not 'S'"
                                             : "record does not start with 'S'";
  const char kind = line.size() > 1 ? line[1] : '\0';
  int addressBytes = 0;
  switch (kind) {
    case '1': case '9': addressBytes = 2; break;
    case '2': case '8': addressBytes = 3; break;
    case '3': case '7': addressBytes = 4; break;
    default:
      if (uint8_t(kind) >= 0x20 && uint8_t(kind) < 0x7F) return std::string("record type S") + kind + " is not read";
      return "unknown record type";
  }
  if (int(count) < addressBytes + 1)
    return "count " + hex2(count) + " too small for an S" + std::string(1, kind) + " address";
  if (!field(line, 4, addressBytes * 2, v)) return fieldProblem(line, 4, addressBytes * 2);
  return "malformed record";
}

}  // namespace

std::string describeRefusedLine(std::string_view line, bool intelHex, int result) {
  const std::string why = intelHex ? hexLineProblem(line) : sRecordLineProblem(line);
  // The parser's word on a bad checksum is final even where the slow
  // reading above finds nothing.
  if (result == kLineBadChecksum && why.rfind("checksum", 0) != 0) return "checksum mismatch";
  return why;
}

std::string fileProblemDetail(const std::string& path, int lineNumber, const std::string& reason) {
  if (lineNumber > 0) return path + ", line " + std::to_string(lineNumber) + ": " + reason;
  return path + ": " + reason;
}

namespace {

// Appends [first, last], joining it to the last range when they touch (the
// usual case: records in address order).
void addRange(std::vector<std::pair<uint32_t, uint32_t>>& ranges, uint32_t first, uint32_t last) {
  if (!ranges.empty()) {
    auto& back = ranges.back();
    if (first >= back.first && uint64_t(first) <= uint64_t(back.second) + 1) {
      back.second = std::max(back.second, last);
      return;
    }
  }
  ranges.emplace_back(first, last);
}

void mergeRanges(std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<uint32_t, uint32_t>> merged;
  for (const auto& r : ranges) {
    if (!merged.empty() && uint64_t(r.first) <= uint64_t(merged.back().second) + 1)
      merged.back().second = std::max(merged.back().second, r.second);
    else
      merged.push_back(r);
  }
  ranges.swap(merged);
}

}  // namespace

uint64_t LoadReport::bytesWithin(const std::vector<std::pair<uint32_t, uint32_t>>& ranges, uint32_t first,
                                 uint32_t last) {
  uint64_t n = 0;
  for (const auto& r : ranges) {
    const uint32_t a = std::max(r.first, first), b = std::min(r.second, last);
    if (a <= b) n += uint64_t(b) - a + 1;
  }
  return n;
}

uint64_t LoadReport::totalBytes(const std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
  return bytesWithin(ranges, 0, 0xFFFFFFFF);
}

bool loadProgramFile(LoadMode mode, const std::string& path, const DeviceDef& device,
                     MemoryImage& image, IdCode& idCode, int32_t& protectLevel, ProgramFormat format,
                     LoadReport* report) {
  const bool silent = mode == LoadMode::Silent;
  auto fail = [silent, &path](const char* text, int lineNumber, const std::string& reason) {
    if (silent) pauseAndHideSplash();
    showMessageWithDetail(text, fileProblemDetail(path, lineNumber, reason), Icon::Stop);
    return false;
  };

  WorkBuffer work;
  if (!work.data) return fail(kFileOpenError, 0, "no memory for the working buffer");
  std::span<uint8_t> buffer(work.data, kUserImageSize);
  std::fill(buffer.begin(), buffer.end(), kBlank);
  image.bankHasData.fill(0);

  using Parser = int (*)(std::string_view, std::span<uint8_t>, ParseState&);
  Parser parser = nullptr;
  if (format == ProgramFormat::IntelHex) {
    parser = parseHexLine;
  } else if (format == ProgramFormat::SRecord) {
    parser = parseSRecordLine;
  } else {
    switch (fileTypeLetter(path)) {
      case 'H': parser = parseHexLine; break;
      case 'M': parser = parseSRecordLine; break;
      default:
        // The other common names of the two formats; any other name has no
        // parser: its lines are read and ignored.
        parser = commonNameFormat(path) == ProgramFormat::IntelHex  ? parseHexLine
                 : commonNameFormat(path) == ProgramFormat::SRecord ? parseSRecordLine
                                                                    : nullptr;
        break;
    }
  }

  InputFile f;
  if (!f.open(path, InputKind::Program)) return fail(kFileOpenError, 0, f.reason());

  ParseState st;
  st.areaStart = device.userRomStart;
  st.areaEnd = device.userRomEnd;
  st.outsideAccepted = silent ? 1 : 0;

  bool anyLine = false;
  bool readError = false;
  int lineNumber = 0;
  std::string problem;  // why the last line read was refused
  int result = forEachLine(f, [&](std::string_view line, bool overlong) {
    anyLine = true;
    ++lineNumber;
    if (!parser) return kLineOk;  // lines are read and ignored
    if (overlong) {
      problem = "line longer than " + std::to_string(kMaxLineLength) + " characters";
      return kLineMalformed;
    }
    const int r = parser(line, buffer, st);
    if (r == kLineOk) {
      if (st.recordFirst != kNoAddress) image.bankHasData[size_t(bankOf(st.recordFirst))] = 1;
      if (st.recordLast != kNoAddress) image.bankHasData[size_t(bankOf(st.recordLast))] = 1;
      if (report) {
        // A termination record inside the area marks a bank but stores nothing.
        if (st.recordFirst != kNoAddress && st.recordLast != kNoAddress)
          addRange(report->filled, st.recordFirst, st.recordLast);
        if (st.outsideFirst != kNoAddress) addRange(report->outside, st.outsideFirst, st.outsideLast);
      }
    } else if (r == kLineMalformed || r == kLineBadChecksum) {
      problem = describeRefusedLine(line, parser == parseHexLine, r);
    }
    return r;
  }, readError);
  f.close();
  if (report) {
    mergeRanges(report->filled);
    mergeRanges(report->outside);
  }

  if (readError) return fail(kFileOpenError, 0, "read error after line " + std::to_string(lineNumber) + ": " + f.reason());
  // A program file without a single line holds no program: refused like
  // any other file that is not in the format its name promises.
  if (parser && !anyLine) {
    result = kLineMalformed;
    problem = "the file is empty";
    lineNumber = 0;
  }
  if (result == kLineMalformed || result == kLineBadChecksum) return fail(kFileFormatError, lineNumber, problem);
  if (result == kLineAbandoned) return false;

  const uint32_t romStart = device.userRomStart;
  const uint32_t romEnd = device.userRomEnd;
  auto inArea = [&](uint32_t a) {
    return a >= romStart && a <= romEnd && uint64_t(a - romStart) < kUserImageSize;
  };

  if (!silent) {
    int level = 0;
    if (inArea(device.protectAddress)) level = classifyProtect(buffer[device.protectAddress - romStart]);
    protectLevel = level;
    if (level == 1 || level == 2) {
      Answer a = showMessage(level == 1 ? kLevel1Question : kLevel2Question, Icon::Warning,
                             Buttons::OkCancel, Answer::Ok);
      if (a != Answer::Ok) return false;
    }
    int n = std::min<int>(idCode.idLength, kMaxIdCodeLength);
    if (n > 0) {
      bool whole = device.idCodeAddress[0] >= romStart && device.idCodeAddress[n - 1] <= romEnd;
      for (int i = 0; i < n; ++i) {
        uint32_t a = device.idCodeAddress[i];
        // Each address is checked on its own too: the list need not be sorted.
        idCode.idBytes[i] = whole && inArea(a) ? buffer[a - romStart] : kBlank;
      }
    }
  }

  if (romEnd >= romStart) {
    size_t n = size_t(std::min<uint64_t>(uint64_t(romEnd - romStart) + 1, kUserImageSize));
    std::memcpy(image.userImage.data(), buffer.data(), n);
  }
  return true;
}

}  // namespace vrx4
