#include "programs/UnitTransport.h"

#include "app/UnitUsbId.h"
#include "link/FrameExchange.h"

#include "link/LibUsbDriver.h"
#include "link/SocketUsbDriver.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"

namespace vrx4 {

std::unique_ptr<UsbDriver> makeUsbDriver(const UnitChoice& choice, std::string& error) {
  if (choice.usbTimeoutSeconds > 0) setUsbTimeoutSeconds(choice.usbTimeoutSeconds);
  switch (choice.kind) {
    case UnitKind::Sim: {
      auto driver = std::make_unique<SimUsbDriver>();
      // The built-in unit remembers its settings and its target between
      // runs, as the real one does.
      const SimChoice& sim = choice.sim;
      ProgrammerOptions options = sim.keepNothing ? ProgrammerOptions{} : userUnitOptions();
      if (!sim.statePath.empty()) options.statePath = sim.statePath;
      options.freshState = sim.freshState;
      options.startInUpdateMode = sim.updateMode;
      options.firmwareVersion = sim.firmwareVersion;
      driver->addUnit(std::make_shared<SimulatedProgrammer>(options));
      return driver;
    }
    case UnitKind::Usb:
      // The simulated units keep the build's IDs; the real one may have others.
      applyUnitUsbId(choice.usbId);
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
