#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>
#include <cstring>

#include "Tests.h"
#include "UnitHarness.h"
#include "settings/CCanSettingDlg.h"

namespace vrx4::test {

class CanSettingDlgTest : public QObject {
  Q_OBJECT

  template <typename W>
  static W* child(QDialog& d, const char* name) {
    W* w = d.findChild<W*>(name);
    if (!w) qFatal("no child %s", name);
    return w;
  }
  static QStringList items(QComboBox* c) {
    QStringList l;
    for (int i = 0; i < c->count(); ++i) l << c->itemText(i);
    return l;
  }
  static CanSetting record500_65() {
    CanSetting c;
    c.baudKbps = 500.0f;
    c.samplePointPct = 65;
    return c;
  }

 private slots:
  void opensAtTheRecordsTimingAndListsEveryRate() {
    UnitHarness h;
    CanSetting c = record500_65();
    CCanSettingDlg d(c);
    auto* baud = child<QComboBox>(d, "baudrate");
    auto* sp = child<QComboBox>(d, "samplePoint");
    QCOMPARE(items(baud), QStringList({"1000.0", "500.0", "250.0", "125.0", "100.0", "83.3", "80.0", "50.0", "40.0",
                                       "33.3", "20.0"}));
    QCOMPARE(baud->currentText(), QString("500.0"));
    QCOMPARE(items(sp), QStringList({"80", "75", "70", "65"}));
    QCOMPARE(sp->currentText(), QString("65"));
    // Another bit rate always starts at 80.
    baud->setCurrentIndex(6);
    QCOMPARE(items(sp), QStringList({"80"}));
    baud->setCurrentIndex(0);
    QCOMPARE(items(sp), QStringList({"80", "70"}));
    sp->setCurrentIndex(1);
    baud->setCurrentIndex(4);
    QCOMPARE(items(sp), QStringList({"80", "70", "65"}));
    QCOMPARE(sp->currentText(), QString("80"));
    QVERIFY(h.prompts.texts().empty());
  }

  void unknownRateOpensAt1000And80() {
    UnitHarness h;
    CanSetting c;
    c.baudKbps = 300.0f;
    c.samplePointPct = 70;
    CCanSettingDlg d(c);
    QCOMPARE(child<QComboBox>(d, "baudrate")->currentText(), QString("1000.0"));
    QCOMPARE(child<QComboBox>(d, "samplePoint")->currentText(), QString("80"));
  }

  void fillingIsNotCheckedAndFormatZeroShowsStd() {
    UnitHarness h;
    CanSetting c = record500_65();
    c.sendFrameMask = 3;
    c.preFrame.frameFormat = 0;
    c.preFrame.sid = 0x900;  // out of range, but filling is not checked
    c.preFrame.dlc = 3;
    c.postFrame.frameFormat = 2;
    c.postFrame.frameType = 1;
    c.postFrame.dlc = 4;
    CCanSettingDlg d(c);
    QVERIFY(h.prompts.texts().empty());
    QCOMPARE(child<QLineEdit>(d, "sid0")->text(), QString("900"));
    QCOMPARE(child<QComboBox>(d, "format0")->currentText(), QString("Std"));
    // Std: EID off; Data with Dlc 3: exactly D0..D2 on.
    QVERIFY(!child<QLineEdit>(d, "eid0")->isEnabled());
    for (int i = 0; i < 8; ++i) QCOMPARE(child<QLineEdit>(d, qPrintable(QString("d0_%1").arg(i)))->isEnabled(), i < 3);
    // Ext / Remote: EID on, Dlc and data off.
    QVERIFY(child<QLineEdit>(d, "eid1")->isEnabled());
    QVERIFY(!child<QLineEdit>(d, "dlc1")->isEnabled());
    QVERIFY(!child<QLineEdit>(d, "d1_0")->isEnabled());
    // Switching the rules.
    child<QComboBox>(d, "type1")->setCurrentIndex(0);
    QVERIFY(child<QLineEdit>(d, "dlc1")->isEnabled());
    QVERIFY(child<QLineEdit>(d, "d1_3")->isEnabled());
    QVERIFY(!child<QLineEdit>(d, "d1_4")->isEnabled());
    child<QComboBox>(d, "format1")->setCurrentIndex(0);
    QVERIFY(!child<QLineEdit>(d, "eid1")->isEnabled());
    child<QCheckBox>(d, "useSendFrame")->setChecked(false);
    for (const char* n : {"sid0", "eid1", "dlc0", "d0_0", "d1_3"}) QVERIFY(!child<QLineEdit>(d, n)->isEnabled());
    QVERIFY(!child<QComboBox>(d, "format0")->isEnabled());
    child<QCheckBox>(d, "useSendFrame")->setChecked(true);
    QVERIFY(child<QLineEdit>(d, "sid1")->isEnabled());

    // OK writes format 1 for the stored 0 and keeps what is shown.
    child<QPushButton>(d, "ok")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(c.preFrame.frameFormat, uint8_t(1));
    QCOMPARE(uint16_t(c.preFrame.sid), uint16_t(0x900));
    QCOMPARE(c.postFrame.frameType, uint8_t(0));
  }

