#pragma once
// A link opened over the in-process simulated transport, with a scripted
// prompter and a fake clock.
#include <gtest/gtest.h>

#include <memory>

#include "ScriptedPrompter.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedUnit.h"

namespace vrx4::test {

class LinkFixture : public ::testing::Test {
 protected:
  void SetUp() override { previousDriver_ = setUsbDriver(&driver); }
  void TearDown() override {
    closeLink();
    setUsbDriver(previousDriver_);
  }
  std::shared_ptr<SimulatedUnit> addUnit(SimUsbDriver::DeviceOptions o = {}) {
    auto u = std::make_shared<SimulatedUnit>(kUnitVendorId, kUnitProductId);
    driver.addUnit(u, o);
    return u;
  }
  std::shared_ptr<SimulatedUnit> openUnit() {
    auto u = addUnit();
    EXPECT_TRUE(openLink());
    u->clearHistory();
    return u;
  }

  ScriptedPrompter prompts;
  FakeClockScope fakeClock;
  SimUsbDriver driver;

 private:
  UsbDriver* previousDriver_ = nullptr;
};

}  // namespace vrx4::test
