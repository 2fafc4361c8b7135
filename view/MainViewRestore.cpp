// The main form at start-up: the view reset and the restore of what the
// unit kept (device, settings, file names) into the project record.
#include "view/MainViewModel.h"

#include <algorithm>
#include <cstring>

#include "base/Prompter.h"
#include "base/StartupMessage.h"
#include "image/BootFileReader.h"
#include "image/ProgramLoader.h"
#include "settings/CanTiming.h"
#include "view/MainViewHelpers.h"

namespace vrx4 {

using namespace mainview;

void MainViewModel::StartUp(bool deferReinit) {
  ProjectSettings& s = state_.settings;
  s.rowCount = state_.deviceTable.rowCount();
  s.optionMode = state_.deviceTable.optionMode() ? 1 : 0;
  form_.deviceNames.clear();
  for (int i = 0; i < state_.deviceTable.rowCount(); ++i) form_.deviceNames.push_back(state_.deviceTable.row(i).name());
  ResetView();
  if (!deferReinit) RunPendingReinit();
  state_.startupOk = true;
  showFields();
}

bool MainViewModel::RunPendingReinit() {
  if (!state_.reinitPending) return false;
  OnProjectNew();
  state_.reinitPending = false;
  return true;
}

void MainViewModel::ResetView() {
  const bool boot = state_.settings.optionMode != 0;
  form_.bootLoaderLabel.visible = boot;
  form_.bootLoader.visible = boot;
  form_.bootFileButton.visible = boot;
  form_.editBootRomPresent = boot;
  operationIndex = 0;
  userReadBackPending = false;
  lastResult = 0;
  versionText.clear();
  ApplyInitialLoadData();
  form_.deviceSelection = state_.settings.deviceIndex;
  setResultBox();
  RefreshDeviceDisplay();
  RefreshCanDisplay();
  RefreshLockDisplay();
  RefreshAllFileDisplay();
  if (!hasDevice()) DisableDeviceControls();
  RefreshOperationButtons();
}

// The boot file the unit kept, when the device table has a boot area: its
// name, checksum and area; the file loaded again when it is named.
void MainViewModel::restoreBootArea() {
  ProjectSettings& s = state_.settings;
  MemoryImage& image = *state_.image;
  const BootAreaInfo& b = state_.bootArea;
  s.bootFileLoaded = b.flag;
  const std::string bootName = b.bootFileName.size() <= kMaxUserFilePath ? b.bootFileName : std::string();
  storeText(s.bootFileName, sizeof s.bootFileName, bootName);
  s.bootFileNameLength = int32_t(bootName.size());
  s.bootChecksum = b.bootChecksum;
  std::memset(s.bootLoaderText, 0, sizeof s.bootLoaderText);
  form_.bootLoader.text.clear();
  if (bootAreaUsable(b.bootStart, b.bootSize)) {
    s.bootStart = b.bootStart;
    s.bootSize = b.bootSize;
    s.bootEnd = b.bootSize ? b.bootStart + b.bootSize - 1 : 0;
  } else {
    s.bootStart = 0;
    s.bootSize = 0;
    s.bootEnd = 0;
  }
  if (!bootName.empty() && loadBootFile(bootName, image, s)) setBootLoaderText();
}

void MainViewModel::ApplyInitialLoadData() {
  ProjectSettings& s = state_.settings;
  MemoryImage& image = *state_.image;
  InitialLoadData& d = state_.initialLoad;

  s.deviceIndex = -1;
  if (!d.deviceName.empty()) {
    const int row = state_.deviceTable.findByName(d.deviceName);
    if (row >= 0) SelectDevice(row);
  }
  if (!hasDevice()) {
    // No device: nothing of a previous one stays in the record.
    d.deviceName.clear();
    s.device = DeviceDef{};
    s.lockBits.deviceBlockMask = BlockMask{};
  }
  bool allNonZero = true;
  for (uint8_t b : s.lockBits.deviceBlockMask.bytes) allNonZero = allNonZero && b != 0;
  if (allNonZero)
    std::fill(std::begin(s.lockBits.deviceBlockMask.bytes), std::end(s.lockBits.deviceBlockMask.bytes), 0xFF);

  // The unit may store up to 64 ID code bytes; the record holds 32, and no
  // device uses more.
  const int idLength = std::min<int>(d.idLength, kMaxIdCodeLength);
  s.idCode.idLength = uint8_t(idLength);
  std::memset(s.idCode.idBytes, 0, sizeof s.idCode.idBytes);
  std::memcpy(s.idCode.idBytes, d.idBytes, size_t(idLength));
  s.lockBits.lockBitState = d.lockBitState;
  s.lockBits.operationBlockMask = d.operationBlockMask;
  s.lockBits.lockAfterProgramMask = d.lockAfterProgramMask;

  // A stored code outside the radio group selects "Blank".
  operationIndex = d.operationCode >= 1 && d.operationCode <= kOperationCount ? d.operationCode - 1 : 1;
  preSending = d.sendFlags & 1;
  postSending = (d.sendFlags & 2) != 0;

  if (s.optionMode == 1) restoreBootArea();

  setUserFileName(d.userFileName);
  uint16_t sum = 0;
  for (int k = 0; k < blockCountOf(s.device); ++k) sum = uint16_t(sum + d.blockSums[k]);
  s.userChecksum = sum;
  userReadBackPending = true;

  const std::string name = userFileName();
  if (!name.empty() && name != kReadDataName) {
    image.clearUserImage();
    int32_t unusedLevel = 0;
    const bool loaded = loadProgramFile(LoadMode::Silent, name, s.device, image, s.idCode, unusedLevel);
    s.userFileStale = loaded ? 0 : 1;
    if (loaded) {
      if (image.imageChecksum(ImageArea::User, s) == s.userChecksum) {
        const uint32_t p = s.device.protectAddress;
        s.protectLevel = inUserImage(s.device, p) ? classifyProtect(image.userImage[p - s.device.userRomStart]) : 0;
      } else {
        showMessageAfterSplash(kMsgFileDataDifferent, Icon::Stop);
        s.userFileStale = 1;
      }
    }
  } else {
    s.userFileStale = 0;
  }

  CanSetting& can = s.can;
  std::memcpy(&can.clockMhz, d.canTiming, sizeof d.canTiming);
  can.sendFrameMask = d.sendFrameMask;
  can.preFrame = d.preFrame;
  can.postFrame = d.postFrame;
  can.pulseEnabled = d.pulseEnabled;
  can.pulseCycleMs = d.pulseCycleMs;
  can.baudKbps = 500.0f;
  can.samplePointPct = 70;
  findTimingByRegisters(can);
  showFields();
}

}  // namespace vrx4
