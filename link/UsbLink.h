#pragma once
// Finding the unit among the attached USB devices, opening its two pipes and
// closing them again. Process-wide state: one slot table of 128 devices under
// one lock, and the link (slot, inbound pipe, outbound pipe).
#include <cstdint>
#include <string>

#include "link/UsbDriver.h"

namespace vrx4 {

inline constexpr int kSlotCount = 128;
inline constexpr size_t kDevicePathSize = 260;  // bytes, terminator included
inline constexpr int kFindAttempts = 10;
inline constexpr uint32_t kFindIntervalMs = 100;

// The build's USB IDs of the unit: what the link looks for unless the
// front end gives others at run time.
inline constexpr uint16_t kUnitVendorId = VRX4_UNIT_VENDOR_ID;
inline constexpr uint16_t kUnitProductId = VRX4_UNIT_PRODUCT_ID;

struct UsbId {
  uint16_t vendor = kUnitVendorId;
  uint16_t product = kUnitProductId;
  bool operator==(const UsbId&) const = default;
};
// The IDs openLink looks for (process-wide; the build's IDs until set).
UsbId unitUsbId();
void setUnitUsbId(UsbId id);
// "1209:5520": lower-case hexadecimal, 4 digits each, as lsusb shows them.
std::string usbIdText(UsbId id);
// Reads "VID:PID" (4 hexadecimal digits each, either case); false for
// anything else.
bool parseUsbId(const std::string& text, UsbId& id);

// findDevice match flags.
inline constexpr uint32_t kMatchClass = 0x01;
inline constexpr uint32_t kMatchSubClass = 0x02;
inline constexpr uint32_t kMatchVendor = 0x04;
inline constexpr uint32_t kMatchProduct = 0x08;
inline constexpr uint32_t kMatchRelease = 0x10;

void initSlots();
int findDevice(uint32_t matchFlags, uint8_t deviceClass, uint8_t deviceSubClass, uint16_t vendorId, uint16_t productId,
               uint8_t deviceRelease);
// -1 when the handle is invalid, the path does not fit its 260-byte field,
// or all slots are in use.
int registerSlot(const std::string& path, UsbHandle handle);
void releaseSlot(int slot);
void releaseAllSlots();
UsbHandle openPipe(int slot, int interfaceNumber, int pipeNumber, bool overlapped);
// 0 ok, 1 bad slot, 2 not configured.
int getConfiguration(int slot);
void recoverDevice(int slot);

// Read access for the frame exchange and the tests.
int linkSlot();
UsbHandle inPipe();
UsbHandle outPipe();
bool slotInUse(int slot);
std::string slotPath(int slot);
int slotsInUse();

bool openLink();
void closeLink();
bool isLinkAlive();

}  // namespace vrx4
