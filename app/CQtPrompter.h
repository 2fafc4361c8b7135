#pragma once
// The GUI prompter: a QMessageBox on the GUI thread. Called from a worker
// thread it hands the box to the GUI thread and waits for the answer.
#include "base/Prompter.h"

namespace vrx4 {

class CQtPrompter final : public Prompter {
 public:
  Answer ask(const Prompt& prompt) override;
};

// The message box itself (GUI thread only).
Answer runMessageBox(const Prompt& prompt);

}  // namespace vrx4
