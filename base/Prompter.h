#pragma once
// Every modal message and question of the program goes through the Prompter.
// The GUI answers with a message box, the tests with a script.
#include <string>

namespace vrx4 {

enum class Icon { Stop, Exclamation, Warning, Information, Question };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

struct Prompt {
  std::string text;
  Icon icon = Icon::Stop;
  Buttons buttons = Buttons::Ok;
  Answer defaultButton = Answer::Ok;
  std::string caption;  // empty: the program's own caption
  // Which file and why, for the log line only; the box shows `text` alone.
  std::string detail;
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  // Shows the prompt modally and returns the operator's answer. May be called
  // from any thread; implementations marshal to the thread that owns the UI.
  virtual Answer ask(const Prompt& prompt) = 0;
};

// The caption used when a prompt leaves it empty.
inline constexpr const char* kProgramCaption = "T552-VRX4";

// The answer taken when nobody can answer a question: the one that writes
// and erases nothing (Cancel, or No where there is no Cancel; OK for a plain
// message).
Answer safeAnswer(Buttons buttons);

// The process-wide prompter. Until one is set, a prompter that answers with
// safeAnswer stands in.
Prompter& prompter();
// Sets the process-wide prompter (nullptr restores the stand-in); returns the
// previous one (nullptr when it was the stand-in).
Prompter* setPrompter(Prompter* p);

// Shows one message and logs it as one line. The default button is the first
// button of the set (OK or Yes) unless given.
Answer showMessage(const std::string& text, Icon icon = Icon::Stop, Buttons buttons = Buttons::Ok);
Answer showMessage(const std::string& text, Icon icon, Buttons buttons, Answer defaultButton);

// A message whose log line also says which file and why ("text (detail)");
// the box shows the text alone.
Answer showMessageWithDetail(const std::string& text, const std::string& detail, Icon icon = Icon::Stop);

// The log line of a message: "<program>: <icon>: <text>[ (<detail>)]", line
// breaks folded.
std::string messageLogLine(const std::string& text, Icon icon, const std::string& detail = {});

// Text of an answer or icon for log lines ("OK", "Yes", "stop", ...).
const char* answerName(Answer a);
const char* iconName(Icon i);

}  // namespace vrx4
