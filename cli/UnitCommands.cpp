#include "cli/UnitCommands.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "app/DeviceTable.h"
#include "app/UnitCheck.h"
#include "base/Log.h"
#include "base/StopRequest.h"
#include "base/Version.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/FileCommands.h"
#include "cli/FileFormats.h"
#include "cli/HexText.h"
#include "cli/Interrupt.h"
#include "cli/CliDialogs.h"
#include "cli/JobRecord.h"
#include "cli/SerialNumbers.h"
#include "base/DisplayText.h"
#include "cli/Sha256.h"
#include "cli/UsbUnits.h"
#include "image/BootFileReader.h"
#include "link/Commands.h"
#include "image/ProgramLoader.h"
#include "image/ProgramSaver.h"
#include "settings/BlockSettingRules.h"
#include "settings/CanDialogRules.h"
#include "settings/CanTiming.h"
#include "settings/DeviceDetailTexts.h"
#include "view/MainViewModel.h"
#include "view/OperationRunner.h"
#include "view/ProjectCommands.h"
#include "view/ProjectFile.h"

namespace vrx4::cli {

using json = nlohmann::ordered_json;

namespace {


std::string areaText(uint32_t start, uint32_t end) { return hex6(start) + "-" + hex6(end); }

// The CAN record for --baud/--sample-point: the table entry of that rate,
// everything else (frames, pulse) as the unit holds it.
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

std::string absolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(std::string(" \t\0", 3));
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(std::string(" \t\0", 3));
  return text.substr(first, last - first + 1);
}


void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// The job's record and its common end: the record file is opened before the
// unit hears anything; the end gives the result event, the record line and
// the status, and a signal on the way turns them into "interrupted".
struct JobEnd {
  JobEnd(Events& e, const JobOptions& j, UnitSession& u, AppState& s) : events(e), job(j), session(u), state(s) {}
  ~JobEnd() {
    events.onPhaseStart({});
    clearInterruptLines();
  }
  Events& events;
  const JobOptions& job;
  UnitSession& session;
  AppState& state;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::string startedUtc = utcTimestamp();
  std::string jobId = randomUuid();
  std::string host = hostName();
  RecordFile record;
  std::string phase;  // the phase running now
  bool ended = false;
  // The board's serial number at the job's end (burned or handed back) and
  // the record's field of it.
  std::function<json(int status)> serialAtEnd;
  json serial;
  std::string targetVersion;
  std::string fileSha;
  std::string blocks;
  // A read: the checksum of the area saved and the SHA-256 of the file.
  std::string savedChecksum;
  std::string savedSha;

  // Opens the record file; false (with the message) when it cannot be: the
  // job then ends before anything is sent.
  bool begin() {
    events.onPhaseStart([this](const std::string& p) {
      phase = p;
      prepareInterruptLines();
    });
    if (!job.recordPath.empty()) {
      std::string why;
      if (!record.open(job.recordPath, why)) {
        events.error("the record file cannot be written, so the job does not start: " + why);
        return false;
      }
    }
    prepareInterruptLines();
    return true;
  }

  json recordOf(int status, uint8_t code, const std::string& word, const std::string& reason,
                const std::string& signal, const std::string& failedPhase) const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const ProjectSettings& s = state.settings;
    const bool read = job.operation == "read";
    const std::string now = utcTimestamp();
    json r = {
        {"time", now},
        {"job_id", jobId},
        {"started", startedUtc},
        {"ended", now},
        {"tool_version", kProgramVersion},
        {"host", host},
        {"unit", {{"path", session.unitPath()}, {"serial", session.serial()}}},
        {"firmware", trimmed(state.unitInfo.firmwareVersionCollapsed)},
        {"target_version", trimmed(targetVersion)},
        {"device", s.device.name().empty() ? job.device : s.device.name()},
        {"file", absolutePath(read ? job.output : job.file)},
        {"sha256", read ? savedSha : fileSha},
        {"checksum", read ? savedChecksum : s.userFileNameLength > 0 ? hex4(s.userChecksum) : std::string()},
        {"operation", job.operation},
        {"blocks", blocks},
        {"result", {{"code", code}, {"word", word}}},
        {"status", status},
        {"duration_s", std::round(seconds * 1000) / 1000},
    };
    if (!job.gangId.empty()) r["gang_id"] = job.gangId;
    if (!failedPhase.empty()) r["phase"] = failedPhase;
    if (!signal.empty()) r["signal"] = signal;
    if (!reason.empty()) r["reason"] = reason;
    if (!job.project.empty()) r["project"] = job.project;
    if (!serial.is_null()) r["serial"] = serial;
    return r;
  }

