#include "view/MainViewModel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/Log.h"
#include "base/Prompter.h"
#include "base/StartupMessage.h"
#include "image/BootFileReader.h"
#include "image/ProgramLoader.h"
#include "link/Commands.h"
#include "settings/BlockSettingRules.h"
#include "settings/CanTiming.h"
#include "view/OperationStart.h"

namespace vrx4 {

namespace {

std::string format(const char* fmt, unsigned a, unsigned b = 0) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

// A device's ID code length as far as the 32-byte IdCode can hold it.
int idCountOf(const DeviceDef& device) {
  return std::clamp(int(int32_t(device.idCodeLength)), 0, kMaxIdCodeLength);
}

int blockCountOf(const DeviceDef& device) {
  return std::clamp(int(int32_t(device.blockCount)), 0, kMaxBlocks);
}

// Whether a device address lies in the user ROM and in the image, which
// holds the user ROM from userRomStart on.
bool inUserImage(const DeviceDef& device, uint32_t a) {
  return a >= device.userRomStart && a <= device.userRomEnd && a - device.userRomStart < kUserImageSize;
}

std::string fileNameOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string folderOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void storeText(char* field, size_t capacity, const std::string& text) {
  std::memset(field, 0, capacity);
  std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
}

// A boot start and size describe an area of the 64 KiB boot image, or no
// area at all (both 0).
bool bootAreaUsable(uint32_t start, uint32_t size) {
  if (size == 0) return start == 0;
  return size <= kBootImageSize && (start & 0xFFFF) + uint64_t(size) <= kBootImageSize;
}

}  // namespace

// The user image's bytes at the device's ID code addresses; all 0xFF when
// any of them lies outside the user ROM.
int imageIdBytes(const DeviceDef& device, const MemoryImage& image, uint8_t* out) {
  const int count = idCountOf(device);
  bool inside = true;
  for (int i = 0; i < count; ++i) inside = inside && inUserImage(device, device.idCodeAddress[i]);
  for (int i = 0; i < count; ++i)
    out[i] = inside ? image.userImage[device.idCodeAddress[i] - device.userRomStart] : kBlank;
  return count;
}

int storeImageIdCode(ProjectSettings& settings, const MemoryImage& image) {
  uint8_t bytes[kMaxIdCodeLength];
  const int count = imageIdBytes(settings.device, image, bytes);
  std::memcpy(settings.idCode.idBytes, bytes, size_t(count));
  return count;
}

bool userFilePathFits(const std::string& path, const std::string& deviceName, int idCodeLength) {
  if (path.size() > kMaxUserFilePath) return false;
  // The unit keeps the name behind a one-byte length.
  if (path.size() > 255) return false;
  const size_t idLength = size_t(std::clamp(idCodeLength, 0, 64));
  return kInitialLoadFixedPart + deviceName.size() + path.size() + idLength <= kMaxInitialLoadReply;
}

std::string CompactPathDisplay(const std::string& path, const std::string& lastUserFileName,
                               const std::function<bool(const std::string&)>& fits) {
  if (!fits || fits(path)) return path;
  const size_t cut = path.rfind('/');
  if (cut == std::string::npos) return ".../" + lastUserFileName;
  const std::string file = path.substr(cut + 1);
  std::string start = path.substr(0, cut);
  for (;;) {
    const size_t level = start.rfind('/');
    start = level == std::string::npos ? std::string() : start.substr(0, level);
    if (start.empty()) return (path[0] == '/' ? "/.../" : ".../") + file;
    const std::string text = start + "/.../" + file;
    if (fits(text)) return text;
  }
}

std::string voltageText(unsigned nibble) {
  switch (nibble) {
    case 1: return "3.3V";
    case 2: return "5V";
    case 3: return "3.3/5V";
    case 4: return "12V";
    default: return "";
  }
}

std::string baudrateText(float kbps) {
  char buf[64];
  if (kbps >= 1000.0f)
    std::snprintf(buf, sizeof buf, "%.1fMbps", double(kbps) * 0.001);
  else
    std::snprintf(buf, sizeof buf, "%.1fKbps", double(kbps));
  return buf;
}

std::string protectText(int level) {
  if (level == 1) return "Level1 enabled";
  if (level == 2) return "Level2 enabled";
  return "Removed";
}

std::string blockMaskText(const BlockMask& m) {
  return m.any() ? FormatBlockList(m, 0, kMaxBlocks - 1) : "Nothing";
}

std::string hexBytesText(const uint8_t* bytes, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i) text += ",";
    text += format("%02X", bytes[i]);
  }
  return text;
}

