// The operations on the target behind the simulated unit, over simulated time.
#include <fstream>

#include "SimFixture.h"

namespace vrx4::test {
namespace {

constexpr uint8_t kEpv = 1, kBlank = 2, kErase = 3, kEraseProgram = 4, kVerify = 5, kRead = 6;

class UnitOperations : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    unit = plugIn();
    ASSERT_TRUE(setDevice(testDevice()));
    ASSERT_TRUE(setBlockSettings(blocks({0, 1, 2, 3})));
    image = pattern(0x10000);
    // The image's ID code bytes (at 0x1FFF0) and the unit's ID code agree.
    for (int i = 0; i < 4; ++i) image[0xFFF0 + i] = uint8_t(0xA0 + i);
    ASSERT_TRUE(setIdCode(idCodeOf({0xA0, 0xA1, 0xA2, 0xA3})));
    ASSERT_TRUE(download(0x10000, image));
  }
  std::shared_ptr<SimulatedProgrammer> unit;
  Bytes image;
};

TEST_F(UnitOperations, EraseProgramVerifyTakesSimulatedTimeAndProgramsTheTarget) {
  const OperationRun run = runOperation(kEpv);
  ASSERT_TRUE(run.polled);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(unit->targetFlash(), image);
  // 300 ms to reach the target, 4 x 20 ms erase overhead + 2/6/2 ms per KiB.
  EXPECT_GE(run.elapsedMs, 1020u);
  EXPECT_LE(run.elapsedMs, 1200u);
  ASSERT_GE(run.percents.size(), 10u);
  EXPECT_TRUE(std::is_sorted(run.percents.begin(), run.percents.end()));
  EXPECT_LT(run.percents.front(), 10);
  EXPECT_GT(run.percents.back(), 85);
  OperationStatus st;
  ASSERT_TRUE(getOperationStatus(st));
  EXPECT_EQ(st.status, 100);  // finished: busy bit clear, 100 percent

  EXPECT_EQ(runOperation(kVerify).result, 1);
  EXPECT_EQ(runOperation(kBlank).result, 8);  // "Blank Err"
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(UnitOperations, ChangedPageFailsVerifyAndEraseMakesTheTargetBlank) {
  ASSERT_EQ(runOperation(kEraseProgram).result, 1);
  Bytes changed = image;
  changed[0x4321] ^= 0x01;
  ASSERT_TRUE(download(0x10000, changed));
  EXPECT_EQ(runOperation(kVerify).result, 6);  // "Verify Err"
  ASSERT_TRUE(download(0x10000, image));
  EXPECT_EQ(runOperation(kVerify).result, 1);
  EXPECT_EQ(runOperation(kErase).result, 1);
  EXPECT_EQ(runOperation(kBlank).result, 1);
  EXPECT_EQ(unit->targetFlash(), Bytes(0x10000, 0xFF));
}

TEST_F(UnitOperations, ReadBringsTheTargetMemoryIntoTheBuffer) {
  ASSERT_EQ(runOperation(kEpv).result, 1);
  ASSERT_TRUE(download(0x10000, Bytes(0x10000, 0x00)));
  ASSERT_EQ(runOperation(kRead).result, 1);
  EXPECT_EQ(fetch(0x10000, 0x10000), image);
}

TEST_F(UnitOperations, OnlyTheOperationBlocksAreTouched) {
  ASSERT_TRUE(setBlockSettings(blocks({1, 3})));
  ASSERT_EQ(runOperation(kEraseProgram).result, 1);
  const Bytes flash = unit->targetFlash();
  EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 0x4000), Bytes(0x4000, 0xFF));
  EXPECT_EQ(Bytes(flash.begin() + 0x4000, flash.begin() + 0x8000),
            Bytes(image.begin() + 0x4000, image.begin() + 0x8000));
  EXPECT_EQ(Bytes(flash.begin() + 0x8000, flash.begin() + 0xC000), Bytes(0x4000, 0xFF));
  // Blank over block 0 alone passes, over block 1 fails.
  ASSERT_TRUE(setBlockSettings(blocks({0})));
  EXPECT_EQ(runOperation(kBlank).result, 1);
  ASSERT_TRUE(setBlockSettings(blocks({0, 1})));
  EXPECT_EQ(runOperation(kBlank).result, 8);
}

TEST_F(UnitOperations, TheTargetsIdCodeMustMatchOnceProgrammed) {
  // A blank target's ID area opens with any ID code.
  ASSERT_TRUE(setIdCode(idCodeOf({9, 9, 9, 9})));
  EXPECT_EQ(runOperation(kBlank).result, 1);
  ASSERT_TRUE(setIdCode(idCodeOf({0xA0, 0xA1, 0xA2, 0xA3})));
  ASSERT_EQ(runOperation(kEpv).result, 1);
  ASSERT_TRUE(setIdCode(idCodeOf({0xA0, 0xA1, 0xA2, 0x00})));
  EXPECT_EQ(runOperation(kVerify).result, 9);  // "ID Err"
  EXPECT_EQ(runOperation(kErase).result, 9);
  EXPECT_EQ(unit->targetFlash(), image);                 // nothing was erased
  ASSERT_TRUE(setIdCode(idCodeOf({0xA0, 0xA1, 0xA2})));  // too short
  EXPECT_EQ(runOperation(kRead).result, 9);
  ASSERT_TRUE(setIdCode(idCodeOf({0xA0, 0xA1, 0xA2, 0xA3})));
  EXPECT_EQ(runOperation(kVerify).result, 1);
}

