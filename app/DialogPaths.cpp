#include "app/DialogPaths.h"

#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/InputFile.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"

namespace vrx4 {

static_assert(inputLimit(InputKind::DialogPaths).maxBytes == kDialogPathFileSize);

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

void loadDialogPaths(DialogPaths& paths, const std::string& folder) { loadDialogPaths(paths, folder, folder); }

void loadDialogPaths(DialogPaths& paths, const std::string& folder, const std::string& storeFolder) {
  paths.clear();
  const std::string file = storeFolder + kDialogPathFileName;
  InputFile in;
  if (in.open(file, InputKind::DialogPaths)) {
    if (in.readFully(paths.bytes.data(), kDialogPathFileSize) < 0) {
      logProgramLine("last-used folders not read: " + in.error());
    }
  } else if (in.failure() != InputFile::Failure::CannotOpen || errno != ENOENT) {
    // A missing file only gives the defaults; anything else is worth a line.
    logProgramLine("last-used folders not read: " + in.error());
  }
  if (!paths.setSlot(kProgramFolderSlot, folder)) {
    logProgramLine("program folder path too long to remember: " + folder);
    return;
  }
  for (int i = kUserFileFolderSlot; i <= kDataSaveFolderSlot; ++i) {
    if (paths.slot(i).empty()) paths.setSlot(i, folder);
  }
}

namespace {

bool writeDialogPathFile(const DialogPaths& paths, const std::string& folder);

}  // namespace

bool saveDialogPaths(const DialogPaths& paths, const std::string& storeFolder) {
  if (storeFolder.empty() || !makeFolders(storeFolder)) return false;
  return writeDialogPathFile(paths, storeFolder);
}

bool saveDialogPaths(const DialogPaths& paths) { return writeDialogPathFile(paths, paths.slot(kProgramFolderSlot)); }

namespace {

bool writeDialogPathFile(const DialogPaths& paths, const std::string& folder) {
  if (folder.empty()) return false;
  const std::string target = folder + kDialogPathFileName;
  return writeFileAtomically(target, paths.bytes.data(), paths.bytes.size(), 0644);
}

}  // namespace

}  // namespace vrx4
