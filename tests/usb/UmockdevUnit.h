#pragma once
// Emulated USB devices below an unmodified libusb: a umockdev testbed with
// the sysfs entries and descriptors of each device, whose usbdevfs ioctls
// are answered here. A device with a SimulatedUnit behind it passes its bulk
// OUT URBs to hostWrite, fills its bulk IN URBs from hostRead and turns a
// CLEAR_HALT into the unit's recovery request.
//
// The process must run under umockdev-wrapper (inMockEnvironment()). Add all
// devices before the libusb context is made.
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimulatedUnit.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace vrx4::test {

// Endpoints of the emulated unit's interface 0. An interrupt endpoint comes
// first so that a driver that does not look at the transfer type picks the
// wrong one.
inline constexpr uint8_t kUnitInterruptIn = 0x83;
inline constexpr uint8_t kUnitBulkIn = 0x82;
inline constexpr uint8_t kUnitBulkOut = 0x01;

// How an emulated unit's bulk IN endpoint behaves. Every response goes out
// as packets of wMaxPacketSize; a bulk IN URB completes when it is full or a
// short packet (a zero-length one included) ends the transfer, and keeps
// what it got when it is cancelled, as on a real bus.
struct UnitBehaviour {
  // A zero-length packet follows a response that fills its last packet.
  bool zeroLengthPacket = true;
  // A clear-halt neither empties the device nor resets its data toggle:
  // after one, the next packet in that direction is lost (the receiver
  // takes it for a repeat of the last one).
  bool clearHaltKeepsState = false;
  // Each response is held back until the IN URB waiting for it is
  // cancelled (the host's time-out): it arrives just too late.
  bool lateReplies = false;
};

// One URB as the device saw it on submission.
struct SeenUrb {
  uint8_t type = 0;  // USBDEVFS_URB_TYPE_*
  uint8_t endpoint = 0;
  int bufferLength = 0;
  std::vector<uint8_t> data;  // the bytes of an OUT URB
  int status = 0;             // the status it completed with (0, -EPIPE, ...)
  bool pending = false;       // still waiting for data (NAK)
};

struct UsbIdPair {
  uint16_t vendor = 0;
  uint16_t product = 0;
};

class UmockdevUnit {
 public:
  UmockdevUnit();
  ~UmockdevUnit();
  UmockdevUnit(const UmockdevUnit&) = delete;
  UmockdevUnit& operator=(const UmockdevUnit&) = delete;

  static bool inMockEnvironment();

  // A device with the unit's descriptors and the given unit behind it, on
  // bus 1 at the given port; returns its number. Without its device node it
  // is listed but cannot be opened.
  // A high-speed unit has 512-byte bulk packets.
  int addUnit(std::shared_ptr<SimulatedUnit> unit, int port, bool withNode = true, bool highSpeed = false);
  // A device with other IDs (one interrupt endpoint on interface 0) that
  // refuses every transfer.
  int addOtherDevice(uint16_t vendorId, uint16_t productId, int port);

  // A device recorded from a real unit (scripts/usb-report.sh):
  // `description` from "umockdev-record NODE", `ioctls` from "umockdev-record
  // --ioctl NODE=FILE -- vrx4-cli info", replayed by umockdev itself. Gives
  // the device's IDs; false (with `why`) when the files do not load.
  bool addRecording(const std::string& description, const std::string& ioctls, UsbIdPair& ids, std::string& why);

  // Pulls a device out: its ioctls fail with ENODEV from now on and its
  // sysfs entries and node go (with a remove uevent).
  void unplug(int device);
  // Pulls a device out and puts it back on the same port at once: a new
  // device (new number, new address) with the same descriptors and unit.
  int replug(int device);

  void setBehaviour(const UnitBehaviour& behaviour);

  // While on, a bulk IN URB the unit has nothing for stays pending (the
  // device NAKs) until data arrive or the host discards it; while off it
  // completes at once with -ETIME.
  void setNakIdleReads(bool on);

  // Another program holds interface 0 of the device: a claim gets EBUSY.
  void holdInterface(int device);
  // Lets other users read the testbed (sysfs and descriptors) and make
  // their uevent sockets in it while the device nodes stay root's own (mode
  // 0600): a process of another user then finds the devices but cannot
  // open them.
  void shareWithOtherUsers();

  std::string devicePath(int device) const;  // the path LibUsbDriver gives it
  std::vector<SeenUrb> urbs(int device) const;
  std::vector<unsigned> clearedHalts(int device) const;
  bool interfaceClaimed(int device) const;
  int discardCount(int device) const;
  // How often the device node was opened (libusb asks the capabilities on
  // every open).
  int openCount(int device) const;
  // Response bytes still waiting in the device for the host.
  size_t bytesWaiting(int device) const;
  void clearHistory();

 private:
  struct Waiting {
    UMockdevIoctlData* urb;
    size_t seen;    // index in urbs
    size_t filled;  // bytes it holds so far
  };
  struct Device {
    int port = 0;
    int devnum = 0;
    std::string sysfsPath;
    std::string devnode;
    std::vector<uint8_t> descriptors;
    bool highSpeed = false;
    std::shared_ptr<SimulatedUnit> unit;
    bool gone = false;
    bool claimed = false;
    std::vector<SeenUrb> urbs;
    std::vector<unsigned> clearedHalts;
    int discards = 0;
    int opens = 0;
    size_t packetSize = 64;
    std::deque<std::vector<uint8_t>> packets;        // IN packets the device holds for the host
    std::deque<std::vector<uint8_t>> late;           // responses held back (lateReplies)
    unsigned inToggle = 0, outToggle = 0;            // the device's data toggles
    bool inToggleOff = false, outToggleOff = false;  // they disagree with the host's
    std::deque<Waiting> waiting;                     // NAKed IN URBs
    std::deque<UMockdevIoctlData*> reapable;         // completed, not yet reaped
  };

  int addDevice(const std::vector<uint8_t>& descriptors, std::shared_ptr<SimulatedUnit> unit, int port, bool withNode,
                bool highSpeed = false, int devnum = 0);
  void takeResponses(Device& d);
  void queueResponse(Device& d, const std::vector<uint8_t>& frame);
  static int handleIoctlThunk(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
  bool handleIoctl(UMockdevIoctlClient* client);
  void submitUrb(Device& d, UMockdevIoctlClient* client);
  // Fills the URB from the device's packets; false when it must wait.
  bool fillBulkIn(Device& d, Waiting& w, bool mayWait);
  static void finish(UMockdevIoctlData* urb, int status, int actualLength);
  void dropUrbs(Device& d);

  UMockdevTestbed* testbed_ = nullptr;
  UMockdevIoctlBase* handler_ = nullptr;
  mutable std::mutex mutex_;  // the ioctl handler runs on umockdev's thread
  std::vector<std::unique_ptr<Device>> devices_;
  bool nakIdleReads_ = false;
  UnitBehaviour behaviour_;
};

}  // namespace vrx4::test
