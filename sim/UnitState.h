#pragma once
// What the simulated unit keeps across runs, and its state file.
//
// Two files: the state file itself holds the kept settings, the firmware the
// unit runs and the target's shape, lock bits and version text; PATH.memory
// holds the unit's data buffers and the target's flash. Settings change
// often and are small, memory is large and changes with downloads and
// operations, so each is written only when it changed.
// Layout of both (little-endian): "VRX4UNIT" or "VRX4UMEM", format version
// (4), then sections of tag (4), length (4), bytes; last a CRC-32 (4) of
// everything before it. Buffers and flash are stored as their non-blank
// 256-byte pages only. Each is written to a temporary file beside it and
// renamed into place, so a crash never leaves half a file; a file that fails
// any check is reported as damaged and not used.
#include <cstdint>
#include <string>
#include <vector>

#include "base/LittleEndian.h"

namespace vrx4 {

inline constexpr size_t kUnitUserBufferSize = 0x400000;
inline constexpr size_t kUnitBootBufferSize = 0x10000;

// The longest user file name and ID code the unit keeps: with a 64-character
// device name its getInitialLoadData answer then still fits 512 bytes.
inline constexpr size_t kMaxKeptFileNameLength = 183;
inline constexpr size_t kMaxKeptIdCodeLength = 64;

// The settings the host sends and reads back with getInitialLoadData.
struct KeptSettings {
  bool hasDevice = false;
  std::vector<uint8_t> devicePayload;  // setDevice payload as received
  uint8_t userDataPresent = 0;
  std::string userFileName;
  uint16_t blockSums[64] = {};
  std::vector<uint8_t> idCode;
  uint8_t operationCode = 1;
  uint8_t sendFlags = 0;
  uint8_t lockBitState = 0;
  BlockMask operationBlockMask;
  BlockMask lockAfterProgramMask;
  uint8_t can[44] = {};

  bool operator==(const KeptSettings&) const = default;
};

struct UnitState {
  KeptSettings settings;
  std::string firmwareVersion;  // empty: the unit's built-in firmware
  std::string firmwareDate;
  std::vector<uint8_t> userBuffer;  // kUnitUserBufferSize bytes
  std::vector<uint8_t> bootBuffer;  // kUnitBootBufferSize bytes
  bool bootDataPresent = false;
  std::vector<uint8_t> targetPayload;  // setDevice payload of the fitted chip; empty: none
  std::vector<uint8_t> targetFlash;
  BlockMask targetLockBits;
  std::string targetVersion;

  UnitState();  // blank buffers, nothing fitted
};

enum class StateLoad { Loaded, Missing, Damaged };

// Which of the two files to write.
enum StateParts : unsigned { kStateSettings = 1, kStateMemory = 2, kStateAll = 3 };

// Reads a state file; on Damaged, why is set and state is left unchanged.
// Loaded with why set: the settings were read but the memory file was
// damaged or did not fit them, so buffers and flash start blank.
StateLoad loadUnitState(const std::string& path, UnitState& state, std::string& why);
// Writes the chosen parts atomically (temporary file, then rename); false
// with why on failure.
bool saveUnitState(const std::string& path, const UnitState& state, std::string& why, unsigned parts = kStateAll);
std::string unitMemoryPath(const std::string& statePath);
// Puts a damaged file aside for a look, under a name with the time
// (PATH.damaged-YYYYMMDD-HHMMSS, UTC), and keeps the newest
// kDamagedCopiesKept of them. Returns the copy's path; empty when the file
// could not be moved.
inline constexpr size_t kDamagedCopiesKept = 3;
std::string keepDamagedCopy(const std::string& path);
// $XDG_STATE_HOME/vrx4/unit-state, else ~/.local/state/vrx4/unit-state; empty
// when neither is known.
std::string defaultUnitStatePath();

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

}  // namespace vrx4
