// The window against a vrx4-unitsim process that misbehaves (an operation
// that never ends, a unit that stays busy, replies that drip in or never
// come), stopped by SIGTERM, SIGINT or the window's close in each state: how
// long it takes to end, its status, "dlg_path", and what the unit was sent.
// Each run prints one line "stop: FAULT / STATE / HOW -> N ms".
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>

#include "ScriptedPrompter.h"
#include "app/CQtPrompter.h"
#include "app/ProgramStop.h"
#include "base/CWorkerDialog.h"
#include "base/StopRequest.h"
#include "image/CTransferDlg.h"
#include "link/SocketUsbDriver.h"
#include "link/UsbLink.h"
#include "programs/UnitTransport.h"
#include "view/CMainFrame.h"
#include "view/CMainView.h"
#include "view/CMainViewDialogs.h"
#include "view/CProgrammerApp.h"
#include "view/CProgrammingDlg.h"

using namespace vrx4;

namespace {

// A vrx4-unitsim process with --verbose: its log names every command.
class UnitSim {
 public:
  UnitSim(const QString& socket, QStringList extra) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args = {QStringLiteral("--socket"), socket, QStringLiteral("--no-state"), QStringLiteral("--instant"),
                        QStringLiteral("--verbose")};
    process_.start(QStringLiteral(VRX4_UNITSIM), args + extra);
    QDeadlineTimer ready(20000);
    while (!log_.contains("unitsim: serving") && !ready.hasExpired() && process_.waitForReadyRead(500))
      log_ += process_.readAll();
  }
  ~UnitSim() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(5000);
    }
  }
  bool serving() const { return log_.contains("unitsim: serving"); }
  // Stops the simulator and returns its whole log.
  QByteArray finish() {
    process_.terminate();
    process_.waitForFinished(10000);
    log_ += process_.readAll();
    return log_;
  }

 private:
  QProcess process_;
  QByteArray log_;
};

// A prompter that puts up real message boxes, as an operator's screen would.
class BoxPrompter final : public Prompter {
 public:
  BoxPrompter() { previous_ = setPrompter(this); }
  ~BoxPrompter() override { setPrompter(previous_); }
  Answer ask(const Prompt& p) override {
    texts << QString::fromStdString(p.text);
    return stopRequestRaised() ? safeAnswer(p.buttons) : runMessageBox(p);
  }
  QStringList texts;

 private:
  Prompter* previous_ = nullptr;
};

bool chooseDevice(CMainView* view, const QString& name) {
  const int index = view->deviceList()->findText(name);
  if (index < 0) return false;
  view->deviceList()->setCurrentIndex(index);
  emit view->deviceList()->activated(index);
  return true;
}

void printTime(const char* fault, const char* state, const char* how, qint64 ms) {
  std::printf("stop: %s / %s / %s -> %lld ms\n", fault, state, how, static_cast<long long>(ms));
  std::fflush(stdout);
}

enum class How { Term, Int, Close };
const char* howName(How h) { return h == How::Term ? "SIGTERM" : h == How::Int ? "SIGINT" : "close"; }

}  // namespace

class WindowStopTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder_;
  QTemporaryDir sockets_;

  AppEnvironment environment(UsbDriver* driver) {
    AppEnvironment env;
    env.executablePath = folder_.filePath(QStringLiteral("vrx4"));
    env.instanceName = QStringLiteral("vrx4-stopgui-test-%1").arg(QCoreApplication::applicationPid());
    env.driver = driver;
    env.makeDriver = makeUsbDriver;
    return env;
  }
  QString dialogPathFile() const { return folder_.filePath(QStringLiteral("dlg_path")); }

  // The window up on the simulator; `during` starts the state (from inside
  // the event loop), `inState` tells when it is reached; then the stop comes
  // `how`. Returns the milliseconds from the stop to the end of the main
  // loop (-1 when the state was never reached or the loop did not end).
  qint64 stopInState(CProgrammerApp& app, const std::function<void()>& during, const std::function<bool()>& inState,
                     How how, int delayMs = 200) {
    QElapsedTimer sinceStop;
    bool reached = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (reached || !inState()) return;
      reached = true;
      QTimer::singleShot(delayMs, [&] {
        sinceStop.start();
        if (how == How::Close)
          app.mainFrame()->close();
        else
          ::raise(how == How::Term ? SIGTERM : SIGINT);
      });
    });
    watch.start(5);
    QTimer::singleShot(0, app.mainFrame(), during);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    const int status = QCoreApplication::exec();
    const qint64 ms = reached && sinceStop.isValid() ? sinceStop.elapsed() : -1;
    watch.stop();
    if (status != 0) return -1;
    return ms;
  }

 private slots:
  void initTestCase() {
    for (const char* name : {"vrx4type.tbl", "vrx4.fwp"}) {
      const QString n = QString::fromLatin1(name);
      QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/') + n, folder_.filePath(n)));
    }
    CWorkerDialog::setTimerIntervalMs(1);
    installStopSignals(QCoreApplication::instance());
  }
  void init() {
    clearProgramStopRequest();
    QFile::remove(dialogPathFile());
  }
  void cleanup() {
    closeLink();
    clearProgramStopRequest();
  }

  // An operation the unit never finishes ("Blank Checking..." as the
  // operator starts it), stopped three ways: the unit is sent abortOperation,
  // the window ends within seconds with status 0 and "dlg_path" written.
  void operationThatNeverFinishesIsAbortedOnEveryStop_data() {
    QTest::addColumn<int>("how");
    QTest::newRow("SIGTERM") << int(How::Term);
    QTest::newRow("SIGINT") << int(How::Int);
    QTest::newRow("close") << int(How::Close);
  }
  void operationThatNeverFinishesIsAbortedOnEveryStop() {
    QFETCH(int, how);
    const QString sock = sockets_.filePath(QStringLiteral("run.sock"));
    UnitSim sim(sock, {QStringLiteral("--run-forever")});
    QVERIFY(sim.serving());
    test::ScriptedPrompter prompts;
    SocketUsbDriver client(sock.toStdString());
    CProgrammerApp app(environment(&client));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
    CMainView* view = app.mainView();
    QVERIFY(chooseDevice(view, QStringLiteral("DEMO-A32K")));
    QCOMPARE(view->checkedOperation(), 1);  // Blank, with no file loaded
    const qint64 ms = stopInState(
        app, [view] { view->startButton()->click(); },
        [] { return dynamic_cast<CProgrammingDlg*>(QApplication::activeModalWidget()) != nullptr; }, How(how));
    QVERIFY2(ms >= 0, "the window did not end");
    printTime("run-forever", "Blank Checking...", howName(How(how)), ms);
    QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
    QCOMPARE(app.onProgramExit(), 0);
    QVERIFY(QFile::exists(dialogPathFile()));
    const QByteArray log = sim.finish();
    QVERIFY2(log.contains("abortOperation"), log.constData());
    // A stop is no time-out: no message about an unfinished operation.
    for (const std::string& t : prompts.texts()) QVERIFY2(t.find("did not finish") == std::string::npos, t.c_str());
  }

  // A send to a unit that stays busy after the last page (the completion
  // poll), and replies that drip in or hang while an operation runs: each
  // ends within about a second of the SIGTERM.
  void slowUnitInEveryWaitEndsSoonAfterSigterm() {
    struct Case {
      const char* fault;
      const char* state;
      QStringList simArgs;
      const char* control;  // sent once the window is up (empty: none)
      bool operation;       // Start (true) or Load... (false)
    };
    const Case cases[] = {
        {"busy-forever", "Load... (send)", {QStringLiteral("--busy-forever")}, "", false},
        {"drip 150 ms", "Blank Checking...", {QStringLiteral("--run-forever")}, "drip 150", true},
        {"hang", "Blank Checking...", {QStringLiteral("--run-forever")}, "", true},
    };
    QTemporaryDir files;
    const QString hex = files.filePath(QStringLiteral("small.hex"));
    {
      QFile f(hex);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(":10800000000102030405060708090A0B0C0D0E0FF8\n:00000001FF\n");
    }
    for (const Case& c : cases) {
      clearProgramStopRequest();
      QFile::remove(dialogPathFile());
      const QString sock = sockets_.filePath(QStringLiteral("slow.sock"));
      UnitSim sim(sock, c.simArgs);
      QVERIFY(sim.serving());
      test::ScriptedPrompter prompts;
      SocketUsbDriver client(sock.toStdString());
      {
        CProgrammerApp app(environment(&client));
        QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
        CMainView* view = app.mainView();
        QVERIFY(chooseDevice(view, QStringLiteral("DEMO-A32K")));
        if (*c.control) QCOMPARE(client.control(c.control), std::optional<std::string>("ok"));
        const bool hang = std::string(c.fault) == "hang";
        std::function<void()> during;
        if (c.operation) {
          during = [view] { view->startButton()->click(); };
        } else {
          during = [view, hex] {
            view->dialogs().setFileChooser(
                [hex](const FileOpenRequest&) { return std::optional<std::string>(hex.toStdString()); });
            view->loadButton()->click();
          };
        }
        bool hangSet = false;
        const qint64 ms = stopInState(
            app, during,
            [&] {
              QWidget* modal = QApplication::activeModalWidget();
              const bool in = c.operation ? dynamic_cast<CProgrammingDlg*>(modal) != nullptr
                                          : dynamic_cast<CSendImageDlg*>(modal) != nullptr;
              // The next reply of the running operation never comes.
              if (in && hang && !hangSet) hangSet = client.control("hang 1") == std::optional<std::string>("ok");
              return in;
            },
            How::Term, c.operation ? 400 : 1000);
        QVERIFY2(ms >= 0, c.fault);
        printTime(c.fault, c.state, "SIGTERM", ms);
        QVERIFY2(ms < 2500, qPrintable(QStringLiteral("%1: %2 ms").arg(QLatin1String(c.fault)).arg(ms)));
        QCOMPARE(app.onProgramExit(), 0);
        QVERIFY(QFile::exists(dialogPathFile()));
      }
      sim.finish();
      closeLink();
    }
  }

  // SIGTERM while "Would you like to update firmware?" is on the screen:
  // the question takes Cancel, nothing is written to the unit, the start
  // ends with status 0 and "dlg_path" written.
  void sigtermWhileTheFirmwareQuestionIsUp() {
    const QString sock = sockets_.filePath(QStringLiteral("fw.sock"));
    UnitSim sim(sock, {QStringLiteral("--firmware-version"), QStringLiteral("Ver.1.00")});
    QVERIFY(sim.serving());
    BoxPrompter prompts;
    SocketUsbDriver client(sock.toStdString());
    QElapsedTimer sinceStop;
    QTimer watch;
    bool raised = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (raised || !box || !box->text().contains(QStringLiteral("update firmware"))) return;
      raised = true;
      sinceStop.start();
      ::raise(SIGTERM);
    });
    watch.start(5);
    {
      CProgrammerApp app(environment(&client));
      QVERIFY(!app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
      const qint64 ms = sinceStop.isValid() ? sinceStop.elapsed() : -1;
      QVERIFY(raised);
      printTime("firmware Ver.1.00", "firmware question", "SIGTERM", ms);
      QVERIFY(ms < 2000);
      QVERIFY(programStopRequested());
      QCOMPARE(app.onProgramExit(), 0);
    }
    watch.stop();
    QVERIFY(QFile::exists(dialogPathFile()));
    QCOMPARE(prompts.texts, QStringList{QStringLiteral("Would you like to update firmware?")});
    const QByteArray log = sim.finish();
    for (const char* never : {"beginFirmwareUpdate", "writeFirmwarePage", "initializeUnit"})
      QVERIFY2(!log.contains(never), log.constData());
  }

  // The real program starting on a unit whose replies drip in (its start
  // would take minutes) or never come: SIGTERM ends it within about a
  // second, status 0, "dlg_path" written beside it.
  void realBinaryStartingOnASlowUnitEndsSoonAfterSigterm() {
    struct Case {
      const char* fault;
      QStringList simArgs;
    };
    const Case cases[] = {
        {"drip 100 ms", {QStringLiteral("--drip"), QStringLiteral("100")}},
        {"hang", {QStringLiteral("--hang"), QStringLiteral("2")}},
    };
    for (const Case& c : cases) {
      QTemporaryDir dir;
      const QString program = dir.filePath(QStringLiteral("vrx4-stop-%1").arg(QCoreApplication::applicationPid()));
      QVERIFY(QFile::copy(QStringLiteral(VRX4_BINARY), program));
      QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
      for (const char* name : {"vrx4type.tbl", "vrx4.fwp"})
        QVERIFY(QFile::copy(folder_.filePath(QLatin1String(name)), dir.filePath(QLatin1String(name))));
      const QString sock = dir.filePath(QStringLiteral("u.sock"));
      UnitSim sim(sock, c.simArgs);
      QVERIFY(sim.serving());
      QProcess p;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
      p.setProcessEnvironment(env);
      p.setProcessChannelMode(QProcess::MergedChannels);
      p.start(program, {QStringLiteral("--unit"), QStringLiteral("socket:") + sock, QStringLiteral("-Automation")});
      QVERIFY(p.waitForStarted(10000));
      QTest::qWait(1500);
      QCOMPARE(p.state(), QProcess::Running);
      QElapsedTimer sinceStop;
      sinceStop.start();
      p.terminate();
      QVERIFY(p.waitForFinished(10000));
      const qint64 ms = sinceStop.elapsed();
      const QByteArray log = p.readAll();
      printTime(c.fault, "start-up", "SIGTERM", ms);
      QVERIFY2(ms < 2500, log.constData());
      QCOMPARE(p.exitStatus(), QProcess::NormalExit);
      QVERIFY2(p.exitCode() == 0, log.constData());
      QVERIFY2(log.contains("stopped during the start-up"), log.constData());
      QVERIFY(QFile::exists(dir.filePath(QStringLiteral("dlg_path"))));
      sim.finish();
    }
  }
};

QTEST_MAIN(WindowStopTest)
#include "WindowStopTest.moc"
