#include "view/EditCommands.h"

#include <cstdio>
#include <cstring>

#include "link/Commands.h"
#include "view/MainViewModel.h"

namespace vrx4 {

namespace {

std::string areaText(uint32_t start, uint32_t end) {
  char t[32];
  std::snprintf(t, sizeof t, "%06X-%06X", unsigned(start), unsigned(end));
  return t;
}

void sendUserFileAndSums(const ProjectSettings& s, const MemoryImage& image) {
  uint16_t sums[kMaxBlocks] = {};
  const int count = std::clamp<int>(s.device.blockCount, 0, kMaxBlocks);
  image.blockChecksums(s.device, sums);
  (void)setUserFileName(std::string(s.userFileName, strnlen(s.userFileName, sizeof s.userFileName)));
  (void)setBlockChecksums(count, sums);
}

}  // namespace

EditorOutcome OnEditUserRom(AppState& app, CommandViewFields& view, const CommandDialogs& dialogs,
                            const MainViewRoutines& routines) {
  ProjectSettings& s = app.settings;
  bool readNow = false;
  if (view.userReadBackPending) {
    // The image holds zeros until the unit's data is read; an editor on it
    // would show (and could upload) data the target never had.
    if (!dialogs.fetchImage || !dialogs.fetchImage(ImageArea::User)) return {};
    view.userReadBackPending = false;
    readNow = true;
  }
  EditorRequest request;
  request.area = ImageArea::User;
  request.romArea = "User Rom";
  if (int32_t(s.deviceIndex) != -1) {
    request.deviceType = s.device.name();
    request.address = areaText(s.device.userRomStart, s.device.userRomEnd);
  }
  request.saveEnabled = readNow || std::strcmp(s.userFileName, kReadDataName) == 0;
  const EditorOutcome outcome = dialogs.runEditor ? dialogs.runEditor(request) : EditorOutcome{};
  if (outcome.ok) {
    if (outcome.uploadFailed || s.userFileNameLength <= 0 || s.userFileName[0] == '\0') {
      s.userChecksum = 0;
      if (routines.showEditedUserFile) routines.showEditedUserFile(true);
    } else {
      s.userChecksum = app.image->imageChecksum(ImageArea::User, s);
      const uint32_t pa = s.device.protectAddress;
      const uint32_t start = s.device.userRomStart, end = s.device.userRomEnd;
      s.protectLevel = (start <= pa && pa <= end && pa - start < kUserImageSize)
                           ? classifyProtect(app.image->userImage[pa - start])
                           : 0;
      storeImageIdCode(s, *app.image);
      if (routines.showEditedUserFile) routines.showEditedUserFile(false);
      sendUserFileAndSums(s, *app.image);
    }
  }
  if (routines.showFields) routines.showFields();
  return outcome;
}

EditorOutcome OnEditBootRom(AppState& app, const CommandDialogs& dialogs, const MainViewRoutines& routines) {
  ProjectSettings& s = app.settings;
  EditorRequest request;
  request.area = ImageArea::Boot;
  request.romArea = "Boot Rom";
  if (int32_t(s.deviceIndex) != -1) {
    request.deviceType = s.device.name();
    request.address = areaText(s.bootStart, s.bootEnd);
  }
  request.saveEnabled = false;
  const EditorOutcome outcome = dialogs.runEditor ? dialogs.runEditor(request) : EditorOutcome{};
  if (outcome.ok && !outcome.uploadFailed && s.bootFileLoaded == 1)
    s.bootChecksum = app.image->imageChecksum(ImageArea::Boot, s);
  if (routines.showFields) routines.showFields();
  return outcome;
}

}  // namespace vrx4
