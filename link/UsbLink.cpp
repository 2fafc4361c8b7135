#include "link/UsbLink.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/Clock.h"
#include "base/Log.h"

namespace vrx4 {
namespace {

struct DeviceSlot {
  char devicePath[kDevicePathSize] = {};
  UsbHandle deviceHandle = kInvalidHandle;
};

struct LinkState {
  std::mutex slotLock;
  DeviceSlot slots[kSlotCount];
  int linkSlot = -1;
  UsbHandle inPipe = kInvalidHandle;
  UsbHandle outPipe = kInvalidHandle;
};

LinkState& state() {
  static LinkState s;
  return s;
}

std::atomic<uint32_t> currentUsbId{(uint32_t(kUnitVendorId) << 16) | kUnitProductId};

void closeHandle(UsbHandle h) {
  if (h != kInvalidHandle) {
    if (UsbDriver* d = usbDriver()) d->close(h);
  }
}

}  // namespace

void initSlots() {
  LinkState& s = state();
  std::lock_guard lock(s.slotLock);
  for (DeviceSlot& slot : s.slots) {
    slot.devicePath[0] = '\0';
    slot.deviceHandle = kInvalidHandle;
  }
}

int registerSlot(const std::string& path, UsbHandle handle) {
  if (handle == kInvalidHandle) return -1;
  // The path must fit its field with the terminator; a longer one is refused
  // rather than cut, since a cut path would name another file.
  if (path.size() + 1 > kDevicePathSize) {
    logProgramLine("device path too long for the slot table, device skipped: " + path);
    return -1;
  }
  LinkState& s = state();
  std::lock_guard lock(s.slotLock);
  for (int i = 0; i < kSlotCount; ++i) {
    DeviceSlot& slot = s.slots[i];
    if (slot.deviceHandle == kInvalidHandle) {
      slot.deviceHandle = handle;
      std::memcpy(slot.devicePath, path.c_str(), path.size() + 1);
      return i;
    }
  }
  return -1;
}

void releaseSlot(int slot) {
  if (slot < 0 || slot >= kSlotCount) return;
  LinkState& s = state();
  std::lock_guard lock(s.slotLock);
  DeviceSlot& d = s.slots[slot];
  closeHandle(d.deviceHandle);
  d.devicePath[0] = '\0';
  d.deviceHandle = kInvalidHandle;
}

void releaseAllSlots() {
  for (int i = 0; i < kSlotCount; ++i) {
    if (slotInUse(i)) releaseSlot(i);
  }
}

bool slotInUse(int slot) {
  if (slot < 0 || slot >= kSlotCount) return false;
  LinkState& s = state();
  std::lock_guard lock(s.slotLock);
  return s.slots[slot].deviceHandle != kInvalidHandle;
}

std::string slotPath(int slot) {
  if (slot < 0 || slot >= kSlotCount) return {};
  LinkState& s = state();
  std::lock_guard lock(s.slotLock);
  return s.slots[slot].devicePath;
}

int slotsInUse() {
  int n = 0;
  for (int i = 0; i < kSlotCount; ++i) n += slotInUse(i) ? 1 : 0;
  return n;
}

namespace {
UsbHandle slotHandle(int slot) {
  if (slot < 0 || slot >= kSlotCount) return kInvalidHandle;
  LinkState& s = state();
  std::lock_guard lock(s.slotLock);
  return s.slots[slot].deviceHandle;
}
}  // namespace

UsbId unitUsbId() {
  const uint32_t v = currentUsbId.load();
  return UsbId{uint16_t(v >> 16), uint16_t(v)};
}

void setUnitUsbId(UsbId id) { currentUsbId = (uint32_t(id.vendor) << 16) | id.product; }

std::string usbIdText(UsbId id) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", unsigned(id.vendor), unsigned(id.product));
  return text;
}

