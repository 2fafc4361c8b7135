#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "LinkFixture.h"
#include "link/FrameExchange.h"

namespace vrx4::test {
namespace {

using Fault = SimulatedUnit::Fault;

// Builds a request of the given total length (bodyLength + 3) for command 0x11.
std::vector<uint8_t> request(size_t total, uint8_t command = 0x11) {
  std::vector<uint8_t> f(1024, 0);
  const uint16_t body = uint16_t(total - 3);
  CommandFrame::begin(f.data(), command, body);
  for (size_t i = 3; i < total - 1; ++i) f[i] = uint8_t(i * 7);
  frameChecksum(f.data());
  return f;
}

TEST(FrameChecksum, SumsBodyAndSealsAfterIt) {
  // bodyLength 3: command 0x06 + two payload bytes 0xFF 0x02 -> 0x107 & 0xFF.
  uint8_t f[8] = {3, 0, 0x06, 0xFF, 0x02, 0x55};
  frameChecksum(f);
  EXPECT_EQ(f[5], 0x07);
  EXPECT_EQ(responseChecksum(f), 0x07);
  uint8_t empty[4] = {0, 0, 0x99, 0x99};
  frameChecksum(empty);
  EXPECT_EQ(empty[2], 0);
}

class FrameExchangeTest : public LinkFixture {};

TEST_F(FrameExchangeTest, ZeroLengthPacketFollowsExactlyTheMultiplesOf64) {
  auto unit = openUnit();
  for (size_t total : {64u, 128u, 192u, 256u, 262u, 63u, 65u, 4u}) {
    unit->clearHistory();
    std::vector<uint8_t> f = request(total);
    std::vector<uint8_t> sent(f.begin(), f.begin() + total);
    ASSERT_TRUE(exchangeFrame(f.data(), 512, total)) << total;
    auto t = unit->transfers();
    if (total % 64 == 0) {
      ASSERT_EQ(t.size(), 2u) << total;
      EXPECT_TRUE(t[1].empty());
    } else {
      ASSERT_EQ(t.size(), 1u) << total;
    }
    EXPECT_EQ(t[0], sent) << "exact bytes on the pipe for " << total;
  }
  EXPECT_TRUE(prompts.prompts().empty());
}

TEST_F(FrameExchangeTest, HandComputedFrameGoesOutAsIsAndTheReplyIsChecked) {
  auto unit = openUnit();
  // getUnitInfo request: bodyLength 1, command 6, checksum 6.
  uint8_t buf[256] = {0x01, 0x00, 0x06, 0x00};
  frameChecksum(buf);
  ASSERT_TRUE(exchangeFrame(buf, 256, 4));
  EXPECT_EQ(unit->transfers().at(0), (std::vector<uint8_t>{0x01, 0x00, 0x06, 0x06}));
  // The base unit's answer: bodyLength 2, echo, status 0, checksum 6.
  EXPECT_EQ(buf[0], 2);
  EXPECT_EQ(buf[2], 6);
  EXPECT_EQ(buf[3], 0);
  EXPECT_EQ(buf[4], 6);
}

struct StatusCase {
  Fault fault;
  uint8_t code;
  const char* message;  // nullptr: no message
  int recoveries;
};

TEST_F(FrameExchangeTest, EveryFailurePathShowsItsOneMessage) {
  const StatusCase cases[] = {
      {Fault::ErrorStatus, 228, "No target.", 0},
      {Fault::ErrorStatus, 230, nullptr, 0},
      {Fault::ErrorStatus, 225, "Checksum error.", 0},
      {Fault::ErrorStatus, 226, "Command error.", 0},
      {Fault::ErrorStatus, 227, "Command execution error.", 0},
      {Fault::ErrorStatus, 234, "Flash ROM write error.", 0},
      {Fault::ErrorStatus, 235, "External Flash ROM write error.", 0},
      {Fault::ErrorStatus, 229, nullptr, 0},
      {Fault::ErrorStatus, 233, nullptr, 0},
      {Fault::ErrorStatus, 0x10, nullptr, 0},
      {Fault::WrongEcho, 0, "Command error.", 0},
      {Fault::BadChecksum, 0, "Checksum error.", 0},
      {Fault::BodyLengthPastEnd, 0, "Checksum error.", 0},
      {Fault::ShortReply, 0, "Checksum error.", 0},
      {Fault::EmptyReply, 0, "Checksum error.", 0},
      {Fault::FailWrite, 0, "Communication error to T552-VRX4.", 1},
      {Fault::FailRead, 0, "Communication error from T552-VRX4.", 1},
      {Fault::Stall, 0, "Communication error to T552-VRX4.", 1},
  };
  auto unit = openUnit();
  for (const StatusCase& c : cases) {
    prompts.clear();
    unit->clearHistory();
    unit->injectFault(c.fault, c.code);
    std::vector<uint8_t> f = request(10);
    EXPECT_FALSE(exchangeFrame(f.data(), 256, 10)) << int(c.fault) << "/" << int(c.code);
    auto texts = prompts.texts();
    if (c.message) {
      ASSERT_EQ(texts.size(), 1u) << int(c.fault) << "/" << int(c.code);
      EXPECT_EQ(texts[0], c.message);
      EXPECT_EQ(prompts.prompts()[0].icon, Icon::Stop);
    } else {
      EXPECT_TRUE(texts.empty()) << int(c.fault) << "/" << int(c.code);
    }
    EXPECT_EQ(unit->recoveryCount(), c.recoveries) << int(c.fault);
    // The link stays usable after every failure.
    std::vector<uint8_t> g = request(10);
    EXPECT_TRUE(exchangeFrame(g.data(), 256, 10)) << int(c.fault);
  }
}

TEST_F(FrameExchangeTest, FailedZeroLengthPacketRecoversWithoutMessage) {
  auto unit = openUnit();
  unit->injectFault(Fault::FailZeroLength);
  std::vector<uint8_t> f = request(64);
  EXPECT_FALSE(exchangeFrame(f.data(), 256, 64));
  EXPECT_TRUE(prompts.prompts().empty());
  EXPECT_EQ(unit->recoveryCount(), 1);
}

TEST_F(FrameExchangeTest, BodyLengthPastTheReadLengthIsRefusedInsideTheBuffer) {
  auto unit = openUnit();
  // A reply larger than the read length: the unit's 256-byte page answer read
  // into 8 bytes. The frame claims more than the buffer holds.
  unit->injectFault(Fault::BodyLengthPastEnd);
  std::vector<uint8_t> small(8);
  CommandFrame::begin(small.data(), 0x06, 1);
  frameChecksum(small.data());
  EXPECT_FALSE(exchangeFrame(small.data(), small.size(), 4));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"Checksum error."}));
}

