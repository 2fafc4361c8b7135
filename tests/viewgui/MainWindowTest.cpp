// The main window as the operator meets it: the application object on the
// simulated unit, the real form, frame and dialogs, offscreen.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

#include "ScriptedPrompter.h"
#include "app/AppState.h"
#include "app/CSplashWindow.h"
#include "app/CUnitDialogs.h"
#include "app/CommandLine.h"
#include "base/CWorkerDialog.h"
#include "image/DialogUnits.h"
#include "link/Commands.h"
#include "link/UsbLink.h"
#include "programs/UnitTransport.h"
#include "settings/CCanSettingDlg.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"
#include "sim/UnitFaults.h"
#include "view/CMainFrame.h"
#include "view/CMainView.h"
#include "view/CMainViewDialogs.h"
#include "view/CProgrammerApp.h"
#include "view/CommandSeam.h"
#include "view/FrameRules.h"
#include "view/MainFormState.h"
#include "view/MainViewModel.h"

using namespace vrx4;

namespace {

// Records every message; answers with the default button.
class RecordingPrompter final : public Prompter {
 public:
  RecordingPrompter() { previous_ = setPrompter(this); }
  ~RecordingPrompter() override { setPrompter(previous_); }
  Answer ask(const Prompt& p) override {
    seen.push_back(p);
    return p.defaultButton;
  }
  QStringList texts() const {
    QStringList t;
    for (const Prompt& p : seen) t << QString::fromStdString(p.text);
    return t;
  }
  std::vector<Prompt> seen;

 private:
  Prompter* previous_ = nullptr;
};

QStringList menuTexts(QMenu* m) {
  QStringList t;
  for (QAction* a : m->actions()) t << (a->isSeparator() ? QStringLiteral("-") : a->text());
  return t;
}

// Runs the program's event loop until the program ends it; a guard ends it
// with status 99 after `ms` should the program never do so.
int runEventLoop(int ms) {
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  guard.start(ms);
  return QCoreApplication::exec();
}

// An Intel HEX file of `bytes` from `address` on (16 bytes a record).
QByteArray hexFile(uint16_t address, const QByteArray& bytes) {
  QByteArray out;
  for (qsizetype at = 0; at < bytes.size(); at += 16) {
    const QByteArray chunk = bytes.mid(at, 16);
    const uint16_t a = uint16_t(address + at);
    QByteArray record;
    record.append(char(chunk.size()));
    record.append(char(a >> 8));
    record.append(char(a & 0xFF));
    record.append(char(0));
    record.append(chunk);
    uint8_t sum = 0;
    for (char c : record) sum = uint8_t(sum + uint8_t(c));
    record.append(char(uint8_t(0x100 - sum)));
    out += ':' + record.toHex().toUpper() + "\r\n";
  }
  return out + ":00000001FF\r\n";
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& data) {
  QFile f(dir.filePath(name));
  if (!f.open(QIODevice::WriteOnly)) return {};
  f.write(data);
  return f.fileName();
}

// Chooses the device of that name as the operator would.
bool chooseDevice(CMainView* view, const QString& name) {
  const int index = view->deviceList()->findText(name);
  if (index < 0) return false;
  view->deviceList()->setCurrentIndex(index);
  emit view->deviceList()->activated(index);
  return true;
}

// "Load..." with the file dialog answered by `path`.
void loadFile(CMainView* view, const QString& path) {
  view->dialogs().setFileChooser(
      [path](const FileOpenRequest&) { return std::optional<std::string>(path.toStdString()); });
  view->loadButton()->click();
}

// A simulated unit of the test's own, so that its memory can be looked at.
struct OwnUnit {
  OwnUnit() { driver.addUnit(unit); }
  SimUsbDriver driver;
  std::shared_ptr<SimulatedProgrammer> unit = std::make_shared<SimulatedProgrammer>();
};

// The payloads of the setOperation requests the unit received (history on).
QList<QByteArray> setOperationsSent(const SimulatedProgrammer& unit) {
  QList<QByteArray> sent;
  for (const std::vector<uint8_t>& r : unit.requests())
    if (r.size() >= 4 && r[2] == kCmdSetOperation)
      sent << QByteArray(reinterpret_cast<const char*>(r.data()) + 3, qsizetype(r.size()) - 4);
  return sent;
}

// One notch of the mouse wheel (away from the user) over the middle of w.
void turnWheel(QWidget* w) {
  const QPointF at(w->width() / 2.0, w->height() / 2.0);
  QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                false);
  QApplication::sendEvent(w, &e);
}

