#pragma once
// The start-up message rule: while the start-up checks run, every message
// waits 1000 ms, removes the start-up picture and only then shows its box.
// The picture itself belongs to the front end, which registers how to hide it.
#include <functional>
#include <string>

#include "base/Prompter.h"

namespace vrx4 {

// Registers the front end's "hide the start-up picture as a key press would"
// action (empty: nothing to hide). Called on the thread that shows messages;
// the action runs on that thread only.
void setSplashHider(std::function<void()> hider);

// Waits 1000 ms on the Clock, then hides the start-up picture.
void pauseAndHideSplash();

// A front end without a start-up picture (the command line) switches the
// 1000 ms pause off: its messages come at once.
void setStartupPauseEnabled(bool enabled);

// pauseAndHideSplash, then the message box; returns its answer.
Answer showMessageAfterSplash(const std::string& text, Icon icon = Icon::Stop, Buttons buttons = Buttons::Ok);

// Marks the start-up checks for its lifetime (phases may nest). Code that
// runs both during start-up and later, such as the unit commands, shows its
// messages through showStartupAwareMessage.
class StartupPhase {
 public:
  StartupPhase();
  ~StartupPhase();
  StartupPhase(const StartupPhase&) = delete;
  StartupPhase& operator=(const StartupPhase&) = delete;
};

// True while a StartupPhase exists (on any thread).
bool inStartupPhase();

// showMessageAfterSplash during the start-up checks, showMessage otherwise.
Answer showStartupAwareMessage(const std::string& text, Icon icon = Icon::Stop, Buttons buttons = Buttons::Ok);

}  // namespace vrx4
