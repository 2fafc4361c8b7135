#pragma once
// The program's one stop flag. A signal handler, the window's close or a
// test raises it; every wait on the unit (transfers, status polls, the
// transports' reads) looks at it and ends early, taking its failure or
// cancel path. Raising it is async-signal-safe: a lock-free atomic store.
namespace vrx4 {

void raiseStopRequest() noexcept;
bool stopRequestRaised() noexcept;
// For tests that run several jobs in one process.
void clearStopRequest() noexcept;

// A transport request under way when the stop is raised, or started after
// it, gets at most this long to complete: a healthy unit answers well within
// it (so the abort that follows a stop still reaches the unit), while a
// stalled or dripping one no longer holds the program.
inline constexpr int kStopGraceMs = 1000;

}  // namespace vrx4
