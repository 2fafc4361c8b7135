#include "cli/Events.h"

#include <algorithm>

#include "base/DisplayText.h"

namespace vrx4::cli {

using json = nlohmann::ordered_json;

Events::Events(OutputMode mode, std::FILE* out, std::FILE* err, bool progressBar)
    : mode_(mode), out_(out), err_(err), bar_(progressBar && mode == OutputMode::Human) {}

const char* buttonsName(Buttons b) {
  switch (b) {
    case Buttons::Ok:
      return "ok";
    case Buttons::OkCancel:
      return "ok-cancel";
    case Buttons::YesNo:
      return "yes-no";
    case Buttons::YesNoCancel:
      return "yes-no-cancel";
  }
  return "?";
}

std::string progressBarText(const std::string& phase, uint64_t done, uint64_t total, int width) {
  const uint64_t shown = std::min(done, total);
  const int percent = total ? int(shown * 100 / total) : 100;
  const int filled = total ? int(shown * uint64_t(width) / total) : width;
  char pct[8];
  std::snprintf(pct, sizeof pct, "%3d%%", percent);
  return phase + " [" + std::string(size_t(filled), '#') + std::string(size_t(width - filled), '-') + "] " + pct;
}

void Events::emit(const json& event) {
  // One write per line, so that lines of parallel writers never mix.
  std::string text = event.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void Events::clearBar() {
  if (!barShown_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  barShown_ = false;
  lastPercent_ = -1;
}

void Events::phaseStart(const std::string& phase) {
  if (phaseListener_) phaseListener_(phase);
  std::lock_guard lock(mutex_);
  if (mode_ == OutputMode::Json) emit({{"event", "phase"}, {"phase", phase}, {"state", "start"}});
}

void Events::phaseEnd(const std::string& phase, bool ok) {
  std::lock_guard lock(mutex_);
  if (mode_ == OutputMode::Json) {
    emit({{"event", "phase"}, {"phase", phase}, {"state", "end"}, {"ok", ok}});
  } else if (bar_ && barShown_ && barPhase_ == phase) {
    std::fputs("\n", err_);
    std::fflush(err_);
    barShown_ = false;
    lastPercent_ = -1;
  }
}

void Events::progress(const std::string& phase, uint64_t done, uint64_t total) {
  std::lock_guard lock(mutex_);
  if (mode_ == OutputMode::Json) {
    emit({{"event", "progress"}, {"phase", phase}, {"done", done}, {"total", total}});
    return;
  }
  if (!bar_) return;
  const int percent = total ? int(std::min(done, total) * 100 / total) : 100;
  if (barShown_ && barPhase_ == phase && percent == lastPercent_) return;
  if (barShown_ && barPhase_ != phase) std::fputs("\n", err_);
  barPhase_ = phase;
  lastPercent_ = percent;
  std::fputs(("\r" + progressBarText(phase, done, total, 40)).c_str(), err_);
  std::fflush(err_);
  barShown_ = true;
}

void Events::message(const std::string& text, Icon icon, Buttons buttons, Answer answer, const std::string& detail) {
  std::lock_guard lock(mutex_);
  if (icon == Icon::Stop) lastProblem_ = detail.empty() ? text : text + " (" + detail + ")";
  if (mode_ == OutputMode::Json) {
    json e = {{"event", "message"}, {"text", text}, {"icon", iconName(icon)}, {"buttons", buttonsName(buttons)}};
    if (buttons != Buttons::Ok) e["answer"] = answerName(answer);
    if (!detail.empty()) e["detail"] = detail;
    emit(e);
  } else if (mode_ == OutputMode::Quiet && icon == Icon::Stop) {
    // Quiet runs keep the errors: the log lines are switched off there.
    std::fprintf(err_, "%s\n", displayText(messageLogLine(text, icon, detail)).c_str());
    std::fflush(err_);
  } else {
    clearBar();  // the log line that follows gets a line of its own
  }
}

void Events::result(int code, const std::string& word, int status, const std::string& failedPhase, const json& extra,
                    const std::string& shown) {
  std::lock_guard lock(mutex_);
  if (mode_ == OutputMode::Json) {
    json e = {{"event", "result"}, {"code", code}, {"word", word}, {"status", status}};
    if (!failedPhase.empty()) e["phase"] = failedPhase;
    if (extra.is_object()) e.update(extra);
    emit(e);
    return;
  }
  clearBar();
  if (!shown.empty()) {
    std::fprintf(out_, "Result : %s\n", shown.c_str());
    std::fflush(out_);
    return;
  }
  // Quiet runs show the word only when it is not "Pass".
  if (code != 0 && (mode_ == OutputMode::Human || status != 0)) {
    std::fprintf(out_, "Result : %s\n", word.empty() ? "(none)" : word.c_str());
    std::fflush(out_);
  }
}

void Events::fact(const std::string& kind, json fields, const std::string& humanLine) {
  std::lock_guard lock(mutex_);
  if (mode_ == OutputMode::Json) {
    json e = {{"event", kind}};
    e.update(fields);
    emit(e);
  } else if (mode_ == OutputMode::Human) {
    clearBar();
    std::fprintf(out_, "%s\n", humanLine.c_str());
    std::fflush(out_);
  }
}

void Events::error(const std::string& text) {
  std::lock_guard lock(mutex_);
  lastProblem_ = text;
  if (mode_ == OutputMode::Json) {
    emit({{"event", "error"}, {"text", text}});
    return;
  }
  clearBar();
  std::fprintf(err_, "vrx4-cli: %s\n", displayText(text).c_str());
  std::fflush(err_);
}

void Events::rawJson(const json& event) {
  std::lock_guard lock(mutex_);
  emit(event);
}

std::string Events::lastProblem() const {
  std::lock_guard lock(mutex_);
  return lastProblem_;
}

void Events::line(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (mode_ != OutputMode::Human) return;
  clearBar();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

}  // namespace vrx4::cli
