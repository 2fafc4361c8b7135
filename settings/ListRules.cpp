#include "settings/ListRules.h"

namespace vrx4 {

std::string shortenToFit(const std::string& text, int width, int margin, const TextWidth& measure) {
  if (text.empty()) return text;
  if (measure(text) + margin <= width) return text;
  std::string copy = text.substr(0, 259);
  const int dots = measure("...");
  size_t n = copy.size() > 1 ? copy.size() - 1 : 1;
  while (n > 1 && measure(std::string_view(copy).substr(0, n)) + dots + margin > width) --n;
  // Never split a UTF-8 sequence: step back to the start of a character.
  while (n > 1 && n < copy.size() && (static_cast<unsigned char>(copy[n]) & 0xC0) == 0x80) --n;
  if (n == 1)
    while (n < copy.size() && (static_cast<unsigned char>(copy[n]) & 0xC0) == 0x80) ++n;
  return copy.substr(0, n) + "...";
}

std::optional<uint32_t> rowAddressOfLabel(const std::string& label) {
  if (label.empty() || label.size() > 8) return std::nullopt;
  uint32_t v = 0;
  for (char c : label) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else
      return std::nullopt;
    v = v * 16 + uint32_t(d);
  }
  return v;
}

bool isChangedCell(const ChangedAddressSet& changed, std::optional<uint32_t> rowAddress, int column) {
  if (!rowAddress || column < 1 || column > 16 || changed.empty()) return false;
  return changed.contains(*rowAddress + uint32_t(column - 1));
}

}  // namespace vrx4