  void frameFieldChecksReplaceTheText() {
    UnitHarness h;
    CanSetting c = record500_65();
    c.sendFrameMask = 3;
    CCanSettingDlg d(c);
    struct Case {
      const char* field;
      const char* typed;
      const char* message;
      const char* shown;
    } cases[] = {
        {"sid0", "800", "Wrong input data [ 0 <= SID <= 7FF ]", "000"},
        {"sid0", "07FF", "Wrong input data. Over 3 Byte size", "000"},
        {"sid0", "7ff", nullptr, "7ff"},
        {"eid1", "40000", "Wrong input data [ 0 <= EID <= 3FFFF ]", "00000"},
        {"eid1", "03FFFF", "Wrong input data. Over 5 Byte size", "00000"},
        {"d0_1", "100", "Wrong input data. Over 2 Byte size", "00"},
        {"d0_1", "G", "Wrong input data. Not Hex Data", "0"},
        {"dlc0", "9", "Wrong input data [ 0 <= dlc <= 8 ]", "0"},
    };
    for (const Case& k : cases) {
      h.prompts.clear();
      auto* e = child<QLineEdit>(d, k.field);
      e->setText(k.typed);
      const auto prompts = h.prompts.prompts();
      if (k.message) {
        QCOMPARE(int(prompts.size()), 1);
        QCOMPARE(QString::fromStdString(prompts[0].text), QString(k.message));
        QCOMPARE(prompts[0].icon, Icon::Stop);
        QCOMPARE(e->selectedText(), QString(k.shown));
      } else {
        QVERIFY(prompts.empty());
      }
      QCOMPARE(e->text(), QString(k.shown));
    }
    // Dlc "0" after the refusal disables every data field; "3" enables D0..D2.
    for (int i = 0; i < 8; ++i) QVERIFY(!child<QLineEdit>(d, qPrintable(QString("d0_%1").arg(i)))->isEnabled());
    h.prompts.clear();
    child<QLineEdit>(d, "dlc0")->setText("3");
    for (int i = 0; i < 8; ++i) QCOMPARE(child<QLineEdit>(d, qPrintable(QString("d0_%1").arg(i)))->isEnabled(), i < 3);
    QVERIFY(h.prompts.texts().empty());
  }

  void pulseCheckArrowsAndWrap() {
    UnitHarness h;
    CanSetting c = record500_65();
    c.pulseEnabled = 1;
    c.pulseCycleMs = 1000;
    CCanSettingDlg d(c);
    auto* cycle = child<QLineEdit>(d, "pulseCycle");
    QCOMPARE(cycle->text(), QString("1000"));
    QVERIFY(cycle->isEnabled());
    child<QToolButton>(d, "pulseUp")->click();
    QCOMPARE(cycle->text(), QString("1"));
    child<QToolButton>(d, "pulseDown")->click();
    QCOMPARE(cycle->text(), QString("1000"));
    child<QToolButton>(d, "pulseDown")->click();
    QCOMPARE(cycle->text(), QString("999"));
    QVERIFY(h.prompts.texts().empty());
    for (const char* bad : {"0", "1001"}) {
      h.prompts.clear();
      cycle->setText(bad);
      QCOMPARE(h.prompts.texts(), std::vector<std::string>{"You can input pulse data 1 to 1000"});
      QCOMPARE(h.prompts.prompts()[0].icon, Icon::Exclamation);
      QCOMPARE(cycle->text(), QString("100"));
    }
    h.prompts.clear();
    cycle->setText("1000");
    cycle->setText("1");
    QVERIFY(h.prompts.texts().empty());
    child<QCheckBox>(d, "usePulse")->setChecked(false);
    QVERIFY(!cycle->isEnabled());
    QVERIFY(!child<QToolButton>(d, "pulseUp")->isEnabled());
  }

