#include "sim/SimulatedProgrammer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/Clock.h"
#include "base/InputFile.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "link/UsbLink.h"
#include "sim/OperationTiming.h"

namespace vrx4 {
namespace {

constexpr uint8_t kExec = 227;     // refused: wrong mode, length or value
constexpr uint8_t kUnknown = 226;  // no such command
constexpr uint8_t kNoTarget = 228;
constexpr uint32_t kStagingSize = 0x70000;
constexpr uint16_t kFirstFirmwarePage = 0xF800;
constexpr uint16_t kLastFirmwarePage = 0xFEFF;
constexpr double kUpdateBusyMs = 1500;
constexpr double kResetBusyMs = 2000;
constexpr uint32_t kStuckPollLimit = 20000;  // polls within one clock millisecond
constexpr size_t kMaxKeptName = 64;
constexpr size_t kMaxKeptId = kMaxKeptIdCodeLength;
constexpr size_t kMaxKeptFileName = kMaxKeptFileNameLength;

void putText(std::vector<uint8_t>& v, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) v.push_back(i < text.size() ? uint8_t(text[i]) : 0);
}

uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

bool printable(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

std::string textField(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] >= 0x20 && p[len] <= 0x7E) ++len;
  std::string s(reinterpret_cast<const char*>(p), len);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

ProgrammerOptions userUnitOptions() {
  ProgrammerOptions o;
  o.statePath = defaultUnitStatePath();
  return o;
}

SimulatedProgrammer::SimulatedProgrammer(ProgrammerOptions options)
    : SimulatedProgrammer(std::move(options), kUnitVendorId, kUnitProductId) {}

SimulatedProgrammer::SimulatedProgrammer(ProgrammerOptions options, uint16_t vendorId,
                                         uint16_t productId)
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
      logLine("unit: device table " + table + " refused (line " + std::to_string(error.line) +
              ": " + error.reason + ")");
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

void SimulatedProgrammer::loadState() {
  if (options_.statePath.empty()) return;
  if (!options_.freshState) {
    std::string why;
    switch (loadUnitState(options_.statePath, state_, why)) {
      case StateLoad::Loaded:
        if (!why.empty()) logLine("unit: " + why + "; the unit's memory and the target start blank");
        break;
      case StateLoad::Missing: break;
      case StateLoad::Damaged:
      {
        // Kept aside for a look, never used again.
        const std::string kept = keepDamagedCopy(options_.statePath);
        logLine("unit: state file damaged (" + why + "); starting as a fresh unit" +
                (kept.empty() ? std::string() : ", the old file kept as " + kept));
        state_ = UnitState{};
      }
        break;
    }
  }
  if (!state_.targetPayload.empty()) {
    if (auto g = TargetGeometry::parse(state_.targetPayload.data(), state_.targetPayload.size())) {
      fitTarget(*g);
      target_.flash() = state_.targetFlash;
      target_.setLockBits(state_.targetLockBits);
      if (!state_.targetVersion.empty()) target_.setVersionText(state_.targetVersion);
    }
  }
  // A fresh state writes the file at once, so that "fresh" also forgets the old one.
  if (options_.freshState) saveState();
}

bool SimulatedProgrammer::saveState(unsigned parts) {
  std::lock_guard lock(mutex_);
  dirtyParts_ &= ~parts;
  if (options_.statePath.empty()) return true;
  if (target_.fitted()) {
    state_.targetPayload = target_.geometry().encode();
    state_.targetFlash = target_.flash();
    state_.targetLockBits = target_.lockBits();
    state_.targetVersion = target_.versionText();
  } else {
    state_.targetPayload.clear();
    state_.targetFlash.clear();
  }
  std::string why;
  if (!saveUnitState(options_.statePath, state_, why, parts)) {
    logLine("unit: state not saved: " + why);
    return false;
  }
  return true;
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
    case 0x01: return "setExecutionMode";
    case 0x02: return "getExecutionState";
    case 0x03: return "beginFirmwareUpdate";
    case 0x04: return "writeFirmwarePage";
    case 0x05: return "getUpdateState";
    case 0x06: return "getUnitInfo";
    case 0x11: return "setDevice";
    case 0x12: return "setUserDataPresent";
    case 0x13: return "setUserFileName";
    case 0x14: return "setBlockChecksums";
    case 0x15: return "setIdCode";
    case 0x16: return "setOperation";
    case 0x17: return "setBlockSettings";
    case 0x18: return "setCanSetting";
    case 0x19: return "initializeUnit";
    case 0x1A: return "beginUserDataDownload";
    case 0x1B: return "beginBootDataDownload";
    case 0x1C: return "writeDataPage";
    case 0x1D: return "getBusyState";
    case 0x1E: return "readDataPage";
    case 0x1F: return "startOperation";
    case 0x20: return "getOperationStatus";
    case 0x21: return "abortOperation";
    case 0x22: return "getInitialLoadData";
    case 0x23: return "readLockBits";
    case 0x24: return "readVersion";
    case 0x41: return "getBootAreaInfo";
    default: return "unknown";
  }
}

