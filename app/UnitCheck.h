#pragma once
// The full start-up check of the unit: link, model, firmware version (with
// the firmware update when it differs), device table, the settings the unit
// keeps and, in option mode, its boot-area record. Every message goes
// through showMessageAfterSplash.
#include <functional>

#include "app/AppState.h"
#include "app/FirmwareUpdate.h"

namespace vrx4 {

inline constexpr const char* kNoUnitText = "Communication error. Can't accept data from T552-VRX4.";
inline constexpr const char* kDifferentModelText = "Different model.";
inline constexpr const char* kExecStateErrorText = "Firmware exec state error.";
inline constexpr const char* kUpdateQuestionText = "Would you like to update firmware?";
inline constexpr const char* kInvalidInitialLoadText = "Invalid Initial load data.";

// Runs the "Update..." dialog (or, in tests, the worker) over the image to
// its end; its outcome is not examined.
using UpdateRunner = std::function<void(const FirmwareImage&)>;

// Asks, reads "vrx4.fwp" from the program folder and runs the update; false
// when the operator declines or the file is unusable.
bool offerFirmwareUpdate(AppState& state, const UpdateRunner& runUpdate);
// Model, execution state and version; offers the update when needed; reads
// the unit's identity again at the end.
bool checkUnit(AppState& state, const UpdateRunner& runUpdate);
// Dialog folders, then "vrx4type.tbl" of the program folder.
bool loadDeviceTable(AppState& state);
// The unit's stored settings (command 34) and, in option mode, its boot
// area; settings that do not fit the table are reported and queued for
// "Initializing...". False when the link fails.
bool readStoredSettings(AppState& state);
// The whole check in its order; the first failure returns false.
bool checkConnection(AppState& state, const UpdateRunner& runUpdate);

}  // namespace vrx4
