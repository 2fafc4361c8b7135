#include "image/MemoryImage.h"

#include <algorithm>

namespace vrx4 {
namespace {

// Sum modulo 65536 of count bytes starting at data.
uint16_t sum16(const uint8_t* data, size_t count) {
  uint32_t sum = 0;
  // Add in chunks that cannot overflow 32 bits (255 * 16 Mi < 2^32).
  while (count > 0) {
    size_t chunk = std::min<size_t>(count, size_t(1) << 24);
    for (size_t i = 0; i < chunk; ++i) sum += data[i];
    data += chunk;
    count -= chunk;
    sum &= 0xFFFF;
  }
  return uint16_t(sum);
}

}  // namespace

int classifyProtect(uint8_t b) {
  if ((b & 0x30) == 0x00) return 0;  // protect released
  if ((b & 0x0C) != 0x0C) return 2;
  if ((b & 0xC0) != 0xC0) return 1;
  return 0;
}

void MemoryImage::initialize() {
  userImage.fill(kBlank);
  bootImage.fill(kBlank);
  bankHasData.fill(0);
}

void MemoryImage::clearUserImage() { userImage.fill(kBlank); }

void MemoryImage::markAllBanks(const DeviceDef& device) {
  bankHasData.fill(0);
  // Every bank from the one of the area's first address to the one of its
  // last, also when the area starts or ends inside a bank. Computed in 64
  // bits from start and size, so a size near 4 GiB (from a foreign project
  // file) cannot wrap, and never more than the 64 flags there are.
  const uint64_t size = uint32_t(device.userRomSize);
  if (size == 0) return;
  const uint64_t first = uint32_t(device.userRomStart);
  const uint64_t last = first + size - 1;
  const uint64_t banks = std::min<uint64_t>((last >> 16) - (first >> 16) + 1, kBankCount);
  // The bank index of an address is taken modulo 64, so an area that
  // crosses the top of the 4 MiB bank space continues at bank 0.
  for (uint64_t k = 0; k < banks; ++k) bankHasData[size_t(((first >> 16) + k) & 0x3F)] = 1;
}

uint16_t MemoryImage::imageChecksum(ImageArea area, const ProjectSettings& settings) const {
  uint32_t s, e;
  const uint8_t* data;
  size_t capacity;
  if (area == ImageArea::User) {
    s = unitUserAddress(settings.device.userRomStart);
    e = unitUserAddress(settings.device.userRomEnd);
    data = userImage.data();
    capacity = userImage.size();
  } else {
    s = unitUserAddress(settings.bootStart);
    e = unitUserAddress(settings.bootEnd);
    data = bootImage.data();
    capacity = bootImage.size();
  }
  if (s == e) return 0;
  // The byte count is taken in the same 22-bit address space as s and e, so an
  // end that wrapped past the top (e below s) still gives the area's length
  // and never more than the 4 MiB there are; the boot image holds only 64 KiB.
  size_t count = size_t((e - s) & 0x3FFFFF) + 1;
  return sum16(data, std::min(count, capacity));
}

void MemoryImage::blockChecksums(const DeviceDef& device, uint16_t* sums) const {
  int count = std::clamp<int>(device.blockCount, 0, kMaxBlocks);
  // The image holds device addresses userRomStart .. userRomStart + 4 MiB - 1.
  // Only the part of a block inside that window is summed: a block starting
  // below userRomStart or running past the image contributes the bytes it has
  // inside, and a block wholly outside sums to 0.
  const uint64_t imageFirst = uint32_t(device.userRomStart);
  const uint64_t imageEnd = imageFirst + userImage.size();
  for (int i = 0; i < count; ++i) {
    uint64_t first = uint32_t(device.blockStart[i]);
    uint64_t end = first + uint32_t(device.blockSize[i]);
    first = std::max(first, imageFirst);
    end = std::min(end, imageEnd);
    sums[i] = first < end ? sum16(userImage.data() + (first - imageFirst), size_t(end - first)) : 0;
  }
}

}  // namespace vrx4