MainViewModel::MainViewModel(AppState& state, MainViewDialogs& dialogs)
    : state_(state), dialogs_(dialogs) {}

void MainViewModel::showFields() {
  form_.operationIndex = operationIndex;
  form_.preSending.checked = preSending;
  form_.postSending.checked = postSending;
  form_.versionText = versionText;
  form_.deviceSelection = state_.settings.deviceIndex;
  form_.editUserRomEnabled = hasDevice();
  form_.lastUserFileName = state_.dialogPaths.slot(kUserFileNameSlot);
  form_.userRomFileRed = state_.settings.userFileStale == 1;
  const ProjectSettings& s = state_.settings;
  const int32_t bootLength = s.bootFileNameLength;
  const size_t bootMax = std::min<size_t>(size_t(std::max<int32_t>(bootLength, 0)), sizeof s.bootFileName);
  form_.bootFilePath = std::string(s.bootFileName, strnlen(s.bootFileName, bootMax));
  if (formChanged_) formChanged_();
}

bool MainViewModel::hasDevice() const { return state_.settings.deviceIndex >= 0; }

std::string MainViewModel::userFileName() const {
  const int32_t length = state_.settings.userFileNameLength;
  if (length <= 0) return {};
  const char* name = state_.settings.userFileName;
  return std::string(name, strnlen(name, std::min<size_t>(size_t(length), kMaxUserFilePath)));
}

void MainViewModel::setUserFileName(const std::string& name) {
  ProjectSettings& s = state_.settings;
  failedUserFile_.clear();
  storeText(s.userFileName, sizeof s.userFileName, name);
  s.userFileNameLength = int32_t(std::min(name.size(), kMaxUserFilePath));
}

void MainViewModel::clearUserFile() {
  ProjectSettings& s = state_.settings;
  setUserFileName({});
  s.userChecksum = 0;
  s.protectLevel = 0;
  std::memset(s.idCode.idBytes, 0, kMaxIdCodeLength);
}

void MainViewModel::setResultBox() {
  const OperationResultStyle style = operationResult(lastResult);
  form_.resultText = style.text;
  form_.resultColoured = style.coloured;
  form_.resultBackground = style.coloured ? style.background : Rgb{255, 255, 255};
}

void MainViewModel::setBootLoaderText() {
  ProjectSettings& s = state_.settings;
  std::memset(s.bootLoaderText, 0, sizeof s.bootLoaderText);
  std::memcpy(s.bootLoaderText, state_.image->bootImage.data(), 8);
  form_.bootLoader.text = std::string(s.bootLoaderText, strnlen(s.bootLoaderText, 8));
}

// ---- Start-up and display routines ----

