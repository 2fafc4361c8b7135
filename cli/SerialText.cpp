// The field of --serial and the values of serial numbers as texts, and the
// bytes a value takes in the field.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "base/TextChars.h"
#include "cli/HexText.h"
#include "cli/SerialText.h"

namespace vrx4::cli {

std::string trimmedText(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

bool decimalNumber(const std::string& s, uint64_t& v) {
  if (s.empty() || s.size() > 19) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  return true;
}

const char* serialFormatName(SerialFormat f) {
  switch (f) {
    case SerialFormat::Le:
      return "le";
    case SerialFormat::Be:
      return "be";
    case SerialFormat::Bcd:
      return "bcd";
    case SerialFormat::Ascii:
      return "ascii";
    case SerialFormat::Hex:
      return "hex";
  }
  return "le";
}

bool parseSerialField(const std::string& text, SerialField& f, std::string& why) {
  why = "--serial '" + text +
        "': expected ADDR:WIDTH[:FORMAT] such as 3F000:4:le (ADDR hexadecimal, WIDTH "
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
    const int d = hexDigitValue(c);
    if (d < 0) return false;
    address = address << 4 | uint32_t(d);
  }
  uint64_t width = 0;
  if (!decimalNumber(parts[1], width) || width < 1 || width > 32) return false;
  SerialFormat format = SerialFormat::Le;
  if (parts.size() == 3) {
    const std::string& n = parts[2];
    if (n == "le")
      format = SerialFormat::Le;
    else if (n == "be")
      format = SerialFormat::Be;
    else if (n == "bcd")
      format = SerialFormat::Bcd;
    else if (n == "ascii")
      format = SerialFormat::Ascii;
    else if (n == "hex")
      format = SerialFormat::Hex;
    else
      return false;
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
  const std::string line = trimmedText(raw);
  v = SerialValue();
  if (decimalNumber(line, v.number)) return true;
  // Hex byte pairs, with one separator between them.
  v.isBytes = true;
  size_t i = 0;
  while (i < line.size()) {
    if (i + 1 >= line.size()) return false;
    const int h = hexDigitValue(line[i]), l = hexDigitValue(line[i + 1]);
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
          serialFormatName(f.format) + (detail.empty() ? "" : " (" + detail + ")");
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

}  // namespace vrx4::cli
