// The socket transport against the unit's socket server, in a thread of this
// process and in the vrx4-unitsim process.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>

#include "ChildProcess.h"
#include "SimFixture.h"
#include "base/StopRequest.h"
#include "link/SocketUsbDriver.h"
#include "sim/UnitFaults.h"
#include "sim/UnitSocketServer.h"

namespace vrx4::test {
namespace {

// Counts device-change notifications and lets a test wait for one.
class ChangeWatch {
 public:
  std::function<void()> handler() {
    return [this] {
      std::lock_guard lock(m_);
      ++count_;
      cv_.notify_all();
    };
  }
  bool waitFor(int n) {
    std::unique_lock lock(m_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ >= n; });
  }
  int count() {
    std::lock_guard lock(m_);
    return count_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int count_ = 0;
};

// The job of a whole run, end to end: device, image, operations, read-back,
// ID code and lock bits.
void runWholeJob() {
  ASSERT_TRUE(setDevice(testDevice()));
  ASSERT_TRUE(setBlockSettings(blocks({0, 1, 2, 3}, 0, {0})));
  Bytes image = pattern(0x10000, 3);
  for (int i = 0; i < 4; ++i) image[0xFFF0 + i] = uint8_t(0x30 + i);
  ASSERT_TRUE(setIdCode(idCodeOf({0x30, 0x31, 0x32, 0x33})));
  ASSERT_TRUE(download(0x10000, image));
  EXPECT_EQ(runOperation(1).result, 1);  // "Pass"

  Bytes changed = image;
  changed[0xA010] ^= 0x80;
  ASSERT_TRUE(download(0x10000, changed));
  EXPECT_EQ(runOperation(5).result, 6);  // "Verify Err"

  ASSERT_TRUE(download(0x10000, Bytes(0x10000, 0xFF)));
  ASSERT_EQ(runOperation(6).result, 1);
  EXPECT_EQ(fetch(0x10000, 0x10000), image);

  ASSERT_TRUE(setIdCode(idCodeOf({0x30, 0x31, 0x32, 0x34})));
  EXPECT_EQ(runOperation(5).result, 9);  // "ID Err"
  ASSERT_TRUE(setIdCode(idCodeOf({0x30, 0x31, 0x32, 0x33})));

  BlockMask locks;
  ASSERT_TRUE(readLockBits(locks));
  EXPECT_EQ(locks.bytes[0], 0x01);
  ASSERT_TRUE(setBlockSettings(blocks({0}, 1)));
  EXPECT_EQ(runOperation(3).result, 4);  // "Erase Err"
}

class SocketTransport : public ::testing::Test {
 protected:
  TempDir dir;
  ScriptedPrompter prompts;
  FakeClockScope fakeClock;
};

TEST_F(SocketTransport, ServerThreadServesTheWholeJobAndClosingIsAnUnplug) {
  ProgrammerOptions o;
  o.statePath = dir.file("state");
  auto unit = std::make_shared<SimulatedProgrammer>(o);
  UnitSocketServer server(unit, dir.file("u.sock"));
  server.setControlHandler([&](const std::string& t) { return applyUnitControl(*unit, t); });
  std::string why;
  ASSERT_TRUE(server.listen(why)) << why;
  std::thread serving([&] { server.serve(); });

  {
    SocketUsbDriver client(dir.file("u.sock"));
    UsbDriver* previous = setUsbDriver(&client);
    ChangeWatch changes;
    client.setDeviceChangeHandler(changes.handler());
    ASSERT_TRUE(openLink());
    UnitInfo info;
    ASSERT_TRUE(getUnitInfo(info));
    EXPECT_EQ(info.model, "T552-VRX4");
    runWholeJob();

    // A second program is turned away while this one is served.
    SocketUsbDriver second(dir.file("u.sock"), 2000);
    ASSERT_TRUE(second.enumerateInterface(0));
    EXPECT_TRUE(changes.count() == 0);

    EXPECT_EQ(client.control("bad-checksum 1"), "ok");
    EXPECT_FALSE(getUnitInfo(info));
    EXPECT_EQ(prompts.texts().back(), "Checksum error.");

    EXPECT_EQ(client.control("unplug"), "ok");
    ASSERT_TRUE(changes.waitFor(1));
    EXPECT_FALSE(isLinkAlive());
    EXPECT_FALSE(getUnitInfo(info));
    EXPECT_FALSE(client.enumerateInterface(0));
    closeLink();
    setUsbDriver(previous);
  }
  serving.join();
}

TEST_F(SocketTransport, ServerAnswersUnknownTypesEmptyAndDropsOversizedMessages) {
  auto unit = std::make_shared<SimulatedProgrammer>();
  UnitSocketServer server(unit, dir.file("u.sock"));
  std::string why;
  ASSERT_TRUE(server.listen(why)) << why;
  std::thread serving([&] { server.serve(); });
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.file("u.sock").c_str());
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  auto readAll = [&](uint8_t* p, size_t n) {
    size_t got = 0;
    while (got < n) {
      const ssize_t k = ::recv(fd, p + got, n - got, 0);
      if (k <= 0) return false;
      got += size_t(k);
    }
    return true;
  };
  const uint8_t unknown[5] = {'Z', 0, 0, 0, 0};
  ASSERT_EQ(::send(fd, unknown, 5, MSG_NOSIGNAL), 5);
  uint8_t reply[32];
  ASSERT_TRUE(readAll(reply, 5));
  EXPECT_EQ(reply[0], 'Z');
  EXPECT_EQ(reply[1] | reply[2] | reply[3] | reply[4], 0);
  const uint8_t config[5] = {'C', 0, 0, 0, 0};
  ASSERT_EQ(::send(fd, config, 5, MSG_NOSIGNAL), 5);
  ASSERT_TRUE(readAll(reply, 9));
  EXPECT_EQ(reply[5], 1);                        // configured
  const uint8_t huge[5] = {'W', 0, 0, 0x20, 0};  // 2 MiB announced
  ASSERT_EQ(::send(fd, huge, 5, MSG_NOSIGNAL), 5);
  EXPECT_FALSE(readAll(reply, 1));  // the server hangs up
  ::close(fd);
  server.stop();
  serving.join();
}

// A unit that answers the first request of its one connection with the
// bytes given, `gapMs` apart (real time: the transport's time-out is).
class DrippingUnit {
 public:
  DrippingUnit(const std::string& path, std::vector<uint8_t> reply, int gapMs) {
    listen_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ok_ = ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(listen_, 1) == 0;
    thread_ = std::thread([this, reply = std::move(reply), gapMs] {
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      uint8_t request[5];
      if (::recv(fd, request, 5, MSG_WAITALL) == 5) {
        for (uint8_t b : reply) {
          if (stop_) break;
          if (::send(fd, &b, 1, MSG_NOSIGNAL) != 1) break;
          std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        }
      }
      ::close(fd);
    });
  }
  ~DrippingUnit() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
  }
  bool ok() const { return ok_; }

