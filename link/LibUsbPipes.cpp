// Pipes and transfers: opening a device and its pipes, bulk reads and
// writes with their time limits, stall recovery, unplugged devices.
#include "link/LibUsbDriver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "base/Log.h"
#include "base/StopRequest.h"
#include "link/FrameExchange.h"
#include "link/LibUsbDriverParts.h"

namespace vrx4 {

namespace {

// Splits "<device path>/ifIIIpipePPP" into its parts; false for any other path.
bool splitPipePath(const std::string& path, std::string& devicePath, int& interfaceNumber, int& pipeNumber) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return false;
  int itf = -1, pipe = -1;
  char tail = 0;
  if (std::sscanf(path.c_str() + slash, "/if%3dpipe%3d%c", &itf, &pipe, &tail) != 2) return false;
  // Only the exact spelling pipePath() produces names a pipe.
  std::string device = path.substr(0, slash);
  if (pipePath(device, itf, pipe) != path) return false;
  devicePath = std::move(device);
  interfaceNumber = itf;
  pipeNumber = pipe;
  return true;
}

const char* speedText(int speed) {
  switch (speed) {
    case LIBUSB_SPEED_LOW:
      return "low speed (1.5 Mbit/s)";
    case LIBUSB_SPEED_FULL:
      return "full speed (12 Mbit/s)";
    case LIBUSB_SPEED_HIGH:
      return "high speed (480 Mbit/s)";
    case LIBUSB_SPEED_SUPER:
      return "super speed (5 Gbit/s)";
    default:
      return "unknown speed";
  }
}

void LIBUSB_CALL transferDone(libusb_transfer* t) { *static_cast<int*>(t->user_data) = 1; }

// At most this many reads empty the inbound pipe, each of up to 8 packets.
constexpr int kDrainReads = 16;

}  // namespace

using namespace usbparts;

int LibUsbDriver::openHandleCount() const {
  std::lock_guard lock(mutex_);
  return int(handles_.size());
}

void LibUsbDriver::setTransferTimeouts(uint32_t writeMs, uint32_t readMs) {
  writeTimeoutMs_ = std::max<uint32_t>(writeMs, 1);
  readTimeoutMs_ = std::max<uint32_t>(readMs, 1);
}

std::shared_ptr<LibUsbDriver::OpenDevice> LibUsbDriver::openDevice(const std::string& devicePath) {
  DeviceList list(ctx_);
  libusb_device* dev = nullptr;
  for (libusb_device* d : list) {
    if (devicePathOf(d) == devicePath) {
      dev = d;
      break;
    }
  }
  if (!dev) return nullptr;

  std::lock_guard lock(mutex_);
  auto known = opened_.find(devicePath);
  if (known != opened_.end()) {
    // Share the open device unless another device has taken its port since.
    std::shared_ptr<OpenDevice> existing = known->second.lock();
    if (existing && existing->dev == dev && !existing->gone) return existing;
    opened_.erase(known);
  }

  auto device = std::make_shared<OpenDevice>();
  const int r = libusb_open(dev, &device->handle);
  if (r < 0) {
    // The search opens every device on the bus, ten times over while it
    // waits for the unit: say once per device why one cannot be opened.
    if (openFailuresLogged_.insert(devicePath + " " + libusb_error_name(r)).second) logUsb("open " + devicePath, r);
    lastErrors_[devicePath] = r;
    device->handle = nullptr;
    return nullptr;
  }
  lastErrors_.erase(devicePath);
  device->path = devicePath;
  device->dev = libusb_get_device(device->handle);
  device->key = presenceKey(device->dev);
  libusb_set_auto_detach_kernel_driver(device->handle, 1);  // unsupported platforms: ignored
  const ConfigDescriptor config(dev);
  if (const libusb_interface_descriptor* itf = config.interface(kInterface)) {
    for (int i = 0; i < itf->bNumEndpoints; ++i) {
      const libusb_endpoint_descriptor& ep = itf->endpoint[i];
      if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
      const bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
      int& slot = in ? device->inEndpoint : device->outEndpoint;
      if (slot >= 0) continue;
      slot = ep.bEndpointAddress;
      // Bits 0..10 are the packet size (high-speed bulk: 512).
      const size_t packet = ep.wMaxPacketSize & 0x7FF;
      (in ? device->inPacket : device->outPacket) = packet ? packet : 64;
    }
  }
  opened_[devicePath] = device;
  return device;
}

