#pragma once
// The in-process transport: simulated USB devices behind the UsbDriver
// interface. Each device has a path, a device descriptor and a configuration
// value; a device with a SimulatedUnit behind it also has the two pipes.
// Devices can be plugged in and pulled out while the program runs.
//
// A read from a unit that withholds its response (a real stall) waits until
// the read time-out; one from a dripping unit takes the unit's drip time per
// byte. Both waits go by the program's Clock and watch its stop flag: once
// it is raised a read has kStopGraceMs more at most, and a write (a new
// request) is refused (StopRequest.h).
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/UsbDriver.h"
#include "sim/SimulatedUnit.h"

namespace vrx4 {

struct SimDeviceOptions {
  bool openFails = false;        // the device path cannot be opened
  bool descriptorFails = false;  // the descriptor request fails
  bool pipesFail = false;        // its pipe paths cannot be opened
};

class SimUsbDriver final : public UsbDriver {
 public:
  using DeviceOptions = SimDeviceOptions;

  SimUsbDriver() = default;
  // Detaches the units' unplug notifications from this driver.
  ~SimUsbDriver() override;

  // Adds a device with a unit behind it; returns its device number. A unit
  // that detaches itself (SimulatedUnit::detach) is unplugged here.
  int addUnit(std::shared_ptr<SimulatedUnit> unit, DeviceOptions options = {});
  // Adds a device that is not a unit (answers only its descriptor).
  int addOtherDevice(const std::array<uint8_t, 18>& descriptor, DeviceOptions options = {});
  // Pulls a device out: its handles stop working and the change handler runs.
  void unplug(int device);
  std::string devicePath(int device) const;
  int openHandleCount() const;
  // How long a read waits for a response that does not come (10 s).
  void setReadTimeoutMs(uint32_t ms) { readTimeoutMs_ = ms; }

  std::optional<std::string> enumerateInterface(int index) override;
  UsbHandle open(const std::string& path) override;
  void close(UsbHandle h) override;
  bool getDeviceDescriptor(UsbHandle device, std::array<uint8_t, 18>& out) override;
  bool getConfiguration(UsbHandle device, uint32_t& value) override;
  void recover(UsbHandle device) override;
  bool write(UsbHandle pipe, const uint8_t* data, size_t length) override;
  bool read(UsbHandle pipe, uint8_t* data, size_t maxLength, size_t& got) override;
  void setDeviceChangeHandler(std::function<void()> handler) override;

 private:
  struct Device {
    std::string path;
    std::array<uint8_t, 18> descriptor{};
    std::shared_ptr<SimulatedUnit> unit;
    DeviceOptions options;
    bool present = true;
  };
  enum class Kind { Device, PipeIn, PipeOut };
  struct Handle {
    int device;
    Kind kind;
  };
  Device* deviceFor(UsbHandle h, Kind kind, Handle* out = nullptr);
  // Waits `ms` on the clock, or less once the stop flag is raised; false
  // when the stop cut the wait short.
  static bool waitOrStop(uint64_t ms);

  mutable std::mutex mutex_;
  std::vector<Device> devices_;
  std::map<UsbHandle, Handle> handles_;
  UsbHandle nextHandle_ = 1;
  std::function<void()> changeHandler_;
  std::atomic<uint32_t> readTimeoutMs_{10000};
};

}  // namespace vrx4
