#pragma once
// vrx4-cli udev-rule: the USB access rule for the unit's IDs in use, ready
// to be saved as /etc/udev/rules.d/60-vrx4.rules, with the commands that
// install it as comments at its top.
#include <string>

#include "link/UsbLink.h"

namespace vrx4::cli {

// The rule file for the IDs, as the build writes 60-vrx4.rules for its own.
std::string udevRuleText(UsbId id);
// The rule file with the install commands for the IDs in use.
std::string udevRuleWithInstallCommands(UsbId id, const std::string& source);
// Prints udevRuleWithInstallCommands for unitUsbId() on standard output.
int printUdevRule(const std::string& source);

}  // namespace vrx4::cli
