#include "cli/Preflight.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/DeviceTable.h"
#include "base/DisplayText.h"
#include "base/Log.h"
#include "base/ProjectSettings.h"
#include "base/Prompter.h"
#include "cli/CliPrompter.h"
#include "cli/ExitStatus.h"
#include "cli/FileCommands.h"
#include "cli/HexText.h"
#include "cli/SerialNumbers.h"
#include "cli/UnitCommands.h"
#include "image/BootFileReader.h"
#include "image/MemoryImage.h"
#include "image/ProgramLoader.h"
#include "settings/BlockSettingRules.h"
#include "sim/OperationTiming.h"
#include "view/OperationRunner.h"
#include "view/ProjectCommands.h"
#include "view/ProjectFile.h"

namespace vrx4::cli {

using json = nlohmann::ordered_json;

namespace {


std::string oneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::string out;
  for (char c : text)
    if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
  return out;
}

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  return ec ? path : p.lexically_normal().string();
}

// Questions are answered as --yes answers them and kept for the report;
// plain messages (a file that cannot be read) are shown as the job shows
// them.
class ReportingPrompter final : public Prompter {
 public:
  explicit ReportingPrompter(Prompter* live) : live_(live), previous_(setPrompter(this)) {}
  ~ReportingPrompter() override { setPrompter(previous_); }
  Answer ask(const Prompt& p) override {
    if (p.buttons == Buttons::Ok) return live_ ? live_->ask(p) : Answer::Ok;
    questions.push_back(p.text);
    return cliAnswer(p, true);
  }
  std::vector<std::string> questions;

 private:
  Prompter* live_;
  Prompter* previous_;
};

// The settings of the job, from the command line or from a project file.
struct JobPlan {
  std::string file, bootFile;
  DeviceDef device;
  int operation = 0;
  BlockMask blocks, lockAfter;
  bool lockEffective = true;
  bool haveId = false;
  IdCode id;
};

json rangeJson(uint32_t first, uint32_t last) {
  return {{"start", hex6(first)}, {"end", hex6(last)}, {"bytes", uint64_t(last) - first + 1}};
}

json warning(const std::string& kind, const std::string& text) { return {{"kind", kind}, {"text", text}}; }

}  // namespace

