#pragma once
// Moving image contents between the host and the unit's buffer in 256-byte
// pages: the send worker (host to unit, only the banks that hold data) and
// the fetch worker (unit to host).
#include <atomic>
#include <cstdint>

#include "base/ProjectSettings.h"
#include "image/MemoryImage.h"

namespace vrx4 {

// Shared by a transfer dialog and its worker.
struct TransferProgress {
  std::atomic<uint32_t> position{0};
  std::atomic<uint32_t> maximum{0};
  std::atomic<uint32_t> completionAllowance{0};
  // Set by Esc (or by the worker on a failure) and only ever set: the
  // worker's own stores to `position` can never undo it.
  std::atomic<bool> cancelled{false};

  // The worker stops and the dialog ends with Cancel.
  void abandon() { cancelled = true; }
  bool abandoned() const { return cancelled; }
  // A new transfer: bar at 0, no cancel.
  void reset() {
    position = 0;
    cancelled = false;
  }
};

struct SendPlan {
  ImageArea area = ImageArea::User;
  uint32_t bankMaskLow = 0;   // bit i: bank i (0..31)
  uint32_t bankMaskHigh = 0;  // bit i: bank 32 + i
  bool bankMarked(int bank) const { return bank < 32 ? (bankMaskLow >> bank) & 1 : (bankMaskHigh >> (bank - 32)) & 1; }
};

inline constexpr const char* kMsgStoreNotFinished = "T552-VRX4 did not finish storing the data.";

// How long the send waits for the unit to store what it was sent: one
// minute plus 10 ms per page, never less than three minutes.
uint64_t sendCompletionDeadlineMs(uint32_t pagesSent);

// Sets the bar range, the completion allowance and the bank masks of a send.
SendPlan prepareSend(TransferProgress& progress, ImageArea area, const MemoryImage& image,
                     const ProjectSettings& settings);
// The send worker; returns when the send is over (done or abandoned). A
// stop request abandons it before the next page or status request; a unit
// still busy at sendCompletionDeadlineMs shows kMsgStoreNotFinished and
// abandons it.
void sendImageWorker(TransferProgress& progress, const SendPlan& plan, const MemoryImage& image,
                     const ProjectSettings& settings);

// Sets the bar range of a fetch.
void prepareFetch(TransferProgress& progress, ImageArea area, const ProjectSettings& settings);
// The fetch worker; the pages read so far stay in the image after a failure.
// A stop request abandons it before the next page.
void fetchImageWorker(TransferProgress& progress, ImageArea area, MemoryImage& image, const ProjectSettings& settings);

}  // namespace vrx4
