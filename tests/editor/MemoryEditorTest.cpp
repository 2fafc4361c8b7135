#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>

#include "../sim/SimFixture.h"
#include "image/ImageTransfer.h"
#include "image/ProgramLoader.h"
#include "image/ProgramSaver.h"
#include "view/MemoryEditor.h"

namespace vrx4::test {
namespace {

struct EditorParts {
  std::unique_ptr<ProjectSettings> settings = std::make_unique<ProjectSettings>();
  std::unique_ptr<MemoryImage> image = std::make_unique<MemoryImage>();
  void userArea(uint32_t start, uint32_t size) {
    settings->device.userRomStart = start;
    settings->device.userRomSize = size;
    settings->device.userRomEnd = start + size - 1;
  }
};

TEST(EditorFields, AddressDataAndBlockLists) {
  int32_t a = -1;
  EXPECT_TRUE(parseEditAddress("  1ff0", 0x1000, 0x1FFF, a));
  EXPECT_EQ(a, 0x1FF0);
  EXPECT_FALSE(parseEditAddress("2000", 0x1000, 0x1FFF, a));
  EXPECT_FALSE(parseEditAddress("1F0G", 0x1000, 0x1FFF, a));
  EXPECT_FALSE(parseEditAddress("1000 ", 0x1000, 0x1FFF, a));
  // Empty is address 0, checked like any other.
  EXPECT_FALSE(parseEditAddress("", 0x1000, 0x1FFF, a));
  EXPECT_TRUE(parseEditAddress("", 0, 0x1FFF, a));
  EXPECT_EQ(a, 0);
  // Digits enough to wrap 32 bits never land back in the area.
  EXPECT_FALSE(parseEditAddress("100000000", 0, 0x1FFF, a));
  EXPECT_FALSE(parseEditAddress("1000000000000001000", 0x1000, 0x1FFF, a));

  uint8_t d = 0;
  EXPECT_TRUE(parseEditData(" fF", d));
  EXPECT_EQ(d, 0xFF);
  EXPECT_FALSE(parseEditData("100", d));
  EXPECT_FALSE(parseEditData("", d));
  EXPECT_FALSE(parseEditData("  ", d));
  EXPECT_FALSE(parseClearData("100", d));
  EXPECT_FALSE(parseClearData("10000000FF", d));   // above 32 bits: not 0xFF
  EXPECT_FALSE(parseClearData("000000000FF", d));  // longer than the field
  EXPECT_TRUE(parseClearData("00000000a5", d));
  EXPECT_EQ(d, 0xA5);
  EXPECT_FALSE(parseClearData("", d));

  BlockMask m;
  ASSERT_TRUE(parseBlockList("0-2,5", 8, m));
  for (int k = 0; k < 8; ++k) EXPECT_EQ(m.test(k), k <= 2 || k == 5) << k;
  EXPECT_TRUE(parseBlockList("0007", 8, m));
  EXPECT_TRUE(m.test(7));
  for (const char* bad : {"0 - 2", "2-1", "8", "0-8", "", "1,", ",1", "1-", "1--2", "0,1x", "1234"})
    EXPECT_FALSE(parseBlockList(bad, 8, m)) << bad;
  EXPECT_EQ(defaultBlockList(1), "0");
  EXPECT_EQ(defaultBlockList(12), "0-11");
}

TEST(Editor, ScrollStopsAtTheLastPageAndAtZero) {
  EditorParts p;
  p.userArea(0x1000, 0x800);
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, false);
  EXPECT_EQ(ed.maxTopOffset(), 0x700);
  ed.scrollDown(kScrollLarge);
  EXPECT_EQ(ed.topOffset(), 0x700);
  ed.scrollUp(kScrollSmall);
  EXPECT_EQ(ed.topOffset(), 0x600);
  ed.jumpTo(0x1080);
  EXPECT_EQ(ed.topOffset(), 0x80);
  ed.scrollUp(kScrollSmall);
  EXPECT_EQ(ed.topOffset(), 0);
  // Rows end at the area's end.
  ed.scrollDown(kScrollLarge);
  auto rows = ed.rows(30);
  ASSERT_EQ(rows.size(), 16u);
  EXPECT_EQ(rows.back().address, 0x17F0);
  EXPECT_EQ(rows.front().addressText(), "001700");
}

TEST(Editor, ModifyAtTheEndStaysThereAndRowsShowTheWork) {
  EditorParts p;
  p.userArea(0x1000, 0x800);
  p.image->userImage[0] = 'A';
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, false);
  EXPECT_EQ(ed.rows(1)[0].asciiText(), "A...............");
  ed.modify(0x17FF, 0x41);
  EXPECT_EQ(ed.currentAddress(), 0x17FF);
  ed.modify(ed.currentAddress(), 0x42);
  EXPECT_EQ(ed.currentAddress(), 0x17FF);
  EXPECT_EQ(ed.byteAt(0x17FF), 0x42);
  EXPECT_TRUE(ed.changedAddresses().contains(0x17FF));
  ed.modify(0x1234, 0x7E);
  EXPECT_EQ(ed.currentAddress(), 0x1235);
  EXPECT_EQ(ed.topOffset(), 0x230);
  EXPECT_EQ(ed.rows(1)[0].byteText(4), "7E");
  EXPECT_TRUE(ed.modified());
  EXPECT_TRUE(ed.saveEnabled());
  EXPECT_EQ(p.image->userImage[0x234], 0xFF);  // the image is untouched so far
}

