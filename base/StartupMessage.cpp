#include "base/StartupMessage.h"

#include <mutex>

#include "base/Clock.h"

namespace vrx4 {
namespace {
std::mutex hiderMutex;
std::function<void()> splashHider;
}  // namespace

void setSplashHider(std::function<void()> hider) {
  std::lock_guard lock(hiderMutex);
  splashHider = std::move(hider);
}

void pauseAndHideSplash() {
  clock().sleepMs(1000);
  std::function<void()> hide;
  {
    std::lock_guard lock(hiderMutex);
    hide = splashHider;
  }
  if (hide) hide();
}

Answer showMessageAfterSplash(const std::string& text, Icon icon, Buttons buttons) {
  pauseAndHideSplash();
  return showMessage(text, icon, buttons);
}

}  // namespace vrx4
