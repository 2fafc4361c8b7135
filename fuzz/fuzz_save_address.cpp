// The save-address grammar: whatever the text, an accepted result holds
// only pairs inside the area with the end not below the start.
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "FuzzSupport.h"
#include "image/ProgramSaver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  if (size < 8) return 0;
  uint32_t low, high;
  std::memcpy(&low, data, 4);
  std::memcpy(&high, data + 4, 4);
  std::string_view text(reinterpret_cast<const char*>(data + 8), size - 8);
  vrx4::SaveRanges r{};
  if (!vrx4::parseSaveAddress(text, low, high, r)) return 0;
  bool blank = text.find_first_not_of(" \t") == std::string_view::npos;
  for (size_t k = 0; k < r.size(); ++k) {
    const vrx4::SaveRange& p = r[k];
    if (blank) {
      if (p.start != 0 || p.end != 0) std::abort();
      continue;
    }
    if (p.start == 0 && p.end == 0) continue;  // unused (or a lone 0 inside the area)
    if (p.start < low || p.end > high || p.end < p.start) std::abort();
  }
  return 0;
}