  // What a second signal writes before the process ends (see Interrupt.h).
  void prepareInterruptLines() {
    if (ended) return;
    const std::string during = phase.empty() ? std::string() : " during " + phase;
    std::string line;
    if (record.isOpen()) {
      json r = recordOf(0, 0, "interrupted", "interrupted by @SIGNAL@" + during + ", ended at once by a second signal",
                        "@SIGNAL@", phase);
      r["status"] = "@STATUS@";
      line = recordLineText(r);
      replaceAll(line, "\"@STATUS@\"", "@STATUS@");
    }
    std::string result = "Result : interrupted (@SIGNAL@)\n";
    if (events.mode() == OutputMode::Json) {
      json e = {{"event", "result"}, {"code", 0}, {"word", "interrupted"}, {"status", "@STATUS@"},
                {"phase", phase}, {"signal", "@SIGNAL@"}};
      result = e.dump() + "\n";
      replaceAll(result, "\"@STATUS@\"", "@STATUS@");
    }
    setInterruptLines(record.isOpen() ? record.fd() : -1, line, result,
                      "vrx4-cli: interrupted by @SIGNAL@" + during + ", ended at once by a second signal\n");
  }

  int finish(int status, uint8_t code, const std::string& failedPhase) {
    ended = true;
    clearInterruptLines();
    std::string word = operationResult(code).text;
    std::string phaseShown = failedPhase;
    std::string reason, signal, shown;
    json extra = json::object();
    if (const int sig = interruptSignal(); sig != 0) {
      // Stopped on the way: the phase is the one the stop ended.
      status = interruptExitStatus(sig);
      signal = signalName(sig);
      if (!phase.empty()) phaseShown = phase;
      reason = "interrupted by " + signal + (phaseShown.empty() ? "" : " during " + phaseShown);
      if (code != 0) extra["operation_word"] = word;
      word = "interrupted";
      shown = "interrupted (" + signal + ")";
      extra["signal"] = signal;
      events.error(reason);
      // The one line for the operator also where the JSON goes elsewhere.
      if (events.mode() == OutputMode::Json) logProgramLine(reason);
    } else if (status != kExitPass) {
      reason = events.lastProblem();
      if (code == kResultPass) {
        // The operation passed but a later step did not: never a bare Pass.
        extra["operation_word"] = word;
        word.clear();
        shown = phaseShown + " failed (the operation's result was Pass)";
      } else if (reason.empty() && code != 0) {
        reason = "the operation's result was " + word;
      }
      if (reason.empty()) {
        reason = (phaseShown.empty() ? std::string("the job") : phaseShown) + " failed";
        events.error(reason);
      }
    }
    if (!reason.empty()) extra["reason"] = reason;
    if (serialAtEnd) serial = serialAtEnd(status);
    if (record.isOpen()) {
      std::string why;
      if (!record.append(recordOf(status, code, word, reason, signal, phaseShown), why)) {
        events.error("record not written: " + why);
        if (status == kExitPass) {
          status = kExitFile;
          phaseShown = "record";
          word.clear();
          extra["operation_word"] = operationResult(code).text;
          extra["reason"] = "record not written: " + why;
          shown = "record not written (the operation's result was Pass)";
        }
      }
    }
    events.result(code, word, status, phaseShown, extra, shown);
    return status;
  }
};

// The result status of an operation code.
int statusOfResult(uint8_t code) {
  if (code == kResultPass) return kExitPass;
  return code == 0 ? kExitLink : kExitNotPassed;
}

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

}  // namespace

int operationIndexOf(const std::string& op) {
  for (int i = 0; i < 6; ++i)
    if (op == kOperationNames[i]) return i;
  return -1;
}

