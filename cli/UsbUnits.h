#pragma once
// The units attached on USB, with their bus path and USB serial number
// string, and a driver that sees only one of them (--unit usb:SERIAL).
#include <memory>
#include <string>
#include <vector>

#include "link/UsbDriver.h"

namespace vrx4::cli {

struct UsbUnit {
  std::string path;    // the link's device path, "/usb/3-1.4"
  std::string serial;  // empty when the device has none or cannot be opened
  bool accessible = true;  // false: the device could not be opened (permissions)
};

// Every attached device with the unit's vendor and product ID, sorted by
// path. Empty when libusb cannot start.
std::vector<UsbUnit> listUsbUnits();

// A transport that passes everything to `inner` but lets the link find only
// the device at `path`.
class OnePathDriver final : public UsbDriver {
 public:
  OnePathDriver(std::unique_ptr<UsbDriver> inner, std::string path)
      : inner_(std::move(inner)), path_(std::move(path)) {}
  std::optional<std::string> enumerateInterface(int index) override;
  UsbHandle open(const std::string& path) override { return inner_->open(path); }
  void close(UsbHandle h) override { inner_->close(h); }
  bool getDeviceDescriptor(UsbHandle device, std::array<uint8_t, 18>& out) override {
    return inner_->getDeviceDescriptor(device, out);
  }
  bool getConfiguration(UsbHandle device, uint32_t& value) override { return inner_->getConfiguration(device, value); }
  void recover(UsbHandle device) override { inner_->recover(device); }
  bool write(UsbHandle pipe, const uint8_t* data, size_t length) override { return inner_->write(pipe, data, length); }
  bool read(UsbHandle pipe, uint8_t* data, size_t maxLength, size_t& got) override {
    return inner_->read(pipe, data, maxLength, got);
  }
  bool peekDeviceDescriptor(const std::string& path, std::array<uint8_t, 18>& out) override {
    return inner_->peekDeviceDescriptor(path, out);
  }
  void setTransferTimeouts(uint32_t writeMs, uint32_t readMs) override { inner_->setTransferTimeouts(writeMs, readMs); }
  size_t drain(UsbHandle pipe) override { return inner_->drain(pipe); }
  UsbAccessProblem accessProblem(uint16_t vendorId, uint16_t productId) override {
    UsbAccessProblem p = inner_->accessProblem(vendorId, productId);
    return p.devicePath == path_ ? p : UsbAccessProblem{};
  }
  void setDeviceChangeHandler(std::function<void()> handler) override {
    inner_->setDeviceChangeHandler(std::move(handler));
  }

 private:
  std::unique_ptr<UsbDriver> inner_;
  std::string path_;
};

}  // namespace vrx4::cli
