// The save-file dialog's address field, the "Saving..." dialog and the
// "Load OK ?" dialog, driven offscreen.
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <vector>

#include "ScriptedPrompter.h"
#include "base/CWorkerDialog.h"
#include "image/CLoadConfirmDlg.h"
#include "image/CSaveFileDlg.h"
#include "image/CSaveProgressDlg.h"
#include "image/DialogUnits.h"

namespace vrx4 {

class FileDialogsTest : public QObject {
  Q_OBJECT

  // Shows the dialog, puts the focus into the address field, types `text`
  // and moves the focus on to `next`.
  static void typeAndLeave(CSaveFileDlg& dlg, const QString& text, QWidget* next) {
    dlg.addressField()->setFocus();
    QApplication::processEvents();
    dlg.addressField()->setText(text);
    next->setFocus();
    QApplication::processEvents();
  }

  static QLineEdit* fileNameField(CSaveFileDlg& dlg) {
    auto* w = dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!w) qFatal("no file name field");
    return w;
  }

  static QPushButton* cancelButton(CSaveFileDlg& dlg) {
    for (auto* box : dlg.findChildren<QDialogButtonBox*>())
      if (auto* b = box->button(QDialogButtonBox::Cancel)) return b;
    qFatal("no cancel button");
  }

 private slots:
  void addressPanelLayout() {
    CSaveFileDlg dlg(SaveArea::User, 0, 0xFFFF, QDir::tempPath());
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Data Save"));
    QCOMPARE(dlg.addressLabel()->text(), QStringLiteral("Save &Address :"));
    QCOMPARE(dlg.addressLabel()->buddy(), dlg.addressField());
    bool japanese = QLocale::system().language() == QLocale::Japanese;
    QCOMPARE(dlg.addressField()->width(), dialogUnitsToPixels(*dlg.addressField(), saveAddressFieldUnits(japanese)));
    QCOMPARE(saveAddressFieldUnits(true), 265);
    QCOMPARE(saveAddressFieldUnits(false), 218);
    QVERIFY(dlg.nameFilters().first().startsWith(QStringLiteral("Data file (*.hex,*.mot)")));
    QVERIFY(dlg.defaultSuffix().isEmpty());
    auto* types = dlg.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QVERIFY(types);
    QCOMPARE(types->currentText(), QStringLiteral("Data file (*.hex,*.mot)"));
    CSaveFileDlg boot(SaveArea::Boot, 0, 0x7FF, QDir::tempPath());
    QCOMPARE(boot.defaultSuffix(), QStringLiteral("btp"));
    QCOMPARE(boot.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->currentText(),
             QStringLiteral("Update file (*.btp)"));
  }