// One unit whose every read returns the same hand-made frame.
class CannedReplyDriver final : public UsbDriver {
 public:
  explicit CannedReplyDriver(std::vector<uint8_t> reply) : reply_(std::move(reply)) {}
  std::optional<std::string> enumerateInterface(int index) override {
    return index == 0 ? std::optional<std::string>("/canned") : std::nullopt;
  }
  UsbHandle open(const std::string&) override { return next_++; }
  void close(UsbHandle) override {}
  bool getDeviceDescriptor(UsbHandle, std::array<uint8_t, 18>& out) override {
    out = {};
    out[8] = uint8_t(kUnitVendorId);
    out[9] = uint8_t(kUnitVendorId >> 8);
    out[10] = uint8_t(kUnitProductId);
    out[11] = uint8_t(kUnitProductId >> 8);
    return true;
  }
  bool getConfiguration(UsbHandle, uint32_t& value) override {
    value = 1;
    return true;
  }
  void recover(UsbHandle) override {}
  bool write(UsbHandle, const uint8_t*, size_t) override { return true; }
  bool read(UsbHandle, uint8_t* data, size_t maxLength, size_t& got) override {
    got = std::min(maxLength, reply_.size());
    std::copy_n(reply_.begin(), got, data);
    return true;
  }
  void setDeviceChangeHandler(std::function<void()>) override {}
  void setTransferTimeouts(uint32_t writeMs, uint32_t readMs) override {
    writeTimeouts.push_back(writeMs);
    readTimeouts.push_back(readMs);
  }
  size_t drain(UsbHandle) override {
    ++drains;
    return 0;
  }
  void setReply(std::vector<uint8_t> reply) { reply_ = std::move(reply); }

