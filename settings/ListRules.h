#pragma once
// Rules of the two list widgets that need no window: label shortening, the
// set of changed addresses and which memory-editor cells it colours.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vrx4 {

// Pixel width of a text, as the widget's font measures it.
using TextWidth = std::function<int(std::string_view)>;

// The text itself when its width + margin fits into width; otherwise the
// longest head (at least one character, at most 259) whose width + the width
// of "..." + margin fits, followed by "...".
std::string shortenToFit(const std::string& text, int width, int margin, const TextWidth& measure);

// Addresses whose cells the memory editor draws in blue. The owner may keep a
// 32-bit value with each address; the widget only asks for membership.
class ChangedAddressSet {
 public:
  void insert(uint32_t address, uint32_t value = 0) { map_[address] = value; }
  void remove(uint32_t address) { map_.erase(address); }
  void clear() { map_.clear(); }
  // Removes every address in first..last. Walks the set, not the range, so
  // clearing a large block costs what the set holds.
  void removeRange(uint32_t first, uint32_t last) {
    if (first > last) return;
    for (auto it = map_.begin(); it != map_.end();) {
      if (it->first >= first && it->first <= last)
        it = map_.erase(it);
      else
        ++it;
    }
  }
  bool contains(uint32_t address) const { return map_.count(address) != 0; }
  std::optional<uint32_t> value(uint32_t address) const {
    auto it = map_.find(address);
    if (it == map_.end()) return std::nullopt;
    return it->second;
  }
  bool empty() const { return map_.empty(); }
  size_t size() const { return map_.size(); }

 private:
  std::unordered_map<uint32_t, uint32_t> map_;
};

// The address of a row whose label is a hexadecimal number ("001230");
// nullopt for any other label.
std::optional<uint32_t> rowAddressOfLabel(const std::string& label);

// Whether the cell of a column (1..16 are byte cells) of the row at
// rowAddress is drawn blue.
bool isChangedCell(const ChangedAddressSet& changed, std::optional<uint32_t> rowAddress, int column);

}  // namespace vrx4
