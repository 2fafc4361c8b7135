#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "ScriptedUnit.h"
#include "image/ImageTransfer.h"
#include "link/Commands.h"

namespace vrx4::test {
namespace {

class ImageTransferTest : public ScriptedUnitFixture {
 protected:
  void SetUp() override {
    ScriptedUnitFixture::SetUp();
    image = std::make_unique<MemoryImage>();
    settings = std::make_unique<ProjectSettings>();
    unit->on(kCmdWriteDataPage, [this](const uint8_t* p, size_t n) {
      EXPECT_EQ(n, 258u);
      uint16_t page = uint16_t(p[0] | (p[1] << 8));
      pages.push_back(page);
      firstBytes.push_back(p[2]);
      if (onPage) onPage(page);
      return ScriptedUnit::ok();
    });
    unit->on(kCmdGetBusyState, [this](const uint8_t*, size_t) {
      ++busyPolls;
      return busyPolls <= busyFor ? ScriptedUnit::ok({1}) : ScriptedUnit::ok({0});
    });
  }
  void device(uint32_t start, uint32_t size) {
    settings->device.userRomStart = start;
    settings->device.userRomSize = size;
    settings->device.userRomEnd = start + size - 1;
  }

  std::unique_ptr<MemoryImage> image;
  std::unique_ptr<ProjectSettings> settings;
  std::vector<uint16_t> pages;
  std::vector<uint8_t> firstBytes;
  std::function<void(uint16_t)> onPage;
  int busyPolls = 0;
  int busyFor = 0;
  TransferProgress progress;
};

TEST_F(ImageTransferTest, DataOnlyInBankOneSendsExactlyItsPages) {
  device(0x00000, 0x40000);
  image->bankHasData[1] = 1;
  image->userImage[0x10000] = 0x5A;
  busyFor = 2;
  SendPlan plan = prepareSend(progress, ImageArea::User, *image, *settings);
  EXPECT_EQ(plan.bankMaskLow, 0x2u);
  EXPECT_EQ(progress.maximum, 65536u + 4096u);
  EXPECT_EQ(progress.completionAllowance, 4096u);
  sendImageWorker(progress, plan, *image, *settings);
  ASSERT_EQ(pages.size(), 256u);
  for (size_t i = 0; i < pages.size(); ++i) EXPECT_EQ(pages[i], 0x100 + i);
  EXPECT_EQ(firstBytes[0], 0x5A);
  EXPECT_EQ(firstBytes[1], 0xFF);
  EXPECT_EQ(unit->commands().front(), kCmdBeginUserDataDownload);
  EXPECT_EQ(busyPolls, 3);
  EXPECT_FALSE(progress.abandoned());
  EXPECT_EQ(progress.position, 65536u);
}

TEST_F(ImageTransferTest, NoMarkedBankSendsNoPageButBeginsAndPolls) {
  device(0x00000, 0x40000);
  SendPlan plan = prepareSend(progress, ImageArea::User, *image, *settings);
  EXPECT_EQ(progress.maximum, 0u);
  sendImageWorker(progress, plan, *image, *settings);
  EXPECT_TRUE(pages.empty());
  EXPECT_EQ(unit->commands(), (std::vector<uint8_t>{kCmdBeginUserDataDownload, kCmdGetBusyState}));
  EXPECT_FALSE(progress.abandoned());
}

TEST_F(ImageTransferTest, SmallRomCapsTheBarAndStopsAtTheRomEnd) {
  // 32 KiB ROM off a bank boundary: one marked bank, maximum capped to the size.
  device(0x8000, 0x8000);
  image->bankHasData[0] = 1;
  SendPlan plan = prepareSend(progress, ImageArea::User, *image, *settings);
  EXPECT_EQ(progress.maximum, 0x8000u + 4096u);
  sendImageWorker(progress, plan, *image, *settings);
  ASSERT_EQ(pages.size(), 128u);
  EXPECT_EQ(pages.front(), 0x80);
  EXPECT_EQ(pages.back(), 0xFF);
}

TEST_F(ImageTransferTest, EscapeStopsFurtherPagesWaitsForTheUnitAndCancels) {
  device(0x00000, 0x40000);
  image->bankHasData[0] = image->bankHasData[1] = 1;
  busyFor = 4;
  onPage = [this](uint16_t) {
    if (pages.size() == 10) progress.abandon();  // Esc while the worker runs
  };
  SendPlan plan = prepareSend(progress, ImageArea::User, *image, *settings);
  sendImageWorker(progress, plan, *image, *settings);
  EXPECT_EQ(pages.size(), 10u);
  EXPECT_EQ(busyPolls, 5) << "the completion poll still runs until not busy";
  EXPECT_TRUE(progress.abandoned());
}

TEST_F(ImageTransferTest, EscapeAtTheVeryEndIsNeverLost) {
  // A boot area smaller than the completion allowance: the worker's last
  // act moves the bar up to the allowance. An Esc from the GUI thread that
  // lands just then must still end the send as Cancel.
  settings->bootStart = 0xF000;
  settings->bootEnd = 0xF0FF;
  settings->bootSize = 0x100;
  std::atomic<bool> go{false};
  std::atomic<unsigned> spin{0};
  std::thread esc;
  unit->on(kCmdGetBusyState, [&](const uint8_t*, size_t) {
    go = true;  // the last poll: the Esc comes while the worker finishes
    return ScriptedUnit::ok({0});
  });
  std::mt19937 rng(7);
  int lost = 0;
  for (int run = 0; run < 3000; ++run) {
    go = false;
    spin = rng() % 3000;
    SendPlan plan = prepareSend(progress, ImageArea::Boot, *image, *settings);
    esc = std::thread([&] {
      while (!go) {}
      for (unsigned i = 0; i < spin; ++i) asm volatile("" ::: "memory");
      progress.abandon();
    });
    sendImageWorker(progress, plan, *image, *settings);
    esc.join();
    lost += progress.abandoned() ? 0 : 1;
  }
  EXPECT_EQ(lost, 0) << "of 3000 sends cancelled at their end";
}

TEST_F(ImageTransferTest, FailedStatusRequestEndsThePollAndFailsTheTransfer) {
  device(0x00000, 0x10000);
  image->bankHasData[0] = 1;
  unit->on(kCmdGetBusyState, [this](const uint8_t*, size_t) {
    ++busyPolls;
    return busyPolls == 1 ? ScriptedUnit::ok({1}) : ScriptedUnit::fail(227);
  });
  SendPlan plan = prepareSend(progress, ImageArea::User, *image, *settings);
  sendImageWorker(progress, plan, *image, *settings);
  EXPECT_EQ(busyPolls, 2);
  EXPECT_TRUE(progress.abandoned());
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"Command execution error."}));
}

