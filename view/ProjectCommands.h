#pragma once
// "&Project" / "&Open..." and "Save &As...": the whole set-up to and from a
// project file, with the named program files reloaded and sent on open.
#include "app/AppState.h"
#include "view/CommandSeam.h"

namespace vrx4 {

inline constexpr const char* kProjectFilter = "T552-VRX4 project file (*.vxp)|*.vxp||";
inline constexpr const char* kProjectOpenTitle = "T552-VRX4 project file open";
inline constexpr const char* kProjectSaveTitle = "T552-VRX4 project file save";
inline constexpr const char* kIgnoreFileName = "Ignore file name.";
inline constexpr const char* kReadUserFileError = "Read user file error.";
inline constexpr const char* kReadBootFileError = "Read boot file error.";

// True when a file was written.
bool OnProjectSaveAs(AppState& app, const CommandViewFields& view, const CommandDialogs& dialogs,
                     const MainViewRoutines& routines);
// True when the project was taken over (the settings hold it and the unit
// has been sent everything); false leaves the settings as they were before.
bool OnProjectOpen(AppState& app, CommandViewFields& view, const CommandDialogs& dialogs,
                   const MainViewRoutines& routines);

}  // namespace vrx4
