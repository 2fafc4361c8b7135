#include "view/CProgrammingDlg.h"

#include <QProgressBar>
#include <QPushButton>

namespace vrx4 {

CProgrammingDlg::CProgrammingDlg(int operationIndex, uint32_t total, QWidget* parent) : CWorkerDialog(parent) {
  setWindowTitle(QString::fromUtf8(operationKind(operationIndex).progressTitle));
  buildLayout(false, true);
  cancelButton()->hide();
  progress_.total = total;
  progress_.operation = operationIndex;
  // The bar's range is 32-bit; QProgressBar takes int, so a range above
  // INT_MAX (never reached: 4 MiB at most) would be clipped.
  progressBar()->setRange(0, int(total));
  progressBar()->setValue(0);
}

int CProgrammingDlg::exec() {
  progress_.position = 0;
  progress_.status = 0;
  progress_.result = 0;
  progress_.failed = 0;
  progress_.end = OperationEnd::Finished;
  startTimer100();
  startWorker([this] { programmingThreadProc(progress_, nullptr); });
  return CWorkerDialog::exec();
}

void CProgrammingDlg::onTick() {
  // Positions beyond the range (percent above 100) show as a full bar.
  const uint32_t p = progress_.position;
  progressBar()->setValue(int(std::min<uint32_t>(p, uint32_t(progressBar()->maximum()))));
}

void CProgrammingDlg::onWorkerDone() {
  stopTimer();
  onTick();
  const OperationOutcome outcome = finishOperation(progress_);
  resultCode_ = outcome.resultCode;
  finish(outcome.ok);
}

}  // namespace vrx4
