#pragma once
// The last-used folders of the file dialogs, kept between runs in the file
// "dlg_path" of the program folder: six slots of 1024 bytes, each a
// NUL-terminated text.
#include <array>
#include <cstddef>
#include <string>

namespace vrx4 {

inline constexpr size_t kDialogPathSlotSize = 1024;
inline constexpr int kDialogPathSlotCount = 6;
inline constexpr size_t kDialogPathFileSize = kDialogPathSlotSize * kDialogPathSlotCount;
inline constexpr const char* kDialogPathFileName = "dlg_path";

enum DialogPathSlot : int {
  kProgramFolderSlot = 0,  // always the program folder
  kUserFileFolderSlot = 1,
  kBootFileFolderSlot = 2,
  kProjectFolderSlot = 3,
  kDataSaveFolderSlot = 4,
  kUserFileNameSlot = 5,  // name and extension of the last user-ROM file
};

struct DialogPaths {
  std::array<char, kDialogPathFileSize> bytes{};

  // The slot's text: its bytes up to the first NUL, never past the slot.
  // An index out of range gives an empty text.
  std::string slot(int index) const;
  // Stores a text with its terminator. A text of kDialogPathSlotSize bytes or
  // more does not fit and is refused (false, slot unchanged): a cut path
  // would name another folder.
  bool setSlot(int index, const std::string& text);
  void clear() { bytes.fill(0); }
};

// The folder part of a full file path, with its trailing "/"; empty when the
// path has no folder.
std::string programFolder(const std::string& path);

// Reads up to 6144 bytes of "dlg_path" in `folder` into `paths` (cleared
// first; a short file fills only the slots it covers), then puts `folder`
// into slot 0 and into every empty slot of 1..4. A missing file only gives
// the defaults.
void loadDialogPaths(DialogPaths& paths, const std::string& folder);
// The same, with "dlg_path" read from `storeFolder` (see dialogPathFolder in
// base/ProgramFiles.h) while slot 0 and the defaults stay `folder`.
void loadDialogPaths(DialogPaths& paths, const std::string& folder, const std::string& storeFolder);

// Writes all 6144 bytes to "dlg_path" in the folder of slot 0. The bytes go
// to a new file beside it that then replaces the old one, so a failed write
// leaves the previous file whole. Returns false on any failure; the caller
// reports nothing.
bool saveDialogPaths(const DialogPaths& paths);
// The same into `storeFolder`, which is made first when it is missing.
bool saveDialogPaths(const DialogPaths& paths, const std::string& storeFolder);

}  // namespace vrx4
