#pragma once
// Running one operation on the unit: the operation kinds, the result words
// with their colours, and the worker that polls the unit's progress.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace vrx4 {

inline constexpr int kOperationCount = 6;
inline constexpr int kOperationRead = 5;

// Index 0..5 in the order of the form's radio buttons; the unit's code is
// index + 1.
struct OperationKind {
  const char* label;
  const char* progressTitle;
};
const OperationKind& operationKind(int index);  // index clamped to 0..5
inline uint8_t operationCode(int index) { return uint8_t(index + 1); }

inline constexpr uint8_t kResultPass = 1;
inline constexpr uint8_t kResultContact = 3;
inline constexpr uint8_t kResultMemory = 10;

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

struct OperationResultStyle {
  const char* text;  // "" for none
  bool coloured;     // false: the box keeps its normal background
  Rgb background;    // black text on this colour when coloured
};
// The text and colour of a result code; codes outside 1..11 show nothing.
OperationResultStyle operationResult(uint8_t code);

inline constexpr const char* kMsgSystemMemoryError = "System memory error.";

inline constexpr const char* kMsgOperationNotFinished = "T552-VRX4 did not finish the operation.";

// How the worker's poll ended. Every end but Finished also sets `failed`.
enum class OperationEnd : uint8_t {
  Finished,  // the busy bit cleared: `result` holds the unit's code
  Failed,    // a status request failed (its exchange showed the message)
  Stopped,   // a stop request: abortOperation was sent
  TimedOut,  // the unit was still busy at the deadline: abortOperation was sent
};
const char* operationEndName(OperationEnd end);  // "finished", "failed", "stopped", "timed out"

// State shared by the polling worker and its progress dialog.
struct OperationProgress {
  std::atomic<uint8_t> status{0};
  std::atomic<uint8_t> result{0};
  std::atomic<uint32_t> failed{0};
  std::atomic<uint32_t> total{0};
  std::atomic<uint32_t> position{0};
  // The operation index (0..5), for the deadline only; 0, the longest
  // operation, unless the caller says otherwise.
  std::atomic<int> operation{0};
  std::atomic<OperationEnd> end{OperationEnd::Finished};
};

// How long an operation may run before the poll gives up on the unit: one
// minute plus a per-KiB allowance of the operation (blank check 10 ms,
// erase, verify and read 30 ms, erase/program 100 ms, erase/program/verify
// 130 ms), never less than five minutes. About ten minutes for an
// erase/program/verify of 4 MiB; many times what the unit needs.
uint64_t operationDeadlineMs(int operationIndex, uint32_t deviceBytes);
// After abortOperation (on a stop or at the deadline) the poll waits at most
// this long for the unit to leave busy.
inline constexpr uint32_t kAbortWaitMs = 3000;

// The bar position of a status byte: percent (bits 0..6, not clamped) of total.
inline uint32_t operationPosition(uint8_t status, uint32_t total) { return uint32_t(status & 0x7F) * total / 100u; }

// The worker: ten warm-up status requests 100 ms apart, then polling every
// 100 ms until the busy bit clears, a request fails, the program's stop flag
// is raised or the deadline passes. On a stop or at the deadline it sends
// abortOperation and polls (at most kAbortWaitMs) until the unit leaves busy;
// at the deadline it also shows kMsgOperationNotFinished. Calls done() as its
// last act.
void programmingThreadProc(OperationProgress& progress, const std::function<void()>& done);

// What the dialog does with the worker's outcome: returns the result code and
// whether the dialog ends with OK. Result 10 shows "System memory error." and
// aborts the operation on the unit.
struct OperationOutcome {
  bool ok;
  uint8_t resultCode;
};
OperationOutcome finishOperation(const OperationProgress& progress);

}  // namespace vrx4
