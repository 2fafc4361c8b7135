#include "app/AppState.h"

namespace vrx4 {

AppState::AppState() : image(std::make_unique<MemoryImage>()) {
  // Shown in the About box until the unit has been read.
  unitInfo.firmwareVersionCollapsed.assign(32, ' ');
  unitInfo.firmwareDate.assign(16, ' ');
}

}  // namespace vrx4
