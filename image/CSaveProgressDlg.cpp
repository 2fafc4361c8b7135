#include "image/CSaveProgressDlg.h"

#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "base/Prompter.h"

namespace vrx4 {

CSaveProgressDlg::CSaveProgressDlg(const SaveRequest& request, QWidget* parent)
    : CWorkerDialog(parent), request_(request) {
  setWindowTitle(QStringLiteral("Saving..."));
  buildLayout(true, true);
  cancelButton()->hide();
  textLine()->setText(QFileInfo(QString::fromStdString(request_.path)).absoluteFilePath());
  int64_t size = int64_t(request_.areaEnd) - int64_t(request_.areaStart) + 1;
  maximum_ = uint32_t(std::clamp<int64_t>(size, 0, INT32_MAX - 1000));
  progressBar()->setRange(0, int(maximum_));
  progressBar()->setValue(0);
}

int CSaveProgressDlg::exec() {
  position_ = 0;
  escaped_ = false;
  startTimer100();
  startWorker([this] { result_ = saveProgramFile(request_, position_, &failure_); });
  return CWorkerDialog::exec();
}

void CSaveProgressDlg::onTick() { progressBar()->setValue(int(std::min<uint32_t>(position_.load(), maximum_))); }

void CSaveProgressDlg::onCancelRequest() {
  // The writer goes on and completes the file; the dialog then ends with
  // Cancel.
  position_ = maximum_ + 1000;
  escaped_ = true;
}

void CSaveProgressDlg::onWorkerDone() {
  onTick();
  if (result_ != SaveResult::Ok) {
    finish(false);
    showMessageWithDetail(saveResultMessage(result_), request_.path + ": " + failure_);
    return;
  }
  // The writer finished the file. Esc is remembered on its own, not read
  // from the position: overlapping ranges, or records split at 64 KiB
  // boundaries, count past the maximum in a save that is complete.
  finish(!escaped_);
}

}  // namespace vrx4
