#pragma once
// Writes an image area, or up to five address ranges of it, as Intel HEX or
// Motorola S-record text with CR LF line ends and upper-case digits.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vrx4 {

inline constexpr int kMaxSaveRanges = 5;
inline constexpr const char* kInvalidAddress = "Invalid address.";
inline constexpr const char* kFileCreateError = "File create error.";
inline constexpr const char* kFileWriteError = "File write error.";

// Addresses are unsigned 32-bit numbers: an area may lie anywhere up to
// 0xFFFFFFFF (a boot file may put its data at the top of the space).
struct SaveRange {
  uint32_t start = 0;
  uint32_t end = 0;
  bool operator==(const SaveRange&) const = default;
};

// The ranges typed in the address field, in the order typed. A range that
// starts at address 0 is a range like any other; only `count` says how many
// pairs were given.
struct SaveRanges {
  std::array<SaveRange, kMaxSaveRanges> pairs{};
  int count = 0;  // 0: no address given, the whole area is saved

  SaveRange& operator[](size_t k) { return pairs[k]; }
  const SaveRange& operator[](size_t k) const { return pairs[k]; }
  static constexpr size_t size() { return kMaxSaveRanges; }
  bool operator==(const SaveRanges&) const = default;
};

struct SaveRequest {
  const uint8_t* image = nullptr;  // image[0] holds address areaStart
  uint32_t areaStart = 0;
  uint32_t areaEnd = 0;  // also selects the record address width
  SaveRanges ranges{};   // none given: the whole area
  std::string path;
};

// The address field's grammar: up to five items separated by ',', each an
// address A or a range A-B of hexadecimal numbers within low..high, B above
// A; blanks around numbers and separators. Fills the pairs given (unused
// ones zero) and their count on success; `out` is left alone on failure.
bool parseSaveAddress(std::string_view text, uint32_t low, uint32_t high, SaveRanges& out);

// The ranges a request writes: the whole area when no range was given,
// otherwise every range given, in order.
std::vector<SaveRange> effectiveSaveRanges(const SaveRequest& request);

enum class SaveResult { Ok, CreateFailed, WriteFailed };

// The operator's message for a failed save (empty for Ok).
const char* saveResultMessage(SaveResult r);

// Writers. Each writes the file beside its final name and renames it into
// place only when complete, so a failed save leaves any old file as it was.
// `position` advances by 16 per record written. On failure `why` (when
// given) receives the reason for the log line ("Permission denied",
// "No such file or directory", "Is a directory", ...).
SaveResult writeIntelHex(const SaveRequest& request, std::atomic<uint32_t>& position, std::string* why = nullptr);
SaveResult writeSRecords(const SaveRequest& request, std::atomic<uint32_t>& position, std::string* why = nullptr);

// Writes `size` bytes as the whole file at `path` the same way: beside it
// first, renamed into place only when every byte is written.
SaveResult writeWholeFile(const std::string& path, const void* data, size_t size, std::string* why = nullptr);

// True when the path's extension (first character after its last '.')
// begins with H or h: such files are written as Intel HEX.
bool savesAsIntelHex(std::string_view path);

// Picks the writer by the path's extension.
SaveResult saveProgramFile(const SaveRequest& request, std::atomic<uint32_t>& position, std::string* why = nullptr);

}  // namespace vrx4
