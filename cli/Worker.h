#pragma once
// Runs one of the core workers (send, fetch, operation polling, firmware
// update) on a thread of its own, as the progress dialogs do, and shows its
// progress values every 100 ms until it is done.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace vrx4::cli {

class Events;

// work runs on the worker thread and returns when the worker is over;
// progress reads the shared values (done, total) and is called on this
// thread. The caller sends the phase start and end events. Once the stop
// flag is raised, onStop (when given) is called once on this thread, as a
// dialog's Cancel would be: it asks the worker to end early.
void runWorker(Events& events, const std::string& phase, const std::function<void()>& work,
               const std::function<std::pair<uint64_t, uint64_t>()>& progress,
               const std::function<void()>& onStop = {});

}  // namespace vrx4::cli
