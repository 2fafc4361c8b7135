// The unit's state files on any bytes: a load either succeeds with buffers
// of their fixed sizes and a flash that fits the target, or reports the file
// as damaged; nothing crashes. The input's first byte chooses which of the
// two files it becomes (the other is a good one).
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "sim/UnitState.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  if (size == 0) return 0;
  static const std::string path = "/tmp/vrx4-fuzz-state-" + std::to_string(::getpid());
  std::string why;
  vrx4::UnitState good;
  good.settings.hasDevice = true;
  vrx4::saveUnitState(path, good, why);
  {
    const std::string target = (data[0] & 1) ? vrx4::unitMemoryPath(path) : path;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
  }
  vrx4::UnitState s;
  if (vrx4::loadUnitState(path, s, why) == vrx4::StateLoad::Loaded) {
    if (s.userBuffer.size() != vrx4::kUnitUserBufferSize || s.bootBuffer.size() != vrx4::kUnitBootBufferSize)
      std::abort();
    if (s.targetPayload.empty() ? !s.targetFlash.empty() : s.targetFlash.size() > vrx4::kUnitUserBufferSize)
      std::abort();
  }
  return 0;
}
