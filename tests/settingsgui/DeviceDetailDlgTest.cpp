#include <QHeaderView>
#include <QLineEdit>
#include <QtTest>

#include "Tests.h"
#include "settings/CDeviceDetailDlg.h"
#include "settings/CHighlightListCtrl.h"

namespace vrx4::test {

namespace {

DeviceDef device(int blocks) {
  DeviceDef d;
  d.setName("TEST-DEV");
  d.userRomStart = 0x4000;
  d.userRomSize = 0x400000;
  d.voltageCode = 0x31;
  d.blockCount = blocks;
  const uint32_t sizes[] = {0x4000, 0x10000, 0x100000, 0x400000};
  uint32_t at = 0x4000;
  for (int k = 0; k < blocks; ++k) {
    d.blockStart[k] = at;
    d.blockSize[k] = sizes[k % 4];
    at += sizes[k % 4];
  }
  return d;
}

QString field(QDialog& d, const char* name) { return d.findChild<QLineEdit*>(name)->text(); }

// A memory-editor style list: label "%06X", 16 byte columns, then "ASCII".
void fillDump(CHighlightListCtrl& list) {
  QStringList headers{"Address"};
  for (int i = 0; i < 16; ++i) headers << QString::asprintf("+%X", i);
  headers << "ASCII";
  list.setHeaderLabels(headers);
  list.setColumnWidth(0, 70);
  for (int c = 1; c <= 16; ++c) list.setColumnWidth(c, 30);
  list.setColumnWidth(17, 150);
  for (uint32_t row : {0x1220u, 0x1230u, 0x1240u}) {
    auto* it = new QTreeWidgetItem(&list);
    it->setText(0, QString::asprintf("%06X", row));
    for (int c = 1; c <= 16; ++c) it->setText(c, "88");
    it->setText(17, "WWWWWWWWWWWWWWWW");
  }
}

bool isBlue(QColor c) { return c.blue() > 150 && c.red() < 90 && c.green() < 90; }

int bluePixels(const QImage& img, const QRect& r) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (isBlue(img.pixelColor(x, y))) ++n;
  return n;
}

QRect cell(CHighlightListCtrl& list, int row, int column) {
  const QRect r = list.visualItemRect(list.topLevelItem(row));
  return QRect(list.header()->sectionViewportPosition(column), r.top(), list.header()->sectionSize(column), r.height());
}

}  // namespace

class DeviceDetailDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void fieldsAndBlockList() {
    CDeviceDetailDlg d(device(12));
    QCOMPARE(d.windowTitle(), QString("Device detail"));
    QCOMPARE(field(d, "type"), QString("TEST-DEV"));
    QCOMPARE(field(d, "topAddress"), QString("4000"));
    QCOMPARE(field(d, "size"), QString("400000"));
    QCOMPARE(field(d, "block"), QString("0-11"));
    QCOMPARE(field(d, "vcc"), QString("3.3V"));
    QCOMPARE(field(d, "vpp"), QString("3.3/5V"));
    CHighlightListCtrl* list = d.list();
    QCOMPARE(list->columnCount(), 5);
    const int widths[] = {0, 50, 100, 100, 80};
    for (int c = 0; c < 5; ++c) QCOMPARE(list->columnWidth(c), widths[c]);
    QCOMPARE(list->headerItem()->text(2), QString("Start address"));
    QCOMPARE(list->topLevelItemCount(), 12);
    const QTreeWidgetItem* first = list->topLevelItem(0);
    QCOMPARE(first->text(0), QString());
    QCOMPARE(first->text(1), QString("0"));
    QCOMPARE(first->text(2), QString("4000"));
    QCOMPARE(first->text(3), QString("7FFF"));
    QCOMPARE(first->text(4), QString("16K"));
    QCOMPARE(list->topLevelItem(1)->text(4), QString("64K"));
    QCOMPARE(list->topLevelItem(2)->text(4), QString("1024K"));
    QCOMPARE(list->topLevelItem(3)->text(4), QString("4M"));
    QCOMPARE(list->header()->sectionResizeMode(0), QHeaderView::Fixed);
    QVERIFY(!list->ownerDraw());

    CDeviceDetailDlg one(device(1));
    QCOMPARE(field(one, "block"), QString("0"));
  }

  void changedCellsAreBlueOnlyInTheirColumn() {
    CHighlightListCtrl list;
    list.setOwnerDraw(true);
    fillDump(list);
    list.resize(900, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    list.changedAddresses.insert(0x1235);
    for (int c = 0; c <= 17; ++c) QCOMPARE(list.cellTextColour(1, c) == CHighlightListCtrl::changedColour(), c == 6);
    QImage shot = list.viewport()->grab().toImage();
    QVERIFY(bluePixels(shot, cell(list, 1, 6)) > 0);
    QCOMPARE(bluePixels(shot, cell(list, 1, 5)), 0);
    QCOMPARE(bluePixels(shot, cell(list, 1, 17)), 0);
    QCOMPARE(bluePixels(shot, cell(list, 0, 6)), 0);

    // 0x1240 belongs to the next row.
    list.changedAddresses.clear();
    list.changedAddresses.insert(0x1240);
    list.changedAddresses.insert(0x124F);
    for (int c = 0; c <= 17; ++c) QVERIFY(list.cellTextColour(1, c) != CHighlightListCtrl::changedColour());
    QVERIFY(list.cellTextColour(2, 1) == CHighlightListCtrl::changedColour());
    QVERIFY(list.cellTextColour(2, 16) == CHighlightListCtrl::changedColour());
    QVERIFY(list.cellTextColour(2, 17) != CHighlightListCtrl::changedColour());
    list.viewport()->repaint();
    shot = list.viewport()->grab().toImage();
    QCOMPARE(bluePixels(shot, QRect(0, cell(list, 1, 0).top(), shot.width(), cell(list, 1, 0).height())), 0);
    QCOMPARE(bluePixels(shot, cell(list, 2, 17)), 0);

    // Emptying the set removes all blue.
    list.changedAddresses.clear();
    list.viewport()->repaint();
    shot = list.viewport()->grab().toImage();
    QCOMPARE(bluePixels(shot, shot.rect()), 0);
  }

  void selectedRowCellsAfterABlueCellAreBlack() {
    CHighlightListCtrl list;
    list.setOwnerDraw(true);
    fillDump(list);
    list.changedAddresses.insert(0x1233);
    list.setCurrentItem(list.topLevelItem(1));
    QVERIFY(list.topLevelItem(1)->isSelected());
    const QColor highlightText = list.palette().color(QPalette::HighlightedText);
    QCOMPARE(list.cellTextColour(1, 3), highlightText);
    QCOMPARE(list.cellTextColour(1, 4), CHighlightListCtrl::changedColour());
    QCOMPARE(list.cellTextColour(1, 5), QColor(Qt::black));
    QCOMPARE(list.cellTextColour(1, 17), QColor(Qt::black));
  }

  void columnsCannotBeDragged() {
    CHighlightListCtrl list;
    fillDump(list);
    list.resize(900, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QHeaderView* header = list.header();
    tryToResizeColumn(header, 0, 80);
    QCOMPARE(list.columnWidth(0), 70);
  }
};

static RegisterTest<DeviceDetailDlgTest> registered;

}  // namespace vrx4::test

#include "DeviceDetailDlgTest.moc"
