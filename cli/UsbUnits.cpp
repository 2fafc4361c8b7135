#include "cli/UsbUnits.h"

#include <libusb.h>

#include <algorithm>

#include <CLI/CLI.hpp>

#include "app/CommandLine.h"
#include "app/UnitUsbId.h"
#include "base/Version.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "link/FrameExchange.h"
#include "link/LibUsbDriver.h"
#include "link/UsbLink.h"

namespace vrx4::cli {

std::vector<UsbUnit> listUsbUnits() {
  std::vector<UsbUnit> units;
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return units;
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(ctx, &list);
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device* dev = list[i];
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(dev, &d) != 0) continue;
    const UsbId wanted = unitUsbId();
    if (d.idVendor != wanted.vendor || d.idProduct != wanted.product) continue;
    UsbUnit unit;
    unit.path = LibUsbDriver::devicePathOf(dev);
    libusb_device_handle* h = nullptr;
    if (libusb_open(dev, &h) == 0) {
      if (d.iSerialNumber) {
        unsigned char text[256] = {};
        int got = libusb_get_string_descriptor_ascii(h, d.iSerialNumber, text, sizeof text);
        if (got > 0) unit.serial.assign(reinterpret_cast<char*>(text), size_t(got));
      }
      libusb_close(h);
    } else {
      unit.accessible = false;
    }
    units.push_back(unit);
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  libusb_exit(ctx);
  std::sort(units.begin(), units.end(), [](const UsbUnit& a, const UsbUnit& b) { return a.path < b.path; });
  return units;
}

std::vector<UsbDevice> listAllUsbDevices() {
  std::vector<UsbDevice> devices;
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return devices;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(ctx, &list);
  const UsbId wanted = unitUsbId();
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device* dev = list[i];
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(dev, &d) != 0) continue;
    UsbDevice device;
    device.path = LibUsbDriver::devicePathOf(dev);
    device.id = UsbId{d.idVendor, d.idProduct};
    device.serial = LibUsbDriver::deviceText(dev, "serial");
    device.product = LibUsbDriver::deviceText(dev, "product");
    device.manufacturer = LibUsbDriver::deviceText(dev, "manufacturer");
    device.matches = device.id == wanted;
    devices.push_back(device);
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  libusb_exit(ctx);
  std::sort(devices.begin(), devices.end(), [](const UsbDevice& a, const UsbDevice& b) { return a.path < b.path; });
  return devices;
}

void addUsbOptions(CLI::App& app, UsbOptions& options) {
  app.add_option("--usb-id", options.usbId);
  app.add_option("--usb-timeout", options.timeout);
}

std::string checkUsbOptions(UsbOptions& options) {
  UsbId id;
  if (!options.usbId.empty() && !parseUsbId(options.usbId, id)) return usbIdUsageError(options.usbId);
  if (!options.timeout.empty() && !parseUsbTimeout(options.timeout, options.timeoutSeconds))
    return "--usb-timeout '" + options.timeout + "': expected seconds, more than 0 and at most 3600";
  return {};
}

std::string applyUsbOptions(const UsbOptions& options, bool unitOnUsb) {
  if (options.timeoutSeconds > 0) setUsbTimeoutSeconds(options.timeoutSeconds);
  // The simulated units keep the build's IDs.
  return unitOnUsb ? applyUnitUsbId(options.usbId).source : std::string();
}

std::string versionWithUsbId(const std::vector<std::string>& args) {
  std::string usbId;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--usb-id" && i + 1 < args.size()) usbId = args[i + 1];
    if (args[i].rfind("--usb-id=", 0) == 0) usbId = args[i].substr(9);
  }
  UsbId id;
  if (!parseUsbId(usbId, id)) usbId.clear();
  std::vector<std::string> warnings;
  return versionText("vrx4-cli") + usbIdVersionLine(resolveUnitUsbId(usbId, warnings)) + "\n";
}

int listUsbDevices(Events& events) {
  const std::vector<UsbDevice> devices = listAllUsbDevices();
  const std::string wanted = usbIdText(unitUsbId());
  for (const UsbDevice& d : devices) {
    std::string text = (d.matches ? "* " : "  ") + d.path + "  " + usbIdText(d.id);
    if (!d.manufacturer.empty() || !d.product.empty())
      text += "  " + d.manufacturer + (d.manufacturer.empty() || d.product.empty() ? "" : " ") + d.product;
    if (!d.serial.empty()) text += "  serial " + d.serial;
    events.fact("usb_device",
                {{"path", d.path},
                 {"id", usbIdText(d.id)},
                 {"manufacturer", d.manufacturer},
                 {"product", d.product},
                 {"serial", d.serial},
                 {"unit", d.matches}},
                text);
  }
  if (devices.empty()) events.line("no USB device is listed (is libusb able to see the bus?)");
  events.line(std::count_if(devices.begin(), devices.end(), [](const UsbDevice& d) { return d.matches; })
                  ? "* has the unit's IDs " + wanted
                  : "no device has the unit's IDs " + wanted +
                        "; if the unit is one of these, give its IDs with --usb-id VID:PID");
  events.result(0, "", kExitPass, "");
  return kExitPass;
}

std::optional<std::string> OnePathDriver::enumerateInterface(int index) {
  if (index != 0) return std::nullopt;
  // The inner driver lists every unit; only ours is reported.
  for (int i = 0;; ++i) {
    std::optional<std::string> p = inner_->enumerateInterface(i);
    if (!p) return std::nullopt;
    if (*p == path_) return p;
  }
}

}  // namespace vrx4::cli
