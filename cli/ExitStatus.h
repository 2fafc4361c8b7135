#pragma once
// Exit statuses of vrx4-cli, by the phase that failed, the same for the
// same fault in every command. A script can trust them: no failure ever
// ends with 0. A job stopped by a signal ends with 128 + the signal
// (Interrupt.h).
namespace vrx4::cli {

inline constexpr int kExitPass = 0;       // the job ran and the unit said "Pass"
inline constexpr int kExitUsage = 2;      // the command line is wrong
inline constexpr int kExitFile = 3;       // a file could not be opened, read or saved, or was refused
inline constexpr int kExitNoUnit = 4;     // no unit, or the unit cannot be used
inline constexpr int kExitLink = 5;       // a command to the unit failed
inline constexpr int kExitNotPassed = 6;  // the operation's result was not "Pass"

// Of several units' statuses, the one a gang run ends with: the highest.
inline int worstStatus(int a, int b) { return a > b ? a : b; }

}  // namespace vrx4::cli
