#pragma once
// Serves one simulated unit over a Unix domain stream socket.
//
// Every message is a type byte, a 32-bit little-endian payload length and the
// payload; each request gets one reply of the same type:
//   'D' -> the 18-byte device descriptor
//   'C' -> 4 bytes, the configuration value (0 = not configured)
//   'R' recovery request -> empty
//   'W' bytes for pipe 1 (empty = zero-length packet) -> 4 bytes, 0 = done
//   'I' 4 bytes, most bytes wanted -> the bytes read (empty = failed); no
//       reply at all while the unit withholds its response (the connection
//       is then served no more until the program hangs up)
//   'X' control text (see UnitFaults.h) -> reply text ("ok" or "error: ...");
//       only when a control handler is set, otherwise an empty reply
// A dripping unit (SimulatedUnit::setDripMs) sends every reply but the
// control answers one byte at a time. One program at a time: a second connection while one is served is closed
// at once. When the unit detaches (unplug) the connection is closed and
// serve() returns.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "sim/SimulatedUnit.h"

namespace vrx4 {

class UnitSocketServer {
 public:
  UnitSocketServer(std::shared_ptr<SimulatedUnit> unit, std::string socketPath);
  ~UnitSocketServer();
  UnitSocketServer(const UnitSocketServer&) = delete;
  UnitSocketServer& operator=(const UnitSocketServer&) = delete;

  // Creates and binds the socket (a stale socket file left by an earlier run
  // is replaced; a live one is not). False with why on failure.
  bool listen(std::string& why);
  // Serves until stop() or the unit detaches.
  void serve();
  // Ends serve() soon; safe from a signal handler and from other threads.
  void stop();
  void setControlHandler(std::function<std::string(const std::string&)> handler);
  void setVerbose(bool on) { verbose_ = on; }
  // Connections served so far.
  int connectionCount() const { return connections_.load(); }

 private:
  enum class Io { Ok, Closed, Stopped };
  Io readFull(int fd, uint8_t* data, size_t n);
  // dripMs: one byte every dripMs milliseconds (0: all at once). False when
  // the program hung up or the server was stopped.
  bool writeFull(int fd, const uint8_t* data, size_t n, unsigned dripMs);
  // Waits up to ms (-1: no limit) for the program to hang up or the server
  // to stop; Ok when neither happened.
  Io waitForHangUp(int fd, int ms);
  bool serveClient(int fd);  // false: stop serving
  bool stopRequested() const { return stop_.load() || unit_->detached(); }

  std::shared_ptr<SimulatedUnit> unit_;
  std::string path_;
  int listenFd_ = -1;
  int wake_[2] = {-1, -1};
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  bool verbose_ = false;
  std::function<std::string(const std::string&)> control_;
};

}  // namespace vrx4
