#pragma once
// SIGINT, SIGTERM and SIGHUP for vrx4-cli. The first of them raises the
// core's stop flag and is remembered: the job takes its stop path (the send
// ends and the unit is told it holds no program data, the operation is
// aborted), writes its record line and result event and ends with the
// shell's status for the signal. A second one ends the process at once; it
// still writes the lines the job left ready for that case.
#include <sys/types.h>

#include <string>

namespace vrx4::cli {

// Installs the handlers (once per process; again is harmless).
void installInterruptHandlers();

// The signal that asked the job to stop; 0 when none came.
int interruptSignal();

// "SIGINT", "SIGTERM", "SIGHUP" (or "signal N").
std::string signalName(int signal);

// The shell's status for a process ended by a signal: 128 + the signal
// (130 SIGINT, 143 SIGTERM, 129 SIGHUP).
inline int interruptExitStatus(int signal) { return 128 + signal; }

// What a second signal writes before the process ends: the record line on
// recordFd (-1: none), the result event on standard output (empty: none)
// and a message on standard error. Each text ends with a new line. The job
// replaces them as it learns more; the handler only reads finished texts.
void setInterruptLines(int recordFd, std::string recordLine, std::string resultLine, std::string message);
void clearInterruptLines();

// The gang runner's children: a signal the parent receives is passed on to
// each of them (they run in process groups of their own, so a terminal's
// Ctrl-C reaches only the parent). Up to 64 processes; -1 ends the list.
void setSignalChildren(const pid_t* pids, size_t count);

// For tests: forgets the signal and lowers the stop flag.
void resetInterruptForTests();

}  // namespace vrx4::cli
