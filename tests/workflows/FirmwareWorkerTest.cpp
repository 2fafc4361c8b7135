#include <gtest/gtest.h>

#include "ScriptedUnit.h"
#include "app/FirmwareUpdate.h"
#include "link/Commands.h"

namespace vrx4::test {
namespace {

class FirmwareWorkerTest : public ScriptedUnitFixture {
 protected:
  void SetUp() override {
    ScriptedUnitFixture::SetUp();
    image.assign(kFirmwareImageSize, 0xFF);
    for (size_t i = 0; i < image.size(); i += 256) image[i] = uint8_t(i >> 8);
    unit->on(kCmdWriteFirmwarePage, [this](const uint8_t* p, size_t n) {
      EXPECT_EQ(n, 258u);
      pages.push_back(uint16_t(p[0] | (p[1] << 8)));
      firstBytes.push_back(p[2]);
      return ScriptedUnit::ok();
    });
    unit->on(kCmdGetUpdateState,
             [this](const uint8_t*, size_t) { return ScriptedUnit::ok({uint8_t(++updatePolls <= 5 ? 1 : 0)}); });
    unit->on(kCmdGetExecutionState, [this](const uint8_t*, size_t) { return ScriptedUnit::ok({mode}); });
  }
  FirmwareImage image;
  std::vector<uint16_t> pages;
  std::vector<uint8_t> firstBytes;
  int updatePolls = 0;
  uint8_t mode = 2;
  std::atomic<uint32_t> progress{0};
};

TEST_F(FirmwareWorkerTest, SendsAllPagesThenSwitchesToFirmwareMode) {
  updateWorker(image, progress);
  EXPECT_EQ(progress, kUpdateTotal);
  ASSERT_EQ(pages.size(), 1792u);
  EXPECT_EQ(pages.front(), 0xF800);
  EXPECT_EQ(pages.back(), 0xFEFF);
  EXPECT_EQ(firstBytes[1], 0x01);
  EXPECT_EQ(firstBytes[1791], uint8_t(1791));
  EXPECT_EQ(updatePolls, 6);
  auto c = unit->commands();
  EXPECT_EQ(c.front(), kCmdBeginFirmwareUpdate);
  EXPECT_EQ(c[c.size() - 2], kCmdSetExecutionMode);
  EXPECT_EQ(c.back(), kCmdGetExecutionState);
  const auto req = unit->requests().front();
  EXPECT_EQ(req, (std::vector<uint8_t>{3, 0, 0x03, 0x07, 0xF0, uint8_t(0x03 + 0x07 + 0xF0)}));
}

TEST_F(FirmwareWorkerTest, UnitNotInFirmwareModeAtTheEndFails) {
  mode = 1;
  updateWorker(image, progress);
  EXPECT_EQ(progress, kUpdateFailed);
  EXPECT_TRUE(prompts.prompts().empty());
}

TEST_F(FirmwareWorkerTest, FailedPageStopsTheUpdateWithItsMessage) {
  auto n = std::make_shared<int>(0);
  unit->on(kCmdWriteFirmwarePage,
           [n](const uint8_t*, size_t) { return ++*n == 100 ? ScriptedUnit::fail(234) : ScriptedUnit::ok(); });
  updateWorker(image, progress);
  EXPECT_EQ(progress, kUpdateFailed);
  EXPECT_EQ(*n, 100);
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"Flash ROM write error."}));
  EXPECT_EQ(unit->count(kCmdGetUpdateState), 0);
}

TEST_F(FirmwareWorkerTest, UnitBusyForeverIsGivenUpInsteadOfHanging) {
  // Each exchange takes a little bus time.
  unit->on(kCmdGetUpdateState, [this](const uint8_t*, size_t) {
    fakeClock->advance(5);
    return ScriptedUnit::ok({1});
  });
  LogCapture log;
  updateWorker(image, progress);
  EXPECT_EQ(progress, kUpdateFailed);
  EXPECT_GE(kUpdateBusyLimitMs, 5u * 60 * 1000) << "an update may take minutes";
  EXPECT_GE(fakeClock->nowMs(), kUpdateBusyLimitMs);
  EXPECT_LT(fakeClock->nowMs(), kUpdateBusyLimitMs + 10000);
  ASSERT_EQ(prompts.texts(), std::vector<std::string>{"Firmware update error."});
  EXPECT_EQ(prompts.prompts()[0].icon, Icon::Stop);
  bool explained = false;
  for (const std::string& l : log.lines()) explained |= l.find("busy") != std::string::npos;
  EXPECT_TRUE(explained) << "the log says why the update was given up";
  EXPECT_EQ(unit->count(kCmdSetExecutionMode), 0);
}

TEST_F(FirmwareWorkerTest, UnitBusyForMinutesStillFinishes) {
  const uint64_t busyFor = 4 * 60 * 1000;
  unit->on(kCmdGetUpdateState, [this, busyFor](const uint8_t*, size_t) {
    fakeClock->advance(50);
    return ScriptedUnit::ok({uint8_t(fakeClock->nowMs() < busyFor ? 1 : 0)});
  });
  updateWorker(image, progress);
  EXPECT_EQ(progress, kUpdateTotal);
  EXPECT_TRUE(prompts.prompts().empty());
}

}  // namespace
}  // namespace vrx4::test
