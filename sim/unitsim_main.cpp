// vrx4-unitsim: a simulated T552-VRX4 served over a Unix domain socket until
// it is stopped (SIGINT or SIGTERM) or unplugged; the state file is saved on
// the way out.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/Log.h"
#include "base/Version.h"
#include "sim/SimulatedProgrammer.h"
#include "sim/UnitFaults.h"
#include "sim/UnitSocketServer.h"

namespace {

const char* const kUsage =
    "Usage: vrx4-unitsim --socket PATH [options]\n"
    "Serves a simulated T552-VRX4 with a target behind it; start the program\n"
    "with --unit socket:PATH.\n"
    "\n"
    "  --socket PATH            socket to serve (required)\n"
    "  --state PATH             state file (default $XDG_STATE_HOME/vrx4/unit-state,\n"
    "                           else ~/.local/state/vrx4/unit-state)\n"
    "  --no-state               keep nothing across runs\n"
    "  --fresh                  start as a fresh unit (the state file is overwritten)\n"
    "  --verbose                log every command handled, one line each\n"
    "  --update-mode            start in update mode\n"
    "  --firmware-version TEXT  report this firmware version instead of Ver.1.11\n"
    "  --firmware-date TEXT     report this firmware date\n"
    "  --target-version TEXT    version text of the target (Read Version)\n"
    "  --instant                busy phases and operations take no time\n"
    "  --time-scale FACTOR      busy phases and operations take FACTOR times as long\n"
    "  --no-target              operations end with \"Contact Err\"\n"
    "  --no-target-status CMD   answer CMD with status 228 (\"No target.\")\n"
    "  --error-status CMD:CODE  answer CMD with error status CODE\n"
    "  --bad-checksum N         corrupt the checksum of the N-th reply\n"
    "  --wrong-echo N           echo another command in the N-th reply\n"
    "  --stall N                give no reply to the N-th request (its read fails\n"
    "                           at once)\n"
    "  --hang N                 hold the N-th reply back until the program gives up\n"
    "  --drip MS                send every reply one byte every MS milliseconds\n"
    "  --busy-forever           report busy (command 29) whatever the unit does\n"
    "  --run-forever            operations never finish (until abortOperation)\n"
    "  --unplug-at CMD          leave the bus when CMD arrives\n"
    "  --memory-error           operations end with \"Memory Err\"\n"
    "  --result CODE            operations end with result CODE\n"
    "  --help                   show this text\n"
    "  --version                show the version and the firmware the unit reports\n"
    "CMD is a command code (decimal or 0x hex) or name, e.g. getOperationStatus.\n"
    "A program can send the same faults at run time as control messages\n"
    "(type 'X', text \"NAME VALUE\", e.g. \"unplug\" or \"bad-checksum 1\").\n"
    "\n"
    "Exit status:\n"
    "  0  stopped by SIGINT or SIGTERM, the state file saved\n"
    "  1  the socket could not be served\n"
    "  2  the command line is wrong\n"
    "\n"
    "Files:\n"
    "  $XDG_STATE_HOME/vrx4/unit-state  what the unit keeps across runs (--state)\n"
    "\n"
    "Examples:\n"
    "  vrx4-unitsim --socket u1.sock --instant &\n"
    "  vrx4-cli program app.hex --device DEMO-B256K --unit socket:u1.sock\n"
    "  vrx4-unitsim --socket u2.sock --no-target --stall 40\n";

vrx4::UnitSocketServer* activeServer = nullptr;

void onSignal(int) {
  if (activeServer) activeServer->stop();
}

// What the command line asks for.
struct CommandLine {
  vrx4::ProgrammerOptions options;
  std::string socketPath;
  std::vector<std::pair<std::string, std::string>> faults;  // name, value (empty when it takes none)
};

// Reads the command line into `cl`. Returns the exit status when the program
// ends here (--help, --version, a wrong command line), else -1.
int parseCommandLine(int argc, char** argv, CommandLine& cl) {
  vrx4::ProgrammerOptions& options = cl.options;
  options.statePath = vrx4::defaultUnitStatePath();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "vrx4-unitsim: %s needs a value\n", arg.c_str());
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      // The firmware this simulated unit reports (getUnitInfo), as info shows it.
      std::printf("vrx4-unitsim %s\nsimulated unit firmware %s %s\n", vrx4::kProgramVersion, vrx4::kSimFirmwareVersion,
                  vrx4::kSimFirmwareDate);
      return 0;
    } else if (arg == "--socket") {
      if (!value(cl.socketPath)) return 2;
    } else if (arg == "--state") {
      if (!value(options.statePath)) return 2;
    } else if (arg == "--no-state") {
      options.statePath.clear();
    } else if (arg == "--fresh") {
      options.freshState = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--update-mode") {
      options.startInUpdateMode = true;
    } else if (arg == "--firmware-version") {
      if (!value(options.firmwareVersion)) return 2;
    } else if (arg == "--firmware-date") {
      if (!value(options.firmwareDate)) return 2;
    } else if (arg == "--target-version") {
      if (!value(options.targetVersion)) return 2;
    } else if (arg.rfind("--", 0) == 0) {
      const std::string name = arg.substr(2);
      if (vrx4::unitFaultTakesValue(name) && !value(v)) return 2;
      cl.faults.emplace_back(name, v);
    } else {
      std::fprintf(stderr, "vrx4-unitsim: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (cl.socketPath.empty()) {
    std::fprintf(stderr, "vrx4-unitsim: --socket PATH is required\n%s", kUsage);
    return 2;
  }
  return -1;
}

