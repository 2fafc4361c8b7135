#pragma once
// The transport under the USB pipe link. A driver hands out integer handles
// for opened paths: a device path opens the device itself (descriptor,
// configuration, recovery request), and "<device path>/ifIIIpipePPP" opens
// one pipe of that device for bulk reads (pipe 0, unit to host) or writes
// (pipe 1, host to unit).
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vrx4 {

using UsbHandle = int;
inline constexpr UsbHandle kInvalidHandle = -1;

// Why a present device could not be used, as far as the driver knows.
enum class UsbAccess {
  None,    // nothing known against it
  Denied,  // the system refused to open it for this user
  Busy,    // another program holds its interface
};

struct UsbAccessProblem {
  UsbAccess kind = UsbAccess::None;
  std::string devicePath;    // the driver's path of the device
  std::string node;          // the system's name for it, e.g. /dev/bus/usb/001/004
  bool searchedUsb = false;  // the transport looked on the computer's USB bus
  bool idsPresent = false;   // a device with the IDs is attached (searchedUsb only)
};

class UsbDriver {
 public:
  virtual ~UsbDriver() = default;

  // Path of the device interface with the given member index among the
  // present units of the driver's interface class, or none.
  virtual std::optional<std::string> enumerateInterface(int index) = 0;

  // Opens a device path or a pipe path; kInvalidHandle on failure.
  virtual UsbHandle open(const std::string& path) = 0;
  virtual void close(UsbHandle h) = 0;

  // Device-handle requests.
  virtual bool getDeviceDescriptor(UsbHandle device, std::array<uint8_t, 18>& out) = 0;
  // Current configuration value; false when the request itself fails.
  virtual bool getConfiguration(UsbHandle device, uint32_t& value) = 0;
  // The recovery request after a failed transfer; its result is ignored.
  virtual void recover(UsbHandle device) = 0;

  // Pipe-handle transfers. A write of length 0 sends a zero-length packet.
  // Both return false on failure or time-out; read reports the bytes read
  // (on failure too: what arrived before the transfer failed). A read
  // returns one response frame: a transport that gets the frame in pieces
  // reads on until the frame's own length (bodyLength + 3) is in.
  virtual bool write(UsbHandle pipe, const uint8_t* data, size_t length) = 0;
  virtual bool read(UsbHandle pipe, uint8_t* data, size_t maxLength, size_t& got) = 0;

  // The device descriptor of a listed device, read without opening it
  // (opening wakes devices and may be refused). False when the transport
  // cannot tell; the search then opens the device to ask it.
  virtual bool peekDeviceDescriptor(const std::string& /*devicePath*/, std::array<uint8_t, 18>& /*out*/) {
    return false;
  }

  // The time-outs of the transfers that follow, in milliseconds, chosen by
  // the frame exchange for its command. Transports without time-outs of
  // their own ignore them.
  virtual void setTransferTimeouts(uint32_t /*writeMs*/, uint32_t /*readMs*/) {}

  // Throws away whatever the inbound pipe still holds (short reads until it
  // is empty, bounded), so that a late or oversized response cannot be
  // taken as the answer to the next request. Returns the bytes thrown away.
  virtual size_t drain(UsbHandle /*inPipe*/) { return 0; }

  // Called (on any thread) whenever a device arrives or leaves. The front
  // end forwards it to its GUI thread.
  virtual void setDeviceChangeHandler(std::function<void()> handler) = 0;

  // After a search that found no usable unit: a present device with these
  // IDs that the last attempt to open it, or to claim its interface, failed
  // on for lack of rights or because it was busy. Transports without such
  // failures report None.
  virtual UsbAccessProblem accessProblem(uint16_t /*vendorId*/, uint16_t /*productId*/) { return {}; }
};

// The driver the link uses (process-wide). Must be set before openLink.
UsbDriver* usbDriver();
UsbDriver* setUsbDriver(UsbDriver* driver);

// "<device path>/if%03dpipe%03d", the path of one pipe of a device.
std::string pipePath(const std::string& devicePath, int interfaceNumber, int pipeNumber);

}  // namespace vrx4
