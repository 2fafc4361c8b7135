#include "view/OperationRunner.h"

#include <algorithm>
#include <string>

#include "base/Clock.h"
#include "base/Log.h"
#include "base/Prompter.h"
#include "base/StopRequest.h"
#include "link/Commands.h"

namespace vrx4 {
namespace {

const OperationKind kKinds[kOperationCount] = {
    {"Erase/Program/Verify", "Erasing, Programming and Verifying..."},
    {"Blank", "Blank Checking..."},
    {"Erase", "Erasing..."},
    {"Erase/Program", "Erasing and Programming..."},
    {"Verify", "Verifying..."},
    {"Read", "Reading..."},
};

constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kYellow{255, 255, 0};

const OperationResultStyle kResults[12] = {
    {"", false, {0, 0, 0}},    {"Pass", true, kGreen},      {"Device Err", true, kRed}, {"Contact Err", true, kYellow},
    {"Erase Err", true, kRed}, {"Program Err", true, kRed}, {"Verify Err", true, kRed}, {"Read Err", true, kRed},
    {"Blank Err", true, kRed}, {"ID Err", true, kRed},      {"Memory Err", true, kRed}, {"Load Err", true, kRed},
};

}  // namespace

const OperationKind& operationKind(int index) {
  if (index < 0) index = 0;
  if (index >= kOperationCount) index = kOperationCount - 1;
  return kKinds[index];
}

OperationResultStyle operationResult(uint8_t code) { return code <= 11 ? kResults[code] : kResults[0]; }

const char* operationEndName(OperationEnd end) {
  switch (end) {
    case OperationEnd::Finished:
      return "finished";
    case OperationEnd::Failed:
      return "failed";
    case OperationEnd::Stopped:
      return "stopped";
    case OperationEnd::TimedOut:
      return "timed out";
  }
  return "finished";
}

uint64_t operationDeadlineMs(int operationIndex, uint32_t deviceBytes) {
  // Milliseconds per KiB, in the order of the operation kinds.
  static const uint64_t kPerKiB[kOperationCount] = {130, 10, 30, 100, 30, 30};
  const int i = std::clamp(operationIndex, 0, kOperationCount - 1);
  const uint64_t kib = (uint64_t(deviceBytes) + 1023) / 1024;
  return std::max<uint64_t>(5 * 60 * 1000, 60 * 1000 + kib * kPerKiB[i]);
}

namespace {

// abortOperation, then the status until the busy bit clears, within
// kAbortWaitMs. A stop request does not cut this short: it is the stop.
void abortAndWait(OperationProgress& progress) {
  const StopCleanupScope ending;
  if (!abortOperation()) return;
  const uint64_t until = clock().nowMs() + kAbortWaitMs;
  OperationStatus st;
  while (getOperationStatus(st)) {
    progress.status = st.status;
    if (!(st.status & 0x80)) return;
    if (clock().nowMs() >= until) {
      logProgramLine("the unit still reports busy " + std::to_string(kAbortWaitMs) + " ms after abortOperation");
      return;
    }
    clock().sleepMs(100);
  }
}

}  // namespace

void programmingThreadProc(OperationProgress& progress, const std::function<void()>& done) {
  OperationStatus st;
  OperationEnd end = OperationEnd::Finished;
  const uint64_t limit = operationDeadlineMs(progress.operation, progress.total);
  const uint64_t deadline = clock().nowMs() + limit;
  for (int i = 0; i < 10 && end == OperationEnd::Finished; ++i) {
    if (stopRequestRaised()) {
      end = OperationEnd::Stopped;
    } else if (!getOperationStatus(st)) {
      end = stopRequestRaised() ? OperationEnd::Stopped : OperationEnd::Failed;
    } else {
      clock().sleepMs(100);
    }
  }
  while (end == OperationEnd::Finished) {
    if (stopRequestRaised()) {
      end = OperationEnd::Stopped;
      break;
    }
    if (!getOperationStatus(st)) {
      // A request cut short by a stop is the stop's.
      end = stopRequestRaised() ? OperationEnd::Stopped : OperationEnd::Failed;
      break;
    }
    progress.status = st.status;
    progress.result = st.result;
    progress.position = operationPosition(st.status, progress.total);
    clock().sleepMs(100);
    if (!(st.status & 0x80)) break;
    if (clock().nowMs() >= deadline) end = OperationEnd::TimedOut;
  }
  if (end == OperationEnd::Stopped) {
    logProgramLine("stop requested during the operation: abortOperation sent to the unit");
    abortAndWait(progress);
  } else if (end == OperationEnd::TimedOut) {
    logProgramLine("the operation did not finish within " + std::to_string(limit / 1000) +
                   " s: abortOperation sent to the unit");
    abortAndWait(progress);
    showMessage(kMsgOperationNotFinished, Icon::Stop, Buttons::Ok);
  }
  progress.end = end;
  progress.failed = end == OperationEnd::Finished ? 0 : 1;
  if (done) done();
}

OperationOutcome finishOperation(const OperationProgress& progress) {
  // The worker has already aborted a stopped or overdue operation.
  if (progress.end == OperationEnd::Stopped || progress.end == OperationEnd::TimedOut) return {false, 0};
  if (progress.result == kResultMemory) {
    showMessage(kMsgSystemMemoryError, Icon::Stop, Buttons::Ok);
    abortOperation();
    return {false, 0};
  }
  if (progress.failed == 1) return {false, 0};
  return {true, progress.result};
}

}  // namespace vrx4
