#pragma once
// The program file formats vrx4-cli reads and writes, told by the file's
// extension or given with --format / --out-format.
#include <string>
#include <string_view>

#include "image/ProgramLoader.h"

namespace vrx4::cli {

enum class FileFormat { Unknown, IntelHex, SRecord };

// *.hex, *.ihx, *.ihex: Intel HEX; *.s19, *.s28, *.s37, *.srec, *.mot:
// S-records (any letter case); anything else Unknown.
FileFormat formatOfName(std::string_view path);

// "hex" or "srec" (the values of --format and --out-format).
bool parseFormatName(std::string_view text, FileFormat& format);

// The names accepted, for messages.
inline constexpr const char* kAcceptedNames =
    "*.hex, *.ihx, *.ihex (Intel HEX) or *.s19, *.s28, *.s37, *.srec, *.mot (S-records)";

// The names `program` reads, for messages.
inline constexpr const char* kProgramNames =
    "program reads *.hex, *.ihx, *.ihex (Intel HEX) and *.s19, *.s28, *.s37, *.srec, *.mot (S-records); "
    "vrx4-cli convert makes one of them";

// The loader's parser for a format.
ProgramFormat loaderFormat(FileFormat format);

// True when the window's loader has a parser for the file by its name: the
// first letter of the extension (H: Intel HEX, M: S-records) or one of the
// common names (*.ihx, *.ihex, *.s19, *.s28, *.s37, *.srec).
bool windowReads(std::string_view path);
// The format the window's loader reads the file in by its name.
FileFormat windowFormatOf(std::string_view path);

}  // namespace vrx4::cli
