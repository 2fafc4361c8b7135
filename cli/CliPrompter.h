#pragma once
// The prompter of vrx4-cli: nobody is there to answer, so every question
// gets the answer that writes and erases nothing, unless the operator's
// flags say otherwise (--yes for the loader's questions, --update-firmware
// for the firmware update). Each message becomes an event.
#include <mutex>
#include <string>
#include <vector>

#include "base/Prompter.h"

namespace vrx4::cli {

class Events;

struct Consent {
  bool yes = false;             // data outside the area, protect levels
  bool updateFirmware = false;  // "Would you like to update firmware?"
};

class CliPrompter final : public Prompter {
 public:
  // events may be null: the message is then only in the log.
  CliPrompter(Consent consent, Events* events);
  ~CliPrompter() override;
  CliPrompter(const CliPrompter&) = delete;
  CliPrompter& operator=(const CliPrompter&) = delete;

  Answer ask(const Prompt& p) override;

  // True once a question was refused.
  bool refused() const;
  // True when the program showed this text.
  bool shown(const std::string& text) const;
  // The number of messages so far, and whether one of those after `mark`
  // had this text or the stop icon.
  size_t mark() const;
  bool shownSince(size_t mark, const std::string& text) const;
  bool stopSince(size_t mark) const;
  bool refusedSince(size_t mark) const;

 private:
  Consent consent_;
  Events* events_;
  Prompter* previous_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
  std::vector<bool> stops_;
  std::vector<bool> refusals_;
  bool refused_ = false;
};

// The answer of a question: the accepting button with consent, else the one
// that leaves everything as it is.
Answer cliAnswer(const Prompt& p, bool consent);

}  // namespace vrx4::cli
