#include "cli/Preflight.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

#include "app/DeviceTable.h"
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

// The report of one job, built step by step; each step adds its fields and
// warnings in the order the report lists them. A step that returns a status
// other than 0 ends the report there.
class PreflightBuilder {
 public:
  PreflightBuilder(const JobOptions& job, const PreflightOptions& o, json& report)
      : job_(job), o_(o), report_(report), live_(job.consent, nullptr) {}

  int build() {
    if (!readDeviceTable(o_.table, o_.folder, table_)) return kExitFile;
    if (int status = job_.project.empty() ? planFromCommandLine() : planFromProject(); status != kExitPass)
      return status;
    settleScope();
    if (int status = checkSerial(); status != kExitPass) return status;
    reportSettings();
    if (int status = loadFile(); status != kExitPass) return status;
    reportBlocks();
    idCodeWarning();
    if (int status = checkBootFile(); status != kExitPass) return status;
    return reportTotals();
  }

 private:
  const DeviceDef& device() const { return plan_.device; }

  // Every setting from the project file.
  int planFromProject() {
    std::string why;
    auto project = std::make_unique<ProjectSettings>();
    switch (readProjectFile(job_.project, table_.rowCount(), *project, &why)) {
      case ProjectReadResult::Ok:
        break;
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
    plan_.file.assign(project->userFileName, strnlen(project->userFileName, sizeof project->userFileName));
    if (project->bootFileLoaded && project->bootFileNameLength > 0)
      plan_.bootFile.assign(project->bootFileName, strnlen(project->bootFileName, sizeof project->bootFileName));
    plan_.device = project->deviceIndex >= 0 ? table_.row(project->deviceIndex) : project->device;
    plan_.operation = std::clamp<int32_t>(project->operationIndex, 0, 5);
    plan_.blocks = project->lockBits.operationBlockMask;
    plan_.lockAfter = project->lockBits.lockAfterProgramMask;
    plan_.lockEffective = project->lockBits.lockBitState != 0;
    plan_.haveId = project->idCode.idLength > 0;
    plan_.id = project->idCode;
    report_["project"] = absolutePath(job_.project);
    return kExitPass;
  }

  // The settings of the command line, checked against the device.
  int planFromCommandLine() {
    std::string why;
    const int row = table_.findByName(job_.device);
    if (row < 0) {
      logProgramLine("no device named '" + job_.device + "' in the device table");
      return kExitUsage;
    }
    plan_.device = table_.row(row);
    plan_.file = job_.file;
    plan_.bootFile = job_.bootFile;
    plan_.operation = std::max(0, operationIndexOf(job_.operation));
    const int blockCount = std::clamp<int32_t>(plan_.device.blockCount, 0, 64);
    if (!parseBlockList(job_.blocks.empty() ? "all" : job_.blocks, blockCount, plan_.blocks, why) ||
        !parseBlockList(job_.lockAfter.empty() ? "none" : job_.lockAfter, blockCount, plan_.lockAfter, why)) {
      logProgramLine(why);
      return kExitUsage;
    }
    plan_.lockEffective = job_.lockState != "ignore";
    if (!job_.id.empty()) {
      parseIdText(job_.id, plan_.id, why);
      if (plan_.id.idLength != plan_.device.idCodeLength) {
        logProgramLine("--id: device " + plan_.device.name() + " takes " +
                       std::to_string(int(plan_.device.idCodeLength)) + " ID code bytes");
        return kExitUsage;
      }
      plan_.haveId = true;
    }
    return kExitPass;
  }

  // The blocks the operation works on, and whether it programs and locks.
  void settleScope() {
    blockCount_ = std::clamp<int32_t>(device().blockCount, 0, 64);
    // The unit works on every block of a device whose blocks cannot be chosen.
    selectable_ = blockCount_ > 1 && (device().blockSelectFlags & 0x03) != 0;
    operated_ = plan_.blocks;
    if (!selectable_)
      for (int b = 0; b < blockCount_; ++b) operated_.set(b);
    programs_ = plan_.operation == 0 || plan_.operation == 3;
    locks_ = programs_ && device().lockBitMode == 1;
  }

  // A serial number field is checked against the device; no number is taken.
  int checkSerial() {
    if (job_.serialField.empty()) return kExitPass;
    std::string why;
    SerialField f;
    if (!parseSerialField(job_.serialField, f, why) || !checkSerialField(f, device(), why)) {
      logProgramLine(why);
      return kExitUsage;
    }
    report_["serial_field"] = {
        {"start", hex6(f.address)}, {"end", hex6(f.address + uint32_t(f.width) - 1)}, {"width", f.width}};
    return kExitPass;
  }

  void reportSettings() {
    report_["device"] = device().name();
    report_["user_rom"] = rangeJson(device().userRomStart, device().userRomEnd);
    report_["operation"] = kOperationNames[plan_.operation];
    report_["operation_label"] = operationKind(plan_.operation).label;
    report_["blocks"] = FormatBlockList(operated_, 0, 63);
    report_["lock_after"] = locks_ ? FormatBlockList(plan_.lockAfter, 0, 63) : std::string();
    report_["lock_state"] = plan_.lockEffective ? "effective" : "ignore";
  }

  // The program file loaded as the job loads it: the loader's messages (a
  // file it cannot read) are shown as the job shows them; its questions are
  // answered, kept and become warnings.
  int loadFile() {
    found_.idLength = uint8_t(std::clamp<int32_t>(device().idCodeLength, 0, kMaxIdCodeLength));
    haveFile_ = !plan_.file.empty();
    if (!haveFile_) return kExitPass;
    report_["file"] = absolutePath(plan_.file);
    ReportingPrompter asker(&live_);
    std::vector<std::string> logged;
    LogSink previous = setLogSink([&](std::string_view l) { logged.emplace_back(l); });
    const bool ok = loadProgramFile(LoadMode::Interactive, plan_.file, device(), *image_, found_, level_,
                                    ProgramFormat::ByName, &loaded_);
    setLogSink(previous);
    // The questions are in the report; every other line goes to the log.
    for (const std::string& l : logged) {
      bool question = false;
      for (const std::string& q : asker.questions)
        question = question || l == messageLogLine(q, Icon::Stop) || l == messageLogLine(q, Icon::Warning);
      if (!question) logLine(l);
    }
    if (!ok) {
      report_["refused"] = "the loader refuses the file";
      report_["status"] = kExitFile;
      return kExitFile;
    }
    const bool asked = !asker.questions.empty();
    if (!loaded_.outside.empty()) warnings_.push_back(outsideWarning());
    if (level_ == 1 || level_ == 2) warnings_.push_back(protectWarning());
    if (asked && !job_.consent.yes) refused_ = true;  // the job refuses the question without --yes
    report_["protect_level"] = level_;
    return kExitPass;
  }

  json outsideWarning() const {
    json ranges = json::array();
    std::string text;
    for (const auto& r : loaded_.outside) {
      ranges.push_back(rangeJson(r.first, r.second));
      if (ranges.size() <= 8) text += (text.empty() ? "" : ", ") + hex6(r.first) + "-" + hex6(r.second);
    }
    if (ranges.size() > 8) text += ", ...";
    const uint64_t bytes = LoadReport::totalBytes(loaded_.outside);
    json w = warning("outside_rom", "data outside the user ROM (" + text + ", " + std::to_string(bytes) +
                                        " bytes, skipped); the loader asks \"" + oneLine(kOutsideAreaQuestion) + "\"");
    w["ranges"] = ranges;
    w["bytes"] = bytes;
    w["question"] = kOutsideAreaQuestion;
    return w;
  }

  json protectWarning() const {
    const DeviceDef& d = device();
    const char* q = level_ == 1 ? kLevel1Question : kLevel2Question;
    json w = warning("protect", "protect byte at " + hex6(d.protectAddress) + " is " +
                                    hex2(image_->userImage[d.protectAddress - d.userRomStart]) + ": level " +
                                    std::to_string(level_) + "; the loader asks \"" + oneLine(q) + "\"");
    w["address"] = hex6(d.protectAddress);
    w["level"] = level_;
    w["question"] = q;
    return w;
  }

  // Each block: its range, the bytes the file fills, its sum and what the
  // operation does to it; then the warnings about the blocks.
  void reportBlocks() {
    uint16_t sums[kMaxBlocks] = {};
    image_->blockChecksums(device(), sums);
    json blocks = json::array();
    std::vector<int> lost;
    for (int b = 0; b < blockCount_; ++b) {
      const uint32_t start = device().blockStart[b];
      const uint32_t last = start + uint32_t(device().blockSize[b]) - 1;
      const uint64_t filled = haveFile_ ? LoadReport::bytesWithin(loaded_.filled, start, last) : 0;
      if (operated_.test(b)) {
        const uint32_t romFirst = std::max<uint32_t>(start, device().userRomStart);
        const uint32_t romLast = std::min<uint32_t>(last, device().userRomEnd);
        planned_.push_back({b, romLast >= romFirst ? romLast - romFirst + 1 : 0});
        if (programs_) programmedBytes_ += filled;
        if (programs_ && filled == 0) lost.push_back(b);
      }
      blocks.push_back({{"block", b},
                        {"start", hex6(start)},
                        {"end", hex6(last)},
                        {"filled", filled},
                        {"checksum", hex4(sums[b])},
                        {"action", blockActions(b)}});
    }
    report_["block_list"] = blocks;
    blockWarnings(lost);
  }

  json blockActions(int b) const {
    if (!operated_.test(b)) return json::array({"left alone"});
    json actions = json::array();
    switch (plan_.operation) {
      case 0:
        actions = {"erased", "programmed", "verified"};
        break;
      case 1:
        actions = {"checked blank"};
        break;
      case 2:
        actions = {"erased"};
        break;
      case 3:
        actions = {"erased", "programmed"};
        break;
      case 4:
        actions = {"verified"};
        break;
      default:
        actions = {"read"};
        break;
    }
    if (locks_ && plan_.lockAfter.test(b)) actions.push_back("locked after");
    return actions;
  }

  // lost: the blocks erased that get no data from the file.
  void blockWarnings(const std::vector<int>& lost) {
    if (!lost.empty()) {
      BlockMask m;
      for (int b : lost) m.set(b);
      json w = warning("erased_without_data",
                       "block" + std::string(lost.size() > 1 ? "s " : " ") + FormatBlockList(m, 0, 63) +
                           " will be erased but get no data from the file: " + (lost.size() > 1 ? "their" : "its") +
                           " contents are lost");
      w["blocks"] = lost;
      warnings_.push_back(w);
    }
    if (!selectable_ && !job_.blocks.empty() && !(plan_.blocks == operated_)) {
      warnings_.push_back(warning("blocks_not_selectable", "device " + device().name() +
                                                               " has no choice of blocks: the operation works on "
                                                               "all of them, whatever --blocks says"));
    }
    if (programs_ && device().lockBitMode != 1 && plan_.lockAfter.any()) {
      warnings_.push_back(warning(
          "lock_after_ignored", "device " + device().name() + " cannot have lock bits set: --lock-after does nothing"));
    }
  }

  // The ID code found in the image against the one the job sends.
  void idCodeWarning() {
    if (!haveFile_ || !plan_.haveId) return;
    json differ = json::array();
    std::string text;
    for (int i = 0; i < found_.idLength && i < plan_.id.idLength; ++i) {
      const uint32_t a = device().idCodeAddress[i];
      if (LoadReport::bytesWithin(loaded_.filled, a, a) == 0) continue;  // not in the image
      if (found_.idBytes[i] == plan_.id.idBytes[i]) continue;
      differ.push_back(
          {{"index", i}, {"address", hex6(a)}, {"image", hex2(found_.idBytes[i])}, {"id", hex2(plan_.id.idBytes[i])}});
      text += (text.empty() ? "" : ", ") + hex6(a) + " " + hex2(found_.idBytes[i]) + "/" + hex2(plan_.id.idBytes[i]);
    }
    if (differ.empty()) return;
    json w = warning("id_code", "ID code bytes in the image differ from " +
                                    std::string(job_.project.empty() ? "--id" : "the project's ID code") +
                                    " (address image/sent: " + text + ")");
    w["bytes"] = differ;
    warnings_.push_back(w);
  }

  // The boot file against the device's boot area, and the time its send takes.
  int checkBootFile() {
    if (plan_.bootFile.empty()) return kExitPass;
    const DeviceDef& d = device();
    report_["boot_file"] = absolutePath(plan_.bootFile);
    auto settings = std::make_unique<ProjectSettings>();
    auto bootImage = std::make_unique<MemoryImage>();
    ReportingPrompter asker(&live_);
    if (!loadBootFile(plan_.bootFile, *bootImage, *settings)) {
      report_["refused"] = "the boot file reader refuses the file";
      report_["status"] = kExitFile;
      return kExitFile;
    }
    const uint32_t first = settings->bootStart, last = settings->bootEnd;
    report_["boot"] = rangeJson(first, last);
    const bool hasArea = d.bootRomSize != 0;
    if (!hasArea || first < d.bootRomStart || last > d.bootRomEnd) {
      json w = warning("boot_outside", "boot file data " + hex6(first) + "-" + hex6(last) +
                                           (hasArea ? " lies outside the device's boot area " + hex6(d.bootRomStart) +
                                                          "-" + hex6(d.bootRomEnd)
                                                    : std::string(" but the device has no boot area")));
      warnings_.push_back(w);
    }
    const uint32_t span = (last - first + 256) & 0xFFFF00;
    bootMs_ = downloadStoreMs(span / 256);
    return kExitPass;
  }

  // The checksum, the bytes, the time on the simulated unit's timing
  // model, the warnings and the status.
  int reportTotals() {
    auto settings = std::make_unique<ProjectSettings>();
    settings->device = device();
    const uint16_t checksum = haveFile_ ? image_->imageChecksum(ImageArea::User, *settings) : 0;
    report_["checksum"] = haveFile_ ? hex4(checksum) : std::string();
    report_["file_bytes"] = haveFile_ ? LoadReport::totalBytes(loaded_.filled) : 0;
    report_["bytes_programmed"] = programmedBytes_;
    double ms = bootMs_;
    if (haveFile_) {
      uint32_t banks = 0;
      for (int i = 0; i < kBankCount; ++i) banks += image_->bankHasData[i] ? 1 : 0;
      const uint32_t bytes = std::min<uint32_t>(banks * 0x10000u, device().userRomSize);
      ms += downloadStoreMs(bytes / 256);
    }
    for (const PlannedStep& s : plannedOperationSteps(operationCode(plan_.operation), planned_)) ms += s.ms;
    report_["estimate_s"] = std::round(ms) / 1000.0;
    report_["warnings"] = warnings_;
    int status = kExitPass;
    if (refused_) {
      report_["refused"] = "the loader's question is refused without --yes";
      status = kExitFile;
    } else if (o_.strict && !warnings_.empty()) {
      status = kExitFile;
    }
    report_["status"] = status;
    return status;
  }

  const JobOptions& job_;
  const PreflightOptions& o_;
  json& report_;
  CliPrompter live_;
  DeviceTable table_;
  JobPlan plan_;
  // The blocks the operation works on; whether it programs and locks.
  int blockCount_ = 0;
  bool selectable_ = false;
  BlockMask operated_;
  bool programs_ = false, locks_ = false;
  // The program file.
  bool haveFile_ = false;
  std::unique_ptr<MemoryImage> image_ = std::make_unique<MemoryImage>();
  LoadReport loaded_;
  IdCode found_;
  int32_t level_ = 0;
  // What the report adds up.
  json warnings_ = json::array();
  bool refused_ = false;  // a question of the loader that the job refuses
  std::vector<PlannedBlock> planned_;
  uint64_t programmedBytes_ = 0;
  double bootMs_ = 0;
};

}  // namespace

int buildPreflight(const JobOptions& job, const PreflightOptions& o, json& report) {
  report = json::object();
  return PreflightBuilder(job, o, report).build();
}

}  // namespace vrx4::cli
