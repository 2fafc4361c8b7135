#include "cli/UnitCommands.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

#include "base/Log.h"
#include "base/Prompter.h"
#include "base/StopRequest.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/FileFormats.h"
#include "cli/JobSteps.h"
#include "cli/Sha256.h"
#include "image/BootFileReader.h"
#include "image/ProgramLoader.h"
#include "settings/BlockSettingRules.h"
#include "view/CommandSeam.h"
#include "view/MainViewCommands.h"
#include "view/OperationRunner.h"
#include "view/ProjectCommands.h"
#include "view/ProjectFile.h"

namespace vrx4::cli {

namespace {

std::string fieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// Loads the program file once without a word before anything is sent, so
// that a file the loader refuses stops the job with the unit untouched. On
// a refusal the load runs again with the operator's prompter, which shows
// the program's own message.
bool fileAcceptable(const DeviceDef& device, const std::string& path, const JobOptions& job, Prompter& live) {
  auto image = std::make_unique<MemoryImage>();
  IdCode id;
  id.idLength = uint8_t(std::clamp<int32_t>(device.idCodeLength, 0, 32));
  int32_t level = 0;
  {
    class Silent final : public Prompter {
     public:
      explicit Silent(bool yes) : yes_(yes) {}
      Answer ask(const Prompt& p) override { return cliAnswer(p, yes_); }
      bool yes_;
    } silent(job.consent.yes);
    Prompter* previous = setPrompter(&silent);
    LogSink sink = setLogSink([](std::string_view) {});
    const bool ok = loadProgramFile(LoadMode::Interactive, path, device, *image, id, level);
    setLogSink(sink);
    setPrompter(previous);
    if (ok) return true;
  }
  Prompter* previous = setPrompter(&live);
  loadProgramFile(LoadMode::Interactive, path, device, *image, id, level);
  setPrompter(previous);
  return false;
}

// program FILE: what the command line asks of the target, read against
// its device.
struct TargetChoices {
  BlockMask operationBlocks;
  BlockMask lockAfter;
  IdCode id;
};

// --blocks, --lock-after and --id read against the device.
JobStop readTargetChoices(Events& events, const JobOptions& job, const DeviceDef& device, TargetChoices& c) {
  const int blockCount = std::clamp<int32_t>(device.blockCount, 0, 64);
  std::string why;
  if (!parseBlockList(job.blocks.empty() ? "all" : job.blocks, blockCount, c.operationBlocks, why) ||
      !parseBlockList(job.lockAfter.empty() ? "none" : job.lockAfter, blockCount, c.lockAfter, why)) {
    events.error(why);
    return {kExitUsage, "blocks"};
  }
  if (!job.id.empty()) {
    parseIdText(job.id, c.id, why);
    if (c.id.idLength != device.idCodeLength) {
      events.error("--id: device " + device.name() + " takes " + std::to_string(int(device.idCodeLength)) +
                   " ID code bytes");
      return {kExitUsage, "id"};
    }
  }
  return {};
}

// The device, then "Load..." with the program file and the boot file.
JobStop sendDeviceAndFiles(ViewJob& j, int row) {
  const JobOptions& job = j.job;
  const size_t before = j.prompter.mark();
  j.view.OnDeviceChanged(row);
  if (int s = j.sent(before); s != kExitPass) return {s, "device"};
  if (!job.file.empty()) {
    if (int s = j.loadUserFile(job.file); s != kExitPass || stopRequestRaised()) return {s ? s : kExitLink, "load"};
    j.showFile();
  }
  if (!job.bootFile.empty()) {
    if (int s = j.loadBootFile(job.bootFile); s != kExitPass || stopRequestRaised())
      return {s ? s : kExitLink, "load-boot"};
  }
  return {};
}

// The CAN setting, the blocks, the ID code and the operation, each sent
// only when asked for or when the unit holds another.
JobStop sendTargetSettings(ViewJob& j, const TargetChoices& c) {
  const JobOptions& job = j.job;
  size_t before = 0;
  if (job.baudKbps != 0) {
    CanSetting can;
    std::string why;
    canFor(job.baudKbps, job.samplePointPct, j.state.settings.can, can, why);
    before = j.prompter.mark();
    j.windows.chooseCan(can);
    j.view.OnSetCan();
    if (!j.windows.canSent() || j.sent(before) != kExitPass) return {kExitLink, "can"};
  }
  const LockBitTable& now = j.state.settings.lockBits;
  const uint8_t lockState = job.lockState == "ignore" ? 0 : 1;
  if (!(now.operationBlockMask == c.operationBlocks) || !(now.lockAfterProgramMask == c.lockAfter) ||
      (now.lockBitState != 0) != (lockState != 0)) {
    LockBitTable t = now;
    t.lockBitState = lockState;
    t.operationBlockMask = c.operationBlocks;
    t.lockAfterProgramMask = c.lockAfter;
    before = j.prompter.mark();
    j.windows.chooseBlocks(t);
    j.view.OnSetBlocks();
    if (int s = j.sent(before); s != kExitPass) return {s, "blocks"};
  }
  if (!job.id.empty()) {
    before = j.prompter.mark();
    j.windows.chooseId(c.id);
    j.view.OnCheckId();
    if (int s = j.sent(before); s != kExitPass) return {s, "id"};
  }
  const int op = operationIndexOf(job.operation);
  if (j.view.operationIndex != op) {
    before = j.prompter.mark();
    j.view.OnOperationChanged(op, j.view.preSending, j.view.postSending);
    if (int s = j.sent(before); s != kExitPass) return {s, "operation"};
  }
  return {};
}

// program --project: the project and the program file it names are read
// before the unit hears anything, so that a refused one stops the job with
// the unit untouched; then the board's number is taken. The job takes the
// file and the operation from the project.
JobStop readProjectBeforeUnit(ViewJob& j) {
  JobOptions& job = j.job;
  DeviceTable table;
  if (!tableBesideProgram(job.self, table)) {
    if (int s = j.takeSerial(nullptr); s != kExitPass) return {s, "serial"};
    return {};
  }
  auto project = std::make_unique<ProjectSettings>();
  std::string why;
  switch (readProjectFile(job.project, table.rowCount(), *project, &why)) {
    case ProjectReadResult::Ok:
      break;
    case ProjectReadResult::OpenFailed:
      showMessageWithDetail(kFileOpenError, why, Icon::Stop);
      return {kExitFile, "project"};
    case ProjectReadResult::FormatError:
      showMessage(kProjectFormatError, Icon::Stop);
      return {kExitFile, "project"};
  }
  if (project->userFileNameLength <= 0) {
    showMessage(kIgnoreFileName, Icon::Stop);
    return {kExitFile, "project"};
  }
  job.file = fieldText(project->userFileName, sizeof project->userFileName);
  job.operation = kOperationNames[std::clamp<int32_t>(project->operationIndex, 0, 5)];
  const int row = project->deviceIndex;
  if (row < 0) {
    j.events.error(job.project +
                   ": the project selects no device; open it in vrx4, choose the device and save it again");
    return {kExitFile, "project"};
  }
  // The program file it names follows the rule of `program FILE`.
  if (!windowReads(job.file)) {
    j.events.error(job.file + " (named by " + job.project + "): not a program file name; " + kProgramNames);
    return {kExitFile, "project"};
  }
  const DeviceDef& device = table.row(row);
  if (!fileAcceptable(device, job.file, job, j.prompter)) return {kExitFile, "load"};
  if (int s = j.takeSerial(&device); s != kExitPass) return {s, "serial"};
  return {};
}

// The windows of Project Open answered for --project: the open dialog gives
// the project (once), "Load OK ?" is answered OK, and the transfers run as
// the job's own.
CommandDialogs projectDialogs(ViewJob& j, bool& projectChosen) {
  CommandDialogs dialogs;
  dialogs.fileDialog = [&j, &projectChosen](const FileDialogSpec&) -> std::optional<std::string> {
    if (projectChosen) return std::nullopt;
    projectChosen = true;
    return j.job.project;
  };
  // "Load OK ?" for the files the project names: --project asked for them.
  dialogs.confirmLoad = [](const std::string& path) {
    logLine("vrx4-cli: Load OK ? " + path + ": OK (--project)");
    return true;
  };
  dialogs.sendImage = [&j](ImageArea area, const std::string& path) {
    return j.windows.sendImage(area, *j.state.image, j.state.settings, path);
  };
  dialogs.fetchImage = [&j](ImageArea area) { return j.windows.fetchImage(area, *j.state.image, j.state.settings); };
  return dialogs;
}

// The form's routines Project Open calls, each on the fields as the project
// commands left them.
MainViewRoutines projectRoutines(MainViewModel& view, CommandViewFields& fields) {
  MainViewRoutines routines;
  routines.selectDevice = [&view](int index) { view.SelectDevice(index); };
  routines.refreshAfterOpen = [&view, &fields] {
    storeFields(view, fields);
    view.RefreshDeviceDisplay();
    view.RefreshCanDisplay();
    view.RefreshLockDisplay();
    view.RefreshAllFileDisplay();
  };
  routines.sendAllSettings = [&view, &fields] {
    storeFields(view, fields);
    return view.SendAllSettings();
  };
  routines.refreshOperationButtons = [&view, &fields] {
    storeFields(view, fields);
    view.RefreshOperationButtons();
  };
  // A project whose image did not reach the unit leaves it holding no user
  // data, as a failed Load does, so that no later job programs a part of it.
  routines.userFileNotInUnit = [&view, &fields](const std::string& path) {
    storeFields(view, fields);
    const StopCleanupScope evenAfterAStop;
    view.UserFileNotInUnit(path);
    fields.operationIndex = view.operationIndex;
    fields.userReadBackPending = view.userReadBackPending;
  };
  return routines;
}

// Project Open through the form's handlers, which read the project and its
// files and send every setting.
JobStop openProject(ViewJob& j) {
  bool projectChosen = false;
  const CommandDialogs dialogs = projectDialogs(j, projectChosen);
  CommandViewFields fields = fieldsOf(j.view);
  const MainViewRoutines routines = projectRoutines(j.view, fields);
  const size_t mark = j.prompter.mark();
  j.events.phaseStart("project");
  const bool opened = OnProjectOpen(j.state, fields, dialogs, routines);
  j.events.phaseEnd("project", opened);
  if (!opened) {
    const bool fileFault = j.prompter.shownSince(mark, kProjectFormatError) ||
                           j.prompter.shownSince(mark, kFileOpenError) ||
                           j.prompter.shownSince(mark, kIgnoreFileName) ||
                           j.prompter.shownSince(mark, kReadUserFileError) || j.prompter.refusedSince(mark);
    return {fileFault ? kExitFile : kExitLink, "project"};
  }
  if (j.prompter.shownSince(mark, kReadBootFileError)) return {kExitFile, "load-boot"};
  // A setting did not reach the unit, or a stop came.
  if (j.prompter.stopSince(mark) || stopRequestRaised()) return {kExitLink, "project"};
  return {};
}

}  // namespace

int checkProgramFiles(Events& events, CliPrompter& prompter, const JobOptions& job) {
  DeviceTable table;
  if (!tableBesideProgram(job.self, table)) return kExitPass;  // the start-up check says why
  const int row = table.findByName(job.device);
  if (row < 0) {
    events.error("no device named '" + job.device + "' in the device table (vrx4-cli devices lists them)");
    return kExitUsage;
  }
  if (!job.file.empty() && !fileAcceptable(table.row(row), job.file, job, prompter)) return kExitFile;
  if (!job.bootFile.empty()) {
    auto image = std::make_unique<MemoryImage>();
    auto settings = std::make_unique<ProjectSettings>();
    Prompter* previous = setPrompter(&prompter);
    const bool bootOk = loadBootFile(job.bootFile, *image, *settings);
    setPrompter(previous);
    if (!bootOk) return kExitFile;
  }
  return kExitPass;
}

int programTarget(Events& events, UnitSession& session, const JobOptions& options) {
  ViewJob j(events, session, options);
  const JobOptions& job = j.job;
  if (!j.end.begin()) return j.finish(kExitFile, "record");
  // The digest is of the bytes the loader reads, the last load's (the one
  // that goes to the unit).
  ProgramFileDigest digest(j.end.fileSha);

  // The files are checked against the device of the table beside the
  // program before the unit hears anything.
  if (!job.gangId.empty()) {
    // The gang's parent checked them once for every unit.
  } else if (int status = checkProgramFiles(events, j.prompter, job); status != kExitPass) {
    return j.finish(status, status == kExitUsage ? "device" : job.file.empty() ? "load-boot" : "load");
  }
  if (int s = j.takeSerial(nullptr); s != kExitPass) return j.finish(s, "serial");

  if (int status = j.start(); status != kExitPass || stopRequestRaised())
    return j.finish(status ? status : kExitLink, "connect");
  const int row = j.deviceRow();
  if (row < 0) return j.finish(kExitUsage, "device");
  TargetChoices choices;
  if (const JobStop stop = readTargetChoices(events, job, j.state.deviceTable.row(row), choices)) return j.finish(stop);
  j.end.blocks = FormatBlockList(choices.operationBlocks, 0, 63);
  if (const JobStop stop = sendDeviceAndFiles(j, row)) return j.finish(stop);
  if (const JobStop stop = sendTargetSettings(j, choices)) return j.finish(stop);
  return j.run("operation");
}

int programProject(Events& events, UnitSession& session, const JobOptions& options) {
  ViewJob j(events, session, options);
  if (!j.end.begin()) return j.finish(kExitFile, "record");
  ProgramFileDigest digest(j.end.fileSha);
  if (const JobStop stop = readProjectBeforeUnit(j)) return j.finish(stop);

  if (int status = j.start(); status != kExitPass || stopRequestRaised())
    return j.finish(status ? status : kExitLink, "connect");
  if (const JobStop stop = openProject(j)) return j.finish(stop);
  j.job.operation = kOperationNames[std::clamp(j.view.operationIndex, 0, 5)];
  j.end.blocks = FormatBlockList(j.state.settings.lockBits.operationBlockMask, 0, 63);
  j.showFile();
  return j.run("operation");
}

}  // namespace vrx4::cli
