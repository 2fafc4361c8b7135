// Start-up and exit of the application object, the start-up picture and the
// main frame's reaction to a lost unit.
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLockFile>
#include <QMainWindow>
#include <QProcess>
#include <QProgressBar>
#include <QShortcut>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <thread>

#include "ScriptedPrompter.h"
#include "app/AppInfo.h"
#include "app/CQtPrompter.h"
#include "app/CSplashWindow.h"
#include "app/CUnitDialogs.h"
#include "app/ProgramStop.h"
#include "app/UnitCheck.h"
#include "base/CWorkerDialog.h"
#include "base/StartupMessage.h"
#include "image/CTransferDlg.h"
#include "link/Commands.h"
#include "link/UsbLink.h"
#include "programs/UnitTransport.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"
#include "sim/SimulatedUnit.h"
#include "sim/UnitFaults.h"
#include "view/CMainFrame.h"
#include "view/CMainView.h"
#include "view/CProgrammerApp.h"
#include "view/FrameRules.h"

using namespace vrx4;

namespace {

// Records every message with what the operator could see when it came.
class WatchingPrompter final : public Prompter {
 public:
  struct Seen {
    Prompt prompt;
    uint64_t atMs;
    bool splashUp;
  };
  WatchingPrompter() { previous_ = setPrompter(this); }
  ~WatchingPrompter() override { setPrompter(previous_); }
  Answer ask(const Prompt& p) override {
    seen.push_back({p, vrx4::clock().nowMs(), CSplashWindow::current() != nullptr});
    return p.defaultButton;
  }
  QStringList texts() const {
    QStringList t;
    for (const Seen& s : seen) t << QString::fromStdString(s.prompt.text);
    return t;
  }
  std::vector<Seen> seen;

 private:
  Prompter* previous_ = nullptr;
};

// A transport that forwards to the simulated one and notes, while the link
// searches for the unit, whether the start-up picture is up and the time.
class WatchingDriver final : public UsbDriver {
 public:
  SimUsbDriver sim;
  bool splashSeenWhileSearching = false;
  int searches = 0;
  uint64_t lastSearchMs = 0;

  std::optional<std::string> enumerateInterface(int index) override {
    if (index == 0) {
      ++searches;
      lastSearchMs = vrx4::clock().nowMs();
      splashSeenWhileSearching |= CSplashWindow::current() != nullptr;
    }
    return sim.enumerateInterface(index);
  }
  UsbHandle open(const std::string& path) override { return sim.open(path); }
  void close(UsbHandle h) override { sim.close(h); }
  bool getDeviceDescriptor(UsbHandle d, std::array<uint8_t, 18>& out) override {
    return sim.getDeviceDescriptor(d, out);
  }
  bool getConfiguration(UsbHandle d, uint32_t& v) override { return sim.getConfiguration(d, v); }
  void recover(UsbHandle d) override { sim.recover(d); }
  bool write(UsbHandle p, const uint8_t* data, size_t n) override { return sim.write(p, data, n); }
  bool read(UsbHandle p, uint8_t* data, size_t n, size_t& got) override { return sim.read(p, data, n, got); }
  void setDeviceChangeHandler(std::function<void()> h) override { sim.setDeviceChangeHandler(std::move(h)); }
};

// Counts the presses and keys that reach it.
class Target final : public QWidget {
 public:
  int presses = 0;
  int keys = 0;

 protected:
  void mousePressEvent(QMouseEvent*) override { ++presses; }
  void keyPressEvent(QKeyEvent*) override { ++keys; }
};

// Notes every main frame that is ever shown.
class ShowWatcher final : public QObject {
 public:
  int framesShown = 0;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Show && qobject_cast<CMainFrame*>(o)) ++framesShown;
    return false;
  }
};

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// A simulated unit that notes every command it is sent, with ways to make
// its firmware update never finish or its unit information come short.
class ObservedUnit final : public SimulatedProgrammer {
 public:
  using SimulatedProgrammer::SimulatedProgrammer;
  bool updateNeverFinishes = false;
  bool shortUnitInfo = false;
  std::vector<uint8_t> commands;
  uint64_t unitInfoAtMs = 0;
  int count(uint8_t code) const { return int(std::count(commands.begin(), commands.end(), code)); }

 protected:
  Reply handleCommand(uint8_t command, const uint8_t* payload, size_t length) override {
    commands.push_back(command);
    if (command == kCmdGetUpdateState && updateNeverFinishes) {
      vrx4::clock().sleepMs(1000);  // the time each look at a busy unit takes here
      return Reply::ok({1});
    }
    if (command == kCmdGetUnitInfo && shortUnitInfo) {
      unitInfoAtMs = vrx4::clock().nowMs();
      return Reply::ok(std::vector<uint8_t>(40, 0));
    }
    return SimulatedProgrammer::handleCommand(command, payload, length);
  }
};