  void addressFieldCheckedWhenLeft() {
    test::ScriptedPrompter prompter;
    CSaveFileDlg dlg(SaveArea::User, 0, 0xFFFF, QDir::tempPath());
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));

    typeAndLeave(dlg, QStringLiteral("1000-10FF, 2000"), fileNameField(dlg));
    QVERIFY(prompter.texts().empty());
    QCOMPARE(dlg.ranges()[0], (SaveRange{0x1000, 0x10FF}));
    QCOMPARE(dlg.ranges()[1], (SaveRange{0x2000, 0x2000}));

    typeAndLeave(dlg, QStringLiteral("10FF-1000"), fileNameField(dlg));
    QCOMPARE(prompter.texts(), std::vector<std::string>{kInvalidAddress});
    QCOMPARE(prompter.prompts()[0].icon, Icon::Warning);
    QCOMPARE(QApplication::focusWidget(), dlg.addressField());
    QCOMPARE(dlg.addressField()->selectedText(), QStringLiteral("10FF-1000"));
    QCOMPARE(dlg.ranges()[0], (SaveRange{0, 0}));  // the whole array is replaced

    // Emptied again: the whole area, not the ranges of the text before.
    typeAndLeave(dlg, QStringLiteral("1000"), fileNameField(dlg));
    QCOMPARE(dlg.ranges()[0], (SaveRange{0x1000, 0x1000}));
    typeAndLeave(dlg, QString(), fileNameField(dlg));
    QCOMPARE(dlg.ranges()[0], (SaveRange{0, 0}));
    QCOMPARE(prompter.texts().size(), size_t(1));

    // Leaving for Cancel is not a reason to check.
    prompter.clear();
    typeAndLeave(dlg, QStringLiteral("1,2,3,4,5,6"), cancelButton(dlg));
    QVERIFY(prompter.texts().empty());
    dlg.hide();
  }

  void messageBoxTakingTheFocusDoesNotCheckAgain() {
    // A prompter that, like a real message box, takes the focus away from
    // the field while it is up.
    class FocusTakingPrompter final : public Prompter {
     public:
      FocusTakingPrompter() { previous_ = setPrompter(this); }
      ~FocusTakingPrompter() override { setPrompter(previous_); }
      Answer ask(const Prompt& p) override {
        ++count;
        QLineEdit box;
        box.show();
        box.activateWindow();
        box.setFocus();
        (void)QTest::qWaitForWindowActive(&box);
        QApplication::processEvents();
        return p.defaultButton;
      }
      int count = 0;

     private:
      Prompter* previous_ = nullptr;
    } prompter;
    CSaveFileDlg dlg(SaveArea::User, 0, 0xFFFF, QDir::tempPath());
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    // Enter in the field: the check runs with the focus still there, and the
    // box takes it from the field.
    dlg.addressField()->setFocus();
    QApplication::processEvents();
    dlg.addressField()->setText(QStringLiteral("zz"));
    dlg.accept();
    QApplication::processEvents();
    QCOMPARE(prompter.count, 1);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    dlg.hide();
  }

  void saveWithAnUncheckedBadAddressIsRefused() {
    test::ScriptedPrompter prompter;
    QTemporaryDir dir;
    CSaveFileDlg dlg(SaveArea::User, 0x1000, 0x1FFF, dir.path());
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    dlg.addressField()->setFocus();
    dlg.addressField()->setText(QStringLiteral("0FFF"));  // below the area
    dlg.selectFile(dir.filePath(QStringLiteral("out.mot")));
    dlg.accept();  // Enter with the focus still in the field
    QCOMPARE(prompter.texts(), std::vector<std::string>{kInvalidAddress});
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    dlg.addressField()->setText(QStringLiteral("1800"));
    dlg.accept();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.ranges()[0], (SaveRange{0x1800, 0x1800}));
  }

  void savingDialogClosesWhenTheFileCannotBeCreated() {
    test::ScriptedPrompter prompter;
    QTemporaryDir dir;
    std::vector<uint8_t> data(0x10000, 0x5A);
    SaveRequest q;
    q.image = data.data();
    q.areaStart = 0;
    q.areaEnd = 0xFFFF;
    q.path = dir.filePath(QStringLiteral("no/such/folder/out.hex")).toStdString();
    CSaveProgressDlg dlg(q);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Saving..."));
    QVERIFY(dlg.cancelButton()->isHidden());
    QTimer::singleShot(10000, &dlg, [&dlg] { dlg.done(99); });  // never left open
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(dlg.saveResult(), SaveResult::CreateFailed);
    QCOMPARE(prompter.texts(), std::vector<std::string>{kFileCreateError});
  }

  void savingDialogWritesTheFileAndEndsWithOk() {
    test::ScriptedPrompter prompter;
    QTemporaryDir dir;
    std::vector<uint8_t> data(0x40000, 0xA5);
    SaveRequest q;
    q.image = data.data();
    q.areaStart = 0;
    q.areaEnd = 0x3FFFF;
    q.path = dir.filePath(QStringLiteral("out.mot")).toStdString();
    CSaveProgressDlg dlg(q);
    QCOMPARE(dlg.textLine()->text(), QString::fromStdString(q.path));
    QCOMPARE(dlg.progressBar()->maximum(), 0x40000);
    QTimer::singleShot(10000, &dlg, [&dlg] { dlg.done(99); });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QVERIFY(prompter.texts().empty());
    QFile f(QString::fromStdString(q.path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readLine(), QByteArray("S0030000FC\r\n"));
    QCOMPARE(dlg.position(), 0x40000u);
  }

  void typedRangesAreAllSavedAndACompleteSaveEndsWithOk() {
    test::ScriptedPrompter prompter;
    QTemporaryDir dir;
    CSaveFileDlg dlg(SaveArea::User, 0, 0xFFFF, dir.path());
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    typeAndLeave(dlg, QStringLiteral("1000-100F, 0-F, 1FF0"), fileNameField(dlg));
    QCOMPARE(dlg.ranges().count, 3);
    QCOMPARE(dlg.ranges()[1], (SaveRange{0, 0xF}));
    // Overlapping ranges: the writer counts more than the area holds.
    typeAndLeave(dlg, QStringLiteral("0-FFFF, 1-FFFF"), fileNameField(dlg));
    QVERIFY(prompter.texts().empty());
    dlg.hide();

    std::vector<uint8_t> data(0x10000, 0x3C);
    SaveRequest q;
    q.image = data.data();
    q.areaStart = 0;
    q.areaEnd = 0xFFFF;
    q.ranges = dlg.ranges();
    q.path = dir.filePath(QStringLiteral("twice.mot")).toStdString();
    CSaveProgressDlg saving(q);
    QTimer::singleShot(10000, &saving, [&saving] { saving.done(99); });
    QCOMPARE(saving.exec(), int(QDialog::Accepted));
    QVERIFY(saving.position() >= saving.maximum() + 1000);
    QFile f(QString::fromStdString(q.path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll().count("\nS1"), qsizetype(2 * 4096));
  }

  void loadConfirmShowsThePath() {
    CLoadConfirmDlg dlg(QStringLiteral("/data/prog.mot"));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Load OK ?"));
    QCOMPARE(dlg.pathField()->text(), QStringLiteral("/data/prog.mot"));
    QVERIFY(dlg.pathField()->isReadOnly());
    auto* box = dlg.findChild<QDialogButtonBox*>();
    QVERIFY(box->button(QDialogButtonBox::Ok)->isDefault());
    QTimer::singleShot(0, &dlg, [box] { box->button(QDialogButtonBox::Ok)->click(); });
    QCOMPARE(dlg.exec(), int(QDialog::Accepted));
    QTimer::singleShot(0, &dlg, [box] { box->button(QDialogButtonBox::Cancel)->click(); });
    QCOMPARE(dlg.exec(), int(QDialog::Rejected));
  }
};

}  // namespace vrx4

QTEST_MAIN(vrx4::FileDialogsTest)
#include "FileDialogsTest.moc"
