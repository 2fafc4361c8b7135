#include "cli/UnitSession.h"

#include <atomic>
#include <filesystem>

#include "app/UnitCheck.h"
#include "app/UsbAccess.h"
#include "base/Prompter.h"
#include "cli/CliPrompter.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/UsbUnits.h"
#include "cli/Worker.h"
#include "link/Commands.h"
#include "link/LibUsbDriver.h"
#include "link/SocketUsbDriver.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"

namespace vrx4::cli {

bool parseUnitSpec(const std::string& text, UnitSpec& choice, std::string& why) {
  choice = UnitSpec();
  choice.text = text;
  if (text == "usb") return true;
  if (text.rfind("usb:", 0) == 0 && text.size() > 4) {
    choice.serial = text.substr(4);
    return true;
  }
  if (text == "sim") {
    choice.kind = UnitKind::Sim;
    return true;
  }
  if (text.rfind("socket:", 0) == 0 && text.size() > 7) {
    choice.kind = UnitKind::Socket;
    choice.socketPath = text.substr(7);
    return true;
  }
  why = "--unit " + text + ": expected usb, usb:SERIAL, sim or socket:PATH";
  return false;
}

bool sameUnit(const UnitSpec& a, const UnitSpec& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case UnitKind::Sim:
      return true;
    case UnitKind::Usb:
      return a.serial == b.serial;
    case UnitKind::Socket: {
      std::error_code ec;
      const auto pa = std::filesystem::weakly_canonical(a.socketPath, ec);
      const auto pb = std::filesystem::weakly_canonical(b.socketPath, ec);
      return a.socketPath == b.socketPath || (!pa.empty() && pa == pb);
    }
  }
  return false;
}

UnitSession::UnitSession(UnitSpec choice, SimSettings sim) : spec_(std::move(choice)), sim_(std::move(sim)) {}

UnitSession::~UnitSession() {
  if (linkOpen_) closeLink();
  setUsbDriver(previousDriver_);
  driver_.reset();
  if (instantClock_) setClock(previousClock_);
}

namespace {

constexpr const char* kUnitStillBusyText = "T552-VRX4 is still running an operation.";

// Messages after which the unit is there but cannot be used as it is.
bool unitRefused(const CliPrompter& p) {
  return p.shown(kDifferentModelText) || p.shown(kExecStateErrorText) || p.shown(kUpdateQuestionText);
}

}  // namespace

int UnitSession::connect(AppState& state, Events& events, CliPrompter& prompter) {
  events.phaseStart("connect");
  auto fail = [&](int status) {
    events.phaseEnd("connect", false);
    return status;
  };
  switch (spec_.kind) {
    case UnitKind::Sim: {
      ProgrammerOptions options = sim_.noState ? ProgrammerOptions{} : userUnitOptions();
      if (!sim_.statePath.empty()) options.statePath = sim_.statePath;
      options.freshState = sim_.fresh;
      options.targetConnected = !sim_.noTarget;
      if (sim_.instant) {
        // The unit lives on this process's clock: with no busy time there is
        // nothing to wait for, so no wait of the program takes real time.
        options.timeScale = 0;
        instantClock_ = std::make_unique<FakeClock>();
        previousClock_ = setClock(instantClock_.get());
      }
      auto driver = std::make_unique<SimUsbDriver>();
      driver->addUnit(std::make_shared<SimulatedProgrammer>(options));
      driver_ = std::move(driver);
      path_ = "sim";
      break;
    }
    case UnitKind::Socket:
      driver_ = std::make_unique<SocketUsbDriver>(spec_.socketPath);
      path_ = "socket:" + spec_.socketPath;
      break;
    case UnitKind::Usb: {
      std::vector<UsbUnit> units = listUsbUnits();
      const UsbUnit* chosen = nullptr;
      for (const UsbUnit& u : units) {
        if (spec_.serial.empty() ? u.accessible : u.serial == spec_.serial) {
          chosen = &u;
          break;
        }
      }
      if (!spec_.serial.empty() && !chosen) {
        events.error("no unit with the USB serial number " + spec_.serial + " (vrx4-cli units lists them)");
        return fail(kExitNoUnit);
      }
      if (chosen) {
        path_ = chosen->path;
        serial_ = chosen->serial;
        driver_ = std::make_unique<OnePathDriver>(std::make_unique<LibUsbDriver>(), chosen->path);
      } else {
        driver_ = std::make_unique<LibUsbDriver>();
      }
      break;
    }
  }
  previousDriver_ = setUsbDriver(driver_.get());
  if (!openLink()) {
    showMessage(noUnitMessage(state.folder()), Icon::Stop);
    return fail(kExitNoUnit);
  }
  linkOpen_ = true;
  if (spec_.kind == UnitKind::Usb && path_.empty()) path_ = slotPath(linkSlot());

  auto runUpdate = [&](const FirmwareImage& image) {
    std::atomic<uint32_t> progress{0};
    events.phaseStart("firmware");
    runWorker(
        events, "firmware", [&] { updateWorker(image, progress); },
        [&] { return std::pair<uint64_t, uint64_t>(std::min(progress.load(), kUpdateTotal), kUpdateTotal); });
    events.phaseEnd("firmware", progress.load() == kUpdateTotal);
  };
  if (!checkUnit(state, runUpdate)) return fail(unitRefused(prompter) ? kExitNoUnit : kExitLink);
  // A unit still at an earlier job's operation refuses every setting:
  // said once, with what to do, instead of each refused command.
  OperationStatus operation;
  if (getOperationStatus(operation) && operation.running()) {
    events.error(std::string(kUnitStillBusyText) +
                 " Wait for it to end (\"vrx4-cli info\" answers once it has), then start the job again.");
    return fail(kExitNoUnit);
  }
  if (!loadDeviceTable(state)) return fail(kExitFile);
  if (!readStoredSettings(state)) return fail(kExitLink);
  events.phaseEnd("connect", true);
  return kExitPass;
}

}  // namespace vrx4::cli