int buildPreflight(const JobOptions& job, const PreflightOptions& o, json& report) {
  report = json::object();
  CliPrompter live(job.consent, nullptr);
  DeviceTable table;
  if (!readDeviceTable(o.table, o.folder, table)) return kExitFile;

  JobPlan plan;
  std::string why;
  if (!job.project.empty()) {
    auto project = std::make_unique<ProjectSettings>();
    switch (readProjectFile(job.project, table.rowCount(), *project, &why)) {
      case ProjectReadResult::Ok: break;
      case ProjectReadResult::OpenFailed:
        showMessageWithDetail(kFileOpenError, why, Icon::Stop);
        return kExitFile;
      case ProjectReadResult::FormatError:
        showMessage(kProjectFormatError, Icon::Stop);
        return kExitFile;
    }
    if (project->userFileNameLength <= 0) {
      showMessage(kIgnoreFileName, Icon::Stop);
      return kExitFile;
    }
    plan.file.assign(project->userFileName, strnlen(project->userFileName, sizeof project->userFileName));
    if (project->bootFileLoaded && project->bootFileNameLength > 0)
      plan.bootFile.assign(project->bootFileName, strnlen(project->bootFileName, sizeof project->bootFileName));
    plan.device = project->deviceIndex >= 0 ? table.row(project->deviceIndex) : project->device;
    plan.operation = std::clamp<int32_t>(project->operationIndex, 0, 5);
    plan.blocks = project->lockBits.operationBlockMask;
    plan.lockAfter = project->lockBits.lockAfterProgramMask;
    plan.lockEffective = project->lockBits.lockBitState != 0;
    plan.haveId = project->idCode.idLength > 0;
    plan.id = project->idCode;
    report["project"] = absolutePath(job.project);
  } else {
    const int row = table.findByName(job.device);
    if (row < 0) {
      logProgramLine("no device named '" + job.device + "' in the device table");
      return kExitUsage;
    }
    plan.device = table.row(row);
    plan.file = job.file;
    plan.bootFile = job.bootFile;
    plan.operation = std::max(0, operationIndexOf(job.operation));
    const int blockCount = std::clamp<int32_t>(plan.device.blockCount, 0, 64);
    if (!parseBlockList(job.blocks.empty() ? "all" : job.blocks, blockCount, plan.blocks, why) ||
        !parseBlockList(job.lockAfter.empty() ? "none" : job.lockAfter, blockCount, plan.lockAfter, why)) {
      logProgramLine(why);
      return kExitUsage;
    }
    plan.lockEffective = job.lockState != "ignore";
    if (!job.id.empty()) {
      parseIdText(job.id, plan.id, why);
      if (plan.id.idLength != plan.device.idCodeLength) {
        logProgramLine("--id: device " + plan.device.name() + " takes " +
                       std::to_string(int(plan.device.idCodeLength)) + " ID code bytes");
        return kExitUsage;
      }
      plan.haveId = true;
    }
  }
  const DeviceDef& device = plan.device;
  const int blockCount = std::clamp<int32_t>(device.blockCount, 0, 64);
  // The unit works on every block of a device whose blocks cannot be chosen.
  const bool selectable = blockCount > 1 && (device.blockSelectFlags & 0x03) != 0;
  BlockMask operated = plan.blocks;
  if (!selectable)
    for (int b = 0; b < blockCount; ++b) operated.set(b);
  const bool programs = plan.operation == 0 || plan.operation == 3;
  const bool locks = programs && device.lockBitMode == 1;

  // A serial number field is checked against the device; no number is taken.
  if (!job.serialField.empty()) {
    SerialField f;
    if (!parseSerialField(job.serialField, f, why) || !checkSerialField(f, device, why)) {
      logProgramLine(why);
      return kExitUsage;
    }
    report["serial_field"] = {{"start", hex6(f.address)}, {"end", hex6(f.address + uint32_t(f.width) - 1)},
                              {"width", f.width}};
  }
  report["device"] = device.name();
  report["user_rom"] = rangeJson(device.userRomStart, device.userRomEnd);
  report["operation"] = kOperationNames[plan.operation];
  report["operation_label"] = operationKind(plan.operation).label;
  report["blocks"] = FormatBlockList(operated, 0, 63);
  report["lock_after"] = locks ? FormatBlockList(plan.lockAfter, 0, 63) : std::string();
  report["lock_state"] = plan.lockEffective ? "effective" : "ignore";

  json warnings = json::array();
  bool refused = false;
  auto image = std::make_unique<MemoryImage>();
  LoadReport loaded;
  IdCode found;
  found.idLength = uint8_t(std::clamp<int32_t>(device.idCodeLength, 0, kMaxIdCodeLength));
  int32_t level = 0;
  bool haveFile = !plan.file.empty();
  if (haveFile) {
    report["file"] = absolutePath(plan.file);
    // The loader's messages (a file it cannot read) are shown as the job
    // shows them; its questions are answered and kept.
    ReportingPrompter asker(&live);
    std::vector<std::string> logged;
    LogSink previous = setLogSink([&](std::string_view l) { logged.emplace_back(l); });
    const bool ok = loadProgramFile(LoadMode::Interactive, plan.file, device, *image, found, level,
                                    ProgramFormat::ByName, &loaded);
    setLogSink(previous);
    // The questions are in the report; every other line goes to the log.
    for (const std::string& l : logged) {
      bool question = false;
      for (const std::string& q : asker.questions)
        question = question || l == messageLogLine(q, Icon::Stop) || l == messageLogLine(q, Icon::Warning);
      if (!question) logLine(l);
    }
    if (!ok) {
      report["refused"] = "the loader refuses the file";
      report["status"] = kExitFile;
      return kExitFile;
    }
    const bool asked = !asker.questions.empty();
    if (!loaded.outside.empty()) {
      json ranges = json::array();
      std::string text;
      for (const auto& r : loaded.outside) {
        ranges.push_back(rangeJson(r.first, r.second));
        if (ranges.size() <= 8) text += (text.empty() ? "" : ", ") + hex6(r.first) + "-" + hex6(r.second);
      }
      if (ranges.size() > 8) text += ", ...";
      const uint64_t bytes = LoadReport::totalBytes(loaded.outside);
      json w = warning("outside_rom", "data outside the user ROM (" + text + ", " + std::to_string(bytes) +
                                          " bytes, skipped); the loader asks \"" +
                                          oneLine(kOutsideAreaQuestion) + "\"");
      w["ranges"] = ranges;
      w["bytes"] = bytes;
      w["question"] = kOutsideAreaQuestion;
      warnings.push_back(w);
    }
    if (level == 1 || level == 2) {
      const char* q = level == 1 ? kLevel1Question : kLevel2Question;
      json w = warning("protect", "protect byte at " + hex6(device.protectAddress) + " is " +
                                      hex2(image->userImage[device.protectAddress - device.userRomStart]) +
                                      ": level " + std::to_string(level) + "; the loader asks \"" + oneLine(q) +
                                      "\"");
      w["address"] = hex6(device.protectAddress);
      w["level"] = level;
      w["question"] = q;
      warnings.push_back(w);
    }
    if (asked && !job.consent.yes) refused = true;  // the job refuses the question without --yes
    report["protect_level"] = level;
  }

  // The blocks.
  uint16_t sums[kMaxBlocks] = {};
  image->blockChecksums(device, sums);
  json blocks = json::array();
  std::vector<int> lost;
  uint64_t programmedBytes = 0;
  std::vector<PlannedBlock> planned;
  for (int b = 0; b < blockCount; ++b) {
    const uint32_t start = device.blockStart[b];
    const uint32_t last = start + uint32_t(device.blockSize[b]) - 1;
    const uint64_t filled = haveFile ? LoadReport::bytesWithin(loaded.filled, start, last) : 0;
    json actions = json::array();
    const bool on = operated.test(b);
    if (on) {
      switch (plan.operation) {
        case 0: actions = {"erased", "programmed", "verified"}; break;
        case 1: actions = {"checked blank"}; break;
        case 2: actions = {"erased"}; break;
        case 3: actions = {"erased", "programmed"}; break;
        case 4: actions = {"verified"}; break;
        default: actions = {"read"}; break;
      }
      if (locks && plan.lockAfter.test(b)) actions.push_back("locked after");
      const uint32_t romFirst = std::max<uint32_t>(start, device.userRomStart);
      const uint32_t romLast = std::min<uint32_t>(last, device.userRomEnd);
      planned.push_back({b, romLast >= romFirst ? romLast - romFirst + 1 : 0});
      if (programs) programmedBytes += filled;
      if (programs && filled == 0) lost.push_back(b);
    } else {
      actions = {"left alone"};
    }
    blocks.push_back({{"block", b},
                      {"start", hex6(start)},
                      {"end", hex6(last)},
                      {"filled", filled},
                      {"checksum", hex4(sums[b])},
                      {"action", actions}});
  }
  report["block_list"] = blocks;
  if (!lost.empty()) {
    BlockMask m;
    for (int b : lost) m.set(b);
    json w = warning("erased_without_data", "block" + std::string(lost.size() > 1 ? "s " : " ") +
                                                FormatBlockList(m, 0, 63) +
                                                " will be erased but get no data from the file: " +
                                                (lost.size() > 1 ? "their" : "its") + " contents are lost");
    w["blocks"] = lost;
    warnings.push_back(w);
  }
  if (!selectable && !job.blocks.empty() && !(plan.blocks == operated)) {
    warnings.push_back(warning("blocks_not_selectable", "device " + device.name() +
                                                            " has no choice of blocks: the operation works on all "
                                                            "of them, whatever --blocks says"));
  }
  if (programs && device.lockBitMode != 1 && plan.lockAfter.any()) {
    warnings.push_back(warning("lock_after_ignored",
                               "device " + device.name() + " cannot have lock bits set: --lock-after does nothing"));
  }

  // The ID code found in the image against the one the job sends.
  if (haveFile && plan.haveId) {
    json differ = json::array();
    std::string text;
    for (int i = 0; i < found.idLength && i < plan.id.idLength; ++i) {
      const uint32_t a = device.idCodeAddress[i];
      if (LoadReport::bytesWithin(loaded.filled, a, a) == 0) continue;  // not in the image
      if (found.idBytes[i] == plan.id.idBytes[i]) continue;
      differ.push_back({{"index", i}, {"address", hex6(a)}, {"image", hex2(found.idBytes[i])},
                        {"id", hex2(plan.id.idBytes[i])}});
      text += (text.empty() ? "" : ", ") + hex6(a) + " " + hex2(found.idBytes[i]) + "/" + hex2(plan.id.idBytes[i]);
    }
    if (!differ.empty()) {
      json w = warning("id_code", "ID code bytes in the image differ from " +
                                      std::string(job.project.empty() ? "--id" : "the project's ID code") +
                                      " (address image/sent: " + text + ")");
      w["bytes"] = differ;
      warnings.push_back(w);
    }
  }

  // The boot file against the device's boot area.
  double bootMs = 0;
  if (!plan.bootFile.empty()) {
    report["boot_file"] = absolutePath(plan.bootFile);
    auto settings = std::make_unique<ProjectSettings>();
    auto bootImage = std::make_unique<MemoryImage>();
    ReportingPrompter asker(&live);
    if (!loadBootFile(plan.bootFile, *bootImage, *settings)) {
      report["refused"] = "the boot file reader refuses the file";
      report["status"] = kExitFile;
      return kExitFile;
    }
    const uint32_t first = settings->bootStart, last = settings->bootEnd;
    report["boot"] = rangeJson(first, last);
    const bool hasArea = device.bootRomSize != 0;
    if (!hasArea || first < device.bootRomStart || last > device.bootRomEnd) {
      json w = warning("boot_outside", "boot file data " + hex6(first) + "-" + hex6(last) +
                                           (hasArea ? " lies outside the device's boot area " +
                                                          hex6(device.bootRomStart) + "-" + hex6(device.bootRomEnd)
                                                    : std::string(" but the device has no boot area")));
      warnings.push_back(w);
    }
    const uint32_t span = (last - first + 256) & 0xFFFF00;
    bootMs = downloadStoreMs(span / 256);
  }

  // The totals.
  auto settings = std::make_unique<ProjectSettings>();
  settings->device = device;
  const uint16_t checksum = haveFile ? image->imageChecksum(ImageArea::User, *settings) : 0;
  report["checksum"] = haveFile ? hex4(checksum) : std::string();
  report["file_bytes"] = haveFile ? LoadReport::totalBytes(loaded.filled) : 0;
  report["bytes_programmed"] = programmedBytes;
  double ms = bootMs;
  if (haveFile) {
    uint32_t banks = 0;
    for (int i = 0; i < kBankCount; ++i) banks += image->bankHasData[i] ? 1 : 0;
    const uint32_t bytes = std::min<uint32_t>(banks * 0x10000u, device.userRomSize);
    ms += downloadStoreMs(bytes / 256);
  }
  for (const PlannedStep& s : plannedOperationSteps(operationCode(plan.operation), planned)) ms += s.ms;
  report["estimate_s"] = std::round(ms) / 1000.0;
  report["warnings"] = warnings;
  int status = kExitPass;
  if (refused) {
    report["refused"] = "the loader's question is refused without --yes";
    status = kExitFile;
  } else if (o.strict && !warnings.empty()) {
    status = kExitFile;
  }
  report["status"] = status;
  return status;
}

