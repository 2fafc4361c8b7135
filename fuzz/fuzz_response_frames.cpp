// Every query's decoding on any reply a broken or malicious unit can give:
// the unit is found and opened as usual, then each read of pipe 0 hands
// back the next piece of the input (or fails). The host must never read or
// write past a buffer, and a decoded record must stay within its limits.
// Input: pieces of [2-byte little-endian length, bit 15 = the read fails]
// [length bytes], taken by the queries in a fixed round.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "base/Clock.h"
#include "link/Commands.h"
#include "link/FrameExchange.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"

namespace {

// Finding and opening go to a simulated unit; the pipes are the input's.
class ReplayDriver final : public vrx4::UsbDriver {
 public:
  vrx4::SimUsbDriver sim;
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  bool exhausted() const { return pos >= size; }

  std::optional<std::string> enumerateInterface(int index) override { return sim.enumerateInterface(index); }
  vrx4::UsbHandle open(const std::string& path) override { return sim.open(path); }
  void close(vrx4::UsbHandle h) override { sim.close(h); }
  bool getDeviceDescriptor(vrx4::UsbHandle d, std::array<uint8_t, 18>& out) override {
    return sim.getDeviceDescriptor(d, out);
  }
  bool getConfiguration(vrx4::UsbHandle d, uint32_t& v) override { return sim.getConfiguration(d, v); }
  void recover(vrx4::UsbHandle) override {}
  bool write(vrx4::UsbHandle, const uint8_t*, size_t) override { return !exhausted(); }
  bool read(vrx4::UsbHandle, uint8_t* out, size_t maxLength, size_t& got) override {
    got = 0;
    if (pos + 2 > size) {
      pos = size;
      return false;
    }
    const unsigned head = data[pos] | (data[pos + 1] << 8);
    pos += 2;
    const size_t n = std::min<size_t>(head & 0x7FFF, size - pos);
    if (head & 0x8000) {
      pos += n;
      return false;
    }
    got = std::min(n, maxLength);
    if (got) std::memcpy(out, data + pos, got);
    pos += n;
    return true;
  }
  void setDeviceChangeHandler(std::function<void()>) override {}
};

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vrx4;
  fuzz::quiet();
  static FakeClock fakeClock;
  static bool clockSet = (setClock(&fakeClock), true);
  (void)clockSet;
  static ReplayDriver* driver = [] {
    auto* d = new ReplayDriver;
    ProgrammerOptions o;
    o.timeScale = 0;
    o.deviceTablePath = "/nonexistent/vrx4type.tbl";
    d->sim.addUnit(std::make_shared<SimulatedProgrammer>(o));
    setUsbDriver(d);
    return d;
  }();
  driver->data = data;
  driver->size = size;
  driver->pos = 0;
  if (!openLink()) std::abort();

  for (int round = 0; round < 64 && !driver->exhausted(); ++round) {
    switch (round % 12) {
      case 0: {
        uint8_t frame[600] = {3, 0, 6, 0, 0};
        frame[5] = 6;
        exchangeFrame(frame, 512, 6);
        break;
      }
      case 1: {
        UnitInfo info;
        if (getUnitInfo(info)) check(info.model.size() <= 512 && info.firmwareVersion.size() <= 512);
        break;
      }
      case 2: {
        InitialLoadData d;
        if (getInitialLoadData(d) == LoadDataResult::Ok && d.hasSettings) {
          check(d.idLength <= 64);
          check(d.deviceName.size() <= 255 && d.userFileName.size() <= 255);
        }
        break;
      }
      case 3: {
        BootAreaInfo b;
        getBootAreaInfo(b);
        break;
      }
      case 4: {
        std::string v;
        if (readVersion(v)) check(v.size() <= 512);
        break;
      }
      case 5: {
        bool busy = false;
        getBusyState(busy);
        break;
      }
      case 6: {
        OperationStatus st;
        getOperationStatus(st);
        break;
      }
      case 7: {
        bool busy = false;
        getUpdateState(busy);
        break;
      }
      case 8: {
        uint8_t mode = 0;
        getExecutionState(mode);
        break;
      }
      case 9: {
        BlockMask locked;
        readLockBits(locked);
        break;
      }
      case 10: {
        uint8_t page[256];
        readDataPage(uint16_t(round), page);
        break;
      }
      case 11: {
        // A command that only wants its status.
        startOperation();
        break;
      }
    }
    fakeClock.advance(1000);
  }
  closeLink();
  return 0;
}
