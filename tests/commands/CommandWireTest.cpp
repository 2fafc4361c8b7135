// The exact bytes every command puts on the pipe.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "CommandFixture.h"

namespace vrx4::test {
namespace {

TEST_F(CommandTest, CommandsWithoutPayloadSendFourBytes) {
  // One row per case, laid out by hand.
  // clang-format off
  const std::pair<uint8_t, std::function<void()>> cases[] = {
      {0x02, [] { uint8_t m; getExecutionState(m); }},
      {0x05, [] { bool b; getUpdateState(b); }},
      {0x06, [] { UnitInfo i; getUnitInfo(i); }},
      {0x19, [] { EXPECT_TRUE(initializeUnit()); }},
      {0x1A, [] { EXPECT_TRUE(beginUserDataDownload()); }},
      {0x1B, [] { EXPECT_TRUE(beginBootDataDownload()); }},
      {0x1D, [] { bool b; getBusyState(b); }},
      {0x1F, [] { EXPECT_TRUE(startOperation()); }},
      {0x20, [] { OperationStatus s; getOperationStatus(s); }},
      {0x21, [] { EXPECT_TRUE(abortOperation()); }},
      {0x22, [] { InitialLoadData d; getInitialLoadData(d); }},
      {0x23, [] { BlockMask m; readLockBits(m); }},
      {0x24, [] { std::string v; readVersion(v); }},
      {0x41, [] { BootAreaInfo b; getBootAreaInfo(b); }},
  };
  // clang-format on
  for (const auto& [code, call] : cases) {
    unit->clearHistory();
    call();
    EXPECT_EQ(unit->transfers(), std::vector<Bytes>{Bytes({0x01, 0x00, code, code})}) << int(code);
  }
}

TEST_F(CommandTest, SmallPayloadsMatchHandComputedFrames) {
  // One row per case, laid out by hand.
  // clang-format off
  const std::pair<Bytes, std::function<bool()>> cases[] = {
      {{0x02, 0x00, 0x01, 0x01, 0x02}, [] { return setExecutionMode(kUpdateMode); }},
      {{0x02, 0x00, 0x01, 0x02, 0x03}, [] { return setExecutionMode(kFirmwareMode); }},
      {{0x03, 0x00, 0x03, 0x07, 0xF0, 0xFA}, [] { return beginFirmwareUpdate(); }},
      {{0x02, 0x00, 0x12, 0x01, 0x13}, [] { return setUserDataPresent(true); }},
      {{0x02, 0x00, 0x12, 0x00, 0x12}, [] { return setUserDataPresent(false); }},
      {{0x03, 0x00, 0x16, 0x06, 0x03, 0x1F}, [] { return setOperation(6, 3); }},
      {{0x02, 0x00, 0x13, 0x00, 0x13}, [] { return setUserFileName(""); }},
      {{0x04, 0x00, 0x13, 0x02, 'A', 'B', 0x98}, [] { return setUserFileName("AB"); }},
      {{0x04, 0x00, 0x14, 0x01, 0x34, 0x12, 0x5B},
       [] { const uint16_t s[1] = {0x1234}; return setBlockChecksums(1, s); }},
      {{0x05, 0x00, 0x15, 0x03, 0xAA, 0xBB, 0xCC, 0x49},
       [] { IdCode id; id.idLength = 3; id.idBytes[0] = 0xAA; id.idBytes[1] = 0xBB;
            id.idBytes[2] = 0xCC; id.idBytes[3] = 0xDD; return setIdCode(id); }},
      {{0x12, 0x00, 0x17, 0x01, 1, 2, 3, 4, 5, 6, 7, 8,
        0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0xD8},
       [] { LockBitTable t; t.lockBitState = 1;
            for (int i = 0; i < 8; ++i) {
              t.deviceBlockMask.bytes[i] = 0xEE;
              t.operationBlockMask.bytes[i] = uint8_t(i + 1);
              t.lockAfterProgramMask.bytes[i] = uint8_t(0x10 + i);
            }
            return setBlockSettings(t); }},
  };
  // clang-format on
  for (const auto& [frame, call] : cases) {
    unit->clearHistory();
    EXPECT_TRUE(call());
    EXPECT_EQ(unit->transfers(), std::vector<Bytes>{frame});
  }
  uint8_t page[256];
  readDataPage(0x1234, page);
  EXPECT_EQ(lastRequest(), (Bytes{0x03, 0x00, 0x1E, 0x34, 0x12, 0x64}));
}

TEST_F(CommandTest, CanSettingSendsItsFirst44BytesIn48) {
  CanSetting can;
  can.clockMhz = 20;
  can.prescalerMinus1 = 3;
  can.tseg1 = 13;
  can.tseg2 = 2;
  can.sjw = 1;
  can.sendFrameMask = 3;
  can.preFrame.frameFormat = 2;
  can.preFrame.sid = 0x123;
  can.preFrame.eid = 0x3FFFF;
  can.preFrame.dlc = 8;
  for (int i = 0; i < 8; ++i) can.preFrame.data[i] = uint8_t(0x11 * (i + 1));
  can.postFrame.frameFormat = 1;
  can.postFrame.frameType = 1;
  can.postFrame.sid = 0x7FF;
  can.pulseEnabled = 1;
  can.pulseCycleMs = 500;
  can.baudKbps = 500.0f;
  can.samplePointPct = 70;
  ASSERT_TRUE(setCanSetting(can));
  // The bytes grouped by field.
  // clang-format off
  const Bytes expected = frameOf({0x18, 20, 3, 13, 2, 1, 0, 3,
                                  2, 0, 0x23, 0x01, 0xFF, 0xFF, 0x03, 0x00, 8,
                                  0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                  1, 1, 0xFF, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                  1, 0xF4, 0x01});
  // clang-format on
  ASSERT_EQ(expected.size(), 48u);
  EXPECT_EQ(unit->transfers(), std::vector<Bytes>{expected});

  // Byte 5 goes out as 0 whatever a loaded record holds there.
  unit->clearHistory();
  can.reserved5 = 0x5A;
  ASSERT_TRUE(setCanSetting(can));
  EXPECT_EQ(unit->transfers(), std::vector<Bytes>{expected});
}

TEST_F(CommandTest, PagesGoOutAs262BytesWithoutZeroLengthPacket) {
  uint8_t data[256];
  for (int i = 0; i < 256; ++i) data[i] = uint8_t(i * 3);
  // One row per case, laid out by hand.
  // clang-format off
  const std::pair<uint8_t, std::function<bool()>> cases[] = {
      {0x1C, [&] { return writeDataPage(0x0102, data); }},
      {0x04, [&] { return writeFirmwarePage(0x0102, data); }},
  };
  // clang-format on
  for (const auto& [code, call] : cases) {
    unit->clearHistory();
    ASSERT_TRUE(call());
    Bytes body{code, 0x02, 0x01};
    body.insert(body.end(), data, data + 256);
    EXPECT_EQ(unit->transfers(), std::vector<Bytes>{frameOf(body)}) << int(code);
  }
}

DeviceDef twoBlockDevice() {
  DeviceDef d;
  d.setName("TEST-DEV-16CHAR!");
  d.bootRomStart = 0x00FF0000;
  d.bootRomSize = 0x2000;
  d.userRomStart = 0x00010000;
  d.userRomSize = 0x00040000;
  d.voltageCode = 0x0103;
  d.idCodeLength = 7;
  d.idCodeAddress[0] = 0x0003FFE8;
  d.idCodeAddress[1] = 0x0003FFE9;
  d.blockCount = 2;
  d.blockStart[0] = 0x10000;
  d.blockStart[1] = 0x30000;
  d.blockSize[0] = 0x20000;
  d.blockSize[1] = 0x10000;
  d.blockStart[2] = 0xDEAD;  // beyond blockCount: not sent
  d.extraByte1 = 0xE1;
  d.extraByte2 = 0xE2;
  d.lockBitMode = 1;
  d.blockSelectFlags = 1;
  return d;
}

TEST_F(CommandTest, SetDeviceOf64BytesIsFollowedByAZeroLengthPacket) {
  ASSERT_TRUE(setDevice(twoBlockDevice()));
  // The bytes grouped by field.
  // clang-format off
  const Bytes expected = {
      0x3D, 0x00, 0x11, 16, 'T', 'E', 'S', 'T', '-', 'D', 'E', 'V', '-', '1', '6', 'C', 'H', 'A', 'R', '!',
      0x00, 0x00, 0xFF, 0x00,  0x00, 0x20, 0x00, 0x00,  0x00, 0x00, 0x01, 0x00,  0x00, 0x00, 0x04, 0x00,
      0x03, 0x07,  0xE8, 0xFF, 0x03, 0x00,  0x02,
      0x00, 0x00, 0x01, 0x00,  0x00, 0x00, 0x03, 0x00,  0x00, 0x00, 0x02, 0x00,  0x00, 0x00, 0x01, 0x00,
      0xE1, 0xE2, 0x01, 0x01,  0x26};
  // clang-format on
  ASSERT_EQ(expected.size(), 64u);
  EXPECT_EQ(unit->transfers(), (std::vector<Bytes>{expected, Bytes{}}));
  EXPECT_EQ(unit->requests(), std::vector<Bytes>{expected});
}

TEST_F(CommandTest, SetDeviceWith64BlocksAndA64CharacterNameSends608Bytes) {
  DeviceDef d;
  std::string name;
  for (int i = 0; i < 64; ++i) name.push_back(char('A' + i % 26));
  d.setName(name);
  d.blockCount = 64;
  for (int k = 0; k < 64; ++k) {
    d.blockStart[k] = uint32_t(k) << 16;
    d.blockSize[k] = 0x10000u + uint32_t(k);
  }
  d.blockSelectFlags = 0x5A;
  ASSERT_TRUE(setDevice(d));
  auto t = unit->transfers();
  ASSERT_EQ(t.size(), 1u);
  const Bytes& f = t[0];
  ASSERT_EQ(f.size(), 608u);
  EXPECT_EQ(f[0] | (f[1] << 8), 605);
  EXPECT_EQ(f[3], 64);
  EXPECT_EQ(Bytes(f.begin() + 4, f.begin() + 68), Bytes(name.begin(), name.end()));
  EXPECT_EQ(f[90], 64);                                                      // blockCount at 26 + n
  EXPECT_EQ(Bytes(f.begin() + 343, f.begin() + 347), (Bytes{0, 0, 63, 0}));  // blockStart[63]
  EXPECT_EQ(Bytes(f.begin() + 599, f.begin() + 603), (Bytes{63, 0, 1, 0}));  // blockSize[63]
  EXPECT_EQ(f[606], 0x5A);
}

TEST_F(CommandTest, SetDeviceClampsDamagedCountsToTheArrays) {
  struct Case {
    int32_t idCodeLength, blockCount;
    uint8_t sentId, sentBlocks;
  };
  for (const Case& c : {Case{99, 100, 32, 64}, Case{-1, -3, 0, 0}, Case{0x7FFFFFFF, 65, 32, 64}}) {
    unit->clearHistory();
    DeviceDef d = twoBlockDevice();
    d.setName("X");
    d.idCodeLength = c.idCodeLength;
    d.blockCount = c.blockCount;
    ASSERT_TRUE(setDevice(d));
    const Bytes f = lastRequest();
    ASSERT_EQ(f.size(), 1u + 8u * c.sentBlocks + 32u);
    EXPECT_EQ(f[22], c.sentId);
    EXPECT_EQ(f[27], c.sentBlocks);
  }
}

TEST_F(CommandTest, OutOfRangeArgumentsAreRefusedWithoutSending) {
  LogCapture log;
  const std::function<bool()> refused[] = {
      [] { return setUserFileName(std::string(256, 'f')); },
      [] { return setExecutionMode(0); },
      [] { return setExecutionMode(3); },
      [] {
        const uint16_t s[65] = {};
        return setBlockChecksums(65, s);
      },
      [] { return setBlockChecksums(-1, nullptr); },
      [] { return setBlockChecksums(2, nullptr); },
  };
  for (const auto& call : refused) EXPECT_FALSE(call());
  EXPECT_TRUE(unit->transfers().empty());
  EXPECT_TRUE(prompts.prompts().empty());
  EXPECT_EQ(log.lines().size(), std::size(refused));

  // The largest that fit go out whole.
  ASSERT_TRUE(setUserFileName(std::string(255, 'f')));
  EXPECT_EQ(lastRequest().size(), 260u);
  uint16_t sums[64];
  for (int k = 0; k < 64; ++k) sums[k] = uint16_t(0x0101 * k);
  ASSERT_TRUE(setBlockChecksums(64, sums));
  EXPECT_EQ(lastRequest().size(), 133u);
  EXPECT_EQ(lastRequest()[4 + 2 * 63], 63);
  // An ID length beyond any device is cut to 32 bytes.
  IdCode id;
  id.idLength = 40;
  ASSERT_TRUE(setIdCode(id));
  EXPECT_EQ(lastRequest().size(), 37u);
  EXPECT_EQ(lastRequest()[3], 32);
}

}  // namespace
}  // namespace vrx4::test
