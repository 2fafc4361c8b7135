// The unit's front: its options and test switches, the log of its commands
// and the dispatch of each command to the handlers of its group.
#include "sim/SimulatedProgrammer.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "base/Clock.h"
#include "base/InputFile.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "link/UsbLink.h"
#include "sim/SimulatedProgrammerDetail.h"

namespace vrx4 {

using namespace unitsim;

SimulatedProgrammer::SimulatedProgrammer(ProgrammerOptions options)
    : SimulatedProgrammer(std::move(options), kUnitVendorId, kUnitProductId) {}

SimulatedProgrammer::SimulatedProgrammer(ProgrammerOptions options, uint16_t vendorId, uint16_t productId)
    : SimulatedUnit(vendorId, productId), options_(std::move(options)) {
  targetConnected_ = options_.targetConnected;
  forcedResult_ = options_.forcedResult;
  timeScale_ = std::max(0.0, options_.timeScale);
  verbose_ = options_.verbose;
  mode_ = options_.startInUpdateMode ? 1 : 2;
  setHistoryEnabled(options_.keepHistory);
  if (!options_.targetVersion.empty()) target_.setVersionText(options_.targetVersion);
  std::string table = options_.deviceTablePath;
  if (table.empty()) {
    const std::string exe = runningExecutablePath();
    if (!exe.empty()) table = findDataFile(folderOf(exe), kDeviceTableFileName);
  }
  if (!table.empty()) {
    InputFile file;
    std::vector<uint8_t> bytes;
    const bool opened = file.open(table, InputKind::DeviceTable);
    if (!opened && file.failure() != InputFile::Failure::CannotOpen) logLine("unit: device table " + file.error());
    const bool read = opened && file.readAll(bytes);
    if (opened && !read) logLine("unit: device table " + file.error());
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    DeviceTableError error;
    if (read && !parseDeviceTableQuiet(in, catalogue_, error))
      logLine("unit: device table " + table + " refused (line " + std::to_string(error.line) + ": " + error.reason +
              ")");
  }
  loadState();
  if (!options_.firmwareVersion.empty()) state_.firmwareVersion = options_.firmwareVersion;
  if (!options_.firmwareDate.empty()) state_.firmwareDate = options_.firmwareDate;
}

SimulatedProgrammer::~SimulatedProgrammer() {
  std::lock_guard lock(mutex_);
  if (!lastLog_.empty() && repeats_) logLine("unit: (last line repeated " + std::to_string(repeats_) + " times)");
  saveState();
}

void SimulatedProgrammer::setTargetConnected(bool connected) {
  std::lock_guard lock(mutex_);
  targetConnected_ = connected;
}
void SimulatedProgrammer::setForcedResult(uint8_t code) {
  std::lock_guard lock(mutex_);
  forcedResult_ = code;
}
void SimulatedProgrammer::setTimeScale(double scale) {
  std::lock_guard lock(mutex_);
  timeScale_ = std::max(0.0, scale);
}
void SimulatedProgrammer::setBusyForever(bool on) {
  std::lock_guard lock(mutex_);
  busyForever_ = on;
}
void SimulatedProgrammer::setRunForever(bool on) {
  std::lock_guard lock(mutex_);
  runForever_ = on;
}
void SimulatedProgrammer::setVerbose(bool on) {
  std::lock_guard lock(mutex_);
  verbose_ = on;
}
void SimulatedProgrammer::setIdCodeAddresses(std::vector<uint32_t> addresses) {
  std::lock_guard lock(mutex_);
  target_.setIdCodeAddresses(std::move(addresses));
}
uint8_t SimulatedProgrammer::executionMode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}
std::string SimulatedProgrammer::firmwareVersion() const {
  std::lock_guard lock(mutex_);
  return state_.firmwareVersion.empty() ? kSimFirmwareVersion : state_.firmwareVersion;
}
KeptSettings SimulatedProgrammer::keptSettings() const {
  std::lock_guard lock(mutex_);
  return state_.settings;
}
std::vector<uint8_t> SimulatedProgrammer::targetFlash() const {
  std::lock_guard lock(mutex_);
  return target_.flash();
}
BlockMask SimulatedProgrammer::targetLockBits() const {
  std::lock_guard lock(mutex_);
  return target_.lockBits();
}
void SimulatedProgrammer::setTargetLockBits(const BlockMask& bits) {
  std::lock_guard lock(mutex_);
  target_.setLockBits(bits);
  saveState(kStateSettings);
}
std::vector<uint8_t> SimulatedProgrammer::userBufferBytes(uint32_t address, size_t length) const {
  std::lock_guard lock(mutex_);
  std::vector<uint8_t> out;
  for (size_t i = 0; i < length; ++i) out.push_back(state_.userBuffer[(address + i) & 0x3FFFFF]);
  return out;
}

