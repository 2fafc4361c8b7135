// Every workflow against the simulated unit with every fault class injected
// at every command it sends (pages sampled): the run ends on the fake clock
// within a bounded time and reports the failure, with the status's message
// (none for the unit's silent statuses 229..233).
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "SimFixture.h"
#include "app/AppState.h"
#include "app/FirmwareUpdate.h"
#include "app/UnitCheck.h"
#include "image/ImageTransfer.h"
#include "sim/UnitFaults.h"
#include "view/OperationRunner.h"

namespace vrx4::test {
namespace {

std::string programFile() {
  // The test's own folder holds the device table, as the program's does.
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "vrx4").string();
}

struct Workflow {
  const char* name;
  std::function<bool()> run;  // true: the workflow reports success
};

ProjectSettings sendSettings() {
  ProjectSettings s;
  s.device = testDevice();
  return s;
}

std::vector<Workflow> workflows() {
  static MemoryImage image;
  image.bankHasData[1] = 1;
  image.userImage[0x10000] = 0x42;
  static FirmwareImage firmware = [] {
    FirmwareImage f(kFirmwareImageSize, 0xFF);
    readFirmwareFile(VRX4_FIRMWARE_FILE_PATH, f);
    return f;
  }();
  return {
      {"start-up check",
       [] {
         AppState state;
         state.executablePath = programFile();
         return checkConnection(state, {});
       }},
      {"firmware update",
       [] {
         if (!setExecutionMode(1)) return false;
         std::atomic<uint32_t> progress{0};
         updateWorker(firmware, progress);
         return progress == kUpdateTotal;
       }},
      {"Initializing",
       [] {
         if (!initializeUnit()) return false;
         for (int i = 0; i < 1000; ++i) {
           bool busy = false;
           if (!getBusyState(busy)) return false;
           if (!busy) return true;
           clock().sleepMs(100);
         }
         return false;
       }},
      {"Load and send",
       [] {
         const ProjectSettings s = sendSettings();
         if (!setDevice(s.device)) return false;
         TransferProgress p;
         const SendPlan plan = prepareSend(p, ImageArea::User, image, s);
         sendImageWorker(p, plan, image, s);
         return !p.abandoned();
       }},
      {"Start and poll",
       [] {
         if (!setDevice(testDevice()) || !setOperation(2, 0) || !startOperation()) return false;
         OperationProgress p;
         p.total = 1000;
         programmingThreadProc(p, {});
         return p.failed == 0;
       }},
      {"fetch",
       [] {
         const ProjectSettings s = sendSettings();
         if (!setDevice(s.device)) return false;
         MemoryImage back;
         TransferProgress p;
         prepareFetch(p, ImageArea::User, s);
         fetchImageWorker(p, ImageArea::User, back, s);
         return !p.abandoned();
       }},
  };
}

class FaultSweep : public SimFixture {
 protected:
  std::shared_ptr<SimulatedProgrammer> freshUnit(bool history) {
    closeLink();
    driver = std::make_unique<SimUsbDriver>();
    setUsbDriver(driver.get());
    ProgrammerOptions o;
    o.timeScale = 0;
    o.keepHistory = history;
    auto u = std::make_shared<SimulatedProgrammer>(o);
    driver->addUnit(u);
    EXPECT_TRUE(openLink());
    prompts.clear();
    return u;
  }
};

TEST_F(FaultSweep, EveryFaultAtEveryCommandEndsWithItsMessageAndNoHang) {
  int runs = 0;
  for (const Workflow& w : workflows()) {
    // A clean run: its commands, in order.
    std::vector<uint8_t> commands;
    {
      auto unit = freshUnit(true);
      ASSERT_TRUE(w.run()) << w.name << " fails without a fault";
      EXPECT_TRUE(prompts.texts().empty()) << w.name;
      for (const auto& r : unit->requests()) commands.push_back(r.size() > 2 ? r[2] : 0);
    }
    ASSERT_FALSE(commands.empty()) << w.name;
    const std::set<uint8_t> distinct(commands.begin(), commands.end());

    struct Fault {
      std::string name, value;
    };
    std::vector<Fault> faults;
    for (uint8_t c : distinct) {
      for (int status = 225; status <= 235; ++status)
        faults.push_back({"error-status", std::to_string(c) + ":" + std::to_string(status)});
      faults.push_back({"unplug-at", std::to_string(c)});
    }
    // The N-th request: every one of the first 12 and the last 4, every 29th
    // in between (the page runs repeat one command).
    for (size_t n = 1; n <= commands.size(); ++n) {
      if (n > 12 && n + 4 <= commands.size() && n % 29 != 0) continue;
      for (const char* f : {"bad-checksum", "wrong-echo", "stall"}) faults.push_back({f, std::to_string(n)});
    }

    for (const Fault& f : faults) {
      auto unit = freshUnit(false);
      std::string why;
      ASSERT_TRUE(applyUnitFault(*unit, f.name, f.value, why)) << why;
      const uint64_t start = fakeClock->nowMs();
      const bool ok = w.run();
      const uint64_t took = fakeClock->nowMs() - start;
      ++runs;
      const std::string what = std::string(w.name) + " with " + f.name + " " + f.value;
      // Bounded: the longest waits of a workflow are its busy polls.
      EXPECT_LT(took, 10u * 60 * 1000) << what;
      EXPECT_FALSE(ok) << what << " reported success";
      // Statuses 229..233 are the unit's own: they fail the command silently.
      const int status = f.name == "error-status" ? std::stoi(f.value.substr(f.value.find(':') + 1)) : 0;
      if (status >= 229 && status <= 233)
        EXPECT_TRUE(prompts.texts().empty()) << what << " showed a message";
      else
        EXPECT_FALSE(prompts.texts().empty()) << what << " failed without a message";
      for (const std::string& t : prompts.texts()) EXPECT_FALSE(t.empty()) << what;
    }
  }
  std::printf("fault sweep: %d runs\n", runs);
  RecordProperty("runs", runs);
}

}  // namespace
}  // namespace vrx4::test
