#pragma once
// The ID code the unit presents to the target: 36 bytes in the settings record.
#include <cstdint>

namespace vrx4 {

struct IdCode {
  uint8_t idLength = 0;      // bytes in use; the device's idCodeLength
  uint8_t idBytes[35] = {};  // at most the first 32 are used
};
static_assert(sizeof(IdCode) == 36);

}  // namespace vrx4