TEST_F(ImageTransferTest, FailedBeginOrPageAbandonsTheSend) {
  device(0x00000, 0x10000);
  image->bankHasData[0] = 1;
  unit->on(kCmdBeginUserDataDownload, [](const uint8_t*, size_t) { return ScriptedUnit::fail(228); });
  SendPlan plan = prepareSend(progress, ImageArea::User, *image, *settings);
  sendImageWorker(progress, plan, *image, *settings);
  EXPECT_TRUE(progress.abandoned());
  EXPECT_TRUE(pages.empty());
  EXPECT_EQ(unit->count(kCmdGetBusyState), 0);
}

TEST_F(ImageTransferTest, BootAreaTravelsInBankFifteen) {
  settings->bootStart = 0x1FF000;
  settings->bootEnd = 0x1FF1FF;
  settings->bootSize = 0x200;
  image->bootImage[0] = 0x11;
  image->bootImage[256] = 0x22;
  SendPlan plan = prepareSend(progress, ImageArea::Boot, *image, *settings);
  EXPECT_EQ(plan.bankMaskLow, 0x8000u);
  EXPECT_EQ(progress.maximum, 0x200u + 4096u);
  sendImageWorker(progress, plan, *image, *settings);
  EXPECT_EQ(unit->commands().front(), kCmdBeginBootDataDownload);
  EXPECT_EQ(pages, (std::vector<uint16_t>{0xFF0, 0xFF1}));
  EXPECT_EQ(firstBytes, (std::vector<uint8_t>{0x11, 0x22}));
}

