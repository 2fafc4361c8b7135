#include "base/Prompter.h"

#include <atomic>

#include "base/Log.h"

namespace vrx4 {
namespace {

Answer firstButton(Buttons b) { return (b == Buttons::YesNo || b == Buttons::YesNoCancel) ? Answer::Yes : Answer::Ok; }

// Without a front end nobody can answer: every question takes its safe
// answer.
class DefaultPrompter final : public Prompter {
 public:
  Answer ask(const Prompt& p) override { return safeAnswer(p.buttons); }
};

DefaultPrompter defaultPrompter;
std::atomic<Prompter*> current{nullptr};

}  // namespace

Prompter& prompter() {
  Prompter* p = current.load();
  return p ? *p : static_cast<Prompter&>(defaultPrompter);
}

Prompter* setPrompter(Prompter* p) { return current.exchange(p); }

Answer safeAnswer(Buttons b) {
  switch (b) {
    case Buttons::Ok:
      return Answer::Ok;
    case Buttons::YesNo:
      return Answer::No;
    case Buttons::OkCancel:
    case Buttons::YesNoCancel:
      return Answer::Cancel;
  }
  return Answer::Cancel;
}

const char* answerName(Answer a) {
  switch (a) {
    case Answer::Ok:
      return "OK";
    case Answer::Cancel:
      return "Cancel";
    case Answer::Yes:
      return "Yes";
    case Answer::No:
      return "No";
  }
  return "?";
}

const char* iconName(Icon i) {
  switch (i) {
    case Icon::Stop:
      return "stop";
    case Icon::Exclamation:
      return "exclamation";
    case Icon::Warning:
      return "warning";
    case Icon::Information:
      return "information";
    case Icon::Question:
      return "question";
  }
  return "?";
}

Answer showMessage(const std::string& text, Icon icon, Buttons buttons) {
  return showMessage(text, icon, buttons, firstButton(buttons));
}

Answer showMessage(const std::string& text, Icon icon, Buttons buttons, Answer defaultButton) {
  Prompt p;
  p.text = text;
  p.icon = icon;
  p.buttons = buttons;
  p.defaultButton = defaultButton;
  logLine(messageLogLine(text, icon));
  return prompter().ask(p);
}

Answer showMessageWithDetail(const std::string& text, const std::string& detail, Icon icon) {
  Prompt p;
  p.text = text;
  p.icon = icon;
  p.detail = detail;
  logLine(messageLogLine(text, icon, detail));
  return prompter().ask(p);
}

std::string messageLogLine(const std::string& text, Icon icon, const std::string& detail) {
  // One line per message, line breaks of the text folded, so a program run
  // from a terminal or a script shows why it stopped.
  std::string line = logProgramName() + ": " + iconName(icon) + ": ";
  for (char c : text) line.push_back(c == '\n' || c == '\r' ? ' ' : c);
  if (!detail.empty()) {
    line += " (";
    for (char c : detail) line.push_back(c == '\n' || c == '\r' ? ' ' : c);
    line += ")";
  }
  return line;
}

}  // namespace vrx4
