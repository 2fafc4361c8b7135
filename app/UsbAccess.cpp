#include "app/UsbAccess.h"

#include "app/UnitCheck.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "link/UsbLink.h"

namespace vrx4 {

std::string noUnitMessage(const UsbAccessProblem& problem, const std::string& rulePath,
                          const std::string& installedRule) {
  const std::string where = problem.node.empty() ? std::string() : " (" + problem.node + ")";
  switch (problem.kind) {
    case UsbAccess::None:
      if (problem.searchedUsb && !problem.idsPresent)
        return std::string(kNoUnitText) + "\nNo USB device has the IDs " + usbIdText(unitUsbId()) +
               " looked for. \"vrx4-cli units --all\" lists the attached USB devices; give the unit's IDs "
               "with --usb-id VID:PID.";
      break;
    case UsbAccess::Busy:
      return "T552-VRX4 is attached" + where +
             ", but another program is using it.\n"
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
      if (!(unitUsbId() == UsbId{})) {
        // The rule shipped with the program is for the build's IDs, not
        // for the ones given at run time.
        const std::string ids = usbIdText(unitUsbId());
        return text + "The USB access rule " + kUsbRuleFileName + " for the IDs " + ids +
               " gives the user at the computer (and the group plugdev) access to the unit. Install it:\n"
               "  vrx4-cli udev-rule --usb-id " +
               ids + " | sudo tee /etc/udev/rules.d/" + kUsbRuleFileName +
               "\n  sudo udevadm control --reload-rules\n"
               "then unplug the unit and plug it in again.";
      }
      const std::string source = rulePath.empty() ? std::string(kUsbRuleFileName) : rulePath;
      return text + "The USB access rule " + kUsbRuleFileName +
             " gives the user at the computer (and the group plugdev) access to the unit. Install it:\n"
             "  sudo install -m 644 " +
             source +
             " /etc/udev/rules.d/\n"
             "  sudo udevadm control --reload-rules\n"
             "then unplug the unit and plug it in again.";
    }
  }
  return kNoUnitText;
}

std::string noUnitMessage(const std::string& programFolder) {
  UsbDriver* driver = usbDriver();
  if (!driver) return kNoUnitText;
  const UsbId id = unitUsbId();
  const UsbAccessProblem problem = driver->accessProblem(id.vendor, id.product);
  if (problem.searchedUsb)
    logProgramLine("usb: no usable unit with the USB IDs " + usbIdText(id) +
                   " (\"vrx4-cli units --all\" lists the USB devices; --usb-id VID:PID gives the unit's IDs)");
  return noUnitMessage(problem, findUsbRule(programFolder), installedUsbRule());
}

}  // namespace vrx4
