#include "link/LibUsbDriver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <tuple>

#include "base/Log.h"
#include "base/StopRequest.h"
#include "link/FrameExchange.h"

namespace vrx4 {

namespace {

constexpr int kInterface = 0;

void logUsb(const std::string& what, int error) {
  logProgramLine("usb: " + what + ": " + libusb_error_name(error));
}

// The device list of the context, freed (with its references) on every path.
class DeviceList {
 public:
  explicit DeviceList(libusb_context* ctx) {
    const ssize_t n = libusb_get_device_list(ctx, &list_);
    if (n < 0) {
      logUsb("device list", int(n));
      list_ = nullptr;
      return;
    }
    count_ = size_t(n);
  }
  ~DeviceList() {
    if (list_) libusb_free_device_list(list_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  libusb_device* const* begin() const { return list_; }
  libusb_device* const* end() const { return list_ ? list_ + count_ : list_; }

 private:
  libusb_device** list_ = nullptr;
  size_t count_ = 0;
};

// The active configuration, or the first one of an unconfigured device.
class ConfigDescriptor {
 public:
  explicit ConfigDescriptor(libusb_device* dev) {
    if (libusb_get_active_config_descriptor(dev, &config_) != LIBUSB_SUCCESS) {
      config_ = nullptr;
      if (libusb_get_config_descriptor(dev, 0, &config_) != LIBUSB_SUCCESS) config_ = nullptr;
    }
  }
  ~ConfigDescriptor() {
    if (config_) libusb_free_config_descriptor(config_);
  }
  ConfigDescriptor(const ConfigDescriptor&) = delete;
  ConfigDescriptor& operator=(const ConfigDescriptor&) = delete;

  // Alternate setting 0 of the interface with the given number, or null.
  const libusb_interface_descriptor* interface(int number) const {
    if (!config_) return nullptr;
    for (int i = 0; i < config_->bNumInterfaces; ++i) {
      const libusb_interface& itf = config_->interface[i];
      if (itf.num_altsetting > 0 && itf.altsetting[0].bInterfaceNumber == number)
        return &itf.altsetting[0];
    }
    return nullptr;
  }

 private:
  libusb_config_descriptor* config_ = nullptr;
};

// Sort key of a device: bus, then port path, then address.
std::tuple<int, std::vector<uint8_t>, int> orderOf(libusb_device* dev) {
  uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, int(sizeof ports));
  return {libusb_get_bus_number(dev), std::vector<uint8_t>(ports, ports + std::max(n, 0)),
          libusb_get_device_address(dev)};
}

// Splits "<device path>/ifIIIpipePPP" into its parts; false for any other path.
bool splitPipePath(const std::string& path, std::string& devicePath, int& interfaceNumber,
                   int& pipeNumber) {
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

// The device's identity on the bus right now: its port path and the
// address the bus gave it (a new one after every plug-in).
std::string presenceKey(libusb_device* dev) {
  return LibUsbDriver::devicePathOf(dev) + "@" + std::to_string(libusb_get_device_address(dev));
}

// libusb hands the descriptor over parsed into host order; put the wire
// layout back together.
std::array<uint8_t, 18> wireDescriptor(const libusb_device_descriptor& desc) {
  return {desc.bLength, desc.bDescriptorType, uint8_t(desc.bcdUSB), uint8_t(desc.bcdUSB >> 8),
          desc.bDeviceClass, desc.bDeviceSubClass, desc.bDeviceProtocol, desc.bMaxPacketSize0,
          uint8_t(desc.idVendor), uint8_t(desc.idVendor >> 8),
          uint8_t(desc.idProduct), uint8_t(desc.idProduct >> 8),
          uint8_t(desc.bcdDevice), uint8_t(desc.bcdDevice >> 8),
          desc.iManufacturer, desc.iProduct, desc.iSerialNumber, desc.bNumConfigurations};
}

const char* speedText(int speed) {
  switch (speed) {
    case LIBUSB_SPEED_LOW: return "low speed (1.5 Mbit/s)";
    case LIBUSB_SPEED_FULL: return "full speed (12 Mbit/s)";
    case LIBUSB_SPEED_HIGH: return "high speed (480 Mbit/s)";
    case LIBUSB_SPEED_SUPER: return "super speed (5 Gbit/s)";
    default: return "unknown speed";
  }
}

void LIBUSB_CALL transferDone(libusb_transfer* t) { *static_cast<int*>(t->user_data) = 1; }

// At most this many reads empty the inbound pipe, each of up to 8 packets.
constexpr int kDrainReads = 16;

}  // namespace

// One opened device, shared by its device handle and its pipe handles; the
// libusb handle is closed when the last of them goes.
struct LibUsbDriver::OpenDevice {
  std::string path;
  libusb_device* dev = nullptr;
  libusb_device_handle* handle = nullptr;
  std::string key;       // presenceKey() at the time it was opened
  int inEndpoint = -1;   // first bulk IN endpoint of interface 0
  int outEndpoint = -1;  // first bulk OUT endpoint of interface 0
  size_t inPacket = 64;  // wMaxPacketSize of each
  size_t outPacket = 64;
  int pipesOpen = 0;     // guarded by the driver's mutex
  bool claimed = false;  // likewise
  // Unplugged (a hotplug "left" event, a vanished device-list entry or a
  // LIBUSB_ERROR_NO_DEVICE): every request fails from now on, even when
  // another device sits on the same port.
  std::atomic<bool> gone{false};
  // A transfer on the endpoint ended in a stall: the recovery clears it.
  std::atomic<bool> inStalled{false};
  std::atomic<bool> outStalled{false};
  std::vector<uint8_t> bounce;  // reads are one at a time (the link's rule)

