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

// A transport request under way when the stop is raised gets at most this
// long more to complete: a healthy unit answers well within it, while a
// stalled or dripping one no longer holds the program. A request started
// after the stop is refused at once (nothing is sent), unless its thread is
// ending the work on the unit (StopCleanupScope); it then gets the same
// bound.
inline constexpr int kStopGraceMs = 1000;

// While one lives, the requests of this thread are part of ending the work
// (abortOperation and the wait for the unit to leave busy): they still go
// out after a stop.
class StopCleanupScope {
 public:
  StopCleanupScope() noexcept;
  ~StopCleanupScope();
  StopCleanupScope(const StopCleanupScope&) = delete;
  StopCleanupScope& operator=(const StopCleanupScope&) = delete;
};
bool inStopCleanup() noexcept;
// What a transport asks before a new request: true when the stop is raised
// and this thread is not in a StopCleanupScope.
bool newRequestsRefused() noexcept;

}  // namespace vrx4
