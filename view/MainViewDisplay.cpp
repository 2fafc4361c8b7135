// The main form's display routines: what the fields show of the device, the
// CAN setting, the lock bits and the files.
#include "view/MainViewModel.h"

#include <algorithm>

#include "settings/BlockSettingRules.h"
#include "settings/CanTiming.h"
#include "view/MainViewHelpers.h"

namespace vrx4 {

using namespace mainview;

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

std::string baudrateText(float kbps) { return canBaudrateText(kbps); }

std::string protectText(int level) {
  if (level == 1) return "Level1 enabled";
  if (level == 2) return "Level2 enabled";
  return "Removed";
}

std::string blockMaskText(const BlockMask& m) { return m.any() ? FormatBlockList(m, 0, kMaxBlocks - 1) : "Nothing"; }

std::string hexBytesText(const uint8_t* bytes, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i) text += ",";
    text += format("%02X", bytes[i]);
  }
  return text;
}

void MainViewModel::DisableDeviceControls() {
  const bool frames = state_.settings.can.sendFrameMask != 0;
  for (ControlState* c : {&form_.loadButton, &form_.startButton, &form_.setBlocksButton, &form_.setCanButton,
                          &form_.checkIdButton, &form_.readVersionButton, &form_.detailButton, &form_.lockBitState,
                          &form_.operationBlock, &form_.lockAfterProgram})
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

}  // namespace vrx4
