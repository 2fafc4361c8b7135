#pragma once
// What the editor and project commands need of the window around them: the
// file dialogs, "Load OK ?", the transfer dialogs and the memory editor,
// and the main view's own routines (device selection, display refresh, the
// settings sent after a project is opened). The window fills these in; the
// commands themselves stay free of any toolkit.
#include <functional>
#include <optional>
#include <string>

#include "image/MemoryImage.h"

namespace vrx4 {

struct FileDialogSpec {
  bool save = false;
  std::string title;
  std::string filter;            // "Text (*.x)|*.x||"
  std::string defaultExtension;  // without the dot
  std::string initialDirectory;
};

// Inputs of the "Edit" dialog set by the main view.
struct EditorRequest {
  ImageArea area = ImageArea::User;
  std::string deviceType;  // "Device Type :"
  std::string romArea;     // "Rom Area :": "User Rom" or "Boot Rom"
  std::string address;     // "Address :": "%06X-%06X"
  bool saveEnabled = false;
};

struct EditorOutcome {
  bool ok = false;            // ended with OK
  bool uploadFailed = false;  // the send after OK did not end with OK
};

struct CommandDialogs {
  // Open or save dialog; the chosen path, or nothing on Cancel.
  std::function<std::optional<std::string>(const FileDialogSpec&)> fileDialog;
  // "Load OK ?" for a path; true on OK.
  std::function<bool(const std::string& path)> confirmLoad;
  // "Loading..." for an area, with the path for its text line (may be
  // empty); true when it ended with OK.
  std::function<bool(ImageArea area, const std::string& path)> sendImage;
  // "Saving..." (read back from the unit) for an area; true on OK.
  std::function<bool(ImageArea area)> fetchImage;
  // The memory editor, run modally on the application's state.
  std::function<EditorOutcome(const EditorRequest&)> runEditor;
};

// The view fields the commands read and write.
struct CommandViewFields {
  int operationIndex = 0;
  bool preSending = false;
  bool postSending = false;
  bool userReadBackPending = false;
};

// The main view's routines.
struct MainViewRoutines {
  std::function<void()> readControls;           // the form's controls into the view
  std::function<void(int index)> selectDevice;  // SelectDevice
  std::function<void()> refreshAfterOpen;       // device, CAN, lock and all-file displays
  std::function<bool()> sendAllSettings;        // SendAllSettings
  std::function<void()> refreshOperationButtons;
  std::function<void()> showFields;  // the view's fields onto the form
  // After the user-ROM editor: the file fields cleared (no checksum,
  // protect or ID text) or shown from the settings.
  std::function<void(bool cleared)> showEditedUserFile;
  std::function<void()> showBootLoader;  // "Boot Loader :" from bootLoaderText
  // A project's user image did not reach the unit (the settings are back
  // to the backup): the form and the unit as after a failed Load.
  std::function<void(const std::string& path)> userFileNotInUnit;
};

}  // namespace vrx4