 private:
  int listen_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(SocketTransportBounds, ADrippedReplyIsBoundAsAWholeAndOversizedRepliesAreRefused) {
  TempDir dir;
  // The 18-byte descriptor reply, one byte every 40 ms: each wait is short,
  // the whole reply takes about 0.9 s against a time-out of 0.3 s.
  std::vector<uint8_t> descriptor = {'D', 18, 0, 0, 0};
  descriptor.resize(5 + 18, 0x12);
  {
    DrippingUnit unit(dir.file("drip.sock"), descriptor, 40);
    ASSERT_TRUE(unit.ok());
    SocketUsbDriver client(dir.file("drip.sock"), 300);
    ChangeWatch changes;
    client.setDeviceChangeHandler(changes.handler());
    ASSERT_TRUE(client.enumerateInterface(0));
    const UsbHandle h = client.open(client.devicePath());
    std::array<uint8_t, 18> out{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.getDeviceDescriptor(h, out));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(ms.count(), 700) << "the request took " << ms.count() << " ms";
    EXPECT_GE(ms.count(), 250);
    EXPECT_TRUE(changes.waitFor(1));  // out of step: the unit counts as gone
    EXPECT_FALSE(client.enumerateInterface(0));
  }
  {
    // A reply that declares more than the request can have is refused at
    // once, without waiting for its bytes.
    std::vector<uint8_t> oversized = {'D', 0, 0, 0, 0x40};  // 1 GiB declared
    DrippingUnit unit(dir.file("big.sock"), oversized, 0);
    ASSERT_TRUE(unit.ok());
    SocketUsbDriver client(dir.file("big.sock"), 5000);
    ASSERT_TRUE(client.enumerateInterface(0));
    const UsbHandle h = client.open(client.devicePath());
    std::array<uint8_t, 18> out{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.getDeviceDescriptor(h, out));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(client.connected());
  }
}

TEST_F(SocketTransport, UnitProcessServesAJobAndKeepsItsStateAcrossRuns) {
  const std::string sock = dir.file("u.sock");
  const std::string state = dir.file("unit-state");
  {
    UnitProcess sim({"--socket", sock, "--state", state, "--instant", "--verbose"});
    ASSERT_TRUE(sim.waitForLog("unitsim: serving")) << sim.log();
    SocketUsbDriver client(sock);
    UsbDriver* previous = setUsbDriver(&client);
    ASSERT_TRUE(openLink());
    runWholeJob();
    ASSERT_TRUE(setUserFileName("first-run.mot"));
    closeLink();
    setUsbDriver(previous);
    EXPECT_EQ(sim.stop(SIGTERM), 0);
    sim.waitForLog("state saved");
    EXPECT_NE(sim.log().find("startOperation"), std::string::npos);  // --verbose
  }
  {
    UnitProcess sim({"--socket", sock, "--state", state, "--instant"});
    ASSERT_TRUE(sim.waitForLog("unitsim: serving")) << sim.log();
    SocketUsbDriver client(sock);
    UsbDriver* previous = setUsbDriver(&client);
    ChangeWatch changes;
    client.setDeviceChangeHandler(changes.handler());
    ASSERT_TRUE(openLink());
    InitialLoadData d;
    ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
    EXPECT_EQ(d.deviceName, "TEST-64K4");
    EXPECT_EQ(d.userFileName, "first-run.mot");
    EXPECT_EQ(runOperation(2).result, 8);  // the target still holds the image

    // The process ending is an unplug for the program.
    EXPECT_EQ(sim.stop(SIGINT), 0);
    ASSERT_TRUE(changes.waitFor(1));
    EXPECT_FALSE(isLinkAlive());
    closeLink();
    setUsbDriver(previous);
  }
}

TEST_F(SocketTransport, UnitProcessFaultOptions) {
  const std::string sock = dir.file("u.sock");
  UnitProcess sim({"--socket", sock, "--no-state", "--instant", "--update-mode", "--error-status", "getUnitInfo:227",
                   "--no-target"});
  ASSERT_TRUE(sim.waitForLog("unitsim: serving")) << sim.log();
  SocketUsbDriver client(sock);
  UsbDriver* previous = setUsbDriver(&client);
  ASSERT_TRUE(openLink());
  uint8_t mode = 0;
  ASSERT_TRUE(getExecutionState(mode));
  EXPECT_EQ(mode, 1);
  UnitInfo info;
  EXPECT_FALSE(getUnitInfo(info));
  EXPECT_EQ(prompts.texts().back(), "Command execution error.");
  ASSERT_TRUE(setExecutionMode(2));
  ASSERT_TRUE(setDevice(testDevice()));
  EXPECT_EQ(runOperation(1).result, 3);  // "Contact Err"
  closeLink();
  setUsbDriver(previous);
  EXPECT_EQ(sim.stop(), 0);

  UnitProcess bad({"--socket", sock, "--stall", "zero"});
  EXPECT_FALSE(bad.waitForLog("serving"));
  EXPECT_EQ(bad.stop(0), 2);
  EXPECT_NE(bad.log().find("--stall"), std::string::npos);
}

// A real stall and a dripping unit, behind the vrx4-unitsim process: without
// a stop the request ends at its time-out; a stop request raised while the
// reply is awaited ends it within the grace, whatever the time-out.
class SlowUnitProcess : public SocketTransport {
 protected:
  void SetUp() override { clearStopRequest(); }
  void TearDown() override {
    closeLink();
    if (previous_) setUsbDriver(previous_);
    clearStopRequest();
  }
  void use(SocketUsbDriver& client) {
    previous_ = setUsbDriver(&client);
    ASSERT_TRUE(openLink());
  }
  // getUnitInfo with the stop raised after stopAfterMs (never when
  // negative); the milliseconds it took.
  long long timedRequest(int stopAfterMs, bool& ok) {
    std::thread stopper;
    const auto start = std::chrono::steady_clock::now();
    if (stopAfterMs >= 0)
      stopper = std::thread([stopAfterMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(stopAfterMs));
        raiseStopRequest();
      });
    UnitInfo info;
    ok = getUnitInfo(info);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (stopper.joinable()) stopper.join();
    return ms;
  }
  UsbDriver* previous_ = nullptr;
};

