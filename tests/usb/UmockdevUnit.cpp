#include "UmockdevUnit.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "link/LibUsbDriver.h"

namespace vrx4::test {
namespace {

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[3];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof b, "%02x", v);
    s += b;
  }
  return s;
}

void put16(std::vector<uint8_t>& v, size_t at, uint16_t x) {
  v[at] = uint8_t(x);
  v[at + 1] = uint8_t(x >> 8);
}

// Configuration descriptor 1 with interface 0 and the given endpoint
// descriptors (7 bytes each) behind it.
std::vector<uint8_t> configuration(uint8_t interfaceClass, const std::vector<std::vector<uint8_t>>& endpoints) {
  std::vector<uint8_t> c = {9, 2, 0, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, uint8_t(endpoints.size()), interfaceClass,
                            0, 0, 0};
  for (const auto& e : endpoints) c.insert(c.end(), e.begin(), e.end());
  put16(c, 2, uint16_t(c.size()));
  return c;
}

std::vector<uint8_t> endpoint(uint8_t address, uint8_t type, uint16_t maxPacket, uint8_t interval) {
  return {7, 5, address, type, uint8_t(maxPacket), uint8_t(maxPacket >> 8), interval};
}

}  // namespace

bool UmockdevUnit::inMockEnvironment() {
  // umockdev_in_mock_environment() only turns true once a testbed exists;
  // what matters before that is whether the preload library is there.
  const char* preload = std::getenv("LD_PRELOAD");
  return preload && std::strstr(preload, "libumockdev-preload") != nullptr;
}

UmockdevUnit::UmockdevUnit() {
  testbed_ = umockdev_testbed_new();
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect_after(handler_, "handle-ioctl", G_CALLBACK(&UmockdevUnit::handleIoctlThunk), this);
}

UmockdevUnit::~UmockdevUnit() {
  // The testbed goes first: it stops answering ioctls and removes its
  // temporary folders.
  g_clear_object(&testbed_);
  {
    std::lock_guard lock(mutex_);
    for (auto& d : devices_) dropUrbs(*d);
  }
  g_clear_object(&handler_);
}

void UmockdevUnit::dropUrbs(Device& d) {
  for (auto& w : d.waiting) umockdev_ioctl_data_unref(w.urb);
  for (UMockdevIoctlData* u : d.reapable) umockdev_ioctl_data_unref(u);
  d.waiting.clear();
  d.reapable.clear();
}

int UmockdevUnit::addUnit(std::shared_ptr<SimulatedUnit> unit, int port, bool withNode, bool highSpeed) {
  const auto dev = unit->deviceDescriptor();
  std::vector<uint8_t> d(dev.begin(), dev.end());
  const uint16_t packet = highSpeed ? 512 : 64;
  const auto c = configuration(0xFF, {endpoint(kUnitInterruptIn, LIBUSB_TRANSFER_TYPE_INTERRUPT, 8, 10),
                                      endpoint(kUnitBulkIn, LIBUSB_TRANSFER_TYPE_BULK, packet, 0),
                                      endpoint(kUnitBulkOut, LIBUSB_TRANSFER_TYPE_BULK, packet, 0)});
  d.insert(d.end(), c.begin(), c.end());
  return addDevice(d, std::move(unit), port, withNode, highSpeed);
}

int UmockdevUnit::addOtherDevice(uint16_t vendorId, uint16_t productId, int port) {
  std::vector<uint8_t> d = {18, 1, 0x00, 0x02, 0, 0, 0, 8, 0, 0, 0, 0, 0x00, 0x01, 1, 2, 0, 1};
  put16(d, 8, vendorId);
  put16(d, 10, productId);
  const auto c = configuration(0x03, {endpoint(0x81, LIBUSB_TRANSFER_TYPE_INTERRUPT, 8, 10)});
  d.insert(d.end(), c.begin(), c.end());
  return addDevice(d, nullptr, port, true);
}

