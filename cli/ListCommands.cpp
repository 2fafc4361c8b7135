#include "cli/UnitCommands.h"

#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/DeviceTable.h"
#include "base/DisplayText.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/FileCommands.h"
#include "cli/HexText.h"
#include "cli/UsbUnits.h"
#include "settings/DeviceDetailTexts.h"

namespace vrx4::cli {

using json = nlohmann::ordered_json;

namespace {

std::string areaText(uint32_t start, uint32_t end) { return hex6(start) + "-" + hex6(end); }

}  // namespace

int listDevices(Events& events, const std::string& givenTable, const std::string& programFolder) {
  DeviceTable table;
  if (!readDeviceTable(givenTable, programFolder, table)) {
    events.result(0, "", kExitFile, "devices");
    return kExitFile;
  }
  events.line("name                            user ROM       blocks  Vcc     Vpp     ID  boot area");
  for (int i = 0; i < table.rowCount(); ++i) {
    const DeviceDef& d = table.row(i);
    const std::string vcc = voltageText(d.voltageCode & 0xF), vpp = voltageText((d.voltageCode >> 4) & 0xF);
    const bool boot = d.bootRomSize != 0;
    char line[256];
    std::snprintf(line, sizeof line, "%-31s %-14s %6d  %-7s %-7s %2d  %s", displayText(d.name()).c_str(),
                  areaText(d.userRomStart, d.userRomEnd).c_str(), int(d.blockCount), vcc.empty() ? "-" : vcc.c_str(),
                  vpp.empty() ? "-" : vpp.c_str(), int(d.idCodeLength),
                  boot ? areaText(d.bootRomStart, d.bootRomEnd).c_str() : "-");
    json f = {
        {"name", d.name()},
        {"user_rom",
         {{"start", uint32_t(d.userRomStart)}, {"end", uint32_t(d.userRomEnd)}, {"size", uint32_t(d.userRomSize)}}},
        {"blocks", int(d.blockCount)},
        {"vcc", vcc},
        {"vpp", vpp},
        {"id_code_length", int(d.idCodeLength)},
        {"boot", boot ? json{{"start", uint32_t(d.bootRomStart)},
                             {"end", uint32_t(d.bootRomEnd)},
                             {"size", uint32_t(d.bootRomSize)}}
                      : json(nullptr)}};
    events.fact("device", f, line);
  }
  events.result(0, "", kExitPass, "");
  return kExitPass;
}

int listUnits(Events& events) {
  std::vector<UsbUnit> units = listUsbUnits();
  for (const UsbUnit& u : units) {
    std::string text =
        "usb:" + (u.serial.empty() ? std::string("-") : displayText(u.serial)) + "  " + displayText(u.path);
    if (!u.accessible)
      text += "  (cannot be opened: is the USB rule 60-vrx4.rules installed? \"vrx4-cli info\" says more)";
    events.fact("unit", {{"path", u.path}, {"serial", u.serial}, {"accessible", u.accessible}}, text);
  }
  if (units.empty()) events.line("no unit on USB");
  events.result(0, "", kExitPass, "");
  return kExitPass;
}

}  // namespace vrx4::cli
