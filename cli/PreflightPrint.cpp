// The pre-flight report on standard output: the text for the operator, or
// the report as one JSON object.
#include <cstdio>

#include "base/DisplayText.h"
#include "cli/Preflight.h"

namespace vrx4::cli {

using json = nlohmann::ordered_json;

namespace {

void printHuman(const json& r) {
  auto text = [&](const char* k) { return r.contains(k) ? r[k].get<std::string>() : std::string(); };
  std::string out;
  if (r.contains("project")) out += "Project : " + displayText(text("project")) + "\n";
  out += "File : " + (r.contains("file") ? displayText(text("file")) : std::string("(none)")) + "\n";
  if (r.contains("boot_file")) out += "Boot File : " + displayText(text("boot_file")) + "\n";
  out += "Device : " + displayText(text("device")) + "  user ROM " + r["user_rom"]["start"].get<std::string>() + "-" +
         r["user_rom"]["end"].get<std::string>() + "\n";
  out += "Operation : " + text("operation_label") + "  blocks " + text("blocks") + "  lock bits " + text("lock_state") +
         (text("lock_after").empty() ? "" : "  lock after " + text("lock_after")) + "\n";
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
  // The warnings come last: a report without them was stopped on its way
  // (a file refused, the reason on standard error) and has no text to show.
  // The JSON caller still gets its one object.
  if (!report.contains("warnings")) {
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