TEST_F(ImageTransferTest, BootAreaOffAPageBoundaryLandsAtItsOwnAddresses) {
  // Page p holds unit addresses p * 256 .. p * 256 + 255, so a boot area that
  // starts inside a page (or crosses into the next bank) must be sent in
  // whole pages with each byte at its own offset.
  std::map<uint16_t, std::vector<uint8_t>> sent;
  unit->on(kCmdWriteDataPage, [&sent](const uint8_t* p, size_t) {
    sent[uint16_t(p[0] | (p[1] << 8))].assign(p + 2, p + 258);
    return ScriptedUnit::ok();
  });
  settings->bootStart = 0x1F0F80;
  settings->bootEnd = 0x1F107F;
  settings->bootSize = 0x100;
  image->bootImage[0] = 0x11;
  image->bootImage[0xFF] = 0x22;
  SendPlan plan = prepareSend(progress, ImageArea::Boot, *image, *settings);
  sendImageWorker(progress, plan, *image, *settings);
  ASSERT_EQ(sent.size(), 2u);
  ASSERT_TRUE(sent.count(0xF0F) && sent.count(0xF10));
  EXPECT_EQ(sent[0xF0F][0x7F], 0xFF);
  EXPECT_EQ(sent[0xF0F][0x80], 0x11);
  EXPECT_EQ(sent[0xF10][0x7F], 0x22);
  EXPECT_FALSE(progress.abandoned());

  sent.clear();
  TransferProgress p2;
  settings->bootStart = 0x01FFFE;
  settings->bootEnd = 0x020001;
  settings->bootSize = 4;
  image->bootImage[0] = 1;
  image->bootImage[2] = 3;
  plan = prepareSend(p2, ImageArea::Boot, *image, *settings);
  sendImageWorker(p2, plan, *image, *settings);
  ASSERT_EQ(sent.size(), 2u) << "both ends of a span across a bank boundary travel";
  ASSERT_TRUE(sent.count(0xFFF) && sent.count(0xF00));
  EXPECT_EQ(sent[0xFFF][0xFE], 1);
  EXPECT_EQ(sent[0xF00][0x00], 3);
  EXPECT_FALSE(p2.abandoned());
}

TEST_F(ImageTransferTest, FetchReadsEveryPageAndOneForAOneByteArea) {
  unit->on(kCmdReadDataPage, [this](const uint8_t* p, size_t) {
    uint16_t page = uint16_t(p[0] | (p[1] << 8));
    pages.push_back(page);
    std::vector<uint8_t> d(2 + 256, uint8_t(page));
    return ScriptedUnit::ok(d);
  });
  device(0x20000, 0x1000);
  prepareFetch(progress, ImageArea::User, *settings);
  EXPECT_EQ(progress.maximum, 0x1000u);
  fetchImageWorker(progress, ImageArea::User, *image, *settings);
  EXPECT_EQ(pages.size(), 16u);
  EXPECT_EQ(pages.front(), 0x200);
  EXPECT_EQ(image->userImage[0], 0x00);
  EXPECT_EQ(image->userImage[0x0FFF], 0x0F);
  EXPECT_EQ(image->userImage[0x1000], 0xFF);
  EXPECT_FALSE(progress.abandoned());

  // An area of one byte still has that byte to read; without a device
  // (user ROM of size 0) there is nothing.
  pages.clear();
  TransferProgress p2;
  device(0x30000, 1);
  prepareFetch(p2, ImageArea::User, *settings);
  fetchImageWorker(p2, ImageArea::User, *image, *settings);
  EXPECT_EQ(pages, (std::vector<uint16_t>{0x300}));
  EXPECT_EQ(image->userImage[0], 0x00);
  EXPECT_FALSE(p2.abandoned());
  pages.clear();
  TransferProgress p3;
  *settings = ProjectSettings{};
  prepareFetch(p3, ImageArea::User, *settings);
  fetchImageWorker(p3, ImageArea::User, *image, *settings);
  EXPECT_TRUE(pages.empty());
  EXPECT_FALSE(p3.abandoned());
}

// The unit's buffer as the fetch sees it: every byte tells its own unit
// address, so a byte read from the wrong page or offset shows.
class FetchFromUnitTest : public ImageTransferTest {
 protected:
  void SetUp() override {
    ImageTransferTest::SetUp();
    unit->on(kCmdReadDataPage, [this](const uint8_t* p, size_t) {
      uint16_t page = uint16_t(p[0] | (p[1] << 8));
      pages.push_back(page);
      std::vector<uint8_t> d(2 + 256);
      for (int j = 0; j < 256; ++j) d[size_t(2 + j)] = byteAt(uint32_t(page) * 256 + uint32_t(j));
      return ScriptedUnit::ok(d);
    });
  }
  static uint8_t byteAt(uint32_t unitAddress) { return uint8_t(unitAddress * 7 + (unitAddress >> 8)); }
};

