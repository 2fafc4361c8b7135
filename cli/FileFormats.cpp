#include "cli/FileFormats.h"

#include <cctype>

namespace vrx4::cli {

FileFormat formatOfName(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return FileFormat::Unknown;
  std::string ext;
  for (char c : name.substr(dot + 1)) ext.push_back(char(std::tolower(static_cast<unsigned char>(c))));
  if (ext == "hex" || ext == "ihx" || ext == "ihex") return FileFormat::IntelHex;
  if (ext == "s19" || ext == "s28" || ext == "s37" || ext == "srec" || ext == "mot") return FileFormat::SRecord;
  return FileFormat::Unknown;
}

bool parseFormatName(std::string_view text, FileFormat& format) {
  if (text == "hex")
    format = FileFormat::IntelHex;
  else if (text == "srec")
    format = FileFormat::SRecord;
  else
    return false;
  return true;
}

ProgramFormat loaderFormat(FileFormat format) {
  switch (format) {
    case FileFormat::IntelHex:
      return ProgramFormat::IntelHex;
    case FileFormat::SRecord:
      return ProgramFormat::SRecord;
    case FileFormat::Unknown:
      break;
  }
  return ProgramFormat::ByName;
}

FileFormat windowFormatOf(std::string_view path) {
  const char letter = fileTypeLetter(path);
  if (letter == 'H') return FileFormat::IntelHex;
  if (letter == 'M') return FileFormat::SRecord;
  switch (commonNameFormat(path)) {
    case ProgramFormat::IntelHex:
      return FileFormat::IntelHex;
    case ProgramFormat::SRecord:
      return FileFormat::SRecord;
    case ProgramFormat::ByName:
      break;
  }
  return FileFormat::Unknown;
}

bool windowReads(std::string_view path) { return windowFormatOf(path) != FileFormat::Unknown; }

}  // namespace vrx4::cli
