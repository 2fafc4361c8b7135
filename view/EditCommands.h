#pragma once
// "&Edit" / "&User Rom Area..." and "&Boot Rom Area...": fetch the unit's
// data when the image lives there, run the memory editor and take over its
// result.
#include "app/AppState.h"
#include "view/CommandSeam.h"

namespace vrx4 {

// Returns the editor's outcome (ok false when it did not open or was
// cancelled).
EditorOutcome OnEditUserRom(AppState& app, CommandViewFields& view, const CommandDialogs& dialogs,
                            const MainViewRoutines& routines);
EditorOutcome OnEditBootRom(AppState& app, const CommandDialogs& dialogs, const MainViewRoutines& routines);

}  // namespace vrx4
