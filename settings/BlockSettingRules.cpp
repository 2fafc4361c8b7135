#include "settings/BlockSettingRules.h"

#include <cstdio>

namespace vrx4 {

std::string FormatBlockList(const BlockMask& mask, int first, int last) {
  enum class State { Outside, Single, Run } state = State::Outside;
  std::string out;
  if (first > last) return out;
  for (int n = first; n <= last; ++n) {
    if (mask.test(n)) {
      if (state == State::Outside) {
        out += std::to_string(n);
        state = State::Single;
      } else if (state == State::Single) {
        out += '-';
        state = State::Run;
      }
    } else {
      if (state == State::Single)
        out += ',';
      else if (state == State::Run)
        out += std::to_string(n - 1) + ',';
      state = State::Outside;
    }
  }
  if (state == State::Run)
    out += std::to_string(last);
  else if (state == State::Outside && !out.empty() && out.back() == ',')
    out.pop_back();
  return out;
}

std::string blockAddressText(uint32_t start, uint32_t size) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%05X - %05X", unsigned(start), unsigned(start + size - 1));
  return buf;
}

BlockMask maskAnd(const BlockMask& a, const BlockMask& b) {
  BlockMask m;
  for (int i = 0; i < 8; ++i) m.bytes[i] = uint8_t(a.bytes[i] & b.bytes[i]);
  return m;
}

LockControlStates lockControlStates(uint8_t lockBitMode) {
  LockControlStates s;
  if (lockBitMode == 0) {
    s.allLock = s.allUnlock = s.readLockBits = s.radios = false;
  } else if (lockBitMode == 2) {
    s.allLock = false;
  }
  s.afterLockReadOnly = lockBitMode != 1;
  s.showLockText = lockBitMode == 1;
  return s;
}

int listedBlockCount(const DeviceDef& device) {
  const int n = device.blockCount;
  return n < 0 ? 0 : (n > kMaxBlocks ? kMaxBlocks : n);
}

}  // namespace vrx4
