#pragma once
// A prompter for tests: records every prompt and answers from a script
// (the default button once the script is used up).
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Log.h"
#include "base/Prompter.h"

namespace vrx4::test {

class ScriptedPrompter final : public Prompter {
 public:
  ScriptedPrompter() { previous_ = setPrompter(this); }
  ~ScriptedPrompter() override { setPrompter(previous_); }

  Answer ask(const Prompt& p) override {
    std::lock_guard lock(mutex_);
    prompts_.push_back(p);
    if (script_.empty()) return p.defaultButton;
    Answer a = script_.front();
    script_.pop_front();
    return a;
  }

  void answer(Answer a) {
    std::lock_guard lock(mutex_);
    script_.push_back(a);
  }
  std::vector<Prompt> prompts() const {
    std::lock_guard lock(mutex_);
    return prompts_;
  }
  std::vector<std::string> texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> t;
    for (const Prompt& p : prompts_) t.push_back(p.text);
    return t;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    prompts_.clear();
    script_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Prompt> prompts_;
  std::deque<Answer> script_;
  Prompter* previous_ = nullptr;
};

// Installs a fake clock for the life of the object.
class FakeClockScope {
 public:
  FakeClockScope() { previous_ = setClock(&clock_); }
  ~FakeClockScope() { setClock(previous_); }
  FakeClock& operator*() { return clock_; }
  FakeClock* operator->() { return &clock_; }

 private:
  FakeClock clock_;
  Clock* previous_ = nullptr;
};

// Collects log lines for the life of the object.
class LogCapture {
 public:
  LogCapture() {
    previous_ = setLogSink([this](std::string_view l) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(l);
    });
  }
  ~LogCapture() { setLogSink(previous_); }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  LogSink previous_;
};

}  // namespace vrx4::test
