// The unit's state files on any bytes: a load either succeeds with buffers
// of their fixed sizes and a flash that fits the target, or reports the file
// as damaged; nothing crashes. The input's first byte chooses which of the
// two files it becomes (bit 0; the other is a good one) and how: with bit 1
// set the bytes are the whole file, otherwise they are the sections and
// the target seals them with the file's magic, version and checksum, so
// that the section parsers are reached.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "sim/UnitState.h"

namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

std::vector<char> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  if (size == 0) return 0;
  static const std::string path = "/tmp/vrx4-fuzz-state-" + std::to_string(::getpid());
  std::string why;
  // The good pair is made once and then written back plainly before each
  // input (a damaged file is moved aside by the load): a save syncs to the
  // disk, which would slow every run down to a crawl.
  static const std::vector<char> goodMain = [&] {
    vrx4::UnitState good;
    good.settings.hasDevice = true;
    vrx4::saveUnitState(path, good, why);
    return readFile(path);
  }();
  static const std::vector<char> goodMemory = readFile(vrx4::unitMemoryPath(path));
  writeFile(path, goodMain.data(), goodMain.size());
  writeFile(vrx4::unitMemoryPath(path), goodMemory.data(), goodMemory.size());
  const bool memoryFile = data[0] & 1;
  const bool raw = data[0] & 2;
  std::vector<uint8_t> file;
  if (raw) {
    file.assign(data + 1, data + size);
  } else {
    static const char kMain[8] = {'V', 'R', 'X', '4', 'U', 'N', 'I', 'T'};
    static const char kMemory[8] = {'V', 'R', 'X', '4', 'U', 'M', 'E', 'M'};
    const char* magic = memoryFile ? kMemory : kMain;
    file.assign(magic, magic + 8);
    put32(file, 1);  // format version
    file.insert(file.end(), data + 1, data + size);
    put32(file, vrx4::crc32(file.data(), file.size()));
  }
  writeFile(memoryFile ? vrx4::unitMemoryPath(path) : path, file.data(), file.size());
  vrx4::UnitState s;
  if (vrx4::loadUnitState(path, s, why) == vrx4::StateLoad::Loaded) {
    if (s.userBuffer.size() != vrx4::kUnitUserBufferSize || s.bootBuffer.size() != vrx4::kUnitBootBufferSize)
      std::abort();
    if (s.targetPayload.empty() ? !s.targetFlash.empty() : s.targetFlash.size() > vrx4::kUnitUserBufferSize)
      std::abort();
  }
  return 0;
}
