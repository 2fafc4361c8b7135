#pragma once
// The texts of the "Device detail" dialog.
#include <string>
#include <vector>

#include "base/DeviceDef.h"

namespace vrx4 {

// "%X": upper-case hexadecimal without prefix or leading zeros.
std::string hexText(uint32_t value);
// "%dK" below 4 MiB, else "%dM" (integer division).
std::string blockSizeText(uint32_t size);
// "0" for one block, "0-11" for twelve; "" when the device has none.
std::string blockRangeText(int blockCount);
// The text of one voltage code nibble: 1 "3.3V", 2 "5V", 3 "3.3/5V", 4 "12V",
// else "" (the detail dialog and the main form show the same).
std::string voltageText(unsigned nibble);

struct DeviceBlockRow {
  std::string block, start, end, size;
};

struct DeviceDetailTexts {
  std::string type, topAddress, size, block, vcc, vpp;
  std::vector<DeviceBlockRow> rows;
};

DeviceDetailTexts deviceDetailTexts(const DeviceDef& device);

}  // namespace vrx4
