#pragma once
// What the files of LibUsbDriver share: the opened device, the device list
// and configuration of libusb, a device's presence on the bus, the log
// line of a libusb error.
#include <atomic>
#include <string>
#include <vector>

#include "base/Log.h"
#include "link/LibUsbDriver.h"

namespace vrx4 {

namespace usbparts {

inline constexpr int kInterface = 0;

inline void logUsb(const std::string& what, int error) {
  logProgramLine("usb: " + what + ": " + libusb_error_name(error));
}

// The device list of the context, freed (with its references) on every path.
class DeviceList {
 public:
  explicit DeviceList(libusb_context* ctx) {
    const ssize_t n = libusb_get_device_list(ctx, &list_);
    if (n < 0) {
      logUsb("device list", int(n));
      list_ = nullptr;
      return;
    }
    count_ = size_t(n);
  }
  ~DeviceList() {
    if (list_) libusb_free_device_list(list_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  libusb_device* const* begin() const { return list_; }
  libusb_device* const* end() const { return list_ ? list_ + count_ : list_; }

 private:
  libusb_device** list_ = nullptr;
  size_t count_ = 0;
};

// The active configuration, or the first one of an unconfigured device.
class ConfigDescriptor {
 public:
  explicit ConfigDescriptor(libusb_device* dev) {
    if (libusb_get_active_config_descriptor(dev, &config_) != LIBUSB_SUCCESS) {
      config_ = nullptr;
      if (libusb_get_config_descriptor(dev, 0, &config_) != LIBUSB_SUCCESS) config_ = nullptr;
    }
  }
  ~ConfigDescriptor() {
    if (config_) libusb_free_config_descriptor(config_);
  }
  ConfigDescriptor(const ConfigDescriptor&) = delete;
  ConfigDescriptor& operator=(const ConfigDescriptor&) = delete;

  // Alternate setting 0 of the interface with the given number, or null.
  const libusb_interface_descriptor* interface(int number) const {
    if (!config_) return nullptr;
    for (int i = 0; i < config_->bNumInterfaces; ++i) {
      const libusb_interface& itf = config_->interface[i];
      if (itf.num_altsetting > 0 && itf.altsetting[0].bInterfaceNumber == number) return &itf.altsetting[0];
    }
    return nullptr;
  }

 private:
  libusb_config_descriptor* config_ = nullptr;
};

// The device's identity on the bus right now: its port path and the
// address the bus gave it (a new one after every plug-in).
inline std::string presenceKey(libusb_device* dev) {
  return LibUsbDriver::devicePathOf(dev) + "@" + std::to_string(libusb_get_device_address(dev));
}

}  // namespace usbparts

// One opened device, shared by its device handle and its pipe handles; the
// libusb handle is closed when the last of them goes.
struct LibUsbDriver::OpenDevice {
  std::string path;
  libusb_device* dev = nullptr;
  libusb_device_handle* handle = nullptr;
  std::string key;       // presenceKey() at the time it was opened
  int inEndpoint = -1;   // first bulk IN endpoint of interface 0
  int outEndpoint = -1;  // first bulk OUT endpoint of interface 0
  size_t inPacket = 64;  // wMaxPacketSize of each
  size_t outPacket = 64;
  int pipesOpen = 0;     // guarded by the driver's mutex
  bool claimed = false;  // likewise
  // Unplugged (a hotplug "left" event, a vanished device-list entry or a
  // LIBUSB_ERROR_NO_DEVICE): every request fails from now on, even when
  // another device sits on the same port.
  std::atomic<bool> gone{false};
  // A transfer on the endpoint ended in a stall: the recovery clears it.
  std::atomic<bool> inStalled{false};
  std::atomic<bool> outStalled{false};
  std::vector<uint8_t> bounce;  // reads are one at a time (the link's rule)

  ~OpenDevice() {
    if (claimed) {
      const int r = libusb_release_interface(handle, usbparts::kInterface);
      if (r < 0 && r != LIBUSB_ERROR_NO_DEVICE) usbparts::logUsb("release interface of " + path, r);
    }
    if (handle) libusb_close(handle);
  }
};

}  // namespace vrx4
