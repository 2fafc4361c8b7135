#pragma once
// What the start-up says when it finds no usable unit. Usually that is
// "Communication error. Can't accept data from T552-VRX4."; when a unit is
// attached but the system would not let this user open it, or another
// program holds it, the message says so and what to do: install the USB
// access rule, close the other program, plug the unit in again. When no
// USB device has the IDs looked for, it names them and how to find and
// give the unit's.
#include <string>

#include "link/UsbDriver.h"

namespace vrx4 {

// `rulePath`: the rule file shipped with the program (empty when unknown);
// `installedRule`: the rule where udev reads it (empty when it is not there).
std::string noUnitMessage(const UsbAccessProblem& problem, const std::string& rulePath,
                          const std::string& installedRule);

// The same for the link's driver after a failed openLink, with the rule
// looked up from the program folder.
std::string noUnitMessage(const std::string& programFolder);

}  // namespace vrx4
