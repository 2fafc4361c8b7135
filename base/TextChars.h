#pragma once
// Character classes the text parsers share: the value of a hexadecimal digit
// and the blanks that may separate fields.

namespace vrx4 {

// The value of a hexadecimal digit (either case), -1 for any other character.
inline int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A space or a tab.
inline bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

}  // namespace vrx4
