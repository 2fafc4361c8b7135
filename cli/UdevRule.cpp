#include "cli/UdevRule.h"

#include <cstdio>

#include "cli/ExitStatus.h"

namespace vrx4::cli {

std::string udevRuleText(UsbId id) {
  const std::string ids = usbIdText(id);
  const std::string vendor = ids.substr(0, 4), product = ids.substr(5);
  return "# T552-VRX4 CAN flash programmer (USB " + ids +
         ").\n"
         "# The user logged in at the computer gets access to the unit (the uaccess\n"
         "# tag, handed out by systemd-logind); members of the group plugdev get it as\n"
         "# well, for remote logins and systems without logind. Takes effect for a\n"
         "# unit plugged in after the rule is installed.\n"
         "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" +
         vendor + "\", ATTR{idProduct}==\"" + product + "\", MODE=\"0660\", GROUP=\"plugdev\", TAG+=\"uaccess\"\n";
}

std::string udevRuleWithInstallCommands(UsbId id, const std::string& source) {
  const std::string ids = usbIdText(id);
  return "# The USB access rule for the unit's IDs " + ids + " (" + source +
         ").\n"
         "# Install it, and apply it to a unit that is already plugged in:\n"
         "#   vrx4-cli udev-rule --usb-id " +
         ids +
         " | sudo tee /etc/udev/rules.d/60-vrx4.rules >/dev/null\n"
         "#   sudo udevadm control --reload-rules\n"
         "#   sudo udevadm trigger --subsystem-match=usb --attr-match=idVendor=" +
         ids.substr(0, 4) + " --attr-match=idProduct=" + ids.substr(5) +
         " --action=add\n"
         "# (or unplug the unit and plug it in again).\n" +
         udevRuleText(id);
}

int printUdevRule(const std::string& source) {
  std::fputs(udevRuleWithInstallCommands(unitUsbId(), source).c_str(), stdout);
  return std::fflush(stdout) == 0 ? kExitPass : kExitFile;
}

}  // namespace vrx4::cli
