#include "base/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vrx4 {
namespace {

thread_local InputTap* currentTap = nullptr;

// What a name that is no regular file is, for the reason.
const char* kindOfNode(mode_t mode) {
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a file";
}

// A folder in the system's own words, as any open error.
std::string notRegular(mode_t mode) {
  if (S_ISDIR(mode)) return std::strerror(EISDIR);
  return std::string("not a regular file (") + kindOfNode(mode) + ")";
}

}  // namespace

InputTap* setInputTap(InputTap* tap) {
  InputTap* previous = currentTap;
  currentTap = tap;
  return previous;
}

InputFile::~InputFile() { close(); }

long InputFile::fail(Failure f, std::string reason) {
  failure_ = f;
  reason_ = std::move(reason);
  return -1;
}

bool InputFile::open(const std::string& path, InputKind kind) {
  close();
  path_ = path;
  limit_ = inputLimit(kind);
  size_ = consumed_ = 0;
  atEnd_ = false;
  failure_ = Failure::None;
  reason_.clear();
  // The name first, so that a device is not even opened (opening one may
  // do something); then what was opened, as the name may have changed.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    fail(Failure::NotRegular, notRegular(st.st_mode));
    errno = S_ISDIR(st.st_mode) ? EISDIR : 0;
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    fail(Failure::CannotOpen, std::strerror(error));
    errno = error;
    return false;
  }
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    fail(Failure::CannotOpen, std::strerror(error));
    errno = error;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    fail(Failure::NotRegular, notRegular(st.st_mode));
    errno = S_ISDIR(st.st_mode) ? EISDIR : 0;
    return false;
  }
  if (!limit_.readPrefix && uint64_t(st.st_size) > limit_.maxBytes) {
    ::close(fd);
    fail(Failure::TooLarge,
         "larger than " + std::to_string(limit_.maxBytes) + " bytes, the most a " + limit_.what + " may hold");
    errno = EFBIG;
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  size_ = uint64_t(st.st_size);
  tap_ = currentTap && currentTap->opened(kind, path) ? currentTap : nullptr;
  return true;
}

long InputFile::read(void* buffer, size_t length) {
  if (fd_ < 0) return failure_ == Failure::None ? 0 : -1;
  if (failure_ != Failure::None) return -1;
  if (atEnd_ || length == 0) return 0;
  const uint64_t room = limit_.maxBytes - consumed_;
  // One byte past the limit tells a file that grew from one that ends there.
  size_t want = length;
  if (want > room) want = limit_.readPrefix ? size_t(room) : size_t(room) + 1;
  if (want == 0) {
    atEnd_ = true;
    return 0;
  }
  ssize_t got;
  do {
    got = ::read(fd_, buffer, want);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return fail(Failure::ReadError, std::strerror(errno));
  if (got == 0) {
    atEnd_ = true;
    return 0;
  }
  if (uint64_t(got) > room)
    return fail(Failure::TooLarge, "grew past " + std::to_string(limit_.maxBytes) +
                                       " bytes while being read, the most a " + limit_.what + " may hold");
  consumed_ += uint64_t(got);
  if (tap_) tap_->bytes(static_cast<const uint8_t*>(buffer), size_t(got));
  return long(got);
}

long InputFile::readFully(void* buffer, size_t length) {
  size_t total = 0;
  while (total < length) {
    const long got = read(static_cast<char*>(buffer) + total, length - total);
    if (got < 0) return -1;
    if (got == 0) break;
    total += size_t(got);
  }
  return long(total);
}

bool InputFile::readAll(std::vector<uint8_t>& out) {
  out.clear();
  const uint64_t expected = std::min<uint64_t>(size_ > consumed_ ? size_ - consumed_ : 0, limit_.maxBytes);
  out.reserve(size_t(expected));
  uint8_t chunk[65536];
  for (;;) {
    const long got = read(chunk, sizeof chunk);
    if (got < 0) return false;
    if (got == 0) return true;
    out.insert(out.end(), chunk, chunk + got);
  }
}

void InputFile::close() {
  if (fd_ < 0) return;
  if (tap_) {
    // The rest of the file, so that the tap has seen all of it.
    uint8_t chunk[65536];
    while (read(chunk, sizeof chunk) > 0) {}
    tap_->closed(failure_ == Failure::None && atEnd_);
    tap_ = nullptr;
  }
  ::close(fd_);
  fd_ = -1;
}

}  // namespace vrx4
