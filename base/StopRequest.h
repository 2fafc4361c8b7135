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

}  // namespace vrx4
