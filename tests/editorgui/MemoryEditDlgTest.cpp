// The "Edit" dialog and its three small dialogs, driven offscreen against
// the simulated unit.
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <fstream>
#include <functional>

#include "ScriptedPrompter.h"
#include "app/AppState.h"
#include "app/DeviceTable.h"
#include "base/CWorkerDialog.h"
#include "image/CSaveFileDlg.h"
#include "image/CSaveProgressDlg.h"
#include "image/ProgramLoader.h"
#include "link/Commands.h"
#include "link/UsbLink.h"
#include "settings/CHighlightListCtrl.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"
#include "view/CEditorInputDlgs.h"
#include "view/CMemoryEditDlg.h"

namespace vrx4 {

namespace {

// 256 KiB of user ROM at 0 in four blocks, protect byte at the end.
DeviceDef editorDevice() {
  DeviceDef d;
  d.setName("TEST-DEV");
  d.userRomStart = 0x00000;
  d.userRomSize = 0x40000;
  d.userRomEnd = 0x3FFFF;
  d.protectAddress = 0x3FFFF;
  d.blockCount = 4;
  for (int k = 0; k < 4; ++k) {
    d.blockStart[k] = 0x10000 * k;
    d.blockSize[k] = 0x10000;
  }
  return d;
}

// Runs `step` on the modal dialog that the next exec() opens.
void onNextModal(std::function<void(QWidget*)> step) {
  QTimer::singleShot(0, [step] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) qFatal("no modal dialog");
    step(w);
  });
}

void typeAndOk(QWidget* dlg, const QString& field, const QString& text) {
  dlg->findChild<QLineEdit*>(field)->setText(text);
  QTest::mouseClick(dlg->findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
}

}  // namespace

class MemoryEditDlgTest : public QObject {
  Q_OBJECT

  struct Unit {
    Unit() {
      previous = setUsbDriver(&driver);
      driver.addUnit(unit);
      opened = openLink();
    }
    ~Unit() {
      closeLink();
      setUsbDriver(previous);
    }
    test::FakeClockScope clock;
    SimUsbDriver driver;
    std::shared_ptr<SimulatedProgrammer> unit = std::make_shared<SimulatedProgrammer>();
    UsbDriver* previous = nullptr;
    bool opened = false;
  };

  std::unique_ptr<AppState> makeApp() {
    auto app = std::make_unique<AppState>();
    app->settings.device = editorDevice();
    app->settings.deviceIndex = 0;
    std::strcpy(app->settings.userFileName, "/data/prog.mot");
    app->settings.userFileNameLength = 14;
    for (int i = 0; i < 0x40000; ++i) app->image->userImage[size_t(i)] = uint8_t(i * 13 + (i >> 8));
    app->image->userImage[0x3FFFF] = 0xFF;
    const char* text = "T552 boot loader";
    std::memcpy(app->image->userImage.data() + 0x50, text, std::strlen(text));
    app->dialogPaths.setSlot(kDataSaveFolderSlot, dir.path().toStdString() + "/");
    return app;
  }
  EditorRequest request() const {
    EditorRequest r;
    r.deviceType = "TEST-DEV";
    r.romArea = "User Rom";
    r.address = "000000-03FFFF";
    return r;
  }

  QTemporaryDir dir;

 private slots:
  void initTestCase() { CWorkerDialog::setTimerIntervalMs(5); }