int UmockdevUnit::addDevice(const std::vector<uint8_t>& descriptors, std::shared_ptr<SimulatedUnit> unit, int port,
                            bool withNode, bool highSpeed, int devnum) {
  auto d = std::make_unique<Device>();
  d->port = port;
  d->devnum = devnum ? devnum : port + 1;
  d->descriptors = descriptors;
  d->highSpeed = highSpeed;
  d->packetSize = highSpeed ? 512 : 64;
  const bool isUnit = unit != nullptr;
  d->unit = std::move(unit);
  char number[8];
  std::snprintf(number, sizeof number, "%03d", d->devnum);
  const std::string devnumText = number;
  const std::string sysfs = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
  d->sysfsPath = "/sys" + sysfs;
  d->devnode = "/dev/bus/usb/001/" + devnumText;

  // The handler first: libusb may open the node as soon as the device is there.
  GError* error = nullptr;
  if (withNode && !umockdev_testbed_attach_ioctl(testbed_, d->devnode.c_str(), handler_, &error)) {
    std::fprintf(stderr, "umockdev: attaching the ioctl handler failed: %s\n", error ? error->message : "?");
    g_clear_error(&error);
  }
  const std::string node = withNode ? "N: bus/usb/001/" + devnumText + "\n" : std::string();
  // The strings the system keeps for the device, readable without opening it.
  const std::string strings = isUnit ? "A: serial=VRX4-" + std::to_string(port) +
                                           "\\n\n"
                                           "A: product=T552-VRX4\\n\n"
                                     : "A: product=USB Receiver\\n\n";
  const std::string text = "P: " + sysfs + "\n" + node +
                           "E: SUBSYSTEM=usb\n"
                           "E: DEVTYPE=usb_device\n"
                           "E: DRIVER=usb\n"
                           "E: BUSNUM=001\n"
                           "E: DEVNUM=" +
                           devnumText +
                           "\n"
                           "E: DEVNAME=" +
                           d->devnode +
                           "\n"
                           "A: busnum=1\\n\n"
                           "A: devnum=" +
                           std::to_string(d->devnum) +
                           "\\n\n"
                           "A: speed=" +
                           (highSpeed ? "480" : "12") +
                           "\\n\n"
                           "A: bConfigurationValue=1\\n\n" +
                           strings + "H: descriptors=" + hex(descriptors) + "\n";
  if (!umockdev_testbed_add_from_string(testbed_, text.c_str(), &error)) {
    std::fprintf(stderr, "umockdev: adding the device failed: %s\n", error ? error->message : "?");
    g_clear_error(&error);
  }
  std::lock_guard lock(mutex_);
  devices_.push_back(std::move(d));
  return int(devices_.size()) - 1;
}

void UmockdevUnit::unplug(int device) {
  std::string sysfs;
  {
    std::lock_guard lock(mutex_);
    if (device < 0 || device >= int(devices_.size()) || devices_[device]->gone) return;
    Device& d = *devices_[device];
    d.gone = true;
    dropUrbs(d);
    sysfs = d.sysfsPath;
  }
  umockdev_testbed_uevent(testbed_, sysfs.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, sysfs.c_str());
}

bool UmockdevUnit::addRecording(const std::string& description, const std::string& ioctls, UsbIdPair& ids,
                                std::string& why) {
  // The first block of the description is the device itself (its parents
  // follow): its node and IDs.
  std::ifstream in(description);
  if (!in) {
    why = "cannot read " + description;
    return false;
  }
  std::string line, node;
  bool haveVendor = false, haveProduct = false;
  while (std::getline(in, line) && !line.empty()) {
    if (line.rfind("N: ", 0) == 0) node = "/dev/" + line.substr(3);
    if (line.rfind("A: idVendor=", 0) == 0) {
      ids.vendor = uint16_t(std::stoul(line.substr(12, 4), nullptr, 16));
      haveVendor = true;
    }
    if (line.rfind("A: idProduct=", 0) == 0) {
      ids.product = uint16_t(std::stoul(line.substr(13, 4), nullptr, 16));
      haveProduct = true;
    }
  }
  if (node.empty() || !haveVendor || !haveProduct) {
    why = description + ": its first device has no node or no IDs";
    return false;
  }
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_file(testbed_, description.c_str(), &error) ||
      !umockdev_testbed_load_ioctl(testbed_, node.c_str(), ioctls.c_str(), &error)) {
    why = error ? error->message : "umockdev refused the recording";
    g_clear_error(&error);
    return false;
  }
  return true;
}

