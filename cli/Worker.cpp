#include "cli/Worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/StopRequest.h"
#include "cli/Events.h"

namespace vrx4::cli {

void runWorker(Events& events, const std::string& phase, const std::function<void()>& work,
               const std::function<std::pair<uint64_t, uint64_t>()>& progress, const std::function<void()>& onStop) {
  std::mutex m;
  std::condition_variable doneSignal;
  bool done = false;
  std::thread worker([&] {
    work();
    std::lock_guard lock(m);
    done = true;
    doneSignal.notify_one();
  });
  std::pair<uint64_t, uint64_t> last{~uint64_t(0), 0};
  auto show = [&] {
    auto now = progress();
    if (now != last) events.progress(phase, now.first, now.second);
    last = now;
  };
  {
    // The display refresh of the progress dialogs: it only reads the
    // values; the worker's own waits are bounded by the link's time-outs.
    std::unique_lock lock(m);
    bool stopPassedOn = false;
    // Short ticks while nothing was stopped yet: a stop is passed on to the
    // worker within 20 ms; the values are shown every 100 ms.
    for (int tick = 1; !doneSignal.wait_for(lock, std::chrono::milliseconds(20), [&] { return done; }); ++tick) {
      lock.unlock();
      if (onStop && !stopPassedOn && stopRequestRaised()) {
        stopPassedOn = true;
        onStop();
      }
      if (tick % 5 == 0) show();
      lock.lock();
    }
  }
  worker.join();
  show();
}

}  // namespace vrx4::cli