  ~OpenDevice() {
    if (claimed) {
      const int r = libusb_release_interface(handle, kInterface);
      if (r < 0 && r != LIBUSB_ERROR_NO_DEVICE) logUsb("release interface of " + path, r);
    }
    if (handle) libusb_close(handle);
  }
};

LibUsbDriver::LibUsbDriver(LibUsbOptions options)
    : options_(options), writeTimeoutMs_(options.writeTimeoutMs), readTimeoutMs_(options.readTimeoutMs) {
  const int r = libusb_init(&ctx_);
  if (r < 0) {
    logUsb("start", r);
    ctx_ = nullptr;
    return;
  }
  lastSeen_ = presentPaths();
  if (options_.useHotplug && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    const int h = libusb_hotplug_register_callback(
        ctx_, libusb_hotplug_event(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
        libusb_hotplug_flag(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        LIBUSB_HOTPLUG_MATCH_ANY, &LibUsbDriver::hotplugCallback, this, &hotplugHandle_);
    if (h == LIBUSB_SUCCESS) {
      hotplugRegistered_ = true;
    } else {
      logUsb("hotplug registration (falling back to a periodic check)", h);
    }
  }
  if (hotplugRegistered_) {
    thread_ = std::thread(&LibUsbDriver::eventLoop, this);
  } else {
    thread_ = std::thread(&LibUsbDriver::pollLoop, this);
  }
}

LibUsbDriver::~LibUsbDriver() {
  if (!ctx_) return;
  {
    std::lock_guard lock(stopMutex_);
    stop_ = true;
  }
  stopSignal_.notify_all();
  if (hotplugRegistered_) libusb_interrupt_event_handler(ctx_);
  if (thread_.joinable()) thread_.join();
  if (hotplugRegistered_) libusb_hotplug_deregister_callback(ctx_, hotplugHandle_);
  std::map<UsbHandle, Handle> handles;
  {
    std::lock_guard lock(mutex_);
    handles.swap(handles_);
    opened_.clear();
  }
  handles.clear();  // releases the interfaces and closes the devices
  libusb_exit(ctx_);
}

std::string LibUsbDriver::devicePathOf(libusb_device* dev) {
  uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, int(sizeof ports));
  std::string path = "/usb/" + std::to_string(libusb_get_bus_number(dev)) + "-";
  if (n <= 0) return path + "0";  // a root hub has no port path
  for (int i = 0; i < n; ++i) {
    if (i) path += '.';
    path += std::to_string(ports[i]);
  }
  return path;
}

std::string LibUsbDriver::deviceText(libusb_device* dev, const char* attribute) {
  // The kernel's name of the device in /sys/bus/usb/devices: "1-2.4", or
  // "usb1" for a root hub.
  uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, int(sizeof ports));
  std::string name;
  if (n <= 0) {
    name = "usb" + std::to_string(libusb_get_bus_number(dev));
  } else {
    name = std::to_string(libusb_get_bus_number(dev)) + "-";
    for (int i = 0; i < n; ++i) name += (i ? "." : "") + std::to_string(ports[i]);
  }
  std::ifstream in("/sys/bus/usb/devices/" + name + "/" + attribute);
  std::string text;
  if (!in || !std::getline(in, text)) return {};
  // Shown on one line: control characters become '?'.
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

int LibUsbDriver::openHandleCount() const {
  std::lock_guard lock(mutex_);
  return int(handles_.size());
}

std::optional<std::string> LibUsbDriver::enumerateInterface(int index) {
  if (!ctx_ || index < 0) return std::nullopt;
  DeviceList list(ctx_);
  std::vector<libusb_device*> devices;
  for (libusb_device* dev : list) {
    if (ConfigDescriptor(dev).interface(kInterface)) devices.push_back(dev);
  }
  if (size_t(index) >= devices.size()) return std::nullopt;
  std::sort(devices.begin(), devices.end(),
            [](libusb_device* a, libusb_device* b) { return orderOf(a) < orderOf(b); });
  return devicePathOf(devices[size_t(index)]);
}

bool LibUsbDriver::peekDeviceDescriptor(const std::string& devicePath, std::array<uint8_t, 18>& out) {
  if (!ctx_) return false;
  DeviceList list(ctx_);
  for (libusb_device* dev : list) {
    if (devicePathOf(dev) != devicePath) continue;
    // The descriptor comes from the system's device list: no need to open.
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != LIBUSB_SUCCESS) return false;
    out = wireDescriptor(desc);
    return true;
  }
  return false;
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
    if (openFailuresLogged_.insert(devicePath + " " + libusb_error_name(r)).second)
      logUsb("open " + devicePath, r);
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
      logProgramLine("usb: interface 0 of " + devicePath + " has no bulk " +
              (kind == Kind::PipeIn ? "IN" : "OUT") + " endpoint");
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

bool LibUsbDriver::getDeviceDescriptor(UsbHandle device, std::array<uint8_t, 18>& out) {
  std::shared_ptr<OpenDevice> d = deviceFor(device, Kind::Device);
  if (!d || d->gone) return false;
  libusb_device_descriptor desc{};
  const int r = libusb_get_device_descriptor(d->dev, &desc);
  if (r < 0) {
    logUsb("device descriptor of " + d->path, r);
    return false;
  }
  out = wireDescriptor(desc);
  return true;
}

bool LibUsbDriver::getConfiguration(UsbHandle device, uint32_t& value) {
  std::shared_ptr<OpenDevice> d = deviceFor(device, Kind::Device);
  // A device that left is not asked: the system would answer for whatever
  // device has taken its port since.
  if (!d || d->gone) return false;
  int config = 0;
  const int r = libusb_get_configuration(d->handle, &config);
  if (r < 0) {
    logUsb("configuration of " + d->path, r);
    return false;
  }
  value = uint32_t(config);
  return true;
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
  libusb_fill_bulk_transfer(t, d.handle, uint8_t(in ? d.inEndpoint : d.outEndpoint), length ? data : &none,
                            int(length), &transferDone, &completed, std::max(timeoutMs, 1u));
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
    case LIBUSB_TRANSFER_COMPLETED: r = LIBUSB_SUCCESS; break;
    case LIBUSB_TRANSFER_TIMED_OUT: r = LIBUSB_ERROR_TIMEOUT; break;
    case LIBUSB_TRANSFER_STALL: r = LIBUSB_ERROR_PIPE; break;
    case LIBUSB_TRANSFER_NO_DEVICE: r = LIBUSB_ERROR_NO_DEVICE; break;
    case LIBUSB_TRANSFER_OVERFLOW: r = LIBUSB_ERROR_OVERFLOW; break;
    case LIBUSB_TRANSFER_CANCELLED: r = LIBUSB_ERROR_INTERRUPTED; break;
    default: r = LIBUSB_ERROR_IO; break;
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
      logUsb("bulk write to " + d->path + " (" + std::to_string(done) + " of " + std::to_string(length) +
                 " bytes sent)", r);
    return false;
  }
  if (done != length) {
    logProgramLine("usb: short bulk write (" + std::to_string(done) + " of " +
            std::to_string(length) + " bytes)");
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
        logProgramLine("usb: a " + std::to_string(frameLength) + "-byte response to a " +
                       std::to_string(maxLength) + "-byte read from " + d->path + "; the rest is thrown away");
        drain(pipe);
      }
      return true;
    }
    if (r < 0) {
      if (r != LIBUSB_ERROR_INTERRUPTED)
        logUsb("bulk read from " + d->path + " (" + std::to_string(got) + " bytes in" +
                   (frameLength ? " of " + std::to_string(frameLength) : std::string()) + ")", r);
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
  if (total) logProgramLine("usb: threw away " + std::to_string(total) + " bytes left in the inbound pipe of " + d->path);
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
                unsigned(d.inEndpoint), unsigned(d.outEndpoint), d.inPacket,
                speedText(libusb_get_device_speed(d.dev)));
  logProgramLine(text);
}

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

UsbAccessProblem LibUsbDriver::accessProblem(uint16_t vendorId, uint16_t productId) {
  UsbAccessProblem problem;
  if (!ctx_) return problem;
  problem.searchedUsb = true;
  DeviceList list(ctx_);
  std::vector<libusb_device*> devices(list.begin(), list.end());
  std::sort(devices.begin(), devices.end(),
            [](libusb_device* a, libusb_device* b) { return orderOf(a) < orderOf(b); });
  std::lock_guard lock(mutex_);
  for (libusb_device* dev : devices) {
    // The descriptor comes from the system's device list: no need to open.
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != LIBUSB_SUCCESS) continue;
    if (desc.idVendor != vendorId || desc.idProduct != productId) continue;
    problem.idsPresent = true;
    const std::string path = devicePathOf(dev);
    auto error = lastErrors_.find(path);
    if (error == lastErrors_.end()) continue;
    if (error->second != LIBUSB_ERROR_ACCESS && error->second != LIBUSB_ERROR_BUSY) continue;
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", unsigned(libusb_get_bus_number(dev)),
                  unsigned(libusb_get_device_address(dev)));
    problem.kind = error->second == LIBUSB_ERROR_ACCESS ? UsbAccess::Denied : UsbAccess::Busy;
    problem.devicePath = path;
    problem.node = node;
    return problem;
  }
  return problem;
}

}  // namespace vrx4