UsbHandle LibUsbDriver::addHandle(std::shared_ptr<OpenDevice> device, Kind kind) {
  // Called with mutex_ held.
  const UsbHandle h = nextHandle_++;
  handles_[h] = Handle{std::move(device), kind};
  return h;
}

UsbHandle LibUsbDriver::open(const std::string& path) {
  if (!ctx_) return kInvalidHandle;
  std::string devicePath = path;
  Kind kind = Kind::Device;
  int itf = 0, pipe = 0;
  if (splitPipePath(path, devicePath, itf, pipe)) {
    if (itf != kInterface || pipe < 0 || pipe > 1) {
      logProgramLine("usb: no such pipe: " + path);
      return kInvalidHandle;
    }
    kind = pipe == 0 ? Kind::PipeIn : Kind::PipeOut;
  }
  std::shared_ptr<OpenDevice> device = openDevice(devicePath);
  if (!device) return kInvalidHandle;

  std::lock_guard lock(mutex_);
  if (kind != Kind::Device) {
    const int endpoint = kind == Kind::PipeIn ? device->inEndpoint : device->outEndpoint;
    if (endpoint < 0) {
      logProgramLine("usb: interface 0 of " + devicePath + " has no bulk " + (kind == Kind::PipeIn ? "IN" : "OUT") +
                     " endpoint");
      return kInvalidHandle;
    }
    if (!device->claimed) {
      const int r = libusb_claim_interface(device->handle, kInterface);
      if (r < 0) {
        logUsb("claim interface 0 of " + devicePath, r);
        lastErrors_[devicePath] = r;
        return kInvalidHandle;
      }
      device->claimed = true;
      logPipesOpen(*device);
    }
    ++device->pipesOpen;
  }
  return addHandle(std::move(device), kind);
}

void LibUsbDriver::close(UsbHandle h) {
  std::shared_ptr<OpenDevice> last;  // dropped after the lock is released
  std::lock_guard lock(mutex_);
  auto it = handles_.find(h);
  if (it == handles_.end()) return;
  last = std::move(it->second.device);
  const bool pipe = it->second.kind != Kind::Device;
  handles_.erase(it);
  if (pipe && --last->pipesOpen == 0 && last->claimed) {
    const int r = libusb_release_interface(last->handle, kInterface);
    if (r < 0 && r != LIBUSB_ERROR_NO_DEVICE) logUsb("release interface 0 of " + last->path, r);
    last->claimed = false;
  }
}

std::shared_ptr<LibUsbDriver::OpenDevice> LibUsbDriver::deviceFor(UsbHandle h, Kind kind) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(h);
  if (it == handles_.end() || it->second.kind != kind) return nullptr;
  return it->second.device;
}

void LibUsbDriver::recover(UsbHandle device) {
  std::shared_ptr<OpenDevice> d = deviceFor(device, Kind::Device);
  if (!d || d->gone) return;
  // A halt is cleared only where a transfer really stalled: a clear-halt
  // resets the data toggle, and a unit that does not reset its own would
  // lose the next packet; it also does nothing for a time-out.
  for (const bool in : {true, false}) {
    std::atomic<bool>& stalled = in ? d->inStalled : d->outStalled;
    const int endpoint = in ? d->inEndpoint : d->outEndpoint;
    if (endpoint < 0 || !stalled.exchange(false)) continue;
    const int r = libusb_clear_halt(d->handle, uint8_t(endpoint));
    if (r < 0) logUsb("clear halt of " + d->path, r);
    if (r == LIBUSB_ERROR_NO_DEVICE) lostDevice(*d);
  }
}

