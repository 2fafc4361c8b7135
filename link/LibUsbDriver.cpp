#include "link/LibUsbDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "base/Log.h"

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

}  // namespace

// One opened device, shared by its device handle and its pipe handles; the
// libusb handle is closed when the last of them goes.
struct LibUsbDriver::OpenDevice {
  std::string path;
  libusb_device* dev = nullptr;
  libusb_device_handle* handle = nullptr;
  int inEndpoint = -1;   // first bulk IN endpoint of interface 0
  int outEndpoint = -1;  // first bulk OUT endpoint of interface 0
  int pipesOpen = 0;     // guarded by the driver's mutex
  bool claimed = false;  // likewise

  ~OpenDevice() {
    if (claimed) {
      const int r = libusb_release_interface(handle, kInterface);
      if (r < 0 && r != LIBUSB_ERROR_NO_DEVICE) logUsb("release interface of " + path, r);
    }
    if (handle) libusb_close(handle);
  }
};

LibUsbDriver::LibUsbDriver(LibUsbOptions options) : options_(options) {
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
    if (existing && existing->dev == dev) return existing;
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
  libusb_set_auto_detach_kernel_driver(device->handle, 1);  // unsupported platforms: ignored
  const ConfigDescriptor config(dev);
  if (const libusb_interface_descriptor* itf = config.interface(kInterface)) {
    for (int i = 0; i < itf->bNumEndpoints; ++i) {
      const libusb_endpoint_descriptor& ep = itf->endpoint[i];
      if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
      const bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
      int& slot = in ? device->inEndpoint : device->outEndpoint;
      if (slot < 0) slot = ep.bEndpointAddress;
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
  if (!d) return false;
  libusb_device_descriptor desc{};
  const int r = libusb_get_device_descriptor(d->dev, &desc);
  if (r < 0) {
    logUsb("device descriptor of " + d->path, r);
    return false;
  }
  // libusb hands the descriptor over parsed into host order; put the wire
  // layout back together.
  out = {desc.bLength, desc.bDescriptorType, uint8_t(desc.bcdUSB), uint8_t(desc.bcdUSB >> 8),
         desc.bDeviceClass, desc.bDeviceSubClass, desc.bDeviceProtocol, desc.bMaxPacketSize0,
         uint8_t(desc.idVendor), uint8_t(desc.idVendor >> 8),
         uint8_t(desc.idProduct), uint8_t(desc.idProduct >> 8),
         uint8_t(desc.bcdDevice), uint8_t(desc.bcdDevice >> 8),
         desc.iManufacturer, desc.iProduct, desc.iSerialNumber, desc.bNumConfigurations};
  return true;
}

bool LibUsbDriver::getConfiguration(UsbHandle device, uint32_t& value) {
  std::shared_ptr<OpenDevice> d = deviceFor(device, Kind::Device);
  if (!d) return false;
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
  if (!d) return;
  for (int endpoint : {d->inEndpoint, d->outEndpoint}) {
    if (endpoint < 0) continue;
    const int r = libusb_clear_halt(d->handle, uint8_t(endpoint));
    if (r < 0) logUsb("clear halt of " + d->path, r);
  }
}

bool LibUsbDriver::transfer(UsbHandle pipe, Kind kind, uint8_t* data, size_t length, size_t& done) {
  done = 0;
  std::shared_ptr<OpenDevice> d = deviceFor(pipe, kind);
  if (!d) return false;
  const bool in = kind == Kind::PipeIn;
  if (length > size_t(INT32_MAX)) return false;
  uint8_t none = 0;  // a zero-length packet still needs a buffer address
  int transferred = 0;
  // One request is one write and one read, each a single bulk transfer whose
  // time-out libusb applies to the transfer as a whole (however the unit
  // spreads its packets), and a read never takes more than `length` bytes.
  const int r = libusb_bulk_transfer(d->handle, uint8_t(in ? d->inEndpoint : d->outEndpoint),
                                     length ? data : &none, int(length), &transferred,
                                     in ? options_.readTimeoutMs : options_.writeTimeoutMs);
  done = size_t(std::max(transferred, 0));
  if (r < 0) {
    logUsb(std::string(in ? "bulk read from " : "bulk write to ") + d->path, r);
    return false;
  }
  return true;
}

bool LibUsbDriver::write(UsbHandle pipe, const uint8_t* data, size_t length) {
  if (length && !data) return false;
  size_t done = 0;
  // libusb takes a non-const buffer for both directions; an OUT transfer
  // only reads it.
  if (!transfer(pipe, Kind::PipeOut, const_cast<uint8_t*>(data), length, done)) return false;
  if (done != length) {
    logProgramLine("usb: short bulk write (" + std::to_string(done) + " of " +
            std::to_string(length) + " bytes)");
    return false;
  }
  return true;
}

bool LibUsbDriver::read(UsbHandle pipe, uint8_t* data, size_t maxLength, size_t& got) {
  got = 0;
  if (maxLength && !data) return false;
  size_t done = 0;
  if (!transfer(pipe, Kind::PipeIn, data, maxLength, done)) return false;
  got = done;
  return true;
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
  for (libusb_device* dev : list)
    paths.insert(devicePathOf(dev) + "@" + std::to_string(libusb_get_device_address(dev)));
  return paths;
}

bool LibUsbDriver::checkForDeviceChange() {
  std::set<std::string> now = presentPaths();
  {
    std::lock_guard lock(pollMutex_);
    if (now == lastSeen_) return false;
    lastSeen_.swap(now);
  }
  notifyChange();
  return true;
}

int LIBUSB_CALL LibUsbDriver::hotplugCallback(libusb_context*, libusb_device*, libusb_hotplug_event,
                                              void* self) {
  // Runs inside libusb's event handling with its hotplug lock held: only
  // note the change; the event loop calls the handler once libusb is done.
  static_cast<LibUsbDriver*>(self)->changePending_ = true;
  return 0;  // stay registered
}

void LibUsbDriver::eventLoop() {
  while (!stop_) {
    timeval tv{1, 0};  // libusb_interrupt_event_handler ends the wait early
    const int r = libusb_handle_events_timeout_completed(ctx_, &tv, nullptr);
    if (changePending_.exchange(false)) notifyChange();
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
