#pragma once
// The fixed bit-timing table of the unit's 30 MHz CAN clock, the two look-ups
// into it and the texts the main form shows for a CAN record.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/CanSetting.h"
#include "base/LittleEndian.h"

namespace vrx4 {

struct CanBitTimingEntry {
  LeF32 baudKbps;  // same in every used slot of a row
  uint8_t samplePointPct = 0;
  uint8_t clockMhz = 0;  // 30 in every used slot
  uint8_t prescalerMinus1 = 0;
  uint8_t tseg1 = 0;  // quanta from the end of the sync segment to the sample point
  uint8_t tseg2 = 0;  // quanta from the sample point to the end of the bit
  uint8_t sjw = 0;    // 1 in every used slot
  uint8_t zero[2] = {};
  LeI32 entryCount;  // used slots of the row (1..4); 0 in empty slots
};
static_assert(sizeof(CanBitTimingEntry) == 16);
static_assert(offsetof(CanBitTimingEntry, samplePointPct) == 4);
static_assert(offsetof(CanBitTimingEntry, sjw) == 9);
static_assert(offsetof(CanBitTimingEntry, entryCount) == 12);

inline constexpr int kCanTimingRows = 11;
inline constexpr int kCanTimingSlots = 4;

extern const CanBitTimingEntry CanBitTimingTable[kCanTimingRows][kCanTimingSlots];

// Number of used entries of a row (the entryCount of its first slot); 0 for a
// row number outside the table.
int canTimingEntryCount(int row);

struct CanTimingIndex {
  int row = 0;
  int entry = 0;
  bool operator==(const CanTimingIndex&) const = default;
};

// The first row whose bit rate equals baudKbps exactly, and in it the first
// entry with the given sample point (else entry 0). No row: 0 / 0.
CanTimingIndex findTimingByValue(float baudKbps, uint8_t samplePointPct);

// Recovers baudKbps and samplePointPct of a record from its timing bytes 0..4
// (500.0 / 70 when no entry matches). The timing bytes stay as they are.
void findTimingByRegisters(CanSetting& can);

// The main form's texts: "1.0Mbps", "500.0Kbps"; "Use" / "No use"; "250ms" / "No use".
std::string canBaudrateText(float baudKbps);
std::string canSendFrameText(const CanSetting& can);
std::string canPulseText(const CanSetting& can);

}  // namespace vrx4