bool parseBlockList(const std::string& text, int blockCount, BlockMask& mask, std::string& why) {
  mask = BlockMask();
  if (text == "none") return true;
  if (text == "all") {
    for (int i = 0; i < blockCount; ++i) mask.set(i);
    return true;
  }
  size_t pos = 0;
  auto number = [&](int& n) {
    size_t start = pos;
    n = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) && n < 1000)
      n = n * 10 + (text[pos++] - '0');
    return pos > start;
  };
  while (true) {
    int a = 0, b = 0;
    if (!number(a)) break;
    b = a;
    if (pos < text.size() && text[pos] == '-') {
      ++pos;
      if (!number(b) || b < a) break;
    }
    if (b >= blockCount) {
      why = "block " + std::to_string(b) + " is not a block of the device (0-" + std::to_string(blockCount - 1) + ")";
      return false;
    }
    for (int k = a; k <= b; ++k) mask.set(k);
    if (pos == text.size()) return true;
    if (text[pos++] != ',') break;
  }
  why = "block list '" + text + "': expected numbers and ranges such as 0-2,5, or all, or none";
  return false;
}

bool parseIdText(const std::string& text, IdCode& id, std::string& why) {
  id = IdCode();
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    if (item.empty() || item.size() > 2 || !isHexText(item) || id.idLength >= 32) {
      why = "--id '" + text + "': expected up to 32 hexadecimal bytes such as 0A,1B,FF";
      return false;
    }
    id.idBytes[id.idLength++] = uint8_t(hexTextValue(item));
    if (comma == std::string::npos) return true;
    pos = comma + 1;
  }
  return true;
}