  std::vector<uint32_t> writeTimeouts, readTimeouts;
  int drains = 0;

 private:
  std::vector<uint8_t> reply_;
  UsbHandle next_ = 1;
};

TEST_F(FrameExchangeTest, ErrorFrameWithoutAStatusByteShowsNoStatusMessage) {
  // bodyLength 2: command 0x41 and the error marker, then the checksum
  // 0x41 + 0xAA = 0xEB. The checksum byte is not a status code, though it
  // has the value of one.
  CannedReplyDriver canned({0x02, 0x00, 0x41, 0xAA, 0xEB});
  UsbDriver* previous = setUsbDriver(&canned);
  EXPECT_TRUE(openLink());
  uint8_t f[256] = {};
  CommandFrame::begin(f, 0x41, 1);
  frameChecksum(f);
  EXPECT_FALSE(exchangeFrame(f, sizeof f, 4));
  EXPECT_TRUE(prompts.texts().empty());
  closeLink();
  setUsbDriver(previous);
}

// A good, empty response to the command, as the unit sends it.
std::vector<uint8_t> emptyReply(uint8_t command) { return {0x02, 0x00, command, 0x00, command}; }

TEST_F(FrameExchangeTest, EachCommandWaitsAsLongAsItsKindNeedsAndAFailureEmptiesThePipe) {
  CannedReplyDriver canned({});
  UsbDriver* previous = setUsbDriver(&canned);
  ASSERT_TRUE(openLink());
  EXPECT_EQ(canned.drains, 1) << "the pipe is emptied when the link opens";
  auto exchange = [&](uint8_t command, uint8_t echo) {
    canned.setReply(emptyReply(echo));
    uint8_t f[256] = {};
    CommandFrame::begin(f, command, 1);
    frameChecksum(f);
    return exchangeFrame(f, sizeof f, 4);
  };
  struct Case {
    uint8_t command;
    uint32_t timeoutMs;
  } cases[] = {{0x20, 2000},  {0x1D, 2000},  {0x11, 10000}, {0x1C, 10000},
               {0x19, 60000}, {0x04, 60000}, {0x1A, 60000}, {0x22, 60000}};
  for (const Case& c : cases) {
    EXPECT_TRUE(exchange(c.command, c.command));
    EXPECT_EQ(canned.readTimeouts.back(), c.timeoutMs) << int(c.command);
    EXPECT_EQ(canned.writeTimeouts.back(), c.timeoutMs) << int(c.command);
  }
  EXPECT_EQ(canned.drains, 1) << "a good exchange leaves the pipe alone";

  // --usb-timeout 30: every kind scales with the ordinary time-out.
  setUsbTimeoutSeconds(30);
  EXPECT_EQ(exchangeTimeoutMs(0x20), 6000u);
  EXPECT_EQ(exchangeTimeoutMs(0x11), 30000u);
  EXPECT_EQ(exchangeTimeoutMs(0x19), 180000u);
  setUsbTimeoutSeconds(kOrdinaryTimeoutMs / 1000.0);
  EXPECT_EQ(exchangeTimeoutMs(0x11), kOrdinaryTimeoutMs);

  // A response that answers another command may be a late one: its own
  // may follow, so the pipe is emptied.
  LogCapture log;
  EXPECT_FALSE(exchange(0x20, 0x1D));
  EXPECT_EQ(canned.drains, 2);
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{"Command error."});
  const auto lines = log.lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("usb: command 0x20 failed at the echo check after ") != std::string::npos &&
           l.find("(5 of 256 bytes back)") != std::string::npos;
  }));
  closeLink();
  setUsbDriver(previous);
}

TEST_F(FrameExchangeTest, EveryMessageIsAlsoALogLine) {
  LogCapture log;
  auto unit = openUnit();
  unit->injectFault(Fault::ErrorStatus, 228);
  std::vector<uint8_t> f = request(10);
  EXPECT_FALSE(exchangeFrame(f.data(), 256, 10));
  auto lines = log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("No target."), std::string::npos);
}

}  // namespace
}  // namespace vrx4::test