int UmockdevUnit::replug(int device) {
  std::vector<uint8_t> descriptors;
  std::shared_ptr<SimulatedUnit> unit;
  int port = 0, devnum = 0;
  bool highSpeed = false;
  {
    std::lock_guard lock(mutex_);
    if (device < 0 || device >= int(devices_.size())) return -1;
    const Device& d = *devices_[device];
    descriptors = d.descriptors;
    unit = d.unit;
    port = d.port;
    highSpeed = d.highSpeed;
    devnum = d.devnum + 16;  // the bus gives the new device the next free number
  }
  unplug(device);
  return addDevice(descriptors, std::move(unit), port, true, highSpeed, devnum);
}

void UmockdevUnit::setBehaviour(const UnitBehaviour& behaviour) {
  std::lock_guard lock(mutex_);
  behaviour_ = behaviour;
}

int UmockdevUnit::openCount(int device) const {
  std::lock_guard lock(mutex_);
  return device >= 0 && device < int(devices_.size()) ? devices_[device]->opens : 0;
}

size_t UmockdevUnit::bytesWaiting(int device) const {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= int(devices_.size())) return 0;
  size_t n = 0;
  for (const auto& p : devices_[device]->packets) n += p.size();
  return n;
}

void UmockdevUnit::setNakIdleReads(bool on) {
  std::lock_guard lock(mutex_);
  nakIdleReads_ = on;
}

void UmockdevUnit::holdInterface(int device) {
  std::lock_guard lock(mutex_);
  if (device >= 0 && device < int(devices_.size())) devices_[device]->claimed = true;
}

void UmockdevUnit::shareWithOtherUsers() {
  namespace fs = std::filesystem;
  using fs::perms;
  const fs::path root = umockdev_testbed_get_root_dir(testbed_);
  const std::string nodes = (root / "dev").string() + "/";
  std::error_code ec;
  auto share = [&](const fs::path& p) {
    const fs::file_status st = fs::symlink_status(p, ec);
    perms mode = perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;
    if (fs::is_symlink(st)) return;
    if (fs::is_directory(st))
      mode = perms::owner_all | perms::group_read | perms::group_exec | perms::others_read | perms::others_exec;
    // The preload talks to the ioctl handler over these sockets before it
    // opens the node itself: they stay open to everyone.
    else if (fs::is_socket(st))
      mode = perms::owner_read | perms::owner_write | perms::group_read | perms::group_write | perms::others_read |
             perms::others_write;
    else if (p.string().rfind(nodes, 0) == 0)
      mode = perms::owner_read | perms::owner_write;
    fs::permissions(p, mode, ec);
  };
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); it.increment(ec))
    share(it->path());
  // The uevent socket of a process's udev monitor is made in the root
  // folder: anyone may create there, as in /tmp.
  fs::permissions(root, perms::all | perms::sticky_bit, ec);
}

std::string UmockdevUnit::devicePath(int device) const {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= int(devices_.size())) return {};
  return "/usb/1-" + std::to_string(devices_[device]->port);
}

std::vector<SeenUrb> UmockdevUnit::urbs(int device) const {
  std::lock_guard lock(mutex_);
  return device >= 0 && device < int(devices_.size()) ? devices_[device]->urbs : std::vector<SeenUrb>{};
}

std::vector<unsigned> UmockdevUnit::clearedHalts(int device) const {
  std::lock_guard lock(mutex_);
  return device >= 0 && device < int(devices_.size()) ? devices_[device]->clearedHalts : std::vector<unsigned>{};
}

