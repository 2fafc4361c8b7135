// The libusb transport's context and its event thread, started with the
// driver and stopped with it.
#include "link/LibUsbDriver.h"

#include "link/LibUsbDriverParts.h"

namespace vrx4 {

using namespace usbparts;

LibUsbDriver::LibUsbDriver(LibUsbOptions options)
    : options_(options), writeTimeoutMs_(options.writeTimeoutMs), readTimeoutMs_(options.readTimeoutMs) {
  const int r = libusb_init(&ctx_);
  if (r < 0) {
    logUsb("start", r);
    ctx_ = nullptr;
    return;
  }
  lastSeen_ = presentPaths();
  if (options_.useHotplug && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    const int h = libusb_hotplug_register_callback(
        ctx_, libusb_hotplug_event(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        libusb_hotplug_flag(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        &LibUsbDriver::hotplugCallback, this, &hotplugHandle_);
    if (h == LIBUSB_SUCCESS) {
      hotplugRegistered_ = true;
    } else {
      logUsb("hotplug registration (falling back to a periodic check)", h);
    }
  }
  if (hotplugRegistered_) {
    thread_ = std::thread(&LibUsbDriver::eventLoop, this);
  } else {
    thread_ = std::thread(&LibUsbDriver::pollLoop, this);
  }
}

LibUsbDriver::~LibUsbDriver() {
  if (!ctx_) return;
  {
    std::lock_guard lock(stopMutex_);
    stop_ = true;
  }
  stopSignal_.notify_all();
  if (hotplugRegistered_) libusb_interrupt_event_handler(ctx_);
  if (thread_.joinable()) thread_.join();
  if (hotplugRegistered_) libusb_hotplug_deregister_callback(ctx_, hotplugHandle_);
  std::map<UsbHandle, Handle> handles;
  {
    std::lock_guard lock(mutex_);
    handles.swap(handles_);
    opened_.clear();
  }
  handles.clear();  // releases the interfaces and closes the devices
  libusb_exit(ctx_);
}

}  // namespace vrx4
