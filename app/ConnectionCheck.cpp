#include "app/ConnectionCheck.h"

#include "app/StartupMessage.h"
#include "link/UsbLink.h"

namespace vrx4 {

bool checkConnection(AppState& state) {
  if (!openLink()) {
    showMessageAfterSplash(kNoUnitText, Icon::Stop);
    return false;
  }
  loadDialogPaths(state.dialogPaths, state.folder());
  return true;
}

}  // namespace vrx4
