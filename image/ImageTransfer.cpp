#include "image/ImageTransfer.h"

#include <algorithm>
#include <cstring>

#include "base/Clock.h"
#include "base/Log.h"
#include "base/Prompter.h"
#include "base/StopRequest.h"
#include "link/Commands.h"

namespace vrx4 {
namespace {

struct AreaBounds {
  uint32_t first;
  uint32_t last;
};

AreaBounds boundsOf(ImageArea area, const ProjectSettings& s) {
  if (area == ImageArea::User) return {unitUserAddress(s.device.userRomStart), unitUserAddress(s.device.userRomEnd)};
  return {unitBootAddress(s.bootStart), unitBootAddress(s.bootEnd)};
}

// The send walk of an area. A boot area may run across a 64 KiB boundary
// (its addresses are kept modulo 64 KiB); its end is then taken past the top
// of bank 15, and the pages beyond go to the start of the bank, where the
// unit keeps those bytes.
AreaBounds sendBoundsOf(ImageArea area, const ProjectSettings& s) {
  AreaBounds b = boundsOf(area, s);
  if (area == ImageArea::Boot && b.last < b.first && uint32_t(s.bootEnd) >= uint32_t(s.bootStart) &&
      uint32_t(s.bootEnd) - uint32_t(s.bootStart) < kBootImageSize)
    b.last = b.first + (uint32_t(s.bootEnd) - uint32_t(s.bootStart));
  return b;
}

// Page `pageStart` (a multiple of 256) of an area whose first byte, image
// index 0, is at `first`: each byte at its own offset, blank where the image
// has nothing (before the area's start, past the image's end).
void pageFrom(const uint8_t* source, size_t size, uint32_t first, uint32_t pageStart, uint8_t* page) {
  std::memset(page, kBlank, 256);
  const uint32_t offset = first > pageStart ? first - pageStart : 0;  // first byte of the area in the page
  if (offset >= 256) return;
  const uint32_t index = pageStart + offset - first;
  if (index >= size) return;
  std::memcpy(page + offset, source + index, std::min<size_t>(256 - offset, size - index));
}

}  // namespace

uint64_t sendCompletionDeadlineMs(uint32_t pagesSent) {
  return std::max<uint64_t>(3 * 60 * 1000, 60 * 1000 + uint64_t(pagesSent) * 10);
}

SendPlan prepareSend(TransferProgress& progress, ImageArea area, const MemoryImage& image,
                     const ProjectSettings& settings) {
  SendPlan plan;
  plan.area = area;
  progress.reset();
  if (area == ImageArea::User) {
    uint32_t maximum = 0, allowance = 0;
    for (int i = 0; i < kBankCount; ++i) {
      if (!image.bankHasData[i]) continue;
      if (i < 32)
        plan.bankMaskLow |= 1u << i;
      else
        plan.bankMaskHigh |= 1u << (i - 32);
      maximum += 0x10000;
      allowance += 4096;
    }
    maximum = std::min<uint32_t>(maximum, settings.device.userRomSize);
    progress.completionAllowance = allowance;
    progress.maximum = maximum + allowance;
  } else {
    plan.bankMaskLow = 0x8000;
    const uint32_t span = (uint32_t(settings.bootEnd) - uint32_t(settings.bootStart) + 256) & 0xFFFF00;
    progress.completionAllowance = 4096;
    progress.maximum = span + 4096;
  }
  return plan;
}

void sendImageWorker(TransferProgress& progress, const SendPlan& plan, const MemoryImage& image,
                     const ProjectSettings& settings) {
  const AreaBounds b = sendBoundsOf(plan.area, settings);
  const uint8_t* source = plan.area == ImageArea::User ? image.userImage.data() : image.bootImage.data();
  const size_t sourceSize = plan.area == ImageArea::User ? image.userImage.size() : image.bootImage.size();

  const bool begun = plan.area == ImageArea::User ? beginUserDataDownload() : beginBootDataDownload();
  if (!begun) {
    progress.abandon();
    return;
  }

  uint8_t page[256];
  // Page number a >> 8 holds the unit addresses a .. a + 255, so the walk
  // goes in whole pages from the one holding the area's first byte.
  uint32_t a = b.first & ~0xFFu;
  bool walkOver = false;
  while (!walkOver && a <= b.last && progress.position < progress.maximum && !progress.abandoned()) {
    if (!plan.bankMarked(int((a >> 16) & 0x3F))) {
      const uint32_t next = (a & 0x3F0000) + 0x10000;
      if (next <= a) break;  // past the top of the 22-bit space
      a = next;
      continue;
    }
    for (uint32_t sent = 0; sent < 0x10000; sent += 256) {
      if (a > b.last) {
        walkOver = true;
        break;
      }
      if (progress.position >= progress.maximum || progress.abandoned()) break;
      // A stop request is taken here, as Esc is: before the next page.
      if (stopRequestRaised()) {
        progress.abandon();
        break;
      }
      pageFrom(source, sourceSize, b.first, a, page);
      const uint32_t unitAddress = plan.area == ImageArea::User ? a : unitBootAddress(a);
      if (!writeDataPage(uint16_t(unitAddress >> 8), page)) {
        progress.abandon();
        break;
      }
      a += 256;
      progress.position += 256;
    }
  }

  // Completion poll: the unit reports busy while it stores its buffer. A
  // failed status request, a stop request or a unit still busy at the
  // deadline ends the poll; the transfer then counts as failed.
  const uint32_t pagesSent = progress.position / 256;
  const uint64_t limit = sendCompletionDeadlineMs(pagesSent);
  const uint64_t deadline = clock().nowMs() + limit;
  for (;;) {
    if (stopRequestRaised()) {
      progress.abandon();
      break;
    }
    bool busy = false;
    if (!getBusyState(busy)) {
      progress.abandon();
      break;
    }
    clock().sleepMs(100);
    if (progress.position < progress.completionAllowance) progress.position += 1024;
    if (!busy) break;
    if (clock().nowMs() >= deadline) {
      logProgramLine("the unit still reported busy " + std::to_string(limit / 1000) + " s after the last page");
      showMessage(kMsgStoreNotFinished, Icon::Stop, Buttons::Ok);
      progress.abandon();
      break;
    }
  }
  if (progress.position < progress.completionAllowance) progress.position = progress.completionAllowance.load();
}

void prepareFetch(TransferProgress& progress, ImageArea area, const ProjectSettings& settings) {
  progress.reset();
  progress.completionAllowance = 0;
  if (area == ImageArea::User)
    progress.maximum = uint32_t(settings.device.userRomEnd) - uint32_t(settings.device.userRomStart) + 1;
  else
    progress.maximum = uint32_t(settings.bootEnd) - uint32_t(settings.bootStart) + 1;
}

void fetchImageWorker(TransferProgress& progress, ImageArea area, MemoryImage& image, const ProjectSettings& settings) {
  // The same bounds as the send: a boot area across a 64 KiB boundary runs
  // on past the top of bank 15 and its pages there come from the bank's start.
  const AreaBounds b = sendBoundsOf(area, settings);
  uint8_t* target = area == ImageArea::User ? image.userImage.data() : image.bootImage.data();
  const size_t targetSize = area == ImageArea::User ? image.userImage.size() : image.bootImage.size();
  // An area without a byte: no device (user ROM of size 0) or no boot file.
  const bool empty =
      area == ImageArea::User ? uint32_t(settings.device.userRomSize) == 0 : uint32_t(settings.bootSize) == 0;
  if (empty || b.last < b.first) return;
  uint8_t page[256];
  // Page a >> 8 holds the unit addresses a .. a + 255: the walk goes in whole
  // pages from the one holding the area's first byte to the one holding its
  // last, and each byte goes to the image index of its own address. The bar
  // counts the area's bytes.
  for (uint64_t a = b.first & ~0xFFu; a <= b.last && progress.position < progress.maximum && !progress.abandoned();
       a += 256) {
    if (stopRequestRaised()) {
      progress.abandon();
      return;
    }
    const uint32_t unitAddress = area == ImageArea::User ? uint32_t(a) : unitBootAddress(uint32_t(a));
    if (!readDataPage(uint16_t(unitAddress >> 8), page)) {
      progress.abandon();
      return;
    }
    const uint64_t from = std::max<uint64_t>(a, b.first);
    const uint64_t to = std::min<uint64_t>(a + 256, uint64_t(b.last) + 1);
    const uint64_t index = from - b.first;
    if (index < targetSize)
      std::memcpy(target + index, page + (from - a), std::min<size_t>(size_t(to - from), targetSize - size_t(index)));
    progress.position += uint32_t(to - from);
  }
}

}  // namespace vrx4
