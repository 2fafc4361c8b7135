// The waits of the send's completion poll and of the operation poll: each
// ends at its deadline on a unit that stays busy, and at once (after its
// abort, for an operation) when the program's stop flag is raised.
#include <gtest/gtest.h>

#include "ScriptedUnit.h"
#include "base/StopRequest.h"
#include "image/ImageTransfer.h"
#include "link/Commands.h"
#include "view/OperationRunner.h"

namespace vrx4::test {
namespace {

class WaitDeadlineTest : public ScriptedUnitFixture {
 protected:
  void SetUp() override {
    clearStopRequest();
    ScriptedUnitFixture::SetUp();
  }
  void TearDown() override {
    clearStopRequest();
    ScriptedUnitFixture::TearDown();
  }
  // An operation that runs until abortOperation arrives (or forever), and
  // stays busy for `busyAfterAbort` status requests after it.
  void operationRunning(int busyAfterAbort = 0) {
    unit->on(kCmdGetOperationStatus, [this, busyAfterAbort](const uint8_t*, size_t) {
      ++statusRequests;
      if (onStatus) onStatus(statusRequests);
      if (aborted && statusAfterAbort++ >= busyAfterAbort) return ScriptedUnit::ok({100, 0});
      return ScriptedUnit::ok({0x80 | 40, 0});
    });
    unit->on(kCmdAbortOperation, [this](const uint8_t*, size_t) {
      aborted = true;
      return ScriptedUnit::ok();
    });
  }
  int statusRequests = 0;
  int statusAfterAbort = 0;
  bool aborted = false;
  std::function<void(int)> onStatus;
};

TEST(WaitDeadlines, DerivedFromTheWorkAndNeverShort) {
  EXPECT_EQ(operationDeadlineMs(0, 0), 300000u) << "five minutes at least";
  EXPECT_EQ(operationDeadlineMs(1, 0x400000), 300000u) << "a blank check of 4 MiB: the floor";
  EXPECT_EQ(operationDeadlineMs(3, 0x400000), 60000u + 4096u * 100u);
  EXPECT_EQ(operationDeadlineMs(0, 0x400000), 60000u + 4096u * 130u);
  EXPECT_GT(operationDeadlineMs(0, 0x400000), operationDeadlineMs(3, 0x400000));
  EXPECT_GT(operationDeadlineMs(3, 0x400000), operationDeadlineMs(2, 0x400000));
  EXPECT_EQ(operationDeadlineMs(-4, 0x400000), operationDeadlineMs(0, 0x400000)) << "index clamped";
  EXPECT_EQ(operationDeadlineMs(99, 0x400000), operationDeadlineMs(5, 0x400000));
  EXPECT_EQ(sendCompletionDeadlineMs(0), 180000u);
  EXPECT_EQ(sendCompletionDeadlineMs(16384), 60000u + 163840u);
}

TEST_F(WaitDeadlineTest, OperationStillRunningAtTheDeadlineIsAbortedAndSaysSo) {
  operationRunning(2);
  OperationProgress p;
  p.total = 0x400000;
  p.operation = 1;  // Blank: 60 s + 41 s, so the five-minute floor applies
  bool done = false;
  programmingThreadProc(p, [&] { done = true; });
  EXPECT_TRUE(done);
  EXPECT_EQ(p.end, OperationEnd::TimedOut);
  EXPECT_EQ(p.failed, 1u);
  EXPECT_TRUE(aborted);
  EXPECT_EQ(statusAfterAbort, 3) << "polled after the abort until the unit left busy";
  EXPECT_GE(fakeClock->nowMs(), 300000u);
  EXPECT_LT(fakeClock->nowMs(), 300000u + kAbortWaitMs + 1000);
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"T552-VRX4 did not finish the operation."}));
  const OperationOutcome o = finishOperation(p);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.resultCode, 0);
}

TEST_F(WaitDeadlineTest, StopDuringTheOperationAbortsItAndEndsWithoutAMessage) {
  for (int stopAt : {4, 25}) {  // during the warm-up, and while polling
    SCOPED_TRACE(stopAt);
    clearStopRequest();
    statusRequests = statusAfterAbort = 0;
    aborted = false;
    operationRunning(1);
    onStatus = [stopAt](int n) {
      if (n == stopAt) raiseStopRequest();
    };
    OperationProgress p;
    p.total = 0x10000;
    programmingThreadProc(p, {});
    EXPECT_EQ(p.end, OperationEnd::Stopped);
    EXPECT_EQ(p.failed, 1u);
    EXPECT_TRUE(aborted);
    EXPECT_EQ(statusRequests, stopAt + 2) << "no poll after the stop but the abort's";
    EXPECT_TRUE(prompts.texts().empty());
    EXPECT_FALSE(finishOperation(p).ok);
  }
}

