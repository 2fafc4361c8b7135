// The unit's stored state: its state file, the answers made from what it
// keeps, the fitted target and the firmware it installs.
#include "sim/SimulatedProgrammer.h"

#include <cstring>

#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "sim/SimulatedProgrammerDetail.h"

namespace vrx4 {

using namespace unitsim;

ProgrammerOptions userUnitOptions() {
  ProgrammerOptions o;
  o.statePath = defaultUnitStatePath();
  return o;
}

void SimulatedProgrammer::loadState() {
  if (options_.statePath.empty()) return;
  if (!options_.freshState) {
    std::string why;
    switch (loadUnitState(options_.statePath, state_, why)) {
      case StateLoad::Loaded:
        if (!why.empty()) logLine("unit: " + why + "; the unit's memory and the target start blank");
        break;
      case StateLoad::Missing:
        break;
      case StateLoad::Damaged: {
        // Kept aside for a look, never used again.
        const std::string kept = keepDamagedCopy(options_.statePath);
        logLine("unit: state file damaged (" + why + "); starting as a fresh unit" +
                (kept.empty() ? std::string() : ", the old file kept as " + kept));
        state_ = UnitState{};
      } break;
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
    if (d.idCodeLength == int32_t(g.idCodeLength) && g.idCodeLength && d.idCodeAddress[0] == g.idCodeAddress0)
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
  if (printable(img + kFirmwareVersionOffset, 8)) state_.firmwareVersion = textField(img + kFirmwareVersionOffset, 8);
  if (printable(img + kFirmwareDateOffset, 1)) state_.firmwareDate = textField(img + kFirmwareDateOffset, 16);
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
