#include "app/CommandLine.h"

#include <cctype>
#include <cstdlib>

#include "app/AppInfo.h"
#include "app/UnitUsbId.h"
#include "base/Version.h"

namespace vrx4 {
namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// "-Embedding" or "/Automation" in any letter case.
bool isSplashSwitch(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) return false;
  const std::string name = arg.substr(1);
  return equalsIgnoringCase(name, "Embedding") || equalsIgnoringCase(name, "Automation");
}

bool parseUnit(const std::string& value, UnitChoice& unit, std::string& error) {
  static const std::string socketPrefix = "socket:";
  if (value == "usb") {
    unit.kind = UnitKind::Usb;
  } else if (value == "sim") {
    unit.kind = UnitKind::Sim;
  } else if (value.compare(0, socketPrefix.size(), socketPrefix) == 0) {
    std::string path = value.substr(socketPrefix.size());
    if (path.empty()) {
      error = "--unit socket: needs the path of the simulator's socket";
      return false;
    }
    unit.kind = UnitKind::Socket;
    unit.socketPath = std::move(path);
  } else {
    error = "unknown unit '" + value + "' (expected usb, sim or socket:PATH)";
    return false;
  }
  return true;
}

// --usb-id and --usb-timeout, as "--name VALUE" or "--name=VALUE". True
// when `args[i]` was one of them (then `i` is past its value).
bool parseUsbOption(const std::vector<std::string>& args, size_t& i, UnitChoice& unit, std::string& error) {
  const std::string& arg = args[i];
  std::string name = arg, value;
  bool haveValue = false;
  const size_t eq = arg.find('=');
  if (eq != std::string::npos) {
    name = arg.substr(0, eq);
    value = arg.substr(eq + 1);
    haveValue = true;
  }
  if (name != "--usb-id" && name != "--usb-timeout") return false;
  if (!haveValue) {
    if (i + 1 >= args.size()) {
      error = name + (name == "--usb-id" ? " needs a value (VID:PID)" : " needs a value (SECONDS)");
      return true;
    }
    value = args[++i];
  }
  if (name == "--usb-id") {
    UsbId id;
    if (!parseUsbId(value, id))
      error = usbIdUsageError(value);
    else
      unit.usbId = value;
  } else if (!parseUsbTimeout(value, unit.usbTimeoutSeconds)) {
    error = "--usb-timeout '" + value + "': expected seconds, more than 0 and at most 3600";
  }
  return true;
}

}  // namespace

bool parseUsbTimeout(const std::string& text, double& seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (!end || *end != '\0' || !(v > 0) || v > 3600) return false;
  seconds = v;
  return true;
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  std::string simOption;  // the first option of the simulated unit given
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (simOption.empty() && arg.compare(0, 6, "--sim-") == 0) simOption = arg;
    if (isSplashSwitch(arg)) {
      cl.splashEnabled = false;
    } else if (arg == "--simulate") {
      cl.unit.kind = UnitKind::Sim;
    } else if (arg == "--sim-firmware" || arg == "--sim-state") {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        cl.error = arg + " needs a value";
        return cl;
      }
      (arg == "--sim-firmware" ? cl.unit.sim.firmwareVersion : cl.unit.sim.statePath) = args[++i];
    } else if (arg == "--sim-update-mode") {
      cl.unit.sim.updateMode = true;
    } else if (arg == "--sim-fresh") {
      cl.unit.sim.freshState = true;
    } else if (arg == "--sim-no-state") {
      cl.unit.sim.keepNothing = true;
    } else if (arg == "--unit") {
      if (i + 1 >= args.size()) {
        cl.error = "--unit needs a value (usb, sim or socket:PATH)";
        return cl;
      }
      if (!parseUnit(args[++i], cl.unit, cl.error)) return cl;
    } else if (arg.compare(0, 7, "--unit=") == 0) {
      if (!parseUnit(arg.substr(7), cl.unit, cl.error)) return cl;
    } else if (parseUsbOption(args, i, cl.unit, cl.error)) {
      if (!cl.ok()) return cl;
    } else if (arg == "--help" || arg == "-h") {
      cl.showHelp = true;
    } else if (arg == "--version") {
      cl.showVersion = true;
    } else {
      cl.unknown.push_back(arg);
    }
  }
  // Options of the simulated unit would be ignored while the program looks
  // for another unit: refused instead.
  if (!simOption.empty() && cl.unit.kind != UnitKind::Sim)
    cl.error = simOption + " is for the simulated unit: give --simulate (or --unit sim) as well";
  return cl;
}

