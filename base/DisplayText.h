#pragma once
// Texts that come from outside the program (the unit's answers, a project
// file, the device table, file names) are shown to a person through
// displayText, so that a byte meant for a terminal or a stray byte of
// another encoding is shown as what it is and never acts.
#include <string>
#include <string_view>

namespace vrx4 {

// The text with every control character (U+0000..U+001F, DEL, U+0080..U+009F)
// and every byte that is not part of valid UTF-8 written as "\xHH" (C1
// controls as "\u0085"), and the characters that turn the direction of
// the text around (U+202A..U+202E, U+2066..U+2069) as "\u202E". Everything
// else, other scripts included, stays as it is.
std::string displayText(std::string_view text);

// The same for a message of several lines: each line break ("\n") stays,
// everything else is escaped as displayText does.
std::string displayMessage(std::string_view text);

}  // namespace vrx4
