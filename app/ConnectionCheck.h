#pragma once
// The check that runs once, from the main view's first update, before the
// main window is shown: the program goes on only when it returns true.
// Every message it raises goes through showMessageAfterSplash.
#include "app/AppState.h"

namespace vrx4 {

inline constexpr const char* kNoUnitText = "Communication error. Can't accept data from T552-VRX4.";

// Opens the link to the unit, then takes the last-used dialog folders from
// "dlg_path" in the program folder.
bool checkConnection(AppState& state);

}  // namespace vrx4
