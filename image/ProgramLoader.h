#pragma once
// Reads an Intel HEX or Motorola S-record program file into the user image,
// keeping only data inside the selected device's user-ROM area. The record
// parsers also serve the boot file reader in their collecting mode.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/DeviceDef.h"
#include "base/IdCode.h"
#include "image/MemoryImage.h"

namespace vrx4 {

enum class LoadMode {
  Interactive = 0,  // questions asked, protect level reported, ID code taken
  Silent = 1,       // start-up restore: no question, no protect check, no ID code
};

// Results of one line.
inline constexpr int kLineOk = 0;
inline constexpr int kLineEnd = 100;      // end of data, stop reading
inline constexpr int kLineAbandoned = 1;  // operator refused data outside the area
inline constexpr int kLineMalformed = -11;
inline constexpr int kLineBadChecksum = -12;

inline constexpr uint32_t kNoAddress = 0xFFFFFFFF;

inline constexpr const char* kFileOpenError = "File open error.";
inline constexpr const char* kFileFormatError = "File format error.";
inline constexpr const char* kOutsideAreaQuestion =
    "This file includes data addressing non-ROM area of the selected device. \n"
    " Do you want to continue?";
inline constexpr const char* kLevel1Question = "Level1 protect enabled\nLoad continue ?";
inline constexpr const char* kLevel2Question = "Level2 protect enabled\nLoad continue ?";

// Working record of one load, shared by the line parsers.
struct ParseState {
  int32_t collectMode = 0;            // 1: boot file reader (no area test, addresses mod 64 KiB)
  uint32_t base = 0;                  // extended address of HEX record types 02/04/FF
  uint32_t areaStart = 0;             // loader: the user-ROM area; collect mode: running min
  uint32_t areaEnd = 0;               // loader: the user-ROM area; collect mode: running max
  uint32_t recordFirst = kNoAddress;  // data stored by the current line
  uint32_t recordLast = kNoAddress;
  int32_t outsideAccepted = 0;         // 1 once data outside the area may be skipped
  uint32_t outsideFirst = kNoAddress;  // a record of the current line skipped as outside
  uint32_t outsideLast = kNoAddress;
};

// What a load found, for a report of it (the pre-flight check): the address
// ranges the file's data records filled inside the area, and the ranges of
// the records skipped because they lie outside it. Ranges are [first, last],
// sorted and merged.
struct LoadReport {
  std::vector<std::pair<uint32_t, uint32_t>> filled;
  std::vector<std::pair<uint32_t, uint32_t>> outside;
  // Bytes of the ranges within [first, last].
  static uint64_t bytesWithin(const std::vector<std::pair<uint32_t, uint32_t>>& ranges, uint32_t first, uint32_t last);
  static uint64_t totalBytes(const std::vector<std::pair<uint32_t, uint32_t>>& ranges);
};

// One line each (line end included or not). `buffer` holds the area from
// areaStart on; nothing is ever stored outside it, whatever a record says.
int parseHexLine(std::string_view line, std::span<uint8_t> buffer, ParseState& state);
int parseSRecordLine(std::string_view line, std::span<uint8_t> buffer, ParseState& state);

// Why a parser refused a line (result -11 or -12), in words for the log
// line: "checksum mismatch (...)", "bad digit 'G' in column 12", "record
// type 03 is not read", "short record (...)". Reporting only: what is
// accepted is decided by the parsers above.
std::string describeRefusedLine(std::string_view line, bool intelHex, int result);

// The log detail of a file that could not be read as a program file:
// "PATH: REASON" or "PATH, line N: REASON" (N > 0).
std::string fileProblemDetail(const std::string& path, int lineNumber, const std::string& reason);

// Reads exactly `digits` characters (at most 32) as one hexadecimal number:
// leading blanks are skipped, 0-9 A-F a-f accepted, anything else fails, as
// does a field empty after its blanks. A NUL (or the end of `text`) ends the
// field early.
bool parseHexField(std::string_view text, int digits, uint32_t& value);
bool parseHexField(const char* text, int digits, uint32_t& value);

// The first character after the last '.' of the path, upper-cased when it is
// a lower-case letter; without a '.', the character at index 1 ('\0' when the
// path is too short).
char fileTypeLetter(std::string_view path);

// Which record parser reads a file: by its name (fileTypeLetter 'H' Intel
// HEX, 'M' S-records; then the common names *.ihx, *.ihex Intel HEX and
// *.s19, *.s28, *.s37, *.srec S-records; anything else no parser), or the
// one given.
enum class ProgramFormat { ByName, IntelHex, SRecord };

// IntelHex for *.ihx and *.ihex, SRecord for *.s19, *.s28, *.s37 and *.srec
// (any letter case), ByName for every other name.
ProgramFormat commonNameFormat(std::string_view path);

// Loads the program file at `path` for `device` into image.userImage (only on
// success; bankHasData is rewritten in any case). In Interactive mode
// `protectLevel` receives the protect level and idCode.idBytes the ID code
// bytes (idCode.idLength of them, as set by the caller).
bool loadProgramFile(LoadMode mode, const std::string& path, const DeviceDef& device, MemoryImage& image,
                     IdCode& idCode, int32_t& protectLevel, ProgramFormat format = ProgramFormat::ByName,
                     LoadReport* report = nullptr);

}  // namespace vrx4
