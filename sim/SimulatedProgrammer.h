#pragma once
// The whole simulated T552-VRX4: every command of the host, the settings it
// keeps between runs, its data buffer, its own firmware update and a target
// chip behind it, with operations that take simulated time.
//
// Identity (command 6): model "T552-VRX4", second name "CAN FLASH PROGRAMMER"
// dated "2025/11/04", firmware "Ver.1.11" dated "2026/02/14" (texts padded
// with NUL bytes to their fields).
//
// Modes: the unit starts in firmware mode (2) unless told to start in update
// mode (1). Update mode accepts only commands 1..6; firmware mode refuses 3..5.
// A refused command, a request of the wrong length or a value out of range
// is answered with status 227 ("Command execution error."); an unknown
// command code with 226.
//
// Firmware update: 3 with 0xF007 opens it (the staging image of pages
// 0xF800..0xFEFF, 0x70000 bytes, starts blank), 4 stores one page, 5 reports
// busy for a while after the last page (1.5 s on the clock; the host polls
// without pausing, so 20000 polls within one clock millisecond, as under a
// test clock that only moves on sleeps, also end it), then 1 with
// mode 2 starts the new firmware. The new firmware must carry "T552-VRX4" at
// image offset 0x60000 (device address 0xFE0000), or the unit stays in update
// mode. Its version text is the 8 characters at image offset 0x60020 (device
// address 0xFE0020) and its date the 16 characters at 0x60030 (0xFE0030);
// a field that is not printable text keeps the old value.
//
// Kept settings: commands 17..24 and 18 are kept and returned by 34 (byte 3
// of that reply is the user-data-present flag of 18). Until a device has
// been set, or after 25, 34 reports "no settings" (name length 0xFF). 25
// also blanks the data buffer; 29 then reports busy for 2 s. The unit holds a
// device name of up to 64 characters, an ID code of up to 64 bytes and a
// user file name of up to 183 characters, so that the reply of 34 always
// fits the host's 512 bytes; longer ones are refused with 227.
//
// Data buffer: 4 MiB user buffer (page = 22-bit address / 256, pages
// 0..0x3FFF) and the 64 KiB boot buffer (pages 0xF00..0xFFF after 27). 26
// and 27 blank their buffer, since the host sends only the banks of a new
// image that hold data. 28 without an open download, or with a page outside
// its area, gets 227. After the last page, 29 reports busy while the pages
// are "processed" (100 ms + 1 ms per 16 pages). 30 reads the user buffer;
// right after a boot download (27) the pages of bank 15 come from the boot
// buffer instead, until the next user download or Read operation.
//
// Target: command 17 fits a chip of that device (blank, no lock bits; a chip
// of the same device keeps its memory). Operations 31 work on the operation
// blocks of command 23; a device without block selection (one block, or bits
// 0..1 of blockSelectFlags both 0) always works on all blocks, and an empty
// selection touches nothing. Every operation first reaches the target:
// no target -> "Contact Err" (3); the target's ID code not all 0xFF and
// different from the ID code of 21 -> "ID Err" (9). The target's ID code is
// the bytes at the device's ID code addresses: the unit takes the full
// address list from its device table (row matched by name, first address and
// length), else the consecutive bytes from the first address (TargetModel.h).
// Then:
//   Blank: all bytes 0xFF, else "Blank Err" (8).
//   Erase: erases each block; a locked block with lockBitState effective
//     (and a device with lock bits) -> "Erase Err" (4). Erasing clears the
//     lock bit.
//   Erase/Program(/Verify): blocks already blank are not erased; programming
//     a locked block with lock bits effective -> "Program Err" (5); after a
//     block is programmed its lock bit is set when it is in the
//     lock-after-program mask (lockBitMode 1 only); Verify compares with the
//     buffer -> "Verify Err" (6).
//   Read: copies the blocks into the user buffer.
// 31 without a device set answers 228 ("No target."). The status of 32 has
// bit 7 set while the operation runs and the percent in bits 0..6; 33 stops
// it at once (the blocks done so far stay done, result 0). While an
// operation runs, commands that change or read the unit's data (1, 17..28,
// 30, 31, 35, 36) get 227.
// Times at scale 1: reaching the target 300 ms, blank check 1 ms/KiB, erase
// 20 ms per block + 2 ms/KiB, program 6 ms/KiB, verify and read 2 ms/KiB (an
// Erase/Program/Verify of a 256 KiB device takes about 3 s). Scale 0 makes
// every busy phase and operation instant.
//
// All time is read from the program's Clock; the unit never sleeps.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/DeviceTable.h"
#include "app/FirmwareUpdate.h"
#include "sim/SimulatedUnit.h"
#include "sim/TargetModel.h"
#include "sim/UnitState.h"

