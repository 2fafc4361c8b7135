// The libusb transport under the link, against an emulated unit and an
// unrelated device: what goes over the wire, not only what comes back.
#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "ScriptedPrompter.h"
#include "UmockdevUnit.h"
#include "base/StopRequest.h"
#include "link/FrameExchange.h"
#include "link/LibUsbDriver.h"
#include "link/UsbLink.h"

namespace vrx4::test {
namespace {

// Answers every command with its payload reversed, so that data really
// travel back from the unit.
class ReversingUnit : public SimulatedUnit {
 public:
  ReversingUnit() : SimulatedUnit(kUnitVendorId, kUnitProductId) {}

 protected:
  Reply handleCommand(uint8_t, const uint8_t* payload, size_t n) override {
    return Reply::ok(std::vector<uint8_t>(std::reverse_iterator(payload + n), std::reverse_iterator(payload)));
  }
};

// A sealed request of the given total length (command byte 0x21, payload
// bytes 0, 1, 2, ...).
size_t buildRequest(uint8_t* f, size_t totalLength) {
  const size_t n = CommandFrame::begin(f, 0x21, uint16_t(totalLength - 3));
  for (size_t i = 3; i + 1 < n; ++i) f[i] = uint8_t(i - 3);
  frameChecksum(f);
  return n;
}

// One exchange of a request of `length` bytes whose response must be its
// own: the payload reversed (last payload byte first), one byte longer.
::testing::AssertionResult exchangeOwn(size_t length, size_t readLength = 512) {
  uint8_t f[1024] = {};
  const size_t n = buildRequest(f, length);
  if (!exchangeFrame(f, readLength, n)) return ::testing::AssertionFailure() << "exchange of " << length << " failed";
  if (CommandFrame::bodyLength(f) != n - 2 || f[4] != uint8_t(n - 5))
    return ::testing::AssertionFailure() << "the response to " << length << " bytes is another's (bodyLength "
                                         << CommandFrame::bodyLength(f) << ", first byte " << int(f[4]) << ")";
  return ::testing::AssertionSuccess();
}

bool anyLine(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

std::vector<SeenUrb> bulkUrbs(const std::vector<SeenUrb>& all) {
  std::vector<SeenUrb> out;
  for (const SeenUrb& u : all)
    if (u.type == USBDEVFS_URB_TYPE_BULK) out.push_back(u);
  return out;
}

class LibUsbDriverTest : public ::testing::Test {
 protected:
  void TearDown() override {
    setUsbTimeoutSeconds(kOrdinaryTimeoutMs / 1000.0);
    clearStopRequest();
    closeLink();
    setUsbDriver(previous_);
    driver.reset();
  }
  // Devices are added first: libusb must find them when it starts. Unless
  // a test has placed its own, an unrelated device sits on port 1 and the
  // unit on port 2.
  void start(LibUsbOptions options = {}) {
    if (unitDevice < 0) {
      other = bed.addOtherDevice(0x1209, 0x0001, 1);
      unitDevice = bed.addUnit(unit, 2);
    }
    driver = std::make_unique<LibUsbDriver>(options);
    ASSERT_TRUE(driver->ready());
    previous_ = setUsbDriver(driver.get());
  }
  void startLink(LibUsbOptions options = {}) {
    start(options);
    ASSERT_TRUE(openLink());
    bed.clearHistory();
    unit->clearHistory();
  }

  ScriptedPrompter prompts;
  FakeClockScope fakeClock;
  UmockdevUnit bed;  // outlives the driver
  std::shared_ptr<ReversingUnit> unit = std::make_shared<ReversingUnit>();
  int other = -1;
  int unitDevice = -1;
  std::unique_ptr<LibUsbDriver> driver;

 private:
  UsbDriver* previous_ = nullptr;
};

TEST_F(LibUsbDriverTest, OpenLinkFindsTheUnitPastAnUnrelatedDevice) {
  start();
  EXPECT_EQ(driver->enumerateInterface(0), bed.devicePath(other));
  EXPECT_EQ(driver->enumerateInterface(1), bed.devicePath(unitDevice));
  EXPECT_EQ(driver->enumerateInterface(2), std::nullopt);

  ASSERT_TRUE(openLink());
  EXPECT_EQ(slotPath(linkSlot()), bed.devicePath(unitDevice));
  EXPECT_EQ(fakeClock->sleepCount(), 0u);
  EXPECT_TRUE(isLinkAlive());
  EXPECT_TRUE(bed.interfaceClaimed(unitDevice));
  EXPECT_FALSE(bed.interfaceClaimed(other));
  EXPECT_EQ(driver->openHandleCount(), 3) << "the unrelated device is closed again";
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(LibUsbDriverTest, DeviceThatCannotBeOpenedIsPassedOverAndReportedOnce) {
  auto unreachable = std::make_shared<SimulatedUnit>(kUnitVendorId, kUnitProductId);
  const int first = bed.addUnit(unreachable, 1, /*withNode=*/false);
  unitDevice = bed.addUnit(unit, 2);
  LogCapture log;
  start();
  ASSERT_TRUE(openLink());
  EXPECT_EQ(slotPath(linkSlot()), bed.devicePath(unitDevice));
  closeLink();
  ASSERT_TRUE(openLink());
  const auto lines = log.lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) {
                            return l.find("open " + bed.devicePath(first) + ": LIBUSB_ERROR_") != std::string::npos;
                          }),
            1);
}

TEST_F(LibUsbDriverTest, FramesTravelBothWaysOnTheBulkEndpoints) {
  startLink();
  uint8_t f[256] = {};
  const size_t n = CommandFrame::begin(f, 0x07, 4);
  f[3] = 0x11, f[4] = 0x22, f[5] = 0x33;
  frameChecksum(f);
  const std::vector<uint8_t> request(f, f + n);
  const bool ok = exchangeFrame(f, 256, n);
  ASSERT_TRUE(ok);
  // Reversed payload after the status byte.
  EXPECT_EQ(f[2], 0x07);
  EXPECT_EQ(f[3], 0x00);
  EXPECT_EQ(f[4], 0x33);
  EXPECT_EQ(f[5], 0x22);
  EXPECT_EQ(f[6], 0x11);

  const auto urbs = bulkUrbs(bed.urbs(unitDevice));
  ASSERT_EQ(urbs.size(), 2u);
  EXPECT_EQ(urbs[0].endpoint, kUnitBulkOut);
  EXPECT_EQ(urbs[0].data, request);
  EXPECT_EQ(urbs[1].endpoint, kUnitBulkIn);
  EXPECT_EQ(urbs[1].bufferLength, 64) << "one packet first: its length word says what follows";
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(LibUsbDriverTest, ZeroLengthPacketEndsRequestsThatFillTheirLastPacket) {
  startLink();
  struct Case {
    size_t length;
    bool zlp;
  } cases[] = {{63, false}, {64, true}, {128, true}, {262, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    bed.clearHistory();
    uint8_t f[512] = {};
    const size_t n = buildRequest(f, c.length);
    ASSERT_TRUE(exchangeFrame(f, 512, n));
    std::vector<SeenUrb> out;
    for (const SeenUrb& u : bulkUrbs(bed.urbs(unitDevice)))
      if (u.endpoint == kUnitBulkOut) out.push_back(u);
    ASSERT_EQ(out.size(), c.zlp ? 2u : 1u);
    EXPECT_EQ(out[0].bufferLength, int(c.length));
    if (c.zlp) {
      EXPECT_EQ(out[1].bufferLength, 0) << "a real zero-length packet, not a dropped write";
      EXPECT_EQ(out[1].status, 0);
    }
    EXPECT_EQ(bulkUrbs(bed.urbs(unitDevice)).back().endpoint, kUnitBulkIn);
  }
  EXPECT_EQ(unit->requests().size(), 4u) << "every request arrived whole";
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(LibUsbDriverTest, StalledPipeBringsClearHaltOnTheStalledEndpointAndTheLinkGoesOn) {
  startLink();
  unit->injectFault(SimulatedUnit::Fault::Stall);
  uint8_t f[256] = {};
  size_t n = buildRequest(f, 10);
  EXPECT_FALSE(exchangeFrame(f, 256, n));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kMsgWriteFailed});
  const auto urbs = bulkUrbs(bed.urbs(unitDevice));
  ASSERT_GE(urbs.size(), 1u);
  EXPECT_EQ(urbs[0].endpoint, kUnitBulkOut);
  EXPECT_EQ(urbs[0].status, -EPIPE);
  EXPECT_EQ(bed.clearedHalts(unitDevice), (std::vector<unsigned>{kUnitBulkOut})) << "only the endpoint that stalled";
  EXPECT_FALSE(unit->halted());

  prompts.clear();
  n = buildRequest(f, 10);
  EXPECT_TRUE(exchangeFrame(f, 256, n));
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(LibUsbDriverTest, UnplugIsReportedAndLeavesTheLinkDead) {
  startLink();
  ASSERT_TRUE(driver->usesHotplug());
  std::mutex m;
  std::condition_variable cv;
  int changes = 0;
  driver->setDeviceChangeHandler([&] {
    std::lock_guard lock(m);
    ++changes;
    cv.notify_all();
  });
  bed.unplug(unitDevice);
  {
    // The notice comes from libusb's hotplug thread; wait for it, not for a time.
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return changes > 0; }));
  }
  EXPECT_FALSE(isLinkAlive());
  uint8_t f[256] = {};
  const size_t n = buildRequest(f, 10);
  EXPECT_FALSE(exchangeFrame(f, 256, n));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kMsgWriteFailed});
  driver->setDeviceChangeHandler({});
}