std::string commandLineUsage(const std::string& programName) {
  return "usage: " + programName +
         " [--unit usb|sim|socket:PATH] [--simulate] [--usb-id VID:PID] [--usb-timeout SECONDS]\n"
         "       [-Embedding] [-Automation]\n"
         "  --unit usb          the unit on USB (default)\n"
         "  --usb-id VID:PID    the unit's USB vendor and product ID (4 hexadecimal digits\n"
         "                      each); else VRX4_USB_ID, else usb-id = VID:PID in\n"
         "                      ~/.config/vrx4/unit.conf or /etc/vrx4/unit.conf, else the\n"
         "                      build's IDs (--version shows which are in use)\n"
         "  --usb-timeout SECONDS  how long an ordinary exchange with the unit may take\n"
         "                      (default 10); status polls get a fifth of it, the commands\n"
         "                      during which the unit works six times it\n"
         "  --unit sim          a simulated unit inside the program (same as --simulate)\n"
         "  --unit socket:PATH  a simulated unit in another process, on a Unix socket\n"
         "  -Embedding, -Automation  start without the start-up picture ('/' works too)\n"
         "  --sim-firmware TEXT  the simulated unit reports this firmware version\n"
         "  --sim-update-mode    the simulated unit starts in update mode\n"
         "  --sim-state PATH     where the simulated unit keeps its state\n"
         "  --sim-fresh          the simulated unit forgets what the last run left\n"
         "  --sim-no-state       the simulated unit keeps nothing between runs\n"
         "                       (the --sim- options need --simulate or --unit sim)\n"
         "  --help, --version    print this text or the version and end\n"
         "exit status:\n"
         "  0  ended by Exit, or by SIGINT or SIGTERM once the window is up\n"
         "  1  start-up failed: no unit, a failed check, a declined or failed\n"
         "     firmware update, another instance running\n"
         "  2  the command line is wrong\n"
         "  3  the unit was lost while the program ran";
}

std::string commandLineHelp(const std::string& programName) {
  return commandLineUsage(programName) +
         "\n\n"
         "Files:\n"
         "  vrx4type.tbl  the device table, beside the program or in ../share/vrx4/\n"
         "  vrx4.fwp      the unit firmware the program offers when the unit's differs\n"
         "  unit.conf     usb-id = VID:PID, the unit's USB IDs (see --usb-id), in\n"
         "                ~/.config/vrx4/ or /etc/vrx4/\n"
         "  vrx4.conf     the folders last used and the window's settings, in\n"
         "                ~/.config/Velmora Inc./\n"
         "  unit-state    what the simulated unit keeps between runs (--sim-state), in\n"
         "                $XDG_STATE_HOME/vrx4/ (else ~/.local/state/vrx4/)\n"
         "\n"
         "Examples:\n"
         "  " +
         programName +
         "                      the unit on USB\n"
         "  " +
         programName +
         " --simulate           the built-in simulated unit\n"
         "  " +
         programName +
         " --unit socket:unit.sock  a vrx4-unitsim --socket unit.sock\n"
         "  " +
         programName + " --usb-id 1234:5678   a unit with other USB IDs";
}

std::string unknownArgumentWarning(const std::string& programName, const std::string& arg) {
  return programName + ": warning: unknown argument '" + arg + "' ignored";
}

std::string commandLineVersion(const std::string& programName, const std::string& usbIdOption) {
  std::vector<std::string> warnings;
  return versionText(programName) + usbIdVersionLine(resolveUnitUsbId(usbIdOption, warnings));
}

}  // namespace vrx4
