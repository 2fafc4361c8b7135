// Sending a full 4 MiB user image (64 marked banks) to the simulated unit and
// fetching it back, through the transfer dialogs' own workers. The unit's
// busy phases are instant and the workers' 100 ms waits run on a test clock,
// so the figures are the host's own time (plus the simulated unit's).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "base/Clock.h"
#include "image/ImageTransfer.h"
#include "link/Commands.h"
#include "link/SocketUsbDriver.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"
#include "sim/UnitSocketServer.h"

namespace {

using namespace vrx4;

struct Fixture {
  Fixture() {
    image = std::make_unique<MemoryImage>();
    settings = std::make_unique<ProjectSettings>();
    DeviceDef& d = settings->device;
    d.setName("BENCH-4M");
    d.userRomSize = 0x400000;
    d.userRomEnd = 0x3FFFFF;
    d.blockCount = 64;
    for (int i = 0; i < 64; ++i) {
      d.blockStart[i] = 0x10000 * i;
      d.blockSize[i] = 0x10000;
    }
    for (size_t i = 0; i < kUserImageSize; ++i) image->userImage[i] = uint8_t(i * 31 + (i >> 12));
    image->markAllBanks(d);
    previousClock = setClock(&fake);
  }
  ~Fixture() { setClock(previousClock); }

  void run(benchmark::State& state, bool fetch) {
    if (!openLink() || !setDevice(settings->device)) {
      state.SkipWithError("no link to the simulated unit");
      return;
    }
    for (auto _ : state) {
      TransferProgress p;
      if (fetch) {
        prepareFetch(p, ImageArea::User, *settings);
        fetchImageWorker(p, ImageArea::User, *image, *settings);
      } else {
        SendPlan plan = prepareSend(p, ImageArea::User, *image, *settings);
        sendImageWorker(p, plan, *image, *settings);
      }
      if (p.abandoned()) state.SkipWithError("transfer failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kUserImageSize));
    if (!fetch) {
      // The unit must now hold exactly the image that was sent.
      auto copy = std::make_unique<MemoryImage>();
      TransferProgress p;
      prepareFetch(p, ImageArea::User, *settings);
      fetchImageWorker(p, ImageArea::User, *copy, *settings);
      if (p.abandoned() || copy->userImage != image->userImage) state.SkipWithError("unit holds another image");
    }
    closeLink();
  }

  FakeClock fake;
  Clock* previousClock = nullptr;
  std::unique_ptr<MemoryImage> image;
  std::unique_ptr<ProjectSettings> settings;
};

std::shared_ptr<SimulatedProgrammer> instantUnit() {
  ProgrammerOptions o;
  o.timeScale = 0;
  auto unit = std::make_shared<SimulatedProgrammer>(o);
  unit->setHistoryEnabled(false);
  return unit;
}

void inProcess(benchmark::State& state, bool fetch) {
  Fixture f;
  SimUsbDriver driver;
  driver.addUnit(instantUnit());
  UsbDriver* previous = setUsbDriver(&driver);
  f.run(state, fetch);
  setUsbDriver(previous);
}

void overSocket(benchmark::State& state, bool fetch) {
  std::string dir = (std::filesystem::temp_directory_path() / "vrx4-bench-XXXXXX").string();
  if (!::mkdtemp(dir.data())) {
    state.SkipWithError("no scratch folder");
    return;
  }
  UnitSocketServer server(instantUnit(), dir + "/u.sock");
  std::string why;
  if (!server.listen(why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  std::thread serving([&] { server.serve(); });
  {
    Fixture f;
    SocketUsbDriver client(dir + "/u.sock");
    UsbDriver* previous = setUsbDriver(&client);
    f.run(state, fetch);
    setUsbDriver(previous);
  }
  server.stop();
  serving.join();
  std::filesystem::remove_all(dir);
}

void BM_Send4MiBInProcess(benchmark::State& s) { inProcess(s, false); }
void BM_Fetch4MiBInProcess(benchmark::State& s) { inProcess(s, true); }
void BM_Send4MiBOverSocket(benchmark::State& s) { overSocket(s, false); }
void BM_Fetch4MiBOverSocket(benchmark::State& s) { overSocket(s, true); }

BENCHMARK(BM_Send4MiBInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fetch4MiBInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Send4MiBOverSocket)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Fetch4MiBOverSocket)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
