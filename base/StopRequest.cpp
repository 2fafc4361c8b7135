#include "base/StopRequest.h"

#include <atomic>

namespace vrx4 {
namespace {
std::atomic<bool> stopRaised{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from signal handlers");
}  // namespace

void raiseStopRequest() noexcept { stopRaised.store(true, std::memory_order_relaxed); }
bool stopRequestRaised() noexcept { return stopRaised.load(std::memory_order_relaxed); }
void clearStopRequest() noexcept { stopRaised.store(false, std::memory_order_relaxed); }

}  // namespace vrx4
