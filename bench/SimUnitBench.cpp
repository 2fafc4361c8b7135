// Speed of the simulated unit: a data page through the in-process and the
// socket transports, the state file, and an instant 4 MiB operation.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "base/Clock.h"
#include "base/Prompter.h"
#include "link/Commands.h"
#include "link/SocketUsbDriver.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"
#include "sim/UnitSocketServer.h"
#include "sim/UnitState.h"

namespace {

using namespace vrx4;

std::string scratchDir() {
  std::string t = (std::filesystem::temp_directory_path() / "vrx4-bench-XXXXXX").string();
  return ::mkdtemp(t.data()) ? t : std::string();
}

// 4 MiB in 64 blocks of 64 KiB, no ID code.
DeviceDef bigDevice() {
  DeviceDef d;
  d.setName("BENCH-4M");
  d.userRomSize = 0x400000;
  d.userRomEnd = 0x3FFFFF;
  d.blockCount = 64;
  for (int i = 0; i < 64; ++i) {
    d.blockStart[i] = 0x10000 * i;
    d.blockSize[i] = 0x10000;
  }
  return d;
}

void pagesOverLink(benchmark::State& state) {
  uint8_t page[256] = {0x5A};
  uint16_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(writeDataPage(n++ & 0x3FFF, page));
  state.SetBytesProcessed(int64_t(state.iterations()) * 256);
}

void BM_PageInProcess(benchmark::State& state) {
  SimUsbDriver driver;
  driver.addUnit(std::make_shared<SimulatedProgrammer>());
  UsbDriver* previous = setUsbDriver(&driver);
  if (openLink() && beginUserDataDownload()) pagesOverLink(state);
  closeLink();
  setUsbDriver(previous);
}
BENCHMARK(BM_PageInProcess);

void BM_PageOverSocket(benchmark::State& state) {
  const std::string dir = scratchDir();
  auto unit = std::make_shared<SimulatedProgrammer>();
  unit->setHistoryEnabled(false);
  UnitSocketServer server(unit, dir + "/u.sock");
  std::string why;
  if (!server.listen(why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  std::thread serving([&] { server.serve(); });
  {
    SocketUsbDriver client(dir + "/u.sock");
    UsbDriver* previous = setUsbDriver(&client);
    if (openLink() && beginUserDataDownload()) pagesOverLink(state);
    closeLink();
    setUsbDriver(previous);
  }
  server.stop();
  serving.join();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PageOverSocket)->UseRealTime();

void BM_SaveFullState(benchmark::State& state) {
  const std::string dir = scratchDir();
  UnitState s;
  std::fill(s.userBuffer.begin(), s.userBuffer.end(), 0x12);
  s.targetFlash.assign(0x400000, 0x34);
  std::string why;
  const unsigned parts = unsigned(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(saveUnitState(dir + "/s", s, why, parts));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveFullState)->Arg(kStateAll)->Arg(kStateSettings)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_InstantEraseProgramVerify4M(benchmark::State& state) {
  SimUsbDriver driver;
  ProgrammerOptions o;
  o.timeScale = 0;
  driver.addUnit(std::make_shared<SimulatedProgrammer>(o));
  UsbDriver* previous = setUsbDriver(&driver);
  LockBitTable all;
  for (int b = 0; b < 64; ++b) all.operationBlockMask.set(b);
  if (openLink() && setDevice(bigDevice()) && setBlockSettings(all) && setOperation(1, 0)) {
    for (auto _ : state) {
      OperationStatus st;
      startOperation();
      getOperationStatus(st);
      if (st.result != 1) state.SkipWithError("operation failed");
    }
  }
  closeLink();
  setUsbDriver(previous);
}
BENCHMARK(BM_InstantEraseProgramVerify4M)->Unit(benchmark::kMillisecond);

}  // namespace
