// The Qt front end of the T552-VRX4 control program.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "app/CProgrammerApp.h"
#include "app/CQtPrompter.h"
#include "base/Log.h"
#include "base/Prompter.h"

namespace {

// Platforms without a screen an operator could answer a message box on.
bool operatorCanAnswer() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

// SIGINT and SIGTERM end the event loop like the Exit command, so that the
// link is closed and the folders are remembered. The handler only writes a
// byte; the GUI thread does the rest.
int signalPipe[2] = {-1, -1};
bool stopRequested = false;

void onSignal(int) {
  const char b = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &b, 1);
}

void quitOnSignals(QObject* parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char b;
    [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &b, 1);
    vrx4::logLine("vrx4: stopped by a signal");
    // A question of the start-up checks is answered as Esc would answer it,
    // and the program then ends instead of opening its window.
    stopRequested = true;
    if (QWidget* modal = QApplication::activeModalWidget()) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) box->reject();
    }
    QCoreApplication::quit();
  });
  struct sigaction sa = {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  // Every operator message is also one line on standard error.
  vrx4::setLogSink({});
  // Without a screen the messages are only logged and take their default
  // answer, so that scripts and CI runs end instead of waiting for a click.
  vrx4::CQtPrompter qtPrompter;
  if (operatorCanAnswer()) vrx4::setPrompter(&qtPrompter);
  quitOnSignals(&qapp);

  int status = 0;
  {
    vrx4::CProgrammerApp app;
    if (app.onProgramStart(QCoreApplication::arguments()) && !stopRequested) status = qapp.exec();
    const int exitStatus = app.onProgramExit();
    if (status == 0) status = exitStatus;
  }
  vrx4::setPrompter(nullptr);
  return status;
}
