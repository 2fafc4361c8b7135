#pragma once
// Upper-case hexadecimal of fixed width, as the program prints addresses
// ("%06X"), checksums ("%04X") and bytes ("%02X").
#include <cstdint>
#include <cstdio>
#include <string>

namespace vrx4::cli {

inline std::string hex6(uint32_t v) {
  char t[16];
  std::snprintf(t, sizeof t, "%06X", unsigned(v));
  return t;
}
inline std::string hex4(uint16_t v) {
  char t[8];
  std::snprintf(t, sizeof t, "%04X", unsigned(v));
  return t;
}
inline std::string hex2(uint8_t v) {
  char t[4];
  std::snprintf(t, sizeof t, "%02X", unsigned(v));
  return t;
}

}  // namespace vrx4::cli
