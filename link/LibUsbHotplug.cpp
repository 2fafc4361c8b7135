// Hotplug: device arrivals and departures, from libusb's hotplug events or
// from a periodic look at the bus, told to the link's handler.
#include "link/LibUsbDriver.h"

#include <chrono>

#include "link/LibUsbDriverParts.h"

namespace vrx4 {

using namespace usbparts;

void LibUsbDriver::setDeviceChangeHandler(std::function<void()> handler) {
  std::lock_guard lock(handlerMutex_);
  changeHandler_ = std::move(handler);
}

void LibUsbDriver::notifyChange() {
  std::function<void()> handler;
  {
    std::lock_guard lock(handlerMutex_);
    handler = changeHandler_;
  }
  if (handler) handler();
}

std::set<std::string> LibUsbDriver::presentPaths() {
  std::set<std::string> paths;
  if (!ctx_) return paths;
  DeviceList list(ctx_);
  // The address changes when a device is pulled out and put back on the
  // same port, so it is part of what is compared.
  for (libusb_device* dev : list) paths.insert(presenceKey(dev));
  return paths;
}

bool LibUsbDriver::checkForDeviceChange() {
  std::set<std::string> now = presentPaths();
  std::set<std::string> vanished;
  {
    std::lock_guard lock(pollMutex_);
    if (now == lastSeen_) return false;
    for (const std::string& key : lastSeen_)
      if (!now.count(key)) vanished.insert(key);
    lastSeen_.swap(now);
  }
  markGone(vanished);
  notifyChange();
  return true;
}

int LIBUSB_CALL LibUsbDriver::hotplugCallback(libusb_context*, libusb_device* dev, libusb_hotplug_event event,
                                              void* self) {
  // Runs inside libusb's event handling with its hotplug lock held: only
  // note the change; the event loop marks the device and calls the handler
  // once libusb is done.
  auto* driver = static_cast<LibUsbDriver*>(self);
  if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT) {
    std::lock_guard lock(driver->leftMutex_);
    driver->left_.insert(presenceKey(dev));
  }
  driver->changePending_ = true;
  return 0;  // stay registered
}

void LibUsbDriver::eventLoop() {
  while (!stop_) {
    timeval tv{1, 0};  // libusb_interrupt_event_handler ends the wait early
    const int r = libusb_handle_events_timeout_completed(ctx_, &tv, nullptr);
    if (changePending_.exchange(false)) {
      std::set<std::string> left;
      {
        std::lock_guard lock(leftMutex_);
        left.swap(left_);
      }
      markGone(left);
      notifyChange();
    }
    if (r < 0 && r != LIBUSB_ERROR_INTERRUPTED && !stop_) {
      logUsb("event handling", r);
      std::unique_lock lock(stopMutex_);
      stopSignal_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_.load(); });
    }
  }
}

void LibUsbDriver::pollLoop() {
  for (;;) {
    {
      std::unique_lock lock(stopMutex_);
      if (stopSignal_.wait_for(lock, std::chrono::milliseconds(options_.pollIntervalMs),
                               [this] { return stop_.load(); }))
        return;
    }
    checkForDeviceChange();
  }
}

}  // namespace vrx4
