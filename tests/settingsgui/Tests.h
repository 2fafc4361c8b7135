#pragma once
// The test classes of this folder; main() runs each of them.
#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QObject>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

namespace vrx4::test {

using TestFactory = std::function<std::unique_ptr<QObject>()>;
inline std::vector<TestFactory>& settingsGuiTests() {
  static std::vector<TestFactory> tests;
  return tests;
}

template <typename T>
struct RegisterTest {
  RegisterTest() {
    settingsGuiTests().push_back([] { return std::make_unique<T>(); });
  }
};

// Tries what an operator does to widen a column: drags the divider after
// `column` by `distance` pixels, then double-clicks it.
inline void tryToResizeColumn(QHeaderView* header, int column, int distance) {
  const int divider = header->sectionViewportPosition(column) + header->sectionSize(column) - 1;
  const QPoint from(divider, header->height() / 2), to(divider + distance, header->height() / 2);
  QWidget* viewport = header->viewport();
  QMouseEvent press(QEvent::MouseButtonPress, from, viewport->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton, {});
  QApplication::sendEvent(viewport, &press);
  QMouseEvent move(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, {});
  QApplication::sendEvent(viewport, &move);
  QMouseEvent release(QEvent::MouseButtonRelease, to, viewport->mapToGlobal(to), Qt::LeftButton, Qt::NoButton, {});
  QApplication::sendEvent(viewport, &release);
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, from);
}

}  // namespace vrx4::test
