// Renders each settings dialog into a PNG when VRX4_SCREENSHOT_DIR names a
// folder (scripts/settings-screenshots.sh sets it to docs/screenshots).
#include <QDir>
#include <QLineEdit>
#include <QtTest>

#include "Tests.h"
#include "UnitHarness.h"
#include "app/DeviceTable.h"
#include "settings/CBlockSettingDlg.h"
#include "settings/CCanSettingDlg.h"
#include "settings/CDeviceDetailDlg.h"
#include "settings/CSetIdDlg.h"

namespace vrx4::test {

namespace {

// The shipped sample table's DEMO-B256K (the table lies beside the test
// program); an empty row when the table cannot be read.
DeviceDef sampleDevice() {
  DeviceTable table;
  bool missing = false;
  const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + kDeviceTableFileName;
  if (!parseDeviceTableFile(path.toStdString(), table, missing)) return DeviceDef{};
  return table.row(table.findByName("DEMO-B256K"));
}

void save(QWidget& w, const QString& dir, const QString& name) {
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QVERIFY(w.grab().save(QDir(dir).filePath(name)));
}

}  // namespace

class SettingsScreenshots : public QObject {
  Q_OBJECT

 private slots:
  void renderEachDialog() {
    const QString dir = qEnvironmentVariable("VRX4_SCREENSHOT_DIR");
    if (dir.isEmpty()) QSKIP("VRX4_SCREENSHOT_DIR not set");
    QDir().mkpath(dir);
    UnitHarness h;
    {
      CanSetting c;
      c.baudKbps = 500.0f;
      c.samplePointPct = 80;
      c.sendFrameMask = 3;
      c.preFrame.frameFormat = 1;
      c.preFrame.sid = 0x7E0;
      c.preFrame.dlc = 2;
      c.preFrame.data[0] = 0x10;
      c.preFrame.data[1] = 0x02;
      c.postFrame.frameFormat = 2;
      c.postFrame.sid = 0x123;
      c.postFrame.eid = 0x3A5C;
      c.postFrame.dlc = 8;
      c.pulseEnabled = 1;
      c.pulseCycleMs = 250;
      CCanSettingDlg d(c);
      save(d, dir, "can-setting.png");
    }
    {
      const DeviceDef dev = sampleDevice();
      QCOMPARE(dev.name(), std::string("DEMO-B256K"));
      LockBitTable t;
      for (int k = 0; k < 8; ++k) t.deviceBlockMask.set(k);
      for (int k : {0, 1, 2, 3}) t.operationBlockMask.set(k);
      t.lockAfterProgramMask.set(0);
      t.lockAfterProgramMask.set(4);
      t.lockBitState = 1;
      h.unit->locks.set(1);
      h.unit->locks.set(4);
      CBlockSettingDlg d(t, dev);
      save(d, dir, "block-setting.png");
    }
    {
      IdCode id;
      id.idLength = 7;
      const uint8_t bytes[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD};
      for (int i = 0; i < 7; ++i) id.idBytes[i] = bytes[i];
      CSetIdDlg d(id);
      save(d, dir, "set-id.png");
      IdCode longId;
      longId.idLength = 32;
      for (int i = 0; i < 32; ++i) longId.idBytes[i] = uint8_t(i * 9);
      CSetIdDlg d32(longId);
      save(d32, dir, "set-id-32.png");
    }
    {
      CDeviceDetailDlg d(sampleDevice());
      save(d, dir, "device-detail.png");
    }
  }
};

static RegisterTest<SettingsScreenshots> registered;

}  // namespace vrx4::test

#include "Screenshots.moc"
