// The Qt front end of the T552-VRX4 control program.
#include <QApplication>

#include "app/CProgrammerApp.h"
#include "app/CQtPrompter.h"
#include "app/Log.h"
#include "app/Prompter.h"

namespace {

// Platforms without a screen an operator could answer a message box on.
bool operatorCanAnswer() {
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
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

  int status = 0;
  {
    vrx4::CProgrammerApp app;
    if (app.onProgramStart(QCoreApplication::arguments())) status = qapp.exec();
    const int exitStatus = app.onProgramExit();
    if (status == 0) status = exitStatus;
  }
  vrx4::setPrompter(nullptr);
  return status;
}
