#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cstring>

#include "ScriptedPrompter.h"
#include "Tests.h"
#include "settings/CSetIdDlg.h"
#include "settings/IdCodeRules.h"

namespace vrx4::test {

namespace {

IdCode codeOf(int n) {
  IdCode id;
  id.idLength = uint8_t(n);
  for (int i = 0; i < n; ++i) id.idBytes[i] = uint8_t(0x10 + i);
  return id;
}

QStringList captions(QDialog& d) {
  QStringList l;
  for (QLabel* c : d.findChildren<QLabel*>()) l << c->text();
  return l;
}

}  // namespace

class SetIdDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void sevenBytesOneRowInTheShortWindow() {
    ScriptedPrompter prompts;
    CSetIdDlg seven(codeOf(7));
    CSetIdDlg sixteen(codeOf(16));
    QCOMPARE(seven.fieldCount(), 7);
    QCOMPARE(captions(seven), QStringList({"ID1", "ID2", "ID3", "ID4", "ID5", "ID6", "ID7"}));
    QCOMPARE(seven.height() + 70, sixteen.height());
    for (int i = 0; i < 7; ++i) QCOMPARE(seven.field(i)->geometry().top(), 30);
    QCOMPARE(seven.field(0)->text(), QString("10"));
    QCOMPARE(seven.field(6)->text(), QString("16"));
    QCOMPARE(seven.field(0)->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(seven.field(3)->objectName(), QString("id1003"));
    QVERIFY(prompts.texts().empty());
  }

  void sixteenAndThirtyTwoBytesFillTheirRows() {
    ScriptedPrompter prompts;
    CSetIdDlg sixteen(codeOf(16));
    QCOMPARE(sixteen.fieldCount(), 16);
    QCOMPARE(sixteen.field(7)->geometry().top(), 30);
    QCOMPARE(sixteen.field(8)->geometry().top(), 74);
    QCOMPARE(sixteen.field(8)->geometry().left(), 20);
    CSetIdDlg all(codeOf(32));
    QCOMPARE(all.fieldCount(), 32);
    QCOMPARE(all.field(31)->geometry().top(), 30 + 3 * 44);
    QVERIFY(all.field(31)->geometry().bottom() < all.height());
    QVERIFY(captions(all).contains("ID32"));
    // Every field is checked, the last ones too.
    all.field(30)->setText("XYZ");
    QCOMPARE(prompts.texts(), std::vector<std::string>{"Please input hex one byte code."});
    QCOMPARE(all.field(30)->text(), QString("00"));
  }

  void checksUpperCaseAndReplacement() {
    ScriptedPrompter prompts;
    CSetIdDlg d(codeOf(3));
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    QLineEdit* f = d.field(1);
    f->clear();
    QTest::keyClicks(f, "a");
    QCOMPARE(f->text(), QString("A"));
    QVERIFY(prompts.texts().empty());
    QTest::keyClicks(f, "b");
    QCOMPARE(f->text(), QString("AB"));
    QTest::keyClicks(f, "c");  // a third character
    QCOMPARE(prompts.texts(), std::vector<std::string>{"Please input hex one byte code."});
    QCOMPARE(prompts.prompts()[0].icon, Icon::Exclamation);
    QCOMPARE(f->text(), QString("00"));
    QCOMPARE(f->selectedText(), QString("00"));
    prompts.clear();
    f->clear();
    QTest::keyClicks(f, "g");  // forced to "G", then refused
    QCOMPARE(prompts.texts(), std::vector<std::string>{"Please input hex one byte code."});
    QCOMPARE(f->text(), QString("00"));
    QCOMPARE(f->selectedText(), QString("00"));
    prompts.clear();
    d.field(0)->setText("ff");
    d.field(2)->setText("");  // empty stores 0
    d.findChild<QPushButton*>("ok")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.idCode().idBytes[0], uint8_t(0xFF));
    QCOMPARE(d.idCode().idBytes[1], uint8_t(0x00));
    QCOMPARE(d.idCode().idBytes[2], uint8_t(0x00));
    QCOMPARE(QString::fromStdString(idCodeText(d.idCode())), QString("FF,00,00"));
    QVERIFY(prompts.texts().empty());
  }

  // Typed as an operator would: the dialog opens on ID1 with its byte
  // selected, so the first key replaces it; Tab selects the next field's.
  void fieldsReachedByOpeningOrTabAreSelected() {
    ScriptedPrompter prompts;
    CSetIdDlg d(codeOf(4));
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QCOMPARE(QApplication::focusWidget(), d.field(0));
    QCOMPARE(d.field(0)->selectedText(), QString("10"));
    QTest::keyClicks(QApplication::focusWidget(), "a5");
    QCOMPARE(d.field(0)->text(), QString("A5"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), d.field(1));
    QCOMPARE(d.field(1)->selectedText(), QString("11"));
    QTest::keyClicks(QApplication::focusWidget(), "7");
    QCOMPARE(d.field(1)->text(), QString("7"));
    // A field left with part of its text selected is selected whole when
    // Tab comes back to it.
    d.field(2)->setSelection(0, 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), d.field(2));
    QCOMPARE(d.field(2)->selectedText(), QString("12"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(d.field(1)->selectedText(), QString("7"));
    QTest::keyClicks(QApplication::focusWidget(), "c");
    QVERIFY(prompts.texts().empty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(d.idCode().idBytes[0], uint8_t(0xA5));
    QCOMPARE(d.idCode().idBytes[1], uint8_t(0x0C));
    QCOMPARE(d.idCode().idBytes[2], uint8_t(0x12));
  }

  void lengthZeroShowsNoFieldAndCancelChangesNothing() {
    ScriptedPrompter prompts;
    CSetIdDlg none(codeOf(0));
    QCOMPARE(none.fieldCount(), 0);
    QVERIFY(none.findChildren<QLineEdit*>().isEmpty());
    none.findChild<QPushButton*>("ok")->click();
    QCOMPARE(none.idCode().idLength, uint8_t(0));
    QCOMPARE(QString::fromStdString(idCodeText(none.idCode())), QString());

    const IdCode before = codeOf(5);
    CSetIdDlg d(before);
    d.field(0)->setText("EE");
    d.findChild<QPushButton*>("cancel")->click();
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(std::memcmp(&d.idCode(), &before, sizeof before) == 0);
  }
};

static RegisterTest<SetIdDlgTest> registered;

}  // namespace vrx4::test

#include "SetIdDlgTest.moc"
