#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "settings/CanTiming.h"

namespace vrx4 {
namespace {

std::vector<int> samplePoints(int row) {
  std::vector<int> v;
  for (int k = 0; k < canTimingEntryCount(row); ++k) v.push_back(CanBitTimingTable[row][k].samplePointPct);
  return v;
}

TEST(CanTimingTable, RowsOfferTheirSamplePoints) {
  EXPECT_EQ(samplePoints(0), (std::vector<int>{80, 70}));
  for (int r : {1, 2, 3}) EXPECT_EQ(samplePoints(r), (std::vector<int>{80, 75, 70, 65})) << r;
  EXPECT_EQ(samplePoints(4), (std::vector<int>{80, 70, 65}));
  EXPECT_EQ(samplePoints(6), (std::vector<int>{80}));
  const float rates[] = {1000.0f, 500.0f, 250.0f, 125.0f, 100.0f, 83.3f, 80.0f, 50.0f, 40.0f, 33.3f, 20.0f};
  for (int r = 0; r < kCanTimingRows; ++r) {
    EXPECT_EQ(float(CanBitTimingTable[r][0].baudKbps), rates[r]) << r;
    EXPECT_EQ(CanBitTimingTable[r][0].samplePointPct, 80) << r;
  }
}

TEST(CanTimingTable, UsedEntriesMatchTheFormulasAndEmptySlotsAreZero) {
  for (int r = 0; r < kCanTimingRows; ++r) {
    const int n = canTimingEntryCount(r);
    ASSERT_GE(n, 1);
    for (int k = 0; k < kCanTimingSlots; ++k) {
      const CanBitTimingEntry& e = CanBitTimingTable[r][k];
      if (k >= n) {
        const auto* b = reinterpret_cast<const uint8_t*>(&e);
        for (size_t i = 0; i < sizeof e; ++i) EXPECT_EQ(b[i], 0) << r << "/" << k;
        continue;
      }
      EXPECT_EQ(int(e.entryCount), n);
      EXPECT_EQ(e.clockMhz, 30);
      EXPECT_EQ(e.sjw, 1);
      EXPECT_EQ(e.zero[0] | e.zero[1], 0);
      EXPECT_EQ(float(e.baudKbps), float(CanBitTimingTable[r][0].baudKbps));
      const int quanta = 1 + e.tseg1 + e.tseg2;
      const double rate = e.clockMhz * 1000.0 / ((e.prescalerMinus1 + 1) * quanta);
      EXPECT_NEAR(rate, double(float(e.baudKbps)), 0.05) << r << "/" << k;
      EXPECT_EQ(100 * (1 + e.tseg1) % quanta, 0) << r << "/" << k;
      EXPECT_EQ(100 * (1 + e.tseg1) / quanta, e.samplePointPct) << r << "/" << k;
    }
  }
}

TEST(CanTimingTable, EntryBytesAreLittleEndian) {
  const auto* b = reinterpret_cast<const uint8_t*>(&CanBitTimingTable[1][2]);
  // 500.0f = 0x43FA0000
  EXPECT_EQ(b[0], 0x00);
  EXPECT_EQ(b[2], 0xFA);
  EXPECT_EQ(b[3], 0x43);
  EXPECT_EQ(b[4], 70);
  EXPECT_EQ(b[6], 2);
  EXPECT_EQ(b[7], 13);
  EXPECT_EQ(b[8], 6);
  EXPECT_EQ(b[12], 4);
}

TEST(FindTimingByValue, ExactRowAndEntry) {
  EXPECT_EQ(findTimingByValue(500.0f, 65), (CanTimingIndex{1, 3}));
  EXPECT_EQ(findTimingByValue(83.3f, 70), (CanTimingIndex{5, 2}));
  EXPECT_EQ(findTimingByValue(33.3f, 75), (CanTimingIndex{9, 1}));
  // A sample point the row lacks gives entry 0.
  EXPECT_EQ(findTimingByValue(100.0f, 75), (CanTimingIndex{4, 0}));
  // No row: 1000.0 / 80. The decimal 83.3 as a double-rounded value is not the table's float.
  EXPECT_EQ(findTimingByValue(300.0f, 70), (CanTimingIndex{0, 0}));
  EXPECT_EQ(findTimingByValue(83.30001f, 80), (CanTimingIndex{0, 0}));
  EXPECT_EQ(findTimingByValue(std::nanf(""), 80), (CanTimingIndex{0, 0}));
}

TEST(FindTimingByRegisters, RecoversDisplayValuesAndKeepsTimingBytes) {
  CanSetting c;
  c.clockMhz = 30;
  c.prescalerMinus1 = 44;
  c.tseg1 = 5;
  c.tseg2 = 2;
  c.sjw = 1;
  findTimingByRegisters(c);
  EXPECT_EQ(float(c.baudKbps), 83.3f);
  EXPECT_EQ(c.samplePointPct, 75);

  // (74, 7, 2) is 40.0/80 before it could be anything later.
  c.prescalerMinus1 = 74;
  c.tseg1 = 7;
  findTimingByRegisters(c);
  EXPECT_EQ(float(c.baudKbps), 40.0f);
  EXPECT_EQ(c.samplePointPct, 80);

  CanSetting odd;
  odd.clockMhz = 30;
  odd.prescalerMinus1 = 3;
  odd.tseg1 = 11;
  odd.tseg2 = 3;
  odd.sjw = 2;  // sjw differs: no match
  odd.baudKbps = 125.0f;
  odd.samplePointPct = 80;
  findTimingByRegisters(odd);
  EXPECT_EQ(float(odd.baudKbps), 500.0f);
  EXPECT_EQ(odd.samplePointPct, 70);
  EXPECT_EQ(odd.prescalerMinus1, 3);
  EXPECT_EQ(odd.sjw, 2);
}

TEST(CanDisplayTexts, BaudrateSendFrameAndPulse) {
  EXPECT_EQ(canBaudrateText(1000.0f), "1.0Mbps");
  EXPECT_EQ(canBaudrateText(500.0f), "500.0Kbps");
  EXPECT_EQ(canBaudrateText(83.3f), "83.3Kbps");
  EXPECT_EQ(canBaudrateText(33.3f), "33.3Kbps");
  CanSetting c;
  EXPECT_EQ(canSendFrameText(c), "No use");
  EXPECT_EQ(canPulseText(c), "No use");
  c.sendFrameMask = 1;
  c.pulseEnabled = 1;
  c.pulseCycleMs = 250;
  EXPECT_EQ(canSendFrameText(c), "Use");
  EXPECT_EQ(canPulseText(c), "250ms");
  c.pulseCycleMs = 65535;
  EXPECT_EQ(canPulseText(c), "65535ms");
}

}  // namespace
}  // namespace vrx4