  // A stored Dlc above 8 still means a full frame: its eight data fields
  // open enabled ("%01X" of 12 is "C", which is no decimal number).
  void storedDlcAboveEightEnablesAllEightDataFields() {
    UnitHarness h;
    CanSetting c = record500_65();
    c.sendFrameMask = 3;
    c.preFrame.dlc = 12;
    c.postFrame.dlc = 9;
    CCanSettingDlg d(c);
    QCOMPARE(child<QLineEdit>(d, "dlc0")->text(), QString("C"));
    QCOMPARE(child<QLineEdit>(d, "dlc1")->text(), QString("9"));
    auto enabledData = [&](int r) {
      int n = 0;
      for (int i = 0; i < 8; ++i) n += child<QLineEdit>(d, qPrintable(QString("d%1_%2").arg(r).arg(i)))->isEnabled();
      return n;
    };
    QCOMPARE(enabledData(0), 8);
    QCOMPARE(enabledData(1), 8);
    // The rules applied again (Type and "Use Send Frame" clicked) keep them.
    child<QComboBox>(d, "type0")->setCurrentIndex(1);
    QCOMPARE(enabledData(0), 0);
    child<QComboBox>(d, "type0")->setCurrentIndex(0);
    QCOMPARE(enabledData(0), 8);
    child<QCheckBox>(d, "useSendFrame")->click();
    child<QCheckBox>(d, "useSendFrame")->click();
    QCOMPARE(enabledData(0), 8);
    // A Dlc typed afterwards decides, as always.
    child<QLineEdit>(d, "dlc0")->setText("3");
    QCOMPARE(enabledData(0), 3);
    QVERIFY(h.prompts.texts().empty());
    // Dlc 0 stored: none.
    c.preFrame.dlc = 0;
    CCanSettingDlg zero(c);
    QVERIFY(!child<QLineEdit>(zero, "d0_0")->isEnabled());
  }

  // A pulse text is judged by the decimal number it holds.
  void pulseTextWithANumberIsJudgedByIt() {
    UnitHarness h;
    CanSetting c = record500_65();
    c.pulseEnabled = 1;
    c.pulseCycleMs = 300;
    CCanSettingDlg d(c);
    auto* cycle = child<QLineEdit>(d, "pulseCycle");
    for (const char* good : {"12a", " 5", "+5"}) {
      cycle->setText(good);
      QVERIFY2(h.prompts.texts().empty(), good);
      QCOMPARE(cycle->text(), QString(good));
    }
    cycle->setText("12a");
    child<QToolButton>(d, "pulseUp")->click();  // the arrows start from 12
    QCOMPARE(cycle->text(), QString("13"));
    cycle->setText("12a");
    // Without a number, or with one out of range: the message and "100".
    for (const char* bad : {"a5", "-5", "2000ms"}) {
      h.prompts.clear();
      cycle->setText(bad);
      QCOMPARE(h.prompts.texts(), std::vector<std::string>{"You can input pulse data 1 to 1000"});
      QCOMPARE(cycle->text(), QString("100"));
    }
    cycle->setText(" 42");
    child<QPushButton>(d, "ok")->click();
    QCOMPARE(uint16_t(c.pulseCycleMs), uint16_t(42));
  }

