#pragma once
// The Start button's steps around one operation run: tell the unit to start,
// run the "Programming..." dialog, keep the result, and after a passed Read
// mark the user image as living in the unit only.
#include <cstdint>
#include <functional>

#include "base/ProjectSettings.h"
#include "image/MemoryImage.h"
#include "view/OperationRunner.h"

namespace vrx4 {

// Runs the progress dialog for the operation over a bar of `total` bytes.
using ProgrammingDialogRunner = std::function<OperationOutcome(int operationIndex, uint32_t total)>;

struct OperationRun {
  bool started = false;    // startOperation succeeded and the dialog ran
  uint8_t lastResult = 0;  // the code shown in the result box (0: empty)
  bool readBack = false;   // a passed Read: the image now lives in the unit
};

// The operation index is the form's radio choice (0..5). On a passed Read
// the settings' user file state becomes "** Read Data **", the image is
// filled with 0x00, userReadBackPending is set and the unit is told the new
// file name; the caller refreshes its display afterwards.
OperationRun runOperation(int operationIndex, ProjectSettings& settings, MemoryImage& image, bool& userReadBackPending,
                          const ProgrammingDialogRunner& runDialog);

}  // namespace vrx4
