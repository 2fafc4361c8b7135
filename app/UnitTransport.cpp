#include "app/UnitTransport.h"

#include "link/LibUsbDriver.h"
#include "link/SocketUsbDriver.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"

namespace vrx4 {

std::unique_ptr<UsbDriver> makeUsbDriver(const UnitChoice& choice, std::string& error) {
  switch (choice.kind) {
    case UnitKind::Sim: {
      auto driver = std::make_unique<SimUsbDriver>();
      driver->addUnit(std::make_shared<SimulatedProgrammer>());
      return driver;
    }
    case UnitKind::Usb:
      // A libusb that cannot start still gives a driver: it finds no unit.
      return std::make_unique<LibUsbDriver>();
    case UnitKind::Socket:
      // Connects on the first look for the unit; no simulator, no unit.
      return std::make_unique<SocketUsbDriver>(choice.socketPath);
  }
  error = "unknown transport";
  return nullptr;
}

}  // namespace vrx4
