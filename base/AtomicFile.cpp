#include "base/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace vrx4 {
namespace {

bool allDigits(const std::string& s, size_t from, size_t to) {
  if (from >= to) return false;
  for (size_t i = from; i < to; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

// The PID a temporary's name carries, or -1 when the name is not one of
// `targetName`'s temporaries.
long temporaryOwner(const std::string& f, const std::string& targetName) {
  // ".NAME.PID.N.part"
  const std::string head = "." + targetName + ".";
  const std::string tail = ".part";
  if (f.size() > head.size() + tail.size() && f.compare(0, head.size(), head) == 0 &&
      f.compare(f.size() - tail.size(), tail.size(), tail) == 0) {
    const size_t pidFrom = head.size();
    const size_t dot = f.find('.', pidFrom);
    const size_t end = f.size() - tail.size();
    if (dot != std::string::npos && dot < end && allDigits(f, pidFrom, dot) && allDigits(f, dot + 1, end))
      return std::strtol(f.c_str() + pidFrom, nullptr, 10);
  }
  // "NAME.tmpPID"
  const std::string old = targetName + ".tmp";
  if (f.size() > old.size() && f.compare(0, old.size(), old) == 0 && allDigits(f, old.size(), f.size()))
    return std::strtol(f.c_str() + old.size(), nullptr, 10);
  return -1;
}

bool processRuns(long pid) {
  if (pid <= 0) return false;
  if (pid == long(::getpid())) return true;
  return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

void splitPath(const std::string& path, std::string& dir, std::string& name) {
  const size_t slash = path.rfind('/');
  dir = slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool syncFolder(const std::string& dir) {
  const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0) return false;
  const bool ok = ::fsync(d) == 0 || errno == EINVAL;  // some file systems cannot sync a folder
  ::close(d);
  return ok;
}

}  // namespace

bool isTemporaryOf(const std::string& fileName, const std::string& targetName) {
  return temporaryOwner(fileName, targetName) >= 0;
}

int removeStaleTemporaries(const std::string& target) {
  std::string dir, name;
  splitPath(target, dir, name);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return 0;
  int removed = 0;
  while (dirent* e = ::readdir(d)) {
    const std::string f = e->d_name;
    const long pid = temporaryOwner(f, name);
    if (pid < 0 || processRuns(pid)) continue;
    if (::unlinkat(::dirfd(d), f.c_str(), 0) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

bool AtomicFile::fail(const std::string& what) {
  errno_ = errno;
  error_ = what + ": " + std::strerror(errno_);
  return false;
}

bool AtomicFile::open(const std::string& target, mode_t mode) {
  discard();
  error_.clear();
  target_ = target;
  mode_ = mode;
  splitPath(target, dir_, name_);
  removeStaleTemporaries(target);
#ifdef O_TMPFILE
  // An unnamed file vanishes with its process whatever stops it. Naming it
  // later goes through /proc (linkat with AT_EMPTY_PATH needs a privilege).
  if (::access("/proc/self/fd", X_OK) == 0) {
    fd_ = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd_ >= 0) {
      unnamed_ = true;
      return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
      return fail("cannot create a file in " + dir_);
  }
#endif
  return openNamed();
}

bool AtomicFile::openNamed() {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char tag[48];
    std::snprintf(tag, sizeof tag, ".%ld.%u.part", long(::getpid()), serial.fetch_add(1));
    temp_ = dir_ + "/." + name_ + tag;
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_);
    if (fd_ >= 0) {
      unnamed_ = false;
      return true;
    }
    if (errno != EEXIST) break;
  }
  const bool r = fail("cannot create " + temp_);
  temp_.clear();
  return r;
}

bool AtomicFile::commit() {
  if (fd_ < 0) {
    error_ = "no file open";
    return false;
  }
  if (::fsync(fd_) != 0) {
    fail("cannot write " + target_);
    discard();
    return false;
  }
  if (unnamed_) {
    // The unnamed file gets a temporary name first: linkat cannot replace
    // the target, rename can.
    static std::atomic<unsigned> serial{0};
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    bool linked = false;
    for (int attempt = 0; attempt < 100 && !linked; ++attempt) {
      char tag[48];
      std::snprintf(tag, sizeof tag, ".%ld.%u.part", long(::getpid()), serial.fetch_add(1) + 1000000u);
      temp_ = dir_ + "/." + name_ + tag;
      if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0)
        linked = true;
      else if (errno != EEXIST)
        break;
    }
    if (!linked) {
      fail("cannot name " + target_);
      temp_.clear();
      discard();
      return false;
    }
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    fail("cannot write " + target_);
    ::unlink(temp_.c_str());
    temp_.clear();
    return false;
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    fail("cannot replace " + target_);
    ::unlink(temp_.c_str());
    temp_.clear();
    return false;
  }
  temp_.clear();
  // The rename itself is kept only once the folder is on the disk.
  if (!syncFolder(dir_)) return fail("cannot sync " + dir_);
  return true;
}

void AtomicFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

bool writeFileAtomically(const std::string& path, const void* data, size_t size, mode_t mode, std::string* why) {
  AtomicFile f;
  if (!f.open(path, mode)) {
    if (why) *why = f.error();
    return false;
  }
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(f.fd(), p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (why) *why = "cannot write " + path + ": " + std::strerror(n < 0 ? errno : ENOSPC);
      return false;
    }
    p += n;
    size -= size_t(n);
  }
  if (!f.commit()) {
    if (why) *why = f.error();
    return false;
  }
  return true;
}

}  // namespace vrx4