int LibUsbDriver::bulk(OpenDevice& d, bool in, uint8_t* data, size_t length, unsigned timeoutMs, size_t& done) {
  using std::chrono::steady_clock;
  done = 0;
  if (length > size_t(INT32_MAX)) return LIBUSB_ERROR_INVALID_PARAM;
  libusb_transfer* t = libusb_alloc_transfer(0);
  if (!t) return LIBUSB_ERROR_NO_MEM;
  uint8_t none = 0;  // a zero-length packet still needs a buffer address
  int completed = 0;
  libusb_fill_bulk_transfer(t, d.handle, uint8_t(in ? d.inEndpoint : d.outEndpoint), length ? data : &none, int(length),
                            &transferDone, &completed, std::max(timeoutMs, 1u));
  int r = libusb_submit_transfer(t);
  if (r < 0) {
    libusb_free_transfer(t);
    if (r == LIBUSB_ERROR_NO_DEVICE) lostDevice(d);
    return r;
  }
  // The wait goes in slices so that a stop request is seen: the transfer is
  // cancelled a short grace after it (time for a last, quick answer).
  std::optional<steady_clock::time_point> stopSeen;
  bool cancelled = false;
  while (!completed) {
    if (!cancelled && stopRequestRaised()) {
      const auto now = steady_clock::now();
      if (!stopSeen) stopSeen = now;
      if (now - *stopSeen >= std::chrono::milliseconds(options_.stopGraceMs)) {
        cancelled = libusb_cancel_transfer(t) == LIBUSB_SUCCESS;
      }
    }
    timeval tv{0, 50000};
    libusb_handle_events_timeout_completed(ctx_, &tv, &completed);
  }
  done = size_t(std::max(t->actual_length, 0));
  switch (t->status) {
    case LIBUSB_TRANSFER_COMPLETED:
      r = LIBUSB_SUCCESS;
      break;
    case LIBUSB_TRANSFER_TIMED_OUT:
      r = LIBUSB_ERROR_TIMEOUT;
      break;
    case LIBUSB_TRANSFER_STALL:
      r = LIBUSB_ERROR_PIPE;
      break;
    case LIBUSB_TRANSFER_NO_DEVICE:
      r = LIBUSB_ERROR_NO_DEVICE;
      break;
    case LIBUSB_TRANSFER_OVERFLOW:
      r = LIBUSB_ERROR_OVERFLOW;
      break;
    case LIBUSB_TRANSFER_CANCELLED:
      r = LIBUSB_ERROR_INTERRUPTED;
      break;
    default:
      r = LIBUSB_ERROR_IO;
      break;
  }
  libusb_free_transfer(t);
  if (r == LIBUSB_ERROR_PIPE) (in ? d.inStalled : d.outStalled) = true;
  if (r == LIBUSB_ERROR_NO_DEVICE) lostDevice(d);
  return r;
}

bool LibUsbDriver::write(UsbHandle pipe, const uint8_t* data, size_t length) {
  if (length && !data) return false;
  std::shared_ptr<OpenDevice> d = deviceFor(pipe, Kind::PipeOut);
  if (!d || d->gone) return false;
  size_t done = 0;
  // libusb takes a non-const buffer for both directions; an OUT transfer
  // only reads it.
  const int r = bulk(*d, false, const_cast<uint8_t*>(data), length, writeTimeoutMs_, done);
  if (r < 0) {
    if (r != LIBUSB_ERROR_INTERRUPTED)
      logUsb(
          "bulk write to " + d->path + " (" + std::to_string(done) + " of " + std::to_string(length) + " bytes sent)",
          r);
    return false;
  }
  if (done != length) {
    logProgramLine("usb: short bulk write (" + std::to_string(done) + " of " + std::to_string(length) + " bytes)");
    return false;
  }
  return true;
}

