// The main form's operation handlers: the operation choice, Start, the
// target's version and the manuals.
#include "view/MainViewModel.h"

#include <algorithm>

#include "base/Log.h"
#include "base/Prompter.h"
#include "link/Commands.h"
#include "view/MainViewHelpers.h"
#include "view/OperationStart.h"

namespace vrx4 {

using namespace mainview;

void MainViewModel::OnReadVersion() {
  std::string version;
  versionText = readVersion(version) ? version : kReadErrorText;
  showFields();
}

void MainViewModel::OnOperationChanged(int operation, bool pre, bool post) {
  operationIndex = std::clamp(operation, 0, kOperationCount - 1);
  preSending = pre;
  postSending = post;
  (void)setOperation(operationCode(operationIndex), sendFlags());
  showFields();
}

void MainViewModel::OnStart() {
  if (!hasDevice() || operationIndex < 0 || operationIndex >= kOperationCount) return;
  // Erase/Program/Verify, Erase/Program and Verify need a file in the unit.
  const bool needsFile = operationIndex == 0 || operationIndex == 3 || operationIndex == 4;
  if (needsFile && state_.settings.userFileNameLength <= 0) return;
  lastResult = 0;
  setResultBox();
  showFields();
  const OperationRun run =
      runOperation(operationIndex, state_.settings, *state_.image, userReadBackPending,
                   [this](int index, uint32_t total) { return dialogs_.programming(index, total); });
  if (!run.started) return;
  lastResult = run.lastResult;
  setResultBox();
  if (run.readBack) {
    RefreshOperationButtons();
    RefreshUserFileDisplay();
  }
  showFields();
}

void MainViewModel::OnManual(bool japanese) {
  const std::string path = state_.dataFile(japanese ? kManualJapanese : kManualEnglish);
  if (dialogs_.openDocument(path)) return;
  Prompt p;
  p.text = kMsgManualOpenError;
  p.icon = Icon::Exclamation;
  p.caption = kManualErrorCaption;
  logLine(messageLogLine(p.text, p.icon));
  prompter().ask(p);
}

}  // namespace vrx4