const char* SimulatedProgrammer::commandName(uint8_t command) {
  switch (command) {
    case 0x01:
      return "setExecutionMode";
    case 0x02:
      return "getExecutionState";
    case 0x03:
      return "beginFirmwareUpdate";
    case 0x04:
      return "writeFirmwarePage";
    case 0x05:
      return "getUpdateState";
    case 0x06:
      return "getUnitInfo";
    case 0x11:
      return "setDevice";
    case 0x12:
      return "setUserDataPresent";
    case 0x13:
      return "setUserFileName";
    case 0x14:
      return "setBlockChecksums";
    case 0x15:
      return "setIdCode";
    case 0x16:
      return "setOperation";
    case 0x17:
      return "setBlockSettings";
    case 0x18:
      return "setCanSetting";
    case 0x19:
      return "initializeUnit";
    case 0x1A:
      return "beginUserDataDownload";
    case 0x1B:
      return "beginBootDataDownload";
    case 0x1C:
      return "writeDataPage";
    case 0x1D:
      return "getBusyState";
    case 0x1E:
      return "readDataPage";
    case 0x1F:
      return "startOperation";
    case 0x20:
      return "getOperationStatus";
    case 0x21:
      return "abortOperation";
    case 0x22:
      return "getInitialLoadData";
    case 0x23:
      return "readLockBits";
    case 0x24:
      return "readVersion";
    case 0x41:
      return "getBootAreaInfo";
    default:
      return "unknown";
  }
}

SimulatedUnit::Reply SimulatedProgrammer::handleCommand(uint8_t command, const uint8_t* payload, size_t length) {
  tick(command);
  Reply r = dispatch(command, payload, length);
  if (dirtyParts_) saveState(dirtyParts_);
  if (verbose_) logCommand(command, r);
  return r;
}

void SimulatedProgrammer::logCommand(uint8_t command, const Reply& r) {
  char line[160];
  if (r.error) {
    std::snprintf(line, sizeof line, "unit: %3u %-22s error %u", command, commandName(command), r.code);
  } else {
    std::string data;
    // Polls show their answer bytes.
    if ((command == 0x02 || command == 0x05 || command == 0x1D || command == 0x20) && !r.data.empty()) {
      for (size_t i = 0; i < r.data.size() && i < 2; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, " %02X", r.data[i]);
        data += b;
      }
    }
    std::snprintf(line, sizeof line, "unit: %3u %-22s ok%s", command, commandName(command), data.c_str());
  }
  // A poll repeated with the same answer is counted, not logged again.
  if (line == lastLog_) {
    ++repeats_;
    return;
  }
  if (repeats_) logLine("unit: (last line repeated " + std::to_string(repeats_) + " times)");
  repeats_ = 0;
  lastLog_ = line;
  logLine(line);
}

SimulatedUnit::Reply SimulatedProgrammer::dispatch(uint8_t command, const uint8_t* p, size_t n) {
  const uint64_t now = clock().nowMs();

  // Update mode knows only its own commands; firmware mode refuses them.
  if (mode_ == 1 && command > 0x06)
    return command == 0x41 || (command >= 0x11 && command <= 0x24) ? Reply::fail(kExec) : Reply::fail(kUnknown);
  if (running_) {
    const bool refused = (command >= 0x11 && command <= 0x1C) || command == 0x1E || command == 0x1F ||
                         command == 0x23 || command == 0x24 || command == 0x01;
    if (refused) return Reply::fail(kExec);
  }

  // Each group of commands has its handlers; a code no group knows is
  // answered "unknown".
  if (command <= 0x06) return firmwareCommand(command, p, n, now);
  if (command >= 0x11 && command <= 0x19) return settingCommand(command, p, n, now);
  if (command >= 0x1A && command <= 0x1E) return memoryCommand(command, p, n, now);
  if (command == 0x1F) return beginOperation(n, now);
  return statusCommand(command, n);
}

}  // namespace vrx4
