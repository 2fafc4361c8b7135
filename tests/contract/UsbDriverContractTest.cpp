// What every USB driver must do for the link above it, checked the same way
// against each implementation so that they cannot drift apart.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ScriptedPrompter.h"
#include "UsbDriverBackends.h"
#include "link/FrameExchange.h"
#include "link/UsbLink.h"

namespace vrx4::test {
namespace {

template <class Backend>
class UsbDriverContract : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!backend_.start(unit, why)) GTEST_SKIP() << Backend::kName << ": " << why;
  }
  void TearDown() override {
    UsbDriver& d = backend_.driver();
    for (UsbHandle h : open_) d.close(h);
  }
  UsbDriver& driver() { return backend_.driver(); }
  std::string unitPath() const { return backend_.unitPath(); }

  UsbHandle openTracked(const std::string& path) {
    const UsbHandle h = driver().open(path);
    if (h != kInvalidHandle) open_.push_back(h);
    return h;
  }
  void closeTracked(UsbHandle h) {
    driver().close(h);
    std::erase(open_, h);
  }
  struct Opened {
    UsbHandle device = kInvalidHandle;
    UsbHandle in = kInvalidHandle;
    UsbHandle out = kInvalidHandle;
  };
  // Enumerates first, as the link does, then opens the device and its pipes.
  Opened openUnit() {
    Opened o;
    for (int i = 0; i < 16; ++i)
      if (!driver().enumerateInterface(i)) break;
    o.device = openTracked(unitPath());
    o.in = openTracked(pipePath(unitPath(), 0, 0));
    o.out = openTracked(pipePath(unitPath(), 0, 1));
    EXPECT_NE(o.device, kInvalidHandle);
    EXPECT_NE(o.in, kInvalidHandle);
    EXPECT_NE(o.out, kInvalidHandle);
    unit->clearHistory();
    return o;
  }
  // A sealed request of the given total length.
  static std::vector<uint8_t> request(size_t length, uint8_t command = 0x21) {
    std::vector<uint8_t> f(length);
    CommandFrame::begin(f.data(), command, uint16_t(length - 3));
    for (size_t i = 3; i + 1 < length; ++i) f[i] = uint8_t(i * 7);
    frameChecksum(f.data());
    return f;
  }
  // Reads one response and checks it is the good, empty answer to command.
  void expectEmptyResponse(UsbHandle in, uint8_t command) {
    uint8_t r[256] = {};
    size_t got = 0;
    ASSERT_TRUE(driver().read(in, r, sizeof r, got));
    ASSERT_EQ(got, 5u);
    EXPECT_EQ(CommandFrame::bodyLength(r), 2);
    EXPECT_EQ(r[2], command);
    EXPECT_EQ(r[3], 0x00);
    EXPECT_EQ(r[4], responseChecksum(r));
  }

  std::shared_ptr<SimulatedUnit> unit = std::make_shared<SimulatedUnit>(kUnitVendorId, kUnitProductId);

 private:
  Backend backend_;
  std::vector<UsbHandle> open_;
};

#ifdef VRX4_CONTRACT_LIBUSB
using Backends = ::testing::Types<SimBackend, SocketBackend, LibUsbBackend>;
#else
using Backends = ::testing::Types<SimBackend, SocketBackend>;
#endif

class BackendNames {
 public:
  template <class T>
  static std::string GetName(int) {
    return T::kName;
  }
};
TYPED_TEST_SUITE(UsbDriverContract, Backends, BackendNames);

TYPED_TEST(UsbDriverContract, EnumeratesTheUnitAndAnswersItsDeviceRequests) {
  std::set<std::string> paths;
  std::optional<std::string> p;
  int i = 0;
  for (; i < 16 && (p = this->driver().enumerateInterface(i)); ++i) paths.insert(*p);
  EXPECT_LT(i, 16) << "the enumeration ends";
  EXPECT_EQ(this->driver().enumerateInterface(-1), std::nullopt);
  EXPECT_EQ(paths.size(), size_t(i)) << "every member has a path of its own";
  ASSERT_TRUE(paths.count(this->unitPath()));

  const UsbHandle device = this->openTracked(this->unitPath());
  ASSERT_NE(device, kInvalidHandle);
  std::array<uint8_t, 18> d{};
  ASSERT_TRUE(this->driver().getDeviceDescriptor(device, d));
  EXPECT_EQ(d, this->unit->deviceDescriptor()) << "the 18 bytes as the device sends them";
  uint32_t config = 0;
  ASSERT_TRUE(this->driver().getConfiguration(device, config));
  EXPECT_EQ(config, 1u);

  // Other members open too and tell a descriptor of their own.
  for (const std::string& other : paths) {
    if (other == this->unitPath()) continue;
    const UsbHandle h = this->openTracked(other);
    ASSERT_NE(h, kInvalidHandle) << other;
    std::array<uint8_t, 18> od{};
    ASSERT_TRUE(this->driver().getDeviceDescriptor(h, od));
    EXPECT_NE(od, d);
  }
  EXPECT_EQ(this->driver().open(this->unitPath() + "-no-such-device"), kInvalidHandle);
}

