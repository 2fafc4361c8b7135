#include "view/OperationRunner.h"

#include "base/Clock.h"
#include "base/Prompter.h"
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
    {"", false, {0, 0, 0}},
    {"Pass", true, kGreen},
    {"Device Err", true, kRed},
    {"Contact Err", true, kYellow},
    {"Erase Err", true, kRed},
    {"Program Err", true, kRed},
    {"Verify Err", true, kRed},
    {"Read Err", true, kRed},
    {"Blank Err", true, kRed},
    {"ID Err", true, kRed},
    {"Memory Err", true, kRed},
    {"Load Err", true, kRed},
};

}  // namespace

const OperationKind& operationKind(int index) {
  if (index < 0) index = 0;
  if (index >= kOperationCount) index = kOperationCount - 1;
  return kKinds[index];
}

OperationResultStyle operationResult(uint8_t code) {
  return code <= 11 ? kResults[code] : kResults[0];
}

void programmingThreadProc(OperationProgress& progress, const std::function<void()>& done) {
  OperationStatus st;
  bool failed = false;
  for (int i = 0; i < 10; ++i) {
    if (!getOperationStatus(st)) {
      failed = true;
      break;
    }
    clock().sleepMs(100);
  }
  if (!failed) {
    for (;;) {
      if (!getOperationStatus(st)) {
        failed = true;
        break;
      }
      progress.status = st.status;
      progress.result = st.result;
      progress.position = operationPosition(st.status, progress.total);
      clock().sleepMs(100);
      if (!(st.status & 0x80)) break;
    }
  }
  progress.failed = failed ? 1 : 0;
  if (done) done();
}

OperationOutcome finishOperation(const OperationProgress& progress) {
  if (progress.result == kResultMemory) {
    showMessage(kMsgSystemMemoryError, Icon::Stop, Buttons::Ok);
    abortOperation();
    return {false, 0};
  }
  if (progress.failed == 1) return {false, 0};
  return {true, progress.result};
}

}  // namespace vrx4