TEST(Editor, UnalignedAreaNeverScrollsBeforeItsStart) {
  EditorParts p;
  p.userArea(0x1008, 0x100);
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, false);
  ed.jumpTo(0x100A);
  EXPECT_EQ(ed.topOffset(), 0);
  EXPECT_EQ(ed.currentAddress(), 0x1008);
  ed.modify(0x100C, 1);
  EXPECT_EQ(ed.topOffset(), 0);
  EXPECT_EQ(ed.rows(1)[0].address, 0x1008);
  EXPECT_EQ(ed.rows(1)[0].bytes[4], 1);
}

TEST(Editor, ClearOverOneBlockDropsOnlyItsMarksAndStaysInsideTheArea) {
  EditorParts p;
  p.settings->device = testDevice();  // 0x10000.., blocks of 0x4000
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, false);
  ed.modify(0x10010, 1);  // block 0
  ed.modify(0x14010, 2);  // block 1
  ed.modify(0x17FFF, 3);  // block 1
  ed.modify(0x18000, 4);  // block 2
  BlockMask one;
  one.set(1);
  ed.clear(one, 0x00, p.settings->device);
  EXPECT_EQ(ed.byteAt(0x14000), 0x00);
  EXPECT_EQ(ed.byteAt(0x17FFF), 0x00);
  EXPECT_EQ(ed.byteAt(0x18000), 4);
  EXPECT_EQ(ed.byteAt(0x13FFF), 0xFF);
  const auto& marks = ed.changedAddresses();
  EXPECT_TRUE(marks.contains(0x10010));
  EXPECT_FALSE(marks.contains(0x14010));
  EXPECT_FALSE(marks.contains(0x17FFF));
  EXPECT_TRUE(marks.contains(0x18000));

  // A block the table places across or outside the area writes only inside.
  DeviceDef odd = p.settings->device;
  odd.blockStart[2] = 0x1E000;  // runs 0x2000 past the area's end
  odd.blockStart[3] = 0x8000;   // wholly below the area
  odd.blockSize[3] = 0x800000;  // and larger than any image
  BlockMask two;
  two.set(2);
  two.set(3);
  ed.clear(two, 0x5A, odd);
  EXPECT_EQ(ed.byteAt(0x1FFFF), 0x5A);
  EXPECT_EQ(ed.byteAt(0x10000), 0x5A);  // block 3 covers the whole area
  EXPECT_EQ(ed.work()[0x10000], 0xFF);  // the first byte past the area
  EXPECT_EQ(ed.work()[0x3FFFFF], 0xFF);
}

