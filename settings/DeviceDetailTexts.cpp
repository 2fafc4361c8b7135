#include "settings/DeviceDetailTexts.h"

#include <cstdio>

#include "settings/BlockSettingRules.h"

namespace vrx4 {

std::string hexText(uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", unsigned(value));
  return buf;
}

std::string blockSizeText(uint32_t size) {
  constexpr uint32_t mib = 1024u * 1024u;
  if (size < 4 * mib) return std::to_string(size / 1024) + "K";
  return std::to_string(size / mib) + "M";
}

std::string blockRangeText(int blockCount) {
  if (blockCount <= 0) return "";
  if (blockCount == 1) return "0";
  return "0-" + std::to_string(blockCount - 1);
}

std::string voltageText(unsigned nibble) {
  switch (nibble) {
    case 1:
      return "3.3V";
    case 2:
      return "5V";
    case 3:
      return "3.3/5V";
    case 4:
      return "12V";
    default:
      return "";
  }
}

DeviceDetailTexts deviceDetailTexts(const DeviceDef& d) {
  DeviceDetailTexts t;
  t.type = d.name();
  t.topAddress = hexText(d.userRomStart);
  t.size = hexText(d.userRomSize);
  const int count = listedBlockCount(d);
  t.block = blockRangeText(count);
  const uint32_t v = d.voltageCode;
  t.vcc = voltageText(v & 0x0F);
  t.vpp = voltageText((v >> 4) & 0x0F);
  for (int k = 0; k < count; ++k) {
    const uint32_t start = d.blockStart[k], size = d.blockSize[k];
    t.rows.push_back({std::to_string(k), hexText(start), hexText(start + size - 1), blockSizeText(size)});
  }
  return t;
}

}  // namespace vrx4
