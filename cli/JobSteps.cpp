#include "cli/JobSteps.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/UnitCheck.h"
#include "base/Log.h"
#include "cli/Events.h"
#include "cli/HexText.h"
#include "image/ProgramLoader.h"
#include "link/Commands.h"
#include "settings/CanDialogRules.h"
#include "settings/CanTiming.h"
#include "view/OperationRunner.h"

namespace vrx4::cli {

std::string absolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

bool canFor(double baud, int samplePoint, const CanSetting& current, CanSetting& out, std::string& why) {
  for (int row = 0; row < kCanTimingRows; ++row) {
    if (canTimingEntryCount(row) == 0 || std::fabs(float(CanBitTimingTable[row][0].baudKbps) - baud) > 1e-3) continue;
    int entry = 0;
    if (samplePoint) {
      entry = -1;
      for (int e = 0; e < canTimingEntryCount(row); ++e)
        if (CanBitTimingTable[row][e].samplePointPct == samplePoint) entry = e;
      if (entry < 0) {
        why = "--sample-point " + std::to_string(samplePoint) + " is not offered at this rate";
        return false;
      }
    }
    CanDialogValues v = canDialogValues(current, CanTimingIndex{row, entry});
    v.timing = CanTimingIndex{row, entry};
    out = buildCanSetting(v);
    return true;
  }
  std::string rates;
  for (int row = 0; row < kCanTimingRows; ++row) {
    if (canTimingEntryCount(row) == 0) continue;
    char t[32];
    std::snprintf(t, sizeof t, "%g", double(float(CanBitTimingTable[row][0].baudKbps)));
    rates += (rates.empty() ? "" : ", ") + std::string(t);
  }
  why = "--baud: no CAN bit rate of that value in the timing table; the rates (kbit/s) are " + rates;
  return false;
}

int statusOfResult(uint8_t code) {
  if (code == kResultPass) return kExitPass;
  return code == 0 ? kExitLink : kExitNotPassed;
}

bool tableBesideProgram(const std::string& self, DeviceTable& table) {
  AppState tableOnly;
  tableOnly.executablePath = self;
  LogSink quiet = setLogSink([](std::string_view) {});
  const bool ok = loadDeviceTable(tableOnly);
  setLogSink(quiet);
  if (ok) table = tableOnly.deviceTable;
  return ok;
}

ViewJob::ViewJob(Events& events, UnitSession& session, JobOptions job)
    : events(events),
      session(session),
      job(std::move(job)),
      prompter(this->job.consent, &events),
      windows(events),
      view(state, windows),
      end(events, this->job, session, state) {
  state.executablePath = this->job.self;
  if (!this->job.serialField.empty()) configureSerial();
}

void ViewJob::configureSerial() {
  SerialField field;
  std::string why;
  parseSerialField(job.serialField, field, why);  // checked with the command line
  SerialSource source;
  source.counter = job.serialCounter;
  source.list = job.serialList;
  source.haveStart = job.haveSerialStart;
  source.start = job.serialStart;
  serial.configure(field, source, job.serialReuseFailed);
  // The image the unit receives carries the number, and so do the sums
  // computed from it after the send.
  windows.beforeUserSend([this] { serial.patch(*state.image); });
  end.serialAtEnd = [this](int status) { return serial.finish(status, windows.userImageSent(), events); };
}

int ViewJob::takeSerial(const DeviceDef* device) {
  if (!serial.requested()) return kExitPass;
  DeviceTable table;
  if (!device && tableBesideProgram(job.self, table)) {
    const int row = table.findByName(job.device);
    if (row >= 0) device = &table.row(row);
  }
  if (!device) {
    events.error("--serial: the device is not in a readable device table, so no number is taken");
    return kExitFile;
  }
  return serial.take(*device, job.operation, events);
}

int ViewJob::start() {
  const int status = session.connect(state, events, prompter);
  if (status != kExitPass) return status;
  view.StartUp();
  // Project New at start-up (after a firmware update or inconsistent kept
  // settings) that did not go through leaves the unit's settings unknown.
  return windows.initializingFailed() ? kExitLink : kExitPass;
}

int ViewJob::deviceRow() {
  const int row = state.deviceTable.findByName(job.device);
  if (row < 0) events.error("no device named '" + job.device + "' in the device table (vrx4-cli devices lists them)");
  return row;
}

int ViewJob::loadUserFile(const std::string& path) {
  const size_t before = prompter.mark();
  windows.forgetTransfers();
  windows.chooseFile(absolutePath(path));
  events.phaseStart("load");
  view.OnLoadUserFile();
  const bool loaded = state.settings.userFileNameLength > 0;
  if (!loaded && stopRequestRaised()) tellUnitNoFile();
  events.phaseEnd("load", loaded);
  if (loaded) return kExitPass;
  if (windows.transferRan()) return kExitLink;
  return fileRefusedSince(before) ? kExitFile : kExitLink;
}

void ViewJob::tellUnitNoFile() {
  // A stopped Load ends as a failed one: the unit may hold part of the file,
  // so it is told that it holds none. These two requests end the work and
  // still go out after the stop.
  const StopCleanupScope ending;
  const bool told = vrx4::setUserDataPresent(false) && vrx4::setUserFileName({});
  if (!told)
    events.error("the unit could not be told that it holds no program file; load a file before the next Start");
}

bool ViewJob::fileRefusedSince(size_t before) const {
  return prompter.refusedSince(before) || prompter.shownSince(before, kFileOpenError) ||
         prompter.shownSince(before, kFileFormatError) || prompter.shownSince(before, kMsgOversizedPath);
}

int ViewJob::loadBootFile(const std::string& path) {
  windows.forgetTransfers();
  windows.chooseFile(absolutePath(path));
  events.phaseStart("load-boot");
  view.OnLoadBootFile();
  const bool loaded = state.settings.bootFileLoaded != 0;
  events.phaseEnd("load-boot", loaded);
  if (loaded) return kExitPass;
  return windows.transferRan() ? kExitLink : kExitFile;
}

int ViewJob::run(const char* phase) {
  if (stopRequestRaised()) return finish(kExitLink, phase);
  view.OnStart();
  code = view.lastResult;
  const int status = statusOfResult(code);
  // The record names the target's version: "Read Version" once the target
  // has passed (a target that failed may not answer at all).
  if (!job.recordPath.empty() && code == kResultPass) {
    view.OnReadVersion();
    end.targetVersion = view.versionText;
  }
  return finish(status, status == kExitPass ? "" : phase);
}

void ViewJob::showFile() {
  const std::string sum = hex4(state.settings.userChecksum);
  events.fact("file", {{"path", absolutePath(job.file)}, {"checksum", sum}, {"sha256", end.fileSha}},
              "Check Sum : " + sum);
}

}  // namespace vrx4::cli
