#pragma once
// Fixed texts and names of the program itself.
#include "base/Version.h"

namespace vrx4 {

// The host program's version; its first 8 characters are compared with the
// unit's firmware version.
inline constexpr const char* kHostVersion = kCarriedFirmwareVersion;  // "Ver.1.11 2012/01/13"
inline constexpr int kHostVersionCompareLength = 8;

inline constexpr const char* kWindowTitle = "CAN Flash Programer T552-VRX4";
// Root of the per-user settings store.
inline constexpr const char* kOrganizationName = "Velmora Inc.";
inline constexpr int kRecentFileCount = 4;

inline constexpr const char* kAlreadyStartedText = "T552-VRX4 already started.";

}  // namespace vrx4
