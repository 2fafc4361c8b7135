#include "app/AppState.h"

#include "base/ProgramFiles.h"

namespace vrx4 {

AppState::AppState() : image(std::make_unique<MemoryImage>()) {
  // Shown in the About box until the unit has been read.
  unitInfo.firmwareVersionCollapsed.assign(32, ' ');
  unitInfo.firmwareDate.assign(16, ' ');
}

std::string AppState::dataFile(const std::string& name) const { return findDataFile(folder(), name); }

void AppState::loadDialogFolders() {
  const std::string programFolder = folder();
  if (dialogPathStore.empty()) dialogPathStore = dialogPathFolder(programFolder);
  loadDialogPaths(dialogPaths, programFolder, dialogPathStore);
}

}  // namespace vrx4
