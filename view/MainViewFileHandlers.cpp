// The main form's file and settings handlers: the device choice, the user
// and boot files, the CAN, block and ID code settings, a new project.
#include "view/MainViewModel.h"

#include <algorithm>
#include <cstring>

#include "base/Prompter.h"
#include "image/BootFileReader.h"
#include "image/ProgramLoader.h"
#include "link/Commands.h"
#include "view/MainViewHelpers.h"

namespace vrx4 {

using namespace mainview;

void MainViewModel::SelectDevice(int index) {
  ProjectSettings& s = state_.settings;
  if (index < 0 || index >= state_.deviceTable.rowCount()) return;
  s.deviceIndex = index;
  s.device = state_.deviceTable.row(index);
  form_.deviceSelection = index;
  form_.loadButton.enabled = true;
  const int blocks = blockCountOf(s.device);
  form_.operationBlock.enabled = blocks != 1 && (s.device.blockSelectFlags & 3) != 0;
  switch (s.device.lockBitMode) {
    case 0:
      form_.lockAfterProgram.enabled = false;
      form_.lockBitState.enabled = false;
      break;
    case 2:
      form_.lockAfterProgram.enabled = false;
      form_.lockBitState.enabled = true;
      break;
    default:
      form_.lockAfterProgram.enabled = true;
      form_.lockBitState.enabled = true;
      break;
  }
  s.lockBits.deviceBlockMask = BlockMask{};
  for (int i = 0; i < blocks; ++i) s.lockBits.deviceBlockMask.set(i);
  form_.setBlocksButton.enabled = true;
  form_.setCanButton.enabled = true;
  form_.readVersionButton.enabled = true;
  form_.checkIdButton.enabled = true;
  form_.detailButton.enabled = true;
  form_.bootFileButton.enabled = true;
  form_.editUserRomEnabled = true;
}

void MainViewModel::OnDeviceChanged(int selection) {
  ProjectSettings& s = state_.settings;
  if (selection < 0 || selection >= state_.deviceTable.rowCount()) return;
  if (selection == s.deviceIndex) {
    showFields();
    return;
  }
  userReadBackPending = true;
  setUserFileName({});
  s.userChecksum = 0;
  std::memset(s.idCode.idBytes, 0, kMaxIdCodeLength);
  SelectDevice(selection);
  s.lockBits.operationBlockMask = s.lockBits.deviceBlockMask;
  RefreshLockDisplay();
  RefreshUserFileDisplay();
  RefreshDeviceDisplay();
  (void)setDevice(s.device);
  s.idCode.idLength = uint8_t(idCountOf(s.device));
  RefreshOperationButtons();
  preSending = false;
  postSending = false;
  (void)setOperation(operationCode(operationIndex), 0);
  (void)setBlockSettings(s.lockBits);
  (void)vrx4::setUserFileName(userFileName());
  showFields();
}

bool MainViewModel::SendLockBits() { return setBlockSettings(state_.settings.lockBits); }

bool MainViewModel::UploadUserImage() {
  ProjectSettings& s = state_.settings;
  MemoryImage& image = *state_.image;
  IdCode id = s.idCode;
  id.idLength = uint8_t(idCountOf(s.device));
  if (!setIdCode(id) || !setUserDataPresent(true) || !vrx4::setUserFileName(userFileName()) || !SendLockBits())
    return false;
  if (!dialogs_.sendImage(ImageArea::User, image, s, userFileName())) return false;
  userReadBackPending = false;
  s.userChecksum = image.imageChecksum(ImageArea::User, s);
  uint16_t sums[kMaxBlocks] = {};
  image.blockChecksums(s.device, sums);
  (void)setBlockChecksums(blockCountOf(s.device), sums);
  return true;
}

void MainViewModel::OnLoadUserFile() {
  ProjectSettings& s = state_.settings;
  MemoryImage& image = *state_.image;
  if (!hasDevice()) return;
  const std::optional<std::string> chosen = dialogs_.openFile(
      {kUserFileDialogTitle, kUserFileDialogFilter, "hex", state_.dialogPaths.slot(kUserFileFolderSlot)});
  if (!chosen) return;
  const std::string path = *chosen;
  if (!path.empty()) {
    if (!userFilePathFits(path, s.device.name(), idCountOf(s.device))) {
      showMessage(kMsgOversizedPath, Icon::Stop);
    } else {
      state_.dialogPaths.setSlot(kUserFileFolderSlot, folderOf(path));
      state_.dialogPaths.setSlot(kUserFileNameSlot, fileNameOf(path));
      image.clearUserImage();
      s.idCode.idLength = uint8_t(idCountOf(s.device));
      int32_t level = 0;
      const bool loaded = loadProgramFile(LoadMode::Interactive, path, s.device, image, s.idCode, level);
      s.userFileStale = loaded ? 0 : 1;
      if (loaded) {
        s.protectLevel = level;
        setUserFileName(path);
        if (UploadUserImage()) {
          RefreshOperationButtons();
          RefreshUserFileDisplay();
          return;
        }
      }
    }
  }
  // The image the unit holds, if any, is no longer the operator's: a
  // refused file must not leave the previous one programmable.
  UserFileNotInUnit(path);
}

void MainViewModel::UserFileNotInUnit(const std::string& attemptedPath) {
  ProjectSettings& s = state_.settings;
  clearUserFile();
  s.userFileStale = attemptedPath.empty() ? 0 : 1;
  failedUserFile_ = attemptedPath;
  userReadBackPending = true;
  (void)setUserDataPresent(false);
  (void)vrx4::setUserFileName({});
  const int before = operationIndex;
  RefreshOperationButtons();
  if (operationIndex != before) (void)setOperation(operationCode(operationIndex), sendFlags());
  RefreshUserFileDisplay();
}

void MainViewModel::OnLoadBootFile() {
  ProjectSettings& s = state_.settings;
  MemoryImage& image = *state_.image;
  const std::optional<std::string> chosen = dialogs_.openFile(
      {kBootFileDialogTitle, kBootFileDialogFilter, "hex", state_.dialogPaths.slot(kBootFileFolderSlot)});
  if (!chosen) return;
  const std::string path = *chosen;
  state_.dialogPaths.setSlot(kBootFileFolderSlot, folderOf(path));
  bool loaded = false;
  if (path.size() > kMaxUserFilePath) {
    showMessage(kMsgOversizedPath, Icon::Stop);
  } else if (loadBootFile(path, image, s)) {
    s.bootFileLoaded = 1;
    storeText(s.bootFileName, sizeof s.bootFileName, path);
    s.bootFileNameLength = int32_t(path.size());
    setBootLoaderText();
    showFields();
    // A boot area that did not reach the unit is not shown as loaded.
    loaded = dialogs_.sendImage(ImageArea::Boot, image, s, path);
  }
  if (!loaded) {
    s.bootFileLoaded = 0;
    s.bootFileNameLength = 0;
    std::memset(s.bootFileName, 0, sizeof s.bootFileName);
    std::memset(s.bootLoaderText, 0, sizeof s.bootLoaderText);
    form_.bootLoader.text.clear();
  }
  showFields();
}

void MainViewModel::OnSetCan() {
  ProjectSettings& s = state_.settings;
  const std::optional<CanSetting> accepted = dialogs_.canSetting(s.can);
  if (!accepted) return;
  s.can = *accepted;
  RefreshCanDisplay();
  const bool frames = s.can.sendFrameMask != 0;
  preSending = frames;
  postSending = frames;
  form_.preSending.enabled = frames;
  form_.postSending.enabled = frames;
  (void)setOperation(operationCode(operationIndex), sendFlags());
  showFields();
}

void MainViewModel::OnSetBlocks() {
  LockBitTable& t = state_.settings.lockBits;
  const std::optional<LockBitTable> accepted = dialogs_.blockSetting(t, state_.settings.device);
  if (!accepted) return;
  t.lockBitState = accepted->lockBitState ? 1 : 0;
  t.operationBlockMask = accepted->operationBlockMask;
  t.lockAfterProgramMask = accepted->lockAfterProgramMask;
  RefreshLockDisplay();
  (void)SendLockBits();
}

void MainViewModel::OnCheckId() {
  IdCode& id = state_.settings.idCode;
  const std::optional<IdCode> accepted = dialogs_.setId(id);
  if (!accepted) return;
  const int length = std::min<int>(id.idLength, kMaxIdCodeLength);
  std::memcpy(id.idBytes, accepted->idBytes, size_t(length));
  form_.checkIdCode.text = hexBytesText(id.idBytes, length);
  (void)setIdCode(id);
  showFields();
}

void MainViewModel::OnDetail() { dialogs_.deviceDetail(state_.settings.device); }

void MainViewModel::OnProjectNew() {
  dialogs_.initializing();
  InitialLoadData data;
  if (getInitialLoadData(data) != LoadDataResult::Ok) return;
  state_.initialLoad = data;
  ResetView();
  showFields();
}

bool MainViewModel::SendAllSettings() {
  ProjectSettings& s = state_.settings;
  (void)setDevice(s.device);
  bool present = false;
  if (s.userFileNameLength > 0) {
    if (!vrx4::setUserFileName(userFileName())) return false;
    uint16_t sums[kMaxBlocks] = {};
    state_.image->blockChecksums(s.device, sums);
    (void)setBlockChecksums(blockCountOf(s.device), sums);
    present = true;
  }
  (void)setUserDataPresent(present);
  IdCode id = s.idCode;
  id.idLength = uint8_t(idCountOf(s.device));
  return setCanSetting(s.can) && SendLockBits() && setOperation(operationCode(operationIndex), sendFlags()) &&
         setIdCode(id);
}

}  // namespace vrx4
