#include "app/UnitTransport.h"

#include "link/LibUsbDriver.h"
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
      error = "this build has no socket transport";
      return nullptr;
  }
  error = "unknown transport";
  return nullptr;
}

}  // namespace vrx4
