#include "app/UnitUsbId.h"

#include <cstdlib>
#include <fstream>

#include "base/Log.h"

namespace vrx4 {
namespace {

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

}  // namespace

std::string userUnitConf() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) return std::string(xdg) + "/vrx4/unit.conf";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/vrx4/unit.conf";
  return {};
}

bool readUnitConf(const std::string& path, UsbId& id, std::string& warning) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    const size_t eq = line.find('=');
    if (eq == std::string::npos || trimmed(line.substr(0, eq)) != "usb-id") continue;
    const std::string value = trimmed(line.substr(eq + 1));
    if (parseUsbId(value, id)) return true;
    warning = path + ", line " + std::to_string(number) + ": usb-id '" + value +
              "' is not VID:PID (4 hexadecimal digits each); passed over";
    return false;
  }
  return false;
}

UsbIdChoice resolveUnitUsbId(const std::string& commandLine, std::vector<std::string>& warnings,
                             const std::string& systemConf) {
  UsbIdChoice choice;
  if (!commandLine.empty() && parseUsbId(commandLine, choice.id)) {
    choice.source = "--usb-id";
    return choice;
  }
  if (const char* env = std::getenv(kUsbIdVariable); env && *env) {
    if (parseUsbId(env, choice.id)) {
      choice.source = kUsbIdVariable;
      return choice;
    }
    warnings.push_back(std::string(kUsbIdVariable) + "='" + env +
                       "' is not VID:PID (4 hexadecimal digits each); passed over");
  }
  for (const std::string& path : {userUnitConf(), systemConf}) {
    if (path.empty()) continue;
    std::string warning;
    if (readUnitConf(path, choice.id, warning)) {
      choice.source = path;
      return choice;
    }
    if (!warning.empty()) warnings.push_back(warning);
  }
  choice.id = UsbId{};
  choice.source = "built in";
  return choice;
}

std::string usbIdVersionLine(const UsbIdChoice& choice) {
  std::string line = "unit USB ID " + usbIdText(choice.id) + " (" + choice.source + ")";
  if (choice.id == kTestRangeUsbId) line += "; test-range IDs, not the real unit's: give them with --usb-id VID:PID";
  return line;
}

std::string usbIdUsageError(const std::string& value) {
  return "--usb-id '" + value + "': expected VID:PID, 4 hexadecimal digits each (e.g. 1209:5520)";
}

UsbIdChoice applyUnitUsbId(const std::string& commandLine) {
  std::vector<std::string> warnings;
  UsbIdChoice choice = resolveUnitUsbId(commandLine, warnings);
  for (const std::string& w : warnings) logProgramLine("warning: " + w);
  setUnitUsbId(choice.id);
  return choice;
}

}  // namespace vrx4
