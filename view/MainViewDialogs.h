#pragma once
// Everything the main form's handlers need a window for, behind one
// interface: the file-open dialog, the settings dialogs, the transfer and
// progress dialogs and the document viewer. The GUI implements it with its
// dialogs; tests and the command line implement it with the core workers.
#include <cstdint>
#include <optional>
#include <string>

#include "base/CanSetting.h"
#include "base/DeviceDef.h"
#include "base/IdCode.h"
#include "base/LockBitTable.h"
#include "base/ProjectSettings.h"
#include "image/MemoryImage.h"
#include "view/OperationRunner.h"

namespace vrx4 {

struct FileOpenRequest {
  std::string title;             // "User Rom Data Load"
  std::string filter;            // "Data file (*.hex,*.mot)|*.hex;*.mot||"
  std::string defaultExtension;  // "hex"
  std::string initialDirectory;  // a dialogPaths slot
};

class MainViewDialogs {
 public:
  virtual ~MainViewDialogs() = default;

  // The file-open dialog (read-only box hidden): the chosen full path, or
  // nothing on Cancel.
  virtual std::optional<std::string> openFile(const FileOpenRequest& request) = 0;

  // "CAN Setting" on a copy of `current`. On OK the dialog has sent the new
  // record to the unit (setCanSetting) and returns it; Cancel: nothing.
  virtual std::optional<CanSetting> canSetting(const CanSetting& current) = 0;

  // "Block Setting" on `current` for `device`. On OK: lockBitState (1
  // "Effective", 0 "Ignore"), operationBlockMask and lockAfterProgramMask of
  // the result are the operator's choice; nothing is sent by the dialog.
  virtual std::optional<LockBitTable> blockSetting(const LockBitTable& current, const DeviceDef& device) = 0;

  // "Set ID" on `current` (its length and bytes). OK: the new bytes.
  virtual std::optional<IdCode> setId(const IdCode& current) = 0;

  // "Device detail" of `device`; changes nothing.
  virtual void deviceDetail(const DeviceDef& device) = 0;

  // "Loading...": sends the area of `image` to the unit. filePath is shown
  // as its file name. True when the whole send completed.
  virtual bool sendImage(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                         const std::string& filePath) = 0;

  // "Saving...": reads the area from the unit into `image`. True when the
  // whole fetch completed.
  virtual bool fetchImage(ImageArea area, MemoryImage& image, const ProjectSettings& settings) = 0;

  // "Programming...": polls the running operation over a bar of `total`
  // and returns how the dialog ended.
  virtual OperationOutcome programming(int operationIndex, uint32_t total) = 0;

  // "Initializing...": the unit resets its stored settings.
  virtual void initializing() = 0;

  // Opens a document (the manual) with the platform's viewer; false when it
  // could not be opened.
  virtual bool openDocument(const std::string& path) = 0;
};

}  // namespace vrx4
