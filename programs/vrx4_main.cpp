// The Qt front end of the T552-VRX4 control program.
#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

#include "app/CQtPrompter.h"
#include "app/CommandLine.h"
#include "app/ProgramStop.h"
#include "base/Log.h"
#include "base/Prompter.h"
#include "programs/UnitTransport.h"
#include "view/CProgrammerApp.h"

namespace {

// --help and --version are answered on standard output before Qt opens a
// display, so that they work where there is none. True when one was asked.
bool answeredWithoutDisplay(int argc, char** argv, int& status) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const vrx4::CommandLine cl = vrx4::parseCommandLine(args);
  std::string program = argc > 0 ? argv[0] : "vrx4";
  const size_t slash = program.find_last_of('/');
  if (slash != std::string::npos) program.erase(0, slash + 1);
  if (!cl.ok()) {
    // A usage error ends before Qt starts: without a display Qt would
    // abort instead of giving the usage status.
    vrx4::logLine(program + ": " + cl.error);
    vrx4::logLine(vrx4::commandLineUsage(program));
    status = vrx4::kCommandLineErrorStatus;
    return true;
  }
  if (!cl.showHelp && !cl.showVersion) return false;
  const std::string text =
      cl.showHelp ? vrx4::commandLineHelp(program) : vrx4::commandLineVersion(program, cl.unit.usbId);
  std::fputs((text + "\n").c_str(), stdout);
  status = std::fflush(stdout) == 0 ? 0 : 1;
  return true;
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
  // SIGINT and SIGTERM end the program like the Exit command, whatever
  // window is open, so that the link is closed and the folders remembered.
  vrx4::installStopSignals(&qapp);

  int status = 0;
  {
    vrx4::AppEnvironment env;
    env.makeDriver = vrx4::makeUsbDriver;
    vrx4::CProgrammerApp app(env);
    if (app.onProgramStart(QCoreApplication::arguments()) && !vrx4::programStopRequested()) status = qapp.exec();
    const int exitStatus = app.onProgramExit();
    if (status == 0) status = exitStatus;
  }
  vrx4::setPrompter(nullptr);
  return status;
}
