#pragma once
// The device definition table: the target devices the unit can program, one
// row per device, read at start-up from the text file "vrx4type.tbl" in the
// program folder.
#include <iosfwd>
#include <string>
#include <vector>

#include "base/DeviceDef.h"

namespace vrx4 {

inline constexpr const char* kDeviceTableFileName = "vrx4type.tbl";
inline constexpr const char* kDeviceTableFormatError = "Device definition file 'vrx4type.tbl' format error.";
inline constexpr const char* kDeviceTableMissing = "No device definition file 'vrx4type.tbl' found.";

// Longest line the table may hold, not counting its line end.
inline constexpr size_t kDeviceTableLineLimit = 2999;

class DeviceTable {
 public:
  static constexpr int kMaxRows = 256;

  int rowCount() const { return int(rows_.size()); }
  // Row by index; an index out of range gives an all-zero row.
  const DeviceDef& row(int index) const;
  // Index of the first row whose name is exactly `name`, or -1.
  int findByName(const std::string& name) const;
  // Set when the file contains a "# OPTION MODE" line.
  bool optionMode() const { return optionMode_; }

  void clear();
  // Appends a row; false (and nothing appended) when the table is full.
  bool append(const DeviceDef& row);
  void setOptionMode(bool on) { optionMode_ = on; }

 private:
  std::vector<DeviceDef> rows_;
  bool optionMode_ = false;
};

// Why a table was refused (for the log; the operator sees one message).
struct DeviceTableError {
  int line = 0;        // 1-based line number, 0 when the header is missing
  std::string reason;  // empty on success
};

// Reads the whole table from an open text stream into `table` (cleared
// first). On a malformed line the rows read before it remain, the format
// error message is shown through showMessageAfterSplash and the result is
// false; at the end of the table the result is true when the header line was
// seen, else the same message and false.
bool parseDeviceTable(std::istream& in, DeviceTable& table);

// The same without any message: fills `error` and returns false instead.
bool parseDeviceTableQuiet(std::istream& in, DeviceTable& table, DeviceTableError& error);

// Opens `path` and parses it with parseDeviceTable. When the file cannot be
// opened, `fileMissing` is set, nothing is shown (the caller owns the
// "not found" message) and the result is false.
// The format error message names `shownName` (default: the table the
// program looks for); the log line gives the path, the line and the reason.
bool parseDeviceTableFile(const std::string& path, DeviceTable& table, bool& fileMissing);
bool parseDeviceTableFile(const std::string& path, DeviceTable& table, bool& fileMissing, const std::string& shownName);

// The two messages for a table of another name (a table given on the
// command line): the program's own texts with that name in them.
std::string deviceTableMissingText(const std::string& shownName);
std::string deviceTableFormatErrorText(const std::string& shownName);

}  // namespace vrx4
