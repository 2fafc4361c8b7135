#pragma once
// Reads a boot file (*.btp, S-record text of at most 2048 bytes) into the
// first 2048 bytes of the boot image and sets the boot-area bounds.
#include <string>

#include "base/ProjectSettings.h"
#include "image/MemoryImage.h"

namespace vrx4 {

inline constexpr uint32_t kMaxBootFileSpan = 2048;

inline constexpr const char* kNotBootFileName = "Not .btp file name.";
inline constexpr const char* kBootDataSizeError = "File data size error.";
inline constexpr const char* kBootNoData = "File has no boot data.";

// On true, bytes 0..2047 of image.bootImage and settings.bootStart, bootEnd
// and bootSize are set. On false the operator has been told why; the boot
// image is untouched and the bounds are 0 when the file itself was bad
// (unchanged when its name or opening failed).
bool loadBootFile(const std::string& path, MemoryImage& image, ProjectSettings& settings);

}  // namespace vrx4
