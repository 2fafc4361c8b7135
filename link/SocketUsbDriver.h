#pragma once
// The transport to a simulated unit in another process, over a Unix domain
// stream socket (the server is vrx4-unitsim). One unit, one connection for
// the whole run: the device handle and both pipes share it. The connection
// is made on the first enumeration (and retried on later ones until it
// succeeds); once it is lost, whether the simulator closed it, a reply did
// not come whole within the time-out (which bounds each request as a whole)
// or declared more bytes than the request can have, the unit counts as
// unplugged for the rest of the run: the device-change handler runs, enumeration finds nothing and
// every request, the configuration request included, fails. The waits watch
// the program's stop flag: once it is raised a request under way has
// kStopGraceMs more at most and a new one is refused (StopRequest.h), so a
// stalled or dripping unit cannot hold a program that is asked to end.
//
// Messages: type byte, 32-bit little-endian payload length, payload; one
// reply of the same type per request ('D' descriptor, 'C' configuration, 'R'
// recovery, 'W' write to pipe 1, 'I' read from pipe 0, 'X' control text).
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/UsbDriver.h"

namespace vrx4 {

class SocketUsbDriver final : public UsbDriver {
 public:
  explicit SocketUsbDriver(std::string socketPath, int timeoutMs = 10000);
  ~SocketUsbDriver() override;
  SocketUsbDriver(const SocketUsbDriver&) = delete;
  SocketUsbDriver& operator=(const SocketUsbDriver&) = delete;

  // The device path of the unit ("socket:" and the socket path).
  std::string devicePath() const { return "socket:" + socketPath_; }
  bool connected() const;
  // Sends a control message to the simulator; its answer, or none when the
  // connection failed.
  std::optional<std::string> control(const std::string& text);

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
  enum class Kind { Device, PipeIn, PipeOut };
  bool ensureConnected();
  bool connectFailed(int error);  // logs the reason (once per reason); false
  // One request and its reply, both within the time-out; a reply longer
  // than maxReply is refused.
  bool transact(char type, const uint8_t* payload, size_t length, std::vector<uint8_t>& reply, size_t maxReply);
  bool isHandle(UsbHandle h, Kind kind) const;
  // notify false: the program gave up (a stop), no device change is reported.
  void connectionLost(bool notify = true);
  void watch();

  const std::string socketPath_;
  const int timeoutMs_;
  mutable std::mutex mutex_;      // handles, state, handler
  std::mutex ioMutex_;            // one request on the socket at a time
  std::vector<uint8_t> request_;  // the message being sent (under ioMutex_)
  int fd_ = -1;
  bool lost_ = false;
  int lastConnectError_ = 0;
  std::atomic<bool> refusalLogged_{false};
  std::atomic<int64_t> stopSeenAt_{
      0};  // steady-clock ticks when a wait first saw the stop  // errno of the last failed connect, logged once
  std::map<UsbHandle, Kind> handles_;
  UsbHandle nextHandle_ = 1;
  std::function<void()> changeHandler_;
  int wake_[2] = {-1, -1};
  std::thread watcher_;
};

}  // namespace vrx4
