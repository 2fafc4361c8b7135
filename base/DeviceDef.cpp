#include "base/DeviceDef.h"

#include <cstring>

namespace vrx4 {

std::string DeviceDef::name() const { return std::string(deviceName, strnlen(deviceName, sizeof deviceName)); }

void DeviceDef::setName(const std::string& n) {
  std::memset(deviceName, 0, sizeof deviceName);
  std::memcpy(deviceName, n.data(), n.size() < sizeof deviceName ? n.size() : sizeof deviceName);
}

}  // namespace vrx4
