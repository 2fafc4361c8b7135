#pragma once
// The simulated unit's timing model: how long each step of an operation
// and the storing of a download take at time scale 1. The simulated unit
// runs by it, and a job's time can be estimated from it before any unit
// is asked.
#include <cstdint>
#include <vector>

namespace vrx4 {

enum class OperationStepKind { Connect, Blank, Erase, Program, Verify, Read };

struct PlannedStep {
  OperationStepKind kind;
  int block;  // -1 for the connect step
  double ms;  // at time scale 1
};

struct PlannedBlock {
  int block;
  uint32_t bytes;  // the block's size inside the user ROM
};

// The steps of the operation with unit code `opCode` (1 Erase/Program/Verify,
// 2 Blank, 3 Erase, 4 Erase/Program, 5 Verify, 6 Read) over `blocks`, in the
// order the unit runs them: the connect step, then each kind of step over
// every block.
std::vector<PlannedStep> plannedOperationSteps(uint8_t opCode, const std::vector<PlannedBlock>& blocks);

// How long the unit stays busy storing after the last page of a download
// of `pages` pages.
double downloadStoreMs(uint32_t pages);

}  // namespace vrx4
