#include "sim/UnitSocketServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/Log.h"

namespace vrx4 {
namespace {
constexpr uint32_t kMaxPayload = 1u << 20;
constexpr size_t kMaxRead = 65536;

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
}  // namespace

UnitSocketServer::UnitSocketServer(std::shared_ptr<SimulatedUnit> unit, std::string socketPath)
    : unit_(std::move(unit)), path_(std::move(socketPath)) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
  unit_->setDetachHandler([this] { stop(); });
}

UnitSocketServer::~UnitSocketServer() {
  unit_->setDetachHandler({});
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(path_.c_str());
  }
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

void UnitSocketServer::setControlHandler(std::function<std::string(const std::string&)> handler) {
  control_ = std::move(handler);
}

void UnitSocketServer::stop() {
  stop_.store(true);
  if (wake_[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &b, 1);
  }
}

bool UnitSocketServer::listen(std::string& why) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path_.empty() || path_.size() >= sizeof addr.sun_path) {
    why = "socket path empty or longer than " + std::to_string(sizeof addr.sun_path - 1) + " bytes";
    return false;
  }
  std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    why = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      why = path_ + " exists and is not a socket";
      ::close(listenFd_);
      listenFd_ = -1;
      return false;
    }
    // A socket file nobody answers on is left over from an earlier run.
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (probe >= 0) ::close(probe);
    if (live) {
      why = "another simulator is serving " + path_;
      ::close(listenFd_);
      listenFd_ = -1;
      return false;
    }
    ::unlink(path_.c_str());
  }
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 4) != 0) {
    why = path_ + ": " + std::strerror(errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  return true;
}

UnitSocketServer::Io UnitSocketServer::readFull(int fd, uint8_t* data, size_t n) {
  size_t got = 0;
  while (got < n) {
    // Bytes already there are taken without a wait.
    const ssize_t ready = ::recv(fd, data + got, n - got, MSG_DONTWAIT);
    if (ready > 0) {
      got += size_t(ready);
      continue;
    }
    if (ready == 0) return Io::Closed;
    pollfd fds[3] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    const int r = ::poll(fds, 3, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Io::Closed;
    if (fds[1].revents) return Io::Stopped;
    if (fds[2].revents & POLLIN) {
      // The unit serves one program at a time.
      const int other = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (other >= 0) ::close(other);
      if (verbose_) logProgramLine("second program refused");
    }
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const ssize_t k = ::recv(fd, data + got, n - got, 0);
    if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (k <= 0) return Io::Closed;
    got += size_t(k);
  }
  return Io::Ok;
}

UnitSocketServer::Io UnitSocketServer::waitForHangUp(int fd, int ms) {
  for (;;) {
    pollfd fds[2] = {{fd, POLLRDHUP, 0}, {wake_[0], POLLIN, 0}};
    const int r = ::poll(fds, 2, ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Io::Closed;
    if (fds[1].revents) return Io::Stopped;
    if (fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) return Io::Closed;
    if (r == 0) return Io::Ok;
  }
}

bool UnitSocketServer::writeFull(int fd, const uint8_t* data, size_t n, unsigned dripMs) {
  if (dripMs) {
    // One byte, then the pause: the program sees a reply that drips in.
    for (size_t i = 0; i < n; ++i) {
      if (waitForHangUp(fd, int(std::min<unsigned>(dripMs, 1u << 30))) != Io::Ok) return false;
      ssize_t k;
      do k = ::send(fd, data + i, 1, MSG_NOSIGNAL);
      while (k < 0 && errno == EINTR);
      if (k != 1) return false;
    }
    return true;
  }
  size_t done = 0;
  while (done < n) {
    const ssize_t k = ::send(fd, data + done, n - done, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    done += size_t(k);
  }
  return true;
}

bool UnitSocketServer::serveClient(int fd) {
  std::vector<uint8_t> payload;
  std::vector<uint8_t> reply;
  while (!stopRequested()) {
    uint8_t head[5];
    Io io = readFull(fd, head, 5);
    if (io == Io::Stopped) return false;
    if (io == Io::Closed) return true;
    const uint32_t length = get32(head + 1);
    if (length > kMaxPayload) {
      logProgramLine("message of " + std::to_string(length) + " bytes refused; connection closed");
      return true;
    }
    payload.resize(length);
    if (length) {
      io = readFull(fd, payload.data(), length);
      if (io == Io::Stopped) return false;
      if (io == Io::Closed) return true;
    }
    reply.clear();
    switch (head[0]) {
      case 'D': {
        const auto d = unit_->deviceDescriptor();
        reply.assign(d.begin(), d.end());
        break;
      }
      case 'C':
        reply.resize(4);
        put32(reply.data(), unit_->configuration());
        break;
      case 'R':
        unit_->recoveryRequest();
        break;
      case 'W':
        reply.resize(4);
        put32(reply.data(), unit_->hostWrite(payload.data(), payload.size()) ? 0 : 1);
        break;
      case 'I': {
        if (unit_->replyWithheld()) {
          // A real stall: no answer at all, until the program gives up and
          // hangs up (or the simulator is stopped).
          if (verbose_) logProgramLine("reply withheld until the program gives up");
          return waitForHangUp(fd, -1) != Io::Stopped;
        }
        const size_t want = length >= 4 ? std::min<size_t>(get32(payload.data()), kMaxRead) : 0;
        reply.resize(want);
        size_t got = 0;
        if (!want || !unit_->hostRead(reply.data(), want, got)) got = 0;
        reply.resize(got);
        break;
      }
      case 'X':
        if (control_) {
          const std::string answer = control_(std::string(payload.begin(), payload.end()));
          reply.assign(answer.begin(), answer.end());
        }
        break;
      default:
        break;  // unknown type: empty reply of the same type
    }
    // Type, length and payload go out in one write: one wake-up for the
    // program instead of two.
    uint8_t out[5] = {head[0]};
    put32(out + 1, uint32_t(reply.size()));
    reply.insert(reply.begin(), out, out + 5);
    // Control answers never drip: a test steers the unit through them.
    if (!writeFull(fd, reply.data(), reply.size(), head[0] == 'X' ? 0 : unit_->dripMs())) return true;
  }
  return false;
}

void UnitSocketServer::serve() {
  if (listenFd_ < 0) return;
  while (!stopRequested()) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    const int r = ::poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[1].revents) break;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    if (verbose_) logProgramLine("program connected");
    // Whatever the last program left half done on the pipes is gone.
    unit_->recoveryRequest();
    const bool goOn = serveClient(fd);
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    if (unit_->detached())
      logProgramLine("unit unplugged");
    else if (verbose_)
      logProgramLine("program disconnected");
    if (!goOn) break;
  }
}

}  // namespace vrx4
