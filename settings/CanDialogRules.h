#pragma once
// The rules of the "CAN Setting" dialog that do not need a window: the
// checks run on every text change, the texts the dialog is filled with, and
// the record it rebuilds on OK.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/CanSetting.h"
#include "base/Prompter.h"
#include "settings/CanTiming.h"

namespace vrx4 {

enum class CanField { Sid, Eid, Dlc, Data };

// A refused text: the message to show and the text that replaces it.
struct FieldRejection {
  std::string message;
  Icon icon = Icon::Stop;
  std::string replacement;
};

// The check of one frame field. Empty texts pass.
std::optional<FieldRejection> checkCanFrameField(CanField field, const std::string& text);

// The Dlc text read as a decimal number (its leading decimal digits); -1 when
// it holds no number or the number is above 8.
int canDlcValue(const std::string& text);

// The number a pulse cycle text holds, read as a decimal number the way the
// C library reads one: leading blanks, an optional sign, then the digits up
// to the first other character ("12a" is 12, " 5" and "+5" are 5), saturating
// far outside 1..1000. nullopt when there are no digits.
std::optional<int64_t> pulseCycleNumber(const std::string& text);

// The pulse cycle check: empty passes; a text whose number lies outside
// 1..1000, or that holds no number at all, is refused with "You can input
// pulse data 1 to 1000" and "100".
std::optional<FieldRejection> checkPulseCycle(const std::string& text);

// The pulse arrows: one step up (+1) or down (-1) within 1..1000, wrapping.
int stepPulseCycle(int position, int step);

// The cycle stored when the text holds no number in 1..1000 at OK time.
inline constexpr uint16_t kDefaultPulseCycleMs = 100;

// What the dialog shows for one frame.
struct CanFrameTexts {
  int formatIndex = 0;  // 0 "Std", 1 "Ext"
  int typeIndex = 0;    // 0 "Data", 1 "Remote"
  std::string sid = "000";
  std::string eid = "00000";
  std::string dlc = "0";
  std::array<std::string, 8> data{"00", "00", "00", "00", "00", "00", "00", "00"};
  // How many of D0..D7 the Dlc enables when the dialog is filled: the stored
  // dlc, at most 8 (its "%01X" text of a dlc above 9 is no decimal number).
  int dataFields = 0;
};

// Everything the dialog shows; the OK step reads it back.
struct CanDialogValues {
  CanTimingIndex timing;
  bool useSendFrame = false;
  CanFrameTexts frames[2];  // pre, post
  bool usePulse = false;
  std::string pulseText = "100";
};

// The dialog's texts for a record at the given table position. A frameFormat
// of 0 (or any value other than 2) shows as "Std"; a frameType other than 0
// as "Remote".
CanDialogValues canDialogValues(const CanSetting& can, CanTimingIndex timing);

// What "Default" shows: 500.0 / 70, no frames, no pulse.
CanDialogValues defaultCanDialogValues();

// The OK step: the whole record rebuilt from the dialog's values. Empty or
// unreadable frame fields store 0; a pulse text whose number (see
// pulseCycleNumber) lies outside 1..1000, or that holds none, stores 100.
CanSetting buildCanSetting(const CanDialogValues& values);

// Helpers the checks use, also used by the dialog's OK step.
// Hexadecimal value of a text of hex digits (saturating at 0xFFFFFFFF); 0 when empty.
uint32_t hexTextValue(const std::string& text);
bool isHexText(const std::string& text);

}  // namespace vrx4
