#pragma once
// Makes the transport that the command line chose. It knows every
// transport, the simulated unit too, so it sits above sim/ and view/.
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "link/UsbDriver.h"

namespace vrx4 {

// The driver for the chosen unit: libusb for "usb", the in-process simulated
// unit for "sim", the simulator process behind a Unix socket for
// "socket:PATH". A driver that cannot reach anything still comes back: the
// link then finds no unit and the program says so. Null (with `error` set)
// only when this build has no such transport.
std::unique_ptr<UsbDriver> makeUsbDriver(const UnitChoice& choice, std::string& error);

}  // namespace vrx4
