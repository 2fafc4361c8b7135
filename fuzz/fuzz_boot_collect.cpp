// The boot file reader's collecting mode: addresses modulo 64 KiB into a
// 64 KiB buffer, running minimum and maximum, first termination ends it.
#include <vector>

#include "FuzzSupport.h"
#include "image/ProgramLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  std::vector<uint8_t> buffer(0x10000, 0xFF);
  vrx4::ParseState st;
  st.collectMode = 1;
  st.areaStart = 0xFFFFFFFF;
  st.areaEnd = 0;
  bool any = false;
  vrx4::fuzz::forEachLine(data, size, [&](std::string_view line, bool overlong) {
    if (overlong) return false;
    uint32_t lo = st.areaStart, hi = st.areaEnd;
    int r = vrx4::parseSRecordLine(line, buffer, st);
    if (st.areaStart > lo || st.areaEnd < hi) std::abort();  // bounds only widen
    any = any || st.areaStart != lo || st.areaEnd != hi;
    return r == vrx4::kLineOk;
  });
  if (any && st.areaStart > st.areaEnd) std::abort();
  return 0;
}
