#include "image/BootFileReader.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "base/Prompter.h"
#include "image/LineReader.h"
#include "image/ProgramLoader.h"

namespace vrx4 {
namespace {

void clearBounds(ProjectSettings& settings) {
  settings.bootStart = 0;
  settings.bootEnd = 0;
  settings.bootSize = 0;
}

}  // namespace

bool loadBootFile(const std::string& path, MemoryImage& image, ProjectSettings& settings) {
  if (fileTypeLetter(path) != 'B') {
    showMessage(kNotBootFileName, Icon::Stop);
    return false;
  }
  InputFile f;
  if (!f.open(path, InputKind::Boot)) {
    showMessageWithDetail(kFileOpenError, f.error());
    return false;
  }
  // Only indices 0..0xFFFF are ever written (addresses are taken modulo
  // 64 KiB), so one bank is all the working buffer needs.
  std::unique_ptr<uint8_t[]> work(new uint8_t[kBootImageSize]);
  std::span<uint8_t> buffer(work.get(), kBootImageSize);
  std::fill(buffer.begin(), buffer.end(), kBlank);

  ParseState st;
  st.collectMode = 1;
  st.base = 0;
  st.areaStart = 0xFFFFFFFF;  // running minimum
  st.areaEnd = 0;             // running maximum

  bool readError = false;
  bool anyData = false;
  int lineNumber = 0;
  std::string problem;
  const int result = forEachLine(
      f,
      [&](std::string_view line, bool overlong) {
        ++lineNumber;
        if (overlong) {
          problem = "line longer than " + std::to_string(kMaxLineLength) + " characters";
          return kLineMalformed;
        }
        const uint32_t before = st.areaEnd, beforeMin = st.areaStart;
        const int r = parseSRecordLine(line, buffer, st);
        if (st.areaEnd != before || st.areaStart != beforeMin) anyData = true;
        if (r == kLineMalformed || r == kLineBadChecksum) problem = describeRefusedLine(line, false, r);
        return r;
      },
      readError);
  f.close();

  if (readError) {
    showMessageWithDetail(
        kFileOpenError,
        fileProblemDetail(path, 0, "read error after line " + std::to_string(lineNumber) + ": " + f.reason()));
    return false;
  }
  if (result == kLineMalformed || result == kLineBadChecksum) {
    showMessageWithDetail(kFileFormatError, fileProblemDetail(path, lineNumber, problem));
    clearBounds(settings);
    return false;
  }
  // Without a single data byte the running bounds never moved and describe
  // no area at all; such a file holds no boot program.
  if (!anyData) {
    showMessage(kBootNoData, Icon::Stop);
    clearBounds(settings);
    return false;
  }
  uint32_t start = st.areaStart;
  uint32_t end = st.areaEnd;
  uint32_t size = end - start + 1;
  if (size > kMaxBootFileSpan) {
    showMessage(kBootDataSizeError, Icon::Stop);
    clearBounds(settings);
    return false;
  }
  settings.bootStart = start;
  settings.bootEnd = end;
  settings.bootSize = size;
  // Taken modulo 64 KiB as the bytes were stored, so a span that crosses a
  // bank boundary keeps its bytes in order.
  for (uint32_t i = 0; i < kMaxBootFileSpan; ++i) image.bootImage[i] = buffer[(start + i) & 0xFFFF];
  return true;
}

}  // namespace vrx4