namespace vrx4 {

struct ProgrammerOptions {
  std::string statePath;    // empty: nothing survives the unit
  bool freshState = false;  // start fresh even when the state file exists
  bool startInUpdateMode = false;
  std::string firmwareVersion;  // non-empty: report this version text instead
  std::string firmwareDate;     // non-empty: report this firmware date instead
  double timeScale = 1.0;       // 0: instant
  bool targetConnected = true;  // false: operations end with "Contact Err"
  uint8_t forcedResult = 0;     // non-zero: operations end with this code
  std::string targetVersion;    // version text of a newly fitted target
  bool verbose = false;         // one log line per command handled
  // Keep every transfer and request for transfers()/requests(); off by
  // default, since a long session would keep every page it was sent.
  bool keepHistory = false;
  // Device table the unit knows its devices from (the full ID code address
  // list of each); empty: "vrx4type.tbl" beside the executable, if there.
  std::string deviceTablePath;
};

// The options of a unit that keeps its state where the user's programs keep
// theirs (defaultUnitStatePath); the default options keep nothing, which is
// what tests want.
ProgrammerOptions userUnitOptions();

inline constexpr const char* kSimModel = "T552-VRX4";
inline constexpr const char* kSimSecondName = "CAN FLASH PROGRAMMER";
inline constexpr const char* kSimSecondDate = "2025/11/04";
inline constexpr const char* kSimFirmwareVersion = "Ver.1.11";
inline constexpr const char* kSimFirmwareDate = "2026/02/14";

class SimulatedProgrammer : public SimulatedUnit {
 public:
  explicit SimulatedProgrammer(ProgrammerOptions options = {});
  SimulatedProgrammer(ProgrammerOptions options, uint16_t vendorId, uint16_t productId);
  ~SimulatedProgrammer() override;  // saves the state file

  // Runtime faults and knobs.
  void setTargetConnected(bool connected);
  void setForcedResult(uint8_t code);
  void setTimeScale(double scale);
  // Command 29 reports busy whatever the unit does.
  void setBusyForever(bool on);
  // Operations never finish: the status keeps bit 7 set until abortOperation.
  void setRunForever(bool on);
  void setVerbose(bool on);
  void setIdCodeAddresses(std::vector<uint32_t> addresses);

  // Writes the state file now (no-op without a path); false on failure
  // (logged).
  bool saveState(unsigned parts = kStateAll);

  // Views for tests and the simulator's own log.
  uint8_t executionMode() const;
  std::string firmwareVersion() const;
  KeptSettings keptSettings() const;
  std::vector<uint8_t> targetFlash() const;
  BlockMask targetLockBits() const;
  void setTargetLockBits(const BlockMask& bits);
  std::vector<uint8_t> userBufferBytes(uint32_t address, size_t length) const;

  static const char* commandName(uint8_t command);

 protected:
  Reply handleCommand(uint8_t command, const uint8_t* payload, size_t length) override;

 private:
  struct Step {
    enum Kind { Connect, Blank, Erase, Program, Verify, Read } kind;
    int block;
    uint64_t cost;
  };
  // Command dispatch and the handlers of each group of commands.
  Reply dispatch(uint8_t command, const uint8_t* p, size_t n);
  Reply firmwareCommand(uint8_t command, const uint8_t* p, size_t n, uint64_t now);
  Reply settingCommand(uint8_t command, const uint8_t* p, size_t n, uint64_t now);
  Reply memoryCommand(uint8_t command, const uint8_t* p, size_t n, uint64_t now);
  Reply beginOperation(size_t n, uint64_t now);
  Reply statusCommand(uint8_t command, size_t n);
  void tick(uint8_t command);
  void advanceOperation();
  bool runStep(const Step& s, uint8_t& result);
  void finishOperation(uint8_t result);
  uint64_t scaled(double ms) const;
  bool lockEffective() const;
  std::vector<uint8_t> unitInfo() const;
  std::vector<uint8_t> initialLoadData() const;
  std::vector<uint8_t> bootAreaInfo() const;
  void installFirmware();
  void fitTarget(const TargetGeometry& g);
  void resetSettings();
  void loadState();
  void markDirty(unsigned parts = kStateSettings) { dirtyParts_ |= parts; }
  void logCommand(uint8_t command, const Reply& reply);

  ProgrammerOptions options_;
  DeviceTable catalogue_;
  uint8_t mode_ = 2;
  UnitState state_;
  TargetModel target_;
  bool targetConnected_ = true;
  uint8_t forcedResult_ = 0;
  double timeScale_ = 1.0;
  bool busyForever_ = false;
  bool runForever_ = false;
  bool verbose_ = false;
  unsigned dirtyParts_ = 0;  // StateParts still to be written

  // Firmware update.
  bool updateOpen_ = false;
  std::vector<uint8_t> staging_;
  uint64_t updateBusyUntil_ = 0;
  uint64_t lastPollMs_ = 0;
  uint32_t pollsAtSameTime_ = 0;

  // Downloads and busy phases.
  enum class Area { None, User, Boot } download_ = Area::None;
  Area readArea_ = Area::User;
  uint32_t pagesInDownload_ = 0;
  uint64_t busyUntil_ = 0;
  bool processing_ = false;

  // The running operation.
  bool running_ = false;
  uint8_t opStatus_ = 0;
  uint8_t opResult_ = 0;
  uint8_t opCode_ = 0;
  std::vector<Step> steps_;
  size_t nextStep_ = 0;
  uint64_t opStart_ = 0;
  uint64_t opTotal_ = 0;
  uint64_t opDone_ = 0;

  std::string lastLog_;
  uint32_t repeats_ = 0;
};

}  // namespace vrx4
