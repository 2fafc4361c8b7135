#include "cli/UnitCommands.h"

#include <nlohmann/json.hpp>

#include "base/DisplayText.h"
#include "base/StopRequest.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/JobSteps.h"
#include "view/OperationRunner.h"

namespace vrx4::cli {

using json = nlohmann::ordered_json;

namespace {

// The end of info: interrupted when a signal came on the way.
int infoEnd(Events& events, int status, const std::string& phase) {
  if (const int sig = interruptSignal(); sig != 0) {
    const std::string reason = "interrupted by " + signalName(sig);
    events.error(reason);
    status = interruptExitStatus(sig);
    events.result(0, "interrupted", status, phase, {{"signal", signalName(sig)}, {"reason", reason}},
                  "interrupted (" + signalName(sig) + ")");
    return status;
  }
  events.result(0, "", status, phase, status ? json{{"reason", events.lastProblem()}} : json(nullptr));
  return status;
}

}  // namespace

int showInfo(Events& events, UnitSession& session, const JobOptions& options) {
  ViewJob j(events, session, options);
  int status = j.start();
  if (status != kExitPass || stopRequestRaised()) return infoEnd(events, status ? status : kExitLink, "connect");
  // "Read Version" is there only while a device is selected.
  const bool deviceHeld = j.state.settings.deviceIndex >= 0;
  if (deviceHeld) j.view.OnReadVersion();
  const std::string target = deviceHeld ? j.view.versionText : std::string();
  const InitialLoadData& d = j.state.initialLoad;
  const int op = deviceHeld ? j.view.operationIndex : -1;
  const UnitInfo& u = j.state.unitInfo;
  json f = {{"unit", {{"path", session.unitPath()}, {"serial", session.serial()}}},
            {"model", u.model},
            {"firmware", u.firmwareVersionCollapsed},
            {"firmware_date", u.firmwareDate},
            {"target_version", target},
            {"device", deviceHeld ? j.state.settings.device.name() : ""},
            {"file", d.userFileName},
            {"operation", op >= 0 ? operationKind(op).label : ""}};
  // Every text of the unit is shown escaped: it never acts on the terminal.
  const auto shown = [](const std::string& t) { return displayText(t); };
  events.fact("info", f,
              "Unit : " + shown(u.model) + "  " + shown(session.unitPath()) +
                  (session.serial().empty() ? "" : "  serial " + shown(session.serial())) +
                  "\nFirmware Version : " + shown(u.firmwareVersionCollapsed) + " " + shown(u.firmwareDate) +
                  "\nTarget Version : " + shown(target) + "\nDevice : " + shown(f["device"].get<std::string>()) +
                  "\nUser Rom File : " + shown(d.userFileName) + "\nOperation : " + f["operation"].get<std::string>());
  status = target == kReadErrorText ? kExitLink : kExitPass;
  return infoEnd(events, status, status ? "info" : "");
}

}  // namespace vrx4::cli
