#include "link/FrameExchange.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#include "base/Log.h"
#include "base/Prompter.h"
#include "base/StopRequest.h"
#include "link/UsbLink.h"

namespace vrx4 {
namespace {

std::atomic<uint32_t> ordinaryTimeoutMs{kOrdinaryTimeoutMs};

uint8_t sumBody(const uint8_t* frame, size_t bodyLength) {
  uint8_t sum = 0;
  for (size_t i = 0; i < bodyLength; ++i) sum = uint8_t(sum + frame[2 + i]);
  return sum;
}

}  // namespace

void frameChecksum(uint8_t* frame) {
  const uint16_t n = CommandFrame::bodyLength(frame);
  frame[2 + n] = sumBody(frame, n);
}

uint8_t responseChecksum(const uint8_t* frame) { return sumBody(frame, CommandFrame::bodyLength(frame)); }

const char* statusMessage(uint8_t code) {
  switch (code) {
    case kStatusChecksum:
      return "Checksum error.";
    case kStatusCommand:
      return "Command error.";
    case kStatusExecution:
      return "Command execution error.";
    case kStatusNoTarget:
      return "No target.";
    case kStatusFlashWrite:
      return "Flash ROM write error.";
    case kStatusExternalFlashWrite:
      return "External Flash ROM write error.";
    default:
      return nullptr;
  }
}

void reportStatus(uint8_t code) {
  if (const char* text = statusMessage(code)) showMessage(text, Icon::Stop);
}

uint32_t exchangeTimeoutMs(uint8_t command) {
  const uint32_t ordinary = ordinaryTimeoutMs.load();
  switch (command) {
    case 0x02:  // getExecutionState
    case 0x05:  // getUpdateState
    case 0x1D:  // getBusyState
    case 0x20:  // getOperationStatus
      return std::max<uint32_t>(1, ordinary / 5);
    case 0x01:  // setExecutionMode: the unit may restart into the other firmware
    case 0x03:  // beginFirmwareUpdate
    case 0x04:  // writeFirmwarePage
    case 0x19:  // initializeUnit
    case 0x1A:  // beginUserDataDownload
    case 0x1B:  // beginBootDataDownload
    case 0x22:  // getInitialLoadData
      return ordinary * 6;
    default:
      return ordinary;
  }
}

void setUsbTimeoutSeconds(double seconds) {
  seconds = std::clamp(seconds, 0.001, 3600.0);
  ordinaryTimeoutMs = uint32_t(seconds * 1000.0 + 0.5);
}

double usbTimeoutSeconds() { return ordinaryTimeoutMs.load() / 1000.0; }

namespace {

// The log line of a failed exchange: which command, where it failed, how
// long it took and how many bytes came back, for a unit nobody here has.
void logFailure(uint8_t command, const char* where, std::chrono::steady_clock::time_point started, size_t seen,
                size_t readLength) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  char text[160];
  std::snprintf(text, sizeof text, "usb: command 0x%02X failed at the %s after %lld ms (%zu of %zu bytes back)",
                unsigned(command), where, static_cast<long long>(ms.count()), seen, readLength);
  logProgramLine(text);
}

}  // namespace

bool exchangeFrame(uint8_t* buffer, size_t readLength, size_t writeLength) {
  UsbDriver* driver = usbDriver();
  const uint8_t command = buffer[2];
  const auto started = std::chrono::steady_clock::now();
  // A transfer cut short by a stop request is no communication error: it
  // is logged, not shown. The recovery request still goes out, so that the
  // rest of a cut reply is not taken as the answer to the abort that may
  // follow the stop.
  auto stopped = [&](const char* where) {
    if (!stopRequestRaised()) return false;
    logProgramLine(std::string("usb: command exchange stopped at the ") + where + " (stop request)");
    recoverDevice(linkSlot());
    return true;
  };
  // After every failed exchange the inbound pipe is emptied: a late response
  // must not become the answer to the next request.
  auto drainAfterFailure = [&] {
    if (driver && !stopRequestRaised()) driver->drain(inPipe());
  };

  if (driver) {
    const uint32_t timeout = exchangeTimeoutMs(command);
    driver->setTransferTimeouts(timeout, timeout);
  }
  if (!driver || !driver->write(outPipe(), buffer, writeLength)) {
    if (stopped("write")) return false;
    logFailure(command, "write", started, 0, readLength);
    showMessage(kMsgWriteFailed, Icon::Stop);
    recoverDevice(linkSlot());
    drainAfterFailure();
    return false;
  }
  if ((writeLength & 0x3F) == 0) {
    if (!driver->write(outPipe(), buffer, 0)) {
      if (stopped("zero-length packet")) return false;
      logFailure(command, "zero-length packet", started, 0, readLength);
      recoverDevice(linkSlot());
      drainAfterFailure();
      return false;
    }
  }
  size_t got = 0;
  if (!driver->read(inPipe(), buffer, readLength, got)) {
    if (stopped("read")) return false;
    logFailure(command, "read", started, got, readLength);
    showMessage(kMsgReadFailed, Icon::Stop);
    recoverDevice(linkSlot());
    drainAfterFailure();
    return false;
  }
  // The frame's own bodyLength governs, but it may only cover bytes that were
  // received and that lie inside the buffer: a length word pointing beyond
  // either is a damaged frame, reported like a checksum mismatch.
  const size_t limit = got < readLength ? got : readLength;
  if (limit < 3 || size_t(CommandFrame::bodyLength(buffer)) + 3 > limit) {
    logFailure(command, "length check", started, got, readLength);
    reportStatus(kStatusChecksum);
    drainAfterFailure();
    return false;
  }
  const uint16_t n = CommandFrame::bodyLength(buffer);
  if (responseChecksum(buffer) != buffer[2 + n]) {
    logFailure(command, "checksum check", started, got, readLength);
    reportStatus(kStatusChecksum);
    drainAfterFailure();
    return false;
  }
  // Bytes 3 and 4 are read only when they lie inside the body: with
  // bodyLength 2 the byte at 4 is the checksum, not a status code. An
  // error response is a whole, proper answer: nothing is left to drain.
  if (n >= 2 && buffer[3] == kErrorMarker) {
    reportStatus(n >= 3 ? buffer[4] : 0);
    return false;
  }
  if (buffer[2] != command) {
    // Perhaps the late answer to an earlier request: its own may follow.
    logFailure(command, "echo check", started, got, readLength);
    reportStatus(kStatusCommand);
    drainAfterFailure();
    return false;
  }
  return true;
}

}  // namespace vrx4
