#pragma once
// An open link to an in-process unit that answers the settings commands:
// it returns its lock bits to command 35 and keeps the payloads of 23 and 24.
#include <memory>
#include <vector>

#include "ScriptedPrompter.h"
#include "base/LittleEndian.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedUnit.h"

namespace vrx4::test {

class SettingsUnit final : public SimulatedUnit {
 public:
  SettingsUnit() : SimulatedUnit(kUnitVendorId, kUnitProductId) {}
  BlockMask locks;
  std::vector<std::vector<uint8_t>> canPayloads;    // command 24
  std::vector<std::vector<uint8_t>> blockPayloads;  // command 23
  int lockReads = 0;

 protected:
  Reply handleCommand(uint8_t command, const uint8_t* payload, size_t length) override {
    switch (command) {
      case 0x23:
        ++lockReads;
        return Reply::ok(std::vector<uint8_t>(locks.bytes, locks.bytes + 8));
      case 0x18:
        canPayloads.emplace_back(payload, payload + length);
        return Reply::ok();
      case 0x17:
        blockPayloads.emplace_back(payload, payload + length);
        return Reply::ok();
      default:
        return Reply::ok();
    }
  }
};

// Installs the driver, plugs the unit in and opens the link; undoes it all.
class UnitHarness {
 public:
  UnitHarness() : unit(std::make_shared<SettingsUnit>()) {
    previous_ = setUsbDriver(&driver);
    driver.addUnit(unit);
    opened = openLink();
    prompts.clear();
  }
  ~UnitHarness() {
    closeLink();
    setUsbDriver(previous_);
  }
  ScriptedPrompter prompts;
  FakeClockScope clock;
  SimUsbDriver driver;
  std::shared_ptr<SettingsUnit> unit;
  bool opened = false;

 private:
  UsbDriver* previous_ = nullptr;
};

}  // namespace vrx4::test
