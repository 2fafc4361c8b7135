#pragma once
// All waiting in the program goes through the Clock, so that tests can run
// the 1000 ms message pause, the 100 ms poll intervals and the operation
// times instantly.
#include <atomic>
#include <cstdint>

namespace vrx4 {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never goes backwards.
  virtual uint64_t nowMs() = 0;
  // Blocks the calling thread for the given time (or lets it pass instantly).
  virtual void sleepMs(uint32_t ms) = 0;
};

// The real clock: steady time, real sleeps.
class SystemClock final : public Clock {
 public:
  uint64_t nowMs() override;
  void sleepMs(uint32_t ms) override;
};

// A clock whose sleeps return at once and advance its time by the amount
// asked. Safe to use from several threads.
class FakeClock final : public Clock {
 public:
  uint64_t nowMs() override;
  void sleepMs(uint32_t ms) override;
  void advance(uint64_t ms);
  uint64_t sleptMs() const;     // total of all sleeps
  uint32_t sleepCount() const;  // number of sleeps

 private:
  std::atomic<uint64_t> now_{0};
  std::atomic<uint64_t> slept_{0};
  std::atomic<uint32_t> count_{0};
};

// The process-wide clock (the system clock until another is set).
Clock& clock();
// Sets the process-wide clock (nullptr restores the system clock); returns the
// previous one (nullptr when it was the system clock).
Clock* setClock(Clock* c);

}  // namespace vrx4
