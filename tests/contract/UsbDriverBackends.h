#pragma once
// The implementations of the USB driver interface that the contract test
// runs against, each with a SimulatedUnit behind it. A backend builds its
// transport around the unit it is given; start() returns false (with why)
// when the transport cannot run here, and the test is then skipped.
//
// Adding a transport: a backend class here and one entry in the type list
// of UsbDriverContractTest.cpp.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#include "link/SocketUsbDriver.h"
#include "link/UsbDriver.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedUnit.h"
#include "sim/UnitSocketServer.h"

#ifdef VRX4_CONTRACT_LIBUSB
#include "UmockdevUnit.h"
#include "link/LibUsbDriver.h"
#endif

namespace vrx4::test {

inline std::array<uint8_t, 18> otherDeviceDescriptor() {
  return {18, 1, 0, 2, 0, 0, 0, 8, 0x6D, 0x04, 0x77, 0xC0, 0, 1, 1, 2, 0, 1};
}

// The in-process simulator: an unrelated device, then the unit.
class SimBackend {
 public:
  static constexpr const char* kName = "sim";
  bool start(std::shared_ptr<SimulatedUnit> unit, std::string&) {
    driver_.addOtherDevice(otherDeviceDescriptor());
    path_ = driver_.devicePath(driver_.addUnit(std::move(unit)));
    return true;
  }
  UsbDriver& driver() { return driver_; }
  std::string unitPath() const { return path_; }

 private:
  SimUsbDriver driver_;
  std::string path_;
};

// The unit in another thread behind a Unix socket, as vrx4-unitsim serves it.
class SocketBackend {
 public:
  static constexpr const char* kName = "socket";
  ~SocketBackend() {
    driver_.reset();
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  bool start(std::shared_ptr<SimulatedUnit> unit, std::string& why) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vrx4-contract-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      why = "no temporary folder";
      return false;
    }
    dir_ = pattern;
    const std::string socket = (std::filesystem::path(dir_) / "unit.sock").string();
    server_ = std::make_unique<UnitSocketServer>(std::move(unit), socket);
    if (!server_->listen(why)) return false;
    thread_ = std::thread([this] { server_->serve(); });
    driver_ = std::make_unique<SocketUsbDriver>(socket, 5000);
    return true;
  }
  UsbDriver& driver() { return *driver_; }
  std::string unitPath() const { return driver_->devicePath(); }

 private:
  std::string dir_;
  std::unique_ptr<UnitSocketServer> server_;
  std::thread thread_;
  std::unique_ptr<SocketUsbDriver> driver_;
};

#ifdef VRX4_CONTRACT_LIBUSB
// libusb on emulated devices: an unrelated device on port 1, the unit on 2.
class LibUsbBackend {
 public:
  static constexpr const char* kName = "libusb";
  ~LibUsbBackend() { driver_.reset(); }  // before the testbed goes
  bool start(std::shared_ptr<SimulatedUnit> unit, std::string& why) {
    if (!UmockdevUnit::inMockEnvironment()) {
      why = "not running under umockdev-wrapper";
      return false;
    }
    bed_.addOtherDevice(0x1209, 0x0001, 1);
    path_ = bed_.devicePath(bed_.addUnit(std::move(unit), 2));
    driver_ = std::make_unique<LibUsbDriver>();
    if (!driver_->ready()) {
      why = "libusb did not start";
      return false;
    }
    return true;
  }
  UsbDriver& driver() { return *driver_; }
  std::string unitPath() const { return path_; }

 private:
  UmockdevUnit bed_;
  std::string path_;
  std::unique_ptr<LibUsbDriver> driver_;
};
#endif

}  // namespace vrx4::test
