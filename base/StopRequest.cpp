#include "base/StopRequest.h"

#include <atomic>

namespace vrx4 {
namespace {
std::atomic<bool> stopRaised{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from signal handlers");
thread_local int cleanupDepth = 0;
}  // namespace

StopCleanupScope::StopCleanupScope() noexcept { ++cleanupDepth; }
StopCleanupScope::~StopCleanupScope() { --cleanupDepth; }
bool inStopCleanup() noexcept { return cleanupDepth > 0; }
bool newRequestsRefused() noexcept { return cleanupDepth == 0 && stopRequestRaised(); }

void raiseStopRequest() noexcept { stopRaised.store(true, std::memory_order_relaxed); }
bool stopRequestRaised() noexcept { return stopRaised.load(std::memory_order_relaxed); }
void clearStopRequest() noexcept { stopRaised.store(false, std::memory_order_relaxed); }

}  // namespace vrx4
