#pragma once
// What vrx4-cli tells its caller while a job runs: phase starts and ends,
// progress with done/total, every message of the program with its icon, and
// last the result. With --json each event is one JSON object on one line of
// standard output; otherwise the result and the facts asked for are plain
// lines on standard output, messages go to standard error (they are the
// program's log lines), and on a terminal a progress bar on standard error
// follows the send, the operation and the fetch.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "base/Prompter.h"

namespace vrx4::cli {

enum class OutputMode { Human, Json, Quiet };

class Events {
 public:
  // progressBar: draw the bar (human mode only; the caller checks isatty).
  Events(OutputMode mode, std::FILE* out, std::FILE* err, bool progressBar);

  OutputMode mode() const { return mode_; }
  // Whether the human output draws progress bars (a terminal).
  bool drawsProgressBar() const { return bar_; }

  void phaseStart(const std::string& phase);
  void phaseEnd(const std::string& phase, bool ok);
  void progress(const std::string& phase, uint64_t done, uint64_t total);
  // A message or question of the program and the answer it was given.
  void message(const std::string& text, Icon icon, Buttons buttons, Answer answer, const std::string& detail = {});
  // The job's last event: the unit's result code and word (0 and "" when the
  // job stopped before the operation), and the exit status. `extra` adds
  // fields to the JSON event; `shown` replaces the word on the human
  // "Result :" line (which is then printed whatever the code).
  void result(int code, const std::string& word, int status, const std::string& failedPhase,
              const nlohmann::ordered_json& extra = nullptr, const std::string& shown = {});
  // A fact the command was asked for (devices, units, info): a JSON object
  // with "event": kind, or the human line.
  void fact(const std::string& kind, nlohmann::ordered_json fields, const std::string& humanLine);
  // vrx4-cli's own reason for stopping (not a message of the program).
  void error(const std::string& text);
  // Writes one finished JSON event line (the gang runner passes its
  // children's events on).
  void rawJson(const nlohmann::ordered_json& event);
  // A plain line for the human output (standard output).
  void line(const std::string& text);

  // The last error the job met: a stop message with its detail, or
  // vrx4-cli's own reason; empty when there was none.
  std::string lastProblem() const;
  // Called (on the caller's thread) at every phase start.
  void onPhaseStart(std::function<void(const std::string&)> listener) { phaseListener_ = std::move(listener); }

 private:
  void emit(const nlohmann::ordered_json& event);
  void clearBar();

  OutputMode mode_;
  std::FILE* out_;
  std::FILE* err_;
  bool bar_;
  bool barShown_ = false;
  int lastPercent_ = -1;
  std::string barPhase_;
  std::string lastProblem_;
  std::function<void(const std::string&)> phaseListener_;
  mutable std::mutex mutex_;
};

// Progress bar text for a phase: "send [######----------]  37%".
std::string progressBarText(const std::string& phase, uint64_t done, uint64_t total, int width);

// "stop", "ok-cancel", ... for the events.
const char* buttonsName(Buttons b);

}  // namespace vrx4::cli
