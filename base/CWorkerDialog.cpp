#include "base/CWorkerDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <atomic>

namespace vrx4 {
namespace {
std::atomic<int> intervalMs{100};
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
  const int result = QDialog::exec();
  // A plain join here could wait forever: the worker may be waiting for this
  // thread to show one of its messages.
  while (worker_.joinable() && !workerDone_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (worker_.joinable()) worker_.join();
  return result;
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
    QMetaObject::invokeMethod(this, [this] { onWorkerDone(); }, Qt::QueuedConnection);
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
  timer_.stop();
  if (worker_.joinable()) worker_.join();
  finishing_ = true;
  done(ok ? QDialog::Accepted : QDialog::Rejected);
}

}  // namespace vrx4
