#include "settings/CanTiming.h"

#include <cstdio>

namespace vrx4 {

namespace {

// One used slot: (sample point, prescaler - 1, tseg1, tseg2) at 30 MHz, sjw 1.
CanBitTimingEntry e(float baud, int count, uint8_t sp, uint8_t brp, uint8_t t1, uint8_t t2) {
  CanBitTimingEntry x;
  x.baudKbps = baud;
  x.samplePointPct = sp;
  x.clockMhz = 30;
  x.prescalerMinus1 = brp;
  x.tseg1 = t1;
  x.tseg2 = t2;
  x.sjw = 1;
  x.entryCount = count;
  return x;
}

const CanBitTimingEntry none{};

}  // namespace

// 83.3f and 33.3f are the nearest float32 values of those decimals; records
// hold the same values and the look-ups compare them exactly.
const CanBitTimingEntry CanBitTimingTable[kCanTimingRows][kCanTimingSlots] = {
    {e(1000.0f, 2, 80, 1, 11, 3), e(1000.0f, 2, 70, 2, 6, 3), none, none},
    {e(500.0f, 4, 80, 3, 11, 3), e(500.0f, 4, 75, 4, 8, 3), e(500.0f, 4, 70, 2, 13, 6), e(500.0f, 4, 65, 2, 12, 7)},
    {e(250.0f, 4, 80, 7, 11, 3), e(250.0f, 4, 75, 9, 8, 3), e(250.0f, 4, 70, 5, 13, 6), e(250.0f, 4, 65, 5, 12, 7)},
    {e(125.0f, 4, 80, 15, 11, 3), e(125.0f, 4, 75, 14, 11, 4), e(125.0f, 4, 70, 11, 13, 6),
     e(125.0f, 4, 65, 11, 12, 7)},
    {e(100.0f, 3, 80, 19, 11, 3), e(100.0f, 3, 70, 14, 13, 6), e(100.0f, 3, 65, 14, 12, 7), none},
    {e(83.3f, 3, 80, 35, 7, 2), e(83.3f, 3, 75, 44, 5, 2), e(83.3f, 3, 70, 35, 6, 3), none},
    {e(80.0f, 1, 80, 24, 11, 3), none, none, none},
    {e(50.0f, 3, 80, 59, 7, 2), e(50.0f, 3, 75, 74, 5, 2), e(50.0f, 3, 70, 59, 6, 3), none},
    {e(40.0f, 2, 80, 74, 7, 2), e(40.0f, 2, 70, 74, 6, 3), none, none},
    {e(33.3f, 3, 80, 89, 7, 2), e(33.3f, 3, 75, 74, 8, 3), e(33.3f, 3, 70, 89, 6, 3), none},
    {e(20.0f, 3, 80, 149, 7, 2), e(20.0f, 3, 75, 124, 8, 3), e(20.0f, 3, 70, 149, 6, 3), none},
};

int canTimingEntryCount(int row) {
  if (row < 0 || row >= kCanTimingRows) return 0;
  int n = CanBitTimingTable[row][0].entryCount;
  return n < 0 ? 0 : (n > kCanTimingSlots ? kCanTimingSlots : n);
}

CanTimingIndex findTimingByValue(float baudKbps, uint8_t samplePointPct) {
  for (int r = 0; r < kCanTimingRows; ++r) {
    if (float(CanBitTimingTable[r][0].baudKbps) != baudKbps) continue;
    const int n = canTimingEntryCount(r);
    for (int k = 0; k < n; ++k)
      if (CanBitTimingTable[r][k].samplePointPct == samplePointPct) return {r, k};
    return {r, 0};
  }
  return {0, 0};
}

void findTimingByRegisters(CanSetting& can) {
  can.baudKbps = 500.0f;
  can.samplePointPct = 70;
  for (int r = 0; r < kCanTimingRows; ++r) {
    const int n = canTimingEntryCount(r);
    for (int k = 0; k < n; ++k) {
      const CanBitTimingEntry& t = CanBitTimingTable[r][k];
      if (t.clockMhz == can.clockMhz && t.prescalerMinus1 == can.prescalerMinus1 && t.tseg1 == can.tseg1 &&
          t.tseg2 == can.tseg2 && t.sjw == can.sjw) {
        can.baudKbps = float(t.baudKbps);
        can.samplePointPct = t.samplePointPct;
        return;
      }
    }
  }
}

std::string canBaudrateText(float baudKbps) {
  char buf[64];
  if (baudKbps >= 1000.0f)
    std::snprintf(buf, sizeof buf, "%.1fMbps", double(baudKbps) * 0.001);
  else
    std::snprintf(buf, sizeof buf, "%.1fKbps", double(baudKbps));
  return buf;
}

std::string canSendFrameText(const CanSetting& can) { return can.sendFrameMask ? "Use" : "No use"; }

std::string canPulseText(const CanSetting& can) {
  if (!can.pulseEnabled) return "No use";
  return std::to_string(unsigned(uint16_t(can.pulseCycleMs))) + "ms";
}

}  // namespace vrx4
