#pragma once
// Small routines the parts of MainViewModel share: formats, a device's
// counts and areas, file name parts.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "view/MainViewModel.h"

namespace vrx4::mainview {

inline std::string format(const char* fmt, unsigned a, unsigned b = 0) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

// A device's ID code length as far as the 32-byte IdCode can hold it.
inline int idCountOf(const DeviceDef& device) {
  return std::clamp(int(int32_t(device.idCodeLength)), 0, kMaxIdCodeLength);
}

inline int blockCountOf(const DeviceDef& device) { return std::clamp(int(int32_t(device.blockCount)), 0, kMaxBlocks); }

// Whether a device address lies in the user ROM and in the image, which
// holds the user ROM from userRomStart on.
inline bool inUserImage(const DeviceDef& device, uint32_t a) {
  return a >= device.userRomStart && a <= device.userRomEnd && a - device.userRomStart < kUserImageSize;
}

inline std::string fileNameOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

inline std::string folderOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

inline void storeText(char* field, size_t capacity, const std::string& text) {
  std::memset(field, 0, capacity);
  std::memcpy(field, text.data(), std::min(text.size(), capacity - 1));
}

// A boot start and size describe an area of the 64 KiB boot image, or no
// area at all (both 0).
inline bool bootAreaUsable(uint32_t start, uint32_t size) {
  if (size == 0) return start == 0;
  return size <= kBootImageSize && (start & 0xFFFF) + uint64_t(size) <= kBootImageSize;
}

}  // namespace vrx4::mainview
