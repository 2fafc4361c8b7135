#pragma once
// The parts of the "Block Setting" dialog and of the main form's lock fields
// that need no window.
#include <string>

#include "base/DeviceDef.h"
#include "base/LittleEndian.h"

namespace vrx4 {

// Blocks first..last of a mask as runs: {0,1,2,5,7,8} gives "0-2,5,7-8".
// Blocks outside 0..63 count as clear; first > last gives "".
std::string FormatBlockList(const BlockMask& mask, int first, int last);

// "%05X - %05X" of a block's first and last address.
std::string blockAddressText(uint32_t start, uint32_t size);

// Byte-by-byte AND of two masks.
BlockMask maskAnd(const BlockMask& a, const BlockMask& b);

// Which controls of the dialog the device's lockBitMode enables.
struct LockControlStates {
  bool allLock = true;
  bool allUnlock = true;
  bool readLockBits = true;
  bool radios = true;
  bool afterLockReadOnly = false;  // the "After Lock" column cannot be toggled
  bool showLockText = true;        // "Lock" in the "After Lock" column
};
LockControlStates lockControlStates(uint8_t lockBitMode);

// Rows the dialog lists for a device: blockCount kept within 0..64.
int listedBlockCount(const DeviceDef& device);

}  // namespace vrx4
