#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "app/DeviceTable.h"
#include "base/ProjectSettings.h"

namespace vrx4::test {
namespace {

// The raw bytes of a record.
template <typename T>
std::vector<uint8_t> bytesOf(const T& r) {
  std::vector<uint8_t> v(sizeof r);
  std::memcpy(v.data(), &r, sizeof r);
  return v;
}

std::vector<uint8_t> at(const std::vector<uint8_t>& b, size_t offset, size_t n) {
  return {b.begin() + long(offset), b.begin() + long(offset + n)};
}

TEST(RecordLayout, SettingsFieldsLieAtTheirOffsetsLittleEndian) {
  auto ps = std::make_unique<ProjectSettings>();
  EXPECT_EQ(sizeof(ProjectSettings), 3008u);
  auto blank = bytesOf(*ps);
  EXPECT_EQ(std::count(blank.begin(), blank.end(), 0), 3008) << "a fresh record is all zero";

  ps->lockBits.lockBitState = 1;
  ps->lockBits.lockAfterProgramMask.set(9);
  ps->userFileNameLength = -2;
  ps->userChecksum = 0xBEEF;
  ps->protectLevel = 2;
  ps->idCode.idLength = 7;
  ps->can.baudKbps = 500.0f;
  ps->can.samplePointPct = 70;
  ps->device.userRomStart = 0x12345678;
  ps->device.blockCount = 64;
  ps->device.blockSelectFlags = 3;
  ps->deviceIndex = -1;
  ps->optionMode = 1;
  ps->bootFileLoaded = 1;
  ps->bootChecksum = 0x0102;
  ps->bootEnd = 0xF07FF;
  ps->sendFlags = 3;
  auto b = bytesOf(*ps);
  using V = std::vector<uint8_t>;
  EXPECT_EQ(b[16], 1);
  EXPECT_EQ(at(b, 17, 2), (V{0x00, 0x02}));
  EXPECT_EQ(at(b, 28, 4), (V{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(at(b, 1056, 2), (V{0xEF, 0xBE}));
  EXPECT_EQ(at(b, 1064, 4), (V{2, 0, 0, 0}));
  EXPECT_EQ(b[1068], 7);
  EXPECT_EQ(at(b, 1148, 4), (V{0x00, 0x00, 0xFA, 0x43}));  // 500.0f
  EXPECT_EQ(b[1152], 70);
  EXPECT_EQ(at(b, 1156 + 76, 4), (V{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(at(b, 1156 + 228, 4), (V{64, 0, 0, 0}));
  EXPECT_EQ(b[1156 + 751], 3);
  EXPECT_EQ(at(b, 1908, 4), (V{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(at(b, 1916, 4), (V{1, 0, 0, 0}));
  EXPECT_EQ(b[1920], 1);
  EXPECT_EQ(at(b, 2952, 2), (V{0x02, 0x01}));
  EXPECT_EQ(at(b, 2992, 4), (V{0xFF, 0x07, 0x0F, 0x00}));
  EXPECT_EQ(at(b, 3004, 4), (V{3, 0, 0, 0}));

  // Raw bytes read back into a record give the same values.
  auto copy = std::make_unique<ProjectSettings>();
  std::memcpy(copy.get(), b.data(), b.size());
  EXPECT_EQ(int32_t(copy->userFileNameLength), -2);
  EXPECT_EQ(uint32_t(copy->device.userRomStart), 0x12345678u);
  EXPECT_EQ(int32_t(copy->deviceIndex), -1);
  EXPECT_EQ(float(copy->can.baudKbps), 500.0f);
  EXPECT_TRUE(copy->lockBits.lockAfterProgramMask.test(9));
  EXPECT_EQ(bytesOf(*copy), b);
}

TEST(RecordLayout, ParsedRowHasTheStoredForm) {
  std::istringstream in(
      "# T552-VRX4\n"
      "DEMO-R,F000,800,10000,30000,41,3FFFF,2,FFDF/FFE3,2,10000/20000,10000/20000,A5,5A,1,3\n");
  DeviceTable table;
  ASSERT_TRUE(parseDeviceTable(in, table));
  auto b = bytesOf(table.row(0));
  ASSERT_EQ(b.size(), 752u);
  using V = std::vector<uint8_t>;
  EXPECT_EQ(at(b, 0, 7), (V{'D', 'E', 'M', 'O', '-', 'R', 0}));
  EXPECT_EQ(at(b, 64, 12), (V{0x00, 0xF0, 0, 0, 0xFF, 0xF7, 0, 0, 0x00, 0x08, 0, 0}));  // start, end, size
  EXPECT_EQ(at(b, 76, 12), (V{0, 0, 1, 0, 0xFF, 0xFF, 3, 0, 0, 0, 3, 0}));
  EXPECT_EQ(at(b, 88, 4), (V{0x41, 0, 0, 0}));
  EXPECT_EQ(at(b, 96, 12), (V{2, 0, 0, 0, 0xDF, 0xFF, 0, 0, 0xE3, 0xFF, 0, 0}));
  EXPECT_EQ(at(b, 228, 8), (V{2, 0, 0, 0, 3, 0, 0, 0}));  // blockCount, blockMask
  EXPECT_EQ(at(b, 236, 8), (V{0, 0, 1, 0, 0, 0, 2, 0}));
  EXPECT_EQ(at(b, 492, 8), (V{0, 0, 1, 0, 0, 0, 2, 0}));
  EXPECT_EQ(at(b, 748, 4), (V{0xA5, 0x5A, 1, 3}));
  EXPECT_EQ(at(b, 500, 248), V(248, 0)) << "list entries beyond the line's are 0";
}

}  // namespace
}  // namespace vrx4::test
