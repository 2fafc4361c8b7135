#include <gtest/gtest.h>

#include "LinkFixture.h"

namespace vrx4::test {
namespace {

class UsbLinkTest : public LinkFixture {};

std::array<uint8_t, 18> otherDescriptor(uint16_t vid = 0x1209, uint16_t pid = 0x0001) {
  return {18, 1, 0, 2, 0, 0, 0, 8, uint8_t(vid), uint8_t(vid >> 8), uint8_t(pid), uint8_t(pid >> 8), 0, 1, 0, 0, 0, 1};
}

TEST_F(UsbLinkTest, NoUnitFailsAfterTenTriesOneSecondOfClock) {
  driver.addOtherDevice(otherDescriptor());
  EXPECT_FALSE(openLink());
  EXPECT_EQ(fakeClock->sleepCount(), 10u);
  EXPECT_EQ(fakeClock->sleptMs(), 1000u);
  EXPECT_EQ(linkSlot(), -1);
  EXPECT_EQ(slotsInUse(), 0);
  EXPECT_EQ(driver.openHandleCount(), 0) << "non-matching devices are closed again";
}

TEST_F(UsbLinkTest, FirstMatchingInterfaceIsTakenPastUnrelatedDevices) {
  driver.addOtherDevice(otherDescriptor());
  driver.addUnit(std::make_shared<SimulatedUnit>(kUnitVendorId, kUnitProductId), {.openFails = true});
  driver.addUnit(std::make_shared<SimulatedUnit>(kUnitVendorId, kUnitProductId), {.descriptorFails = true});
  auto first = addUnit();
  auto second = addUnit();
  ASSERT_TRUE(openLink());
  EXPECT_EQ(slotPath(linkSlot()), driver.devicePath(3));
  EXPECT_EQ(fakeClock->sleepCount(), 0u);
  EXPECT_TRUE(isLinkAlive());
  EXPECT_NE(inPipe(), kInvalidHandle);
  EXPECT_NE(outPipe(), kInvalidHandle);
}

TEST_F(UsbLinkTest, UnitWhosePipesDoNotOpenFailsWithoutTryingAnother) {
  addUnit({.pipesFail = true});
  addUnit();
  EXPECT_FALSE(openLink());
  EXPECT_EQ(slotPath(linkSlot()), driver.devicePath(0));
  EXPECT_EQ(fakeClock->sleepCount(), 0u);
  closeLink();
  EXPECT_EQ(slotsInUse(), 0);
  EXPECT_EQ(driver.openHandleCount(), 0);
}

TEST_F(UsbLinkTest, UnconfiguredUnitFailsAndStaysRegisteredUntilClose) {
  auto unit = addUnit();
  unit->setConfiguration(0);
  EXPECT_FALSE(openLink());
  EXPECT_EQ(getConfiguration(linkSlot()), 2);
  EXPECT_EQ(slotsInUse(), 1);
  closeLink();
  EXPECT_EQ(slotsInUse(), 0);
}

TEST_F(UsbLinkTest, FindDeviceHonoursEveryMatchFlag) {
  // class 0xFF, subclass 0, vendor/product of the unit, bcdDevice 0x0111.
  addUnit();
  initSlots();
  const uint16_t v = kUnitVendorId, p = kUnitProductId;
  struct Case {
    uint32_t flags;
    uint8_t cls, sub;
    uint16_t vid, pid;
    uint8_t rel;
    bool found;
  } cases[] = {
      {0, 0, 0, 0, 0, 0, true},
      {kMatchClass, 0xFF, 0, 0, 0, 0, true},
      {kMatchClass, 0x00, 0, 0, 0, 0, false},
      {kMatchSubClass, 0, 0x00, 0, 0, 0, true},
      {kMatchSubClass, 0, 0x01, 0, 0, 0, false},
      {kMatchVendor, 0, 0, v, 0, 0, true},
      {kMatchVendor, 0, 0, uint16_t(v + 1), 0, 0, false},
      {kMatchProduct, 0, 0, 0, p, 0, true},
      {kMatchProduct, 0, 0, 0, uint16_t(p ^ 0x100), 0, false},
      // bcdDevice 0x0111 compared with a byte: never equal.
      {kMatchRelease, 0, 0, 0, 0, 0x11, false},
      {kMatchVendor | kMatchProduct | kMatchClass, 0xFF, 0, v, p, 0, true},
  };
  for (const Case& c : cases) {
    int slot = findDevice(c.flags, c.cls, c.sub, c.vid, c.pid, c.rel);
    EXPECT_EQ(slot >= 0, c.found) << std::hex << c.flags;
    if (slot >= 0) releaseSlot(slot);
  }
  EXPECT_EQ(slotsInUse(), 0);
}

TEST_F(UsbLinkTest, SlotTableTakesLowestFreeSlotAndRefusesWhenFull) {
  initSlots();
  EXPECT_EQ(registerSlot("/a", kInvalidHandle), -1);
  for (int i = 0; i < kSlotCount; ++i) ASSERT_EQ(registerSlot("/dev/" + std::to_string(i), 1000 + i), i);
  EXPECT_EQ(registerSlot("/one-too-many", 5000), -1);
  EXPECT_EQ(slotsInUse(), 128);
  // Freed slots are taken again lowest first.
  for (int i : {70, 5}) {
    LinkFixture::driver.close(1000 + i);
    initSlots();  // the handles are fake; start over rather than close them
  }
  EXPECT_EQ(registerSlot("/x", 1), 0);
  EXPECT_EQ(registerSlot("/y", 2), 1);
}

TEST_F(UsbLinkTest, PathsThatDoNotFitTheSlotAreRefused) {
  initSlots();
  EXPECT_EQ(registerSlot(std::string(259, 'p'), 7), 0);
  EXPECT_EQ(slotPath(0).size(), 259u);
  EXPECT_EQ(registerSlot(std::string(260, 'p'), 8), -1);
  EXPECT_EQ(registerSlot(std::string(1000, 'p'), 9), -1);
  initSlots();
}

TEST_F(UsbLinkTest, CloseLinkWithoutUnitReleasesEverySlot) {
  initSlots();
  addUnit();
  // Register devices outside the link, as a failed search would leave them.
  UsbHandle h1 = driver.open(driver.devicePath(0));
  UsbHandle h2 = driver.open(driver.devicePath(0));
  ASSERT_GE(registerSlot(driver.devicePath(0), h1), 0);
  ASSERT_GE(registerSlot(driver.devicePath(0), h2), 0);
  EXPECT_EQ(linkSlot(), -1);
  closeLink();
  EXPECT_EQ(slotsInUse(), 0);
  EXPECT_EQ(driver.openHandleCount(), 0);
}

TEST_F(UsbLinkTest, PulledUnitIsNoLongerAlive) {
  bool notified = false;
  driver.setDeviceChangeHandler([&] { notified = true; });
  addUnit();
  ASSERT_TRUE(openLink());
  EXPECT_TRUE(isLinkAlive());
  driver.unplug(0);
  EXPECT_TRUE(notified);
  EXPECT_FALSE(isLinkAlive());
  closeLink();
  EXPECT_EQ(getConfiguration(-1), 1);
}

TEST(PipePath, FormatsInterfaceAndPipeInThreeDigits) {
  EXPECT_EQ(pipePath("/dev/x", 0, 1), "/dev/x/if000pipe001");
  EXPECT_EQ(pipePath("/d", 300, 7), "/d/if044pipe007");
}

}  // namespace
}  // namespace vrx4::test
