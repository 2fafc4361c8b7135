#include "sim/SimUsbDriver.h"

#include <algorithm>
#include <cstdio>

#include "base/Clock.h"
#include "base/Log.h"
#include "base/StopRequest.h"

namespace vrx4 {

SimUsbDriver::~SimUsbDriver() {
  std::lock_guard lock(mutex_);
  for (Device& d : devices_)
    if (d.unit) d.unit->setDetachHandler({});
}

int SimUsbDriver::addUnit(std::shared_ptr<SimulatedUnit> unit, DeviceOptions options) {
  std::lock_guard lock(mutex_);
  const int number = int(devices_.size());
  unit->setDetachHandler([this, number] { unplug(number); });
  Device d;
  d.path = "/sim/unit" + std::to_string(devices_.size());
  d.descriptor = unit->deviceDescriptor();
  d.unit = std::move(unit);
  d.options = options;
  devices_.push_back(std::move(d));
  return int(devices_.size()) - 1;
}

int SimUsbDriver::addOtherDevice(const std::array<uint8_t, 18>& descriptor, DeviceOptions options) {
  std::lock_guard lock(mutex_);
  Device d;
  d.path = "/sim/device" + std::to_string(devices_.size());
  d.descriptor = descriptor;
  d.options = options;
  devices_.push_back(std::move(d));
  return int(devices_.size()) - 1;
}

void SimUsbDriver::unplug(int device) {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (device < 0 || device >= int(devices_.size())) return;
    devices_[device].present = false;
    handler = changeHandler_;
  }
  if (handler) handler();
}

std::string SimUsbDriver::devicePath(int device) const {
  std::lock_guard lock(mutex_);
  return device >= 0 && device < int(devices_.size()) ? devices_[device].path : std::string();
}

int SimUsbDriver::openHandleCount() const {
  std::lock_guard lock(mutex_);
  return int(handles_.size());
}

std::optional<std::string> SimUsbDriver::enumerateInterface(int index) {
  std::lock_guard lock(mutex_);
  int member = 0;
  for (const Device& d : devices_) {
    if (!d.present) continue;
    if (member++ == index) return d.path;
  }
  return std::nullopt;
}

UsbHandle SimUsbDriver::open(const std::string& path) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < int(devices_.size()); ++i) {
    Device& d = devices_[i];
    if (!d.present) continue;
    if (path == d.path) {
      if (d.options.openFails) return kInvalidHandle;
      handles_[nextHandle_] = {i, Kind::Device};
      return nextHandle_++;
    }
    if (path == pipePath(d.path, 0, 0) || path == pipePath(d.path, 0, 1)) {
      if (d.options.pipesFail || !d.unit) return kInvalidHandle;
      handles_[nextHandle_] = {i, path == pipePath(d.path, 0, 0) ? Kind::PipeIn : Kind::PipeOut};
      return nextHandle_++;
    }
  }
  return kInvalidHandle;
}

void SimUsbDriver::close(UsbHandle h) {
  std::lock_guard lock(mutex_);
  handles_.erase(h);
}

SimUsbDriver::Device* SimUsbDriver::deviceFor(UsbHandle h, Kind kind, Handle* out) {
  auto it = handles_.find(h);
  if (it == handles_.end() || it->second.kind != kind) return nullptr;
  Device& d = devices_[it->second.device];
  if (!d.present) return nullptr;
  if (out) *out = it->second;
  return &d;
}

bool SimUsbDriver::getDeviceDescriptor(UsbHandle device, std::array<uint8_t, 18>& out) {
  std::lock_guard lock(mutex_);
  Device* d = deviceFor(device, Kind::Device);
  if (!d || d->options.descriptorFails) return false;
  out = d->descriptor;
  return true;
}

bool SimUsbDriver::getConfiguration(UsbHandle device, uint32_t& value) {
  std::lock_guard lock(mutex_);
  Device* d = deviceFor(device, Kind::Device);
  if (!d) return false;
  value = d->unit ? d->unit->configuration() : 1;
  return true;
}

void SimUsbDriver::recover(UsbHandle device) {
  std::shared_ptr<SimulatedUnit> unit;
  {
    std::lock_guard lock(mutex_);
    Device* d = deviceFor(device, Kind::Device);
    if (d) unit = d->unit;
  }
  if (unit) unit->recoveryRequest();
}

bool SimUsbDriver::write(UsbHandle pipe, const uint8_t* data, size_t length) {
  // A new request after a stop is refused (the read of one already sent is
  // not).
  if (newRequestsRefused()) return false;
  std::shared_ptr<SimulatedUnit> unit;
  {
    std::lock_guard lock(mutex_);
    Device* d = deviceFor(pipe, Kind::PipeOut);
    if (d) unit = d->unit;
  }
  return unit && unit->hostWrite(data, length);
}

bool SimUsbDriver::read(UsbHandle pipe, uint8_t* data, size_t maxLength, size_t& got) {
  got = 0;
  std::shared_ptr<SimulatedUnit> unit;
  {
    std::lock_guard lock(mutex_);
    Device* d = deviceFor(pipe, Kind::PipeIn);
    if (d) unit = d->unit;
  }
  if (!unit) return false;
  if (unit->replyWithheld()) {
    const uint32_t timeout = readTimeoutMs_;
    if (waitOrStop(timeout))
      logLine("simulated unit: no reply within " + std::to_string(timeout) + " ms");
    else
      logLine("simulated unit: read given up on a stop request");
    return false;
  }
  if (const unsigned drip = unit->dripMs()) {
    const uint64_t ms = uint64_t(drip) * unit->pendingReplySize();
    if (ms > readTimeoutMs_) {
      waitOrStop(readTimeoutMs_);
      logLine("simulated unit: reply not complete within " + std::to_string(readTimeoutMs_.load()) + " ms");
      return false;
    }
    if (!waitOrStop(ms)) {
      logLine("simulated unit: read given up on a stop request");
      return false;
    }
  }
  return unit->hostRead(data, maxLength, got);
}

bool SimUsbDriver::waitOrStop(uint64_t ms) {
  Clock& c = clock();
  const uint64_t start = c.nowMs();
  uint64_t until = start + ms;
  bool stopped = false;
  for (;;) {
    if (!stopped && stopRequestRaised()) {
      stopped = true;
      until = std::min(until, c.nowMs() + kStopGraceMs);
    }
    const uint64_t now = c.nowMs();
    if (now >= until) return !stopped || until == start + ms;
    c.sleepMs(uint32_t(std::min<uint64_t>(until - now, 50)));
  }
}

void SimUsbDriver::setDeviceChangeHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  changeHandler_ = std::move(handler);
}

}  // namespace vrx4
