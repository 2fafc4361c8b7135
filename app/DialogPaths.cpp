#include "app/DialogPaths.h"

#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/Log.h"

namespace vrx4 {

std::string DialogPaths::slot(int index) const {
  if (index < 0 || index >= kDialogPathSlotCount) return {};
  const char* begin = bytes.data() + size_t(index) * kDialogPathSlotSize;
  return std::string(begin, strnlen(begin, kDialogPathSlotSize));
}

bool DialogPaths::setSlot(int index, const std::string& text) {
  if (index < 0 || index >= kDialogPathSlotCount) return false;
  if (text.size() >= kDialogPathSlotSize) return false;
  char* begin = bytes.data() + size_t(index) * kDialogPathSlotSize;
  std::memset(begin, 0, kDialogPathSlotSize);
  std::memcpy(begin, text.data(), text.size());
  return true;
}

std::string programFolder(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void loadDialogPaths(DialogPaths& paths, const std::string& folder) {
  paths.clear();
  const std::string file = folder + kDialogPathFileName;
  if (std::FILE* f = std::fopen(file.c_str(), "rb")) {
    size_t total = 0;
    while (total < kDialogPathFileSize) {
      const size_t got = std::fread(paths.bytes.data() + total, 1, kDialogPathFileSize - total, f);
      if (got == 0) break;
      total += got;
    }
    std::fclose(f);
  }
  if (!paths.setSlot(kProgramFolderSlot, folder)) {
    logLine("vrx4: program folder path too long to remember: " + folder);
    return;
  }
  for (int i = kUserFileFolderSlot; i <= kDataSaveFolderSlot; ++i) {
    if (paths.slot(i).empty()) paths.setSlot(i, folder);
  }
}

bool saveDialogPaths(const DialogPaths& paths) {
  const std::string folder = paths.slot(kProgramFolderSlot);
  if (folder.empty()) return false;
  const std::string target = folder + kDialogPathFileName;
  return writeFileAtomically(target, paths.bytes.data(), paths.bytes.size(), 0644);
}

}  // namespace vrx4
