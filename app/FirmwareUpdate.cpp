#include "app/FirmwareUpdate.h"

#include <cstring>

#include "app/Clock.h"
#include "link/Commands.h"

namespace vrx4 {

void updateWorker(const FirmwareImage& image, std::atomic<uint32_t>& progress) {
  auto fail = [&] { progress = kUpdateFailed; };
  if (image.size() < kFirmwareImageSize) return fail();
  if (!beginFirmwareUpdate()) return fail();
  for (uint32_t page = kFirmwareFirstPage; page <= kFirmwareLastPage; ++page) {
    const size_t offset = size_t(page) * 256 - kFirmwareBase;
    if (!writeFirmwarePage(uint16_t(page), image.data() + offset)) return fail();
    ++progress;
  }
  // The unit reports busy while it writes its new firmware. The poll runs
  // back to back; every 64 requests it yields 1 ms, and a unit that stays
  // busy for a minute is taken as failed rather than hanging the dialog.
  const uint64_t pollStart = clock().nowMs();
  for (uint32_t polls = 1;; ++polls) {
    bool busy = false;
    if (!getUpdateState(busy)) return fail();
    if (!busy) break;
    if (polls % 64 == 0) {
      if (clock().nowMs() - pollStart > kUpdateBusyLimitMs) return fail();
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