void runOperation(CMainView* view, int index) {
  view->operationButton(index)->click();
  view->startButton()->click();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  QTemporaryDir folder_;

  AppEnvironment environment(UsbDriver* driver) {
    AppEnvironment env;
    env.executablePath = folder_.filePath(QStringLiteral("vrx4"));
    env.instanceName = QStringLiteral("vrx4-viewgui-test-%1").arg(QCoreApplication::applicationPid());
    env.driver = driver;
    env.makeDriver = makeUsbDriver;
    return env;
  }

 private slots:
  void initTestCase() {
    for (const char* name : {"vrx4type.tbl", "vrx4.fwp"}) {
      const QString n = QString::fromLatin1(name);
      QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/') + n, folder_.filePath(n)));
    }
    CWorkerDialog::setTimerIntervalMs(1);
    CSplashWindow::setSplashEnabled(false);
  }
  void cleanup() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    closeLink();
  }

  // The frame at both sides of the 800-pixel rule, with the form inside.
  void frameFitsTheFormOrFillsASmallScreen() {
    AppState state;
    CMainFrame wide;
    wide.createFor(QRect(0, 0, 801, 700));
    auto* view = new CMainView(state, &wide);
    wide.setView(view);
    wide.fitToForm();
    wide.showAsCreated();
    QVERIFY(QTest::qWaitForWindowExposed(&wide));
    QVERIFY(!wide.opensMaximized());
    QVERIFY(!(wide.windowFlags() & Qt::WindowMaximizeButtonHint));
    // The form is 408 x 306 dialog units of its font, and the area below
    // the menu bar holds it exactly.
    const QSize form(dialogUnitsToPixels(*view, kFormWidthUnits),
                     (kFormHeightUnits * QFontMetrics(view->font()).height() + 4) / 8);
    QCOMPARE(view->formSize(), form);
    QTRY_COMPARE(view->size(), form);
    QVERIFY((wide.geometry().center() - QRect(0, 0, 801, 700).center()).manhattanLength() <= 2);
    // Every control lies inside the form.
    for (QWidget* w : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      QVERIFY2(QRect(QPoint(0, 0), form).contains(w->geometry()), qPrintable(w->objectName()));

    CMainFrame narrow;
    narrow.createFor(QRect(0, 0, 800, 600));
    auto* small = new CMainView(state, &narrow);
    narrow.setView(small);
    narrow.fitToForm();
    narrow.showAsCreated();
    QVERIFY(QTest::qWaitForWindowExposed(&narrow));
    QVERIFY(narrow.opensMaximized());
    QVERIFY(narrow.windowState() & Qt::WindowMaximized);
    QVERIFY(narrow.windowFlags() & Qt::WindowMaximizeButtonHint);
  }

  void menusCarryTheirTextsAndAccelerators() {
    CMainFrame frame;
    const QList<QAction*> menus = frame.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[0]->text(), QStringLiteral("&Project"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&Edit"));
    QCOMPARE(menus[2]->text(), QStringLiteral("&Help"));
    QCOMPARE(menuTexts(frame.projectMenu()),
             (QStringList{"&New", "&Open...\tCtrl+O", "Save &As...\tCtrl+S", "-", "E&xit"}));
    QCOMPARE(menuTexts(frame.editMenu()), (QStringList{"&User Rom Area...", "&Boot Rom Area..."}));
    QCOMPARE(menuTexts(frame.helpMenu()), (QStringList{"&About T552-VRX4...", "&Manual"}));
    QCOMPARE(frame.openAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    QCOMPARE(frame.saveAsAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    for (QAction* a : {frame.newAction(), frame.exitAction(), frame.editUserRomAction(), frame.editBootRomAction(),
                       frame.aboutAction(), frame.manualAction()})
      QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->text()));

    // "&User Rom Area..." follows the device; "&Boot Rom Area..." goes for good.
    QVERIFY(!frame.editUserRomAction()->isEnabled());
    MainFormState s;
    s.editUserRomEnabled = true;
    frame.applyMenuState(s);
    QVERIFY(frame.editUserRomAction()->isEnabled());
    s.editUserRomEnabled = false;
    s.editBootRomPresent = false;
    frame.applyMenuState(s);
    QVERIFY(!frame.editUserRomAction()->isEnabled());
    QVERIFY(frame.editBootRomAction() == nullptr);
    QCOMPARE(menuTexts(frame.editMenu()), QStringList{"&User Rom Area..."});
    s.editBootRomPresent = true;
    frame.applyMenuState(s);
    QCOMPARE(menuTexts(frame.editMenu()), QStringList{"&User Rom Area..."});
  }

  void formShowsItsTextsFontsAndState() {
    AppState state;
    CMainView view(state);
    QStringList groups;
    for (QGroupBox* g : view.findChildren<QGroupBox*>()) groups << g->title();
    groups.sort();
    QCOMPARE(groups,
             (QStringList{" Advanced Settings ", " CAN ", " Device ", " Execution ", " Operation ", " Settings "}));
    QStringList labels;
    for (QLabel* l : view.findChildren<QLabel*>()) labels << l->text();
    QCOMPARE(labels, (QStringList{"&Type :", "User Rom Area :", "Block :", "Vcc :", "Vpp :", "Baudrate :",
                                  "Send frame :", "Pulse Output :", "Lock Bit State", "Operation Block",
                                  "Lock Bit after Program", "User Rom File :", " ID code :", "Rom Protect :",
                                  "Check Sum :", "Check ID code :", "Boot Loader :", "#1"}));
    QStringList buttons;
    for (QPushButton* b : view.findChildren<QPushButton*>()) buttons << b->text();
    QCOMPARE(buttons, (QStringList{"Detail...", "Set CAN...", "Set Blocks...", "Load...", "Check ID...", "Boot File...",
                                   "Start", "Read Version"}));
    QStringList choices;
    for (int i = 0; i < kOperationCount; ++i) choices << view.operationButton(i)->text();
    QCOMPARE(choices, (QStringList{"Erase/Program/Verify", "Blank", "Erase", "Erase/Program", "Verify", "Read"}));
    QCOMPARE(view.preSendingBox()->text(), QStringLiteral("Pre Sending"));
    QCOMPARE(view.postSendingBox()->text(), QStringLiteral("Post Sending"));

    const QFont base = view.font();
    QCOMPARE(view.startButton()->font().weight(), QFont::DemiBold);
    QCOMPARE(view.startButton()->font().pointSizeF(), base.pointSizeF() * 1.5);
    QCOMPARE(view.vccField()->font().weight(), QFont::Black);
    QCOMPARE(view.vppField()->font().pointSizeF(), base.pointSizeF() * 1.5);
    QCOMPARE(view.resultBox()->font().weight(), QFont::DemiBold);
    QCOMPARE(view.resultBox()->font().pointSizeF(), base.pointSizeF());

    MainFormState s;
    s.deviceNames = {"DEMO-A32K", "DEMO-B256K"};
    s.deviceSelection = 1;
    s.userRomFile.text = "/data/jobs/pump.hex";
    s.userRomFileRed = true;
    s.idCode.text = "01,02,03";
    s.bootFilePath = "/data/jobs/loader.btp";
    s.bootLoaderLabel.visible = false;
    s.bootLoader.visible = false;
    s.bootFileButton.visible = false;
    s.startButton.enabled = false;
    s.operationIndex = 4;
    s.operationEnabled[0] = false;
    s.postSending.checked = true;
    s.resultText = "Contact Err";
    s.resultColoured = true;
    s.resultBackground = {255, 255, 0};
    s.versionText = "Read Error";
    view.render(s);
    QCOMPARE(view.deviceList()->count(), 2);
    QCOMPARE(view.deviceList()->currentIndex(), 1);
    QCOMPARE(view.userRomFileField()->text(), QStringLiteral("/data/jobs/pump.hex"));
    QCOMPARE(view.userRomFileField()->palette().color(QPalette::Text), QColor(255, 0, 0));
    QCOMPARE(view.idCodeField()->toolTip(), QStringLiteral("01,02,03"));
    QCOMPARE(view.userRomFileField()->toolTip(), QStringLiteral("/data/jobs/pump.hex"));
    QCOMPARE(view.bootLoaderField()->toolTip(), QStringLiteral("/data/jobs/loader.btp"));
    QVERIFY(view.bootLoaderLabel()->isHidden() && view.bootLoaderField()->isHidden() &&
            view.bootFileButton()->isHidden());
    QVERIFY(!view.startButton()->isEnabled());
    QCOMPARE(view.checkedOperation(), 4);
    QVERIFY(!view.operationButton(0)->isEnabled());
    QVERIFY(view.postSendingChecked() && !view.preSendingChecked());
    QCOMPARE(view.resultBox()->text(), QStringLiteral("Contact Err"));
    QCOMPARE(view.resultBox()->palette().color(QPalette::Base), QColor(255, 255, 0));
    QCOMPARE(view.resultBox()->palette().color(QPalette::Text), QColor(Qt::black));
    QCOMPARE(view.versionField()->text(), QStringLiteral("Read Error"));

    // Back to no device: nothing selected, no choice, normal colours.
    s = MainFormState{};
    s.deviceNames = {"DEMO-A32K", "DEMO-B256K"};
    view.render(s);
    QCOMPARE(view.deviceList()->currentIndex(), -1);
    QCOMPARE(view.checkedOperation(), -1);
    QVERIFY(view.userRomFileField()->palette().color(QPalette::Text) != QColor(255, 0, 0));
    QCOMPARE(view.resultBox()->palette().color(QPalette::Base), view.palette().color(QPalette::Base));
  }

  // Texts from the unit, a project or the table show their control
  // characters and broken bytes escaped in the fields and the list.
  void formShowsOutsideTextsEscaped() {
    AppState state;
    CMainView view(state);
    MainFormState s;
    s.deviceNames = {"R5F\x1b[31m", "bad\xff"};
    s.deviceSelection = 0;
    s.userRomFile.text = "/jobs/\x1b]0;x\x07.hex";
    s.versionText = "V1\r\n\x9b";
    view.render(s);
    QCOMPARE(view.deviceList()->itemText(0), QStringLiteral("R5F\\x1b[31m"));
    QCOMPARE(view.deviceList()->itemText(1), QStringLiteral("bad\\xff"));
    QCOMPARE(view.userRomFileField()->text(), QStringLiteral("/jobs/\\x1b]0;x\\x07.hex"));
    QCOMPARE(view.versionField()->text(), QStringLiteral("V1\\x0d\\x0a\\x9b"));
  }

  // The operator's job on the program's own simulated unit: a device, a
  // HEX file, Erase/Program/Verify; Verify of another image; Read.
  void typicalJob() {
    test::FakeClockScope fake;
    RecordingPrompter prompts;
    CProgrammerApp app(environment(nullptr));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("--simulate"), QStringLiteral("--sim-no-state"),
                                QStringLiteral("-Automation")}));
    CMainView* view = app.mainView();
    CMainFrame* frame = app.mainFrame();
    // A new unit: no device, nothing to start.
    QCOMPARE(view->deviceList()->currentIndex(), -1);
    QVERIFY(!view->loadButton()->isEnabled());
    QVERIFY(!view->startButton()->isEnabled());
    QVERIFY(!frame->editUserRomAction()->isEnabled());

    QVERIFY(chooseDevice(view, QStringLiteral("DEMO-A32K")));
    QCOMPARE(view->userRomAreaField()->text(), QStringLiteral("008000-00FFFF"));
    QCOMPARE(view->blockField()->text(), QStringLiteral("0"));
    QCOMPARE(view->vccField()->text(), QStringLiteral("3.3V"));
    QCOMPARE(view->vppField()->text(), QStringLiteral("5V"));
    QVERIFY(view->loadButton()->isEnabled());
    QVERIFY(frame->editUserRomAction()->isEnabled());
    // No file yet: the program operations wait, Blank is chosen.
    QCOMPARE(view->checkedOperation(), 1);
    QVERIFY(!view->operationButton(0)->isEnabled());

    QByteArray first(256, 0);
    for (int i = 0; i < first.size(); ++i) first[i] = char(i);
    // A folder deep enough that the path is wider than the field whatever
    // name the temporary folder got.
    const QString deep = QStringLiteral("images/of/the/first/target/board/revision/b");
    QVERIFY(QDir(folder_.path()).mkpath(deep));
    const QString firstPath = writeFile(folder_, deep + QStringLiteral("/first.hex"), hexFile(0x8000, first));
    loadFile(view, firstPath);
    // The path is wider than the field: its start, "/.../" and the name.
    const QLineEdit* file = view->userRomFileField();
    const QFontMetrics fm(file->font());
    QVERIFY(fm.horizontalAdvance(firstPath) > file->width());
    QVERIFY2(file->text().endsWith(QStringLiteral("/.../first.hex")), qPrintable(file->text()));
    QVERIFY(firstPath.startsWith(file->text().section(QStringLiteral("/.../"), 0, 0)));
    QVERIFY(fm.horizontalAdvance(file->text()) < file->width());
    QCOMPARE(file->toolTip(), firstPath);
    QVERIFY(!view->checkSumField()->text().isEmpty());
    QVERIFY(view->operationButton(0)->isEnabled());

    runOperation(view, 0);
    QCOMPARE(view->resultBox()->text(), QStringLiteral("Pass"));
    QCOMPARE(view->resultBox()->palette().color(QPalette::Base), QColor(0, 255, 0));

    // Another image: the target still holds the first.
    QByteArray second = first;
    second[10] = char(0x55);
    loadFile(view, writeFile(folder_, QStringLiteral("second.hex"), hexFile(0x8000, second)));
    runOperation(view, 4);
    QCOMPARE(view->resultBox()->text(), QStringLiteral("Verify Err"));
    QCOMPARE(view->resultBox()->palette().color(QPalette::Base), QColor(255, 0, 0));

    runOperation(view, 5);
    QCOMPARE(view->resultBox()->text(), QStringLiteral("Pass"));
    QCOMPARE(view->userRomFileField()->text(), QStringLiteral("** Read Data **"));
    QCOMPARE(view->idCodeField()->text(), QString());
    QVERIFY(prompts.seen.empty());
    QCOMPARE(app.onProgramExit(), 0);
  }

  // However a radio button or a check box changes (a click, setChecked,
  // toggle(), the accessibility "Toggle" action of screen readers and test
  // tools), the unit is sent the new choice exactly once; the form's own
  // redraw after a device change adds nothing to that change's one send.
  void everyChangeOfTheChoiceReachesTheUnitOnce() {
    test::FakeClockScope fake;
    RecordingPrompter prompts;
    OwnUnit own;
    SimulatedProgrammer& unit = *own.unit;
    unit.setHistoryEnabled(true);
    CProgrammerApp app(environment(&own.driver));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
    CMainView* view = app.mainView();
    QVERIFY(chooseDevice(view, QStringLiteral("DEMO-A32K")));
    loadFile(view, writeFile(folder_, QStringLiteral("choice.hex"), hexFile(0x8000, QByteArray(64, 1))));
    QVERIFY(view->operationButton(0)->isEnabled());
    auto sentBy = [&](const std::function<void()>& change) {
      unit.clearHistory();
      change();
      return setOperationsSent(unit);
    };
    auto op = [](char code, char flags) {
      QByteArray payload;
      payload.append(code).append(flags);
      return QList<QByteArray>{payload};
    };

    QCOMPARE(sentBy([&] { view->operationButton(2)->setChecked(true); }), op(3, 0));
    QCOMPARE(sentBy([&] { view->operationButton(3)->toggle(); }), op(4, 0));
    QAccessibleInterface* radio = QAccessible::queryAccessibleInterface(view->operationButton(4));
    QVERIFY(radio && radio->actionInterface());
    QVERIFY(radio->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    QCOMPARE(sentBy([&] { radio->actionInterface()->doAction(QAccessibleActionInterface::toggleAction()); }), op(5, 0));
    QCOMPARE(view->checkedOperation(), 4);
    QCOMPARE(sentBy([&] { view->operationButton(0)->click(); }), op(1, 0));
    QCOMPARE(sentBy([&] { view->postSendingBox()->setChecked(true); }), op(1, 2));
    QCOMPARE(sentBy([&] { view->preSendingBox()->toggle(); }), op(1, 3));
    QCOMPARE(int(unit.keptSettings().operationCode), 1);

    // The device change sends Blank without frames; the redraw that unticks
    // the boxes and moves the radio choice sends nothing more.
    QCOMPARE(sentBy([&] { QVERIFY(chooseDevice(view, QStringLiteral("DEMO-B256K"))); }), op(2, 0));
    QCOMPARE(view->checkedOperation(), 1);
    QVERIFY(!view->preSendingChecked() && !view->postSendingChecked());
    QVERIFY(prompts.seen.empty());
    QCOMPARE(app.onProgramExit(), 0);
  }

  // A wheel turn over a drop-down list without the keyboard focus changes
  // nothing (the form's device list and the CAN dialog's lists); with the
  // focus it turns the list.
  void aWheelOverAnUnfocusedListChangesNothing() {
    test::FakeClockScope fake;
    RecordingPrompter prompts;
    OwnUnit own;
    SimulatedProgrammer& unit = *own.unit;
    unit.setHistoryEnabled(true);
    CProgrammerApp app(environment(&own.driver));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
    CMainFrame* frame = app.mainFrame();
    CMainView* view = app.mainView();
    QVERIFY(chooseDevice(view, QStringLiteral("DEMO-A32K")));
    loadFile(view, writeFile(folder_, QStringLiteral("wheel.hex"), hexFile(0x8000, QByteArray(64, 2))));
    frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frame));
    view->startButton()->setFocus();
    QComboBox* list = view->deviceList();
    QVERIFY(!list->hasFocus());
    unit.clearHistory();
    turnWheel(list);
    QCOMPARE(list->currentText(), QStringLiteral("DEMO-A32K"));
    QVERIFY(!list->hasFocus());
    QVERIFY(unit.requests().empty());
    QVERIFY(!view->checkSumField()->text().isEmpty());

    CanSetting can = app.state().settings.can;
    CCanSettingDlg dlg(can);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    const QList<QComboBox*> lists = dlg.findChildren<QComboBox*>();
    QVERIFY(lists.size() >= 4);
    dlg.findChildren<QPushButton*>().first()->setFocus();
    for (QComboBox* c : lists) {
      const int before = c->currentIndex();
      turnWheel(c);
      QVERIFY2(c->currentIndex() == before, qPrintable(c->objectName()));
    }
    dlg.reject();

    // The toolkit's own file dialog: its folder and file type lists alike.
    QFileDialog files(nullptr, QStringLiteral("Files"), folder_.path());
    files.setOption(QFileDialog::DontUseNativeDialog, true);
    files.setNameFilters({QStringLiteral("Data file (*.hex)"), QStringLiteral("Data file (*.mot)")});
    files.show();
    QVERIFY(QTest::qWaitForWindowActive(&files));
    const QList<QComboBox*> fileLists = files.findChildren<QComboBox*>();
    QVERIFY(fileLists.size() >= 2);
    files.findChildren<QPushButton*>().first()->setFocus();
    for (QComboBox* c : fileLists) {
      const int before = c->currentIndex();
      turnWheel(c);
      QVERIFY2(c->currentIndex() == before, qPrintable(c->objectName()));
    }
    files.reject();

    frame->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frame));
    list->setFocus();
    QVERIFY(list->hasFocus());
    turnWheel(list);
    QVERIFY(list->currentText() != QStringLiteral("DEMO-A32K"));
    QCOMPARE(setOperationsSent(unit).size(), 1);
    QCOMPARE(app.onProgramExit(), 0);
  }

  // "Read Version": the unit's answer, or "Read Error" after the link's
  // own message when it gives none.
  void readVersionShowsTheAnswerOrReadError() {
    test::FakeClockScope fake;
    RecordingPrompter prompts;
    OwnUnit own;
    CProgrammerApp app(environment(&own.driver));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
    const std::shared_ptr<SimulatedProgrammer>& unit = own.unit;
    CMainView* view = app.mainView();
    QVERIFY(chooseDevice(view, QStringLiteral("DEMO-B256K")));
    QVERIFY(view->readVersionButton()->isEnabled());
    view->readVersionButton()->click();
    QVERIFY(!view->versionField()->text().isEmpty());
    QVERIFY(view->versionField()->text() != QStringLiteral("Read Error"));
    QVERIFY(prompts.seen.empty());

    QCOMPARE(applyUnitControl(*unit, "no-target-status readVersion"), std::string("ok"));
    view->readVersionButton()->click();
    QCOMPARE(view->versionField()->text(), QStringLiteral("Read Error"));
    QCOMPARE(prompts.seen.size(), size_t(1));
    QCOMPARE(app.onProgramExit(), 0);
  }

  // The menus' project and editor commands on the real dialogs: an edit
  // accepted and uploaded, the set-up saved as a project, another device
  // chosen, the project opened again; an edit whose upload fails leaves no
  // stale sums on the form.
  void projectAndEditorFromTheMenus() {
    test::FakeClockScope fake;
    test::ScriptedPrompter prompts;
    OwnUnit own;
    CProgrammerApp app(environment(&own.driver));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
    const std::shared_ptr<SimulatedProgrammer>& unit = own.unit;
    CMainView* view = app.mainView();
    CMainFrame* frame = app.mainFrame();
    QVERIFY(chooseDevice(view, QStringLiteral("DEMO-A32K")));
    QByteArray bytes(64, 0);
    const QString hex = writeFile(folder_, QStringLiteral("menus.hex"), hexFile(0x8000, bytes));
    loadFile(view, hex);
    const QString loadedSum = view->checkSumField()->text();
    QVERIFY(!loadedSum.isEmpty());

    // "&User Rom Area...": 0xAA at the first address, OK, no save, upload.
    bool edited = false;
    QTimer::singleShot(0, [&] {
      QWidget* dlg = QApplication::activeModalWidget();
      QVERIFY(dlg && dlg->windowTitle() == QStringLiteral("Edit"));
      QTimer::singleShot(0, [] {
        QWidget* data = QApplication::activeModalWidget();
        data->findChild<QLineEdit*>(QStringLiteral("data"))->setText(QStringLiteral("AA"));
        QTest::mouseClick(data->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
      });
      QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("modify")), Qt::LeftButton);
      prompts.answer(Answer::No);   // save the file?
      prompts.answer(Answer::Yes);  // upload?
      QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
      edited = true;
    });
    frame->editUserRomAction()->trigger();
    QVERIFY(edited);
    QCOMPARE(int(unit->userBufferBytes(0x8000, 1)[0]), 0xAA);
    QVERIFY(view->checkSumField()->text() != loadedSum);
    QVERIFY(!view->checkSumField()->text().isEmpty());

    // "Save &As...": the whole set-up in one 3044-byte file.
    const QString project = folder_.filePath(QStringLiteral("menus.vxp"));
    FileDialogSpec asked;
    view->dialogs().setSaveChooser([&](const FileDialogSpec& r) {
      asked = r;
      return std::optional<std::string>(project.toStdString());
    });
    view->operationButton(4)->click();
    frame->saveAsAction()->trigger();
    QCOMPARE(asked.title, std::string("T552-VRX4 project file save"));
    QCOMPARE(QFileInfo(project).size(), qint64(3044));

    // Another device, then "&Open...": the project's device, operation and
    // file come back, and the file's bytes are sent again.
    QVERIFY(chooseDevice(view, QStringLiteral("DEMO-B256K")));
    view->dialogs().setFileChooser(
        [&](const FileOpenRequest&) { return std::optional<std::string>(project.toStdString()); });
    QStringList confirmed;
    view->dialogs().setLoadConfirmer([&](const std::string& path) {
      confirmed << QString::fromStdString(path);
      return true;
    });
    frame->openAction()->trigger();
    QCOMPARE(confirmed, QStringList{hex});
    QCOMPARE(view->deviceList()->currentText(), QStringLiteral("DEMO-A32K"));
    QCOMPARE(view->checkedOperation(), 4);
    QCOMPARE(view->checkSumField()->text(), loadedSum);
    QCOMPARE(int(unit->userBufferBytes(0x8000, 1)[0]), 0);

    // An accepted edit whose upload failed: no sums that the unit lacks.
    view->dialogs().setEditorRunner([](const EditorRequest&) { return EditorOutcome{true, true}; });
    frame->editUserRomAction()->trigger();
    QCOMPARE(view->checkSumField()->text(), QString());
    QCOMPARE(view->romProtectField()->text(), QString());
    QCOMPARE(view->idCodeField()->text(), QString());
    QCOMPARE(app.onProgramExit(), 0);
  }

  // Pictures of the window for the README when VRX4_SCREENSHOT_DIR names a
  // folder (scripts/main-screenshots.sh).
  void renderTheMainWindow() {
    // The offscreen screen is small enough for the window to open maximized;
    // the pictures show the part a window fitted to the form shows.
    auto picture = [](CMainFrame* frame, CMainView* view) {
      return frame->grab(QRect(QPoint(0, 0), QSize(view->formSize().width(), view->y() + view->formSize().height())));
    };
    const QString dir = qEnvironmentVariable("VRX4_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("VRX4_SCREENSHOT_DIR not set");
    QDir().mkpath(dir);
    test::FakeClockScope fake;
    RecordingPrompter prompts;
    CProgrammerApp app(environment(nullptr));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("--simulate"), QStringLiteral("--sim-no-state"),
                                QStringLiteral("-Automation")}));
    CMainFrame* frame = app.mainFrame();
    CMainView* view = app.mainView();
    QVERIFY(QTest::qWaitForWindowExposed(frame));
    QVERIFY(picture(frame, view).save(QDir(dir).filePath(QStringLiteral("main-nodevice.png"))));

    QVERIFY(chooseDevice(view, QStringLiteral("DEMO-B256K")));
    QByteArray data(4096, 0);
    for (int i = 0; i < data.size(); ++i) data[i] = char(i * 7);
    QTemporaryDir files;
    QVERIFY(QDir().mkpath(files.filePath(QStringLiteral("projects/pump-controller/release"))));
    const QString path =
        writeFile(files, QStringLiteral("projects/pump-controller/release/pump-2.3.hex"), hexFile(0x1000, data));
    loadFile(view, path);
    runOperation(view, 0);
    QCOMPARE(view->resultBox()->text(), QStringLiteral("Pass"));
    QVERIFY(picture(frame, view).save(QDir(dir).filePath(QStringLiteral("main.png"))));
    QCOMPARE(app.onProgramExit(), 0);
  }

  // The unit leaves while a modal dialog is up: one message, then the
  // program's event loop and the dialog's end, and the exit steps run.
  void lostUnitEndsTheProgramWithADialogOpen() {
    test::FakeClockScope fake;
    RecordingPrompter prompts;
    SimUsbDriver driver;
    const int unit = driver.addUnit(std::make_shared<SimulatedProgrammer>());
    QFile::remove(folder_.filePath(QStringLiteral("dlg_path")));
    CProgrammerApp app(environment(&driver));
    QVERIFY(app.onProgramStart({QStringLiteral("vrx4"), QStringLiteral("-Automation")}));
    CMainFrame* frame = app.mainFrame();

    bool dialogSeen = false;
    bool dialogReturned = false;
    QTimer::singleShot(0, frame, [&] {
      // Once the About box runs, the unit goes.
      QTimer::singleShot(0, [&] {
        dialogSeen = dynamic_cast<CAboutDlg*>(QApplication::activeModalWidget()) != nullptr;
        driver.unplug(unit);
      });
      frame->aboutAction()->trigger();
      dialogReturned = true;
    });
    // The loop ends with the status of a lost unit.
    QCOMPARE(runEventLoop(20000), kUnitLostExitStatus);
    QVERIFY(dialogSeen);
    QVERIFY(dialogReturned);
    QCOMPARE(prompts.texts(), QStringList{QString::fromLatin1(CMainFrame::kDisconnectedText)});
    QCOMPARE(prompts.seen[0].icon, Icon::Exclamation);
    QVERIFY(!frame->isVisible());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QCOMPARE(app.onProgramExit(), 0);
    QVERIFY(QFile::exists(folder_.filePath(QStringLiteral("dlg_path"))));
    QCOMPARE(linkSlot(), -1);
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
