#include <gtest/gtest.h>

#include "settings/DeviceDetailTexts.h"
#include "settings/ListRules.h"

namespace vrx4 {
namespace {

TEST(DeviceDetailTexts, SizesVoltagesAndBlocks) {
  EXPECT_EQ(blockSizeText(0x10000), "64K");
  EXPECT_EQ(blockSizeText(1024 * 1024), "1024K");
  EXPECT_EQ(blockSizeText(4 * 1024 * 1024 - 1), "4095K");
  EXPECT_EQ(blockSizeText(4 * 1024 * 1024), "4M");
  EXPECT_EQ(blockRangeText(1), "0");
  EXPECT_EQ(blockRangeText(12), "0-11");
  EXPECT_EQ(blockRangeText(0), "");

  DeviceDef d;
  d.setName("TEST-DEV");
  d.userRomStart = 0x4000;
  d.userRomSize = 0x1C000;
  d.voltageCode = 0x31;
  d.blockCount = 2;
  d.blockStart[0] = 0x4000;
  d.blockSize[0] = 0x4000;
  d.blockStart[1] = 0x8000;
  d.blockSize[1] = 0x400000;
  DeviceDetailTexts t = deviceDetailTexts(d);
  EXPECT_EQ(t.type, "TEST-DEV");
  EXPECT_EQ(t.topAddress, "4000");
  EXPECT_EQ(t.size, "1C000");
  EXPECT_EQ(t.block, "0-1");
  EXPECT_EQ(t.vcc, "3.3V");
  EXPECT_EQ(t.vpp, "3.3/5V");
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.rows[0].block, "0");
  EXPECT_EQ(t.rows[0].start, "4000");
  EXPECT_EQ(t.rows[0].end, "7FFF");
  EXPECT_EQ(t.rows[0].size, "16K");
  EXPECT_EQ(t.rows[1].size, "4M");

  for (unsigned code : {0x00u, 0x50u, 0xF5u}) {
    d.voltageCode = code;
    t = deviceDetailTexts(d);
    EXPECT_EQ(t.vcc, "") << code;
    EXPECT_EQ(t.vpp, "") << code;
  }
  d.voltageCode = 0x142;  // only the low byte counts
  t = deviceDetailTexts(d);
  EXPECT_EQ(t.vcc, "5V");
  EXPECT_EQ(t.vpp, "12V");
  d.blockCount = 500;  // a damaged count lists at most 64 blocks
  EXPECT_EQ(deviceDetailTexts(d).rows.size(), 64u);
}

int sevenEach(std::string_view s) { return int(s.size()) * 7; }

TEST(ShortenToFit, CutsToTheLongestFittingHead) {
  EXPECT_EQ(shortenToFit("", 0, 4, sevenEach), "");
  EXPECT_EQ(shortenToFit("Operation", 9 * 7 + 4, 4, sevenEach), "Operation");
  // 40 px: n*7 + 21 + 4 <= 40 gives n = 2.
  EXPECT_EQ(shortenToFit("Operation", 40, 4, sevenEach), "Op...");
  // Never fewer than one character.
  EXPECT_EQ(shortenToFit("Operation", 3, 4, sevenEach), "O...");
  EXPECT_EQ(shortenToFit("X", 3, 4, sevenEach), "X...");
  // At most 259 characters are kept.
  std::string longText(400, 'a');
  EXPECT_EQ(shortenToFit(longText, 100000, 4, sevenEach), longText);
  EXPECT_EQ(shortenToFit(longText, 2000, 0, sevenEach).size(), 259u - 1 + 3);
}

TEST(ChangedCells, RowAddressAndColumns) {
  ChangedAddressSet set;
  EXPECT_FALSE(isChangedCell(set, 0x1230, 6));
  set.insert(0x1235, 0xAB);
  EXPECT_EQ(set.value(0x1235), 0xABu);
  auto row = rowAddressOfLabel("001230");
  ASSERT_TRUE(row);
  EXPECT_EQ(*row, 0x1230u);
  for (int c = 0; c <= 17; ++c) EXPECT_EQ(isChangedCell(set, row, c), c == 6) << c;
  set.clear();
  set.insert(0x1240);
  for (int c = 0; c <= 17; ++c) EXPECT_FALSE(isChangedCell(set, row, c)) << c;
  EXPECT_TRUE(isChangedCell(set, rowAddressOfLabel("1240"), 1));
  set.insert(0x1230);
  set.insert(0x1231);
  set.remove(0x1230);
  EXPECT_FALSE(isChangedCell(set, row, 1));
  EXPECT_TRUE(isChangedCell(set, row, 2));
  EXPECT_FALSE(rowAddressOfLabel("Block"));
  EXPECT_FALSE(isChangedCell(set, rowAddressOfLabel("zz"), 2));
}

}  // namespace
}  // namespace vrx4
