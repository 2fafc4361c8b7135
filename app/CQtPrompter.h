#pragma once
// The GUI prompter: a QMessageBox on the GUI thread. Called from a worker
// thread it hands the box to the GUI thread and waits for the answer.
// Where no operator can see a box (the offscreen and minimal platforms) it
// shows none and every question takes its safe answer; so it does once the
// program's stop flag is raised (the program is ending, nobody answers).
#include "base/Prompter.h"

namespace vrx4 {

class CQtPrompter final : public Prompter {
 public:
  // operatorPresent false: no boxes, safe answers only.
  explicit CQtPrompter(bool operatorPresent = operatorCanAnswer()) : operatorPresent_(operatorPresent) {}
  Answer ask(const Prompt& prompt) override;

  // False on platforms without a screen an operator could answer a box on.
  static bool operatorCanAnswer();

 private:
  bool operatorPresent_;
};

// The message box itself (GUI thread only).
Answer runMessageBox(const Prompt& prompt);

}  // namespace vrx4
