#include "link/UsbLink.h"

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

int findDevice(uint32_t matchFlags, uint8_t deviceClass, uint8_t deviceSubClass,
               uint16_t vendorId, uint16_t productId, uint8_t deviceRelease) {
  UsbDriver* driver = usbDriver();
  if (!driver) return -1;
  for (int index = 0;; ++index) {
    std::optional<std::string> path = driver->enumerateInterface(index);
    if (!path) return -1;
    UsbHandle h = driver->open(*path);
    if (h == kInvalidHandle) continue;
    std::array<uint8_t, 18> d{};
    bool match = driver->getDeviceDescriptor(h, d);
    if (match) {
      const uint16_t idVendor = uint16_t(d[8] | (d[9] << 8));
      const uint16_t idProduct = uint16_t(d[10] | (d[11] << 8));
      const uint16_t bcdDevice = uint16_t(d[12] | (d[13] << 8));
      if ((matchFlags & kMatchClass) && d[4] != deviceClass) match = false;
      if ((matchFlags & kMatchSubClass) && d[5] != deviceSubClass) match = false;
      if ((matchFlags & kMatchVendor) && idVendor != vendorId) match = false;
      if ((matchFlags & kMatchProduct) && idProduct != productId) match = false;
      if ((matchFlags & kMatchRelease) && bcdDevice != deviceRelease) match = false;
    }
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
  for (int attempt = 0; attempt < kFindAttempts; ++attempt) {
    s.linkSlot = findDevice(kMatchVendor | kMatchProduct, 0, 0, kUnitVendorId, kUnitProductId, 0);
    if (s.linkSlot != -1) break;
    clock().sleepMs(kFindIntervalMs);
  }
  if (s.linkSlot == -1) return false;
  if (getConfiguration(s.linkSlot) != 0) return false;
  s.inPipe = openPipe(s.linkSlot, 0, 0, false);
  if (s.inPipe == kInvalidHandle) return false;
  s.outPipe = openPipe(s.linkSlot, 0, 1, false);
  return s.outPipe != kInvalidHandle;
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
