#include <gtest/gtest.h>

#include "ScriptedUnit.h"
#include "link/Commands.h"
#include "view/OperationRunner.h"

namespace vrx4::test {
namespace {

class OperationRunnerTest : public ScriptedUnitFixture {
 protected:
  // The unit answers the status requests from a list; the last entry repeats.
  void statuses(std::vector<std::pair<uint8_t, uint8_t>> list) {
    auto shared = std::make_shared<std::vector<std::pair<uint8_t, uint8_t>>>(std::move(list));
    auto index = std::make_shared<size_t>(0);
    unit->on(kCmdGetOperationStatus, [shared, index](const uint8_t*, size_t) {
      auto [s, r] = (*shared)[std::min(*index, shared->size() - 1)];
      ++*index;
      return ScriptedUnit::ok({s, r});
    });
  }
  bool doneCalled = false;
  void run(OperationProgress& p) {
    programmingThreadProc(p, [&] { doneCalled = true; });
  }
};

TEST_F(OperationRunnerTest, IdleUnitGetsTenWarmUpRequestsAndTheNextOneDecides) {
  // Warm-up replies claim "busy, Device Err"; they must not be looked at.
  std::vector<std::pair<uint8_t, uint8_t>> list(10, {0x80 | 5, 2});
  list.push_back({100, 1});
  statuses(list);
  OperationProgress p;
  p.total = 1000;
  run(p);
  EXPECT_TRUE(doneCalled);
  EXPECT_EQ(unit->count(kCmdGetOperationStatus), 11);
  EXPECT_EQ(p.failed, 0u);
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(p.position, 1000u);
  EXPECT_EQ(fakeClock->sleptMs(), 1100u) << "100 ms after each request";
  EXPECT_EQ(finishOperation(p).ok, true);
  EXPECT_EQ(finishOperation(p).resultCode, 1);
}

TEST_F(OperationRunnerTest, PollsUntilTheBusyBitClearsAndDoesNotClampPercent) {
  std::vector<std::pair<uint8_t, uint8_t>> list(10, {0, 0});
  list.push_back({0x80 | 10, 0});
  list.push_back({0x80 | 50, 0});
  list.push_back({120, 6});  // finished, percent above 100
  statuses(list);
  OperationProgress p;
  p.total = 2000;
  run(p);
  EXPECT_EQ(unit->count(kCmdGetOperationStatus), 13);
  EXPECT_EQ(p.position, 2400u);
  EXPECT_GT(p.position, p.total);
  EXPECT_EQ(p.result, 6);
  EXPECT_EQ(operationPosition(0x80 | 127, 4194304), 127u * 4194304u / 100u);
}

TEST_F(OperationRunnerTest, FourMebibyteDeviceReachesExactlyItsSizeAtHundredPercent) {
  statuses({{100, 1}});
  OperationProgress p;
  p.total = 0x400000;
  run(p);
  EXPECT_EQ(p.position, 4194304u);
}

TEST_F(OperationRunnerTest, MemoryErrorShowsItsMessageAndAbortsTheOperation) {
  statuses({{100, 10}});
  OperationProgress p;
  p.total = 100;
  run(p);
  OperationOutcome o = finishOperation(p);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.resultCode, 0);
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"System memory error."}));
  EXPECT_EQ(unit->commands().back(), kCmdAbortOperation);
}

TEST_F(OperationRunnerTest, FailedStatusRequestEndsWithCancelAndNoResult) {
  for (int failAt : {3, 12}) {  // during warm-up, and while polling
    prompts.clear();
    auto n = std::make_shared<int>(0);
    unit->on(kCmdGetOperationStatus, [n, failAt](const uint8_t*, size_t) {
      return ++*n == failAt ? ScriptedUnit::fail(228) : ScriptedUnit::ok({0x80 | 50, 1});
    });
    OperationProgress p;
    p.total = 100;
    run(p);
    EXPECT_EQ(p.failed, 1u) << failAt;
    EXPECT_EQ(*n, failAt);
    OperationOutcome o = finishOperation(p);
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.resultCode, 0);
    EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"No target."}));
  }
}

TEST(OperationResultTable, TextsAndColours) {
  EXPECT_STREQ(operationResult(1).text, "Pass");
  EXPECT_EQ(operationResult(1).background, (Rgb{0, 255, 0}));
  EXPECT_STREQ(operationResult(3).text, "Contact Err");
  EXPECT_EQ(operationResult(3).background, (Rgb{255, 255, 0}));
  const char* red[] = {"Device Err", "Erase Err", "Program Err", "Verify Err", "Read Err",
                       "Blank Err",  "ID Err",    "Memory Err",  "Load Err"};
  const uint8_t redCodes[] = {2, 4, 5, 6, 7, 8, 9, 10, 11};
  for (int i = 0; i < 9; ++i) {
    EXPECT_STREQ(operationResult(redCodes[i]).text, red[i]);
    EXPECT_TRUE(operationResult(redCodes[i]).coloured);
    EXPECT_EQ(operationResult(redCodes[i]).background, (Rgb{255, 0, 0}));
  }
  for (uint8_t none : {0, 12, 200, 255}) {
    EXPECT_STREQ(operationResult(none).text, "");
    EXPECT_FALSE(operationResult(none).coloured);
  }
  EXPECT_STREQ(operationKind(0).progressTitle, "Erasing, Programming and Verifying...");
  EXPECT_STREQ(operationKind(5).label, "Read");
  EXPECT_EQ(operationCode(5), 6);
}

}  // namespace
}  // namespace vrx4::test
