#include "view/OperationStart.h"

#include <cstring>

#include "link/Commands.h"

namespace vrx4 {

OperationRun runOperation(int operationIndex, ProjectSettings& settings, MemoryImage& image, bool& userReadBackPending,
                          const ProgrammingDialogRunner& runDialog) {
  OperationRun run;
  if (!startOperation()) return run;
  run.started = true;
  const uint32_t total = uint32_t(settings.device.userRomEnd) - uint32_t(settings.device.userRomStart) + 1;
  const OperationOutcome outcome = runDialog ? runDialog(operationIndex, total) : OperationOutcome{false, 0};
  run.lastResult = outcome.ok ? outcome.resultCode : 0;
  if (operationIndex == kOperationRead && run.lastResult == kResultPass) {
    run.readBack = true;
    userReadBackPending = true;
    std::memset(settings.userFileName, 0, sizeof settings.userFileName);
    std::memcpy(settings.userFileName, kReadDataName, std::strlen(kReadDataName));
    settings.userFileNameLength = int32_t(std::strlen(kReadDataName));
    settings.protectLevel = 0;
    std::memset(settings.idCode.idBytes, 0, 32);
    settings.userChecksum = 0;
    settings.userFileStale = 0;
    image.userImage.fill(0x00);
    setUserFileName(kReadDataName);
  }
  return run;
}

}  // namespace vrx4
