#include "base/Clock.h"

#include <chrono>
#include <thread>

namespace vrx4 {

uint64_t SystemClock::nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint64_t FakeClock::nowMs() { return now_.load(); }

void FakeClock::sleepMs(uint32_t ms) {
  now_ += ms;
  slept_ += ms;
  ++count_;
  // Let other threads run, as a real sleep would.
  std::this_thread::yield();
}

void FakeClock::advance(uint64_t ms) { now_ += ms; }
uint64_t FakeClock::sleptMs() const { return slept_.load(); }
uint32_t FakeClock::sleepCount() const { return count_.load(); }

namespace {
SystemClock systemClock;
std::atomic<Clock*> current{nullptr};
}  // namespace

Clock& clock() {
  Clock* c = current.load();
  return c ? *c : static_cast<Clock&>(systemClock);
}

Clock* setClock(Clock* c) { return current.exchange(c); }

}  // namespace vrx4
