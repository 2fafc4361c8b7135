#pragma once
// The file commands of vrx4-cli: they need no unit, only the loader, the
// saver and the device table the GUI uses.
#include <string>
#include <vector>

namespace vrx4 {
class DeviceTable;
}

namespace vrx4::cli {

struct FileOptions {
  std::vector<std::string> files;
  std::string device;
  bool haveDevice = false;
  std::string ranges;
  bool haveRanges = false;
  std::string table;  // empty: the table beside the program
  bool yes = false;
  std::string format;     // --format hex|srec: INPUT's format whatever its name
  std::string outFormat;  // --out-format hex|srec: OUTPUT's format whatever its name
  bool json = false;      // --json: standard output carries only JSON lines
};

// The device table of --table (or the one beside the program): the messages
// name the table that was given. False (message shown) when it cannot be used.
bool readDeviceTable(const std::string& givenTable, const std::string& programFolder, DeviceTable& table,
                     std::string* usedPath = nullptr);

// convert INPUT OUTPUT, checksum INPUT: exit status 0; 3 when a file
// cannot be read, is refused or cannot be written, or the table is missing;
// 2 when the arguments do not fit the command (an unknown device, a bad
// --format or --ranges). The reason is on standard error. "-" is standard
// input (with --format) or standard output.
int convertFile(const FileOptions& o, const std::string& programFolder);
int checksumFile(const FileOptions& o, const std::string& programFolder);

}  // namespace vrx4::cli