TEST_F(SlowUnitProcess, HangingReplyEndsAtTheTimeOutOrSoonAfterAStop) {
  const std::string sock = dir.file("u.sock");
  UnitProcess sim({"--socket", sock, "--no-state", "--instant", "--verbose"});
  ASSERT_TRUE(sim.waitForLog("unitsim: serving")) << sim.log();
  bool ok = true;
  {
    SocketUsbDriver client(sock, 400);
    use(client);
    EXPECT_EQ(client.control("hang 1"), "ok");
    const long long ms = timedRequest(-1, ok);
    EXPECT_FALSE(ok);
    EXPECT_GE(ms, 350);
    EXPECT_LT(ms, 1500);
    EXPECT_EQ(prompts.texts().back(), "Communication error from T552-VRX4.");
    closeLink();
  }
  ASSERT_TRUE(sim.waitForLog("program disconnected"));
  EXPECT_NE(sim.log().find("reply withheld"), std::string::npos);
  {
    // The next program finds the unit answering again; then it hangs once
    // more and the stop cuts a 30 s time-out short.
    SocketUsbDriver client(sock, 30000);
    use(client);
    UnitInfo info;
    EXPECT_TRUE(getUnitInfo(info));
    EXPECT_EQ(client.control("hang 1"), "ok");
    const long long ms = timedRequest(200, ok);
    EXPECT_FALSE(ok);
    EXPECT_GE(ms, 1100) << "a stop leaves the request its grace";
    EXPECT_LT(ms, 2500);
    closeLink();
  }
  EXPECT_EQ(sim.stop(), 0);
}

TEST_F(SlowUnitProcess, DrippingReplyCompletesSlowlyOrEndsSoonAfterAStop) {
  const std::string sock = dir.file("u.sock");
  UnitProcess sim({"--socket", sock, "--no-state", "--instant", "--drip", "4"});
  ASSERT_TRUE(sim.waitForLog("unitsim: serving")) << sim.log();
  bool ok = false;
  SocketUsbDriver client(sock);
  use(client);
  const long long ms = timedRequest(-1, ok);
  EXPECT_TRUE(ok) << "a slow unit is still a unit";
  EXPECT_GE(ms, 4 * 100) << "the unit information alone is more than 100 bytes";
  EXPECT_EQ(client.control("drip 200"), "ok");
  // The unit information now takes more than 20 s to come in.
  const long long stopped = timedRequest(300, ok);
  EXPECT_FALSE(ok);
  EXPECT_GE(stopped, 1200);
  EXPECT_LT(stopped, 2800);
  closeLink();
  EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
}  // namespace vrx4::test
