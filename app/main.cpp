// The Qt front end of the T552-VRX4 control program.
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

#include "app/CProgrammerApp.h"
#include "app/CommandLine.h"
#include "app/CQtPrompter.h"
#include "base/Log.h"
#include "base/Prompter.h"

namespace {

// --help and --version are answered on standard output before Qt opens a
// display, so that they work where there is none. True when one was asked.
bool answeredWithoutDisplay(int argc, char** argv, int& status) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const vrx4::CommandLine cl = vrx4::parseCommandLine(args);
  if (!cl.ok() || (!cl.showHelp && !cl.showVersion)) return false;
  std::string program = argc > 0 ? argv[0] : "vrx4";
  const size_t slash = program.find_last_of('/');
  if (slash != std::string::npos) program.erase(0, slash + 1);
  const std::string text = cl.showHelp ? vrx4::commandLineUsage(program) : vrx4::commandLineVersion(program);
  std::fputs((text + "\n").c_str(), stdout);
  status = std::fflush(stdout) == 0 ? 0 : 1;
  return true;
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
  vrx4::setLogProgramName("vrx4");
  int helpStatus = 0;
  if (answeredWithoutDisplay(argc, argv, helpStatus)) return helpStatus;
  QApplication qapp(argc, argv);
  // Every operator message is also one line on standard error.
  vrx4::setLogSink({});
  // Without a screen the messages are only logged and every question takes
  // its safe answer (nothing written, nothing erased), so that scripts and
  // CI runs end instead of waiting for a click.
  vrx4::CQtPrompter qtPrompter;
  vrx4::setPrompter(&qtPrompter);
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
