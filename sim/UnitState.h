#pragma once
// What the simulated unit keeps across runs, and its state file.
//
// The state file holds the kept settings, the unit's data buffer, the firmware
// it runs and the target behind it (shape, flash, lock bits, version text).
// Layout (little-endian): "VRX4UNIT", format version (4), then sections of
// tag (4), length (4), bytes; last a CRC-32 (4) of everything before it.
// Buffers and flash are stored as their non-blank 256-byte pages only.
// It is written to a temporary file beside it and renamed into place, so a
// crash never leaves half a state file; a file that fails any check is
// reported as damaged and not used.
#include <cstdint>
#include <string>
#include <vector>

#include "app/LittleEndian.h"

namespace vrx4 {

inline constexpr size_t kUnitUserBufferSize = 0x400000;
inline constexpr size_t kUnitBootBufferSize = 0x10000;

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

// Reads a state file; on Damaged, why is set and state is left unchanged.
StateLoad loadUnitState(const std::string& path, UnitState& state, std::string& why);
// Writes it atomically (temporary file, then rename); false with why on failure.
bool saveUnitState(const std::string& path, const UnitState& state, std::string& why);
// $XDG_STATE_HOME/vrx4/unit-state, else ~/.local/state/vrx4/unit-state; empty
// when neither is known.
std::string defaultUnitStatePath();

uint32_t crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

}  // namespace vrx4
