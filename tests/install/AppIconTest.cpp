// The program's icon: drawn from the SVG built into the executable, at the
// sizes a desktop asks for, and really drawn (not an empty picture).
#include <QApplication>
#include <QImage>
#include <QtTest>

#include "app/AppIcon.h"

class AppIconTest : public QObject {
  Q_OBJECT

 private slots:
  void iconHasItsSizesAndShowsTheDrawing() {
    const QIcon icon = vrx4::applicationIcon();
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int s : {16, 32, 48, 256}) QVERIFY2(sizes.contains(QSize(s, s)), qPrintable(QString::number(s)));

    const QImage image = icon.pixmap(64, 64).toImage();
    QCOMPARE(image.size(), QSize(64, 64));
    // Transparent corners (the rounded square), the unit's blue near the
    // edge, the amber bolt in the middle.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    const QColor edge = image.pixelColor(32, 4);
    QVERIFY2(edge.blue() > 120 && edge.red() < 80, qPrintable(edge.name()));
    const QColor bolt = image.pixelColor(32, 32);
    QVERIFY2(bolt.red() > 200 && bolt.green() > 120 && bolt.blue() < 100, qPrintable(bolt.name()));
  }
};

QTEST_MAIN(AppIconTest)
#include "AppIconTest.moc"
