#include "cli/UsbUnits.h"

#include <libusb.h>

#include <algorithm>

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
    if (d.idVendor != kUnitVendorId || d.idProduct != kUnitProductId) continue;
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
