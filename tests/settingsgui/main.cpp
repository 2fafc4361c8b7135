// Runs every dialog test class of this folder in one process.
#include <QApplication>
#include <QtTest>

#include "Tests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int failed = 0;
  for (auto& make : vrx4::test::settingsGuiTests()) {
    std::unique_ptr<QObject> t = make();
    failed |= QTest::qExec(t.get(), argc, argv);
  }
  return failed;
}
