#pragma once
// One request frame out on pipe 1, one response frame back on pipe 0, in the
// same caller-owned buffer.
//
// Frame layout (little-endian): bodyLength (2 bytes, command byte + payload),
// command (1), payload, checksum (8-bit sum of the bodyLength bytes from
// offset 2). In a response, byte 3 = 0xAA marks an error whose status code is
// byte 4; data of a good response start at byte 4.
#include <cstddef>
#include <cstdint>

namespace vrx4 {

inline constexpr uint8_t kErrorMarker = 0xAA;

// Status codes of an error response, and the two the host produces itself.
inline constexpr uint8_t kStatusChecksum = 225;
inline constexpr uint8_t kStatusCommand = 226;
inline constexpr uint8_t kStatusExecution = 227;
inline constexpr uint8_t kStatusNoTarget = 228;
inline constexpr uint8_t kStatusFlashWrite = 234;
inline constexpr uint8_t kStatusExternalFlashWrite = 235;

inline constexpr const char* kMsgWriteFailed = "Communication error to T552-VRX4.";
inline constexpr const char* kMsgReadFailed = "Communication error from T552-VRX4.";

// Helpers over a raw frame buffer.
namespace CommandFrame {
inline uint16_t bodyLength(const uint8_t* f) { return uint16_t(f[0] | (f[1] << 8)); }
inline void setBodyLength(uint8_t* f, uint16_t n) {
  f[0] = uint8_t(n);
  f[1] = uint8_t(n >> 8);
}
// Writes bodyLength and command; returns the request length (bodyLength + 3).
inline size_t begin(uint8_t* f, uint8_t command, uint16_t bodyLength) {
  setBodyLength(f, bodyLength);
  f[2] = command;
  return size_t(bodyLength) + 3;
}
inline void put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
}  // namespace CommandFrame

// Time-outs of one exchange (its write and its read), by command: the
// status polls get a short one, the commands during which the unit works
// (switching mode, firmware pages, the reset, opening a download, reading
// back its settings) a long one, every other command the ordinary one.
inline constexpr uint32_t kOrdinaryTimeoutMs = 10000;
inline constexpr uint32_t kPollTimeoutMs = kOrdinaryTimeoutMs / 5;
inline constexpr uint32_t kWorkTimeoutMs = kOrdinaryTimeoutMs * 6;
uint32_t exchangeTimeoutMs(uint8_t command);
// Scales all three so that the ordinary one is `seconds` (--usb-timeout);
// values outside 0.001..3600 are clamped. Process-wide.
void setUsbTimeoutSeconds(double seconds);
double usbTimeoutSeconds();

// Seals a request: stores the sum of the bodyLength bytes at offset 2 at
// offset 2 + bodyLength (0 at offset 2 when bodyLength is 0).
void frameChecksum(uint8_t* frame);
// The same sum over a received frame, not stored.
uint8_t responseChecksum(const uint8_t* frame);
// Shows the operator message of a status code; nothing for codes without one.
void reportStatus(uint8_t code);
// The text of a status code, or nullptr when it has none.
const char* statusMessage(uint8_t code);

// Writes writeLength bytes of buffer (plus a zero-length packet when the
// length is a multiple of 64), reads up to readLength bytes back into buffer
// and checks the response. The buffer must hold at least
// max(readLength, writeLength) bytes. True only for a good response.
bool exchangeFrame(uint8_t* buffer, size_t readLength, size_t writeLength);

}  // namespace vrx4
