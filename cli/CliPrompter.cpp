#include "cli/CliPrompter.h"

#include "app/UnitCheck.h"
#include "base/Log.h"
#include "cli/Events.h"

namespace vrx4::cli {

Answer cliAnswer(const Prompt& p, bool consent) {
  switch (p.buttons) {
    case Buttons::Ok:
      return Answer::Ok;
    case Buttons::OkCancel:
      return consent ? Answer::Ok : Answer::Cancel;
    case Buttons::YesNo:
      return consent ? Answer::Yes : Answer::No;
    case Buttons::YesNoCancel:
      return consent ? Answer::Yes : Answer::Cancel;
  }
  return Answer::Cancel;
}

CliPrompter::CliPrompter(Consent consent, Events* events) : consent_(consent), events_(events) {
  previous_ = setPrompter(this);
}

CliPrompter::~CliPrompter() { setPrompter(previous_); }

Answer CliPrompter::ask(const Prompt& p) {
  const bool firmware = p.text == kUpdateQuestionText;
  const bool consent = firmware ? consent_.updateFirmware : consent_.yes;
  const Answer a = cliAnswer(p, consent);
  const bool question = p.buttons != Buttons::Ok;
  {
    std::lock_guard lock(mutex_);
    texts_.push_back(p.text);
    stops_.push_back(p.icon == Icon::Stop);
    refusals_.push_back(question && !consent);
    if (question && !consent) refused_ = true;
  }
  if (events_) events_->message(p.text, p.icon, p.buttons, a, p.detail);
  if (question) {
    const char* flag = firmware ? "--update-firmware" : "--yes";
    logLine(std::string("vrx4-cli: answered ") + answerName(a) +
            (consent ? std::string(" (") + flag + ")" : std::string(" (give ") + flag + " to accept)"));
  }
  return a;
}

bool CliPrompter::refused() const {
  std::lock_guard lock(mutex_);
  return refused_;
}

bool CliPrompter::shown(const std::string& text) const {
  std::lock_guard lock(mutex_);
  for (const std::string& t : texts_)
    if (t == text) return true;
  return false;
}

size_t CliPrompter::mark() const {
  std::lock_guard lock(mutex_);
  return texts_.size();
}

bool CliPrompter::shownSince(size_t mark, const std::string& text) const {
  std::lock_guard lock(mutex_);
  for (size_t i = mark; i < texts_.size(); ++i)
    if (texts_[i] == text) return true;
  return false;
}

bool CliPrompter::refusedSince(size_t mark) const {
  std::lock_guard lock(mutex_);
  for (size_t i = mark; i < refusals_.size(); ++i)
    if (refusals_[i]) return true;
  return false;
}

bool CliPrompter::stopSince(size_t mark) const {
  std::lock_guard lock(mutex_);
  for (size_t i = mark; i < stops_.size(); ++i)
    if (stops_[i]) return true;
  return false;
}

}  // namespace vrx4::cli
