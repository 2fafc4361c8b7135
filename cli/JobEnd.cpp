#include "cli/JobEnd.h"

#include <cmath>

#include "base/Log.h"
#include "base/Version.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/HexText.h"
#include "cli/Interrupt.h"
#include "cli/JobSteps.h"
#include "view/OperationRunner.h"

namespace vrx4::cli {

using json = nlohmann::ordered_json;

namespace {

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

}  // namespace

JobEnd::~JobEnd() {
  events.onPhaseStart({});
  clearInterruptLines();
}

bool JobEnd::begin() {
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

json JobEnd::recordOf(int status, uint8_t code, const std::string& word, const std::string& reason,
                      const std::string& signal, const std::string& failedPhase) const {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
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
      {"checksum", read                       ? savedChecksum
                   : s.userFileNameLength > 0 ? hex4(s.userChecksum)
                                              : std::string()},
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

void JobEnd::prepareInterruptLines() {
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
    json e = {{"event", "result"},    {"code", 0},      {"word", "interrupted"},
              {"status", "@STATUS@"}, {"phase", phase}, {"signal", "@SIGNAL@"}};
    result = e.dump() + "\n";
    replaceAll(result, "\"@STATUS@\"", "@STATUS@");
  }
  setInterruptLines(record.isOpen() ? record.fd() : -1, line, result,
                    "vrx4-cli: interrupted by @SIGNAL@" + during + ", ended at once by a second signal\n");
}

int JobEnd::finish(int status, uint8_t code, const std::string& failedPhase) {
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

}  // namespace vrx4::cli
