#pragma once
// The ID code's text form and the rules of the "Set ID" dialog that need no
// window.
#include <string>

#include "base/IdCode.h"

namespace vrx4 {

// The bytes in use, each "%02X", joined with ",": "01,A2,FF"; "" for none.
std::string idCodeText(const IdCode& id);

// idLength kept within 0..32, the most the dialog and the record use.
int usedIdLength(const IdCode& id);

// A field text passes when it has at most 2 hex digits (empty passes too).
bool idFieldAcceptable(const std::string& text);
inline constexpr const char* kIdFieldMessage = "Please input hex one byte code.";
inline constexpr const char* kIdFieldReplacement = "00";

// The byte a field stores at OK: its text as hexadecimal; 0 when empty.
uint8_t idFieldValue(const std::string& text);

// Field geometry in client pixels: eight fields a row.
struct IdFieldRect {
  int left, top, width, height;
};
IdFieldRect idFieldRect(int index);
// The client height that holds the fields of an ID code of the given length:
// one row for 8 bytes or fewer, else one row per eight bytes (at most four).
int idDialogClientHeight(int idLength);
inline constexpr int kIdDialogClientWidth = 380;

}  // namespace vrx4
