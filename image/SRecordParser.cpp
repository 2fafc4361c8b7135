// The S-record parser: one record a line, and why a refused one was refused.
#include "image/ProgramLoader.h"

#include "image/RecordFields.h"

namespace vrx4 {

using namespace records;

int parseSRecordLine(std::string_view line, std::span<uint8_t> buffer, ParseState& st) {
  st.recordFirst = st.recordLast = kNoAddress;
  st.outsideFirst = st.outsideLast = kNoAddress;
  uint32_t count;
  // count byte, address bytes, data bytes, checksum
  uint8_t bytes[257];
  bool plain = false;
  if (line.size() >= 4) {
    int c = pairValue(line.data() + 2);
    uint32_t sum;
    if (c >= 0 && line.size() >= 4 + 2 * size_t(c) && decodePlain(line.data() + 2, c + 1, bytes, sum)) {
      if ((sum & 0xFF) != 0xFF) return kLineBadChecksum;
      count = uint32_t(c);
      plain = true;
    }
  }
  if (!plain) {
    if (!field(line, 2, 2, count)) return kLineMalformed;
    int64_t sum = readBytes(line, 2, int(count), bytes);
    if (sum < 0) return kLineMalformed;
    uint32_t check;
    if (!field(line, 2 + 2 * size_t(count), 2, check)) return kLineMalformed;
    if (check != (0xFF - (uint32_t(sum) & 0xFF))) return kLineBadChecksum;
  }
  if (line.empty() || line[0] != 'S') return kLineMalformed;
  char kind = line.size() > 1 ? line[1] : '\0';
  int addressBytes;
  bool termination = false;
  switch (kind) {
    case '0':  // header
    case '5':  // record count, 16 bits
    case '6':  // record count, 24 bits (files of more than 65 535 records)
      return kLineOk;
    case '1':
      addressBytes = 2;
      break;
    case '2':
      addressBytes = 3;
      break;
    case '3':
      addressBytes = 4;
      break;
    case '9':
      addressBytes = 2;
      termination = true;
      break;
    case '8':
      addressBytes = 3;
      termination = true;
      break;
    case '7':
      addressBytes = 4;
      termination = true;
      break;
    default:
      return kLineMalformed;
  }
  // A count too small for its own address is damage, never a negative length.
  int n = int(count) - addressBytes - 1;
  if (n < 0) return kLineMalformed;
  uint32_t address = 0;
  if (plain) {
    for (int k = 1; k <= addressBytes; ++k) address = address << 8 | bytes[k];
  } else if (!field(line, 4, addressBytes * 2, address)) {
    return kLineMalformed;
  }
  const uint8_t* data = bytes + 1 + addressBytes;
  if (!termination) return storeRecord(address, data, n, buffer, st);

  if (st.collectMode) return kLineEnd;
  if (n == 0) return kLineOk;  // the usual form: reading goes on
  // A termination record carrying data ends the reading when its range lies
  // inside the area; its bytes are not stored.
  uint64_t start, end;
  effectiveArea(st, buffer, start, end);
  uint64_t last = uint64_t(address) + uint64_t(n) - 1;
  if (address < start || last > end) {
    st.outsideFirst = address;
    st.outsideLast = uint32_t(std::min<uint64_t>(last, 0xFFFFFFFFull));
    return outsideArea(st);
  }
  st.recordFirst = address;
  return kLineEnd;
}

std::string records::sRecordLineProblem(std::string_view line) {
  uint32_t count, v;
  if (!field(line, 2, 2, count)) return fieldProblem(line, 2, 2);
  uint32_t sum = 0;
  for (uint32_t k = 0; k < count; ++k) {
    if (!field(line, 2 + 2 * size_t(k), 2, v)) return fieldProblem(line, 2 + 2 * size_t(k), 2);
    sum += v;
  }
  uint32_t check;
  if (!field(line, 2 + 2 * size_t(count), 2, check)) return fieldProblem(line, 2 + 2 * size_t(count), 2);
  const uint32_t computed = 0xFF - (sum & 0xFF);
  if (check != computed) return checksumProblem(check, computed);
  if (line.empty() || line[0] != 'S')
    return line.size() > 0 && line[0] == 's' ? "record starts with 's', not 'S'" : "record does not start with 'S'";
  const char kind = line.size() > 1 ? line[1] : '\0';
  int addressBytes = 0;
  switch (kind) {
    case '1':
    case '9':
      addressBytes = 2;
      break;
    case '2':
    case '8':
      addressBytes = 3;
      break;
    case '3':
    case '7':
      addressBytes = 4;
      break;
    default:
      if (uint8_t(kind) >= 0x20 && uint8_t(kind) < 0x7F) return std::string("record type S") + kind + " is not read";
      return "unknown record type";
  }
  if (int(count) < addressBytes + 1)
    return "count " + hex2(count) + " too small for an S" + std::string(1, kind) + " address";
  if (!field(line, 4, addressBytes * 2, v)) return fieldProblem(line, 4, addressBytes * 2);
  return "malformed record";
}

}  // namespace vrx4