bool checkJobOptions(const JobOptions& job, std::string& why) {
  BlockMask m;
  if (!job.blocks.empty() && !parseBlockList(job.blocks, 64, m, why)) return false;
  if (!job.lockAfter.empty() && !parseBlockList(job.lockAfter, 64, m, why)) return false;
  IdCode id;
  if (!job.id.empty() && !parseIdText(job.id, id, why)) return false;
  if (job.samplePointPct && job.baudKbps == 0) {
    why = "--sample-point needs --baud";
    return false;
  }
  CanSetting can;
  if (job.baudKbps != 0 && !canFor(job.baudKbps, job.samplePointPct, CanSetting(), can, why)) return false;
  return true;
}

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
    json f = {{"name", d.name()},
              {"user_rom", {{"start", uint32_t(d.userRomStart)}, {"end", uint32_t(d.userRomEnd)},
                            {"size", uint32_t(d.userRomSize)}}},
              {"blocks", int(d.blockCount)},
              {"vcc", vcc},
              {"vpp", vpp},
              {"id_code_length", int(d.idCodeLength)},
              {"boot", boot ? json{{"start", uint32_t(d.bootRomStart)}, {"end", uint32_t(d.bootRomEnd)},
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
    std::string text = "usb:" + (u.serial.empty() ? std::string("-") : displayText(u.serial)) + "  " + displayText(u.path);
    if (!u.accessible) text += "  (cannot be opened: is the USB rule 60-vrx4.rules installed? \"vrx4-cli info\" says more)";
    events.fact("unit", {{"path", u.path}, {"serial", u.serial}, {"accessible", u.accessible}}, text);
  }
  if (units.empty()) events.line("no unit on USB");
  events.result(0, "", kExitPass, "");
  return kExitPass;
}

namespace {

std::string fieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

bool tableBesideProgram(const std::string& self, DeviceTable& table);

// One job on one unit through the main form's own handlers: the start-up
// check, the form's start-up (the settings the unit keeps), then the
// handlers in the order an operator at the form would use them.
struct ViewJob {
  ViewJob(Events& events, UnitSession& session, JobOptions job)
      : events(events), session(session), job(std::move(job)), prompter(this->job.consent, &events),
        windows(events), view(state, windows), end(events, this->job, session, state) {
    state.executablePath = this->job.self;
    if (!this->job.serialField.empty()) {
      SerialField field;
      std::string why;
      parseSerialField(this->job.serialField, field, why);  // checked with the command line
      SerialSource source;
      source.counter = this->job.serialCounter;
      source.list = this->job.serialList;
      source.haveStart = this->job.haveSerialStart;
      source.start = this->job.serialStart;
      serial.configure(field, source, this->job.serialReuseFailed);
      // The image the unit receives carries the number, and so do the
      // sums computed from it after the send.
      windows.beforeUserSend([this] { serial.patch(*state.image); });
      end.serialAtEnd = [this](int status) { return serial.finish(status, windows.userImageSent(), this->events); };
    }
  }

  // The board's number, taken before the unit hears anything (the device
  // from the table beside the program): 0 or the exit status.
  int takeSerial(const DeviceDef* device) {
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

  // The unit and the form's start-up; the exit status.
  int start() {
    const int status = session.connect(state, events, prompter);
    if (status != kExitPass) return status;
    view.StartUp();
    // Project New at start-up (after a firmware update or inconsistent kept
    // settings) that did not go through leaves the unit's settings unknown.
    return windows.initializingFailed() ? kExitLink : kExitPass;
  }

  int deviceRow() {
    const int row = state.deviceTable.findByName(job.device);
    if (row < 0) events.error("no device named '" + job.device + "' in the device table (vrx4-cli devices lists them)");
    return row;
  }

  // "Load..." with the file: 0, kExitFile (refused) or kExitLink.
  int loadUserFile(const std::string& path) {
    const size_t before = prompter.mark();
    windows.forgetTransfers();
    windows.chooseFile(absolutePath(path));
    events.phaseStart("load");
    view.OnLoadUserFile();
    const bool loaded = state.settings.userFileNameLength > 0;
    if (!loaded && stopRequestRaised()) {
      // A stopped Load ends as a failed one: the unit may hold part of the
      // file, so it is told that it holds none. These two requests end the
      // work and still go out after the stop.
      const StopCleanupScope ending;
      const bool told = vrx4::setUserDataPresent(false) && vrx4::setUserFileName({});
      if (!told) events.error("the unit could not be told that it holds no program file; load a file before the next Start");
    }
    events.phaseEnd("load", loaded);
    if (loaded) return kExitPass;
    if (windows.transferRan()) return kExitLink;
    const bool refused = prompter.refusedSince(before) || prompter.shownSince(before, kFileOpenError) ||
                         prompter.shownSince(before, kFileFormatError) ||
                         prompter.shownSince(before, kMsgOversizedPath);
    return refused ? kExitFile : kExitLink;
  }

  int loadBootFile(const std::string& path) {
    windows.forgetTransfers();
    windows.chooseFile(absolutePath(path));
    events.phaseStart("load-boot");
    view.OnLoadBootFile();
    const bool loaded = state.settings.bootFileLoaded != 0;
    events.phaseEnd("load-boot", loaded);
    if (loaded) return kExitPass;
    return windows.transferRan() ? kExitLink : kExitFile;
  }

  // A handler that sends a setting: kExitLink when a command failed (the
  // exchange has shown its message) or a stop was asked for.
  int sent(size_t before) const { return prompter.stopSince(before) || stopRequestRaised() ? kExitLink : kExitPass; }

  // Start; the exit status of the result.
  int run(const char* phase) {
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

  int finish(int status, const std::string& phase) { return end.finish(status, code, phase); }

  void showFile() {
    const std::string sum = hex4(state.settings.userChecksum);
    events.fact("file", {{"path", absolutePath(job.file)}, {"checksum", sum}, {"sha256", end.fileSha}},
                "Check Sum : " + sum);
  }

  Events& events;
  UnitSession& session;
  JobOptions job;
  AppState state;
  CliPrompter prompter;
  CliDialogs windows;
  MainViewModel view;
  JobEnd end;
  JobSerial serial;
  uint8_t code = 0;
};

// Whether a file can be made beside `path` (the saver writes a temporary
// there and renames it): a file made and removed again.
bool outputWritable(const std::string& path, std::string& why) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    why = path + ": " + std::strerror(EISDIR);
    return false;
  }
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  std::string probe = folder + "/.vrx4-cli-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    why = folder + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

// The device table beside the program, for the checks made before the unit
// hears anything (the start-up check reads the same file).
bool tableBesideProgram(const std::string& self, DeviceTable& table) {
  AppState tableOnly;
  tableOnly.executablePath = self;
  LogSink quiet = setLogSink([](std::string_view) {});
  const bool ok = loadDeviceTable(tableOnly);
  setLogSink(quiet);
  if (ok) table = tableOnly.deviceTable;
  return ok;
}

}  // namespace

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

  if (int status = j.start(); status != kExitPass || stopRequestRaised()) return j.finish(status ? status : kExitLink, "connect");
  const int row = j.deviceRow();
  if (row < 0) return j.finish(kExitUsage, "device");
  const DeviceDef& device = j.state.deviceTable.row(row);
  const int blockCount = std::clamp<int32_t>(device.blockCount, 0, 64);
  BlockMask operationBlocks, lockAfter;
  std::string why;
  if (!parseBlockList(job.blocks.empty() ? "all" : job.blocks, blockCount, operationBlocks, why) ||
      !parseBlockList(job.lockAfter.empty() ? "none" : job.lockAfter, blockCount, lockAfter, why)) {
    events.error(why);
    return j.finish(kExitUsage, "blocks");
  }
  IdCode id;
  if (!job.id.empty()) {
    parseIdText(job.id, id, why);
    if (id.idLength != device.idCodeLength) {
      events.error("--id: device " + device.name() + " takes " + std::to_string(int(device.idCodeLength)) +
                   " ID code bytes");
      return j.finish(kExitUsage, "id");
    }
  }
  j.end.blocks = FormatBlockList(operationBlocks, 0, 63);

  size_t before = j.prompter.mark();
  j.view.OnDeviceChanged(row);
  if (int s = j.sent(before); s != kExitPass) return j.finish(s, "device");
  if (!job.file.empty()) {
    if (int s = j.loadUserFile(job.file); s != kExitPass || stopRequestRaised()) return j.finish(s ? s : kExitLink, "load");
    j.showFile();
  }
  if (!job.bootFile.empty()) {
    if (int s = j.loadBootFile(job.bootFile); s != kExitPass || stopRequestRaised()) return j.finish(s ? s : kExitLink, "load-boot");
  }
  if (job.baudKbps != 0) {
    CanSetting can;
    canFor(job.baudKbps, job.samplePointPct, j.state.settings.can, can, why);
    before = j.prompter.mark();
    j.windows.chooseCan(can);
    j.view.OnSetCan();
    if (!j.windows.canSent() || j.sent(before) != kExitPass) return j.finish(kExitLink, "can");
  }
  const LockBitTable& now = j.state.settings.lockBits;
  const uint8_t lockState = job.lockState == "ignore" ? 0 : 1;
  if (!(now.operationBlockMask == operationBlocks) || !(now.lockAfterProgramMask == lockAfter) ||
      (now.lockBitState != 0) != (lockState != 0)) {
    LockBitTable t = now;
    t.lockBitState = lockState;
    t.operationBlockMask = operationBlocks;
    t.lockAfterProgramMask = lockAfter;
    before = j.prompter.mark();
    j.windows.chooseBlocks(t);
    j.view.OnSetBlocks();
    if (int s = j.sent(before); s != kExitPass) return j.finish(s, "blocks");
  }
  if (!job.id.empty()) {
    before = j.prompter.mark();
    j.windows.chooseId(id);
    j.view.OnCheckId();
    if (int s = j.sent(before); s != kExitPass) return j.finish(s, "id");
  }
  const int op = operationIndexOf(job.operation);
  if (j.view.operationIndex != op) {
    before = j.prompter.mark();
    j.view.OnOperationChanged(op, j.view.preSending, j.view.postSending);
    if (int s = j.sent(before); s != kExitPass) return j.finish(s, "operation");
  }
  return j.run("operation");
}

int programProject(Events& events, UnitSession& session, const JobOptions& options) {
  ViewJob j(events, session, options);
  JobOptions& job = j.job;
  if (!j.end.begin()) return j.finish(kExitFile, "record");
  ProgramFileDigest digest(j.end.fileSha);
  // The project and the program file it names are read before the unit
  // hears anything; a refused one stops the job with the unit untouched.
  DeviceTable table;
  if (tableBesideProgram(job.self, table)) {
    auto project = std::make_unique<ProjectSettings>();
    std::string why;
    switch (readProjectFile(job.project, table.rowCount(), *project, &why)) {
      case ProjectReadResult::Ok: break;
      case ProjectReadResult::OpenFailed:
        showMessageWithDetail(kFileOpenError, why, Icon::Stop);
        return j.finish(kExitFile, "project");
      case ProjectReadResult::FormatError:
        showMessage(kProjectFormatError, Icon::Stop);
        return j.finish(kExitFile, "project");
    }
    if (project->userFileNameLength <= 0) {
      showMessage(kIgnoreFileName, Icon::Stop);
      return j.finish(kExitFile, "project");
    }
    job.file = fieldText(project->userFileName, sizeof project->userFileName);
    job.operation = kOperationNames[std::clamp<int32_t>(project->operationIndex, 0, 5)];
    const int row = project->deviceIndex;
    if (row < 0) {
      events.error(job.project + ": the project selects no device; open it in vrx4, choose the device and save it again");
      return j.finish(kExitFile, "project");
    }
    // The program file it names follows the rule of `program FILE`.
    if (!windowReads(job.file)) {
      events.error(job.file + " (named by " + job.project + "): not a program file name; " + kProgramNames);
      return j.finish(kExitFile, "project");
    }
    const DeviceDef& device = table.row(row);
    if (!fileAcceptable(device, job.file, job, j.prompter)) return j.finish(kExitFile, "load");
    if (int s = j.takeSerial(&device); s != kExitPass) return j.finish(s, "serial");
  } else if (int s = j.takeSerial(nullptr); s != kExitPass) {
    return j.finish(s, "serial");
  }

  if (int status = j.start(); status != kExitPass || stopRequestRaised()) return j.finish(status ? status : kExitLink, "connect");
  MainViewModel& view = j.view;
  CommandDialogs dialogs;
  bool projectChosen = false;
  dialogs.fileDialog = [&](const FileDialogSpec&) -> std::optional<std::string> {
    if (projectChosen) return std::nullopt;
    projectChosen = true;
    return job.project;
  };
  // "Load OK ?" for the files the project names: --project asked for them.
  dialogs.confirmLoad = [&](const std::string& path) {
    logLine("vrx4-cli: Load OK ? " + path + ": OK (--project)");
    return true;
  };
  dialogs.sendImage = [&](ImageArea area, const std::string& path) {
    return j.windows.sendImage(area, *j.state.image, j.state.settings, path);
  };
  dialogs.fetchImage = [&](ImageArea area) { return j.windows.fetchImage(area, *j.state.image, j.state.settings); };
  CommandViewFields fields;
  auto toView = [&] {
    view.operationIndex = fields.operationIndex;
    view.preSending = fields.preSending;
    view.postSending = fields.postSending;
    view.userReadBackPending = fields.userReadBackPending;
  };
  fields.operationIndex = view.operationIndex;
  fields.preSending = view.preSending;
  fields.postSending = view.postSending;
  fields.userReadBackPending = view.userReadBackPending;
  MainViewRoutines routines;
  routines.selectDevice = [&](int index) { view.SelectDevice(index); };
  routines.refreshAfterOpen = [&] {
    toView();
    view.RefreshDeviceDisplay();
    view.RefreshCanDisplay();
    view.RefreshLockDisplay();
    view.RefreshAllFileDisplay();
  };
  routines.sendAllSettings = [&] {
    toView();
    return view.SendAllSettings();
  };
  routines.refreshOperationButtons = [&] {
    toView();
    view.RefreshOperationButtons();
  };
  // A project whose image did not reach the unit leaves it holding no user
  // data, as a failed Load does, so that no later job programs a part of it.
  routines.userFileNotInUnit = [&](const std::string& path) {
    toView();
    const StopCleanupScope evenAfterAStop;
    view.UserFileNotInUnit(path);
    fields.operationIndex = view.operationIndex;
    fields.userReadBackPending = view.userReadBackPending;
  };
  const size_t mark = j.prompter.mark();
  events.phaseStart("project");
  const bool opened = OnProjectOpen(j.state, fields, dialogs, routines);
  events.phaseEnd("project", opened);
  if (!opened) {
    const bool fileFault = j.prompter.shownSince(mark, kProjectFormatError) ||
                           j.prompter.shownSince(mark, kFileOpenError) ||
                           j.prompter.shownSince(mark, kIgnoreFileName) ||
                           j.prompter.shownSince(mark, kReadUserFileError) || j.prompter.refusedSince(mark);
    return j.finish(fileFault ? kExitFile : kExitLink, "project");
  }
  if (j.prompter.shownSince(mark, kReadBootFileError)) return j.finish(kExitFile, "load-boot");
  // A setting did not reach the unit, or a stop came.
  if (j.prompter.stopSince(mark) || stopRequestRaised()) return j.finish(kExitLink, "project");
  job.operation = kOperationNames[std::clamp(view.operationIndex, 0, 5)];
  j.end.blocks = FormatBlockList(j.state.settings.lockBits.operationBlockMask, 0, 63);
  j.showFile();
  return j.run("operation");
}

int readTarget(Events& events, UnitSession& session, const JobOptions& options) {
  ViewJob j(events, session, options);
  if (!j.end.begin()) return j.finish(kExitFile, "record");
  std::string why;
  if (!outputWritable(j.job.output, why)) {
    events.error("the output cannot be written, so the read does not start: " + why);
    return j.finish(kExitFile, "save");
  }
  if (int status = j.start(); status != kExitPass || stopRequestRaised()) return j.finish(status ? status : kExitLink, "connect");
  const int row = j.deviceRow();
  if (row < 0) return j.finish(kExitUsage, "device");
  const DeviceDef& device = j.state.deviceTable.row(row);
  SaveRequest q;
  q.areaStart = int32_t(uint32_t(device.userRomStart));
  q.areaEnd = int32_t(uint32_t(device.userRomEnd));
  if (!j.job.ranges.empty() && !parseSaveAddress(j.job.ranges, q.areaStart, q.areaEnd, q.ranges)) {
    showMessage(kInvalidAddress, Icon::Warning);
    return j.finish(kExitUsage, "ranges");
  }
  size_t before = j.prompter.mark();
  j.view.OnDeviceChanged(row);
  if (int s = j.sent(before); s != kExitPass) return j.finish(s, "device");
  // Read copies the operation blocks: all of them.
  const LockBitTable& now = j.state.settings.lockBits;
  if (!(now.operationBlockMask == now.deviceBlockMask)) {
    LockBitTable t = now;
    t.operationBlockMask = now.deviceBlockMask;
    before = j.prompter.mark();
    j.windows.chooseBlocks(t);
    j.view.OnSetBlocks();
    if (int s = j.sent(before); s != kExitPass) return j.finish(s, "blocks");
  }
  j.end.blocks = FormatBlockList(j.state.settings.lockBits.operationBlockMask, 0, 63);
  if (j.view.operationIndex != kOperationRead) {
    before = j.prompter.mark();
    j.view.OnOperationChanged(kOperationRead, j.view.preSending, j.view.postSending);
    if (int s = j.sent(before); s != kExitPass) return j.finish(s, "operation");
  }
  if (stopRequestRaised()) return j.finish(kExitLink, "operation");
  j.view.OnStart();
  j.code = j.view.lastResult;
  if (int status = statusOfResult(j.code); status != kExitPass) return j.finish(status, "operation");
  // What the memory editor does first after a passed Read: the image back
  // from the unit.
  if (!j.windows.fetchImage(ImageArea::User, *j.state.image, j.state.settings) || stopRequestRaised()) {
    if (!stopRequestRaised()) events.error("the image read from the target could not be fetched from the unit");
    return j.finish(kExitLink, "fetch");
  }
  j.view.userReadBackPending = false;
  events.phaseStart("save");
  q.image = j.state.image->userImage.data();
  q.path = j.job.output;
  std::atomic<uint32_t> position{0};
  const SaveResult saved = formatOfName(q.path) == FileFormat::IntelHex ? writeIntelHex(q, position, &why)
                                                                        : writeSRecords(q, position, &why);
  events.phaseEnd("save", saved == SaveResult::Ok);
  if (saved != SaveResult::Ok) {
    showMessageWithDetail(saveResultMessage(saved), q.path + ": " + why);
    return j.finish(kExitFile, "save");
  }
  j.end.savedChecksum = hex4(j.state.image->imageChecksum(ImageArea::User, j.state.settings));
  if (!sha256File(q.path, j.end.savedSha)) j.end.savedSha.clear();
  return j.finish(kExitPass, "");
}

}  // namespace vrx4::cli
