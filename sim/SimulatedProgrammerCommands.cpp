// The handlers of the unit's commands, one group a switch: firmware mode
// and update, the kept settings, the memory buffers, status and results.
#include "sim/SimulatedProgrammer.h"

#include <algorithm>
#include <cstring>

#include "sim/OperationTiming.h"
#include "sim/SimulatedProgrammerDetail.h"

namespace vrx4 {

using namespace unitsim;

SimulatedUnit::Reply SimulatedProgrammer::firmwareCommand(uint8_t command, const uint8_t* p, size_t n, uint64_t now) {
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
    default:
      return Reply::fail(kUnknown);
  }
}

SimulatedUnit::Reply SimulatedProgrammer::settingCommand(uint8_t command, const uint8_t* p, size_t n, uint64_t now) {
  KeptSettings& kept = state_.settings;
  switch (command) {
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
    default:
      return Reply::fail(kUnknown);
  }
}

SimulatedUnit::Reply SimulatedProgrammer::memoryCommand(uint8_t command, const uint8_t* p, size_t n, uint64_t now) {
  switch (command) {
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
    default:
      return Reply::fail(kUnknown);
  }
}

SimulatedUnit::Reply SimulatedProgrammer::statusCommand(uint8_t command, size_t n) {
  switch (command) {
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

}  // namespace vrx4