bool UmockdevUnit::interfaceClaimed(int device) const {
  std::lock_guard lock(mutex_);
  return device >= 0 && device < int(devices_.size()) && devices_[device]->claimed;
}

int UmockdevUnit::discardCount(int device) const {
  std::lock_guard lock(mutex_);
  return device >= 0 && device < int(devices_.size()) ? devices_[device]->discards : 0;
}

void UmockdevUnit::clearHistory() {
  std::lock_guard lock(mutex_);
  for (auto& d : devices_) {
    d->urbs.clear();
    d->clearedHalts.clear();
    d->discards = 0;
    for (auto& w : d->waiting) w.seen = SIZE_MAX;
  }
}

int UmockdevUnit::handleIoctlThunk(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
  return static_cast<UmockdevUnit*>(self)->handleIoctl(client);
}

void UmockdevUnit::finish(UMockdevIoctlData* urb, int status, int actualLength) {
  auto* u = reinterpret_cast<usbdevfs_urb*>(urb->data);
  u->status = status;
  u->actual_length = actualLength;
}

bool UmockdevUnit::handleIoctl(UMockdevIoctlClient* client) {
  std::lock_guard lock(mutex_);
  const std::string node = umockdev_ioctl_client_get_devnode(client);
  Device* dev = nullptr;
  for (auto& d : devices_)
    if (d->devnode == node) dev = d.get();
  if (!dev) return false;
  Device& d = *dev;
  if (d.gone) {
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return true;
  }
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_GET_CAPABILITIES: {
      ++d.opens;
      UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
      *reinterpret_cast<uint32_t*>(caps->data) = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                                 USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
      umockdev_ioctl_client_complete(client, 0, 0);
      umockdev_ioctl_data_unref(caps);
      return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE: {
      UMockdevIoctlData* n = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
      const unsigned itf = *reinterpret_cast<unsigned*>(n->data);
      umockdev_ioctl_data_unref(n);
      if (itf != 0) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return true;
      }
      const bool claim = umockdev_ioctl_client_get_request(client) == USBDEVFS_CLAIMINTERFACE;
      if (claim && d.claimed) {
        umockdev_ioctl_client_complete(client, -1, EBUSY);
        return true;
      }
      d.claimed = claim;
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_DISCONNECT_CLAIM: {
      // Claim, taking the interface from any kernel driver (there is none).
      UMockdevIoctlData* dc = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_disconnect_claim), nullptr);
      const unsigned itf = reinterpret_cast<usbdevfs_disconnect_claim*>(dc->data)->interface;
      umockdev_ioctl_data_unref(dc);
      if (itf != 0 || d.claimed) {
        umockdev_ioctl_client_complete(client, -1, itf != 0 ? EINVAL : EBUSY);
        return true;
      }
      d.claimed = true;
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_IOCTL: {
      // Driver requests to an interface: there is no kernel driver to
      // disconnect, and reconnecting one is a no-op.
      UMockdevIoctlData* r = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
      const int code = reinterpret_cast<usbdevfs_ioctl*>(r->data)->ioctl_code;
      umockdev_ioctl_data_unref(r);
      if (code == USBDEVFS_CONNECT)
        umockdev_ioctl_client_complete(client, 0, 0);
      else
        umockdev_ioctl_client_complete(client, -1, code == USBDEVFS_DISCONNECT ? ENODATA : ENOTTY);
      return true;
    }
    case USBDEVFS_GETDRIVER:
      umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
      return true;
    case USBDEVFS_CLEAR_HALT: {
      UMockdevIoctlData* n = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
      const unsigned ep = *reinterpret_cast<unsigned*>(n->data);
      umockdev_ioctl_data_unref(n);
      d.clearedHalts.push_back(ep);
      const bool in = (ep & 0x80) != 0;
      if (behaviour_.clearHaltKeepsState) {
        // Only the halt goes. The host starts the endpoint again at DATA0;
        // the device keeps its toggle (and whatever it still had to send).
        if (d.unit && d.unit->halted()) d.unit->recoveryRequest();
        (in ? d.inToggleOff : d.outToggleOff) = (in ? d.inToggle : d.outToggle) != 0;
      } else {
        if (d.unit) d.unit->recoveryRequest();
        d.packets.clear();
        d.late.clear();
        (in ? d.inToggle : d.outToggle) = 0;
        (in ? d.inToggleOff : d.outToggleOff) = false;
      }
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    }
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
    case USBDEVFS_SETINTERFACE:
      umockdev_ioctl_client_complete(client, 0, 0);
      return true;
    case USBDEVFS_SUBMITURB:
      submitUrb(d, client);
      return true;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
      if (d.reapable.empty()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return true;
      }
      UMockdevIoctlData* urb = d.reapable.front();
      d.reapable.pop_front();
      UMockdevIoctlData* where = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
      umockdev_ioctl_data_set_ptr(where, 0, urb);
      umockdev_ioctl_client_complete(client, 0, 0);
      umockdev_ioctl_data_unref(where);
      umockdev_ioctl_data_unref(urb);
      return true;
    }
    case USBDEVFS_DISCARDURB: {
      const gulong address = gulong(*reinterpret_cast<void**>(arg->data));
      for (auto it = d.waiting.begin(); it != d.waiting.end(); ++it) {
        if (it->urb->client_addr != address) continue;
        ++d.discards;
        // A cancelled URB keeps the packets it already got.
        finish(it->urb, -ENOENT, int(it->filled));
        if (it->seen < d.urbs.size()) {
          d.urbs[it->seen].pending = false;
          d.urbs[it->seen].status = -ENOENT;
        }
        d.reapable.push_back(it->urb);
        d.waiting.erase(it);
        // A held-back response arrives now, just after the host gave up.
        while (!d.late.empty()) {
          queueResponse(d, d.late.front());
          d.late.pop_front();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return true;
      }
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return true;
    }
    default:
      return false;  // umockdev's default answer
  }
}

