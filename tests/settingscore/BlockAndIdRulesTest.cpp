#include <gtest/gtest.h>

#include "settings/BlockSettingRules.h"
#include "settings/IdCodeRules.h"

namespace vrx4 {
namespace {

BlockMask maskOf(std::initializer_list<int> blocks) {
  BlockMask m;
  for (int b : blocks) m.set(b);
  return m;
}

TEST(FormatBlockList, RunsSinglesAndEmpty) {
  EXPECT_EQ(FormatBlockList(maskOf({0, 1, 2, 5, 7, 8}), 0, 63), "0-2,5,7-8");
  EXPECT_EQ(FormatBlockList(maskOf({3}), 0, 63), "3");
  EXPECT_EQ(FormatBlockList(maskOf({62}), 0, 63), "62");
  EXPECT_EQ(FormatBlockList(maskOf({62, 63}), 0, 63), "62-63");
  EXPECT_EQ(FormatBlockList(maskOf({0, 63}), 0, 63), "0,63");
  BlockMask all;
  for (auto& b : all.bytes) b = 0xFF;
  EXPECT_EQ(FormatBlockList(all, 0, 63), "0-63");
  EXPECT_EQ(FormatBlockList(all, 3, 5), "3-5");
  EXPECT_EQ(FormatBlockList(BlockMask{}, 0, 63), "");
  EXPECT_EQ(FormatBlockList(all, 5, 4), "");
  // Numbers outside the mask count as clear.
  EXPECT_EQ(FormatBlockList(all, 60, 70), "60-63");
}

TEST(BlockSettingRules, AddressesMasksAndControls) {
  EXPECT_EQ(blockAddressText(0x4000, 0x4000), "04000 - 07FFF");
  EXPECT_EQ(blockAddressText(0x3F0000, 0x10000), "3F0000 - 3FFFFF");
  EXPECT_EQ(maskAnd(maskOf({1, 9, 40}), maskOf({1, 40, 41})), maskOf({1, 40}));

  LockControlStates none = lockControlStates(0);
  EXPECT_FALSE(none.allLock || none.allUnlock || none.readLockBits || none.radios);
  EXPECT_TRUE(none.afterLockReadOnly);
  LockControlStates clearOnly = lockControlStates(2);
  EXPECT_FALSE(clearOnly.allLock);
  EXPECT_TRUE(clearOnly.allUnlock && clearOnly.readLockBits && clearOnly.radios);
  EXPECT_TRUE(clearOnly.afterLockReadOnly);
  EXPECT_FALSE(clearOnly.showLockText);
  LockControlStates full = lockControlStates(1);
  EXPECT_TRUE(full.allLock && full.allUnlock && full.readLockBits && full.radios && full.showLockText);
  EXPECT_FALSE(full.afterLockReadOnly);
  // Any other mode enables the buttons but keeps the column read-only.
  LockControlStates other = lockControlStates(7);
  EXPECT_TRUE(other.allLock && other.radios);
  EXPECT_TRUE(other.afterLockReadOnly);

  DeviceDef d;
  d.blockCount = 100;
  EXPECT_EQ(listedBlockCount(d), 64);
  d.blockCount = -3;
  EXPECT_EQ(listedBlockCount(d), 0);
}

TEST(IdCodeRules, TextFormAndFieldCheck) {
  IdCode id;
  EXPECT_EQ(idCodeText(id), "");
  id.idLength = 3;
  id.idBytes[0] = 0x01;
  id.idBytes[1] = 0xA2;
  id.idBytes[2] = 0xFF;
  id.idBytes[3] = 0x77;  // beyond idLength
  EXPECT_EQ(idCodeText(id), "01,A2,FF");
  id.idLength = 200;  // a damaged record shows at most 32 bytes
  EXPECT_EQ(idCodeText(id).size(), 32u * 3 - 1);

  for (const char* ok : {"", "0", "a", "FF", "9c"}) EXPECT_TRUE(idFieldAcceptable(ok)) << ok;
  for (const char* bad : {"g", "123", "0x", " 1"}) EXPECT_FALSE(idFieldAcceptable(bad)) << bad;
  EXPECT_EQ(idFieldValue(""), 0);
  EXPECT_EQ(idFieldValue("A"), 0x0A);
  EXPECT_EQ(idFieldValue("fe"), 0xFE);
}

TEST(IdCodeRules, FieldGeometryAndWindowHeight) {
  auto r = idFieldRect(9);
  EXPECT_EQ(r.left, 20 + 32);
  EXPECT_EQ(r.top, 30 + 44);
  EXPECT_EQ(r.width, 24);
  EXPECT_EQ(r.height, 24);
  EXPECT_EQ(idDialogClientHeight(8) + 70, idDialogClientHeight(16));
  EXPECT_EQ(idDialogClientHeight(0), idDialogClientHeight(7));
  // Every field of a 32-byte code lies inside its window.
  EXPECT_LT(idFieldRect(31).top + 24, idDialogClientHeight(32));
  EXPECT_LT(idFieldRect(15).top + 24, idDialogClientHeight(16));
  EXPECT_LT(idFieldRect(7).top + 24, idDialogClientHeight(8));
  EXPECT_GT(idDialogClientHeight(32), idDialogClientHeight(24));
}

}  // namespace
}  // namespace vrx4
