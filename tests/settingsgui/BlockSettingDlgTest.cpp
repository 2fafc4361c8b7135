#include <QHeaderView>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include "Tests.h"
#include "UnitHarness.h"
#include "settings/BlockSettingRules.h"
#include "settings/CBlockSettingDlg.h"
#include "settings/CCheckListCtrl.h"

namespace vrx4::test {

namespace {

DeviceDef blocksDevice(int count, uint8_t lockBitMode) {
  DeviceDef d;
  d.setName("TEST-12");
  d.blockCount = count;
  d.lockBitMode = lockBitMode;
  for (int k = 0; k < count; ++k) {
    d.blockStart[k] = 0x4000u * uint32_t(k + 1);
    d.blockSize[k] = 0x4000;
  }
  return d;
}

LockBitTable tableFor(int count) {
  LockBitTable t;
  for (int k = 0; k < count; ++k) {
    t.deviceBlockMask.set(k);
    t.operationBlockMask.set(k);
  }
  t.lockBitState = 1;
  return t;
}

BlockMask allBits() {
  BlockMask m;
  for (auto& b : m.bytes) b = 0xFF;
  return m;
}

void click(CCheckListCtrl* list, QPoint pos) { QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, pos); }

}  // namespace

class BlockSettingDlgTest : public QObject {
  Q_OBJECT

  template <typename W>
  static W* child(QDialog& d, const char* name) {
    W* w = d.findChild<W*>(name);
    if (!w) qFatal("no child %s", name);
    return w;
  }

 private slots:
  void twelveBlocksAllLockReturnsEveryBit() {
    UnitHarness h;
    h.unit->locks.set(2);
    h.unit->locks.set(20);  // beyond the device: dropped
    CBlockSettingDlg d(tableFor(12), blocksDevice(12, 1));
    CCheckListCtrl* list = d.list();
    QCOMPARE(h.unit->lockReads, 1);
    QCOMPARE(list->topLevelItemCount(), 12);
    QCOMPARE(list->topLevelItem(11)->text(0), QString("11"));
    QCOMPARE(list->topLevelItem(0)->text(1), QString("04000 - 07FFF"));
    QCOMPARE(list->topLevelItem(0)->text(3), QString("Lock"));
    QCOMPARE(list->topLevelItem(0)->text(4), QString("Operation"));
    BlockMask expectLocked;
    expectLocked.set(2);
    QVERIFY(list->lockedBits == expectLocked);
    QVERIFY(!list->afterLockReadOnly);
    QStringList captions;
    for (int c = 0; c < list->columnCount(); ++c) captions << list->headerItem()->text(c);
    QCOMPARE(captions, QStringList({"Block", "Address", "Current Lock", "After Lock", "Operation Block"}));
    const int widths[] = {46, 110, 80, 100, 100};
    for (int c = 0; c < 5; ++c) QCOMPARE(list->columnWidth(c), widths[c]);
    QVERIFY(child<QRadioButton>(d, "effective")->isChecked());

    child<QPushButton>(d, "allLock")->click();
    child<QPushButton>(d, "ok")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QVERIFY(d.lockAfterProgramMask() == allBits());
    QCOMPARE(d.lockBitState(), uint8_t(1));
    // The main form keeps only the device's blocks.
    QCOMPARE(
        QString::fromStdString(FormatBlockList(maskAnd(d.lockAfterProgramMask(), tableFor(12).deviceBlockMask), 0, 63)),
        QString("0-11"));
  }

  void clearOnlyAndNoLockBitModes() {
    UnitHarness h;
    LockBitTable t = tableFor(12);
    t.lockAfterProgramMask.set(3);
    {
      CBlockSettingDlg d(t, blocksDevice(12, 2));
      QVERIFY(d.list()->afterLockReadOnly);
      QCOMPARE(d.list()->topLevelItem(0)->text(3), QString());
      QVERIFY(!child<QPushButton>(d, "allLock")->isEnabled());
      QVERIFY(child<QPushButton>(d, "allUnlock")->isEnabled());
      QVERIFY(child<QPushButton>(d, "readLockBits")->isEnabled());
      QVERIFY(child<QRadioButton>(d, "ignore")->isEnabled());
      child<QPushButton>(d, "allUnlock")->click();  // clears the hidden bits too
      QVERIFY(d.list()->afterLockBits == BlockMask{});
    }
    {
      CBlockSettingDlg d(t, blocksDevice(12, 0));
      for (const char* b : {"allLock", "allUnlock", "readLockBits"}) QVERIFY(!child<QPushButton>(d, b)->isEnabled());
      QVERIFY(!child<QRadioButton>(d, "effective")->isEnabled());
      QVERIFY(!child<QRadioButton>(d, "ignore")->isEnabled());
      QVERIFY(d.list()->afterLockReadOnly);
      QCOMPARE(d.list()->topLevelItem(0)->text(3), QString());
      d.show();
      QVERIFY(QTest::qWaitForWindowExposed(&d));
      CCheckListCtrl* list = d.list();
      // Column 3 is read-only; column 4 still toggles.
      click(list, list->cellRect(3, 3).center());
      QVERIFY(list->afterLockBits.test(3));
      click(list, list->cellRect(3, 4).center());
      QVERIFY(!list->operationBits.test(3));
      click(list, list->cellRect(3, 4).center());
      QVERIFY(list->operationBits.test(3));
    }
  }

