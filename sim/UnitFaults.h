#pragma once
// Faults and knobs of a simulated unit by name, shared by the command line of
// vrx4-unitsim and its control message. A command is given by its code
// (decimal or 0x hex) or its name ("getOperationStatus").
//
//   no-target              operations end with "Contact Err" (3)
//   target                 the target is connected again
//   no-target-status CMD   CMD is answered with status 228 ("No target.")
//   error-status CMD:CODE  CMD is answered with error status CODE
//   bad-checksum N         the N-th reply from now has a wrong checksum
//   wrong-echo N           the N-th reply from now echoes another command
//   stall N                the N-th request from now gets no reply (its
//                          read fails at once)
//   hang N                 the read of the N-th reply from now hangs until
//                          the program gives up (a real stall)
//   drip MS                replies come one byte every MS milliseconds
//                          (0: at once)
//   busy-forever           command 29 always reports busy
//   run-forever            operations run until abortOperation
//   unplug-at CMD          the unit leaves the bus when CMD arrives
//   unplug                 the unit leaves the bus now
//   memory-error           operations end with "Memory Err" (10)
//   result CODE            operations end with result CODE (0: normal)
//   time-scale FACTOR      busy phases and operations take FACTOR times
//                          their normal time; 0 makes them instant
//   instant                same as time-scale 0
//   clear                  drops every pending fault and forced result
//                          (the drip and the forever faults too)
#include <string>

namespace vrx4 {

class SimulatedProgrammer;

// Applies one fault. False with why when the name or value is not understood.
bool applyUnitFault(SimulatedProgrammer& unit, const std::string& name, const std::string& value, std::string& why);
// Whether the fault of that name takes a value.
bool unitFaultTakesValue(const std::string& name);
// A control message: "NAME" or "NAME VALUE". Returns "ok" or "error: why".
std::string applyUnitControl(SimulatedProgrammer& unit, const std::string& message);
// Parses a command code or name; -1 when unknown.
int parseCommandCode(const std::string& text);

}  // namespace vrx4