uint64_t SimulatedProgrammer::scaled(double ms) const {
  return uint64_t(std::ceil(ms * timeScale_));
}

bool SimulatedProgrammer::lockEffective() const {
  return state_.settings.lockBitState != 0 && target_.geometry().lockBitMode != 0;
}

SimulatedUnit::Reply SimulatedProgrammer::handleCommand(uint8_t command, const uint8_t* payload,
                                                        size_t length) {
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

void SimulatedProgrammer::tick(uint8_t command) {
  const uint64_t now = clock().nowMs();
  // Pages still coming belong to the same download: it is written out once,
  // after its last page has been processed.
  if (processing_ && now >= busyUntil_ && command != 0x1C) {
    processing_ = false;
    markDirty(kStateMemory);
  }
  advanceOperation();
}

SimulatedUnit::Reply SimulatedProgrammer::dispatch(uint8_t command, const uint8_t* p, size_t n) {
  const uint64_t now = clock().nowMs();
  KeptSettings& kept = state_.settings;

  // Update mode knows only its own commands; firmware mode refuses them.
  if (mode_ == 1 && command > 0x06) return command == 0x41 || (command >= 0x11 && command <= 0x24)
                                                ? Reply::fail(kExec)
                                                : Reply::fail(kUnknown);
  if (running_) {
    const bool refused = (command >= 0x11 && command <= 0x1C) || command == 0x1E ||
                         command == 0x1F || command == 0x23 || command == 0x24 || command == 0x01;
    if (refused) return Reply::fail(kExec);
  }

  switch (command) {
    case 0x01: {  // setExecutionMode
      if (n != 1 || (p[0] != 1 && p[0] != 2)) return Reply::fail(kExec);
      if (p[0] == 1) {
        mode_ = 1;
        return Reply::ok();
      }
      if (mode_ == 1) {
        if (updateOpen_ && now < updateBusyUntil_) return Reply::fail(kExec);
        installFirmware();
      }
      return Reply::ok();
    }
    case 0x02:  // getExecutionState
      if (n != 0) return Reply::fail(kExec);
      return Reply::ok({mode_});
    case 0x03:  // beginFirmwareUpdate
      if (mode_ != 1 || n != 2 || get16(p) != 0xF007) return Reply::fail(kExec);
      updateOpen_ = true;
      staging_.assign(kStagingSize, 0xFF);
      updateBusyUntil_ = 0;
      return Reply::ok();
    case 0x04: {  // writeFirmwarePage
      if (mode_ != 1 || !updateOpen_ || n != 258) return Reply::fail(kExec);
      const uint16_t page = get16(p);
      if (page < kFirstFirmwarePage || page > kLastFirmwarePage) return Reply::fail(kExec);
      std::memcpy(staging_.data() + size_t(page - kFirstFirmwarePage) * 256, p + 2, 256);
      updateBusyUntil_ = now + scaled(kUpdateBusyMs);
      pollsAtSameTime_ = 0;
      return Reply::ok();
    }
    case 0x05: {  // getUpdateState
      if (mode_ != 1 || n != 0) return Reply::fail(kExec);
      // The host polls this without pausing; when no time passes at all
      // (a test clock), the unit finishes after a bounded number of polls.
      if (now == lastPollMs_)
        ++pollsAtSameTime_;
      else
        pollsAtSameTime_ = 0;
      lastPollMs_ = now;
      bool busy = updateOpen_ && now < updateBusyUntil_ && pollsAtSameTime_ < kStuckPollLimit;
      if (updateOpen_ && !busy) updateBusyUntil_ = 0;
      return Reply::ok({uint8_t(busy ? 1 : 0)});
    }
    case 0x06:  // getUnitInfo
      if (n != 0) return Reply::fail(kExec);
      return Reply::ok(unitInfo());

    case 0x11: {  // setDevice
      auto g = TargetGeometry::parse(p, n);
      if (!g || g->name.size() > kMaxKeptName) return Reply::fail(kExec);
      kept.hasDevice = true;
      kept.devicePayload.assign(p, p + n);
      if (!target_.fitted() || !target_.geometry().sameChip(*g)) markDirty(kStateMemory);
      fitTarget(*g);
      if (!options_.targetVersion.empty() && target_.versionText() != options_.targetVersion)
        target_.setVersionText(options_.targetVersion);
      markDirty();
      return Reply::ok();
    }
    case 0x12:  // setUserDataPresent
      if (n != 1) return Reply::fail(kExec);
      kept.userDataPresent = p[0];
      markDirty();
      return Reply::ok();
    case 0x13:  // setUserFileName
      if (n < 1 || n != size_t(p[0]) + 1 || p[0] > kMaxKeptFileName) return Reply::fail(kExec);
      kept.userFileName.assign(reinterpret_cast<const char*>(p + 1), p[0]);
      markDirty();
      return Reply::ok();
    case 0x14:  // setBlockChecksums
      if (n < 1 || p[0] > 64 || n != size_t(p[0]) * 2 + 1) return Reply::fail(kExec);
      std::fill(std::begin(kept.blockSums), std::end(kept.blockSums), 0);
      for (size_t i = 0; i < p[0]; ++i) kept.blockSums[i] = get16(p + 1 + 2 * i);
      markDirty();
      return Reply::ok();
    case 0x15:  // setIdCode
      if (n < 1 || n != size_t(p[0]) + 1 || p[0] > kMaxKeptId) return Reply::fail(kExec);
      kept.idCode.assign(p + 1, p + 1 + p[0]);
      markDirty();
      return Reply::ok();
    case 0x16:  // setOperation
      if (n != 2 || p[0] < 1 || p[0] > 6) return Reply::fail(kExec);
      kept.operationCode = p[0];
      kept.sendFlags = p[1];
      markDirty();
      return Reply::ok();
    case 0x17:  // setBlockSettings
      if (n != 17) return Reply::fail(kExec);
      kept.lockBitState = p[0];
      std::memcpy(kept.operationBlockMask.bytes, p + 1, 8);
      std::memcpy(kept.lockAfterProgramMask.bytes, p + 9, 8);
      markDirty();
      return Reply::ok();
    case 0x18:  // setCanSetting
      if (n != sizeof kept.can) return Reply::fail(kExec);
      std::memcpy(kept.can, p, sizeof kept.can);
      markDirty();
      return Reply::ok();
    case 0x19:  // initializeUnit
      if (n != 0) return Reply::fail(kExec);
      resetSettings();
      busyUntil_ = now + scaled(kResetBusyMs);
      processing_ = true;
      markDirty(kStateAll);
      return Reply::ok();
    case 0x1A:  // beginUserDataDownload
    case 0x1B:  // beginBootDataDownload
      if (n != 0) return Reply::fail(kExec);
      download_ = command == 0x1A ? Area::User : Area::Boot;
      readArea_ = download_;
      pagesInDownload_ = 0;
      // A download brings a whole new image: what it does not send is blank.
      if (download_ == Area::Boot) {
        std::fill(state_.bootBuffer.begin(), state_.bootBuffer.end(), 0xFF);
        state_.bootDataPresent = false;
      } else {
        std::fill(state_.userBuffer.begin(), state_.userBuffer.end(), 0xFF);
      }
      markDirty(kStateMemory);
      return Reply::ok();
    case 0x1C: {  // writeDataPage
      if (n != 258 || download_ == Area::None) return Reply::fail(kExec);
      const uint16_t page = get16(p);
      if (download_ == Area::User) {
        if (page > 0x3FFF) return Reply::fail(kExec);
        std::memcpy(state_.userBuffer.data() + size_t(page) * 256, p + 2, 256);
      } else {
        if ((page & 0xFF00) != 0x0F00) return Reply::fail(kExec);
        std::memcpy(state_.bootBuffer.data() + size_t(page & 0xFF) * 256, p + 2, 256);
        state_.bootDataPresent = true;
      }
      ++pagesInDownload_;
      busyUntil_ = now + scaled(downloadStoreMs(pagesInDownload_));
      processing_ = true;
      return Reply::ok();
    }
    case 0x1D: {  // getBusyState
      if (n != 0) return Reply::fail(kExec);
      const bool busy = busyForever_ || (processing_ && now < busyUntil_);
      return Reply::ok({uint8_t(busy ? 1 : 0)});
    }
    case 0x1E: {  // readDataPage
      if (n != 2) return Reply::fail(kExec);
      const uint16_t page = get16(p);
      std::vector<uint8_t> d = {p[0], p[1]};
      if (readArea_ == Area::Boot && (page & 0xFF00) == 0x0F00) {
        const uint8_t* src = state_.bootBuffer.data() + size_t(page & 0xFF) * 256;
        d.insert(d.end(), src, src + 256);
      } else {
        if (page > 0x3FFF) return Reply::fail(kExec);
        const uint8_t* src = state_.userBuffer.data() + size_t(page) * 256;
        d.insert(d.end(), src, src + 256);
      }
      return Reply::ok(std::move(d));
    }
    case 0x1F: {  // startOperation
      if (n != 0) return Reply::fail(kExec);
      if (!kept.hasDevice || !target_.fitted()) return Reply::fail(kNoTarget);
      const TargetGeometry& g = target_.geometry();
      const bool selectable = g.blockCount > 1 && (g.blockSelectFlags & 0x03) != 0;
      std::vector<int> blocks;
      for (int b = 0; b < g.blockCount; ++b)
        if (!selectable || kept.operationBlockMask.test(b)) blocks.push_back(b);
      std::vector<PlannedBlock> planned;
      for (int b : blocks) planned.push_back({b, target_.blockBytes(b)});
      steps_.clear();
      const uint8_t op = kept.operationCode;
      for (const PlannedStep& p : plannedOperationSteps(op, planned))
        steps_.push_back({Step::Kind(int(p.kind)), p.block, scaled(p.ms)});
      opCode_ = op;
      nextStep_ = 0;
      opStart_ = now;
      opDone_ = 0;
      opTotal_ = 0;
      for (const Step& s : steps_) opTotal_ += s.cost;
      running_ = true;
      opStatus_ = 0x80;
      opResult_ = 0;
      if (op == 6) readArea_ = Area::User;
      advanceOperation();
      return Reply::ok();
    }
    case 0x20:  // getOperationStatus
      if (n != 0) return Reply::fail(kExec);
      return Reply::ok({opStatus_, opResult_});
    case 0x21:  // abortOperation
      if (n != 0) return Reply::fail(kExec);
      if (running_) {
        running_ = false;
        opStatus_ = uint8_t(opStatus_ & 0x7F);
        opResult_ = 0;
        markDirty(kStateAll);
      }
      return Reply::ok();
    case 0x22:  // getInitialLoadData
      if (n != 0) return Reply::fail(kExec);
      return Reply::ok(initialLoadData());
    case 0x23: {  // readLockBits
      if (n != 0) return Reply::fail(kExec);
      if (!target_.fitted() || !targetConnected_) return Reply::fail(kNoTarget);
      BlockMask m = target_.geometry().lockBitMode ? target_.lockBits() : BlockMask{};
      return Reply::ok(std::vector<uint8_t>(m.bytes, m.bytes + 8));
    }
    case 0x24: {  // readVersion
      if (n != 0) return Reply::fail(kExec);
      if (!target_.fitted() || !targetConnected_) return Reply::fail(kNoTarget);
      const std::string& v = target_.versionText();
      return Reply::ok(std::vector<uint8_t>(v.begin(), v.end()));
    }
    case 0x41:  // getBootAreaInfo
      if (n != 0) return Reply::fail(kExec);
      return Reply::ok(bootAreaInfo());
    default:
      return Reply::fail(kUnknown);
  }
}

void SimulatedProgrammer::advanceOperation() {
  if (!running_) return;
  const uint64_t elapsed = clock().nowMs() - opStart_;
  if (runForever_) {
    // Stuck at its last step: the percent stops short of the end.
    const uint64_t pct = opTotal_ ? std::min<uint64_t>(95, elapsed * 100 / opTotal_) : 95;
    opStatus_ = uint8_t(0x80 | pct);
    return;
  }
  while (nextStep_ < steps_.size()) {
    const Step& s = steps_[nextStep_];
    if (opDone_ + s.cost > elapsed) break;
    uint8_t result = 0;
    const bool ok = runStep(s, result);
    opDone_ += s.cost;
    ++nextStep_;
    if (!ok) {
      finishOperation(result);
      return;
    }
  }
  if (nextStep_ == steps_.size()) {
    finishOperation(1);
    return;
  }
  const uint64_t pct = opTotal_ ? std::min<uint64_t>(99, elapsed * 100 / opTotal_) : 99;
  opStatus_ = uint8_t(0x80 | pct);
}

bool SimulatedProgrammer::runStep(const Step& s, uint8_t& result) {
  const TargetGeometry& g = target_.geometry();
  const bool effective = lockEffective();
  switch (s.kind) {
    case Step::Connect: {
      if (!targetConnected_) {
        result = 3;
        return false;
      }
      if (forcedResult_) {
        result = forcedResult_;
        return false;
      }
      if (g.idCodeLength && !target_.idCodeBlank()) {
        const std::vector<uint8_t> held = target_.idCode();
        const std::vector<uint8_t>& given = state_.settings.idCode;
        if (given.size() < held.size() || !std::equal(held.begin(), held.end(), given.begin())) {
          result = 9;
          return false;
        }
      }
      return true;
    }
    case Step::Blank:
      result = 8;
      return target_.blockBlank(s.block);
    case Step::Erase:
      // Erase/Program skips blocks that are blank already.
      if (opCode_ != 3 && target_.blockBlank(s.block)) return true;
      if (effective && target_.lockBits().test(s.block)) {
        result = 4;
        return false;
      }
      target_.eraseBlock(s.block);
      return true;
    case Step::Program: {
      result = 5;
      if (effective && target_.lockBits().test(s.block)) return false;
      if (!target_.programBlock(s.block, state_.userBuffer.data())) return false;
      if (g.lockBitMode == 1 && state_.settings.lockAfterProgramMask.test(s.block)) {
        BlockMask m = target_.lockBits();
        m.set(s.block);
        target_.setLockBits(m);
      }
      return true;
    }
    case Step::Verify:
      result = 6;
      return target_.verifyBlock(s.block, state_.userBuffer.data());
    case Step::Read:
      target_.readBlock(s.block, state_.userBuffer.data());
      return true;
  }
  return true;
}

void SimulatedProgrammer::finishOperation(uint8_t result) {
  running_ = false;
  opResult_ = result;
  const uint64_t pct = opTotal_ ? std::min<uint64_t>(100, opDone_ * 100 / opTotal_) : 100;
  opStatus_ = uint8_t(result == 1 ? 100 : pct);
  markDirty(kStateAll);
}

std::vector<uint8_t> SimulatedProgrammer::unitInfo() const {
  std::vector<uint8_t> v;
  putText(v, kSimModel, 16);
  putText(v, kSimSecondName, 32);
  putText(v, kSimSecondDate, 16);
  putText(v, state_.firmwareVersion.empty() ? kSimFirmwareVersion : state_.firmwareVersion, 32);
  putText(v, state_.firmwareDate.empty() ? kSimFirmwareDate : state_.firmwareDate, 16);
  return v;
}

std::vector<uint8_t> SimulatedProgrammer::initialLoadData() const {
  const KeptSettings& k = state_.settings;
  std::vector<uint8_t> v;
  if (!k.hasDevice) {
    v.push_back(0xFF);
    return v;
  }
  std::string name;
  if (auto g = TargetGeometry::parse(k.devicePayload.data(), k.devicePayload.size())) name = g->name;
  v.push_back(uint8_t(name.size()));
  v.insert(v.end(), name.begin(), name.end());
  v.push_back(k.userDataPresent);
  v.push_back(uint8_t(k.userFileName.size()));
  v.insert(v.end(), k.userFileName.begin(), k.userFileName.end());
  for (uint16_t s : k.blockSums) {
    v.push_back(uint8_t(s));
    v.push_back(uint8_t(s >> 8));
  }
  v.push_back(uint8_t(k.idCode.size()));
  v.insert(v.end(), k.idCode.begin(), k.idCode.end());
  v.push_back(k.operationCode);
  v.push_back(k.lockBitState);
  v.insert(v.end(), k.operationBlockMask.bytes, k.operationBlockMask.bytes + 8);
  v.insert(v.end(), k.lockAfterProgramMask.bytes, k.lockAfterProgramMask.bytes + 8);
  v.insert(v.end(), k.can, k.can + 44);  // bytes 0..5, 6, pre, post, pulse, cycle
  v.push_back(k.sendFlags);
  return v;
}

std::vector<uint8_t> SimulatedProgrammer::bootAreaInfo() const {
  uint32_t start = 0, size = 0;
  const KeptSettings& k = state_.settings;
  if (k.hasDevice) {
    if (auto g = TargetGeometry::parse(k.devicePayload.data(), k.devicePayload.size())) {
      start = g->bootRomStart;
      size = g->bootRomSize;
    }
  }
  uint16_t sum = 0;
  for (uint32_t i = 0; i < size; ++i) sum = uint16_t(sum + state_.bootBuffer[(start + i) & 0xFFFF]);
  std::vector<uint8_t> v;
  v.push_back(state_.bootDataPresent ? 1 : 0);
  v.push_back(0);  // the unit is never told the boot file's name
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(start >> (8 * i)));
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(size >> (8 * i)));
  v.push_back(uint8_t(sum));
  v.push_back(uint8_t(sum >> 8));
  return v;
}

