// Every command's answer from the simulated unit, through the real command
// functions and frame exchange.
#include <algorithm>
#include <cstring>
#include <random>

#include "SimFixture.h"
#include "link/FrameExchange.h"
#include "tests/commands/CommandFixture.h"

namespace vrx4::test {
namespace {

class UnitCommands : public SimFixture {};

// Exchanges a hand-built request and returns the raw response frame.
Bytes rawExchange(const Bytes& body) {
  uint8_t f[1024] = {};
  CommandFrame::setBodyLength(f, uint16_t(body.size()));
  std::memcpy(f + 2, body.data(), body.size());
  frameChecksum(f);
  if (!exchangeFrame(f, 512, body.size() + 3)) return {};
  return Bytes(f, f + 3 + CommandFrame::bodyLength(f));
}

TEST_F(UnitCommands, IdentityAndModes) {
  auto unit = plugIn();
  UnitInfo info;
  ASSERT_TRUE(getUnitInfo(info));
  EXPECT_EQ(info.model, "T552-VRX4");
  EXPECT_EQ(info.firmwareVersion, "Ver.1.11");
  EXPECT_EQ(info.firmwareDate, "2026/02/14");
  EXPECT_EQ(info.secondName, "CAN FLASH PROGRAMMER");
  uint8_t mode = 0;
  ASSERT_TRUE(getExecutionState(mode));
  EXPECT_EQ(mode, 2);

  // Update mode knows only the update commands.
  ASSERT_TRUE(setExecutionMode(1));
  ASSERT_TRUE(getExecutionState(mode));
  EXPECT_EQ(mode, 1);
  EXPECT_FALSE(setDevice(testDevice()));
  EXPECT_EQ(prompts.texts().back(), "Command execution error.");
  ASSERT_TRUE(setExecutionMode(2));
  ASSERT_TRUE(getExecutionState(mode));
  EXPECT_EQ(mode, 2);
  // And firmware mode refuses them.
  EXPECT_FALSE(beginFirmwareUpdate());
  bool busy = true;
  EXPECT_FALSE(getUpdateState(busy));
}

TEST_F(UnitCommands, VerboseUnitLogsOneLinePerCommandAndCountsRepeatedPolls) {
  auto unit = plugIn();
  unit->setVerbose(true);
  LogCapture log;
  uint8_t mode = 0;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(getExecutionState(mode));
  UnitInfo info;
  ASSERT_TRUE(getUnitInfo(info));
  EXPECT_FALSE(setOperation(9, 0));
  const std::vector<std::string> want = {
      "unit:   2 getExecutionState      ok 02",
      "unit: (last line repeated 2 times)",
      "unit:   6 getUnitInfo            ok",
      "unit:  22 setOperation           error 227",
  };
  auto lines = log.lines();
  lines.erase(std::remove_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("unit:", 0) != 0; }),
              lines.end());
  EXPECT_EQ(lines, want);
}

TEST_F(UnitCommands, HistoryIsKeptOnlyWhenAsked) {
  auto quiet = plugIn();
  UnitInfo info;
  ASSERT_TRUE(getUnitInfo(info));
  EXPECT_TRUE(quiet->requests().empty());
  pullOut();
  ProgrammerOptions o = options();
  o.keepHistory = true;
  auto kept = plugIn(o);
  kept->clearHistory();
  ASSERT_TRUE(getUnitInfo(info));
  ASSERT_EQ(kept->requests().size(), 1u);
  EXPECT_EQ(kept->requests()[0], (Bytes{1, 0, 6, 6}));
}

TEST_F(UnitCommands, UnknownCommandsAndBadLengthsAreRefused) {
  auto unit = plugIn();
  EXPECT_TRUE(rawExchange({0x07}).empty());
  EXPECT_EQ(prompts.texts().back(), "Command error.");
  // setOperation with one byte instead of two, and an operation code of 7.
  EXPECT_TRUE(rawExchange({0x16, 0x01}).empty());
  EXPECT_EQ(prompts.texts().back(), "Command execution error.");
  EXPECT_TRUE(rawExchange({0x16, 0x07, 0x00}).empty());
  // A device payload whose length does not match its block count.
  EXPECT_TRUE(rawExchange({0x11, 0x00, 1, 2, 3}).empty());
  EXPECT_EQ(unit->keptSettings().hasDevice, false);
}

