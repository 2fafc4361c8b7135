#pragma once
// The units attached on USB, with their bus path and USB serial number
// string, and a driver that sees only one of them (--unit usb:SERIAL).
#include <memory>
#include <string>
#include <vector>

#include "link/UsbDriver.h"
#include "link/UsbLink.h"

namespace CLI {
class App;
}  // namespace CLI

namespace vrx4::cli {

class Events;

struct UsbUnit {
  std::string path;        // the link's device path, "/usb/3-1.4"
  std::string serial;      // empty when the device has none or cannot be opened
  bool accessible = true;  // false: the device could not be opened (permissions)
};

// Every attached device with the unit's vendor and product ID in use
// (unitUsbId()), sorted by path. Empty when libusb cannot start.
std::vector<UsbUnit> listUsbUnits();

// One attached USB device of any kind, as the system lists it: nothing is
// opened (the strings come from the system's own records).
struct UsbDevice {
  std::string path;  // "/usb/3-1.4"
  UsbId id;
  std::string serial, product, manufacturer;  // empty where unknown
  bool matches = false;                       // has the unit's IDs in use
};
std::vector<UsbDevice> listAllUsbDevices();

// The options of the USB transport, given on the command line.
struct UsbOptions {
  std::string usbId;    // --usb-id VID:PID, empty: not given
  std::string timeout;  // --usb-timeout SECONDS, empty: not given
  double timeoutSeconds = 0;
};
// Registers --usb-id and --usb-timeout as global options.
void addUsbOptions(CLI::App& app, UsbOptions& options);
// Empty when the options are good; otherwise the usage error.
std::string checkUsbOptions(UsbOptions& options);
// Makes the link look for the IDs in use (for a unit on USB) and sets the
// time-outs; returns where the IDs came from (empty when not applied).
std::string applyUsbOptions(const UsbOptions& options, bool unitOnUsb);
// The --version text with the IDs in use (the --usb-id among `args`).
std::string versionWithUsbId(const std::vector<std::string>& args);

// vrx4-cli units --all: every USB device, the unit's marked.
int listUsbDevices(Events& events);

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
    if (p.devicePath == path_) return p;
    UsbAccessProblem none;
    none.searchedUsb = p.searchedUsb;
    none.idsPresent = p.idsPresent;
    return none;
  }
  void setDeviceChangeHandler(std::function<void()> handler) override {
    inner_->setDeviceChangeHandler(std::move(handler));
  }

 private:
  std::unique_ptr<UsbDriver> inner_;
  std::string path_;
};

}  // namespace vrx4::cli
