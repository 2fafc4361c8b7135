#pragma once
// Where the programs find the files shipped with them and where they keep
// "dlg_path". The same rules hold for vrx4, vrx4-cli and vrx4-unitsim:
//   data files (device table, firmware file, manuals, USB access rule):
//     beside the executable first (the build tree, a copied folder), then
//     ../share/vrx4/ relative to it (the installed layout);
//   "dlg_path": beside the executable when that folder is writable, else in
//     $XDG_CONFIG_HOME/vrx4/ (default ~/.config/vrx4/).
// Folder texts end in "/".
#include <functional>
#include <string>
#include <vector>

namespace vrx4 {

inline constexpr const char* kInstalledDataFolder = "../share/vrx4/";

// The running executable (/proc/self/exe); `fallback` when that cannot be
// read.
std::string runningExecutablePath(const std::string& fallback = {});

// The folder part of a path with its trailing "/"; "./" for a bare name.
std::string folderOf(const std::string& path);

// The folders searched for a data file, in order.
std::vector<std::string> dataFolders(const std::string& executableFolder);

// The first existing `name` in dataFolders(); when there is none, the path
// beside the executable, so that a message names the expected place.
std::string findDataFile(const std::string& executableFolder, const std::string& name);

// The USB access rule shipped with the program and the folders udev reads
// rules from.
inline constexpr const char* kUsbRuleFileName = "60-vrx4.rules";
inline constexpr const char* kUdevRuleFolders[] = {"/etc/udev/rules.d/", "/usr/lib/udev/rules.d/",
                                                   "/lib/udev/rules.d/"};

// The rule file: beside the executable (the build tree, a copied folder),
// else where the package puts it (../lib/udev/rules.d/); empty when neither
// has it.
std::string findUsbRule(const std::string& executableFolder);
// The rule as udev reads it (first of kUdevRuleFolders under `root` that
// holds it), or empty when udev does not know it.
std::string installedUsbRule(const std::string& root = {});

// The per-user configuration folder of the program: $XDG_CONFIG_HOME/vrx4/
// when that variable holds an absolute path, else $HOME/.config/vrx4/;
// empty when neither is usable. Null arguments read the environment.
std::string userConfigFolder(const char* xdgConfigHome, const char* home);
std::string userConfigFolder();

// True when files can be made in `folder` (access(W_OK); a path that is not
// a folder, a read-only file system or missing rights all give false).
bool folderWritable(const std::string& folder);

using WritableCheck = std::function<bool(const std::string& folder)>;

// The folder "dlg_path" lives in: the executable's folder when `writable`
// says so, else `configFolder` (the executable's folder again when that is
// empty: nowhere better to try).
std::string dialogPathFolder(const std::string& executableFolder, const WritableCheck& writable,
                             const std::string& configFolder);
std::string dialogPathFolder(const std::string& executableFolder);

// Makes `folder` and its parents (mode 0700 for new ones); true when it
// exists afterwards.
bool makeFolders(const std::string& folder);

}  // namespace vrx4
