#pragma once
// The one settings record of the program: 3008 bytes, stored byte for byte as
// the body of a project file.
#include <cstddef>
#include <cstdint>

#include "base/CanSetting.h"
#include "base/DeviceDef.h"
#include "base/IdCode.h"
#include "base/LittleEndian.h"
#include "base/LockBitTable.h"

namespace vrx4 {

inline constexpr const char* kReadDataName = "** Read Data **";

struct ProjectSettings {
  LockBitTable lockBits;         // 0
  uint8_t reserved25[3] = {};    // 25
  LeI32 userFileNameLength;      // 28; 0 or less: no user file
  char userFileName[1024] = {};  // 32
  LeU16 userChecksum;            // 1056
  uint8_t reserved1058[2] = {};  // 1058
  LeI32 userFileStale;           // 1060
  LeI32 protectLevel;            // 1064
  IdCode idCode;                 // 1068
  CanSetting can;                // 1104
  DeviceDef device;              // 1156
  LeI32 deviceIndex;             // 1908; -1 none
  LeI32 rowCount;                // 1912
  LeI32 optionMode;              // 1916
  uint8_t bootFileLoaded = 0;    // 1920
  uint8_t reserved1921[3] = {};  // 1921
  LeI32 bootFileNameLength;      // 1924
  char bootFileName[1024] = {};  // 1928
  LeU16 bootChecksum;            // 2952
  char bootLoaderText[34] = {};  // 2954
  LeU32 bootStart;               // 2988
  LeU32 bootEnd;                 // 2992
  LeU32 bootSize;                // 2996
  LeI32 operationIndex;          // 3000
  LeI32 sendFlags;               // 3004
};

static_assert(sizeof(ProjectSettings) == 3008);
static_assert(offsetof(ProjectSettings, userFileNameLength) == 28);
static_assert(offsetof(ProjectSettings, userFileName) == 32);
static_assert(offsetof(ProjectSettings, userChecksum) == 1056);
static_assert(offsetof(ProjectSettings, userFileStale) == 1060);
static_assert(offsetof(ProjectSettings, protectLevel) == 1064);
static_assert(offsetof(ProjectSettings, idCode) == 1068);
static_assert(offsetof(ProjectSettings, can) == 1104);
static_assert(offsetof(ProjectSettings, can) + offsetof(CanSetting, sendFrameMask) == 1110);
static_assert(offsetof(ProjectSettings, can) + offsetof(CanSetting, pulseEnabled) == 1145);
static_assert(offsetof(ProjectSettings, can) + offsetof(CanSetting, baudKbps) == 1148);
static_assert(offsetof(ProjectSettings, device) == 1156);
static_assert(offsetof(ProjectSettings, deviceIndex) == 1908);
static_assert(offsetof(ProjectSettings, bootFileLoaded) == 1920);
static_assert(offsetof(ProjectSettings, bootFileNameLength) == 1924);
static_assert(offsetof(ProjectSettings, bootFileName) == 1928);
static_assert(offsetof(ProjectSettings, bootChecksum) == 2952);
static_assert(offsetof(ProjectSettings, bootLoaderText) == 2954);
static_assert(offsetof(ProjectSettings, bootStart) == 2988);
static_assert(offsetof(ProjectSettings, operationIndex) == 3000);
static_assert(offsetof(ProjectSettings, sendFlags) == 3004);

}  // namespace vrx4