bool LibUsbDriver::read(UsbHandle pipe, uint8_t* data, size_t maxLength, size_t& got) {
  using std::chrono::steady_clock;
  got = 0;
  if (maxLength && !data) return false;
  std::shared_ptr<OpenDevice> d = deviceFor(pipe, Kind::PipeIn);
  if (!d || d->gone) return false;
  // The unit sends a response as packets of wMaxPacketSize, perhaps without
  // a zero-length packet after one that fills its last packet. So the read
  // takes one packet, learns the frame's length from its first two bytes
  // and asks for exactly the rest, in whole packets (a transfer shorter
  // than a packet could overflow): a complete frame ends the read at once,
  // whatever the transfer's status. One deadline covers the whole frame.
  const size_t packet = d->inPacket;
  const auto deadline = steady_clock::now() + std::chrono::milliseconds(readTimeoutMs_.load());
  size_t frameLength = 0;  // 0: not known yet
  int zeroLengthPackets = 0;
  for (;;) {
    const size_t want = frameLength ? frameLength - got : packet;
    const size_t request = (want + packet - 1) / packet * packet;
    const size_t room = maxLength - got;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
    int r = LIBUSB_ERROR_TIMEOUT;
    size_t n = 0;
    if (left.count() > 0) {
      const bool bounced = request > room;
      if (bounced) d->bounce.resize(request);
      r = bulk(*d, true, bounced ? d->bounce.data() : data + got, request, unsigned(left.count()), n);
      if (bounced && room) std::memcpy(data + got, d->bounce.data(), std::min(n, room));
    }
    got += std::min(n, room);
    if (!frameLength && got >= 2) frameLength = size_t(CommandFrame::bodyLength(data)) + 3;
    if (frameLength && got >= std::min(frameLength, maxLength)) {
      if (frameLength > maxLength) {
        // A response longer than the read: what is left of it must not
        // become the next answer.
        logProgramLine("usb: a " + std::to_string(frameLength) + "-byte response to a " + std::to_string(maxLength) +
                       "-byte read from " + d->path + "; the rest is thrown away");
        drain(pipe);
      }
      return true;
    }
    if (r < 0) {
      if (r != LIBUSB_ERROR_INTERRUPTED)
        logUsb("bulk read from " + d->path + " (" + std::to_string(got) + " bytes in" +
                   (frameLength ? " of " + std::to_string(frameLength) : std::string()) + ")",
               r);
      return false;
    }
    if (n < request) {
      // The zero-length packet that ended the previous response comes
      // before this one: passed over. Any other short packet ends the
      // transfer: the unit sent less than its length word says, and the
      // exchange refuses the frame.
      if (got == 0 && n == 0 && ++zeroLengthPackets <= 4) continue;
      return true;
    }
    if (maxLength < 2 && got >= maxLength) return true;
  }
}

size_t LibUsbDriver::drain(UsbHandle pipe) {
  std::shared_ptr<OpenDevice> d = deviceFor(pipe, Kind::PipeIn);
  if (!d || d->gone) return 0;
  std::vector<uint8_t> buffer(d->inPacket * 8);
  size_t total = 0;
  for (int i = 0; i < kDrainReads && !stopRequestRaised(); ++i) {
    size_t n = 0;
    const int r = bulk(*d, true, buffer.data(), buffer.size(), options_.drainTimeoutMs, n);
    total += n;
    if (r < 0) break;  // the time-out says the pipe is empty
  }
  if (total)
    logProgramLine("usb: threw away " + std::to_string(total) + " bytes left in the inbound pipe of " + d->path);
  return total;
}

void LibUsbDriver::lostDevice(OpenDevice& d) {
  if (d.gone.exchange(true)) return;
  logProgramLine("usb: " + d.path + " is gone");
  notifyChange();
}

void LibUsbDriver::markGone(const std::set<std::string>& keys) {
  std::vector<std::shared_ptr<OpenDevice>> lost;
  {
    std::lock_guard lock(mutex_);
    for (auto& [path, weak] : opened_) {
      std::shared_ptr<OpenDevice> d = weak.lock();
      if (d && keys.count(d->key) && !d->gone.exchange(true)) lost.push_back(d);
    }
  }
  for (const auto& d : lost) logProgramLine("usb: " + d->path + " left the bus");
}

void LibUsbDriver::logPipesOpen(const OpenDevice& d) {
  libusb_device_descriptor desc{};
  libusb_get_device_descriptor(d.dev, &desc);
  const std::string serial = deviceText(d.dev, "serial");
  char text[256];
  std::snprintf(text, sizeof text,
                "usb: pipes open on %s (%04x:%04x, serial \"%s\"): bulk IN 0x%02X and OUT 0x%02X, "
                "%zu-byte packets, %s",
                d.path.c_str(), unsigned(desc.idVendor), unsigned(desc.idProduct), serial.c_str(),
                unsigned(d.inEndpoint), unsigned(d.outEndpoint), d.inPacket, speedText(libusb_get_device_speed(d.dev)));
  logProgramLine(text);
}

}  // namespace vrx4