// A program copied into a folder of its own, with the data files beside it,
// under a name that keeps its single-instance lock apart from any other run.
struct ProgramCopy {
  QTemporaryDir dir;
  QString path;
  bool ok = false;
  explicit ProgramCopy(const QString& tag) {
    const QString bin = QFileInfo(QStringLiteral(VRX4_BINARY)).absolutePath();
    path = dir.filePath(QStringLiteral("vrx4-%1-%2").arg(tag).arg(QCoreApplication::applicationPid()));
    ok = QFile::copy(QStringLiteral(VRX4_BINARY), path) &&
         QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
         QFile::copy(bin + QStringLiteral("/vrx4type.tbl"), dir.filePath(QStringLiteral("vrx4type.tbl"))) &&
         QFile::copy(bin + QStringLiteral("/vrx4.fwp"), dir.filePath(QStringLiteral("vrx4.fwp")));
  }
};

QProcessEnvironment offscreenEnvironment() {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  return env;
}

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir folder_;
  AppEnvironment environment(UsbDriver* driver) {
    AppEnvironment env;
    env.executablePath = folder_.filePath(QStringLiteral("vrx4"));
    env.instanceName = QStringLiteral("vrx4-startup-test-%1").arg(QCoreApplication::applicationPid());
    env.driver = driver;
    env.makeDriver = makeUsbDriver;
    return env;
  }

 private slots:
  void initTestCase() {
    // The program folder of these runs holds the shipped device table.
    const QString table = QCoreApplication::applicationDirPath() + QStringLiteral("/vrx4type.tbl");
    QVERIFY(QFile::copy(table, folder_.filePath(QStringLiteral("vrx4type.tbl"))));
    const QString firmware = QCoreApplication::applicationDirPath() + QStringLiteral("/vrx4.fwp");
    QVERIFY(QFile::copy(firmware, folder_.filePath(QStringLiteral("vrx4.fwp"))));
    CWorkerDialog::setTimerIntervalMs(1);
  }
  void init() {
    CSplashWindow::setSplashEnabled(true);
    QFile::remove(folder_.filePath(QStringLiteral("dlg_path")));
  }
  void cleanup() {
    CSplashWindow::hideSplash();
    flushDeletes();
    closeLink();
  }

  void noUnitEndsBeforeTheWindowShows() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    WatchingDriver driver;
    ShowWatcher shows;
    qApp->installEventFilter(&shows);
    {
      CProgrammerApp app(environment(&driver));
      QVERIFY(!app.onProgramStart({QStringLiteral("vrx4")}));
      QVERIFY(!app.state().startupOk);
      QCOMPARE(prompts.texts(), QStringList{QString::fromLatin1(kNoUnitText)});
      QCOMPARE(prompts.seen[0].prompt.icon, Icon::Stop);
      // The picture stood during the search and was gone before the box.
      QVERIFY(driver.splashSeenWhileSearching);
      QVERIFY(!prompts.seen[0].splashUp);
      // Ten looks 100 ms apart, then the 1000 ms start-up pause.
      QCOMPARE(driver.searches, kFindAttempts);
      QCOMPARE(fake->sleptMs(), uint64_t(2000));
      QCOMPARE(prompts.seen[0].atMs, uint64_t(2000));
      QVERIFY(app.onProgramExit() != 0);
    }
    qApp->removeEventFilter(&shows);
    QCOMPARE(shows.framesShown, 0);
    // The connection check never got as far as the folders: nothing saved.
    QVERIFY(!QFile::exists(folder_.filePath(QStringLiteral("dlg_path"))));
  }

  void automationShowsNoPictureButStillWaits() {
    for (const QString& sw : {QStringLiteral("/AUTOMATION"), QStringLiteral("-embedding")}) {
      test::FakeClockScope fake;
      WatchingPrompter prompts;
      WatchingDriver driver;
      CProgrammerApp app(environment(&driver));
      QVERIFY(!app.onProgramStart({QStringLiteral("vrx4"), sw}));
      QVERIFY(!CSplashWindow::splashEnabled());
      QVERIFY(!driver.splashSeenWhileSearching);
      QCOMPARE(prompts.texts(), QStringList{QString::fromLatin1(kNoUnitText)});
      // The last look at the bus, its 100 ms pause, then 1000 ms more.
      QCOMPARE(prompts.seen[0].atMs, driver.lastSearchMs + 100 + 1000);
      app.onProgramExit();
    }
  }

  void secondInstanceIsRefusedAndLeavesTheLinkAlone() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    // The link as the first instance would hold it.
    WatchingDriver driver;
    driver.sim.addUnit(std::make_shared<SimulatedProgrammer>());
    UsbDriver* before = setUsbDriver(&driver);
    QVERIFY(openLink());
    const int slot = linkSlot();

    AppEnvironment env = environment(nullptr);
    QLockFile first(CProgrammerApp::instanceLockPath(env.instanceName));
    QVERIFY(first.tryLock(0));
    {
      CProgrammerApp second(env);
      QVERIFY(!second.onProgramStart(
          {QStringLiteral("vrx4"), QStringLiteral("--simulate"), QStringLiteral("--sim-no-state")}));
      QCOMPARE(prompts.texts(), QStringList{QString::fromLatin1(kAlreadyStartedText)});
      QCOMPARE(prompts.seen[0].prompt.icon, Icon::Stop);
      QVERIFY(!second.state().closeLinkAtExit);
      QVERIFY(second.driver() == nullptr);  // it never reached the transport
      QVERIFY(second.onProgramExit() != 0);
    }
    QCOMPARE(linkSlot(), slot);
    QVERIFY(isLinkAlive());
    QCOMPARE(usbDriver(), static_cast<UsbDriver*>(&driver));
    QCOMPARE(fake->sleptMs(), uint64_t(0));

    // Once the first instance is gone the next one starts.
    first.unlock();
    closeLink();
    prompts.seen.clear();
    {
      CProgrammerApp next(environment(&driver));
      QVERIFY(next.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
      QVERIFY(prompts.seen.empty());
      QCOMPARE(next.onProgramExit(), 0);
    }
    setUsbDriver(before);
  }

  void simulatedUnitOpensTheWindowAndExitSavesTheFolders() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    QCoreApplication::setOrganizationName(QString());
    CProgrammerApp app(environment(nullptr));
    QVERIFY(
        app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("--simulate"), QStringLiteral("--sim-no-state")}));
    QVERIFY(prompts.seen.empty());
    QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Velmora Inc."));

    CMainFrame* frame = app.mainFrame();
    QVERIFY(frame && frame->isVisible());
    QCOMPARE(frame->windowTitle(), QStringLiteral("Untitled - CAN Flash Programer T552-VRX4"));
    const int width = QGuiApplication::primaryScreen()->availableGeometry().width();
    QCOMPARE(frame->opensMaximized(), frameOpensMaximized(width));
    QCOMPARE(bool(frame->windowState() & Qt::WindowMaximized), frameOpensMaximized(width));

    CSplashWindow* splash = CSplashWindow::current();
    QVERIFY(splash && splash->isVisible());
    QCOMPARE(splash->size(), QSize(kSplashWidth, kSplashHeight));
    const QPoint offset = splash->geometry().center() - frame->plannedGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, "picture not centred over the main window");
    QVERIFY(splash->displayTimer().isActive());
    QCOMPARE(splash->displayTimer().interval(), kSplashDisplayMs);
    QVERIFY(linkSlot() >= 0);

    QCOMPARE(app.onProgramExit(), 0);
    QCOMPARE(linkSlot(), -1);
    QVERIFY(CSplashWindow::current() == nullptr);
    QFile f(folder_.filePath(QStringLiteral("dlg_path")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QCOMPARE(bytes.size(), qsizetype(kDialogPathFileSize));
    const QByteArray folder = (folder_.path() + QLatin1Char('/')).toUtf8();
    QCOMPARE(QByteArray(bytes.constData()), folder);                            // slot 0
    QCOMPARE(QByteArray(bytes.constData() + 4 * kDialogPathSlotSize), folder);  // slot 4
    QCOMPARE(QByteArray(bytes.constData() + 5 * kDialogPathSlotSize), QByteArray());
  }

  void lostUnitEndsTheProgramOnce() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    WatchingDriver driver;
    const int unit = driver.sim.addUnit(std::make_shared<SimulatedProgrammer>());
    std::array<uint8_t, 18> other{18, 1, 0, 2, 0, 0, 0, 64, 0x34, 0x12, 0x78, 0x56};
    const int mouse = driver.sim.addOtherDevice(other);
    CProgrammerApp app(environment(&driver));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Embedding")}));
    CMainFrame* frame = app.mainFrame();
    QVERIFY(frame->isVisible());

    // Another device leaving is a device change too: the unit is still there.
    driver.sim.unplug(mouse);
    QCoreApplication::processEvents();
    QVERIFY(prompts.seen.empty());
    QVERIFY(frame->isVisible());

    // The unit leaving: one message, however many notifications follow.
    // The program's own event loop runs until the frame ends it (a guard
    // ends it too, with another status, should the frame never do so).
    driver.sim.unplug(unit);
    driver.sim.unplug(unit);
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    // The loop ends with the status of a lost unit, not that of Exit.
    QCOMPARE(QCoreApplication::exec(), kUnitLostExitStatus);
    QVERIFY(frame->exitRequested());
    QCOMPARE(prompts.texts(), QStringList{QString::fromLatin1(CMainFrame::kDisconnectedText)});
    QCOMPARE(prompts.seen[0].prompt.icon, Icon::Exclamation);
    QVERIFY(!frame->isVisible());
    QVERIFY(!frame->onDeviceChange());
    QCOMPARE(prompts.seen.size(), size_t(1));
    app.onProgramExit();
    QCOMPARE(linkSlot(), -1);
  }

  // A stop request (SIGTERM) while "Initializing..." counts: the dialog
  // ends, the main loop ends, and the exit steps run as after Exit.
  void stopRequestEndsTheProgramWhateverDialogIsOpen() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    WatchingDriver driver;
    driver.sim.addUnit(std::make_shared<SimulatedProgrammer>());
    installStopSignals(QCoreApplication::instance());
    {
      CProgrammerApp app(environment(&driver));
      QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Embedding")}));
      bool dialogSeen = false;
      QTimer watch;
      QObject::connect(&watch, &QTimer::timeout, [&] {
        if (dynamic_cast<CInitializingDlg*>(QApplication::activeModalWidget()) && !dialogSeen) {
          dialogSeen = true;
          ::raise(SIGTERM);
        }
      });
      watch.start(1);
      app.state().reinitPending = true;
      QTimer::singleShot(0, app.mainView(), [&] { app.mainView()->runPendingReinit(); });
      QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
      QCOMPARE(QCoreApplication::exec(), 0);
      QVERIFY(dialogSeen);
      QVERIFY(programStopRequested());
      QCOMPARE(QApplication::activeModalWidget(), nullptr);
      QCOMPARE(app.onProgramExit(), 0);
      QVERIFY(QFile::exists(folder_.filePath(QStringLiteral("dlg_path"))));
      QCOMPARE(linkSlot(), -1);
    }
    // A stop that came before a worker dialog opens ends it at once.
    {
      const int polls = 0;
      CInitializingDlg late;
      QTimer::singleShot(10000, &late, [&late] { late.done(99); });
      QCOMPARE(late.exec(), int(QDialog::Rejected));
      (void)polls;
    }
    clearProgramStopRequest();
  }

  // A stop request while a worker runs: the worker is told to stop as Esc
  // would tell it, the dialog waits for it and ends as cancelled.
  void stopRequestStopsTheRunningWorkerFirst() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    WatchingDriver driver;
    driver.sim.addUnit(std::make_shared<SimulatedProgrammer>());
    UsbDriver* previous = setUsbDriver(&driver);
    QVERIFY(openLink());
    ProjectSettings settings;
    settings.device.userRomStart = 0;
    settings.device.userRomSize = 0x400000;
    settings.device.userRomEnd = 0x3FFFFF;
    auto image = std::make_unique<MemoryImage>();
    CFetchImageDlg dialog(ImageArea::User, *image, settings);
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, [&] {
      if (dialog.isVisible()) {
        stop.stop();
        CWorkerDialog::stopAll();
      }
    });
    stop.start(0);
    QTimer::singleShot(20000, &dialog, [&dialog] { dialog.done(99); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(dialog.progress().abandoned());
    QVERIFY(dialog.progress().position < dialog.progress().maximum);
    QVERIFY(!dialog.isVisible());
    CWorkerDialog::clearStopRequest();
    closeLink();
    setUsbDriver(previous);
  }

  // The unit leaving at "Initializing..."'s first command: after the
  // disconnect message the program ends, dialog and all.
  void unitLostAtInitializingEndsTheProgram() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    WatchingDriver driver;
    auto unit = std::make_shared<SimulatedProgrammer>();
    driver.sim.addUnit(unit);
    CProgrammerApp app(environment(&driver));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Embedding")}));
    std::string why;
    QVERIFY(applyUnitFault(*unit, "unplug-at", "initializeUnit", why));
    app.state().reinitPending = true;
    QTimer::singleShot(0, app.mainView(), [&] { app.mainView()->runPendingReinit(); });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), kUnitLostExitStatus);
    QVERIFY(app.mainFrame()->exitRequested());
    QVERIFY2(prompts.texts().contains(QString::fromLatin1(CMainFrame::kDisconnectedText)),
             qPrintable(prompts.texts().join(QLatin1Char('|'))));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    app.onProgramExit();
  }

  void frameSizeFollowsTheScreen() {
    CSplashWindow::setSplashEnabled(false);
    CMainFrame narrow;
    narrow.createFor(QRect(0, 0, 800, 600));
    QVERIFY(narrow.opensMaximized());
    QVERIFY(narrow.windowFlags() & Qt::WindowMaximizeButtonHint);
    QCOMPARE(narrow.plannedGeometry(), QRect(0, 0, 800, 600));

    CMainFrame wide;
    wide.createFor(QRect(0, 0, 801, 700));
    QVERIFY(!wide.opensMaximized());
    QVERIFY(!(wide.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(wide.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(wide.plannedGeometry().size(), QSize(kFrameWidth, kFrameHeight));
    QCOMPARE(wide.plannedGeometry().topLeft(), QPoint(5, 65));  // centred
  }

  void pressesRemoveThePictureAndAreConsumed() {
    QWidget main;
    main.resize(500, 400);
    auto* target = new Target;
    target->setParent(&main);
    target->setGeometry(0, 0, 500, 400);
    target->setFocusPolicy(Qt::StrongFocus);
    int shortcutFired = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F5), &main);
    connect(shortcut, &QShortcut::activated, [&] { ++shortcutFired; });
    main.show();
    main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&main));
    target->setFocus();
    // Without a picture the shortcut works (so its silence below means something).
    QTest::keyClick(target, Qt::Key_F5);
    QCOMPARE(shortcutFired, 1);
    shortcutFired = 0;

    // A click on the picture itself.
    CSplashWindow* splash = CSplashWindow::showSplash(&main);
    QVERIFY(splash);
    QVERIFY(CSplashWindow::showSplash(&main) == nullptr);  // only one at a time
    QTest::mouseClick(splash, Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(CSplashWindow::current() == nullptr);
    QCOMPARE(target->presses, 0);
    flushDeletes();

    // A click elsewhere in the program only removes the picture; the next
    // one arrives.
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
      QVERIFY(CSplashWindow::showSplash(&main));
      QTest::mouseMove(target, QPoint(50, 50));
      QVERIFY(CSplashWindow::current() != nullptr);  // moving is not a press
      QTest::mouseClick(target, b, {}, QPoint(50, 50));
      QVERIFY(CSplashWindow::current() == nullptr);
      QCOMPARE(target->presses, 0);
      QTest::mouseClick(target, b, {}, QPoint(50, 50));
      QCOMPARE(target->presses, 1);
      target->presses = 0;
      flushDeletes();
    }

    // Keys, shortcuts included, are consumed the same way. (The offscreen
    // platform activates every window it shows; give the keyboard back to
    // the main window as a window manager would.)
    QVERIFY(CSplashWindow::showSplash(&main));
    QCoreApplication::processEvents();
    main.activateWindow();
    QTRY_COMPARE(QGuiApplication::focusWindow(), main.windowHandle());
    QVERIFY(CSplashWindow::current() != nullptr);
    QTest::keyClick(target, Qt::Key_F5);
    QVERIFY(CSplashWindow::current() == nullptr);
    QCOMPARE(shortcutFired, 0);
    QTRY_COMPARE(QGuiApplication::focusWindow(), main.windowHandle());  // the keyboard is back
    QTest::keyClick(target, Qt::Key_A);
    QCOMPARE(target->keys, 1);
    QTest::keyClick(target, Qt::Key_F5);
    QCOMPARE(shortcutFired, 1);
    flushDeletes();

    // Without a picture nothing is consumed.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QVERIFY(!hideSplashOnInput(&key));
  }

  void pictureGoesWhenItsTimeIsUp() {
    QWidget main;
    main.resize(400, 300);
    main.show();
    CSplashWindow* splash = CSplashWindow::showSplash(&main);
    QVERIFY(splash);
    QCOMPARE(splash->displayTimer().interval(), kSplashDisplayMs);
    QVERIFY(splash->displayTimer().isSingleShot());
    splash->displayTimer().start(1);
    QTRY_VERIFY(CSplashWindow::current() == nullptr);
  }

  void picturesCanBeSwitchedOff() {
    QWidget main;
    CSplashWindow::setSplashEnabled(false);
    QVERIFY(CSplashWindow::showSplash(&main) == nullptr);
    QVERIFY(CSplashWindow::current() == nullptr);
  }

  void startupMessagesWaitAndRemoveThePictureFirst() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    QWidget main;
    main.show();
    QVERIFY(CSplashWindow::showSplash(&main));
    showMessageAfterSplash("First.", Icon::Stop);
    // After the picture has gone the pause stays.
    showMessageAfterSplash("Second.", Icon::Stop);
    QCOMPARE(prompts.seen.size(), size_t(2));
    QCOMPARE(prompts.seen[0].atMs, uint64_t(1000));
    QVERIFY(!prompts.seen[0].splashUp);
    QCOMPARE(prompts.seen[1].atMs, uint64_t(2000));
  }

  void pictureIsTheProgramsOwn() {
    const QImage picture = CSplashWindow::makePicture().toImage();
    QCOMPARE(picture.size(), QSize(kSplashWidth, kSplashHeight));
    // Coloured, not a blank.
    QVERIFY(picture.pixelColor(5, 5) != picture.pixelColor(kSplashWidth / 2, 100));
    QVERIFY(picture.pixelColor(5, 5).saturation() > 100);
  }

  // A unit with other firmware: the update is offered, runs with its bar,
  // and once the window is up "Initializing..." resets the unit's settings.
  void otherFirmwareIsUpdatedAndTheUnitInitialised() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    WatchingDriver driver;
    ProgrammerOptions options;
    options.firmwareVersion = "Ver.1.00";
    auto unit = std::make_shared<SimulatedProgrammer>(options);
    driver.sim.addUnit(unit);
    // Time passes while the dialogs wait for the unit.
    QTimer time;
    QObject::connect(&time, &QTimer::timeout, [&] { fake->advance(100); });
    time.start(1);
    int updateBarMax = 0;
    int updateBarLast = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (auto* d = dynamic_cast<CFirmwareUpdateDlg*>(QApplication::activeModalWidget())) {
        updateBarMax = d->progressBar()->maximum();
        updateBarLast = std::max(updateBarLast, d->progressBar()->value());
      }
    });
    watch.start(1);

    CProgrammerApp app(environment(&driver));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
    QCOMPARE(prompts.texts(), QStringList{QStringLiteral("Would you like to update firmware?")});
    QCOMPARE(unit->firmwareVersion(), std::string("Ver.1.11"));
    QCOMPARE(app.state().unitInfo.firmwareVersion, std::string("Ver.1.11"));
    QCOMPARE(updateBarMax, 1797);
    QVERIFY(updateBarLast > 0);
    QVERIFY(app.state().reinitPending);
    QVERIFY(app.mainFrame()->isVisible());
    QVERIFY(app.mainView()->runPendingReinit());
    QVERIFY(!app.state().reinitPending);
    QVERIFY(!app.mainView()->runPendingReinit());
    QVERIFY(!app.state().initialLoad.hasSettings);
    QCOMPARE(prompts.seen.size(), size_t(1));
    QCOMPARE(app.onProgramExit(), 0);
  }

  // A firmware update whose unit stays busy is given up with a message, and
  // the start-up ends as after any failed update: nothing initialised.
  void updateThatNeverFinishesIsReportedAndEndsTheStartUp() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    WatchingDriver driver;
    ProgrammerOptions options;
    options.firmwareVersion = "Ver.1.00";
    auto unit = std::make_shared<ObservedUnit>(options);
    unit->updateNeverFinishes = true;
    driver.sim.addUnit(unit);
    {
      CProgrammerApp app(environment(&driver));
      QVERIFY(!app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
      const QStringList texts = prompts.texts();
      QVERIFY2(texts.size() >= 2, qPrintable(texts.join(QLatin1Char('|'))));
      QCOMPARE(texts[0], QStringLiteral("Would you like to update firmware?"));
      QCOMPARE(texts[1], QStringLiteral("Firmware update error."));
      QCOMPARE(prompts.seen[1].prompt.icon, Icon::Stop);
      QVERIFY(fake->nowMs() >= kUpdateBusyLimitMs);
      QCOMPARE(unit->count(kCmdWriteFirmwarePage), 1792);
      QCOMPARE(unit->count(kCmdInitializeUnit), 0);
      QCOMPARE(unit->executionMode(), uint8_t(1));
      QVERIFY(!app.mainFrame() || !app.mainFrame()->isVisible());
      QVERIFY(app.onProgramExit() != 0);
    }
  }

  // A message raised inside a unit command during start-up (here a short
  // unit information answer) waits 1000 ms and removes the picture first.
  void commandMessagesDuringStartUpFollowTheStartUpRule() {
    test::FakeClockScope fake;
    WatchingPrompter prompts;
    WatchingDriver driver;
    auto unit = std::make_shared<ObservedUnit>();
    unit->shortUnitInfo = true;
    driver.sim.addUnit(unit);
    CProgrammerApp app(environment(&driver));
    QVERIFY(!app.onProgramStart({QStringLiteral("vrx4")}));
    QVERIFY(driver.splashSeenWhileSearching);
    QCOMPARE(prompts.texts(), QStringList{QStringLiteral("Communication error from T552-VRX4.")});
    QVERIFY(!prompts.seen[0].splashUp);
    QCOMPARE(prompts.seen[0].atMs, unit->unitInfoAtMs + 1000);
    app.onProgramExit();
  }

  void noOperatorMeansNoBoxAndTheSafeAnswer() {
    QVERIFY(!CQtPrompter::operatorCanAnswer());  // these tests run offscreen
    CQtPrompter unattended(false);
    Prompter* before = setPrompter(&unattended);
    bool boxSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (QWidget* m = QApplication::activeModalWidget()) {
        boxSeen = true;
        m->close();
      }
    });
    watch.start(1);
    QCOMPARE(showMessage("Would you like to update firmware?", Icon::Exclamation, Buttons::OkCancel), Answer::Cancel);
    QCOMPARE(showMessage("Go on?", Icon::Warning, Buttons::YesNo), Answer::No);
    QCOMPARE(showMessage("Save?", Icon::Warning, Buttons::YesNoCancel), Answer::Cancel);
    QCOMPARE(showMessage("Done.", Icon::Information), Answer::Ok);
    // From a worker thread as well.
    Answer fromWorker = Answer::Ok;
    std::thread worker([&] { fromWorker = showMessage("Erase?", Icon::Warning, Buttons::OkCancel); });
    worker.join();
    QCOMPARE(fromWorker, Answer::Cancel);
    QCoreApplication::processEvents();
    QVERIFY(!boxSeen);
    setPrompter(before);
  }

  // The real executable.
  void realBinaryWarnsAboutUnknownWordsAndRefusesSecondInstances() {
    QProcess p;
    p.setProcessEnvironment(offscreenEnvironment());
    QTemporaryDir nowhere;
    const QString socket = QStringLiteral("socket:") + nowhere.filePath(QStringLiteral("none.sock"));
    p.start(QStringLiteral(VRX4_BINARY), {QStringLiteral("--no-such-option"), QStringLiteral("--unit"), socket});
    QVERIFY(p.waitForFinished(30000));
    const QByteArray warned = p.readAllStandardError();
    // Warned about, then the start goes on: no unit there.
    QCOMPARE(p.exitCode(), 1);
    QVERIFY2(warned.contains("'--no-such-option'"), warned.constData());
    QCOMPARE(warned.count("--no-such-option"), qsizetype(1));
    QVERIFY2(warned.contains(kNoUnitText), warned.constData());
    // Why there is no unit: the socket's path and the system's reason, once.
    const QByteArray connectLine = "vrx4: socket unit: cannot connect to " +
                                   nowhere.filePath(QStringLiteral("none.sock")).toUtf8() +
                                   ": No such file or directory";
    QCOMPARE(warned.count(connectLine), qsizetype(1));

    // A copy under another name keeps the lock apart from any vrx4 that runs
    // meanwhile, and shows that the lock is named after the executable.
    QTemporaryDir dir;
    const QString name = QStringLiteral("vrx4-second-%1").arg(QCoreApplication::applicationPid());
    const QString copy = dir.filePath(name);
    QVERIFY(QFile::copy(QStringLiteral(VRX4_BINARY), copy));
    QVERIFY(QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QLockFile first(CProgrammerApp::instanceLockPath(name));
    QVERIFY(first.tryLock(0));
    p.start(copy, {QStringLiteral("--simulate")});
    QVERIFY(p.waitForFinished(30000));
    QVERIFY(p.exitCode() != 0);
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(err.contains("T552-VRX4 already started."), err.constData());
  }

  // Options of the simulated unit with another unit are refused, not
  // ignored while the program looks for the unit on USB.
  void realBinaryRefusesSimulatorOptionsWithoutTheSimulatedUnit() {
    QProcess p;
    p.setProcessEnvironment(offscreenEnvironment());
    p.start(QStringLiteral(VRX4_BINARY), {QStringLiteral("--sim-firmware"), QStringLiteral("Ver.1.00")});
    QVERIFY(p.waitForFinished(30000));
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(p.exitCode(), kCommandLineErrorStatus);
    QVERIFY2(err.contains("vrx4: --sim-firmware is for the simulated unit: give --simulate (or --unit sim)"),
             err.constData());
    QVERIFY2(!err.contains(kNoUnitText), err.constData());  // no unit was looked for
    // Without any display a usage error is still a usage error, not an
    // abort inside the toolkit.
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) noDisplay.remove(name);
    p.setProcessEnvironment(noDisplay);
    p.start(QStringLiteral(VRX4_BINARY), {QStringLiteral("--usb-id"), QStringLiteral("12345")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), kCommandLineErrorStatus);
    QVERIFY(p.readAllStandardError().contains("--usb-id"));
    p.setProcessEnvironment(offscreenEnvironment());
    const QStringList withSim = {QStringLiteral("--unit"), QStringLiteral("sim"), QStringLiteral("--sim-no-state"),
                                 QStringLiteral("--help")};
    p.start(QStringLiteral(VRX4_BINARY), withSim);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().contains("exit status:"));
  }

  // The exit status tells a script how the run ended: the unit lost (the
  // simulator killed) is not a success, a stop request is.
  void realBinaryExitStatusTellsHowTheRunEnded() {
    ProgramCopy program(QStringLiteral("status"));
    QVERIFY(program.ok);
    for (const bool killSimulator : {true, false}) {
      const QString sock = program.dir.filePath(killSimulator ? QStringLiteral("k.sock") : QStringLiteral("t.sock"));
      QProcess sim;
      sim.setProcessChannelMode(QProcess::MergedChannels);
      sim.start(QStringLiteral(VRX4_UNITSIM),
                {QStringLiteral("--socket"), sock, QStringLiteral("--no-state"), QStringLiteral("--instant")});
      QByteArray simLog;
      QDeadlineTimer ready(30000);
      while (!simLog.contains("serving") && !ready.hasExpired() && sim.waitForReadyRead(1000)) simLog += sim.readAll();
      QVERIFY2(simLog.contains("vrx4-unitsim: serving"), simLog.constData());

      QProcess p;
      p.setProcessEnvironment(offscreenEnvironment());
      p.setProcessChannelMode(QProcess::MergedChannels);
      p.start(program.path,
              {QStringLiteral("--unit"), QStringLiteral("socket:") + sock, QStringLiteral("-Automation")});
      // The start is over once the window is shown, which the offscreen
      // platform reports ("propagateSizeHints"); should it stop saying so,
      // the wait runs out with the window long up.
      QVERIFY(p.waitForStarted(30000));
      QDeadlineTimer up(30000);
      QByteArray log;
      while (!up.hasExpired() && !log.contains("propagateSizeHints") && p.state() == QProcess::Running) {
        p.waitForReadyRead(200);
        log += p.readAll();
      }
      QVERIFY2(p.state() == QProcess::Running, log.constData());
      if (killSimulator) {
        sim.kill();
        QVERIFY(sim.waitForFinished(30000));
      } else {
        p.terminate();
      }
      QVERIFY(p.waitForFinished(30000));
      log += p.readAll();
      QCOMPARE(p.exitStatus(), QProcess::NormalExit);
      if (killSimulator) {
        QVERIFY2(p.exitCode() == kUnitLostExitStatus, log.constData());
        QVERIFY2(log.contains("vrx4: socket unit: connection to " + sock.toUtf8() + " lost"), log.constData());
        QVERIFY2(log.contains("T552-VRX4 is disconnected."), log.constData());
      } else {
        QVERIFY2(p.exitCode() == 0, log.constData());
        sim.terminate();
        QVERIFY(sim.waitForFinished(30000));
        simLog += sim.readAll();
        // A simulator without a state file does not claim to have saved one.
        QVERIFY2(simLog.contains("vrx4-unitsim: stopped (no state file)"), simLog.constData());
        QVERIFY2(!simLog.contains("state saved"), simLog.constData());
        QCOMPARE(sim.exitCode(), 0);
      }
    }
  }

  // --help and --version answer on standard output where no display could
  // be opened at all.
  void realBinaryAnswersHelpAndVersionWithoutADisplay() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VRX4_BINARY), {QStringLiteral("--version")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QByteArray version = p.readAllStandardOutput();
    QVERIFY2(version.startsWith("vrx4 1.11\n"), version.constData());
    QVERIFY2(version.contains(kHostVersion), version.constData());

    p.start(QStringLiteral(VRX4_BINARY), {QStringLiteral("-Embedding"), QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray help = p.readAllStandardOutput();
    QVERIFY2(help.startsWith("usage: vrx4 "), help.constData());
    QVERIFY(help.contains("--unit socket:PATH"));
  }

  // Offscreen nobody can answer "Would you like to update firmware?": the
  // update is declined, nothing is written and the unit is not initialised.
  void realBinaryOffscreenNeverUpdatesTheFirmware() {
    ProgramCopy program(QStringLiteral("noupdate"));
    QVERIFY(program.ok);
    const QString sock = program.dir.filePath(QStringLiteral("u.sock"));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    sim.start(QStringLiteral(VRX4_UNITSIM),
              {QStringLiteral("--socket"), sock, QStringLiteral("--no-state"), QStringLiteral("--instant"),
               QStringLiteral("--verbose"), QStringLiteral("--firmware-version"), QStringLiteral("Ver.1.00")});
    QByteArray simLog;
    QDeadlineTimer ready(30000);
    while (!simLog.contains("unitsim: serving") && !ready.hasExpired() && sim.waitForReadyRead(1000))
      simLog += sim.readAll();
    QVERIFY2(simLog.contains("unitsim: serving"), simLog.constData());

    QProcess p;
    p.setProcessEnvironment(offscreenEnvironment());
    p.start(program.path, {QStringLiteral("--unit"), QStringLiteral("socket:") + sock, QStringLiteral("-Automation")});
    QVERIFY(p.waitForFinished(60000));
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitCode() == 1, err.constData());
    QVERIFY2(err.contains("Would you like to update firmware?"), err.constData());
    QVERIFY2(err.contains("taken as Cancel"), err.constData());

    sim.terminate();
    QVERIFY(sim.waitForFinished(30000));
    simLog += sim.readAll();
    QVERIFY2(simLog.contains("getUnitInfo"), simLog.constData());  // the log is there
    for (const char* never : {"beginFirmwareUpdate", "writeFirmwarePage", "initializeUnit"})
      QVERIFY2(!simLog.contains(never), simLog.constData());
  }
};

QTEST_MAIN(StartupTest)
#include "StartupGuiTest.moc"
