#pragma once
// The application object: the one owner of the program's state for the whole
// run. onProgramStart refuses a second instance, reads the command line,
// makes the transport, the document, the frame and the view (whose first
// update runs the connection check) and shows the main window;
// onProgramExit remembers the dialog folders and closes the link.
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "app/CommandLine.h"

class QLockFile;
class QSettings;

namespace vrx4 {

class CKDL2Doc;
class CMainFrame;
class CMainView;
class UsbDriver;

// What the program takes from its surroundings; tests replace parts of it.
struct AppEnvironment {
  // The program's own file (its folder holds "dlg_path" and the data files);
  // empty: the running executable.
  QString executablePath;
  // Name of the single-instance lock; empty: the executable's base name.
  QString instanceName;
  // A driver the caller owns, used instead of the one the command line
  // chooses.
  UsbDriver* driver = nullptr;
  // Makes the driver for the unit the command line chose when there is no
  // `driver`: the program passes the transports it is built with (it knows
  // the simulated unit; this layer does not). Null result: `error` says why.
  std::function<std::unique_ptr<UsbDriver>(const UnitChoice&, std::string&)> makeDriver;
};

class CProgrammerApp final : public QObject {
  Q_OBJECT
 public:
  explicit CProgrammerApp(AppEnvironment env = {});
  ~CProgrammerApp() override;

  // `arguments` as QCoreApplication::arguments() gives them (program name
  // first). True when the main window is up and the event loop should run.
  bool onProgramStart(const QStringList& arguments);
  // Returns the process's exit status: 0 after a normal run, 2 after a bad
  // command line, 1 when start-up failed otherwise.
  int onProgramExit();

  AppState& state() { return state_; }
  CMainFrame* mainFrame() const { return frame_; }
  CMainView* mainView() const { return view_; }
  UsbDriver* driver() const { return driver_; }
  const CommandLine& commandLine() const { return commandLine_; }

  // The lock file that keeps a second instance out, for a given name.
  static QString instanceLockPath(const QString& instanceName);

 private slots:
  void onDeviceChange();

 private:
  bool acquireInstanceLock();
  bool setUpTransport();

  AppEnvironment env_;
  AppState state_;
  CommandLine commandLine_;
  int exitStatus_ = 1;
  bool running_ = false;

  std::unique_ptr<QLockFile> instanceLock_;
  std::unique_ptr<QSettings> profile_;
  std::unique_ptr<UsbDriver> ownDriver_;
  UsbDriver* driver_ = nullptr;
  UsbDriver* previousDriver_ = nullptr;
  bool driverInstalled_ = false;
  std::unique_ptr<CKDL2Doc> document_;
  CMainFrame* frame_ = nullptr;
  CMainView* view_ = nullptr;
};

}  // namespace vrx4