TEST_F(LibUsbDriverTest, PeriodicCheckSeesAnUnplugWhereHotplugIsNotUsed) {
  start({.useHotplug = false});
  EXPECT_FALSE(driver->usesHotplug());
  int changes = 0;
  driver->setDeviceChangeHandler([&] { ++changes; });
  EXPECT_FALSE(driver->checkForDeviceChange());
  bed.unplug(other);
  EXPECT_TRUE(driver->checkForDeviceChange());
  EXPECT_FALSE(driver->checkForDeviceChange()) << "one change, one notice";
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(driver->enumerateInterface(0), bed.devicePath(unitDevice));
  EXPECT_EQ(driver->enumerateInterface(1), std::nullopt);
  driver->setDeviceChangeHandler({});
}

TEST_F(LibUsbDriverTest, ReadTimeOutIsAFailureAndTheDiscardedUrbDoesNotLinger) {
  // The one test that waits for real: a time-out only exists in libusb's own
  // clock. 50 ms keeps it short.
  startLink({.readTimeoutMs = 50});
  bed.setNakIdleReads(true);
  LogCapture log;
  uint8_t f[64];
  size_t got = 99;
  EXPECT_FALSE(driver->read(inPipe(), f, sizeof f, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(bed.discardCount(unitDevice), 1);
  const auto lines = log.lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("LIBUSB_ERROR_TIMEOUT") != std::string::npos; }));

  // The next exchange gets its own response, not a stale one.
  uint8_t r[256] = {};
  const size_t n = buildRequest(r, 12);
  EXPECT_TRUE(exchangeFrame(r, 256, n));
  EXPECT_EQ(r[4], uint8_t(12 - 5)) << "the reversed payload of this request";
}

