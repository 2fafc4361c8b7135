#include "base/StartupMessage.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "base/Clock.h"
#include "base/StopRequest.h"

namespace vrx4 {
namespace {
std::mutex hiderMutex;
std::function<void()> splashHider;
std::thread::id hiderThread;
std::atomic<int> startupDepth{0};
std::atomic<bool> pauseEnabled{true};
}  // namespace

void setSplashHider(std::function<void()> hider) {
  std::lock_guard lock(hiderMutex);
  splashHider = std::move(hider);
  hiderThread = std::this_thread::get_id();
}

void setStartupPauseEnabled(bool enabled) { pauseEnabled = enabled; }

void pauseAndHideSplash() {
  // A program that is stopping has nobody to show the picture to.
  if (pauseEnabled && !stopRequestRaised()) clock().sleepMs(1000);
  std::function<void()> hide;
  {
    std::lock_guard lock(hiderMutex);
    // A worker's message only waits: the picture belongs to the thread that
    // registered it (and is gone by the time any worker runs).
    if (hiderThread == std::this_thread::get_id()) hide = splashHider;
  }
  if (hide) hide();
}

Answer showMessageAfterSplash(const std::string& text, Icon icon, Buttons buttons) {
  pauseAndHideSplash();
  return showMessage(text, icon, buttons);
}

StartupPhase::StartupPhase() { ++startupDepth; }
StartupPhase::~StartupPhase() { --startupDepth; }

bool inStartupPhase() { return startupDepth.load() > 0; }

Answer showStartupAwareMessage(const std::string& text, Icon icon, Buttons buttons) {
  if (inStartupPhase()) return showMessageAfterSplash(text, icon, buttons);
  return showMessage(text, icon, buttons);
}

}  // namespace vrx4
