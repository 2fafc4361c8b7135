#include "app/UsbAccess.h"

#include "app/UnitCheck.h"
#include "base/ProgramFiles.h"
#include "link/UsbLink.h"

namespace vrx4 {

std::string noUnitMessage(const UsbAccessProblem& problem, const std::string& rulePath,
                          const std::string& installedRule) {
  const std::string where = problem.node.empty() ? std::string() : " (" + problem.node + ")";
  switch (problem.kind) {
    case UsbAccess::None:
      break;
    case UsbAccess::Busy:
      return "T552-VRX4 is attached" + where + ", but another program is using it.\n"
             "Close that program (for example another vrx4-cli), then unplug the unit and plug it in again.";
    case UsbAccess::Denied: {
      std::string text = "T552-VRX4 is attached" + where + ", but this user may not open it.\n";
      if (!installedRule.empty()) {
        // The rule is in place: the unit was attached before it came, or
        // the user is not the one at the computer.
        return text + "The USB access rule " + kUsbRuleFileName + " is installed (" + installedRule +
               "). Unplug the unit and plug it in again so that it applies. A user who is not logged in at "
               "the computer itself needs the group plugdev:\n"
               "  sudo adduser $USER plugdev\n"
               "and then a new login.";
      }
      const std::string source = rulePath.empty() ? std::string(kUsbRuleFileName) : rulePath;
      return text + "The USB access rule " + kUsbRuleFileName +
             " gives the user at the computer (and the group plugdev) access to the unit. Install it:\n"
             "  sudo install -m 644 " + source + " /etc/udev/rules.d/\n"
             "  sudo udevadm control --reload-rules\n"
             "then unplug the unit and plug it in again.";
    }
  }
  return kNoUnitText;
}

std::string noUnitMessage(const std::string& programFolder) {
  UsbDriver* driver = usbDriver();
  if (!driver) return kNoUnitText;
  return noUnitMessage(driver->accessProblem(kUnitVendorId, kUnitProductId), findUsbRule(programFolder),
                       installedUsbRule());
}

}  // namespace vrx4
