#include "base/ProgramFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

namespace vrx4 {

namespace fs = std::filesystem;

std::string runningExecutablePath(const std::string& fallback) {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, size_t(n)) : fallback;
}

std::string folderOf(const std::string& path) {
  const size_t cut = path.rfind('/');
  return cut == std::string::npos ? std::string("./") : path.substr(0, cut + 1);
}

namespace {

std::string withSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

bool isFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::string> dataFolders(const std::string& executableFolder) {
  const std::string beside = withSlash(executableFolder);
  // "bin/../share/vrx4/" made plain, so that messages name a readable path.
  std::string installed = fs::path(beside + kInstalledDataFolder).lexically_normal().string();
  return {beside, withSlash(installed)};
}

std::string findDataFile(const std::string& executableFolder, const std::string& name) {
  const std::vector<std::string> folders = dataFolders(executableFolder);
  for (const std::string& folder : folders) {
    if (isFile(folder + name)) return folder + name;
  }
  return folders.front() + name;
}

std::string findUsbRule(const std::string& executableFolder) {
  const std::string beside = withSlash(executableFolder);
  for (const std::string& path : {beside + kUsbRuleFileName, beside + "../lib/udev/rules.d/" + kUsbRuleFileName}) {
    if (isFile(path)) return fs::path(path).lexically_normal().string();
  }
  return {};
}

std::string installedUsbRule(const std::string& root) {
  for (const char* folder : kUdevRuleFolders) {
    const std::string path = root + folder + kUsbRuleFileName;
    if (isFile(path)) return path;
  }
  return {};
}

std::string userConfigFolder(const char* xdgConfigHome, const char* home) {
  // The base directory rules: a relative XDG_CONFIG_HOME is ignored.
  if (xdgConfigHome && xdgConfigHome[0] == '/') return withSlash(xdgConfigHome) + "vrx4/";
  if (home && home[0] == '/') return withSlash(home) + ".config/vrx4/";
  return {};
}

std::string userConfigFolder() { return userConfigFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")); }

bool folderWritable(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string dialogPathFolder(const std::string& executableFolder, const WritableCheck& writable,
                             const std::string& configFolder) {
  const std::string beside = withSlash(executableFolder);
  if (configFolder.empty() || (writable && writable(beside))) return beside;
  return withSlash(configFolder);
}

std::string dialogPathFolder(const std::string& executableFolder) {
  return dialogPathFolder(executableFolder, folderWritable, userConfigFolder());
}

bool makeFolders(const std::string& folder) {
  std::error_code ec;
  const fs::path path(folder);
  if (fs::is_directory(path, ec)) return true;
  // Create one level at a time so that new folders get 0700, not the umask's
  // default: the file in it is the user's own.
  fs::path built;
  for (const fs::path& part : path) {
    built /= part;
    if (built.empty() || fs::is_directory(built, ec)) continue;
    if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return fs::is_directory(path, ec);
}

}  // namespace vrx4