  void clicksToggleOnlyTheirCell() {
    UnitHarness h;
    CBlockSettingDlg d(tableFor(12), blocksDevice(12, 1));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    CCheckListCtrl* list = d.list();
    const BlockMask op = list->operationBits, after = list->afterLockBits;
    click(list, list->cellRect(9, 4).center());
    QCOMPARE(list->operationBits.bytes[1], uint8_t(op.bytes[1] ^ 0x02));
    click(list, list->cellRect(9, 3).center());
    QCOMPARE(list->afterLockBits.bytes[1], uint8_t(after.bytes[1] ^ 0x02));
    click(list, list->cellRect(9, 3).center());
    click(list, list->cellRect(9, 4).center());
    // Columns 0..2 and the space below the last row change nothing.
    for (int c = 0; c < 3; ++c) click(list, list->cellRect(5, c).center());
    const QRect last = list->cellRect(11, 4);
    if (last.bottom() + 10 < list->viewport()->height()) click(list, QPoint(last.center().x(), last.bottom() + 8));
    QVERIFY(list->operationBits == op);
    QVERIFY(list->afterLockBits == after);
  }

  void readLockBitsCopiesTheLocksIntoAfterLock() {
    UnitHarness h;
    CBlockSettingDlg d(tableFor(12), blocksDevice(12, 1));
    QVERIFY(d.list()->lockedBits == BlockMask{});
    h.unit->locks.set(0);
    h.unit->locks.set(7);
    h.unit->locks.set(40);
    child<QPushButton>(d, "readLockBits")->click();
    BlockMask expect;
    expect.set(0);
    expect.set(7);
    QVERIFY(d.list()->lockedBits == expect);
    QVERIFY(d.list()->afterLockBits == expect);
    // A failed read changes nothing.
    h.unit->locks.set(1);
    h.unit->injectFault(SimulatedUnit::Fault::ErrorStatus, 227);
    child<QPushButton>(d, "readLockBits")->click();
    QVERIFY(d.list()->lockedBits == expect);
  }

  void failedReadAtOpeningShowsNothingLocked() {
    UnitHarness h;
    for (auto& b : h.unit->locks.bytes) b = 0xFF;
    h.unit->injectFault(SimulatedUnit::Fault::ErrorStatus, 227);
    CBlockSettingDlg d(tableFor(4), blocksDevice(4, 1));
    QVERIFY(d.list()->lockedBits == BlockMask{});
    QCOMPARE(int(h.prompts.texts().size()), 1);  // the exchange's own message
  }

  void emptyOperationSelectionIsRefused() {
    UnitHarness h;
    LockBitTable t = tableFor(3);
    t.lockBitState = 5;  // neither radio button
    CBlockSettingDlg d(t, blocksDevice(3, 1));
    QVERIFY(!child<QRadioButton>(d, "effective")->isChecked());
    QVERIFY(!child<QRadioButton>(d, "ignore")->isChecked());
    d.list()->operationBits = BlockMask{};
    d.list()->operationBits.set(10);  // beyond the device: does not count
    child<QPushButton>(d, "ok")->click();
    QCOMPARE(h.prompts.texts(), std::vector<std::string>{"No operation block."});
    QCOMPARE(h.prompts.prompts()[0].icon, Icon::Exclamation);
    QCOMPARE(d.result(), 0);
    QVERIFY(d.list()->operationBits.test(10));
    d.list()->operationBits.set(1);
    child<QPushButton>(d, "ok")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.lockBitState(), uint8_t(0));
  }

  void columnsCannotBeResizedAndLabelsShorten() {
    UnitHarness h;
    CBlockSettingDlg d(tableFor(2), blocksDevice(2, 1));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    CCheckListCtrl* list = d.list();
    QHeaderView* header = list->header();
    tryToResizeColumn(header, 1, 60);
    QCOMPARE(list->columnWidth(1), 110);
    QCOMPARE(list->columnWidth(2), 80);

    list->topLevelItem(1)->setText(4, "Operation block with a long name");
    const QString shown = list->drawnText(1, 4);
    QVERIFY(shown.endsWith("..."));
    QVERIFY(shown.startsWith("Op"));
    QCOMPARE(list->drawnText(0, 4), QString("Operation"));
  }

  void readOnlyColumnDrawsNoCheckBoxes() {
    UnitHarness h;
    LockBitTable t = tableFor(2);
    t.lockAfterProgramMask = allBits();
    CBlockSettingDlg d(t, blocksDevice(2, 2));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    CCheckListCtrl* list = d.list();
    const QImage shot = list->viewport()->grab().toImage();
    const QRect cell = list->cellRect(0, 3);
    const QColor back = shot.pixelColor(cell.left() + 1, cell.top() + 1);
    int differing = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      for (int x = cell.left(); x < cell.left() + 16; ++x)
        if (shot.pixelColor(x, y) != back) ++differing;
    QCOMPARE(differing, 0);
    // The "Operation Block" box of the same row is drawn.
    const QRect op = list->cellRect(0, 4);
    differing = 0;
    for (int y = op.top(); y <= op.bottom(); ++y)
      for (int x = op.left(); x < op.left() + 16; ++x)
        if (shot.pixelColor(x, y) != back) ++differing;
    QVERIFY(differing > 20);
  }
};

static RegisterTest<BlockSettingDlgTest> registered;

}  // namespace vrx4::test

#include "BlockSettingDlgTest.moc"