void UmockdevUnit::submitUrb(Device& d, UMockdevIoctlClient* client) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  UMockdevIoctlData* urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
  auto* u = reinterpret_cast<usbdevfs_urb*>(urb->data);
  SeenUrb seen;
  seen.type = u->type;
  seen.endpoint = u->endpoint;
  seen.bufferLength = u->buffer_length;
  const bool in = (u->endpoint & 0x80) != 0;
  // A zero-length buffer resolves to nothing; that is a zero-length packet.
  UMockdevIoctlData* buffer = u->buffer_length > 0 ? umockdev_ioctl_data_resolve(urb, offsetof(usbdevfs_urb, buffer),
                                                                                 size_t(u->buffer_length), nullptr)
                                                   : nullptr;
  if (!in && buffer) seen.data.assign(buffer->data, buffer->data + u->buffer_length);

  const bool unitPipe = d.unit && u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == (in ? kUnitBulkIn : kUnitBulkOut);
  const size_t index = d.urbs.size();
  d.urbs.push_back(seen);

  if (!unitPipe) {
    // No such request or endpoint: the device stalls it.
    finish(urb, -EPIPE, 0);
    d.urbs[index].status = -EPIPE;
    d.reapable.push_back(urb);
  } else if (!in) {
    // The data go out as packets; one the device takes for a repeat (its
    // toggle disagrees after a clear-halt that did not reset it) is dropped.
    std::vector<uint8_t> data = seen.data;
    const size_t packet = d.packetSize;
    size_t packets = data.empty() ? 1 : (data.size() + packet - 1) / packet;
    bool deliver = true;
    if (d.outToggleOff) {
      d.outToggleOff = false;
      --packets;
      if (data.empty() || data.size() <= packet)
        deliver = false;
      else
        data.erase(data.begin(), data.begin() + std::ptrdiff_t(packet));
    }
    d.outToggle ^= unsigned(packets & 1);
    const bool ok = !deliver || d.unit->hostWrite(data.data(), data.size());
    const int status = ok ? 0 : d.unit->halted() ? -EPIPE : -EPROTO;
    finish(urb, status, ok ? u->buffer_length : 0);
    d.urbs[index].status = status;
    d.reapable.push_back(urb);
    // A response may now be there for an IN URB that was waiting.
    std::deque<Waiting> waiting;
    waiting.swap(d.waiting);
    for (Waiting& w : waiting)
      if (!fillBulkIn(d, w, true)) d.waiting.push_back(w);
  } else {
    Waiting w{urb, index, 0};
    if (!fillBulkIn(d, w, true)) d.waiting.push_back(w);
  }
  if (buffer) umockdev_ioctl_data_unref(buffer);
  // Accepted; the result comes back with the reap. Completing last hands
  // what was written into the URB and its buffer back to the client.
  umockdev_ioctl_client_complete(client, 0, 0);
}

