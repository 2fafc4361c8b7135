#pragma once
// Per-board serial numbers: where a board's number goes in the image and in
// which form (--serial ADDR:WIDTH[:FORMAT]), and where it comes from: a
// counter file holding the next number, or a list file with one value per
// line whose position is kept in LIST.pos. A number is taken under an
// exclusive lock and the file that says so is replaced atomically and synced
// before the caller may use it, so parallel processes never share a number
// and a crash at any point never hands one out twice.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/DeviceDef.h"
#include "image/MemoryImage.h"

namespace vrx4::cli {

class Events;

enum class SerialFormat { Le, Be, Bcd, Ascii, Hex };

struct SerialField {
  uint32_t address = 0;
  int width = 0;  // bytes, 1..32
  SerialFormat format = SerialFormat::Le;
};

// "ADDR:WIDTH[:FORMAT]": ADDR hexadecimal (0x allowed), WIDTH decimal bytes
// 1..32, FORMAT le (the default), be, bcd, ascii or hex.
bool parseSerialField(const std::string& text, SerialField& field, std::string& why);
// The field lies inside the user ROM and holds neither an ID code byte nor
// the protect byte.
bool checkSerialField(const SerialField& field, const DeviceDef& device, std::string& why);

// A number, or bytes given in hex (a list line such as 00:1A:2B:3C:4D:5E).
struct SerialValue {
  bool isBytes = false;
  uint64_t number = 0;
  std::vector<uint8_t> bytes;
  std::string text() const;  // "1005" or "00:1A:2B"
};

// A list line: decimal digits are a number; hex byte pairs separated by
// ':', '-' or blanks are bytes. False for anything else.
bool parseSerialValue(const std::string& line, SerialValue& value);

// The field's bytes for the value: le/be binary, bcd (two digits a byte,
// most significant first), ascii (decimal digits, zero-padded), hex (upper
// case hex digits, zero-padded). Bytes are written as listed in le, be and
// bcd (exactly WIDTH of them) and as their digits in hex. False with why
// when the value does not fit.
bool encodeSerial(const SerialField& field, const SerialValue& value, std::vector<uint8_t>& out, std::string& why);

struct SerialSource {
  std::string counter;  // --serial-counter FILE
  std::string list;     // --serial-list FILE
  bool haveStart = false;
  uint64_t start = 0;  // --serial-start N: the first number of a new counter
};

enum class TakeResult {
  Taken,
  Refused,  // nothing taken: no counter, list exhausted, value does not fit (usage, status 2)
  Failed,   // nothing taken: a file could not be read or written (status 3)
};

struct TakenSerial {
  SerialValue value;
  uint64_t slot = 0;  // the counter's number or the list position
};

// Takes the next value (a handed-back one first) and records it as taken
// before returning. The lock wait is bounded (10 s on the clock).
TakeResult takeSerial(const SerialSource& source, const SerialField& field, TakenSerial& taken, std::string& why);
// Gives the value back: the next take hands it out again.
bool handBackSerial(const SerialSource& source, const TakenSerial& taken, std::string& why);

// Test seam: called with the step number (1 locked, 2 read, 3 new content
// written to its temporary, 4 replaced and synced, 5 unlocked) while a value
// is taken.
extern void (*serialTakeStep)(int step);

// The field of --serial checked against the device of `deviceName` in the
// table beside the program, once before a gang's processes start: 0, or 2
// with the reason as an error event. A table that cannot be read is left
// to the units' own checks.
int checkSerialFieldOfDevice(Events& events, const std::string& fieldText, const std::string& deviceName,
                             const std::string& programFolder);

// The serial number of one job on one unit.
class JobSerial {
 public:
  bool requested() const { return requested_; }
  bool taken() const { return taken_; }
  const TakenSerial& value() const { return value_; }

  void configure(const SerialField& field, const SerialSource& source, bool reuseFailed) {
    field_ = field;
    source_ = source;
    reuseFailed_ = reuseFailed;
    requested_ = true;
  }
  // Before the unit hears anything: checks the field against the device and
  // takes the number (only for jobs that program: epv, ep). Returns 0 or
  // the exit status, the reason given as an error event.
  int take(const DeviceDef& device, const std::string& operation, Events& events);
  // Writes the field into the image and marks its banks for the send.
  void patch(MemoryImage& image) const;
  // At the job's end: a job that did not pass burns its number, unless
  // --serial-reuse-failed was given and the unit never received the image.
  // Returns the record's "serial" field (null when no number was taken).
  nlohmann::ordered_json finish(int status, bool imageSent, Events& events);

 private:
  bool requested_ = false;
  bool taken_ = false;
  bool finished_ = false;
  bool reuseFailed_ = false;
  SerialField field_;
  SerialSource source_;
  TakenSerial value_;
  std::vector<uint8_t> bytes_;
};

}  // namespace vrx4::cli
