// The main window with the simulated unit: the form, the frame, the menus.
#include <QtTest>
#include <QLineEdit>
#include <QPushButton>
#include <QComboBox>
#include <QRadioButton>
#include <QCheckBox>
#include <QLabel>

#include "app/AppState.h"
#include "view/CMainView.h"
#include "view/CMainFrame.h"
#include "view/MainFormState.h"

using namespace vrx4;

class MainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void look() {
    AppState state;
    CMainFrame frame;
    frame.createFor(QRect(0, 0, 1024, 768));
    auto* view = new CMainView(state, &frame);
    frame.setView(view);
    frame.fitToForm();
    MainFormState s;
    s.deviceNames = {"R5F2L38A", "R5F21258"};
    s.deviceSelection = 0;
    s.userRomArea.text = "004000-01FFFF";
    s.block.text = "0-7";
    s.vcc.text = "3.3/5V";
    s.vpp.text = "5V";
    s.baudrate.text = "500.0Kbps";
    s.sendFrame.text = "No use";
    s.pulseOutput.text = "No use";
    s.userRomFile.text = "/home/op/jobs/pump/firmware-2.3.hex";
    s.idCode.text = "FF,FF,FF,FF,FF,FF,FF";
    s.romProtect.text = "Removed";
    s.checkSum.text = "3A5C";
    s.checkIdCode.text = "FF,FF,FF,FF,FF,FF,FF";
    s.bootLoader.text = "BOOT1.00";
    s.lockBitState.text = "Effective";
    s.operationBlock.text = "0-7";
    s.lockAfterProgram.text = "Nothing";
    s.operationIndex = 0;
    s.resultText = "Pass";
    s.resultColoured = true;
    s.resultBackground = {0, 255, 0};
    s.versionText = "Ver.1.11";
    view->render(s);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    frame.grab().save("/tmp/mg-look.png");
    qDebug() << view->formSize() << view->size() << frame.size() << view->font();
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