void SimulatedProgrammer::fitTarget(const TargetGeometry& g) {
  target_.fit(g);
  std::vector<uint32_t> ids;
  const int row = catalogue_.findByName(g.name);
  if (row >= 0) {
    const DeviceDef& d = catalogue_.row(row);
    if (d.idCodeLength == int32_t(g.idCodeLength) && g.idCodeLength &&
        d.idCodeAddress[0] == g.idCodeAddress0)
      for (int i = 0; i < g.idCodeLength; ++i) ids.push_back(d.idCodeAddress[i]);
  }
  target_.setIdCodeAddresses(std::move(ids));
}

void SimulatedProgrammer::installFirmware() {
  if (!updateOpen_) {
    mode_ = 2;  // nothing was written: the old firmware runs on
    return;
  }
  const uint8_t* img = staging_.data();
  if (std::memcmp(img + kFirmwareModelOffset, kSimModel, 9) != 0) {
    logLine("unit: new firmware lacks the model text; staying in update mode");
    return;
  }
  if (printable(img + kFirmwareVersionOffset, 8))
    state_.firmwareVersion = textField(img + kFirmwareVersionOffset, 8);
  if (printable(img + kFirmwareDateOffset, 1))
    state_.firmwareDate = textField(img + kFirmwareDateOffset, 16);
  updateOpen_ = false;
  staging_.clear();
  staging_.shrink_to_fit();
  mode_ = 2;
  markDirty();
}

void SimulatedProgrammer::resetSettings() {
  state_.settings = KeptSettings{};
  std::fill(state_.userBuffer.begin(), state_.userBuffer.end(), 0xFF);
  std::fill(state_.bootBuffer.begin(), state_.bootBuffer.end(), 0xFF);
  state_.bootDataPresent = false;
  download_ = Area::None;
}

}  // namespace vrx4
