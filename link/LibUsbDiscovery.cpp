// Discovery: the unit's devices on the bus, their paths, descriptors and
// texts, and why a present unit cannot be opened.
#include "link/LibUsbDriver.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <tuple>

#include "link/LibUsbDriverParts.h"

namespace vrx4 {

namespace {

// Sort key of a device: bus, then port path, then address.
std::tuple<int, std::vector<uint8_t>, int> orderOf(libusb_device* dev) {
  uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, int(sizeof ports));
  return {libusb_get_bus_number(dev), std::vector<uint8_t>(ports, ports + std::max(n, 0)),
          libusb_get_device_address(dev)};
}

// libusb hands the descriptor over parsed into host order; put the wire
// layout back together.
std::array<uint8_t, 18> wireDescriptor(const libusb_device_descriptor& desc) {
  return {desc.bLength,
          desc.bDescriptorType,
          uint8_t(desc.bcdUSB),
          uint8_t(desc.bcdUSB >> 8),
          desc.bDeviceClass,
          desc.bDeviceSubClass,
          desc.bDeviceProtocol,
          desc.bMaxPacketSize0,
          uint8_t(desc.idVendor),
          uint8_t(desc.idVendor >> 8),
          uint8_t(desc.idProduct),
          uint8_t(desc.idProduct >> 8),
          uint8_t(desc.bcdDevice),
          uint8_t(desc.bcdDevice >> 8),
          desc.iManufacturer,
          desc.iProduct,
          desc.iSerialNumber,
          desc.bNumConfigurations};
}

}  // namespace

using namespace usbparts;

std::string LibUsbDriver::devicePathOf(libusb_device* dev) {
  uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, int(sizeof ports));
  std::string path = "/usb/" + std::to_string(libusb_get_bus_number(dev)) + "-";
  if (n <= 0) return path + "0";  // a root hub has no port path
  for (int i = 0; i < n; ++i) {
    if (i) path += '.';
    path += std::to_string(ports[i]);
  }
  return path;
}

std::string LibUsbDriver::deviceText(libusb_device* dev, const char* attribute) {
  // The kernel's name of the device in /sys/bus/usb/devices: "1-2.4", or
  // "usb1" for a root hub.
  uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, int(sizeof ports));
  std::string name;
  if (n <= 0) {
    name = "usb" + std::to_string(libusb_get_bus_number(dev));
  } else {
    name = std::to_string(libusb_get_bus_number(dev)) + "-";
    for (int i = 0; i < n; ++i) name += (i ? "." : "") + std::to_string(ports[i]);
  }
  std::ifstream in("/sys/bus/usb/devices/" + name + "/" + attribute);
  std::string text;
  if (!in || !std::getline(in, text)) return {};
  // Shown on one line: control characters become '?'.
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

std::optional<std::string> LibUsbDriver::enumerateInterface(int index) {
  if (!ctx_ || index < 0) return std::nullopt;
  DeviceList list(ctx_);
  std::vector<libusb_device*> devices;
  for (libusb_device* dev : list) {
    if (ConfigDescriptor(dev).interface(kInterface)) devices.push_back(dev);
  }
  if (size_t(index) >= devices.size()) return std::nullopt;
  std::sort(devices.begin(), devices.end(), [](libusb_device* a, libusb_device* b) { return orderOf(a) < orderOf(b); });
  return devicePathOf(devices[size_t(index)]);
}

bool LibUsbDriver::peekDeviceDescriptor(const std::string& devicePath, std::array<uint8_t, 18>& out) {
  if (!ctx_) return false;
  DeviceList list(ctx_);
  for (libusb_device* dev : list) {
    if (devicePathOf(dev) != devicePath) continue;
    // The descriptor comes from the system's device list: no need to open.
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != LIBUSB_SUCCESS) return false;
    out = wireDescriptor(desc);
    return true;
  }
  return false;
}

bool LibUsbDriver::getDeviceDescriptor(UsbHandle device, std::array<uint8_t, 18>& out) {
  std::shared_ptr<OpenDevice> d = deviceFor(device, Kind::Device);
  if (!d || d->gone) return false;
  libusb_device_descriptor desc{};
  const int r = libusb_get_device_descriptor(d->dev, &desc);
  if (r < 0) {
    logUsb("device descriptor of " + d->path, r);
    return false;
  }
  out = wireDescriptor(desc);
  return true;
}

bool LibUsbDriver::getConfiguration(UsbHandle device, uint32_t& value) {
  std::shared_ptr<OpenDevice> d = deviceFor(device, Kind::Device);
  // A device that left is not asked: the system would answer for whatever
  // device has taken its port since.
  if (!d || d->gone) return false;
  int config = 0;
  const int r = libusb_get_configuration(d->handle, &config);
  if (r < 0) {
    logUsb("configuration of " + d->path, r);
    return false;
  }
  value = uint32_t(config);
  return true;
}

UsbAccessProblem LibUsbDriver::accessProblem(uint16_t vendorId, uint16_t productId) {
  UsbAccessProblem problem;
  if (!ctx_) return problem;
  problem.searchedUsb = true;
  DeviceList list(ctx_);
  std::vector<libusb_device*> devices(list.begin(), list.end());
  std::sort(devices.begin(), devices.end(), [](libusb_device* a, libusb_device* b) { return orderOf(a) < orderOf(b); });
  std::lock_guard lock(mutex_);
  for (libusb_device* dev : devices) {
    // The descriptor comes from the system's device list: no need to open.
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != LIBUSB_SUCCESS) continue;
    if (desc.idVendor != vendorId || desc.idProduct != productId) continue;
    problem.idsPresent = true;
    const std::string path = devicePathOf(dev);
    auto error = lastErrors_.find(path);
    if (error == lastErrors_.end()) continue;
    if (error->second != LIBUSB_ERROR_ACCESS && error->second != LIBUSB_ERROR_BUSY) continue;
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", unsigned(libusb_get_bus_number(dev)),
                  unsigned(libusb_get_device_address(dev)));
    problem.kind = error->second == LIBUSB_ERROR_ACCESS ? UsbAccess::Denied : UsbAccess::Busy;
    problem.devicePath = path;
    problem.node = node;
    return problem;
  }
  return problem;
}

}  // namespace vrx4
