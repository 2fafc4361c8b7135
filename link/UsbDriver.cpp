#include "link/UsbDriver.h"

#include <atomic>
#include <cstdio>

namespace vrx4 {
namespace {
std::atomic<UsbDriver*> currentDriver{nullptr};
}

UsbDriver* usbDriver() { return currentDriver.load(); }
UsbDriver* setUsbDriver(UsbDriver* driver) { return currentDriver.exchange(driver); }

std::string pipePath(const std::string& devicePath, int interfaceNumber, int pipeNumber) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, "/if%03dpipe%03d", interfaceNumber & 0xFF, pipeNumber & 0xFF);
  return devicePath + suffix;
}

}  // namespace vrx4