TYPED_TEST(UsbDriverContract, RequestGoesOutOnPipeOneAndItsResponseComesInOnPipeZero) {
  auto o = this->openUnit();
  const auto req = this->request(10, 0x06);
  ASSERT_TRUE(this->driver().write(o.out, req.data(), req.size()));
  this->expectEmptyResponse(o.in, 0x06);
  EXPECT_EQ(this->unit->requests(), std::vector<std::vector<uint8_t>>{req});
}

TYPED_TEST(UsbDriverContract, ZeroLengthWriteCompletesARequestThatFillsItsLastPacket) {
  auto o = this->openUnit();
  const auto req = this->request(64);
  ASSERT_TRUE(this->driver().write(o.out, req.data(), req.size()));
  uint8_t r[256];
  size_t got = 1;
  EXPECT_FALSE(this->driver().read(o.in, r, sizeof r, got)) << "the unit waits for the end of the transfer";
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(this->driver().write(o.out, nullptr, 0));
  this->expectEmptyResponse(o.in, 0x21);
  const auto transfers = this->unit->transfers();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0], req);
  EXPECT_TRUE(transfers[1].empty());
}

TYPED_TEST(UsbDriverContract, RecoveryRequestClearsAStall) {
  auto o = this->openUnit();
  this->unit->injectFault(SimulatedUnit::Fault::Stall);
  const auto req = this->request(10);
  EXPECT_FALSE(this->driver().write(o.out, req.data(), req.size()));
  uint8_t r[256];
  size_t got = 0;
  EXPECT_FALSE(this->driver().read(o.in, r, sizeof r, got)) << "both pipes stay halted";
  EXPECT_FALSE(this->driver().write(o.out, req.data(), req.size()));

  this->driver().recover(o.device);
  EXPECT_GE(this->unit->recoveryCount(), 1);
  EXPECT_FALSE(this->unit->halted());
  ASSERT_TRUE(this->driver().write(o.out, req.data(), req.size()));
  this->expectEmptyResponse(o.in, 0x21);
}

TYPED_TEST(UsbDriverContract, ReadFailsWhenTheUnitHasNothingToSend) {
  auto o = this->openUnit();
  uint8_t r[256];
  size_t got = 7;
  EXPECT_FALSE(this->driver().read(o.in, r, sizeof r, got));
  EXPECT_EQ(got, 0u);
  // ... and the pipe still works afterwards.
  const auto req = this->request(10);
  ASSERT_TRUE(this->driver().write(o.out, req.data(), req.size()));
  this->expectEmptyResponse(o.in, 0x21);
}

TYPED_TEST(UsbDriverContract, HandlesServeOnlyTheirOwnKindAndStopWhenClosed) {
  auto o = this->openUnit();
  const auto req = this->request(10);
  uint8_t r[256];
  size_t got = 0;
  std::array<uint8_t, 18> d{};
  EXPECT_FALSE(this->driver().write(o.in, req.data(), req.size())) << "pipe 0 is the IN pipe";
  EXPECT_FALSE(this->driver().read(o.out, r, sizeof r, got)) << "pipe 1 is the OUT pipe";
  EXPECT_FALSE(this->driver().write(o.device, req.data(), req.size()));
  EXPECT_FALSE(this->driver().getDeviceDescriptor(o.in, d));
  EXPECT_TRUE(this->unit->transfers().empty());

  this->closeTracked(o.out);
  EXPECT_FALSE(this->driver().write(o.out, req.data(), req.size()));
  this->closeTracked(o.in);
  EXPECT_FALSE(this->driver().read(o.in, r, sizeof r, got));
  EXPECT_TRUE(this->driver().getDeviceDescriptor(o.device, d)) << "the device outlives its pipes";
  this->closeTracked(o.device);
  EXPECT_FALSE(this->driver().getDeviceDescriptor(o.device, d));
  uint32_t config = 0;
  EXPECT_FALSE(this->driver().getConfiguration(o.device, config));
  EXPECT_TRUE(this->unit->transfers().empty());
  this->driver().close(o.device);  // closing twice is harmless
  this->driver().close(kInvalidHandle);
}

TYPED_TEST(UsbDriverContract, CarriesTheLinkAndItsFrameExchange) {
  ScriptedPrompter prompts;
  FakeClockScope fakeClock;
  UsbDriver* previous = setUsbDriver(&this->driver());
  ASSERT_TRUE(openLink());
  EXPECT_EQ(slotPath(linkSlot()), this->unitPath());
  EXPECT_TRUE(isLinkAlive());
  this->unit->clearHistory();
  auto f = this->request(64);  // needs the zero-length packet
  f.resize(256);
  EXPECT_TRUE(exchangeFrame(f.data(), 256, 64));
  EXPECT_EQ(this->unit->requests().size(), 1u);
  EXPECT_TRUE(prompts.texts().empty());
  closeLink();
  setUsbDriver(previous);
}

}  // namespace
}  // namespace vrx4::test
