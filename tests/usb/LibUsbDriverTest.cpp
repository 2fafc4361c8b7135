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

#include "ScriptedPrompter.h"
#include "UmockdevUnit.h"
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

std::vector<SeenUrb> bulkUrbs(const std::vector<SeenUrb>& all) {
  std::vector<SeenUrb> out;
  for (const SeenUrb& u : all)
    if (u.type == USBDEVFS_URB_TYPE_BULK) out.push_back(u);
  return out;
}

class LibUsbDriverTest : public ::testing::Test {
 protected:
  void TearDown() override {
    closeLink();
    setUsbDriver(previous_);
    driver.reset();
  }
  // Devices are added first: libusb must find them when it starts. Unless
  // a test has placed its own, an unrelated device sits on port 1 and the
  // unit on port 2.
  void start(LibUsbOptions options = {}) {
    if (unitDevice < 0) {
      other = bed.addOtherDevice(0x046D, 0xC077, 1);
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
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
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
  EXPECT_EQ(urbs[1].bufferLength, 256);
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
    const auto urbs = bulkUrbs(bed.urbs(unitDevice));
    ASSERT_EQ(urbs.size(), c.zlp ? 3u : 2u);
    EXPECT_EQ(urbs[0].endpoint, kUnitBulkOut);
    EXPECT_EQ(urbs[0].bufferLength, int(c.length));
    if (c.zlp) {
      EXPECT_EQ(urbs[1].endpoint, kUnitBulkOut);
      EXPECT_EQ(urbs[1].bufferLength, 0) << "a real zero-length packet, not a dropped write";
      EXPECT_EQ(urbs[1].status, 0);
    }
    EXPECT_EQ(urbs.back().endpoint, kUnitBulkIn);
  }
  EXPECT_EQ(unit->requests().size(), 4u) << "every request arrived whole";
  EXPECT_TRUE(prompts.texts().empty());
}

TEST_F(LibUsbDriverTest, StalledPipeBringsClearHaltOnBothEndpointsAndTheLinkGoesOn) {
  startLink();
  unit->injectFault(SimulatedUnit::Fault::Stall);
  uint8_t f[256] = {};
  size_t n = buildRequest(f, 10);
  EXPECT_FALSE(exchangeFrame(f, 256, n));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kMsgWriteFailed});
  const auto urbs = bulkUrbs(bed.urbs(unitDevice));
  ASSERT_EQ(urbs.size(), 1u);
  EXPECT_EQ(urbs[0].status, -EPIPE);
  EXPECT_EQ(bed.clearedHalts(unitDevice), (std::vector<unsigned>{kUnitBulkIn, kUnitBulkOut}));
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
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("LIBUSB_ERROR_TIMEOUT") != std::string::npos;
  }));

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

}  // namespace
}  // namespace vrx4::test
