#pragma once
// What the application object holds for the whole run: the settings record,
// the memory images, the unit's identity and stored settings, the device
// table, the dialog folders and the start-up flags. Plain data, so the core
// can work on it without the GUI.
#include <memory>
#include <string>

#include "app/AppInfo.h"
#include "app/DeviceTable.h"
#include "app/DialogPaths.h"
#include "base/ProjectSettings.h"
#include "image/MemoryImage.h"
#include "link/Commands.h"

namespace vrx4 {

struct AppState {
  AppState();

  std::string hostVersion = kHostVersion;
  // The program's own file; its folder is the program folder.
  std::string executablePath;

  ProjectSettings settings;
  std::unique_ptr<MemoryImage> image;  // 4 MiB: on the heap
  DeviceTable deviceTable;
  UnitInfo unitInfo;
  InitialLoadData initialLoad;
  BootAreaInfo bootArea;
  DialogPaths dialogPaths;

  // Cleared when the connection check fails: the program then ends before
  // its window is shown.
  bool startupOk = true;
  // Cleared when another instance is running: this one never owned the link.
  bool closeLinkAtExit = true;
  // Set when the unit's stored settings must be reset once the view is up.
  bool reinitPending = false;

  std::string folder() const { return programFolder(executablePath); }
  // A file shipped with the program: beside it, else in ../share/vrx4/.
  std::string dataFile(const std::string& name) const;
  // Where "dlg_path" is read and written; empty until the connection check
  // decides it (the program folder when writable, else the user's
  // configuration folder).
  std::string dialogPathStore;
  void loadDialogFolders();
};

}  // namespace vrx4
