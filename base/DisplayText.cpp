#include "base/DisplayText.h"

#include <cstdint>
#include <cstdio>

namespace vrx4 {
namespace {

void escapeByte(std::string& out, uint8_t b) {
  char t[8];
  std::snprintf(t, sizeof t, "\\x%02x", unsigned(b));
  out += t;
}

void escapeCodePoint(std::string& out, uint32_t cp) {
  char t[12];
  std::snprintf(t, sizeof t, "\\u%04X", unsigned(cp));
  out += t;
}

// The length of the valid UTF-8 sequence at text[i] (2..4) and its code
// point, or 0 when the bytes there are no such sequence (a stray
// continuation byte, an overlong form, a surrogate, past U+10FFFF, cut off).
size_t utf8Sequence(std::string_view text, size_t i, uint32_t& cp) {
  const uint8_t b = uint8_t(text[i]);
  size_t n;
  uint32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, cp = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3, cp = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const uint8_t c = uint8_t(text[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool turnsDirection(uint32_t cp) { return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069); }

}  // namespace

std::string displayText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const uint8_t b = uint8_t(text[i]);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F)
        escapeByte(out, b);
      else
        out.push_back(char(b));
      ++i;
      continue;
    }
    uint32_t cp = 0;
    const size_t n = utf8Sequence(text, i, cp);
    if (n == 0) {
      escapeByte(out, b);
      ++i;
    } else if (cp <= 0x9F || turnsDirection(cp)) {
      escapeCodePoint(out, cp);
      i += n;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string displayMessage(std::string_view text) {
  std::string out;
  for (;;) {
    const size_t nl = text.find('\n');
    out += displayText(text.substr(0, nl));
    if (nl == std::string_view::npos) return out;
    out.push_back('\n');
    text.remove_prefix(nl + 1);
  }
}

}  // namespace vrx4
