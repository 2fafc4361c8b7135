#include "app/FirmwareUpdate.h"

#include <cstdio>
#include <cstring>

#include "base/Clock.h"
#include "base/Log.h"
#include "base/StartupMessage.h"
#include "base/StopRequest.h"
#include "image/LineReader.h"
#include "image/ProgramLoader.h"
#include "link/Commands.h"

namespace vrx4 {

bool readFirmwareFile(const std::string& path, FirmwareImage& image) {
  FirmwareImage work(kFirmwareImageSize, 0xFF);
  InputFile f;
  if (!f.open(path, InputKind::Firmware)) {
    logProgramLine("firmware file " + f.error());
    // A name that is there but no regular file (or too large for one) is
    // not a missing file.
    showMessageAfterSplash(f.failure() == InputFile::Failure::CannotOpen ? kNoFirmwareFileText : kFileOpenError,
                           Icon::Stop);
    return false;
  }
  ParseState st;
  st.collectMode = 0;
  st.base = 0;
  st.areaStart = kFirmwareBase;
  st.areaEnd = kFirmwareAreaEnd;
  st.outsideAccepted = 0;
  bool readError = false;
  int result = forEachLine(
      f,
      [&](std::string_view line, bool overlong) {
        if (overlong) return kLineMalformed;
        return parseSRecordLine(line, std::span<uint8_t>(work.data(), work.size()), st);
      },
      readError);
  if (readError) {
    logProgramLine("firmware file " + path + ": read error: " + f.reason());
    result = kLineMalformed;
  }
  f.close();
  if (result == kLineMalformed || result == kLineBadChecksum) {
    showMessageAfterSplash(kFileFormatError, Icon::Stop);
    return false;
  }
  if (result == kLineAbandoned) {
    showMessageAfterSplash(kInvalidAddressText, Icon::Stop);
    return false;
  }
  if (std::memcmp(work.data() + kFirmwareModelOffset, kUnitModel, 9) != 0) {
    showMessageAfterSplash(kFileFormatError, Icon::Stop);
    return false;
  }
  image = std::move(work);
  return true;
}

void updateWorker(const FirmwareImage& image, std::atomic<uint32_t>& progress) {
  auto fail = [&] { progress = kUpdateFailed; };
  if (image.size() < kFirmwareImageSize) return fail();
  if (!beginFirmwareUpdate()) return fail();
  for (uint32_t page = kFirmwareFirstPage; page <= kFirmwareLastPage; ++page) {
    // A stop request is taken before the next page: the unit stays in
    // update mode with its old firmware, and the next start offers the
    // update again.
    if (stopRequestRaised()) {
      logProgramLine("firmware update stopped before page " + std::to_string(page - kFirmwareFirstPage + 1) + " of " +
                     std::to_string(kFirmwarePageCount) + "; the unit stays in update mode");
      return fail();
    }
    const size_t offset = size_t(page) * 256 - kFirmwareBase;
    if (!writeFirmwarePage(uint16_t(page), image.data() + offset)) return fail();
    ++progress;
  }
  // The unit reports busy while it writes its new firmware. The poll runs
  // back to back; every 64 requests it yields 1 ms. A unit that stays busy
  // far longer than an update takes is reported and taken as failed rather
  // than hanging the dialog; the message comes before the progress value
  // ends the dialog.
  const uint64_t pollStart = clock().nowMs();
  for (uint32_t polls = 1;; ++polls) {
    if (stopRequestRaised()) {
      logProgramLine("firmware update: stopped while the unit wrote its new firmware");
      return fail();
    }
    bool busy = false;
    if (!getUpdateState(busy)) return fail();
    if (!busy) break;
    if (polls % 64 == 0) {
      const uint64_t waited = clock().nowMs() - pollStart;
      if (waited > kUpdateBusyLimitMs) {
        logProgramLine("the unit still reports busy " + std::to_string(waited / 1000) + " s after the " +
                       std::to_string(kFirmwarePageCount) + " firmware pages (" + std::to_string(polls) +
                       " polls); update given up");
        showStartupAwareMessage(kFirmwareUpdateErrorText, Icon::Stop);
        return fail();
      }
      clock().sleepMs(1);
    }
  }
  ++progress;
  if (!setExecutionMode(kFirmwareMode)) return fail();
  ++progress;
  uint8_t mode = 0;
  if (!getExecutionState(mode)) return fail();
  ++progress;
  if (mode != kFirmwareMode) return fail();
  progress = kUpdateTotal;
}

}  // namespace vrx4
