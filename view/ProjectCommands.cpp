#include "view/ProjectCommands.h"

#include <cstring>

#include "base/Prompter.h"
#include "image/BootFileReader.h"
#include "image/ProgramLoader.h"
#include "link/Commands.h"
#include "view/ProjectFile.h"

namespace vrx4 {

namespace {

FileDialogSpec projectDialog(const AppState& app, bool save) {
  FileDialogSpec choice;
  choice.save = save;
  choice.title = save ? kProjectSaveTitle : kProjectOpenTitle;
  choice.filter = kProjectFilter;
  choice.defaultExtension = "vxp";
  choice.initialDirectory = app.dialogPaths.slot(kProjectFolderSlot);
  return choice;
}

std::string fieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// The name part of a path, after its last folder separator.
std::string fileNamePart(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool OnProjectSaveAs(AppState& app, const CommandViewFields& view, const CommandDialogs& dialogs,
                     const MainViewRoutines& routines) {
  if (routines.readControls) routines.readControls();
  if (!dialogs.fileDialog) return false;
  const std::optional<std::string> path = dialogs.fileDialog(projectDialog(app, true));
  if (!path) return false;
  (void)app.dialogPaths.setSlot(kProjectFolderSlot, programFolder(*path));
  ProjectSettings& s = app.settings;
  s.operationIndex = view.operationIndex;
  s.sendFlags = (view.preSending ? 1 : 0) | (view.postSending ? 2 : 0);
  std::string why;
  const SaveResult result = writeProjectFile(*path, s, &why);
  if (result != SaveResult::Ok) {
    showMessageWithDetail(saveResultMessage(result), *path + ": " + why);
    return false;
  }
  return true;
}

namespace {

// The project's boot file, when it names one: loaded and sent, or its
// fields cleared when it names none. A boot file that fails leaves the
// project open.
void openBootFileOf(AppState& app, const CommandDialogs& dialogs, const MainViewRoutines& routines) {
  ProjectSettings& s = app.settings;
  if (s.bootFileNameLength != 0) {
    const std::string bootFile = fieldText(s.bootFileName, sizeof s.bootFileName);
    if (dialogs.confirmLoad && dialogs.confirmLoad(bootFile)) {
      if (loadBootFile(bootFile, *app.image, s)) {
        if (dialogs.sendImage && dialogs.sendImage(ImageArea::Boot, bootFile)) {
          std::memset(s.bootLoaderText, 0, sizeof s.bootLoaderText);
          std::memcpy(s.bootLoaderText, app.image->bootImage.data(), 8);
          if (routines.showBootLoader) routines.showBootLoader();
        }
      } else {
        showMessage(kReadBootFileError, Icon::Stop);
        std::memset(s.bootLoaderText, 0, sizeof s.bootLoaderText);
      }
    }
  } else {
    std::memset(s.bootFileName, 0, sizeof s.bootFileName);
    s.bootChecksum = 0;
    std::memset(s.bootLoaderText, 0, sizeof s.bootLoaderText);
  }
}

}  // namespace

bool OnProjectOpen(AppState& app, CommandViewFields& view, const CommandDialogs& dialogs,
                   const MainViewRoutines& routines) {
  if (!dialogs.fileDialog) return false;
  const std::optional<std::string> path = dialogs.fileDialog(projectDialog(app, false));
  if (!path) return false;
  (void)app.dialogPaths.setSlot(kProjectFolderSlot, programFolder(*path));

  ProjectSettings& s = app.settings;
  const ProjectSettings backup = s;
  std::string why;
  switch (readProjectFile(*path, app.deviceTable.rowCount(), s, &why)) {
    case ProjectReadResult::Ok:
      break;
    case ProjectReadResult::OpenFailed:
      showMessageWithDetail(kFileOpenError, why, Icon::Stop);
      return false;
    case ProjectReadResult::FormatError:
      showMessage(kProjectFormatError, Icon::Stop);
      return false;
  }
  const auto restore = [&] { s = backup; };
  // The device copy in the file may be older than the table: the row the
  // project names is what the file is loaded for, sent for and summed over.
  if (int32_t(s.deviceIndex) != -1) s.device = app.deviceTable.row(s.deviceIndex);

  if (s.userFileNameLength <= 0) {
    showMessage(kIgnoreFileName, Icon::Stop);
    restore();
    return false;
  }
  const std::string userFile = fieldText(s.userFileName, sizeof s.userFileName);
  const std::string previousName = app.dialogPaths.slot(kUserFileNameSlot);
  (void)app.dialogPaths.setSlot(kUserFileNameSlot, fileNamePart(userFile));
  if (!dialogs.confirmLoad || !dialogs.confirmLoad(userFile)) {
    (void)app.dialogPaths.setSlot(kUserFileNameSlot, previousName);
    restore();
    return false;
  }

  // The project's ID code wins over the one the image carries.
  uint8_t keptId[kMaxIdCodeLength];
  std::memcpy(keptId, s.idCode.idBytes, sizeof keptId);
  int32_t level = 0;
  const bool loaded = loadProgramFile(LoadMode::Interactive, userFile, s.device, *app.image, s.idCode, level);
  std::memcpy(s.idCode.idBytes, keptId, sizeof keptId);
  s.userFileStale = loaded ? 0 : 1;
  if (!loaded) {
    showMessage(kReadUserFileError, Icon::Stop);
    restore();
    return false;
  }
  if (!dialogs.sendImage || !dialogs.sendImage(ImageArea::User, userFile)) {
    restore();
    // Whatever the unit's buffer holds now is no program of the operator's,
    // and the previous file is no longer in it either.
    if (routines.userFileNotInUnit)
      routines.userFileNotInUnit(userFile);
    else
      (void)setUserDataPresent(false);
    return false;
  }
  s.protectLevel = level;
  s.userChecksum = app.image->imageChecksum(ImageArea::User, s);

  openBootFileOf(app, dialogs, routines);

  if (int32_t(s.deviceIndex) != -1 && routines.selectDevice) routines.selectDevice(s.deviceIndex);
  view.operationIndex = s.operationIndex;
  view.preSending = (int32_t(s.sendFlags) & 1) != 0;
  view.postSending = (int32_t(s.sendFlags) & 2) != 0;
  if (routines.refreshAfterOpen) routines.refreshAfterOpen();
  if (routines.sendAllSettings) (void)routines.sendAllSettings();
  if (routines.refreshOperationButtons) routines.refreshOperationButtons();
  return true;
}

}  // namespace vrx4
