#include "view/CProgrammerApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>

#include "app/AppIcon.h"
#include "app/AppInfo.h"
#include "app/CSplashWindow.h"
#include "app/ProgramStop.h"
#include "base/Log.h"
#include "base/Prompter.h"
#include "link/UsbLink.h"
#include "settings/CDropDownList.h"
#include "view/CKDL2Doc.h"
#include "view/CMainFrame.h"
#include "view/CMainView.h"

namespace vrx4 {

CProgrammerApp::CProgrammerApp(AppEnvironment env) : env_(std::move(env)) {
  const QString exe = env_.executablePath.isEmpty() ? QCoreApplication::applicationFilePath() : env_.executablePath;
  state_.executablePath = QDir::fromNativeSeparators(exe).toStdString();
}

CProgrammerApp::~CProgrammerApp() {
  delete frame_;  // also takes the start-up picture with it
  if (driver_) driver_->setDeviceChangeHandler({});
  if (driverInstalled_) setUsbDriver(previousDriver_);
}

QString CProgrammerApp::instanceLockPath(const QString& instanceName) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return dir + QLatin1Char('/') + instanceName + QStringLiteral(".lock");
}

bool CProgrammerApp::acquireInstanceLock() {
  const QString name = env_.instanceName.isEmpty() ? QFileInfo(QString::fromStdString(state_.executablePath)).baseName()
                                                   : env_.instanceName;
  auto lock = std::make_unique<QLockFile>(instanceLockPath(name));
  // The first instance may run for days: its lock never turns stale by age,
  // only when its process is gone.
  lock->setStaleLockTime(0);
  if (lock->tryLock(0)) {
    instanceLock_ = std::move(lock);
    return true;
  }
  if (lock->error() == QLockFile::LockFailedError) return false;
  // The lock file cannot be made at all (no writable runtime folder): run
  // without the guard rather than refuse to run.
  logProgramLine("cannot create the single-instance lock " + instanceLockPath(name).toStdString());
  return true;
}

bool CProgrammerApp::setUpTransport() {
  driver_ = env_.driver;
  if (!driver_) {
    std::string error = "no unit transport";
    if (env_.makeDriver) ownDriver_ = env_.makeDriver(commandLine_.unit, error);
    if (!ownDriver_) {
      logProgramLine(error);
      return false;
    }
    driver_ = ownDriver_.get();
  }
  previousDriver_ = setUsbDriver(driver_);
  driverInstalled_ = true;
  // Device changes arrive on any thread; the frame handles them on this one.
  driver_->setDeviceChangeHandler(
      [this] { QMetaObject::invokeMethod(this, &CProgrammerApp::onDeviceChange, Qt::QueuedConnection); });
  return true;
}

bool CProgrammerApp::onProgramStart(const QStringList& arguments) {
  state_.startupOk = true;
  state_.closeLinkAtExit = true;
  exitStatus_ = 1;

  std::vector<std::string> args;
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments[i].toStdString());
  commandLine_ = parseCommandLine(args);
  const std::string program = QFileInfo(QString::fromStdString(state_.executablePath)).fileName().toStdString();
  if (!commandLine_.ok()) {
    logLine(program + ": " + commandLine_.error);
    logLine(commandLineUsage(program));
    exitStatus_ = kCommandLineErrorStatus;
    return false;
  }
  if (commandLine_.showHelp || commandLine_.showVersion) {
    // main() answers these before a display is opened; here they only end
    // the start.
    logLine(commandLine_.showHelp ? commandLineHelp(program) : commandLineVersion(program, commandLine_.unit.usbId));
    exitStatus_ = 0;
    return false;
  }
  for (const std::string& arg : commandLine_.unknown) logLine(unknownArgumentWarning(program, arg));
  CSplashWindow::setSplashEnabled(commandLine_.splashEnabled);

  if (!acquireInstanceLock()) {
    showMessage(kAlreadyStartedText, Icon::Stop);
    state_.closeLinkAtExit = false;
    return false;
  }

  QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
  QApplication::setWindowIcon(applicationIcon());
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) guardDropDownListsOf(*app);
  profile_ = std::make_unique<QSettings>();

  if (!setUpTransport()) return false;

  // The document, the frame (which puts up the start-up picture) and the
  // view, whose first update decides whether the program goes on.
  document_ = std::make_unique<CKDL2Doc>();
  frame_ = new CMainFrame;
  frame_->create();
  view_ = new CMainView(state_, frame_);
  frame_->setView(view_);
  view_->onInitialUpdate();
  // A stop request during the check ends the start as Exit ends a run: the
  // folders are remembered (a question left unanswered is no failure).
  if (programStopRequested() && !frame_->exitRequested()) {
    logProgramLine("stopped during the start-up");
    if (state_.dialogPathStore.empty()) state_.loadDialogFolders();
    exitStatus_ = 0;
    return false;
  }
  // A lost unit during the check ends the start too.
  if (!state_.startupOk || frame_->exitRequested()) return false;

  frame_->showAsCreated();
  frame_->setDocumentName(document_->title());
  running_ = true;
  exitStatus_ = 0;
  return true;
}

int CProgrammerApp::onProgramExit() {
  running_ = false;
  // Failure only means the folders are forgotten.
  if (state_.dialogPathStore.empty())
    saveDialogPaths(state_.dialogPaths);
  else
    saveDialogPaths(state_.dialogPaths, state_.dialogPathStore);
  if (state_.closeLinkAtExit && driverInstalled_) closeLink();
  if (driver_) driver_->setDeviceChangeHandler({});
  delete frame_;
  frame_ = nullptr;
  view_ = nullptr;
  instanceLock_.reset();
  return exitStatus_;
}

void CProgrammerApp::onDeviceChange() {
  if (running_ && frame_) frame_->onDeviceChange();
}

}  // namespace vrx4
