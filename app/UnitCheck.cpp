#include "app/UnitCheck.h"

#include "app/UsbAccess.h"
#include "base/Log.h"
#include "base/StartupMessage.h"
#include "image/ProgramLoader.h"
#include "link/UsbLink.h"

namespace vrx4 {

bool offerFirmwareUpdate(AppState& state, const UpdateRunner& runUpdate) {
  if (showMessageAfterSplash(kUpdateQuestionText, Icon::Exclamation, Buttons::OkCancel) != Answer::Ok) return false;
  state.loadDialogFolders();
  FirmwareImage image(kFirmwareImageSize, 0xFF);
  if (!readFirmwareFile(state.dataFile(kFirmwareFileName), image)) return false;
  if (runUpdate) runUpdate(image);
  state.reinitPending = true;
  return true;
}

bool checkUnit(AppState& state, const UpdateRunner& runUpdate) {
  UnitInfo info;
  if (!getUnitInfo(info)) return false;
  state.unitInfo = info;
  if (info.model.compare(0, 9, kUnitModel) != 0) {
    showMessageAfterSplash(kDifferentModelText, Icon::Stop);
    return false;
  }
  uint8_t mode = 0;
  if (!getExecutionState(mode)) return false;
  if (mode != kUpdateMode) {
    const std::string unitVersion = info.firmwareVersion.substr(0, kHostVersionCompareLength);
    const std::string hostVersion = state.hostVersion.substr(0, kHostVersionCompareLength);
    if (unitVersion != hostVersion) {
      logProgramLine("unit firmware " + info.firmwareVersion + " differs from " + hostVersion);
      if (!setExecutionMode(kUpdateMode)) return false;
      if (!getExecutionState(mode)) return false;
      if (mode != kUpdateMode) {
        showMessageAfterSplash(kExecStateErrorText, Icon::Stop);
        return false;
      }
      mode = kUpdateMode;
    }
  }
  if (mode == kUpdateMode && !offerFirmwareUpdate(state, runUpdate)) return false;
  if (!getUnitInfo(info)) return false;
  state.unitInfo = info;
  return true;
}

bool loadDeviceTable(AppState& state) {
  state.loadDialogFolders();
  bool missing = false;
  if (!parseDeviceTableFile(state.dataFile(kDeviceTableFileName), state.deviceTable, missing)) {
    if (missing) showMessageAfterSplash(kDeviceTableMissing, Icon::Stop);
    return false;
  }
  return true;
}

bool readStoredSettings(AppState& state) {
  InitialLoadData data;
  switch (getInitialLoadData(data)) {
    case LoadDataResult::LinkFailure:
      return false;
    case LoadDataResult::Inconsistent:
      showStartupAwareMessage(kInvalidInitialLoadText, Icon::Stop);
      state.reinitPending = true;
      break;
    case LoadDataResult::Ok:
      state.initialLoad = data;
      break;
  }
  if (state.deviceTable.optionMode()) {
    BootAreaInfo boot;
    if (!getBootAreaInfo(boot)) return false;
    state.bootArea = boot;
  }
  return true;
}

bool checkConnection(AppState& state, const UpdateRunner& runUpdate) {
  // Every message of the check, the unit commands' own included, follows
  // the start-up rule.
  StartupPhase phase;
  if (!openLink()) {
    showMessageAfterSplash(noUnitMessage(state.folder()), Icon::Stop);
    return false;
  }
  if (!checkUnit(state, runUpdate)) return false;
  if (!loadDeviceTable(state)) return false;
  return readStoredSettings(state);
}

}  // namespace vrx4
