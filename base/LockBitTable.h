#pragma once
// The lock-bit choices: 25 bytes, the first 25 of the settings record.
#include <cstddef>
#include <cstdint>

#include "base/LittleEndian.h"

namespace vrx4 {

struct LockBitTable {
  BlockMask deviceBlockMask;       // every block below the device's blockCount
  BlockMask operationBlockMask;    // "Operation Block"
  uint8_t lockBitState = 0;        // 1 "Effective", 0 "Ignore"
  BlockMask lockAfterProgramMask;  // "Lock Bit after Program"
};
static_assert(sizeof(LockBitTable) == 25);
static_assert(offsetof(LockBitTable, lockBitState) == 16);
static_assert(offsetof(LockBitTable, lockAfterProgramMask) == 17);

}  // namespace vrx4