TEST_F(LibUsbDriverTest, InterfaceIsClaimedWithTheFirstPipeAndReleasedWithTheLast) {
  start();
  const std::string path = bed.devicePath(unitDevice);
  const UsbHandle device = driver->open(path);
  ASSERT_NE(device, kInvalidHandle);
  EXPECT_FALSE(bed.interfaceClaimed(unitDevice)) << "the device alone claims nothing";
  const UsbHandle in = driver->open(pipePath(path, 0, 0));
  const UsbHandle out = driver->open(pipePath(path, 0, 1));
  ASSERT_NE(in, kInvalidHandle);
  ASSERT_NE(out, kInvalidHandle);
  EXPECT_TRUE(bed.interfaceClaimed(unitDevice));
  driver->close(in);
  EXPECT_TRUE(bed.interfaceClaimed(unitDevice));
  driver->close(out);
  EXPECT_FALSE(bed.interfaceClaimed(unitDevice));

  EXPECT_EQ(driver->open(pipePath(path, 0, 2)), kInvalidHandle);
  EXPECT_EQ(driver->open(pipePath(path, 1, 0)), kInvalidHandle);
  EXPECT_EQ(driver->open(path + "/if0pipe0"), kInvalidHandle);
  EXPECT_EQ(driver->open("/usb/9-9"), kInvalidHandle);
  // Interface 0 of the other device has no bulk endpoints.
  EXPECT_EQ(driver->open(pipePath(bed.devicePath(other), 0, 0)), kInvalidHandle);
  EXPECT_FALSE(bed.interfaceClaimed(other));
  driver->close(device);
  EXPECT_EQ(driver->openHandleCount(), 0);
}

