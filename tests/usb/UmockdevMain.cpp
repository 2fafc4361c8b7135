// Entry point of the test programs that need emulated USB devices: they only
// mean something under umockdev-wrapper, and report "skipped" (77) otherwise.
#include <gtest/gtest.h>

#include <cstdio>

#include "UmockdevUnit.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!vrx4::test::UmockdevUnit::inMockEnvironment()) {
    std::puts("not running under umockdev-wrapper: skipped");
    return 77;
  }
  return RUN_ALL_TESTS();
}
