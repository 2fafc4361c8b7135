#pragma once
// The test classes of this folder; main() runs each of them.
#include <QObject>
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
  RegisterTest() { settingsGuiTests().push_back([] { return std::make_unique<T>(); }); }
};

}  // namespace vrx4::test