TEST_F(LibUsbDriverTest, SearchOpensOnlyTheDeviceWhoseIdsMatch) {
  LogCapture log;
  start();
  ASSERT_TRUE(openLink());
  EXPECT_EQ(slotPath(linkSlot()), bed.devicePath(unitDevice));
  EXPECT_EQ(bed.openCount(other), 0) << "the unrelated device is never opened";
  EXPECT_EQ(bed.openCount(unitDevice), 1);
  // The one line that tells a maintainer what the unit is and how it talks.
  EXPECT_TRUE(anyLine(log.lines(), "usb: pipes open on /usb/1-2 (" + usbIdText(UsbId{}) +
                                       ", serial \"VRX4-2\"): bulk IN 0x82 and OUT 0x01, 64-byte packets, "
                                       "full speed (12 Mbit/s)"));
  closeLink();

  // No unit with the IDs looked for: ten tries, and still nothing opened.
  const UsbId previous = unitUsbId();
  setUnitUsbId(UsbId{0x1234, 0x5678});
  EXPECT_FALSE(openLink());
  setUnitUsbId(previous);
  EXPECT_EQ(fakeClock->sleepCount(), unsigned(kFindAttempts));
  EXPECT_EQ(bed.openCount(other), 0);
  EXPECT_EQ(bed.openCount(unitDevice), 1);
}

TEST_F(LibUsbDriverTest, ResponsesSplitIntoPacketsAreReadToTheirOwnLength) {
  // The unit waits (NAKs) when it has nothing more; a read that waited for
  // the end of its transfer would only end with the time-out.
  setUsbTimeoutSeconds(2);
  bed.setNakIdleReads(true);
  for (const bool zlp : {false, true}) {
    SCOPED_TRACE(zlp ? "with zero-length packets" : "without zero-length packets");
    bed.setBehaviour({.zeroLengthPacket = zlp});
    if (!driver) startLink();
    const auto before = std::chrono::steady_clock::now();
    // Responses of 64, 128 and 256 bytes fill their last packet; 65 and 12 do not.
    for (size_t length : {63u, 127u, 255u, 64u, 11u, 63u}) EXPECT_TRUE(exchangeOwn(length));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1)) << "no read waited for a time-out";
  }
  EXPECT_TRUE(prompts.texts().empty());
  EXPECT_EQ(bed.clearedHalts(unitDevice), std::vector<unsigned>{});
}

TEST_F(LibUsbDriverTest, HighSpeedUnitIsReadIn512BytePackets) {
  LogCapture log;
  setUsbTimeoutSeconds(2);
  bed.setNakIdleReads(true);
  bed.setBehaviour({.zeroLengthPacket = false});
  unitDevice = bed.addUnit(unit, 2, true, /*highSpeed=*/true);
  startLink();
  EXPECT_TRUE(anyLine(log.lines(), "512-byte packets, high speed (480 Mbit/s)"));
  EXPECT_TRUE(exchangeOwn(511));  // a 512-byte response, one whole packet
  EXPECT_TRUE(exchangeOwn(262));  // a page request as the unit gets it
  for (const SeenUrb& u : bulkUrbs(bed.urbs(unitDevice)))
    if (u.endpoint == kUnitBulkIn) {
      EXPECT_EQ(u.bufferLength % 512, 0) << "IN transfers are whole packets";
    }
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(LibUsbDriverTest, ResponseLongerThanTheReadIsRefusedAndDoesNotAnswerTheNextRequest) {
  startLink();
  // A 301-byte response to a 256-byte read: the rest stays in the device.
  uint8_t f[512] = {};
  const size_t n = buildRequest(f, 300);
  EXPECT_FALSE(exchangeFrame(f, 256, n));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{"Checksum error."});
  EXPECT_EQ(bed.bytesWaiting(unitDevice), 0u);
  prompts.clear();
  EXPECT_TRUE(exchangeOwn(12));
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(LibUsbDriverTest, LateResponseIsThrownAwayAndATimeOutClearsNoHalt) {
  // A unit that answers just after the host gave up, and whose clear-halt
  // keeps its data toggle (a clear-halt would cost the next packet).
  LogCapture log;
  setUsbTimeoutSeconds(0.1);
  bed.setNakIdleReads(true);
  startLink();
  EXPECT_TRUE(exchangeOwn(10));  // the toggles are odd now
  bed.setBehaviour({.clearHaltKeepsState = true, .lateReplies = true});
  EXPECT_FALSE(exchangeOwn(10));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kMsgReadFailed});
  EXPECT_TRUE(anyLine(log.lines(), "usb: command 0x21 failed at the read after "));
  EXPECT_TRUE(anyLine(log.lines(), "(0 of 512 bytes back)"));
  EXPECT_EQ(bed.clearedHalts(unitDevice), std::vector<unsigned>{}) << "nothing stalled";
  EXPECT_EQ(bed.bytesWaiting(unitDevice), 0u) << "the late response was read and thrown away";

  prompts.clear();
  bed.setBehaviour({.clearHaltKeepsState = true});
  // The same command again (as a status poll repeats): it gets its own answer.
  EXPECT_TRUE(exchangeOwn(12));
  EXPECT_TRUE(exchangeOwn(70));
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(LibUsbDriverTest, CancelledReadKeepsTheBytesItGotForTheLog) {
  // A response that claims more than it sends and then stops: the read ends
  // with its time-out, and the log says how far it got.
  LogCapture log;
  setUsbTimeoutSeconds(0.1);
  bed.setNakIdleReads(true);
  bed.setBehaviour({.zeroLengthPacket = false});
  startLink();
  unit->injectFault(SimulatedUnit::Fault::BodyLengthPastEnd);
  uint8_t f[256] = {};
  const size_t n = buildRequest(f, 127);  // a 128-byte response, two full packets
  EXPECT_FALSE(exchangeFrame(f, 256, n));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kMsgReadFailed});
  EXPECT_TRUE(anyLine(log.lines(), "(128 of 256 bytes back)"));
  EXPECT_GE(bed.discardCount(unitDevice), 1);
  prompts.clear();
  EXPECT_TRUE(exchangeOwn(20));
}