TEST_F(UnitCommands, FreshUnitHoldsNoSettingsAndReturnsKeptOnesInLayout) {
  auto unit = plugIn();
  InitialLoadData d;
  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  EXPECT_FALSE(d.hasSettings);

  ASSERT_TRUE(setDevice(testDevice()));
  ASSERT_TRUE(setUserDataPresent(true));
  ASSERT_TRUE(setUserFileName("/home/op/prog.mot"));
  const uint16_t sums[4] = {0x1234, 0xABCD, 0, 0xFFFF};
  ASSERT_TRUE(setBlockChecksums(4, sums));
  ASSERT_TRUE(setIdCode(idCodeOf({1, 2, 3, 4})));
  ASSERT_TRUE(setOperation(5, 3));
  ASSERT_TRUE(setBlockSettings(blocks({0, 2}, 1, {3})));
  CanSetting can;
  can.clockMhz = 16;
  can.prescalerMinus1 = 1;
  can.tseg1 = 11;
  can.tseg2 = 4;
  can.sjw = 1;
  can.sendFrameMask = 3;
  can.preFrame.sid = 0x123;
  can.preFrame.dlc = 2;
  can.preFrame.data[1] = 0x55;
  can.postFrame.eid = 0x3FFFF;
  can.pulseEnabled = 1;
  can.pulseCycleMs = 500;
  ASSERT_TRUE(setCanSetting(can));

  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  ASSERT_TRUE(d.hasSettings);
  EXPECT_EQ(d.deviceName, "TEST-64K4");
  EXPECT_EQ(d.unused3, 1);  // the user-data-present flag
  EXPECT_EQ(d.userFileName, "/home/op/prog.mot");
  EXPECT_EQ(d.blockSums[0], 0x1234);
  EXPECT_EQ(d.blockSums[1], 0xABCD);
  EXPECT_EQ(d.blockSums[3], 0xFFFF);
  EXPECT_EQ(d.blockSums[4], 0);
  ASSERT_EQ(d.idLength, 4);
  EXPECT_EQ(d.idBytes[3], 4);
  EXPECT_EQ(d.operationCode, 5);
  EXPECT_EQ(d.sendFlags, 3);
  EXPECT_EQ(d.lockBitState, 1);
  EXPECT_EQ(d.operationBlockMask.bytes[0], 0x05);
  EXPECT_EQ(d.lockAfterProgramMask.bytes[0], 0x08);
  EXPECT_EQ(d.canTiming[0], 16);
  EXPECT_EQ(d.canTiming[2], 11);
  EXPECT_EQ(d.sendFrameMask, 3);
  EXPECT_EQ(uint16_t(d.preFrame.sid), 0x123);
  EXPECT_EQ(d.preFrame.data[1], 0x55);
  EXPECT_EQ(uint32_t(d.postFrame.eid), 0x3FFFFu);
  EXPECT_EQ(d.pulseEnabled, 1);
  EXPECT_EQ(d.pulseCycleMs, 500);
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(UnitCommands, LongestKeptValuesStillFitTheReply) {
  auto unit = plugIn();
  ASSERT_TRUE(setDevice(testDevice(std::string(63, 'N'))));
  IdCode id;
  id.idLength = 32;
  ASSERT_TRUE(setIdCode(id));
  ASSERT_TRUE(setUserFileName(std::string(183, 'f')));
  EXPECT_FALSE(setUserFileName(std::string(184, 'f')));
  EXPECT_EQ(prompts.texts().back(), "Command execution error.");
  InitialLoadData d;
  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  EXPECT_EQ(d.deviceName, std::string(63, 'N'));
  EXPECT_EQ(d.userFileName, std::string(183, 'f'));
  // The widest reply the unit can give: 64 name characters and a 64-byte ID.
  Bytes body = {0x15, 64};
  body.resize(66, 0xEE);
  ASSERT_FALSE(rawExchange(body).empty());
  ASSERT_TRUE(setDevice(testDevice(std::string(64, 'N'))));
  const Bytes reply = rawExchange({0x22});
  ASSERT_FALSE(reply.empty());
  EXPECT_LE(reply.size(), 512u);
  EXPECT_EQ(reply[4], 64);  // above 63: the host reads it as "no settings"
}

TEST_F(UnitCommands, InitializeResetsSettingsAndIsBusyForAWhile) {
  auto unit = plugIn();
  ASSERT_TRUE(setDevice(testDevice()));
  ASSERT_TRUE(download(0x10000, pattern(512)));
  ASSERT_TRUE(initializeUnit());
  bool busy = false;
  ASSERT_TRUE(getBusyState(busy));
  EXPECT_TRUE(busy);
  int polls = 0;
  while (busy && polls < 1000) {
    clock().sleepMs(100);
    ASSERT_TRUE(getBusyState(busy));
    ++polls;
  }
  EXPECT_EQ(polls, 20);  // 2 s at 100 ms
  InitialLoadData d;
  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  EXPECT_FALSE(d.hasSettings);
  EXPECT_EQ(fetch(0x10000, 256), Bytes(256, 0xFF));
}

TEST_F(UnitCommands, DataBufferPagesAndBootArea) {
  auto unit = plugIn();
  ASSERT_TRUE(setDevice(testDevice()));
  // Pages are 22-bit addresses / 256: 0x3FFF is the last one.
  const Bytes data = pattern(1024, 9);
  ASSERT_TRUE(download(0x3FFC00, data));
  EXPECT_EQ(fetch(0x3FFC00, 1024), data);
  uint8_t page[256] = {};
  EXPECT_FALSE(writeDataPage(0x4000, page));
  EXPECT_EQ(prompts.texts().back(), "Command execution error.");

  // A new download blanks what it does not send; processing takes 100 ms
  // and more with many pages.
  ASSERT_TRUE(beginUserDataDownload());
  EXPECT_EQ(fetch(0x3FFC00, 256), Bytes(256, 0xFF));
  for (uint16_t p = 0; p < 64; ++p) ASSERT_TRUE(writeDataPage(p, page));
  bool busy = false;
  ASSERT_TRUE(getBusyState(busy));
  EXPECT_TRUE(busy);
  clock().sleepMs(104);
  ASSERT_TRUE(getBusyState(busy));
  EXPECT_FALSE(busy);

  // The boot area travels in bank 15.
  const Bytes boot = pattern(0x800, 3);
  ASSERT_TRUE(beginBootDataDownload());
  for (size_t off = 0; off < boot.size(); off += 256)
    ASSERT_TRUE(writeDataPage(uint16_t((0xF0000 | (0xF000 + off)) >> 8), boot.data() + off));
  EXPECT_FALSE(writeDataPage(0x0E00, page));  // not bank 15
  uint8_t back[256];
  ASSERT_TRUE(readDataPage(0x0F00 | 0xF0, back));
  EXPECT_TRUE(std::equal(back, back + 256, boot.begin()));
  EXPECT_EQ(fetch(0x3F00, 256), Bytes(256, 0));  // user pages still read the user buffer
  BootAreaInfo info;
  ASSERT_TRUE(getBootAreaInfo(info));
  uint16_t sum = 0;
  for (uint8_t b : boot) sum = uint16_t(sum + b);
  EXPECT_EQ(info.flag, 1);
  EXPECT_EQ(info.bootStart, 0xF000u);
  EXPECT_EQ(info.bootSize, 0x800u);
  EXPECT_EQ(info.bootChecksum, sum);
  EXPECT_EQ(info.bootFileName, "");
}

TEST_F(UnitCommands, WritingPagesNeedsAnOpenDownload) {
  auto unit = plugIn();
  uint8_t page[256] = {};
  EXPECT_FALSE(writeDataPage(0x100, page));
  EXPECT_EQ(prompts.texts().back(), "Command execution error.");
}

TEST_F(UnitCommands, TargetQueriesNeedADevice) {
  auto unit = plugIn();
  BlockMask locks;
  std::string version;
  EXPECT_FALSE(readLockBits(locks));
  EXPECT_EQ(prompts.texts().back(), "No target.");
  EXPECT_FALSE(readVersion(version));
  ASSERT_TRUE(setDevice(testDevice()));
  ASSERT_TRUE(readLockBits(locks));
  EXPECT_FALSE(locks.any());
  ASSERT_TRUE(readVersion(version));
  EXPECT_EQ(version, "VER.1.00");
  unit->setTargetConnected(false);
  EXPECT_FALSE(readVersion(version));
  EXPECT_EQ(prompts.texts().back(), "No target.");
}

TEST(UnitRobustness, ArbitraryRequestsGetOneWellFormedAnswerEach) {
  FakeClockScope fake;
  ProgrammerOptions o;
  o.timeScale = 0;
  SimulatedProgrammer unit(o);
  std::mt19937 rng(5);
  const uint8_t codes[] = {1,  2,  3,  4,  5,  6,  17, 18, 19, 20, 21, 22, 23, 24, 25,
                           26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 65, 0,  7,  255};
  // A device first, so that operations and queries reach the target too.
  Bytes device(1, 0);
  const DeviceDef d = testDevice();
  device = {0x11, 9};
  device.insert(device.end(), d.deviceName, d.deviceName + 9);
  for (uint32_t v : {0xF000u, 0x800u, 0x10000u, 0x10000u}) append32(device, v);
  device.insert(device.end(), {0x21, 4});
  append32(device, 0x1FFF0);
  device.push_back(1);
  append32(device, 0x10000);
  append32(device, 0x10000);
  device.insert(device.end(), {0, 0, 1, 1});
  for (int i = 0; i < 20000; ++i) {
    Bytes body;
    if (i % 500 == 0) {
      body = device;
    } else {
      body.push_back(codes[rng() % sizeof codes]);
      const size_t n = rng() % 4 == 0 ? rng() % 300 : rng() % 20;
      // Small values, so that lengths and page numbers are often in range.
      for (size_t k = 0; k < n; ++k) body.push_back(uint8_t(rng() % 3 == 0 ? rng() : rng() % 8));
      if (body[0] == 0x1C && body.size() > 2) body.resize(259);
    }
    const Bytes frame = frameOf(body);
    const bool whole = frame.size() % 64 != 0;
    ASSERT_TRUE(unit.hostWrite(frame.data(), frame.size()));
    if (!whole) {
      ASSERT_TRUE(unit.hostWrite(nullptr, 0));
    }
    uint8_t reply[1024];
    size_t got = 0;
    ASSERT_TRUE(unit.hostRead(reply, sizeof reply, got)) << i;
    ASSERT_GE(got, 4u);
    const size_t len = CommandFrame::bodyLength(reply);
    ASSERT_EQ(got, len + 3) << i;
    ASSERT_LE(got, 512u);
    EXPECT_EQ(reply[2], body[0]);
    EXPECT_EQ(responseChecksum(reply), reply[2 + len]);
    unit.clearHistory();
    if (i % 97 == 0) fake->advance(1000);
  }
}

}  // namespace
}  // namespace vrx4::test
