// The busy and timing model: busy phases after downloads, the steps of an
// operation and their cost, and how far a running operation has come.
#include "sim/SimulatedProgrammer.h"

#include <cmath>

#include "base/Clock.h"
#include "sim/OperationTiming.h"
#include "sim/SimulatedProgrammerDetail.h"

namespace vrx4 {

using namespace unitsim;

uint64_t SimulatedProgrammer::scaled(double ms) const { return uint64_t(std::ceil(ms * timeScale_)); }

bool SimulatedProgrammer::lockEffective() const {
  return state_.settings.lockBitState != 0 && target_.geometry().lockBitMode != 0;
}

void SimulatedProgrammer::tick(uint8_t command) {
  const uint64_t now = clock().nowMs();
  // Pages still coming belong to the same download: it is written out once,
  // after its last page has been processed.
  if (processing_ && now >= busyUntil_ && command != 0x1C) {
    processing_ = false;
    markDirty(kStateMemory);
  }
  advanceOperation();
}

SimulatedUnit::Reply SimulatedProgrammer::beginOperation(size_t n, uint64_t now) {
  KeptSettings& kept = state_.settings;
  if (n != 0) return Reply::fail(kExec);
  if (!kept.hasDevice || !target_.fitted()) return Reply::fail(kNoTarget);
  const TargetGeometry& g = target_.geometry();
  const bool selectable = g.blockCount > 1 && (g.blockSelectFlags & 0x03) != 0;
  std::vector<int> blocks;
  for (int b = 0; b < g.blockCount; ++b)
    if (!selectable || kept.operationBlockMask.test(b)) blocks.push_back(b);
  std::vector<PlannedBlock> planned;
  for (int b : blocks) planned.push_back({b, target_.blockBytes(b)});
  steps_.clear();
  const uint8_t op = kept.operationCode;
  for (const PlannedStep& p : plannedOperationSteps(op, planned))
    steps_.push_back({Step::Kind(int(p.kind)), p.block, scaled(p.ms)});
  opCode_ = op;
  nextStep_ = 0;
  opStart_ = now;
  opDone_ = 0;
  opTotal_ = 0;
  for (const Step& s : steps_) opTotal_ += s.cost;
  running_ = true;
  opStatus_ = 0x80;
  opResult_ = 0;
  if (op == 6) readArea_ = Area::User;
  advanceOperation();
  return Reply::ok();
}

void SimulatedProgrammer::advanceOperation() {
  if (!running_) return;
  const uint64_t elapsed = clock().nowMs() - opStart_;
  if (runForever_) {
    // Stuck at its last step: the percent stops short of the end.
    const uint64_t pct = opTotal_ ? std::min<uint64_t>(95, elapsed * 100 / opTotal_) : 95;
    opStatus_ = uint8_t(0x80 | pct);
    return;
  }
  while (nextStep_ < steps_.size()) {
    const Step& s = steps_[nextStep_];
    if (opDone_ + s.cost > elapsed) break;
    uint8_t result = 0;
    const bool ok = runStep(s, result);
    opDone_ += s.cost;
    ++nextStep_;
    if (!ok) {
      finishOperation(result);
      return;
    }
  }
  if (nextStep_ == steps_.size()) {
    finishOperation(1);
    return;
  }
  const uint64_t pct = opTotal_ ? std::min<uint64_t>(99, elapsed * 100 / opTotal_) : 99;
  opStatus_ = uint8_t(0x80 | pct);
}

bool SimulatedProgrammer::runStep(const Step& s, uint8_t& result) {
  const TargetGeometry& g = target_.geometry();
  const bool effective = lockEffective();
  switch (s.kind) {
    case Step::Connect: {
      if (!targetConnected_) {
        result = 3;
        return false;
      }
      if (forcedResult_) {
        result = forcedResult_;
        return false;
      }
      if (g.idCodeLength && !target_.idCodeBlank()) {
        const std::vector<uint8_t> held = target_.idCode();
        const std::vector<uint8_t>& given = state_.settings.idCode;
        if (given.size() < held.size() || !std::equal(held.begin(), held.end(), given.begin())) {
          result = 9;
          return false;
        }
      }
      return true;
    }
    case Step::Blank:
      result = 8;
      return target_.blockBlank(s.block);
    case Step::Erase:
      // Erase/Program skips blocks that are blank already.
      if (opCode_ != 3 && target_.blockBlank(s.block)) return true;
      if (effective && target_.lockBits().test(s.block)) {
        result = 4;
        return false;
      }
      target_.eraseBlock(s.block);
      return true;
    case Step::Program: {
      result = 5;
      if (effective && target_.lockBits().test(s.block)) return false;
      if (!target_.programBlock(s.block, state_.userBuffer.data())) return false;
      if (g.lockBitMode == 1 && state_.settings.lockAfterProgramMask.test(s.block)) {
        BlockMask m = target_.lockBits();
        m.set(s.block);
        target_.setLockBits(m);
      }
      return true;
    }
    case Step::Verify:
      result = 6;
      return target_.verifyBlock(s.block, state_.userBuffer.data());
    case Step::Read:
      target_.readBlock(s.block, state_.userBuffer.data());
      return true;
  }
  return true;
}

void SimulatedProgrammer::finishOperation(uint8_t result) {
  running_ = false;
  opResult_ = result;
  const uint64_t pct = opTotal_ ? std::min<uint64_t>(100, opDone_ * 100 / opTotal_) : 100;
  opStatus_ = uint8_t(result == 1 ? 100 : pct);
  markDirty(kStateAll);
}

}  // namespace vrx4