namespace {

void printHuman(const json& r) {
  auto text = [&](const char* k) { return r.contains(k) ? r[k].get<std::string>() : std::string(); };
  std::string out;
  if (r.contains("project")) out += "Project : " + displayText(text("project")) + "\n";
  out += "File : " + (r.contains("file") ? displayText(text("file")) : std::string("(none)")) + "\n";
  if (r.contains("boot_file")) out += "Boot File : " + displayText(text("boot_file")) + "\n";
  out += "Device : " + displayText(text("device")) + "  user ROM " + r["user_rom"]["start"].get<std::string>() +
         "-" + r["user_rom"]["end"].get<std::string>() + "\n";
  out += "Operation : " + text("operation_label") + "  blocks " + text("blocks") + "  lock bits " +
         text("lock_state") + (text("lock_after").empty() ? "" : "  lock after " + text("lock_after")) + "\n";
  out += "Block  Address          Filled  Sum   Action\n";
  for (const json& b : r["block_list"]) {
    std::string actions;
    for (const json& a : b["action"]) actions += (actions.empty() ? "" : ", ") + a.get<std::string>();
    char line[160];
    std::snprintf(line, sizeof line, "%5d  %s-%s %8llu  %s  %s\n", b["block"].get<int>(),
                  b["start"].get<std::string>().c_str(), b["end"].get<std::string>().c_str(),
                  static_cast<unsigned long long>(b["filled"].get<uint64_t>()),
                  b["checksum"].get<std::string>().c_str(), actions.c_str());
    out += line;
  }
  for (const json& w : r["warnings"]) out += "warning: " + displayText(w["text"].get<std::string>()) + "\n";
  if (!text("checksum").empty()) out += "Check Sum : " + text("checksum") + "\n";
  out += "Bytes programmed : " + std::to_string(r["bytes_programmed"].get<uint64_t>()) + " of the file's " +
         std::to_string(r["file_bytes"].get<uint64_t>()) + "\n";
  char est[96];
  std::snprintf(est, sizeof est, "Estimate : %.1f s on the simulated unit's timing model\n",
                r["estimate_s"].get<double>());
  out += est;
  std::fputs(out.c_str(), stdout);
}

}  // namespace

int preflightCheck(const JobOptions& job, const PreflightOptions& o) {
  json report;
  const int status = buildPreflight(job, o, report);
  if (!report.contains("block_list")) {
    // Stopped before there was anything to report (the reason is on
    // standard error); the JSON caller still gets its one object.
    if (o.json) {
      report["status"] = status;
      std::puts(report.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
    }
    return status;
  }
  if (o.json) {
    std::puts(report.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  } else {
    printHuman(report);
    if (report.contains("refused"))
      std::printf("Refused : %s (exit status %d)\n", report["refused"].get<std::string>().c_str(), status);
    else
      std::printf("Check : %zu warning%s (exit status %d)\n", report["warnings"].size(),
                  report["warnings"].size() == 1 ? "" : "s", status);
  }
  std::fflush(stdout);
  return status;
}

}  // namespace vrx4::cli