TEST_F(LibUsbDriverTest, ReplugOnTheSamePortLeavesTheOldLinkDead) {
  startLink();
  ASSERT_TRUE(driver->usesHotplug());
  std::mutex m;
  std::condition_variable cv;
  int changes = 0;
  driver->setDeviceChangeHandler([&] {
    std::lock_guard lock(m);
    ++changes;
    cv.notify_all();
  });
  const int again = bed.replug(unitDevice);
  EXPECT_EQ(bed.devicePath(again), bed.devicePath(unitDevice));
  {
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return changes > 0; }));
  }
  EXPECT_FALSE(isLinkAlive()) << "the port holds a new device; the link's is gone";
  EXPECT_FALSE(exchangeOwn(10));
  driver->setDeviceChangeHandler({});
}

TEST_F(LibUsbDriverTest, ReplugIsSeenByThePeriodicCheckAndByTheNextTransfer) {
  start({.useHotplug = false});
  ASSERT_TRUE(openLink());
  bed.replug(unitDevice);
  EXPECT_TRUE(isLinkAlive()) << "nobody has looked yet";
  EXPECT_TRUE(driver->checkForDeviceChange());
  EXPECT_FALSE(isLinkAlive());
  closeLink();

  // Without a look at the device list, the first transfer on the old
  // handle tells (LIBUSB_ERROR_NO_DEVICE), and the change handler runs.
  ASSERT_TRUE(openLink());
  int changes = 0;
  driver->setDeviceChangeHandler([&] { ++changes; });
  bed.replug(2);
  EXPECT_TRUE(isLinkAlive());
  EXPECT_FALSE(exchangeOwn(10));
  EXPECT_FALSE(isLinkAlive());
  EXPECT_GE(changes, 1);
  driver->setDeviceChangeHandler({});
}

TEST_F(LibUsbDriverTest, StopRequestEndsAWaitForASlowUnit) {
  LogCapture log;
  setUsbTimeoutSeconds(60);
  bed.setNakIdleReads(true);
  startLink();  // with the shipped grace for a last quick answer
  unit->injectFault(SimulatedUnit::Fault::NoReply);
  // Raised from another thread once the read is waiting in the device.
  std::thread stopper([&] {
    for (int i = 0; i < 200000; ++i) {
      const auto urbs = bed.urbs(unitDevice);
      if (std::any_of(urbs.begin(), urbs.end(), [](const SeenUrb& u) { return u.pending; })) break;
      std::this_thread::yield();
    }
    raiseStopRequest();
  });
  const auto before = std::chrono::steady_clock::now();
  uint8_t f[256] = {};
  const size_t n = buildRequest(f, 10);
  EXPECT_FALSE(exchangeFrame(f, 256, n));
  stopper.join();
  const auto took = std::chrono::steady_clock::now() - before;
  RecordProperty("stop_ms", int(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_TRUE(prompts.texts().empty()) << "a stop is no communication error";
  EXPECT_TRUE(anyLine(log.lines(), "stopped at the read"));
}

}  // namespace
}  // namespace vrx4::test