TEST_F(WaitDeadlineTest, AUnitThatStaysBusyAfterTheAbortIsLeftWithinTheAbortWait) {
  operationRunning(1 << 30);
  onStatus = [](int n) {
    if (n == 15) raiseStopRequest();
  };
  OperationProgress p;
  p.total = 0x10000;
  const uint64_t before = fakeClock->nowMs();
  programmingThreadProc(p, {});
  EXPECT_EQ(p.end, OperationEnd::Stopped);
  EXPECT_TRUE(aborted);
  EXPECT_LE(fakeClock->nowMs() - before, 1500u + kAbortWaitMs + 200u);
  EXPECT_GE(statusAfterAbort, int(kAbortWaitMs / 100));
}

TEST_F(WaitDeadlineTest, HealthyOperationIsUnchanged) {
  operationRunning();
  onStatus = [this](int n) {
    if (n == 30) aborted = true;  // the unit finishes by itself
  };
  OperationProgress p;
  p.total = 100;
  programmingThreadProc(p, {});
  EXPECT_EQ(p.end, OperationEnd::Finished);
  EXPECT_EQ(p.failed, 0u);
  EXPECT_EQ(unit->count(kCmdAbortOperation), 0);
  EXPECT_EQ(std::string(operationEndName(p.end)), "finished");
}

class SendWaitTest : public WaitDeadlineTest {
 protected:
  void SetUp() override {
    WaitDeadlineTest::SetUp();
    settings.device.userRomStart = 0;
    settings.device.userRomSize = 0x20000;
    settings.device.userRomEnd = 0x1FFFF;
    image = std::make_unique<MemoryImage>();
    image->bankHasData[0] = image->bankHasData[1] = 1;
    unit->on(kCmdWriteDataPage, [this](const uint8_t*, size_t) {
      if (++pages == stopAtPage) raiseStopRequest();
      return ScriptedUnit::ok();
    });
    unit->on(kCmdGetBusyState, [this](const uint8_t*, size_t) {
      ++busyPolls;
      if (busyPolls == stopAtPoll) raiseStopRequest();
      return ScriptedUnit::ok({1});
    });
  }
  void send() {
    const SendPlan plan = prepareSend(progress, ImageArea::User, *image, settings);
    sendImageWorker(progress, plan, *image, settings);
  }
  ProjectSettings settings;
  std::unique_ptr<MemoryImage> image;
  TransferProgress progress;
  int pages = 0, busyPolls = 0, stopAtPage = 0, stopAtPoll = 0;
};

TEST_F(SendWaitTest, UnitBusyPastTheDeadlineFailsTheSendWithAMessage) {
  send();
  EXPECT_EQ(pages, 512);
  EXPECT_TRUE(progress.abandoned());
  EXPECT_EQ(busyPolls, 1800) << "three minutes of 100 ms polls";
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"T552-VRX4 did not finish storing the data."}));
}

TEST_F(SendWaitTest, StopIsTakenAtTheNextPageAndInTheCompletionPoll) {
  stopAtPage = 3;
  send();
  EXPECT_EQ(pages, 3);
  EXPECT_EQ(busyPolls, 0);
  EXPECT_TRUE(progress.abandoned());
  EXPECT_TRUE(prompts.texts().empty());

  clearStopRequest();
  pages = 0;
  stopAtPage = 0;
  stopAtPoll = 5;
  send();
  EXPECT_EQ(pages, 512);
  EXPECT_EQ(busyPolls, 5);
  EXPECT_TRUE(progress.abandoned());
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(SendWaitTest, StopEndsAFetchBeforeTheNextPage) {
  int reads = 0;
  unit->on(kCmdReadDataPage, [&](const uint8_t* p, size_t) {
    if (++reads == 7) raiseStopRequest();
    std::vector<uint8_t> reply = {p[0], p[1]};
    reply.resize(258, 0x11);
    return ScriptedUnit::ok(reply);
  });
  prepareFetch(progress, ImageArea::User, settings);
  fetchImageWorker(progress, ImageArea::User, *image, settings);
  EXPECT_EQ(reads, 7);
  EXPECT_TRUE(progress.abandoned());
}

}  // namespace
}  // namespace vrx4::test
