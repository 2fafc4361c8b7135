#pragma once
// The real transport: the unit on USB through libusb.
//
// A device path names one device by bus and port path ("/usb/3-1.4"); its
// pipe paths are pipePath(devicePath, 0, 0) (first bulk IN endpoint of
// interface 0) and pipePath(devicePath, 0, 1) (first bulk OUT endpoint).
// Opening the first pipe claims interface 0, closing the last releases it.
// Device arrival and removal come from libusb hotplug where the platform has
// it and from a periodic look at the device list otherwise.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <libusb.h>

#include "link/UsbDriver.h"

namespace vrx4 {

struct LibUsbOptions {
  // Transfer time-outs until the frame exchange sets those of its command.
  unsigned writeTimeoutMs = 10000;
  unsigned readTimeoutMs = 10000;
  unsigned drainTimeoutMs = 50;    // wait of each read that empties the inbound pipe
  unsigned stopGraceMs = 500;      // a transfer is cancelled this long after a stop request
  unsigned pollIntervalMs = 1000;  // device-list check where hotplug is missing
  bool useHotplug = true;          // false: always use the periodic check
};

class LibUsbDriver final : public UsbDriver {
 public:
  explicit LibUsbDriver(LibUsbOptions options = {});
  ~LibUsbDriver() override;
  LibUsbDriver(const LibUsbDriver&) = delete;
  LibUsbDriver& operator=(const LibUsbDriver&) = delete;

  // False when libusb could not be started; every request then fails.
  bool ready() const { return ctx_ != nullptr; }
  // True when device changes come from libusb hotplug.
  bool usesHotplug() const { return hotplugRegistered_; }
  int openHandleCount() const;

  // One look at the device list; calls the change handler and returns true
  // when the set of present devices differs from the previous look. The
  // periodic check runs this; it is public so that a caller can ask at once.
  bool checkForDeviceChange();

  std::optional<std::string> enumerateInterface(int index) override;
  bool peekDeviceDescriptor(const std::string& devicePath, std::array<uint8_t, 18>& out) override;
  void setTransferTimeouts(uint32_t writeMs, uint32_t readMs) override;
  size_t drain(UsbHandle inPipe) override;
  UsbHandle open(const std::string& path) override;
  void close(UsbHandle h) override;
  bool getDeviceDescriptor(UsbHandle device, std::array<uint8_t, 18>& out) override;
  bool getConfiguration(UsbHandle device, uint32_t& value) override;
  void recover(UsbHandle device) override;
  bool write(UsbHandle pipe, const uint8_t* data, size_t length) override;
  bool read(UsbHandle pipe, uint8_t* data, size_t maxLength, size_t& got) override;
  void setDeviceChangeHandler(std::function<void()> handler) override;
  UsbAccessProblem accessProblem(uint16_t vendorId, uint16_t productId) override;

  // The device path of a libusb device: "/usb/<bus>-<port>.<port>...".
  static std::string devicePathOf(libusb_device* dev);
  // A text attribute the system keeps for a device ("serial", "product",
  // "manufacturer"), read without opening the device; empty when unknown.
  static std::string deviceText(libusb_device* dev, const char* attribute);

 private:
  struct OpenDevice;
  enum class Kind { Device, PipeIn, PipeOut };
  struct Handle {
    std::shared_ptr<OpenDevice> device;
    Kind kind;
  };
  std::shared_ptr<OpenDevice> openDevice(const std::string& devicePath);
  std::shared_ptr<OpenDevice> deviceFor(UsbHandle h, Kind kind);
  UsbHandle addHandle(std::shared_ptr<OpenDevice> device, Kind kind);
  int bulk(OpenDevice& d, bool in, uint8_t* data, size_t length, unsigned timeoutMs, size_t& done);
  void markGone(const std::set<std::string>& keys);
  void lostDevice(OpenDevice& d);
  void logPipesOpen(const OpenDevice& d);
  std::set<std::string> presentPaths();
  void notifyChange();
  void eventLoop();
  void pollLoop();
  static int LIBUSB_CALL hotplugCallback(libusb_context* ctx, libusb_device* dev, libusb_hotplug_event event,
                                         void* self);

  LibUsbOptions options_;
  libusb_context* ctx_ = nullptr;

  mutable std::mutex mutex_;  // guards handles_, opened_, nextHandle_, openFailuresLogged_, lastErrors_
  std::map<UsbHandle, Handle> handles_;
  std::map<std::string, std::weak_ptr<OpenDevice>> opened_;
  UsbHandle nextHandle_ = 1;
  std::set<std::string> openFailuresLogged_;
  // The libusb error of the last failed open or claim of each device path
  // (gone again once it opens), for accessProblem().
  std::map<std::string, int> lastErrors_;

  std::mutex handlerMutex_;
  std::function<void()> changeHandler_;

  std::mutex pollMutex_;  // guards lastSeen_
  std::set<std::string> lastSeen_;
  // "<path>@<address>" of the devices that hotplug reported gone, for the
  // event loop to mark (the callback runs inside libusb and only notes them).
  std::mutex leftMutex_;
  std::set<std::string> left_;

  std::atomic<unsigned> writeTimeoutMs_;
  std::atomic<unsigned> readTimeoutMs_;

  bool hotplugRegistered_ = false;
  libusb_hotplug_callback_handle hotplugHandle_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> changePending_{false};
  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  std::thread thread_;
};

}  // namespace vrx4