TEST_F(FetchFromUnitTest, LastAddressOnAPageStartIsRead) {
  device(0, 0x101);
  prepareFetch(progress, ImageArea::User, *settings);
  fetchImageWorker(progress, ImageArea::User, *image, *settings);
  EXPECT_EQ(pages, (std::vector<uint16_t>{0x000, 0x001}));
  EXPECT_EQ(image->userImage[0x100], byteAt(0x100));
  EXPECT_EQ(image->userImage[0x101], 0xFF);
  EXPECT_EQ(progress.position, progress.maximum.load());
  EXPECT_FALSE(progress.abandoned());
}

TEST_F(FetchFromUnitTest, BootAreaComesFromThePagesTheSendUses) {
  // Inside one bank, off a page boundary.
  settings->bootStart = 0x1F0F80;
  settings->bootEnd = 0x1F107F;
  settings->bootSize = 0x100;
  prepareFetch(progress, ImageArea::Boot, *settings);
  fetchImageWorker(progress, ImageArea::Boot, *image, *settings);
  EXPECT_EQ(pages, (std::vector<uint16_t>{0xF0F, 0xF10}));
  EXPECT_EQ(image->bootImage[0], byteAt(0xF0F80));
  EXPECT_EQ(image->bootImage[0xFF], byteAt(0xF107F));
  EXPECT_FALSE(progress.abandoned());

  // Across a bank boundary: the bytes past the top of bank 15 come from
  // its start, where the send put them.
  pages.clear();
  image->bootImage.fill(0xFF);
  TransferProgress p2;
  settings->bootStart = 0x01FFFE;
  settings->bootEnd = 0x020001;
  settings->bootSize = 4;
  prepareFetch(p2, ImageArea::Boot, *settings);
  fetchImageWorker(p2, ImageArea::Boot, *image, *settings);
  EXPECT_EQ(pages, (std::vector<uint16_t>{0xFFF, 0xF00}));
  EXPECT_EQ(image->bootImage[0], byteAt(0xFFFFE));
  EXPECT_EQ(image->bootImage[1], byteAt(0xFFFFF));
  EXPECT_EQ(image->bootImage[2], byteAt(0xF0000));
  EXPECT_EQ(image->bootImage[3], byteAt(0xF0001));
  EXPECT_EQ(image->bootImage[4], 0xFF);
  EXPECT_EQ(p2.position, 4u);
  EXPECT_FALSE(p2.abandoned());
}

TEST_F(ImageTransferTest, FetchOfAnAreaOffAPageBoundaryTakesEachByteFromItsOwnAddress) {
  unit->on(kCmdReadDataPage, [this](const uint8_t* p, size_t) {
    uint16_t page = uint16_t(p[0] | (p[1] << 8));
    pages.push_back(page);
    std::vector<uint8_t> d(2 + 256);
    for (int j = 0; j < 256; ++j) d[size_t(2 + j)] = uint8_t((page & 1) * 0x80 + (j >> 1));
    return ScriptedUnit::ok(d);
  });
  device(0x20080, 0x100);
  prepareFetch(progress, ImageArea::User, *settings);
  fetchImageWorker(progress, ImageArea::User, *image, *settings);
  EXPECT_EQ(pages, (std::vector<uint16_t>{0x200, 0x201}));
  EXPECT_EQ(image->userImage[0], 0x40);     // unit address 0x20080
  EXPECT_EQ(image->userImage[0x7F], 0x7F);  // 0x200FF
  EXPECT_EQ(image->userImage[0x80], 0x80);  // 0x20100
  EXPECT_EQ(image->userImage[0xFF], 0xBF);  // 0x2017F
  EXPECT_EQ(image->userImage[0x100], 0xFF);
  EXPECT_FALSE(progress.abandoned());
}

TEST_F(ImageTransferTest, FailedFetchKeepsThePagesReadSoFar) {
  auto n = std::make_shared<int>(0);
  unit->on(kCmdReadDataPage, [n](const uint8_t*, size_t) {
    return ++*n == 3 ? ScriptedUnit::fail(227) : ScriptedUnit::ok(std::vector<uint8_t>(258, 0x42));
  });
  device(0, 0x10000);
  prepareFetch(progress, ImageArea::User, *settings);
  fetchImageWorker(progress, ImageArea::User, *image, *settings);
  EXPECT_TRUE(progress.abandoned());
  EXPECT_EQ(image->userImage[511], 0x42);
  EXPECT_EQ(image->userImage[512], 0xFF);
}

}  // namespace
}  // namespace vrx4::test
