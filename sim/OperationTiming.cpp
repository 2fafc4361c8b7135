#include "sim/OperationTiming.h"

namespace vrx4 {

namespace {
constexpr double kConnectMs = 300;
}

std::vector<PlannedStep> plannedOperationSteps(uint8_t opCode, const std::vector<PlannedBlock>& blocks) {
  std::vector<PlannedStep> steps;
  steps.push_back({OperationStepKind::Connect, -1, kConnectMs});
  auto add = [&](OperationStepKind k, double perKib, double fixed) {
    for (const PlannedBlock& b : blocks) steps.push_back({k, b.block, fixed + perKib * (b.bytes / 1024.0)});
  };
  using K = OperationStepKind;
  switch (opCode) {
    case 1:
      add(K::Erase, 2, 20);
      add(K::Program, 6, 0);
      add(K::Verify, 2, 0);
      break;
    case 2:
      add(K::Blank, 1, 0);
      break;
    case 3:
      add(K::Erase, 2, 20);
      break;
    case 4:
      add(K::Erase, 2, 20);
      add(K::Program, 6, 0);
      break;
    case 5:
      add(K::Verify, 2, 0);
      break;
    default:
      add(K::Read, 2, 0);
      break;
  }
  return steps;
}

double downloadStoreMs(uint32_t pages) { return 100.0 + pages / 16.0; }

}  // namespace vrx4
