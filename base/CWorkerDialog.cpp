#include "base/CWorkerDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <vector>

#include "base/StopRequest.h"

namespace vrx4 {
namespace {
std::atomic<int> intervalMs{100};
// The dialogs inside their exec(), innermost last (GUI thread only).
std::vector<CWorkerDialog*>& openDialogs() {
  static std::vector<CWorkerDialog*> open;
  return open;
}
}  // namespace

void CWorkerDialog::stopAll() {
  raiseStopRequest();
  stopOpenDialogs();
}

void CWorkerDialog::stopOpenDialogs() {
  // A copy: ending a dialog may take it off the list.
  const std::vector<CWorkerDialog*> open = openDialogs();
  for (CWorkerDialog* d : open) d->requestStop();
}

bool CWorkerDialog::stopRequested() { return stopRequestRaised(); }
void CWorkerDialog::clearStopRequest() { vrx4::clearStopRequest(); }

void CWorkerDialog::requestStop() {
  if (stopping_) return;
  stopping_ = true;
  onStopRequest();
  // Without a running worker the dialog ends now; otherwise its done
  // notification ends it.
  if (workerDone_ && inLoop_ && !finishing_) finish(false);
}

int CWorkerDialog::timerIntervalMs() { return intervalMs.load(); }
void CWorkerDialog::setTimerIntervalMs(int ms) { intervalMs = ms < 1 ? 1 : ms; }

CWorkerDialog::CWorkerDialog(QWidget* parent) : QDialog(parent) {
  setModal(true);
  // No close box: the dialog ends through its own completion only.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  connect(&timer_, &QTimer::timeout, this, [this] { onTick(); });
}

CWorkerDialog::~CWorkerDialog() {
  timer_.stop();
  if (worker_.joinable()) worker_.join();
}

int CWorkerDialog::exec() {
  openDialogs().push_back(this);
  finishing_ = false;
  stopping_ = false;
  int result = QDialog::Rejected;
  if (stopRequestRaised()) {
    // The program is ending: the worker (if one was started) is told to
    // stop and waited for below; the dialog is never shown.
    requestStop();
  } else {
    inLoop_ = true;
    result = QDialog::exec();
    inLoop_ = false;
  }
  // A plain join here could wait forever: the worker may be waiting for this
  // thread to show one of its messages.
  while (worker_.joinable() && !workerDone_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (worker_.joinable()) worker_.join();
  timer_.stop();
  auto& open = openDialogs();
  open.erase(std::remove(open.begin(), open.end(), this), open.end());
  // A loop ended from outside leaves the window up; it goes with its loop.
  hide();
  return stopping_ ? int(QDialog::Rejected) : result;
}

void CWorkerDialog::buildLayout(bool withTextLine, bool withCancel) {
  auto* layout = new QVBoxLayout(this);
  if (withTextLine) {
    text_ = new QLabel(this);
    text_->setMinimumWidth(260);
    layout->addWidget(text_);
  }
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  bar_->setMinimumWidth(260);
  layout->addWidget(bar_);
  if (withCancel) {
    cancel_ = new QPushButton(tr("Cancel"), this);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);
    connect(cancel_, &QPushButton::clicked, this, [this] { onCancelRequest(); });
  }
}

void CWorkerDialog::startTimer100() { timer_.start(timerIntervalMs()); }

void CWorkerDialog::startWorker(std::function<void()> work) {
  if (worker_.joinable()) worker_.join();
  workerDone_ = false;
  worker_ = std::thread([this, work = std::move(work)] {
    work();
    workerDone_ = true;
    // The worker's last act: tell the dialog on its own thread.
    QMetaObject::invokeMethod(
        this,
        [this] {
          onWorkerDone();
          if (stopping_ && inLoop_ && !finishing_) finish(false);
        },
        Qt::QueuedConnection);
  });
}

void CWorkerDialog::closeEvent(QCloseEvent* e) {
  if (finishing_) {
    QDialog::closeEvent(e);
    return;
  }
  e->ignore();
  onCancelRequest();
}

void CWorkerDialog::finish(bool ok) {
  if (finishing_) return;
  timer_.stop();
  if (worker_.joinable()) worker_.join();
  finishing_ = true;
  done(ok ? QDialog::Accepted : QDialog::Rejected);
}

}  // namespace vrx4