TEST_F(UnitOperations, EffectiveLockBitsStopEraseAndProgram) {
  // Lock after program sets the lock bit of block 2.
  ASSERT_TRUE(setBlockSettings(blocks({0, 1, 2, 3}, 0, {2})));
  ASSERT_EQ(runOperation(kEraseProgram).result, 1);
  BlockMask locks;
  ASSERT_TRUE(readLockBits(locks));
  EXPECT_EQ(locks.bytes[0], 0x04);

  // Effective: the locked block cannot be erased.
  ASSERT_TRUE(setBlockSettings(blocks({2}, 1)));
  EXPECT_EQ(runOperation(kErase).result, 4);  // "Erase Err"
  EXPECT_EQ(runOperation(kEpv).result, 4);
  // Blocks that are not locked still go.
  ASSERT_TRUE(setBlockSettings(blocks({0, 1}, 1)));
  EXPECT_EQ(runOperation(kEpv).result, 1);

  // A locked block that is blank already fails at programming.
  BlockMask blankLocked;
  blankLocked.set(3);
  ASSERT_TRUE(setBlockSettings(blocks({3}, 0)));
  ASSERT_EQ(runOperation(kErase).result, 1);
  unit->setTargetLockBits(blankLocked);
  ASSERT_TRUE(setBlockSettings(blocks({3}, 1)));
  EXPECT_EQ(runOperation(kEraseProgram).result, 5);  // "Program Err"

  // Ignored lock bits: erasing works and clears the lock bit.
  ASSERT_TRUE(setBlockSettings(blocks({2, 3}, 0)));
  EXPECT_EQ(runOperation(kErase).result, 1);
  ASSERT_TRUE(readLockBits(locks));
  EXPECT_FALSE(locks.any());
}

TEST_F(UnitOperations, AbortStopsPartWay) {
  ASSERT_TRUE(setOperation(kEpv, 0));
  ASSERT_TRUE(startOperation());
  clock().sleepMs(400);
  OperationStatus st;
  ASSERT_TRUE(getOperationStatus(st));
  ASSERT_TRUE(st.running());
  // While it runs the unit takes no new data.
  uint8_t page[256] = {};
  EXPECT_FALSE(writeDataPage(0x100, page));
  EXPECT_EQ(prompts.texts().back(), "Command execution error.");
  ASSERT_TRUE(abortOperation());
  ASSERT_TRUE(getOperationStatus(st));
  EXPECT_FALSE(st.running());
  EXPECT_EQ(st.result, 0);
  clock().sleepMs(5000);
  ASSERT_TRUE(getOperationStatus(st));
  EXPECT_EQ(st.result, 0);
  EXPECT_NE(unit->targetFlash(), image);  // not all of it was programmed
}

TEST_F(UnitOperations, TargetFaultsAndForcedResults) {
  unit->setTargetConnected(false);
  EXPECT_EQ(runOperation(kEpv).result, 3);  // "Contact Err"
  unit->setTargetConnected(true);
  unit->setForcedResult(10);
  EXPECT_EQ(runOperation(kEpv).result, 10);  // "Memory Err"
  unit->setForcedResult(0);
  unit->setTimeScale(3);
  const OperationRun slow = runOperation(kBlank);  // 300 ms + 4 x 16 ms, three times over
  EXPECT_EQ(slow.result, 1);
  EXPECT_GE(slow.elapsedMs, 1092u);
  EXPECT_LE(slow.elapsedMs, 1200u);
  unit->setTimeScale(0);
  const OperationRun run = runOperation(kEpv);
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.elapsedMs, 0u);  // instant: finished at the first poll
}

TEST_F(UnitOperations, StartWithoutADeviceIsNoTarget) {
  ASSERT_TRUE(initializeUnit());
  EXPECT_FALSE(startOperation());
  EXPECT_EQ(prompts.texts().back(), "No target.");
}

TEST(UnitDeviceTable, IdCodeAddressesComeFromTheDeviceTable) {
  TempDir dir;
  {
    std::ofstream t(dir.file("vrx4type.tbl"));
    t << "# T552-VRX4 device definition table\n"
         "DEMO-SCATTER,0x000000, 0x00000, 0x000000, 0x010000, 0x12, 0x00FFFB, 3, "
         "0x00FFDF/0x00FFE3/0x00FFEB, 1, 0x000000, 0x010000, 02, 10, 1, 1\n";
  }
  ScriptedPrompter prompts;
  FakeClockScope fake;
  SimUsbDriver driver;
  UsbDriver* previous = setUsbDriver(&driver);
  ProgrammerOptions o;
  o.deviceTablePath = dir.file("vrx4type.tbl");
  auto unit = std::make_shared<SimulatedProgrammer>(o);
  driver.addUnit(unit);
  ASSERT_TRUE(openLink());

  DeviceDef d = testDevice("DEMO-SCATTER");
  d.userRomStart = 0;
  d.userRomSize = 0x10000;
  d.idCodeLength = 3;
  d.idCodeAddress[0] = 0xFFDF;
  d.blockCount = 1;
  d.blockStart[0] = 0;
  d.blockSize[0] = 0x10000;
  ASSERT_TRUE(setDevice(d));
  Bytes img(0x10000, 0x11);
  img[0xFFDF] = 0x51;
  img[0xFFE3] = 0x52;
  img[0xFFEB] = 0x53;
  ASSERT_TRUE(download(0, img));
  ASSERT_TRUE(setIdCode(idCodeOf({0x51, 0x52, 0x53})));
  EXPECT_EQ(runOperation(kEpv).result, 1);
  EXPECT_EQ(runOperation(kVerify).result, 1);
  ASSERT_TRUE(setIdCode(idCodeOf({0x51, 0x11, 0x11})));  // the consecutive bytes
  EXPECT_EQ(runOperation(kVerify).result, 9);
  closeLink();
  setUsbDriver(previous);
}

}  // namespace
}  // namespace vrx4::test
