#include "app/ProgramStop.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

#include "base/CWorkerDialog.h"
#include "base/Log.h"
#include "base/StopRequest.h"

namespace vrx4 {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  // The flag at once: a wait on the unit on any thread, the GUI thread's
  // own exchanges at start-up included, ends without the event loop. The
  // byte brings the rest of the stop to the GUI thread.
  raiseStopRequest();
  const char b = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &b, 1);
}

}  // namespace

void requestProgramStop(const std::string& why) {
  if (!why.empty()) logLine(why);
  // The dialogs first: quitting alone would ask each window to close, and a
  // progress dialog refuses that, which cancels the quit.
  CWorkerDialog::stopAll();
  if (QWidget* modal = QApplication::activeModalWidget()) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) box->reject();
  }
  // Ends every running loop now and every one started later, until the
  // main loop has returned; a dialog whose worker still runs waits for it.
  QCoreApplication::exit(0);
}

bool programStopRequested() { return CWorkerDialog::stopRequested(); }

void clearProgramStopRequest() { CWorkerDialog::clearStopRequest(); }

void installStopSignals(QObject* parent) {
  if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
    signalPipe[0] = signalPipe[1] = -1;
    return;
  }
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
    char b;
    [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &b, 1);
    requestProgramStop("vrx4: stopped by a signal");
  });
  struct sigaction sa = {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace vrx4