TEST(Editor, RangeRemovalCostsTheMarksNotTheRange) {
  EditorParts p;
  p.settings->device = testDevice();
  p.settings->device.userRomStart = 0;
  p.settings->device.userRomEnd = 0x3FFFFF;
  p.settings->device.blockCount = 1;
  p.settings->device.blockStart[0] = 0;
  p.settings->device.blockSize[0] = 0x400000;
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, false);
  ed.modify(0x123456, 1);
  BlockMask all;
  all.set(0);
  ChangedAddressSet big;
  for (uint32_t a = 0; a < 1000; ++a) big.insert(a * 4096);
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 200; ++i) big.removeRange(0x1000000, 0x13FFFFF);  // misses all
  ed.clear(all, 0xFF, p.settings->device);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_TRUE(ed.changedAddresses().empty());
  EXPECT_EQ(big.size(), 1000u);
  big.removeRange(4096, 8191);
  EXPECT_EQ(big.size(), 999u);
  EXPECT_FALSE(big.contains(4096));
  EXPECT_LT(ms.count(), 1000);  // a walk over 4 Mi addresses each time would take far longer
}

TEST(Editor, BootClearFillsTheWholeArea) {
  EditorParts p;
  p.settings->bootStart = 0xF000;
  p.settings->bootEnd = 0xF7FF;
  MemoryEditor ed(ImageArea::Boot, *p.settings, *p.image, false);
  ed.clear(BlockMask{}, 0x12, p.settings->device);
  EXPECT_EQ(ed.byteAt(0xF000), 0x12);
  EXPECT_EQ(ed.byteAt(0xF7FF), 0x12);
  EXPECT_EQ(ed.work()[0x800], 0xFF);
}

class EditorUpload : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    unit = plugIn();
    p.settings->device = testDevice();
    ASSERT_TRUE(setDevice(p.settings->device));
    std::strcpy(p.settings->userFileName, "/x/prog.mot");
    p.settings->userFileNameLength = 11;
    seam.send = [this](ImageArea area) {
      ++sends;
      TransferProgress progress;
      SendPlan plan = prepareSend(progress, area, *p.image, *p.settings);
      sendImageWorker(progress, plan, *p.image, *p.settings);
      return !progress.abandoned();
    };
    seam.save = [this](const uint8_t* work, int32_t s, int32_t e) -> std::optional<std::string> {
      SaveRequest r;
      r.image = work;
      r.areaStart = s;
      r.areaEnd = e;
      r.path = dir.file("saved.mot");
      std::atomic<uint32_t> pos{0};
      if (saveProgramFile(r, pos) != SaveResult::Ok) return std::nullopt;
      return r.path;
    };
  }
  std::shared_ptr<SimulatedProgrammer> unit;
  EditorParts p;
  EditorSeam seam;
  int sends = 0;
};

TEST_F(EditorUpload, NoToTheUploadKeepsTheImageButTheSavedFileHasTheChange) {
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, true);
  ed.modify(0x10020, 0x33);
  prompts.answer(Answer::Yes);  // save
  prompts.answer(Answer::No);   // upload
  EXPECT_EQ(ed.accept(*p.settings, *p.image, seam), MemoryEditor::Close::Ok);
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{kSaveQuestion, kUploadQuestion}));
  EXPECT_EQ(prompts.prompts()[1].buttons, Buttons::YesNoCancel);
  EXPECT_EQ(prompts.prompts()[1].icon, Icon::Warning);
  EXPECT_EQ(p.image->userImage[0x20], 0xFF);
  EXPECT_EQ(sends, 0);
  EXPECT_EQ(ed.saveOutcome(), 3);
  EXPECT_EQ(int(p.settings->userFileStale), 0);  // saved elsewhere: unchanged
  EXPECT_STREQ(p.settings->userFileName, "/x/prog.mot");
  std::ifstream f(dir.file("saved.mot"));
  std::string text((std::istreambuf_iterator<char>(f)), {});
  EXPECT_NE(text.find("S21401002033FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFA6"), std::string::npos) << text.substr(0, 200);
}

