#pragma once
// The USB IDs of the unit at run time. The build's IDs are the default; a
// packaged program is told the real unit's IDs, first match wins:
//   --usb-id VID:PID on the command line,
//   the environment variable VRX4_USB_ID=VID:PID,
//   "usb-id = VID:PID" in $XDG_CONFIG_HOME/vrx4/unit.conf (else
//   ~/.config/vrx4/unit.conf), then in /etc/vrx4/unit.conf.
#include <string>
#include <vector>

#include "link/UsbLink.h"

namespace vrx4 {

inline constexpr const char* kUsbIdVariable = "VRX4_USB_ID";
inline constexpr const char* kSystemUnitConf = "/etc/vrx4/unit.conf";
// The build's defaults are IDs of the test range, not the real unit's.
inline constexpr UsbId kTestRangeUsbId{0x1209, 0x5520};

struct UsbIdChoice {
  UsbId id;
  std::string source;  // "--usb-id", "VRX4_USB_ID", a unit.conf path, or "built in"
};

// `commandLine`: the --usb-id value, empty when none was given (the caller
// has refused a malformed one). A malformed value of the variable or of a
// file is passed over with a line in `warnings`. `systemConf` is the last
// file looked at.
UsbIdChoice resolveUnitUsbId(const std::string& commandLine, std::vector<std::string>& warnings,
                             const std::string& systemConf = kSystemUnitConf);

// The user's unit.conf: $XDG_CONFIG_HOME/vrx4/unit.conf, else
// ~/.config/vrx4/unit.conf; empty when neither variable is set.
std::string userUnitConf();

// The usb-id of a unit.conf: lines "key = value", '#' starts a comment.
// False when the file cannot be read or has no usb-id line; a usb-id line
// whose value is malformed sets `warning` and also gives false.
bool readUnitConf(const std::string& path, UsbId& id, std::string& warning);

// The --version line: "unit USB ID 1209:5520 (built in)", with a note when
// these are the test-range IDs.
std::string usbIdVersionLine(const UsbIdChoice& choice);

// The message when --usb-id is malformed.
std::string usbIdUsageError(const std::string& value);

// Resolves, logs the warnings and makes the link look for the result.
UsbIdChoice applyUnitUsbId(const std::string& commandLine);

}  // namespace vrx4