  void defaultThenOkWithSendFrameOff() {
    UnitHarness h;
    QVERIFY(h.opened);
    CanSetting c = record500_65();
    c.sendFrameMask = 3;
    c.pulseEnabled = 1;
    c.pulseCycleMs = 250;
    c.preFrame.sid = 0x123;
    CCanSettingDlg d(c);
    child<QPushButton>(d, "default")->click();
    QCOMPARE(child<QComboBox>(d, "baudrate")->currentText(), QString("500.0"));
    QCOMPARE(child<QComboBox>(d, "samplePoint")->currentText(), QString("70"));
    QVERIFY(!child<QCheckBox>(d, "useSendFrame")->isChecked());
    QVERIFY(!child<QCheckBox>(d, "usePulse")->isChecked());
    for (int r = 0; r < 2; ++r) {
      const QString n = QString::number(r);
      QCOMPARE(child<QComboBox>(d, qPrintable("format" + n))->currentText(), QString("Std"));
      QCOMPARE(child<QComboBox>(d, qPrintable("type" + n))->currentText(), QString("Data"));
      QCOMPARE(child<QLineEdit>(d, qPrintable("sid" + n))->text(), QString("000"));
      QCOMPARE(child<QLineEdit>(d, qPrintable("eid" + n))->text(), QString("00000"));
      QCOMPARE(child<QLineEdit>(d, qPrintable("dlc" + n))->text(), QString("0"));
      QCOMPARE(child<QLineEdit>(d, qPrintable("d" + n + "_7"))->text(), QString("00"));
    }
    QCOMPARE(child<QLineEdit>(d, "pulseCycle")->text(), QString("100"));
    QVERIFY(h.prompts.texts().empty());
    // Nothing is stored before OK.
    QCOMPARE(uint16_t(c.preFrame.sid), uint16_t(0x123));

    // Frames typed while "Use Send Frame" is off are stored as they stand.
    child<QLineEdit>(d, "sid1")->setText("7AB");
    child<QComboBox>(d, "type0")->setCurrentIndex(1);
    child<QLineEdit>(d, "dlc0")->setText("4");  // Remote with Dlc 4
    child<QLineEdit>(d, "d1_2")->setText("");   // empty stores 0
    h.unit->clearHistory();
    child<QPushButton>(d, "ok")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(c.sendFrameMask, uint8_t(0));
    QCOMPARE(uint16_t(c.postFrame.sid), uint16_t(0x7AB));
    QCOMPARE(c.preFrame.frameType, uint8_t(1));
    QCOMPARE(c.preFrame.dlc, uint8_t(4));
    QCOMPARE(c.postFrame.data[2], uint8_t(0));
    QCOMPARE(c.pulseEnabled, uint8_t(0));
    QCOMPARE(uint16_t(c.pulseCycleMs), uint16_t(0));
    QCOMPARE(float(c.baudKbps), 500.0f);
    QCOMPARE(c.samplePointPct, uint8_t(70));
    QCOMPARE(c.prescalerMinus1, uint8_t(2));
    // The unit got bytes 0..43 of the new record.
    QCOMPARE(int(h.unit->canPayloads.size()), 1);
    QCOMPARE(int(h.unit->canPayloads[0].size()), 44);
    QVERIFY(std::memcmp(h.unit->canPayloads[0].data(), &c, 44) == 0);
  }

  void okWhenTheSendFailsStillStoresAndCloses() {
    UnitHarness h;
    CanSetting c = record500_65();
    CCanSettingDlg d(c);
    child<QComboBox>(d, "baudrate")->setCurrentIndex(5);  // 83.3 / 80
    child<QCheckBox>(d, "usePulse")->setChecked(true);
    child<QLineEdit>(d, "pulseCycle")->setText("250");
    h.unit->injectFault(SimulatedUnit::Fault::ErrorStatus, 227);
    child<QPushButton>(d, "ok")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(float(c.baudKbps), 83.3f);
    QCOMPARE(c.pulseEnabled, uint8_t(1));
    QCOMPARE(uint16_t(c.pulseCycleMs), uint16_t(250));
    QVERIFY(h.unit->canPayloads.empty());
    // The exchange reported the failure itself.
    QCOMPARE(int(h.prompts.texts().size()), 1);
  }

  void cancelLeavesTheRecord() {
    UnitHarness h;
    CanSetting c = record500_65();
    c.preFrame.frameFormat = 0;
    CanSetting before = c;
    CCanSettingDlg d(c);
    child<QPushButton>(d, "default")->click();
    child<QPushButton>(d, "cancel")->click();
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(std::memcmp(&before, &c, sizeof c) == 0);
    QVERIFY(h.unit->canPayloads.empty());
  }
};

static RegisterTest<CanSettingDlgTest> registered;

}  // namespace vrx4::test

#include "CanSettingDlgTest.moc"
