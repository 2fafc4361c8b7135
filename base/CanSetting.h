#pragma once
// The CAN settings record: 52 packed bytes; the first 44 are the payload of
// the setCanSetting command.
#include <cstddef>
#include <cstdint>

#include "base/LittleEndian.h"

namespace vrx4 {

struct CanSendFrame {
  uint8_t frameFormat = 0;  // 1 Std, 2 Ext; 0 reads as 1
  uint8_t frameType = 0;    // 0 Data, 1 Remote
  LeU16 sid;                // 0..0x7FF
  LeU32 eid;                // 0..0x3FFFF
  uint8_t dlc = 0;          // 0..8
  uint8_t data[8] = {};
};
static_assert(sizeof(CanSendFrame) == 17);

struct CanSetting {
  uint8_t clockMhz = 0;
  uint8_t prescalerMinus1 = 0;
  uint8_t tseg1 = 0;
  uint8_t tseg2 = 0;
  uint8_t sjw = 0;
  uint8_t reserved5 = 0;
  uint8_t sendFrameMask = 0;  // 3 when "Use Send Frame" is on; non-zero reads as on
  CanSendFrame preFrame;
  CanSendFrame postFrame;
  uint8_t pulseEnabled = 0;
  LeU16 pulseCycleMs;  // 1..1000; 0 when the pulse output is off
  LeF32 baudKbps;
  uint8_t samplePointPct = 0;
  uint8_t filler[3] = {};
};
static_assert(sizeof(CanSetting) == 52);
static_assert(offsetof(CanSetting, sendFrameMask) == 6);
static_assert(offsetof(CanSetting, preFrame) == 7);
static_assert(offsetof(CanSetting, postFrame) == 24);
static_assert(offsetof(CanSetting, pulseEnabled) == 41);
static_assert(offsetof(CanSetting, pulseCycleMs) == 42);
static_assert(offsetof(CanSetting, baudKbps) == 44);
static_assert(offsetof(CanSetting, samplePointPct) == 48);

inline constexpr size_t kCanSettingWireSize = 44;

}  // namespace vrx4
