#pragma once
// The project file (*.vxp): a 32-byte header, the body length 3008 as four
// little-endian bytes and the settings record byte for byte, 3044 bytes in
// all.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/ProjectSettings.h"
#include "image/ProgramSaver.h"

namespace vrx4 {

inline constexpr char kProjectHeader[] = "T552-VRX4 project file Ver.1.00 ";
inline constexpr size_t kProjectHeaderSize = 32;
inline constexpr uint32_t kProjectBodyLength = 3008;
inline constexpr size_t kProjectFileSize = kProjectHeaderSize + 4 + kProjectBodyLength;
static_assert(sizeof(kProjectHeader) == kProjectHeaderSize + 1);
static_assert(kProjectFileSize == 3044);

inline constexpr const char* kProjectFormatError = "T552-VRX4 project file format error.";

// The file's bytes for a record.
std::vector<uint8_t> projectFileBytes(const ProjectSettings& settings);

// Writes the file beside its final name and renames it into place, so a
// failed save never leaves a partial file (an old file stays as it was).
SaveResult writeProjectFile(const std::string& path, const ProjectSettings& settings, std::string* why = nullptr);

enum class ProjectReadResult { Ok, OpenFailed, FormatError };

// Whether a record read from a file can be used with a device table of
// `rowCount` rows: file names of 0..1023 characters, terminated inside their
// fields; ID code lengths 0..32; a block count of 0..64; deviceIndex -1 or a
// row of the table; the boot loader text terminated.
bool projectRecordUsable(const ProjectSettings& settings, int rowCount);

// Reads and checks a whole file. `out` changes only on Ok: a file shorter
// than 3044 bytes, another header, another length or an unusable record is
// a FormatError.
// `why` (when given) receives the reason of an OpenFailed or a short file,
// naming the file, for the log line.
ProjectReadResult readProjectFile(const std::string& path, int rowCount, ProjectSettings& out,
                                  std::string* why = nullptr);

}  // namespace vrx4