  void layoutColumnsAndRows() {
    auto app = makeApp();
    CMemoryEditDlg dlg(*app, request());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Edit"));
    QCOMPARE(dlg.infoField("deviceType")->text(), QStringLiteral("TEST-DEV"));
    QCOMPARE(dlg.infoField("programFile")->text(), QStringLiteral("/data/prog.mot"));
    QCOMPARE(dlg.infoField("romArea")->text(), QStringLiteral("User Rom"));
    QCOMPARE(dlg.infoField("address")->text(), QStringLiteral("000000-03FFFF"));
    CHighlightListCtrl* list = dlg.list();
    QCOMPARE(list->columnCount(), 18);
    QCOMPARE(list->headerItem()->text(0), QStringLiteral("Address"));
    QCOMPARE(list->headerItem()->text(1), QStringLiteral(" 0"));
    QCOMPARE(list->headerItem()->text(16), QStringLiteral(" F"));
    QCOMPARE(list->headerItem()->text(17), QStringLiteral("ASCII"));
    const bool japanese = QLocale::system().language() == QLocale::Japanese;
    QCOMPARE(list->columnWidth(0), 55);
    for (int n = 1; n <= 16; ++n) QCOMPARE(list->columnWidth(n), editorByteColumnWidth(japanese));
    QCOMPARE(list->columnWidth(17), 200);
    // Only what fits is made, from the work copy.
    QApplication::processEvents();
    const int fit = dlg.rowsThatFit();
    QVERIFY(fit >= 16);
    QCOMPARE(list->topLevelItemCount(), fit);
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("000010"));
    QCOMPARE(list->topLevelItem(0)->text(2), QString::asprintf("%02X", unsigned(app->image->userImage[1])));
    QCOMPARE(list->topLevelItem(5)->text(17), QStringLiteral("T552 boot loader"));
    // Save starts disabled: the image comes from a named file.
    QVERIFY(!dlg.button("save")->isEnabled());
    // Scrolling to the end of a 256 KiB area stays instant and ends there.
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 100; ++i) QTest::mouseClick(dlg.button("scroll5"), Qt::LeftButton);
    QVERIFY(t.elapsed() < 3000);
    QCOMPARE(dlg.editor().topOffset(), 0x3FF00);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("03FF00"));
    QCOMPARE(list->topLevelItemCount(), 16);  // the area ends after 16 rows
    QTest::mouseClick(dlg.button("scroll0"), Qt::LeftButton);
    QCOMPARE(dlg.editor().topOffset(), 0x2FF00);
    dlg.reject();
  }

  void modifiedByteIsDrawnBlue() {
    test::ScriptedPrompter prompts;
    auto app = makeApp();
    CMemoryEditDlg dlg(*app, request());
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    onNextModal([](QWidget* w) {
      QCOMPARE(w->windowTitle(), QStringLiteral("Data Input"));
      QCOMPARE(w->findChild<QLineEdit*>("address")->text(), QStringLiteral("0"));
      w->findChild<QLineEdit*>("address")->setText("1235");
      typeAndOk(w, "data", "5a");
    });
    QTest::mouseClick(dlg.button("modify"), Qt::LeftButton);
    QCOMPARE(dlg.editor().currentAddress(), 0x1236);
    CHighlightListCtrl* list = dlg.list();
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("001230"));
    QCOMPARE(list->topLevelItem(0)->text(6), QStringLiteral("5A"));
    QCOMPARE(list->cellTextColour(0, 6), QColor(0, 0, 255));
    QVERIFY(list->cellTextColour(0, 5) != QColor(0, 0, 255));
    QVERIFY(dlg.button("save")->isEnabled());
    // Blue pixels lie in that cell and nowhere else.
    const QImage shot = list->viewport()->grab().toImage();
    const QRect cell =
        list->visualItemRect(list->topLevelItem(0)).adjusted(list->header()->sectionViewportPosition(6), 0, 0, 0);
    int inside = 0, outside = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) {
        const QColor c = shot.pixelColor(x, y);
        if (c.blue() > 200 && c.red() < 80 && c.green() < 80) {
          const bool inCell =
              y >= cell.top() && y <= cell.bottom() && x >= cell.left() && x < cell.left() + list->columnWidth(6);
          (inCell ? inside : outside)++;
        }
      }
    QVERIFY(inside > 0);
    QCOMPARE(outside, 0);
    prompts.answer(Answer::No);
    dlg.reject();
    QCOMPARE(int(app->settings.userFileStale), 0);  // never saved: no change
  }

  void smallDialogsRefuseWithTheirMessages() {
    test::ScriptedPrompter prompts;
    {
      CAddressInputDlg dlg(0x1000, 0x1FFF);
      dlg.show();
      dlg.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&dlg));
      QCOMPARE(dlg.windowTitle(), QStringLiteral("Address Input"));
      QVERIFY(dlg.addressField()->text().isEmpty());
      typeAndOk(&dlg, "address", "");  // address 0, outside
      QCOMPARE(prompts.texts(), std::vector<std::string>{"Invalid address."});
      QCOMPARE(prompts.prompts()[0].icon, Icon::Warning);
      QVERIFY(dlg.isVisible());
      QCOMPARE(QApplication::focusWidget(), dlg.addressField());
      typeAndOk(&dlg, "address", " 1a0f");
      QCOMPARE(dlg.result(), int(QDialog::Accepted));
      QCOMPARE(dlg.address(), 0x1A0F);
    }
    prompts.clear();
    {
      CDataInputDlg dlg(0x1000, 0x1FFF, 0x1ABC);
      dlg.show();
      dlg.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&dlg));
      QCOMPARE(dlg.windowTitle(), QStringLiteral("Data Input"));
      QCOMPARE(dlg.addressField()->text(), QStringLiteral("1abc"));
      typeAndOk(&dlg, "data", "100");
      QCOMPARE(prompts.texts(), std::vector<std::string>{"Invalid data."});
      QCOMPARE(QApplication::focusWidget(), dlg.dataField());
      dlg.addressField()->setText("2000");
      typeAndOk(&dlg, "data", "ff");
      QCOMPARE(prompts.texts().back(), std::string("Invalid address."));
      QCOMPARE(QApplication::focusWidget(), dlg.addressField());
      QVERIFY(dlg.isVisible());
    }
    prompts.clear();
    {
      CMemoryClearDlg dlg(false, 4);
      dlg.show();
      dlg.activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(&dlg));
      QCOMPARE(dlg.windowTitle(), QStringLiteral("Memory Clear"));
      QCOMPARE(dlg.blockField()->text(), QStringLiteral("0-3"));
      QCOMPARE(dlg.dataField()->text(), QStringLiteral("ff"));
      typeAndOk(&dlg, "block", "0 - 2");
      QCOMPARE(prompts.texts(), std::vector<std::string>{"Invalid block number."});
      QCOMPARE(QApplication::focusWidget(), dlg.blockField());
      QCOMPARE(dlg.blockField()->selectedText(), QStringLiteral("0 - 2"));
      dlg.blockField()->setText("1");
      typeAndOk(&dlg, "data", "10000000FF");
      QCOMPARE(prompts.texts().back(), std::string("Invalid data."));
      QCOMPARE(QApplication::focusWidget(), dlg.dataField());
      typeAndOk(&dlg, "data", "0");
      QCOMPARE(dlg.result(), int(QDialog::Accepted));
      QVERIFY(dlg.blocks().test(1) && !dlg.blocks().test(0));
      CMemoryClearDlg boot(true, 4);
      QVERIFY(!boot.blockField()->isEnabled());
      QVERIFY(boot.blockField()->text().isEmpty());
    }
  }

  void saveWritesTheFileAndOkAsksInOrder() {
    Unit u;
    QVERIFY(u.opened);
    QVERIFY(setDevice(editorDevice()));
    test::ScriptedPrompter prompts;
    auto app = makeApp();
    EditorRequest r = request();
    r.saveEnabled = true;
    CMemoryEditDlg dlg(*app, r);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    onNextModal([](QWidget* w) { typeAndOk(w, "address", "20000"); });
    QTest::mouseClick(dlg.button("addressButton"), Qt::LeftButton);
    QCOMPARE(dlg.list()->topLevelItem(0)->text(0), QStringLiteral("020000"));
    onNextModal([](QWidget* w) { typeAndOk(w, "data", "00"); });
    QTest::mouseClick(dlg.button("modify"), Qt::LeftButton);
    QCOMPARE(app->image->userImage[0x20000], uint8_t(0x20000 * 13 + 0x200));

    // Save: "Data Save", then "Saving..." writes the file.
    const QString path = dir.filePath("edited.mot");
    onNextModal([path](QWidget* w) {
      auto* files = dynamic_cast<CSaveFileDlg*>(w);
      QVERIFY(files);
      QCOMPARE(files->windowTitle(), QStringLiteral("Data Save"));
      files->selectFile(path);
      files->accept();
    });
    QTest::mouseClick(dlg.button("save"), Qt::LeftButton);
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(dlg.infoField("programFile")->text(), path);
    QVERIFY(!dlg.button("save")->isEnabled());
    QVERIFY(dlg.list()->changedAddresses.empty());
    QCOMPARE(dlg.editor().saveOutcome(), 3);
    {
      MemoryImage check;
      IdCode id;
      int32_t level = 0;
      QVERIFY(loadProgramFile(LoadMode::Silent, path.toStdString(), editorDevice(), check, id, level));
      QCOMPARE(int(check.userImage[0x20000]), 0);
    }

    // OK: the upload question (Save is disabled again, so no save question),
    // then the send of every bank.
    onNextModal([](QWidget* w) { typeAndOk(w, "data", "11"); });
    QTest::mouseClick(dlg.button("modify"), Qt::LeftButton);
    prompts.clear();
    prompts.answer(Answer::No);   // save
    prompts.answer(Answer::Yes);  // upload
    QTest::mouseClick(dlg.button("ok"), Qt::LeftButton);
    QCOMPARE(prompts.texts(), (std::vector<std::string>{"Memory has changed. Do you want to save the file?",
                                                        "Memory has changed. Do you want to upload the memory?"}));
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.uploadFailed());
    QCOMPARE(int(app->image->userImage[0x20000]), 0);
    QCOMPARE(int(app->image->userImage[0x20001]), 0x11);
    for (int b = 0; b < 4; ++b) QCOMPARE(app->image->bankHasData[size_t(b)], 1);
    const auto sent = u.unit->userBufferBytes(0, 0x40000);
    QCOMPARE(int(sent[0x20001]), 0x11);
    QCOMPARE(int(sent[5]), int(app->image->userImage[5]));
    QCOMPARE(int(sent[0x3FF00]), int(app->image->userImage[0x3FF00]));
    QCOMPARE(std::string(app->settings.userFileName), path.toStdString());
    QCOMPARE(int(app->settings.userFileStale), 0);
  }

  // The picture for the manual: the shipped table's DEMO-B256K with the
  // program file that scripts/editor-screenshot.sh writes (its path in
  // VRX4_SCREENSHOT_FILE), a few bytes changed to show the highlight.
  void screenshot() {
    const QString out = qEnvironmentVariable("VRX4_SCREENSHOT_DIR");
    const QString file = qEnvironmentVariable("VRX4_SCREENSHOT_FILE");
    if (out.isEmpty() || file.isEmpty()) QSKIP("VRX4_SCREENSHOT_DIR or VRX4_SCREENSHOT_FILE not set");
    QDir().mkpath(out);
    DeviceTable table;
    bool missing = false;
    const QString tablePath = QCoreApplication::applicationDirPath() + QLatin1Char('/') + kDeviceTableFileName;
    QVERIFY2(parseDeviceTableFile(tablePath.toStdString(), table, missing), qPrintable(tablePath));
    const int row = table.findByName("DEMO-B256K");
    QVERIFY(row >= 0);
    AppState app;
    ProjectSettings& s = app.settings;
    s.device = table.row(row);
    s.deviceIndex = row;
    s.idCode.idLength = uint8_t(std::min<int32_t>(s.device.idCodeLength, kMaxIdCodeLength));
    app.image->clearUserImage();
    int32_t level = 0;
    QVERIFY(loadProgramFile(LoadMode::Silent, file.toStdString(), s.device, *app.image, s.idCode, level));
    const QByteArray name = file.toUtf8();
    std::memcpy(s.userFileName, name.constData(), size_t(name.size()));
    s.userFileNameLength = int32_t(name.size());
    EditorRequest r;
    r.deviceType = s.device.name();
    r.romArea = "User Rom";
    char area[32];
    std::snprintf(area, sizeof area, "%06X-%06X", unsigned(s.device.userRomStart), unsigned(s.device.userRomEnd));
    r.address = area;
    CMemoryEditDlg dlg(app, r);
    for (int a : {0x103, 0x104, 0x12A}) dlg.editor().modify(a, 0x41);
    dlg.editor().jumpTo(0x100);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.refill();
    QVERIFY(dlg.grab().save(QDir(out).filePath("editor.png")));
    dlg.reject();
  }
};

}  // namespace vrx4

QTEST_MAIN(vrx4::MemoryEditDlgTest)
#include "MemoryEditDlgTest.moc"
