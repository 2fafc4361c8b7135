// The main form's model: its fields, the user file name it keeps, and the
// ID code of the image.
#include "view/MainViewModel.h"

#include <algorithm>
#include <cstring>

#include "view/MainViewHelpers.h"

namespace vrx4 {

using namespace mainview;

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

MainViewModel::MainViewModel(AppState& state, MainViewDialogs& dialogs) : state_(state), dialogs_(dialogs) {}

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

}  // namespace vrx4