void MainViewModel::StartUp(bool deferReinit) {
  ProjectSettings& s = state_.settings;
  s.rowCount = state_.deviceTable.rowCount();
  s.optionMode = state_.deviceTable.optionMode() ? 1 : 0;
  form_.deviceNames.clear();
  for (int i = 0; i < state_.deviceTable.rowCount(); ++i)
    form_.deviceNames.push_back(state_.deviceTable.row(i).name());
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
  if (allNonZero) std::fill(std::begin(s.lockBits.deviceBlockMask.bytes), std::end(s.lockBits.deviceBlockMask.bytes), 0xFF);

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

  if (s.optionMode == 1) {
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
        s.protectLevel =
            inUserImage(s.device, p) ? classifyProtect(image.userImage[p - s.device.userRomStart]) : 0;
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

void MainViewModel::DisableDeviceControls() {
  const bool frames = state_.settings.can.sendFrameMask != 0;
  for (ControlState* c : {&form_.loadButton, &form_.startButton, &form_.setBlocksButton,
                          &form_.setCanButton, &form_.checkIdButton, &form_.readVersionButton,
                          &form_.detailButton, &form_.lockBitState, &form_.operationBlock,
                          &form_.lockAfterProgram})
    c->enabled = false;
  form_.preSending.enabled = frames;
  form_.postSending.enabled = frames;
  form_.bootFileButton.enabled = frames;
  form_.deviceListFocus = true;
}

void MainViewModel::RefreshOperationButtons() {
  const bool frames = state_.settings.can.sendFrameMask != 0;
  if (!hasDevice()) {
    std::fill(std::begin(form_.operationEnabled), std::end(form_.operationEnabled), false);
    form_.startButton.enabled = false;
    form_.preSending.enabled = false;
    form_.postSending.enabled = false;
  } else {
    const bool file = state_.settings.userFileNameLength > 0;
    form_.operationEnabled[1] = form_.operationEnabled[2] = form_.operationEnabled[5] = true;
    form_.operationEnabled[0] = form_.operationEnabled[3] = form_.operationEnabled[4] = file;
    form_.startButton.enabled = true;
    if (!file) operationIndex = 1;
    form_.preSending.enabled = frames;
    form_.postSending.enabled = frames;
  }
  showFields();
}

void MainViewModel::RefreshDeviceDisplay() {
  const DeviceDef& d = state_.settings.device;
  if (!hasDevice()) {
    form_.userRomArea.text.clear();
    form_.block.text.clear();
    form_.vcc.text.clear();
    form_.vpp.text.clear();
    return;
  }
  form_.userRomArea.text = format("%06X-%06X", d.userRomStart, d.userRomEnd);
  const int blocks = int32_t(d.blockCount);
  form_.block.text = blocks == 1 ? "0" : "0-" + std::to_string(blocks - 1);
  const unsigned v = uint32_t(d.voltageCode) & 0xFF;
  form_.vcc.text = voltageText(v & 0x0F);
  form_.vpp.text = voltageText(v >> 4);
}

void MainViewModel::RefreshCanDisplay() {
  const CanSetting& c = state_.settings.can;
  form_.baudrate.text = baudrateText(c.baudKbps);
  form_.sendFrame.text = c.sendFrameMask ? "Use" : "No use";
  form_.pulseOutput.text = c.pulseEnabled ? format("%ums", uint16_t(c.pulseCycleMs)) : "No use";
  showFields();
}

void MainViewModel::RefreshLockDisplay() {
  LockBitTable& t = state_.settings.lockBits;
  t.operationBlockMask = maskAnd(t.operationBlockMask, t.deviceBlockMask);
  form_.operationBlock.text = blockMaskText(t.operationBlockMask);
  form_.lockBitState.text = t.lockBitState ? "Effective" : "Ignore";
  t.lockAfterProgramMask = maskAnd(t.lockAfterProgramMask, t.deviceBlockMask);
  form_.lockAfterProgram.text = blockMaskText(t.lockAfterProgramMask);
  showFields();
}

std::string MainViewModel::ImageIdText() {
  ProjectSettings& s = state_.settings;
  const int count = storeImageIdCode(s, *state_.image);
  return hexBytesText(s.idCode.idBytes, count);
}

void MainViewModel::RefreshUserFileDisplay() {
  const ProjectSettings& s = state_.settings;
  const std::string name = userFileName();
  if (name.empty()) {
    showNoUserFile();
    form_.idCode.text.clear();
    form_.checkIdCode.text.clear();
  } else if (name == kReadDataName) {
    form_.userRomFile.text = name;
    form_.userRomFileCompact = false;
    form_.idCode.text.clear();
    // A passed Read zeroes the record's ID code: the field shows it.
    form_.checkIdCode.text = hexBytesText(s.idCode.idBytes, std::min<int>(s.idCode.idLength, kMaxIdCodeLength));
  } else {
    form_.romProtect.text = protectText(s.protectLevel);
    const std::string id = ImageIdText();
    form_.idCode.text = id;
    form_.checkIdCode.text = id;
    form_.checkSum.text = format("%04X", uint16_t(s.userChecksum));
    form_.userRomFile.text = name;
    form_.userRomFileCompact = true;
    showFields();
    return;
  }
  form_.checkSum.text.clear();
  form_.romProtect.text.clear();
  showFields();
}

void MainViewModel::showNoUserFile() {
  // Nothing, or the file whose Load failed (drawn red: userFileStale is set).
  form_.userRomFile.text = failedUserFile_;
  form_.userRomFileCompact = !failedUserFile_.empty();
}

void MainViewModel::ClearUserFileSums() {
  form_.checkSum.text.clear();
  form_.romProtect.text.clear();
  form_.idCode.text.clear();
  showFields();
}

void MainViewModel::RefreshAllFileDisplay() {
  const ProjectSettings& s = state_.settings;
  const std::string name = userFileName();
  const int idLength = std::min<int>(s.idCode.idLength, kMaxIdCodeLength);
  if (name.empty()) {
    showNoUserFile();
    form_.idCode.text.clear();
    form_.checkIdCode.text.clear();
    form_.checkSum.text.clear();
    form_.romProtect.text.clear();
  } else if (name == kReadDataName || s.userFileStale == 1) {
    form_.userRomFile.text = name;
    form_.userRomFileCompact = false;
    form_.idCode.text.clear();
    form_.checkIdCode.text = hexBytesText(s.idCode.idBytes, idLength);
    form_.checkSum.text.clear();
    form_.romProtect.text.clear();
  } else {
    form_.romProtect.text = protectText(s.protectLevel);
    if (idCountOf(s.device) >= 1) {
      uint8_t bytes[kMaxIdCodeLength];
      const int count = imageIdBytes(s.device, *state_.image, bytes);
      form_.idCode.text = hexBytesText(bytes, count);
      form_.checkIdCode.text = hexBytesText(s.idCode.idBytes, idLength);
    } else {
      form_.idCode.text.clear();
      form_.checkIdCode.text.clear();
    }
    form_.checkSum.text = format("%04X", uint16_t(s.userChecksum));
    form_.userRomFile.text = name;
    form_.userRomFileCompact = true;
  }
  showFields();
}

// ---- Command handlers ----

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
  if (!setIdCode(id) || !setUserDataPresent(true) || !vrx4::setUserFileName(userFileName()) ||
      !SendLockBits())
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

void MainViewModel::OnReadVersion() {
  std::string version;
  versionText = readVersion(version) ? version : kReadErrorText;
  showFields();
}

void MainViewModel::OnOperationChanged(int operation, bool pre, bool post) {
  operationIndex = std::clamp(operation, 0, kOperationCount - 1);
  preSending = pre;
  postSending = post;
  (void)setOperation(operationCode(operationIndex), sendFlags());
  showFields();
}

void MainViewModel::OnProjectNew() {
  dialogs_.initializing();
  InitialLoadData data;
  if (getInitialLoadData(data) != LoadDataResult::Ok) return;
  state_.initialLoad = data;
  ResetView();
  showFields();
}

void MainViewModel::OnStart() {
  if (!hasDevice() || operationIndex < 0 || operationIndex >= kOperationCount) return;
  // Erase/Program/Verify, Erase/Program and Verify need a file in the unit.
  const bool needsFile = operationIndex == 0 || operationIndex == 3 || operationIndex == 4;
  if (needsFile && state_.settings.userFileNameLength <= 0) return;
  lastResult = 0;
  setResultBox();
  showFields();
  const OperationRun run =
      runOperation(operationIndex, state_.settings, *state_.image, userReadBackPending,
                   [this](int index, uint32_t total) { return dialogs_.programming(index, total); });
  if (!run.started) return;
  lastResult = run.lastResult;
  setResultBox();
  if (run.readBack) {
    RefreshOperationButtons();
    RefreshUserFileDisplay();
  }
  showFields();
}

void MainViewModel::OnManual(bool japanese) {
  const std::string path = state_.dataFile(japanese ? kManualJapanese : kManualEnglish);
  if (dialogs_.openDocument(path)) return;
  Prompt p;
  p.text = kMsgManualOpenError;
  p.icon = Icon::Exclamation;
  p.caption = kManualErrorCaption;
  logLine(messageLogLine(p.text, p.icon));
  prompter().ask(p);
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
