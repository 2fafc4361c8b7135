// The loader that drives the record parsers: the parser a file takes, the
// working buffer, the line loop and its messages, the protection question and
// the ID code the image holds.
#include "image/ProgramLoader.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/Log.h"
#include "base/Prompter.h"
#include "base/StartupMessage.h"
#include "image/LineReader.h"
#include "image/RecordFields.h"

namespace vrx4 {

namespace {

// The 4 MiB working buffer of one load. Aligned to 2 MiB and offered to the
// kernel for huge pages: the buffer is touched whole, and two huge page
// faults cost far less than a thousand small ones.
struct WorkBuffer {
  static constexpr size_t kAlign = 2 * 1024 * 1024;
  uint8_t* data = static_cast<uint8_t*>(std::aligned_alloc(kAlign, kUserImageSize));
  WorkBuffer() {
#ifdef MADV_HUGEPAGE
    if (data) ::madvise(data, kUserImageSize, MADV_HUGEPAGE);
#endif
  }
  ~WorkBuffer() { std::free(data); }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;
};

using Parser = int (*)(std::string_view, std::span<uint8_t>, ParseState&);

// The record parser for a file: the format asked for, or the one its name
// says; null for a name of neither format.
Parser parserFor(const std::string& path, ProgramFormat format) {
  if (format == ProgramFormat::IntelHex) return parseHexLine;
  if (format == ProgramFormat::SRecord) return parseSRecordLine;
  switch (fileTypeLetter(path)) {
    case 'H':
      return parseHexLine;
    case 'M':
      return parseSRecordLine;
    default:
      // The other common names of the two formats; any other name has no
      // parser: its lines are read and ignored.
      return commonNameFormat(path) == ProgramFormat::IntelHex  ? parseHexLine
             : commonNameFormat(path) == ProgramFormat::SRecord ? parseSRecordLine
                                                                : nullptr;
  }
}

// The protection level the loaded image sets (a level asks first; false when
// the operator declines) and the image's bytes at the device's ID code
// addresses.
bool confirmProtectAndTakeIdCode(const DeviceDef& device, std::span<const uint8_t> buffer, IdCode& idCode,
                                 int32_t& protectLevel) {
  const uint32_t romStart = device.userRomStart;
  const uint32_t romEnd = device.userRomEnd;
  auto inArea = [&](uint32_t a) { return a >= romStart && a <= romEnd && uint64_t(a - romStart) < kUserImageSize; };
  int level = 0;
  if (inArea(device.protectAddress)) level = classifyProtect(buffer[device.protectAddress - romStart]);
  protectLevel = level;
  if (level == 1 || level == 2) {
    Answer a =
        showMessage(level == 1 ? kLevel1Question : kLevel2Question, Icon::Warning, Buttons::OkCancel, Answer::Ok);
    if (a != Answer::Ok) return false;
  }
  int n = std::min<int>(idCode.idLength, kMaxIdCodeLength);
  if (n > 0) {
    bool whole = device.idCodeAddress[0] >= romStart && device.idCodeAddress[n - 1] <= romEnd;
    for (int i = 0; i < n; ++i) {
      uint32_t a = device.idCodeAddress[i];
      // Each address is checked on its own too: the list need not be sorted.
      idCode.idBytes[i] = whole && inArea(a) ? buffer[a - romStart] : kBlank;
    }
  }
  return true;
}

}  // namespace

using namespace records;

ProgramFormat commonNameFormat(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return ProgramFormat::ByName;
  std::string ext;
  for (char c : name.substr(dot + 1)) ext.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
  if (ext == "ihx" || ext == "ihex") return ProgramFormat::IntelHex;
  if (ext == "s19" || ext == "s28" || ext == "s37" || ext == "srec") return ProgramFormat::SRecord;
  return ProgramFormat::ByName;
}

char fileTypeLetter(std::string_view path) {
  size_t dot = path.rfind('.');
  char c;
  if (dot == std::string_view::npos)
    c = path.size() > 1 ? path[1] : '\0';
  else
    c = dot + 1 < path.size() ? path[dot + 1] : '\0';
  if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return c;
}

std::string describeRefusedLine(std::string_view line, bool intelHex, int result) {
  const std::string why = intelHex ? hexLineProblem(line) : sRecordLineProblem(line);
  // The parser's word on a bad checksum is final even where the slow
  // reading above finds nothing.
  if (result == kLineBadChecksum && why.rfind("checksum", 0) != 0) return "checksum mismatch";
  return why;
}

std::string fileProblemDetail(const std::string& path, int lineNumber, const std::string& reason) {
  if (lineNumber > 0) return path + ", line " + std::to_string(lineNumber) + ": " + reason;
  return path + ": " + reason;
}

namespace {

// Appends [first, last], joining it to the last range when they touch (the
// usual case: records in address order).
void addRange(std::vector<std::pair<uint32_t, uint32_t>>& ranges, uint32_t first, uint32_t last) {
  if (!ranges.empty()) {
    auto& back = ranges.back();
    if (first >= back.first && uint64_t(first) <= uint64_t(back.second) + 1) {
      back.second = std::max(back.second, last);
      return;
    }
  }
  ranges.emplace_back(first, last);
}

void mergeRanges(std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<uint32_t, uint32_t>> merged;
  for (const auto& r : ranges) {
    if (!merged.empty() && uint64_t(r.first) <= uint64_t(merged.back().second) + 1)
      merged.back().second = std::max(merged.back().second, r.second);
    else
      merged.push_back(r);
  }
  ranges.swap(merged);
}

}  // namespace

uint64_t LoadReport::bytesWithin(const std::vector<std::pair<uint32_t, uint32_t>>& ranges, uint32_t first,
                                 uint32_t last) {
  uint64_t n = 0;
  for (const auto& r : ranges) {
    const uint32_t a = std::max(r.first, first), b = std::min(r.second, last);
    if (a <= b) n += uint64_t(b) - a + 1;
  }
  return n;
}

uint64_t LoadReport::totalBytes(const std::vector<std::pair<uint32_t, uint32_t>>& ranges) {
  return bytesWithin(ranges, 0, 0xFFFFFFFF);
}

bool loadProgramFile(LoadMode mode, const std::string& path, const DeviceDef& device, MemoryImage& image,
                     IdCode& idCode, int32_t& protectLevel, ProgramFormat format, LoadReport* report) {
  const bool silent = mode == LoadMode::Silent;
  auto fail = [silent, &path](const char* text, int lineNumber, const std::string& reason) {
    if (silent) pauseAndHideSplash();
    showMessageWithDetail(text, fileProblemDetail(path, lineNumber, reason), Icon::Stop);
    return false;
  };

  WorkBuffer work;
  if (!work.data) return fail(kFileOpenError, 0, "no memory for the working buffer");
  std::span<uint8_t> buffer(work.data, kUserImageSize);
  std::fill(buffer.begin(), buffer.end(), kBlank);
  image.bankHasData.fill(0);

  const Parser parser = parserFor(path, format);

  InputFile f;
  if (!f.open(path, InputKind::Program)) return fail(kFileOpenError, 0, f.reason());

  ParseState st;
  st.areaStart = device.userRomStart;
  st.areaEnd = device.userRomEnd;
  st.outsideAccepted = silent ? 1 : 0;

  bool anyLine = false;
  bool readError = false;
  int lineNumber = 0;
  std::string problem;  // why the last line read was refused
  int result = forEachLine(
      f,
      [&](std::string_view line, bool overlong) {
        anyLine = true;
        ++lineNumber;
        if (!parser) return kLineOk;  // lines are read and ignored
        if (overlong) {
          problem = "line longer than " + std::to_string(kMaxLineLength) + " characters";
          return kLineMalformed;
        }
        const int r = parser(line, buffer, st);
        if (r == kLineOk) {
          if (st.recordFirst != kNoAddress) image.bankHasData[size_t(bankOf(st.recordFirst))] = 1;
          if (st.recordLast != kNoAddress) image.bankHasData[size_t(bankOf(st.recordLast))] = 1;
          if (report) {
            // A termination record inside the area marks a bank but stores nothing.
            if (st.recordFirst != kNoAddress && st.recordLast != kNoAddress)
              addRange(report->filled, st.recordFirst, st.recordLast);
            if (st.outsideFirst != kNoAddress) addRange(report->outside, st.outsideFirst, st.outsideLast);
          }
        } else if (r == kLineMalformed || r == kLineBadChecksum) {
          problem = describeRefusedLine(line, parser == parseHexLine, r);
        }
        return r;
      },
      readError);
  f.close();
  if (report) {
    mergeRanges(report->filled);
    mergeRanges(report->outside);
  }

  if (readError)
    return fail(kFileOpenError, 0, "read error after line " + std::to_string(lineNumber) + ": " + f.reason());
  // A program file without a single line holds no program: refused like
  // any other file that is not in the format its name promises.
  if (parser && !anyLine) {
    result = kLineMalformed;
    problem = "the file is empty";
    lineNumber = 0;
  }
  if (result == kLineMalformed || result == kLineBadChecksum) return fail(kFileFormatError, lineNumber, problem);
  if (result == kLineAbandoned) return false;

  const uint32_t romStart = device.userRomStart;
  const uint32_t romEnd = device.userRomEnd;
  if (!silent && !confirmProtectAndTakeIdCode(device, buffer, idCode, protectLevel)) return false;

  if (romEnd >= romStart) {
    size_t n = size_t(std::min<uint64_t>(uint64_t(romEnd - romStart) + 1, kUserImageSize));
    std::memcpy(image.userImage.data(), buffer.data(), n);
  }
  return true;
}

}  // namespace vrx4
