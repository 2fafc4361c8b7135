#pragma once
// The host's images of the selected device's user ROM (4 MiB) and boot area
// (64 KiB), blank 0xFF, with one "has data" flag per 64 KiB bank. One
// instance, owned by the application object; allocate it on the heap.
#include <array>
#include <cstddef>
#include <cstdint>

#include "base/DeviceDef.h"
#include "base/ProjectSettings.h"

namespace vrx4 {

inline constexpr uint8_t kBlank = 0xFF;
inline constexpr size_t kUserImageSize = 0x400000;
inline constexpr size_t kBootImageSize = 0x10000;
inline constexpr int kBankCount = 64;

enum class ImageArea { User, Boot };

// Bank index of a device address.
inline int bankOf(uint32_t address) { return int((address >> 16) & 0x3F); }
// Address of a user-ROM byte on its way to the unit (22 bits).
inline uint32_t unitUserAddress(uint32_t address) { return address & 0x3FFFFF; }
// Address of a boot-area byte on its way to the unit (mapped into bank 15).
inline uint32_t unitBootAddress(uint32_t address) { return (address & 0xFFFF) | 0xF0000; }

// ROM code protect level of the protect control byte: 0 none, 1, 2.
int classifyProtect(uint8_t b);

struct MemoryImage {
  std::array<uint8_t, kUserImageSize> userImage;
  std::array<uint8_t, kBootImageSize> bootImage;
  std::array<int32_t, kBankCount> bankHasData;

  MemoryImage() { initialize(); }

  // Both images blank, no bank marked.
  void initialize();
  // All 4 MiB of the user image blank.
  void clearUserImage();
  // Marks every bank that holds a byte of the device's user-ROM area (from
  // the bank of userRomStart to the bank of userRomEnd), clearing all others.
  void markAllBanks(const DeviceDef& device);
  // Sum modulo 65536 of the area's bytes; 0 when start equals end.
  uint16_t imageChecksum(ImageArea area, const ProjectSettings& settings) const;
  // One sum modulo 65536 per device block (blockCount entries, at most 64).
  void blockChecksums(const DeviceDef& device, uint16_t* sums) const;
};

}  // namespace vrx4