bool parseUsbId(const std::string& text, UsbId& id) {
  if (text.size() != 9 || text[4] != ':') return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (i != 4 && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  id.vendor = uint16_t(std::stoul(text.substr(0, 4), nullptr, 16));
  id.product = uint16_t(std::stoul(text.substr(5), nullptr, 16));
  return true;
}

namespace {
bool descriptorMatches(const std::array<uint8_t, 18>& d, uint32_t matchFlags, uint8_t deviceClass,
                       uint8_t deviceSubClass, uint16_t vendorId, uint16_t productId, uint8_t deviceRelease) {
  const uint16_t idVendor = uint16_t(d[8] | (d[9] << 8));
  const uint16_t idProduct = uint16_t(d[10] | (d[11] << 8));
  const uint16_t bcdDevice = uint16_t(d[12] | (d[13] << 8));
  if ((matchFlags & kMatchClass) && d[4] != deviceClass) return false;
  if ((matchFlags & kMatchSubClass) && d[5] != deviceSubClass) return false;
  if ((matchFlags & kMatchVendor) && idVendor != vendorId) return false;
  if ((matchFlags & kMatchProduct) && idProduct != productId) return false;
  if ((matchFlags & kMatchRelease) && bcdDevice != deviceRelease) return false;
  return true;
}
}  // namespace

int findDevice(uint32_t matchFlags, uint8_t deviceClass, uint8_t deviceSubClass, uint16_t vendorId, uint16_t productId,
               uint8_t deviceRelease) {
  UsbDriver* driver = usbDriver();
  if (!driver) return -1;
  for (int index = 0;; ++index) {
    std::optional<std::string> path = driver->enumerateInterface(index);
    if (!path) return -1;
    std::array<uint8_t, 18> d{};
    // Where the transport knows a device's descriptor without opening it,
    // only a device that matches is opened: opening wakes cameras and
    // radios, and a device this user may not open would only log noise.
    if (driver->peekDeviceDescriptor(*path, d) &&
        !descriptorMatches(d, matchFlags, deviceClass, deviceSubClass, vendorId, productId, deviceRelease))
      continue;
    UsbHandle h = driver->open(*path);
    if (h == kInvalidHandle) continue;
    // The descriptor read through the open handle decides, as always (the
    // port may hold another device by now).
    bool match = driver->getDeviceDescriptor(h, d) &&
                 descriptorMatches(d, matchFlags, deviceClass, deviceSubClass, vendorId, productId, deviceRelease);
    if (!match) {
      driver->close(h);
      continue;
    }
    int slot = registerSlot(*path, h);
    if (slot < 0) {
      driver->close(h);
      continue;
    }
    return slot;
  }
}

UsbHandle openPipe(int slot, int interfaceNumber, int pipeNumber, bool /*overlapped*/) {
  UsbDriver* driver = usbDriver();
  if (!driver || !slotInUse(slot)) return kInvalidHandle;
  return driver->open(pipePath(slotPath(slot), interfaceNumber, pipeNumber));
}

int getConfiguration(int slot) {
  UsbHandle h = slotHandle(slot);
  if (h == kInvalidHandle) return 1;
  UsbDriver* driver = usbDriver();
  uint32_t value = 0;
  if (!driver || !driver->getConfiguration(h, value) || value == 0) return 2;
  return 0;
}

void recoverDevice(int slot) {
  UsbHandle h = slotHandle(slot);
  if (h == kInvalidHandle) return;
  if (UsbDriver* driver = usbDriver()) driver->recover(h);
}

int linkSlot() { return state().linkSlot; }
UsbHandle inPipe() { return state().inPipe; }
UsbHandle outPipe() { return state().outPipe; }

bool openLink() {
  LinkState& s = state();
  initSlots();
  s.linkSlot = -1;
  s.inPipe = kInvalidHandle;
  s.outPipe = kInvalidHandle;
  const UsbId id = unitUsbId();
  for (int attempt = 0; attempt < kFindAttempts; ++attempt) {
    s.linkSlot = findDevice(kMatchVendor | kMatchProduct, 0, 0, id.vendor, id.product, 0);
    if (s.linkSlot != -1) break;
    clock().sleepMs(kFindIntervalMs);
  }
  if (s.linkSlot == -1) return false;
  if (getConfiguration(s.linkSlot) != 0) return false;
  s.inPipe = openPipe(s.linkSlot, 0, 0, false);
  if (s.inPipe == kInvalidHandle) return false;
  s.outPipe = openPipe(s.linkSlot, 0, 1, false);
  if (s.outPipe == kInvalidHandle) return false;
  // A response left over from an earlier program (one that ended while the
  // unit answered) would otherwise be taken as the answer to the first
  // request.
  if (UsbDriver* driver = usbDriver()) driver->drain(s.inPipe);
  return true;
}

void closeLink() {
  LinkState& s = state();
  if (s.linkSlot != -1) {
    closeHandle(s.inPipe);
    closeHandle(s.outPipe);
    s.inPipe = kInvalidHandle;
    s.outPipe = kInvalidHandle;
    releaseSlot(s.linkSlot);
    s.linkSlot = -1;
  }
  releaseAllSlots();
}

bool isLinkAlive() { return getConfiguration(state().linkSlot) == 0; }

}  // namespace vrx4