TEST_F(EditorUpload, AcceptingSendsEveryBankOfTheArea) {
  // Data in the second half only; the unit gets all of it, blank bytes too.
  p.image->userImage.fill(0x0F);  // protect released
  p.image->bankHasData.fill(0);
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, false);
  ed.modify(0x1FF00, 0x99);
  prompts.answer(Answer::No);   // save
  prompts.answer(Answer::Yes);  // upload
  EXPECT_EQ(ed.accept(*p.settings, *p.image, seam), MemoryEditor::Close::Ok);
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{kSaveQuestion, kUploadQuestion}));
  EXPECT_EQ(sends, 1);
  EXPECT_FALSE(ed.uploadFailed());
  EXPECT_EQ(p.image->bankHasData[1], 1);
  EXPECT_EQ(p.image->userImage[0xFF00], 0x99);
  auto sent = unit->userBufferBytes(0x10000, 0x10000);
  ASSERT_EQ(sent.size(), 0x10000u);
  EXPECT_EQ(sent[0], 0x0F);
  EXPECT_EQ(sent[0x8000], 0x0F);
  EXPECT_EQ(sent[0xFF00], 0x99);
  EXPECT_EQ(int(p.settings->userFileStale), 1);  // changed and never saved
}

TEST_F(EditorUpload, StaleRuleAndProtectQuestion) {
  // Saved under the same name after changes, then the upload is refused:
  // the named file no longer is what the unit holds.
  {
    seam.save = [](const uint8_t*, int32_t, int32_t) { return std::optional<std::string>("/x/prog.mot"); };
    MemoryEditor ed(ImageArea::User, *p.settings, *p.image, true);
    ed.modify(0x10000, 1);
    ASSERT_TRUE(ed.save(seam));
    EXPECT_EQ(ed.saveOutcome(), 2);
    EXPECT_TRUE(ed.changedAddresses().empty());
    EXPECT_FALSE(ed.saveButtonEnabled());
    EXPECT_EQ(ed.cancel(*p.settings), MemoryEditor::Close::Cancel);
    EXPECT_EQ(int(p.settings->userFileStale), 1);
  }
  // A level 2 protect byte: Cancel to that question keeps the editor open
  // and nothing reaches the image.
  prompts.clear();
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, false);
  ed.modify(0x1FFFF, 0xF3);
  prompts.answer(Answer::No);
  prompts.answer(Answer::Yes);
  prompts.answer(Answer::Cancel);
  EXPECT_EQ(ed.accept(*p.settings, *p.image, seam), MemoryEditor::Close::Stay);
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{kSaveQuestion, kUploadQuestion, kLevel2Question}));
  EXPECT_EQ(p.image->userImage[0xFFFF], 0xFF);
  // Cancel at the upload question stays open as well.
  prompts.clear();
  prompts.answer(Answer::No);
  prompts.answer(Answer::Cancel);
  EXPECT_EQ(ed.accept(*p.settings, *p.image, seam), MemoryEditor::Close::Stay);
  EXPECT_EQ(sends, 0);
}

TEST_F(EditorUpload, NoUnitAnsweringMarksTheUploadFailed) {
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, false);
  ed.modify(0x10000, 1);
  unit->injectFaultOnCommand(kCmdBeginUserDataDownload, SimulatedUnit::Fault::ErrorStatus, 0x10);
  prompts.answer(Answer::No);
  prompts.answer(Answer::Yes);
  EXPECT_EQ(ed.accept(*p.settings, *p.image, seam), MemoryEditor::Close::Ok);
  EXPECT_TRUE(ed.uploadFailed());
}

TEST(Editor, UnmodifiedOkTakesOverTheSavedName) {
  EditorParts p;
  p.userArea(0, 0x100);
  MemoryEditor ed(ImageArea::User, *p.settings, *p.image, true);
  EditorSeam seam;
  seam.save = [](const uint8_t*, int32_t, int32_t) { return std::optional<std::string>("/d/read.hex"); };
  ASSERT_TRUE(ed.save(seam));
  EXPECT_EQ(ed.saveOutcome(), 3);
  ScriptedPrompter prompts;
  EXPECT_EQ(ed.accept(*p.settings, *p.image, seam), MemoryEditor::Close::Ok);
  EXPECT_TRUE(prompts.texts().empty());
  EXPECT_STREQ(p.settings->userFileName, "/d/read.hex");
  EXPECT_EQ(int(p.settings->userFileNameLength), 11);
}

}  // namespace
}  // namespace vrx4::test
