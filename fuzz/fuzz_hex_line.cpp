// Intel HEX lines, one file at a time, against a buffer of exactly the
// area's size: nothing may be stored outside it.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "image/ProgramLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  std::vector<uint8_t> buffer(0x10000, 0xFF);
  vrx4::ParseState st;
  st.areaStart = 0x10000;
  st.areaEnd = 0x1FFFF;
  st.outsideAccepted = 1;
  vrx4::fuzz::forEachLine(data, size, [&](std::string_view line, bool overlong) {
    if (overlong) return false;
    int r = vrx4::parseHexLine(line, buffer, st);
    if (r == vrx4::kLineOk && st.recordFirst != vrx4::kNoAddress &&
        (st.recordFirst < st.areaStart || st.recordLast > st.areaEnd || st.recordLast < st.recordFirst))
      std::abort();
    return r == vrx4::kLineOk;
  });
  return 0;
}
