#pragma once
// Writes an image area, or up to five address ranges of it, as Intel HEX or
// Motorola S-record text with CR LF line ends and upper-case digits.
#include <array>
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vrx4 {

inline constexpr int kMaxSaveRanges = 5;
inline constexpr const char* kInvalidAddress = "Invalid address.";
inline constexpr const char* kFileCreateError = "File create error.";
inline constexpr const char* kFileWriteError = "File write error.";

struct SaveRange {
  int32_t start = 0;
  int32_t end = 0;
  bool operator==(const SaveRange&) const = default;
};
using SaveRanges = std::array<SaveRange, kMaxSaveRanges>;

struct SaveRequest {
  const uint8_t* image = nullptr;  // image[0] holds address areaStart
  int32_t areaStart = 0;
  int32_t areaEnd = 0;             // also selects the record address width
  SaveRanges ranges{};             // all zero: the whole area
  std::string path;
};

// The address field's grammar: up to five items separated by ',', each an
// address A or a range A-B of hexadecimal numbers within low..high, B above
// A; blanks around numbers and separators. Fills all five pairs (unused ones
// zero) on success; `out` is left alone on failure.
bool parseSaveAddress(std::string_view text, int32_t low, int32_t high, SaveRanges& out);

// The ranges a request writes: the whole area when the first pair is (0, 0);
// otherwise the first pair and each later pair whose start and end are both
// nonzero, in order.
std::vector<SaveRange> effectiveSaveRanges(const SaveRequest& request);

enum class SaveResult { Ok, CreateFailed, WriteFailed };

// The operator's message for a failed save (empty for Ok).
const char* saveResultMessage(SaveResult r);

// Writers. Each writes the file beside its final name and renames it into
// place only when complete, so a failed save leaves any old file as it was.
// `position` advances by 16 per record written.
SaveResult writeIntelHex(const SaveRequest& request, std::atomic<uint32_t>& position);
SaveResult writeSRecords(const SaveRequest& request, std::atomic<uint32_t>& position);

// Writes `size` bytes as the whole file at `path` the same way: beside it
// first, renamed into place only when every byte is written.
SaveResult writeWholeFile(const std::string& path, const void* data, size_t size);

// True when the path's extension (first character after its last '.')
// begins with H or h: such files are written as Intel HEX.
bool savesAsIntelHex(std::string_view path);

// Picks the writer by the path's extension.
SaveResult saveProgramFile(const SaveRequest& request, std::atomic<uint32_t>& position);

}  // namespace vrx4
