#pragma once
// What the tests of vrx4-cli jobs share: a folder with the units' sockets,
// vrx4-cli runs in it, the state a stopped vrx4-unitsim left, program files
// of a known pattern and project files of the shipped table's devices.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "app/DeviceTable.h"
#include "base/ProjectSettings.h"
#include "sim/UnitState.h"

namespace vrx4::test {

// The state file a vrx4-unitsim saved when it was stopped.
inline UnitState stateOf(const std::string& path) {
  UnitState s;
  std::string why;
  EXPECT_EQ(loadUnitState(path, s, why), StateLoad::Loaded) << why;
  return s;
}

// The byte the pattern files hold at address a.
inline uint8_t pattern(uint32_t a) { return uint8_t(a * 7 + 3 + (a >> 8)); }

// Intel HEX of `size` pattern bytes from address 0 (extended linear
// address records above 64 KiB).
inline std::string patternHex(uint32_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(size_t(size) * 2 + size / 16 * 14 + 64);
  auto byte = [&](uint8_t v, uint8_t& sum) {
    text.push_back(digits[v >> 4]);
    text.push_back(digits[v & 15]);
    sum = uint8_t(sum + v);
  };
  for (uint32_t a = 0; a < size; a += 16) {
    if ((a & 0xFFFF) == 0 && a != 0)
      text += hexRecord(4, 0, [&] {
        char t[8];
        std::snprintf(t, sizeof t, "%04X", unsigned(a >> 16));
        return std::string(t);
      }());
    uint8_t sum = 0;
    text.push_back(':');
    byte(16, sum);
    byte(uint8_t(a >> 8), sum);
    byte(uint8_t(a), sum);
    byte(0, sum);
    for (uint32_t i = 0; i < 16; ++i) byte(pattern(a + i), sum);
    uint8_t ignored = 0;
    byte(uint8_t(-sum), ignored);
    text += "\r\n";
  }
  return text + ":00000001FF\r\n";
}

// A project of `device` from the shipped table naming `programFile`, with
// every block of the device in it; the rest as a new project has it. False
// when the table cannot be read.
inline bool projectFor(const std::string& device, const std::string& programFile, ProjectSettings& project) {
  DeviceTable table;
  bool missing = false;
  if (!parseDeviceTableFile(VRX4_TABLE_PATH, table, missing)) return false;
  const int row = table.findByName(device);
  project.device = table.row(row);
  project.deviceIndex = row;
  std::memcpy(project.userFileName, programFile.data(), programFile.size());
  project.userFileNameLength = int32_t(programFile.size());
  for (int b = 0; b < project.device.blockCount; ++b) project.lockBits.deviceBlockMask.set(b);
  return true;
}

// A folder for the units' sockets and the files of the jobs, and vrx4-cli
// run in it.
class CliFixture : public ::testing::Test {
 protected:
  std::string sock(const std::string& name) { return dir.file(name + ".sock"); }
  CliRun cli(std::vector<std::string> args) { return runCli(dir, args); }
  // The pattern file `name` of `size` bytes, written the first time it is asked for.
  std::string patternFile(const std::string& name, uint32_t size) {
    const std::string p = dir.file(name);
    if (!std::filesystem::exists(p)) writeFile(p, patternHex(size));
    return p;
  }
  TempDir dir;
};

}  // namespace vrx4::test
