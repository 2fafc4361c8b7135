#include "link/SocketUsbDriver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/Log.h"
#include "base/StopRequest.h"

namespace vrx4 {
namespace {
// Replies without a length of their own (control texts) stay below this.
constexpr size_t kMaxControlReply = 64 * 1024;

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

using SteadyClock = std::chrono::steady_clock;

// Milliseconds left until `deadline` (0 once it has passed).
int msLeft(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left <= 0 ? 0 : int(std::min<long long>(left, 1 << 30));
}

// The deadline of one request. The waits inside it go in short slices so
// that a stop request is seen within one of them; from then on the reply
// under way has kStopGraceMs more at most, counted from the first time the
// driver saw the stop (the write and the read of one request share it),
// or from now for a request that ends the work (StopCleanupScope).
struct RequestDeadline {
  SteadyClock::time_point at;
  std::atomic<int64_t>& stopSeenAt;  // steady ticks, 0 until seen
  bool stopSeen = false;

  // How long the next wait may take; 0 once the request is out of time.
  int nextWaitMs() {
    if (!stopSeen && stopRequestRaised()) {
      stopSeen = true;
      const auto now = SteadyClock::now();
      int64_t first = 0;
      if (!inStopCleanup() && !stopSeenAt.compare_exchange_strong(first, now.time_since_epoch().count()))
        at = std::min(at,
                      SteadyClock::time_point(SteadyClock::duration(first)) + std::chrono::milliseconds(kStopGraceMs));
      else
        at = std::min(at, now + std::chrono::milliseconds(kStopGraceMs));
    }
    const int left = msLeft(at);
    return std::min(left, kSliceMs);
  }
  static constexpr int kSliceMs = 50;
};

// Both directions of one request share its deadline: a unit that takes or
// gives a byte now and then cannot stretch the request beyond it.
bool sendAll(int fd, const uint8_t* p, size_t n, RequestDeadline& deadline) {
  size_t done = 0;
  while (done < n) {
    const int wait = deadline.nextWaitMs();
    if (wait == 0) return false;
    pollfd pfd{fd, POLLOUT, 0};
    const int r = ::poll(&pfd, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) continue;
    const ssize_t k = ::send(fd, p + done, n - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (k <= 0) return false;
    done += size_t(k);
  }
  return true;
}

bool recvAll(int fd, uint8_t* p, size_t n, RequestDeadline& deadline) {
  size_t got = 0;
  while (got < n) {
    // Bytes already there are taken at once; only an empty socket waits.
    const ssize_t k = ::recv(fd, p + got, n - got, MSG_DONTWAIT);
    if (k > 0) {
      got += size_t(k);
      continue;
    }
    if (k == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int wait = deadline.nextWaitMs();
    if (wait == 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    const int r = ::poll(&pfd, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
  }
  return true;
}
}  // namespace

SocketUsbDriver::SocketUsbDriver(std::string socketPath, int timeoutMs)
    : socketPath_(std::move(socketPath)), timeoutMs_(timeoutMs) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

SocketUsbDriver::~SocketUsbDriver() {
  if (wake_[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &b, 1);
  }
  if (watcher_.joinable()) watcher_.join();
  if (fd_ >= 0) ::close(fd_);
  for (int fd : wake_)
    if (fd >= 0) ::close(fd);
}

bool SocketUsbDriver::connected() const {
  std::lock_guard lock(mutex_);
  return fd_ >= 0 && !lost_;
}

bool SocketUsbDriver::ensureConnected() {
  std::lock_guard lock(mutex_);
  if (lost_) return false;
  if (fd_ >= 0) return true;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath_.empty() || socketPath_.size() >= sizeof addr.sun_path) return connectFailed(ENAMETOOLONG);
  std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return connectFailed(errno);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int error = errno;
    ::close(fd);
    return connectFailed(error);
  }
  lastConnectError_ = 0;
  fd_ = fd;
  watcher_ = std::thread([this] { watch(); });
  return true;
}

bool SocketUsbDriver::connectFailed(int error) {
  // The unit is looked for again and again: each reason is said once.
  if (error != lastConnectError_)
    logProgramLine("socket unit: cannot connect to " + socketPath_ + ": " + std::strerror(error));
  lastConnectError_ = error;
  return false;
}

void SocketUsbDriver::watch() {
  int fd;
  {
    std::lock_guard lock(mutex_);
    fd = fd_;
  }
  for (;;) {
    // Only the hang-up is watched: replies are read by the requests.
    pollfd fds[2] = {{fd, POLLRDHUP, 0}, {wake_[0], POLLIN, 0}};
    const int r = ::poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[1].revents) return;
    if (fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) {
      connectionLost();
      return;
    }
  }
}

void SocketUsbDriver::connectionLost(bool notify) {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (lost_) return;
    lost_ = true;
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (notify) handler = changeHandler_;
  }
  logProgramLine("socket unit: connection to " + socketPath_ + " lost");
  if (handler) handler();
}

bool SocketUsbDriver::transact(char type, const uint8_t* payload, size_t length, std::vector<uint8_t>& reply,
                               size_t maxReply) {
  reply.clear();
  // The read of a reply belongs to the request already sent: it gets its
  // grace. Anything else starts a new request.
  if (type != 'I' && newRequestsRefused()) {
    // Nothing is sent, so the stream stays in step.
    if (!refusalLogged_.exchange(true)) logLine("socket unit: no new request after the stop request");
    return false;
  }
  if (!ensureConnected()) return false;
  bool ok = false;
  bool givenUp = false;
  {
    std::lock_guard io(ioMutex_);
    int fd;
    {
      std::lock_guard lock(mutex_);
      if (lost_) return false;
      fd = fd_;
    }
    // Type, length and payload in one write: the unit wakes once per message.
    uint8_t head[5] = {uint8_t(type)};
    put32(head + 1, uint32_t(length));
    request_.assign(head, head + 5);
    if (length) request_.insert(request_.end(), payload, payload + length);
    // The time-out bounds the whole request, not each wait inside it.
    RequestDeadline deadline{SteadyClock::now() + std::chrono::milliseconds(timeoutMs_), stopSeenAt_};
    if (sendAll(fd, request_.data(), request_.size(), deadline) && recvAll(fd, head, 5, deadline) &&
        head[0] == uint8_t(type)) {
      // A reply longer than the request can have is refused before a byte
      // of it is taken: its length would only make the host wait and grow.
      const uint32_t n = get32(head + 1);
      if (n <= maxReply) {
        reply.resize(n);
        ok = !n || recvAll(fd, reply.data(), n, deadline);
      } else {
        logLine("socket unit: a reply of " + std::to_string(n) + " bytes, at most " + std::to_string(maxReply) +
                " expected");
      }
    }
    if (!ok && msLeft(deadline.at) == 0) {
      givenUp = deadline.stopSeen;
      if (givenUp)
        logLine("socket unit: request given up on a stop request; the connection is closed");
      else
        logLine("socket unit: no complete reply within " + std::to_string(timeoutMs_) + " ms");
    }
  }
  // A request without its reply leaves the stream out of step: the unit is
  // gone. Given up on a stop it is the program that leaves, not the unit: no
  // unplug is reported.
  if (!ok) {
    reply.clear();
    connectionLost(!givenUp);
  }
  return ok;
}

std::optional<std::string> SocketUsbDriver::control(const std::string& text) {
  std::vector<uint8_t> reply;
  if (!transact('X', reinterpret_cast<const uint8_t*>(text.data()), text.size(), reply, kMaxControlReply))
    return std::nullopt;
  return std::string(reply.begin(), reply.end());
}

std::optional<std::string> SocketUsbDriver::enumerateInterface(int index) {
  if (index != 0 || !ensureConnected()) return std::nullopt;
  return devicePath();
}

UsbHandle SocketUsbDriver::open(const std::string& path) {
  if (!ensureConnected()) return kInvalidHandle;
  Kind kind;
  if (path == devicePath())
    kind = Kind::Device;
  else if (path == pipePath(devicePath(), 0, 0))
    kind = Kind::PipeIn;
  else if (path == pipePath(devicePath(), 0, 1))
    kind = Kind::PipeOut;
  else
    return kInvalidHandle;
  std::lock_guard lock(mutex_);
  handles_[nextHandle_] = kind;
  return nextHandle_++;
}

void SocketUsbDriver::close(UsbHandle h) {
  std::lock_guard lock(mutex_);
  handles_.erase(h);
}

bool SocketUsbDriver::isHandle(UsbHandle h, Kind kind) const {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(h);
  return it != handles_.end() && it->second == kind && !lost_;
}

bool SocketUsbDriver::getDeviceDescriptor(UsbHandle device, std::array<uint8_t, 18>& out) {
  std::vector<uint8_t> reply;
  if (!isHandle(device, Kind::Device) || !transact('D', nullptr, 0, reply, 18) || reply.size() != 18) return false;
  std::memcpy(out.data(), reply.data(), 18);
  return true;
}

bool SocketUsbDriver::getConfiguration(UsbHandle device, uint32_t& value) {
  std::vector<uint8_t> reply;
  if (!isHandle(device, Kind::Device) || !transact('C', nullptr, 0, reply, 4) || reply.size() != 4) return false;
  value = get32(reply.data());
  return true;
}

void SocketUsbDriver::recover(UsbHandle device) {
  std::vector<uint8_t> reply;
  if (isHandle(device, Kind::Device)) transact('R', nullptr, 0, reply, 0);
}

bool SocketUsbDriver::write(UsbHandle pipe, const uint8_t* data, size_t length) {
  std::vector<uint8_t> reply;
  return isHandle(pipe, Kind::PipeOut) && transact('W', data, length, reply, 4) && reply.size() == 4 &&
         get32(reply.data()) == 0;
}

bool SocketUsbDriver::read(UsbHandle pipe, uint8_t* data, size_t maxLength, size_t& got) {
  got = 0;
  uint8_t want[4];
  put32(want, uint32_t(std::min<size_t>(maxLength, 0xFFFFFFFFu)));
  std::vector<uint8_t> reply;
  // Never more than was asked: a longer reply is refused whole.
  if (!isHandle(pipe, Kind::PipeIn) || !transact('I', want, 4, reply, maxLength) || reply.empty()) return false;
  got = std::min(reply.size(), maxLength);
  std::memcpy(data, reply.data(), got);
  return true;
}

void SocketUsbDriver::setDeviceChangeHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  changeHandler_ = std::move(handler);
}

}  // namespace vrx4
