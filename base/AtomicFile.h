#pragma once
// Replacing a file so that a crash, a kill or a power loss leaves either the
// complete old or the complete new file, and no temporary that outlives its
// process. The new content goes to an unnamed file in the target's folder
// (O_TMPFILE) where the file system allows, else to ".NAME.PID.N.part";
// it is synced, given its name by a rename over the target, and the folder
// is synced after the rename. Named temporaries that a dead process left
// for the same target are removed when the next one is made.
#include <sys/types.h>
#include <cstddef>
#include <string>

namespace vrx4 {

class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile() { discard(); }

  // Makes the temporary for `target` (mode before the umask). False with
  // `error()` set when none can be made.
  bool open(const std::string& target, mode_t mode = 0666);
  int fd() const { return fd_; }
  // Syncs and closes the temporary, renames it over the target and syncs
  // the folder. On failure the target is untouched and nothing is left.
  bool commit();
  // Drops the temporary; the target is untouched.
  void discard();
  const std::string& error() const { return error_; }
  // The system error of the last failure (0: none).
  int errorNumber() const { return errno_; }
  // The name a named temporary of this process has (for tests and logs).
  const std::string& temporaryPath() const { return temp_; }

 private:
  bool openNamed();
  bool fail(const std::string& what);

  std::string target_, dir_, name_, temp_, error_;
  mode_t mode_ = 0666;
  int fd_ = -1;
  int errno_ = 0;
  bool unnamed_ = false;
};

// Writes `size` bytes as the whole new content of `path` through an
// AtomicFile. `why` gets the reason of a failure.
bool writeFileAtomically(const std::string& path, const void* data, size_t size, mode_t mode,
                         std::string* why = nullptr);

// Removes the temporaries a process that no longer runs left for `target`
// (".NAME.PID.N.part", and the older "NAME.tmpPID"); returns how many.
int removeStaleTemporaries(const std::string& target);

// True when `fileName` is a temporary of some save of `targetName`.
bool isTemporaryOf(const std::string& fileName, const std::string& targetName);

}  // namespace vrx4
