#pragma once
// A unit whose answers a test chooses command by command, on top of the real
// frame layer; the link is opened over the in-process transport.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "ScriptedPrompter.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedUnit.h"

namespace vrx4::test {

class ScriptedUnit : public SimulatedUnit {
 public:
  using Reply = SimulatedUnit::Reply;
  using Handler = std::function<Reply(const uint8_t* payload, size_t length)>;

  ScriptedUnit() : SimulatedUnit(kUnitVendorId, kUnitProductId) {}

  void on(uint8_t command, Handler h) {
    std::lock_guard lock(mutex_);
    handlers_[command] = std::move(h);
  }
  // Every command received, in order.
  std::vector<uint8_t> commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  int count(uint8_t command) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (uint8_t c : commands_) n += c == command;
    return n;
  }
  static Reply ok(std::vector<uint8_t> d = {}) { return Reply::ok(std::move(d)); }
  static Reply fail(uint8_t code) { return Reply::fail(code); }

 protected:
  Reply handleCommand(uint8_t command, const uint8_t* payload, size_t length) override {
    commands_.push_back(command);
    auto it = handlers_.find(command);
    if (it != handlers_.end()) return it->second(payload, length);
    return Reply::ok(std::vector<uint8_t>(8, 0));
  }

 private:
  std::map<uint8_t, Handler> handlers_;
  std::vector<uint8_t> commands_;
};

class ScriptedUnitFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = setUsbDriver(&driver);
    driver.addUnit(unit);
    ASSERT_TRUE(openLink());
  }
  void TearDown() override {
    closeLink();
    setUsbDriver(previous_);
  }

  ScriptedPrompter prompts;
  FakeClockScope fakeClock;
  SimUsbDriver driver;
  std::shared_ptr<ScriptedUnit> unit = std::make_shared<ScriptedUnit>();

 private:
  UsbDriver* previous_ = nullptr;
};

}  // namespace vrx4::test
