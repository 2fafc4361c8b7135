#pragma once
// One row of the device definition table, in its 752-byte stored form (the
// form the settings record and the project file keep).
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/LittleEndian.h"

namespace vrx4 {

inline constexpr int kMaxIdCodeLength = 32;
inline constexpr int kMaxBlocks = 64;
inline constexpr uint32_t kMaxBootRomSize = 0x10000;
inline constexpr uint32_t kMaxUserRomSize = 0x400000;

struct DeviceDef {
  char deviceName[64] = {};  // NUL-terminated when shorter than 64
  LeU32 bootRomStart;
  LeU32 bootRomEnd;
  LeU32 bootRomSize;
  LeU32 userRomStart;
  LeU32 userRomEnd;
  LeU32 userRomSize;
  LeU32 voltageCode;  // whole parsed value; low byte used
  LeU32 protectAddress;
  LeI32 idCodeLength;
  LeU32 idCodeAddress[kMaxIdCodeLength];
  LeI32 blockCount;
  LeU32 blockMask;  // bits 0..blockCount-1 (all 32 at 32 or more)
  LeU32 blockStart[kMaxBlocks];
  LeU32 blockSize[kMaxBlocks];
  uint8_t extraByte1 = 0;
  uint8_t extraByte2 = 0;
  uint8_t lockBitMode = 0;  // 0 none, 1 set and clear, 2 clear only
  uint8_t blockSelectFlags = 0;

  // The name as text (up to 64 characters).
  std::string name() const;
  void setName(const std::string& n);  // cut to 64 characters
};

static_assert(sizeof(DeviceDef) == 752);
static_assert(offsetof(DeviceDef, bootRomStart) == 64);
static_assert(offsetof(DeviceDef, userRomStart) == 76);
static_assert(offsetof(DeviceDef, voltageCode) == 88);
static_assert(offsetof(DeviceDef, idCodeLength) == 96);
static_assert(offsetof(DeviceDef, idCodeAddress) == 100);
static_assert(offsetof(DeviceDef, blockCount) == 228);
static_assert(offsetof(DeviceDef, blockMask) == 232);
static_assert(offsetof(DeviceDef, blockStart) == 236);
static_assert(offsetof(DeviceDef, blockSize) == 492);
static_assert(offsetof(DeviceDef, extraByte1) == 748);
static_assert(offsetof(DeviceDef, blockSelectFlags) == 751);

}  // namespace vrx4
