// The simulated unit on any sequence of requests: every request, sealed with
// a right checksum, gets exactly one well-formed answer of at most 512 bytes
// that echoes its command, and nothing crashes or reads past a buffer.
// Input: chunks of [length byte][length bytes of command and payload].
#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "base/Clock.h"
#include "sim/SimulatedProgrammer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  static vrx4::FakeClock fakeClock;
  static bool clockSet = (vrx4::setClock(&fakeClock), true);
  (void)clockSet;
  vrx4::ProgrammerOptions o;
  o.timeScale = 0;
  o.deviceTablePath = "/nonexistent/vrx4type.tbl";
  vrx4::SimulatedProgrammer unit(o);
  size_t pos = 0;
  while (pos < size) {
    // Page writes need 259 bytes; a length byte of 0 stands for them.
    size_t n = data[pos++];
    if (n == 0) n = 259;
    std::vector<uint8_t> frame(2 + n + 1, 0);
    for (size_t i = 0; i < n; ++i) frame[2 + i] = pos + i < size ? data[pos + i] : 0;
    pos += n;
    frame[0] = uint8_t(n);
    frame[1] = uint8_t(n >> 8);
    uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum = uint8_t(sum + frame[2 + i]);
    frame[2 + n] = sum;
    if (!unit.hostWrite(frame.data(), frame.size())) std::abort();
    if (frame.size() % 64 == 0 && !unit.hostWrite(nullptr, 0)) std::abort();
    uint8_t reply[1024];
    size_t got = 0;
    if (!unit.hostRead(reply, sizeof reply, got) || got < 4 || got > 512) std::abort();
    const size_t len = size_t(reply[0] | (reply[1] << 8));
    if (len + 3 != got || reply[2] != frame[2]) std::abort();
    uint8_t check = 0;
    for (size_t i = 0; i < len; ++i) check = uint8_t(check + reply[2 + i]);
    if (check != reply[2 + len]) std::abort();
    fakeClock.advance(50);
  }
  return 0;
}