void UmockdevUnit::takeResponses(Device& d) {
  if (!d.unit) return;
  std::vector<uint8_t> frame(65536);
  size_t got = 0;
  while (d.unit->hostRead(frame.data(), frame.size(), got)) {
    std::vector<uint8_t> f(frame.begin(), frame.begin() + std::ptrdiff_t(got));
    if (behaviour_.lateReplies)
      d.late.push_back(std::move(f));
    else
      queueResponse(d, f);
  }
}

void UmockdevUnit::queueResponse(Device& d, const std::vector<uint8_t>& frame) {
  const size_t packet = d.packetSize;
  for (size_t at = 0; at < frame.size(); at += packet)
    d.packets.emplace_back(frame.begin() + std::ptrdiff_t(at),
                           frame.begin() + std::ptrdiff_t(std::min(frame.size(), at + packet)));
  if (frame.empty() || (frame.size() % packet == 0 && behaviour_.zeroLengthPacket)) d.packets.emplace_back();
}

bool UmockdevUnit::fillBulkIn(Device& d, Waiting& w, bool mayWait) {
  auto* u = reinterpret_cast<usbdevfs_urb*>(w.urb->data);
  const size_t length = size_t(std::max(u->buffer_length, 0));
  int status = 0;
  bool done = length == 0;
  if (d.unit->halted()) {
    status = -EPIPE;
    done = true;
  } else {
    takeResponses(d);
    UMockdevIoctlData* buffer =
        length > 0 ? umockdev_ioctl_data_resolve(w.urb, offsetof(usbdevfs_urb, buffer), length, nullptr) : nullptr;
    while (!done && !d.packets.empty()) {
      std::vector<uint8_t> p = std::move(d.packets.front());
      d.packets.pop_front();
      d.inToggle ^= 1;
      if (d.inToggleOff) {
        // The host takes the packet for a repeat of the last one and drops it.
        d.inToggleOff = false;
        continue;
      }
      if (p.size() > length - w.filled) {
        // More than the URB has room for: babble, the packet is lost.
        status = -EOVERFLOW;
        done = true;
        break;
      }
      if (!p.empty()) std::memcpy(buffer->data + w.filled, p.data(), p.size());
      w.filled += p.size();
      done = p.size() < d.packetSize || w.filled == length;
    }
    if (buffer) umockdev_ioctl_data_unref(buffer);
  }
  if (!done) {
    if (mayWait && nakIdleReads_) {
      if (w.seen < d.urbs.size()) d.urbs[w.seen].pending = true;
      return false;
    }
    status = -ETIME;  // where reads do not wait, the stand-in for a time-out
  }
  finish(w.urb, status, int(w.filled));
  if (w.seen < d.urbs.size()) {
    d.urbs[w.seen].status = status;
    d.urbs[w.seen].pending = false;
  }
  d.reapable.push_back(w.urb);
  return true;
}

}  // namespace vrx4::test
