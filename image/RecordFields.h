#pragma once
// What the two record parsers share: hex digits decoded on the fast path,
// fields read as parseHexField reads them, the store of a record's bytes
// into the loader's area, and the words for a refused record.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/Prompter.h"
#include "base/StartupMessage.h"
#include "image/ProgramLoader.h"

namespace vrx4::records {

// Value of each character as a hex digit, -1 for anything else.
inline constexpr std::array<int8_t, 256> makeHexTable() {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[size_t(c)] = int8_t(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[size_t(c)] = int8_t(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[size_t(c)] = int8_t(c - 'a' + 10);
  return t;
}
inline constexpr std::array<int8_t, 256> kHex = makeHexTable();

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
inline const PairTable kPairs;

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
  const __m128i v =
      _mm_or_si128(_mm_and_si128(d, isDigit), _mm_and_si128(_mm_add_epi8(l, _mm_set1_epi8(10)), isLetter));
  // Each 16-bit lane holds (first digit, second digit): byte = first << 4 | second.
  const __m128i pairs = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(0x00FF)), 4), _mm_srli_epi16(v, 8));
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
[[gnu::noinline]] inline bool fieldSlow(std::string_view line, size_t pos, int digits, uint32_t& v) {
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
inline void effectiveArea(const ParseState& st, std::span<uint8_t> buffer, uint64_t& start, uint64_t& end) {
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
inline int outsideArea(ParseState& st) {
  if (st.outsideAccepted == 0) {
    Answer a = showMessage(kOutsideAreaQuestion, Icon::Stop, Buttons::YesNo, Answer::No);
    if (a != Answer::Yes) return kLineAbandoned;
  }
  st.outsideAccepted = 1;
  return kLineOk;
}

// Stores n data bytes at address, after the area test of the loader or the
// bookkeeping of the collecting mode.
inline int storeRecord(uint64_t address, const uint8_t* data, int n, std::span<uint8_t> buffer, ParseState& st) {
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

inline std::string hex2(uint32_t v) {
  char t[8];
  std::snprintf(t, sizeof t, "%02X", unsigned(v & 0xFF));
  return t;
}

// What is wrong with the field of `digits` characters at `pos`, read as
// parseHexField reads it: blanks first, then digits up to a NUL or the end.
inline std::string fieldProblem(std::string_view line, size_t pos, int digits) {
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
inline std::string checksumProblem(uint32_t held, uint32_t computed) {
  return "checksum mismatch (the record says " + hex2(held) + ", its bytes give " + hex2(computed) + ")";
}

// Why a refused line of each format was refused, found by reading it again
// field by field.
std::string hexLineProblem(std::string_view line);
std::string sRecordLineProblem(std::string_view line);

}  // namespace vrx4::records
