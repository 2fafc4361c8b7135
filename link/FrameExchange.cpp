#include "link/FrameExchange.h"

#include "base/Prompter.h"
#include "link/UsbLink.h"

namespace vrx4 {
namespace {

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

uint8_t responseChecksum(const uint8_t* frame) {
  return sumBody(frame, CommandFrame::bodyLength(frame));
}

const char* statusMessage(uint8_t code) {
  switch (code) {
    case kStatusChecksum: return "Checksum error.";
    case kStatusCommand: return "Command error.";
    case kStatusExecution: return "Command execution error.";
    case kStatusNoTarget: return "No target.";
    case kStatusFlashWrite: return "Flash ROM write error.";
    case kStatusExternalFlashWrite: return "External Flash ROM write error.";
    default: return nullptr;
  }
}

void reportStatus(uint8_t code) {
  if (const char* text = statusMessage(code)) showMessage(text, Icon::Stop);
}

bool exchangeFrame(uint8_t* buffer, size_t readLength, size_t writeLength) {
  UsbDriver* driver = usbDriver();
  const uint8_t command = buffer[2];

  if (!driver || !driver->write(outPipe(), buffer, writeLength)) {
    showMessage(kMsgWriteFailed, Icon::Stop);
    recoverDevice(linkSlot());
    return false;
  }
  if ((writeLength & 0x3F) == 0) {
    if (!driver->write(outPipe(), buffer, 0)) {
      recoverDevice(linkSlot());
      return false;
    }
  }
  size_t got = 0;
  if (!driver->read(inPipe(), buffer, readLength, got)) {
    showMessage(kMsgReadFailed, Icon::Stop);
    recoverDevice(linkSlot());
    return false;
  }
  // The frame's own bodyLength governs, but it may only cover bytes that were
  // received and that lie inside the buffer: a length word pointing beyond
  // either is a damaged frame, reported like a checksum mismatch.
  const size_t limit = got < readLength ? got : readLength;
  if (limit < 3 || size_t(CommandFrame::bodyLength(buffer)) + 3 > limit) {
    reportStatus(kStatusChecksum);
    return false;
  }
  const uint16_t n = CommandFrame::bodyLength(buffer);
  if (responseChecksum(buffer) != buffer[2 + n]) {
    reportStatus(kStatusChecksum);
    return false;
  }
  // Bytes 3 and 4 are read only when they lie inside the body: with
  // bodyLength 2 the byte at 4 is the checksum, not a status code.
  if (n >= 2 && buffer[3] == kErrorMarker) {
    reportStatus(n >= 3 ? buffer[4] : 0);
    return false;
  }
  if (buffer[2] != command) {
    reportStatus(kStatusCommand);
    return false;
  }
  return true;
}

}  // namespace vrx4
