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
#include "base/StopRequest.h"
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
         // As the dialogs do: the poll ends on a stop request.
         for (int i = 0; i < 1000 && !stopRequestRaised(); ++i) {
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
      for (const char* f : {"bad-checksum", "wrong-echo", "stall", "hang"}) faults.push_back({f, std::to_string(n)});
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

// A unit that raises the program's stop flag when the n-th request arrives,
// as a signal would while the program waits on it.
class StoppingUnit : public SimulatedProgrammer {
 public:
  StoppingUnit(ProgrammerOptions o, uint64_t stopAt) : SimulatedProgrammer(o), stopAt_(stopAt) {}
  uint64_t stoppedAtMs = 0;
  bool stopped = false;

 protected:
  Reply handleCommand(uint8_t command, const uint8_t* payload, size_t length) override {
    if (++seen_ == stopAt_) {
      stoppedAtMs = clock().nowMs();
      stopped = true;
      raiseStopRequest();
    }
    return SimulatedProgrammer::handleCommand(command, payload, length);
  }

 private:
  uint64_t stopAt_;
  uint64_t seen_ = 0;
};

TEST_F(FaultSweep, UnitThatNeverFinishesMeetsTheDeadlineWithItsMessage) {
  struct Case {
    const char* workflow;
    const char* fault;
    const char* message;
    uint64_t deadlineMs;
  };
  const Case cases[] = {
      {"Load and send", "busy-forever", "T552-VRX4 did not finish storing the data.", sendCompletionDeadlineMs(256)},
      {"Start and poll", "run-forever", "T552-VRX4 did not finish the operation.", operationDeadlineMs(0, 1000)},
  };
  for (const Case& c : cases) {
    for (const Workflow& w : workflows()) {
      if (std::string(w.name) != c.workflow) continue;
      auto unit = freshUnit(true);
      std::string why;
      ASSERT_TRUE(applyUnitFault(*unit, c.fault, "", why));
      const uint64_t start = fakeClock->nowMs();
      EXPECT_FALSE(w.run()) << c.workflow;
      const uint64_t took = fakeClock->nowMs() - start;
      EXPECT_GE(took, c.deadlineMs) << c.workflow;
      EXPECT_LT(took, c.deadlineMs + kAbortWaitMs + 1000) << c.workflow;
      EXPECT_EQ(prompts.texts(), (std::vector<std::string>{c.message})) << c.workflow;
      bool aborted = false;
      for (const auto& r : unit->requests()) aborted |= r.size() > 2 && r[2] == 0x21;
      EXPECT_EQ(aborted, std::string(c.fault) == "run-forever") << c.workflow;
    }
  }
}

TEST_F(FaultSweep, StopAtAnyRequestEndsEveryWorkflowWithinSecondsEvenOnADrippingUnit) {
  int runs = 0;
  for (const Workflow& w : workflows()) {
    for (uint64_t stopAt : {1, 2, 5, 14, 40, 300}) {
      for (unsigned drip : {0u, 20u}) {
        clearStopRequest();
        closeLink();
        driver = std::make_unique<SimUsbDriver>();
        setUsbDriver(driver.get());
        ProgrammerOptions o;
        o.timeScale = 1;  // operations and busy phases take their time
        auto unit = std::make_shared<StoppingUnit>(o, stopAt);
        unit->setRunForever(true);
        unit->setDripMs(drip);
        driver->addUnit(unit);
        ASSERT_TRUE(openLink());
        prompts.clear();
        const bool ok = w.run();
        const std::string what =
            std::string(w.name) + ", stop at request " + std::to_string(stopAt) + ", drip " + std::to_string(drip);
        if (!unit->stopped) continue;  // the workflow ended before
        ++runs;
        const uint64_t after = fakeClock->nowMs() - unit->stoppedAtMs;
        EXPECT_LT(after, 6000u) << what;
        // Only a workflow that had no more than its last replies to take
        // may still end well.
        if (ok) {
          EXPECT_LE(after, uint64_t(kStopGraceMs) + 100) << what;
        }
      }
    }
  }
  clearStopRequest();
  EXPECT_GT(runs, 40);
}

}  // namespace
}  // namespace vrx4::test
