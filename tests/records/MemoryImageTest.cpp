#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "image/MemoryImage.h"

namespace vrx4::test {
namespace {

DeviceDef device(uint32_t start, uint32_t size) {
  DeviceDef d;
  d.userRomStart = start;
  d.userRomSize = size;
  d.userRomEnd = start + size - 1;
  return d;
}

std::vector<int> markedBanks(const MemoryImage& m) {
  std::vector<int> v;
  for (int i = kBankCount - 1; i >= 0; --i)
    if (m.bankHasData[size_t(i)]) v.push_back(i);
  return v;
}

// Reference sum of a byte range, independent of the code under test.
uint16_t refSum(const uint8_t* p, size_t n) {
  unsigned s = 0;
  for (size_t i = 0; i < n; ++i) s = (s + p[i]) & 0xFFFF;
  return uint16_t(s);
}

class MemoryImageTest : public ::testing::Test {
 protected:
  std::unique_ptr<MemoryImage> m = std::make_unique<MemoryImage>();
  std::unique_ptr<ProjectSettings> ps = std::make_unique<ProjectSettings>();
};

TEST(ClassifyProtect, LevelsOfTheControlByte) {
  EXPECT_EQ(classifyProtect(0x0F), 0);  // bits 5..4 clear: released
  EXPECT_EQ(classifyProtect(0xF3), 2);
  EXPECT_EQ(classifyProtect(0x3F), 1);
  EXPECT_EQ(classifyProtect(0xFF), 0);  // erased
  EXPECT_EQ(classifyProtect(0x00), 0);
  EXPECT_EQ(classifyProtect(0x10), 2);  // one protect bit, bits 3..2 clear
  EXPECT_EQ(classifyProtect(0xBC), 1);  // bits 7..6 not both set
  EXPECT_EQ(classifyProtect(0x7C), 1);
}

TEST_F(MemoryImageTest, StartsBlankAndInitializeRestoresIt) {
  EXPECT_TRUE(std::all_of(m->userImage.begin(), m->userImage.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::all_of(m->bootImage.begin(), m->bootImage.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(markedBanks(*m).empty());
  m->userImage.fill(0);
  m->bootImage[100] = 1;
  m->bankHasData[7] = 1;
  m->clearUserImage();
  EXPECT_EQ(m->userImage.front(), 0xFF);
  EXPECT_EQ(m->userImage.back(), 0xFF);
  EXPECT_EQ(m->bootImage[100], 1) << "clearUserImage leaves the boot image";
  EXPECT_EQ(m->bankHasData[7], 1);
  m->initialize();
  EXPECT_EQ(m->bootImage[100], 0xFF);
  EXPECT_TRUE(markedBanks(*m).empty());
}

TEST_F(MemoryImageTest, MarkAllBanksMarksEveryBankOfTheArea) {
  m->markAllBanks(device(0x0C000, 0x34000));
  EXPECT_EQ(markedBanks(*m), (std::vector<int>{3, 2, 1, 0}));
  m->markAllBanks(device(0x10000, 0x30000));
  EXPECT_EQ(markedBanks(*m), (std::vector<int>{3, 2, 1})) << "earlier marks are cleared";
  m->markAllBanks(device(0x8000, 0x8000));
  EXPECT_EQ(markedBanks(*m), (std::vector<int>{0}));
  // An area that starts inside a bank: every bank holding a byte of it.
  m->markAllBanks(device(0x8000, 0x10000));
  EXPECT_EQ(markedBanks(*m), (std::vector<int>{1, 0}));
  m->markAllBanks(device(0x1FFFF, 0x2));
  EXPECT_EQ(markedBanks(*m), (std::vector<int>{2, 1}));
  m->markAllBanks(device(0x18000, 0x30000));
  EXPECT_EQ(markedBanks(*m), (std::vector<int>{4, 3, 2, 1}));
  m->markAllBanks(device(0, 0x400000));
  EXPECT_EQ(markedBanks(*m).size(), 64u);
  m->markAllBanks(device(0x20000, 0));
  EXPECT_TRUE(markedBanks(*m).empty());
  m->markAllBanks(DeviceDef{});
  EXPECT_TRUE(markedBanks(*m).empty());
}

TEST_F(MemoryImageTest, MarkAllBanksStaysInsideTheFlags) {
  // An area crossing the top of the 4 MiB bank space wraps to bank 63.
  m->markAllBanks(device(0x3F0000, 0x20000));
  EXPECT_EQ(markedBanks(*m), (std::vector<int>{63, 0}));
  m->markAllBanks(device(0x3F8000, 0x10000));
  EXPECT_EQ(markedBanks(*m), (std::vector<int>{63, 0}));
  // Sizes no table allows (from a foreign project file) mark at most 64.
  DeviceDef huge = device(0, 0xFFFFFFFF);
  m->markAllBanks(huge);
  EXPECT_EQ(markedBanks(*m).size(), 64u);
}

TEST_F(MemoryImageTest, ChecksumIsZeroWithoutADevice) {
  m->userImage.fill(0x12);
  EXPECT_EQ(m->imageChecksum(ImageArea::User, *ps), 0);
  EXPECT_EQ(m->imageChecksum(ImageArea::Boot, *ps), 0);
}

TEST_F(MemoryImageTest, UserChecksumSumsTheAreaOnly) {
  ps->device = device(0x8000, 0x8000);
  for (size_t i = 0; i < 0x8000; ++i) m->userImage[i] = uint8_t(i * 31 + 7);
  m->userImage[0x8000] = 0x00;  // past the area: not counted
  EXPECT_EQ(m->imageChecksum(ImageArea::User, *ps), refSum(m->userImage.data(), 0x8000));
  // The whole 4 MiB of blank bytes: 0x400000 * 0xFF is 0 modulo 65536.
  m->clearUserImage();
  ps->device = device(0, 0x400000);
  EXPECT_EQ(m->imageChecksum(ImageArea::User, *ps), 0);
  m->userImage[0x3FFFFF] = 0xFE;
  EXPECT_EQ(m->imageChecksum(ImageArea::User, *ps), 0xFFFF);
  // Addresses count in 22 bits: a ROM at 0xC00000 is summed like one at 0.
  ps->device = device(0xC08000, 0x100);
  m->userImage[0] = 0x01;
  EXPECT_EQ(m->imageChecksum(ImageArea::User, *ps), uint16_t(0x01 + 0xFF * 0xFF));
}

TEST_F(MemoryImageTest, ChecksumNeverReadsPastItsImage) {
  // An area that wraps past the top of the 22-bit space is as long as it is.
  ps->device = device(0x3F0000, 0x20000);
  m->userImage.fill(0);
  m->userImage[0] = 1;
  m->userImage[0x1FFFF] = 5;  // last byte of the area
  m->userImage[0x20000] = 7;  // first byte past it
  EXPECT_EQ(m->imageChecksum(ImageArea::User, *ps), 6);
  // A boot area claiming more than 64 KiB sums the 64 KiB there are.
  ps->bootStart = 0xF000;
  ps->bootEnd = 0x3FFFFF;
  m->bootImage.fill(1);
  EXPECT_EQ(m->imageChecksum(ImageArea::Boot, *ps), 0);  // 0x10000 modulo 65536
  m->bootImage[0] = 2;
  EXPECT_EQ(m->imageChecksum(ImageArea::Boot, *ps), 1);
}

TEST_F(MemoryImageTest, BootChecksumUsesTheBootImage) {
  ps->bootStart = 0xF000;
  ps->bootEnd = 0xF7FF;
  ps->bootSize = 0x800;
  for (size_t i = 0; i < 0x800; ++i) m->bootImage[i] = uint8_t(i);
  m->bootImage[0x800] = 0;
  EXPECT_EQ(m->imageChecksum(ImageArea::Boot, *ps), refSum(m->bootImage.data(), 0x800));
}

TEST_F(MemoryImageTest, BlockChecksumsPerBlock) {
  DeviceDef d = device(0x10000, 0x30000);
  d.blockCount = 3;
  const uint32_t starts[] = {0x10000, 0x20000, 0x38000};
  const uint32_t sizes[] = {0x10000, 0x100, 0x8000};
  for (int i = 0; i < 3; ++i) {
    d.blockStart[i] = starts[i];
    d.blockSize[i] = sizes[i];
  }
  for (size_t i = 0; i < 0x30000; ++i) m->userImage[i] = uint8_t(i ^ (i >> 8));
  uint16_t sums[kMaxBlocks];
  std::fill(std::begin(sums), std::end(sums), 0xABCD);
  m->blockChecksums(d, sums);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(sums[i], refSum(m->userImage.data() + (starts[i] - 0x10000), sizes[i])) << i;
  EXPECT_EQ(sums[3], 0xABCD) << "only blockCount entries are written";
}

TEST_F(MemoryImageTest, BlockChecksumsKeepToTheImage) {
  DeviceDef d = device(0x10000, 0x400000);
  m->userImage.fill(1);
  d.blockCount = 4;
  d.blockStart[0] = 0x0F000;  // starts 0x1000 below the image
  d.blockSize[0] = 0x2000;
  d.blockStart[1] = 0x40F000;  // ends 0x1000 past the image
  d.blockSize[1] = 0x2000;
  d.blockStart[2] = 0x800000;  // wholly past it
  d.blockSize[2] = 0x1000;
  d.blockStart[3] = 0xFFFFF000;  // wraps the 32-bit space
  d.blockSize[3] = 0xFFFFFFFF;
  uint16_t sums[kMaxBlocks] = {};
  m->blockChecksums(d, sums);
  EXPECT_EQ(sums[0], 0x1000);
  EXPECT_EQ(sums[1], 0x1000);
  EXPECT_EQ(sums[2], 0);
  EXPECT_EQ(sums[3], 0);
  // Counts outside 0..64 write nothing past the 64 entries.
  std::vector<uint16_t> guard(kMaxBlocks + 8, 0x5555);
  d.blockCount = 100;
  m->blockChecksums(d, guard.data());
  EXPECT_EQ(guard[kMaxBlocks], 0x5555);
  std::fill(guard.begin(), guard.end(), 0x5555);
  d.blockCount = -3;
  m->blockChecksums(d, guard.data());
  EXPECT_EQ(guard[0], 0x5555);
}

}  // namespace
}  // namespace vrx4::test
