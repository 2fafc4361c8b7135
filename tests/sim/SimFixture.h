#pragma once
// A link to a complete simulated unit over the in-process transport, with a
// scripted prompter, a fake clock and a state file in a folder of its own.
// The helpers drive the unit through the real command functions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedPrompter.h"
#include "link/Commands.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"

namespace vrx4::test {

using Bytes = std::vector<uint8_t>;

// A scratch folder removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "vrx4-sim-XXXXXX").string();
    if (::mkdtemp(t.data())) path_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// 64 KiB of user ROM at 0x10000 in four 16 KiB blocks, a 4-byte ID code at
// 0x1FFF0 (consecutive), lock bits set and cleared, block selection on, and a
// 2 KiB boot area at 0xF000.
inline DeviceDef testDevice(const std::string& name = "TEST-64K4") {
  DeviceDef d;
  d.setName(name);
  d.bootRomStart = 0xF000;
  d.bootRomSize = 0x800;
  d.bootRomEnd = 0xF7FF;
  d.userRomStart = 0x10000;
  d.userRomSize = 0x10000;
  d.userRomEnd = 0x1FFFF;
  d.voltageCode = 0x21;
  d.protectAddress = 0x1FFFF;
  d.idCodeLength = 4;
  for (int i = 0; i < 4; ++i) d.idCodeAddress[i] = 0x1FFF0 + i;
  d.blockCount = 4;
  d.blockMask = 0xF;
  for (int i = 0; i < 4; ++i) {
    d.blockStart[i] = 0x10000 + 0x4000 * i;
    d.blockSize[i] = 0x4000;
  }
  d.lockBitMode = 1;
  d.blockSelectFlags = 1;
  return d;
}

inline IdCode idCodeOf(std::initializer_list<uint8_t> bytes) {
  IdCode id;
  id.idLength = uint8_t(bytes.size());
  int i = 0;
  for (uint8_t b : bytes) id.idBytes[i++] = b;
  return id;
}

inline LockBitTable blocks(std::initializer_list<int> operation, uint8_t lockBitState = 0,
                           std::initializer_list<int> lockAfter = {}) {
  LockBitTable t;
  for (int b : operation) t.operationBlockMask.set(b);
  for (int b : lockAfter) t.lockAfterProgramMask.set(b);
  t.lockBitState = lockBitState;
  return t;
}

// Sends bytes to the unit's user buffer from a device address, page by page,
// and waits (on the fake clock) until the unit has processed them.
inline bool download(uint32_t address, const Bytes& data) {
  if (!beginUserDataDownload()) return false;
  for (size_t off = 0; off < data.size(); off += 256) {
    uint8_t page[256];
    std::fill(page, page + 256, 0xFF);
    std::copy(data.begin() + off, data.begin() + std::min(data.size(), off + 256), page);
    if (!writeDataPage(uint16_t(((address + off) & 0x3FFFFF) >> 8), page)) return false;
  }
  for (int i = 0; i < 10000; ++i) {
    bool busy = true;
    if (!getBusyState(busy)) return false;
    if (!busy) return true;
    clock().sleepMs(100);
  }
  return false;
}

// Reads the user buffer back page by page.
inline Bytes fetch(uint32_t address, size_t length) {
  Bytes out;
  for (size_t off = 0; off < length; off += 256) {
    uint8_t page[256];
    if (!readDataPage(uint16_t(((address + off) & 0x3FFFFF) >> 8), page)) return {};
    out.insert(out.end(), page, page + 256);
  }
  out.resize(length);
  return out;
}

struct OperationRun {
  bool started = false;
  bool polled = false;
  uint8_t result = 0;
  std::vector<int> percents;  // every percent seen while running
  uint64_t elapsedMs = 0;
};

// Selects and starts an operation and polls it every 100 ms until it ends.
inline OperationRun runOperation(uint8_t code) {
  OperationRun run;
  if (!setOperation(code, 0)) return run;
  const uint64_t t0 = clock().nowMs();
  run.started = startOperation();
  if (!run.started) return run;
  for (int i = 0; i < 100000; ++i) {
    OperationStatus st;
    if (!getOperationStatus(st)) return run;
    if (!st.running()) {
      run.polled = true;
      run.result = st.result;
      break;
    }
    run.percents.push_back(st.percent());
    clock().sleepMs(100);
  }
  run.elapsedMs = clock().nowMs() - t0;
  return run;
}

// A pattern that differs from page to page and is never all 0xFF.
inline Bytes pattern(size_t length, uint8_t seed = 1) {
  Bytes b(length);
  for (size_t i = 0; i < length; ++i) b[i] = uint8_t((i * 7 + seed + (i >> 8)) & 0x7F);
  return b;
}

class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override { previousDriver_ = setUsbDriver(driver.get()); }
  void TearDown() override {
    closeLink();
    setUsbDriver(previousDriver_);
  }
  // Ends a unit's life: the link closes and the transport that held the unit
  // goes, so the unit is destroyed once the test lets go of it too.
  void pullOut() {
    closeLink();
    driver = std::make_unique<SimUsbDriver>();
    setUsbDriver(driver.get());
  }
  ProgrammerOptions options() const {
    ProgrammerOptions o;
    o.statePath = dir.file("unit-state");
    return o;
  }
  // Makes the unit, plugs it in and opens the link.
  std::shared_ptr<SimulatedProgrammer> plugIn(ProgrammerOptions o) {
    auto u = std::make_shared<SimulatedProgrammer>(o);
    driver->addUnit(u);
    EXPECT_TRUE(openLink());
    return u;
  }
  std::shared_ptr<SimulatedProgrammer> plugIn() { return plugIn(options()); }

  TempDir dir;
  ScriptedPrompter prompts;
  FakeClockScope fakeClock;
  std::unique_ptr<SimUsbDriver> driver = std::make_unique<SimUsbDriver>();

 private:
  UsbDriver* previousDriver_ = nullptr;
};

}  // namespace vrx4::test