// Sets the faults of the command line on the unit; false (and said why) at
// the first one that is unknown or has a wrong value.
bool applyFaults(vrx4::SimulatedProgrammer& unit, const CommandLine& cl) {
  for (const auto& [name, v] : cl.faults) {
    std::string why;
    if (!vrx4::applyUnitFault(unit, name, v, why)) {
      if (why.rfind("unknown fault", 0) == 0)
        std::fprintf(stderr, "vrx4-unitsim: unknown option --%s\n%s", name.c_str(), kUsage);
      else
        std::fprintf(stderr, "vrx4-unitsim: --%s: %s\n", name.c_str(), why.c_str());
      return false;
    }
  }
  return true;
}

// SIGINT and SIGTERM stop `server`; a peer that goes away mid-write is a
// failed write, not the end of the program.
void stopOnSignals(vrx4::UnitSocketServer& server) {
  activeServer = &server;
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

// Serves the unit on the socket until it is stopped, then saves its state.
// Returns the exit status.
int serveUntilStopped(std::shared_ptr<vrx4::SimulatedProgrammer> unit, const CommandLine& cl) {
  const vrx4::ProgrammerOptions& options = cl.options;
  auto server = std::make_unique<vrx4::UnitSocketServer>(unit, cl.socketPath);
  server->setVerbose(options.verbose);
  server->setControlHandler([&unit](const std::string& text) { return vrx4::applyUnitControl(*unit, text); });
  std::string why;
  if (!server->listen(why)) {
    std::fprintf(stderr, "vrx4-unitsim: %s\n", why.c_str());
    return 1;
  }
  stopOnSignals(*server);

  vrx4::logProgramLine(
      "serving " + cl.socketPath +
      (options.statePath.empty() ? std::string(" (no state file)") : " (state " + options.statePath + ")"));
  server->serve();
  activeServer = nullptr;
  server.reset();
  const bool keeps = !options.statePath.empty();
  const bool saved = unit->saveState();
  unit.reset();
  if (!keeps) {
    vrx4::logProgramLine("stopped (no state file)");
    return 0;
  }
  vrx4::logProgramLine(saved ? "stopped, state saved" : "stopped, state NOT saved");
  return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  vrx4::setLogProgramName("vrx4-unitsim");
  CommandLine cl;
  if (const int status = parseCommandLine(argc, argv, cl); status >= 0) return status;

  auto unit = std::make_shared<vrx4::SimulatedProgrammer>(cl.options);
  unit->setHistoryEnabled(false);
  if (!applyFaults(*unit, cl)) return 2;
  return serveUntilStopped(std::move(unit), cl);
}
