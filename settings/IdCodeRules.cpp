#include "settings/IdCodeRules.h"

#include <cstdio>

#include "base/DeviceDef.h"
#include "settings/CanDialogRules.h"

namespace vrx4 {

int usedIdLength(const IdCode& id) { return id.idLength > kMaxIdCodeLength ? kMaxIdCodeLength : id.idLength; }

std::string idCodeText(const IdCode& id) {
  std::string out;
  const int n = usedIdLength(id);
  for (int i = 0; i < n; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", unsigned(id.idBytes[i]));
    if (i) out += ',';
    out += buf;
  }
  return out;
}

bool idFieldAcceptable(const std::string& text) { return text.size() <= 2 && isHexText(text); }

uint8_t idFieldValue(const std::string& text) { return uint8_t(hexTextValue(text)); }

IdFieldRect idFieldRect(int i) { return {20 + 32 * (i % 8), 30 + 44 * (i / 8), 24, 24}; }

int idDialogClientHeight(int idLength) {
  // The two-row window; 70 pixels less for one row, 44 more for each row past two.
  constexpr int twoRows = 140;
  const int rows = idLength <= 8 ? 1 : (idLength + 7) / 8;
  if (rows <= 1) return twoRows - 70;
  return twoRows + 44 * (rows - 2);
}

}  // namespace vrx4
