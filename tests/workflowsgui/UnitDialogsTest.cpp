// The progress dialogs of the unit's workflows, run for real over the
// in-process simulated unit.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "ScriptedUnit.h"
#include "app/CUnitDialogs.h"
#include "image/CTransferDlg.h"
#include "link/Commands.h"
#include "view/CProgrammingDlg.h"

using namespace vrx4;
using namespace vrx4::test;

namespace {

// The link over a scripted unit, for one Qt test function.
struct Bench {
  Bench() {
    previous = setUsbDriver(&driver);
    driver.addUnit(unit);
    ok = openLink();
  }
  ~Bench() {
    closeLink();
    setUsbDriver(previous);
  }
  ScriptedPrompter prompts;
  FakeClockScope fakeClock;
  SimUsbDriver driver;
  std::shared_ptr<ScriptedUnit> unit = std::make_shared<ScriptedUnit>();
  UsbDriver* previous = nullptr;
  bool ok = false;
};

// Records each message; the first one runs `during` before it is answered,
// as a message box's own event loop would go on firing timers.
struct HookPrompter final : Prompter {
  Answer ask(const Prompt& p) override {
    texts.push_back(p.text);
    if (depth++ == 0 && during) during();
    --depth;
    return p.defaultButton;
  }
  std::vector<std::string> texts;
  std::function<void()> during;
  int depth = 0;
};

// Like the program's own prompter: a worker's question is handed to the GUI
// thread, and the worker waits there for the answer.
struct GuiThreadPrompter final : Prompter {
  Answer ask(const Prompt& p) override {
    auto record = [this, text = p.text] { texts.push_back(text); };
    if (QThread::currentThread() == qApp->thread())
      record();
    else
      QMetaObject::invokeMethod(qApp, record, Qt::BlockingQueuedConnection);
    return p.defaultButton;
  }
  std::vector<std::string> texts;
};

}  // namespace

class UnitDialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { CWorkerDialog::setTimerIntervalMs(1); }

  void programmingDialogHasItsTitleNoCancelAndNoWayOut() {
    Bench b;
    QVERIFY(b.ok);
    std::atomic<bool> release{false};
    std::atomic<bool> dialogShown{false};
    // The unit stays busy until the Esc has been tried: on the fake clock a
    // worker polling on its own would reach the operation's deadline at once.
    b.unit->on(kCmdGetOperationStatus, [&](const uint8_t*, size_t) {
      while (dialogShown && !release) std::this_thread::yield();
      return ScriptedUnit::ok({uint8_t(release ? 100 : 0x80 | 50), 3});
    });
    const char* titles[] = {"Erasing, Programming and Verifying...",
                            "Blank Checking...",
                            "Erasing...",
                            "Erasing and Programming...",
                            "Verifying...",
                            "Reading..."};
    for (int i = 0; i < 6; ++i) {
      CProgrammingDlg d(i, 0x8000);
      QCOMPARE(d.windowTitle(), QString(titles[i]));
      QCOMPARE(d.progressBar()->maximum(), 0x8000);
      QVERIFY(d.cancelButton()->isHidden());
    }
    CProgrammingDlg dlg(0, 0x40000);
    bool stillOpenAfterEsc = false;
    dialogShown = true;
    QTimer::singleShot(20, &dlg, [&] {
      QTest::keyClick(&dlg, Qt::Key_Escape);
      dlg.close();
      stillOpenAfterEsc = dlg.isVisible();
      release = true;
    });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QVERIFY(stillOpenAfterEsc);
    QCOMPARE(int(dlg.resultCode()), 3);
    QCOMPARE(dlg.progressBar()->value(), 0x40000);
  }

  void programmingDialogEndsWithCancelWhenTheUnitFails() {
    Bench b;
    b.unit->on(kCmdGetOperationStatus, [](const uint8_t*, size_t) { return ScriptedUnit::fail(228); });
    CProgrammingDlg dlg(1, 100);
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    QCOMPARE(int(dlg.resultCode()), 0);
    QCOMPARE(b.prompts.texts(), std::vector<std::string>{"No target."});
  }

  void sendDialogShowsTheFileAndCancelsOnEscape() {
    Bench b;
    auto image = std::make_unique<MemoryImage>();
    auto settings = std::make_unique<ProjectSettings>();
    settings->device.userRomStart = 0;
    settings->device.userRomSize = 0x20000;
    settings->device.userRomEnd = 0x1FFFF;
    image->bankHasData[0] = image->bankHasData[1] = 1;
    std::atomic<int> pages{0};
    std::atomic<bool> escaped{false};
    b.unit->on(kCmdWriteDataPage, [&](const uint8_t*, size_t) {
      ++pages;
      return ScriptedUnit::ok();
    });
    {
      CSendImageDlg d(ImageArea::User, *image, *settings, "/some/folder/prog.mot");
      QCOMPARE(d.windowTitle(), QString("Loading..."));
      QCOMPARE(d.textLine()->text(), QString("prog.mot"));
      QVERIFY(d.cancelButton()->isHidden());
      QCOMPARE(d.progressBar()->maximum(), 0x20000 + 8192);
      QCOMPARE(d.exec(), int(QDialog::Accepted));
      QCOMPARE(pages.load(), 512);
    }
    // Esc while the unit still stores its buffer: the dialog waits for the
    // worker, which finishes its poll, and ends with Cancel.
    pages = 0;
    b.unit->on(kCmdGetBusyState, [&](const uint8_t*, size_t) { return ScriptedUnit::ok({uint8_t(escaped ? 0 : 1)}); });
    CSendImageDlg d(ImageArea::User, *image, *settings);
    QCOMPARE(d.textLine()->text(), QString());
    QTimer::singleShot(20, &d, [&] {
      QTest::keyClick(&d, Qt::Key_Escape);
      escaped = true;
    });
    QCOMPARE(d.exec(), int(QDialog::Rejected));
  }

  void fetchDialogReadsTheArea() {
    Bench b;
    auto image = std::make_unique<MemoryImage>();
    auto settings = std::make_unique<ProjectSettings>();
    settings->device.userRomStart = 0x10000;
    settings->device.userRomSize = 0x1000;
    settings->device.userRomEnd = 0x10FFF;
    b.unit->on(kCmdReadDataPage,
               [](const uint8_t*, size_t) { return ScriptedUnit::ok(std::vector<uint8_t>(258, 0x77)); });
    CFetchImageDlg d(ImageArea::User, *image, *settings);
    QCOMPARE(d.windowTitle(), QString("Saving..."));
    QVERIFY(d.cancelButton()->isHidden());
    QCOMPARE(d.progressBar()->maximum(), 0x1000);
    QCOMPARE(d.exec(), int(QDialog::Accepted));
    QCOMPARE(int(image->userImage[0xFFF]), 0x77);
    QCOMPARE(b.unit->count(kCmdReadDataPage), 16);
  }

  void firmwareUpdateDialogEndsOnTheProgressValue() {
    Bench b;
    FirmwareImage image(kFirmwareImageSize, 0xFF);
    b.unit->on(kCmdGetExecutionState, [](const uint8_t*, size_t) { return ScriptedUnit::ok({2}); });
    b.unit->on(kCmdGetUpdateState, [](const uint8_t*, size_t) { return ScriptedUnit::ok({0}); });
    {
      CFirmwareUpdateDlg d(image);
      QCOMPARE(d.windowTitle(), QString("Update..."));
      QCOMPARE(d.progressBar()->maximum(), 1797);
      QVERIFY(d.cancelButton() == nullptr);
      QCOMPARE(d.exec(), int(QDialog::Accepted));
      QCOMPARE(d.updateProgress(), 1797u);
      QCOMPARE(d.progressBar()->value(), 1797);
      QCOMPARE(b.unit->count(kCmdWriteFirmwarePage), 1792);
    }
    b.unit->on(kCmdGetExecutionState, [](const uint8_t*, size_t) { return ScriptedUnit::ok({1}); });
    CFirmwareUpdateDlg d(image);
    QCOMPARE(d.exec(), int(QDialog::Rejected));
    QCOMPARE(d.updateProgress(), 2053u);
  }

  void initializingDialogCountsToHundredThenWaitsForTheUnit() {
    Bench b;
    std::atomic<int> polls{0};
    b.unit->on(kCmdGetBusyState,
               [&](const uint8_t*, size_t) { return ScriptedUnit::ok({uint8_t(++polls < 3 ? 1 : 0)}); });
    {
      CInitializingDlg d;
      QCOMPARE(d.windowTitle(), QString("Initializing..."));
      QCOMPARE(d.progressBar()->maximum(), 100);
      QCOMPARE(d.exec(), int(QDialog::Accepted));
      QCOMPARE(d.counter(), 100);
      QCOMPARE(polls.load(), 3);
      QCOMPARE(b.unit->count(kCmdInitializeUnit), 1);
    }
    // Command 25 fails: no count, the dialog waits for Esc.
    b.unit->on(kCmdInitializeUnit, [](const uint8_t*, size_t) { return ScriptedUnit::fail(227); });
    CInitializingDlg d;
    bool openBeforeEsc = false;
    QTimer::singleShot(30, &d, [&] {
      openBeforeEsc = d.isVisible() && d.counter() == 0;
      QTest::keyClick(&d, Qt::Key_Escape);
    });
    QCOMPARE(d.exec(), int(QDialog::Rejected));
    QVERIFY(openBeforeEsc);
  }

  void initializingDialogGivesUpOnAUnitThatStaysBusy() {
    Bench b;
    b.unit->on(kCmdGetBusyState, [](const uint8_t*, size_t) { return ScriptedUnit::ok({1}); });
    CInitializingDlg::setBusyPollLimit(5);
    CInitializingDlg d;
    HookPrompter hook;
    Prompter* previous = setPrompter(&hook);
    const int result = d.exec();
    setPrompter(previous);
    CInitializingDlg::setBusyPollLimit(CInitializingDlg::kBusyPollLimit);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(hook.texts, std::vector<std::string>{CInitializingDlg::kStillBusyText});
    QCOMPARE(b.unit->count(kCmdGetBusyState), 5);
  }

  void initializingDialogPollsOnceWhileItsFailureIsShown() {
    Bench b;
    b.unit->on(kCmdGetBusyState, [](const uint8_t*, size_t) { return ScriptedUnit::fail(228); });
    CInitializingDlg d;
    HookPrompter hook;
    hook.during = [&] {
      for (int i = 0; i < 3; ++i) d.tick();
    };
    Prompter* previous = setPrompter(&hook);
    const int result = d.exec();
    setPrompter(previous);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(hook.texts, std::vector<std::string>{"No target."});
    QCOMPARE(b.unit->count(kCmdGetBusyState), 1);
  }

  void dialogEndedFromOutsideStillAnswersItsWorker() {
    // The program quitting ends every event loop, the dialog's too, while
    // the worker may be about to ask the GUI thread to show a message.
    Bench b;
    std::atomic<bool> unplugged{false};
    // Busy until the dialog has been ended from outside (the fake clock
    // would otherwise carry a worker polling alone to its deadline).
    b.unit->on(kCmdGetOperationStatus, [&](const uint8_t*, size_t) {
      while (!unplugged) std::this_thread::yield();
      return ScriptedUnit::fail(228);
    });
    GuiThreadPrompter gui;
    Prompter* previous = setPrompter(&gui);
    {
      CProgrammingDlg dlg(0, 100);
      QTimer::singleShot(10, &dlg, [&] {
        dlg.hide();
        unplugged = true;
      });
      QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    }
    setPrompter(previous);
    QCOMPARE(gui.texts, std::vector<std::string>{"No target."});
  }

  void aboutBoxShowsBothVersions() {
    CAboutDlg d("Ver.1.11 2012/01/13", "Ver.1.11 beta", "2026/01/01");
    QCOMPARE(d.windowTitle(), QString("About T552-VRX4"));
    auto fields = d.findChildren<QLineEdit*>();
    QCOMPARE(fields.size(), 2);
    QCOMPARE(fields[0]->text(), QString("Ver.1.11 2012/01/13"));
    QCOMPARE(fields[1]->text(), QString("Ver.1.11 beta 2026/01/01"));
    QVERIFY(fields[0]->isReadOnly());
  }
};

QTEST_MAIN(UnitDialogsTest)
#include "UnitDialogsTest.moc"
