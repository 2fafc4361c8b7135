#include <gtest/gtest.h>

#include <cstring>

#include "ScriptedUnit.h"
#include "link/Commands.h"
#include "view/OperationStart.h"

namespace vrx4::test {
namespace {

class OperationStartTest : public ScriptedUnitFixture {
 protected:
  void SetUp() override {
    ScriptedUnitFixture::SetUp();
    image = std::make_unique<MemoryImage>();
    settings = std::make_unique<ProjectSettings>();
    settings->device.userRomStart = 0x1000;
    settings->device.userRomEnd = 0x8FFF;
    std::strcpy(settings->userFileName, "/x/prog.hex");
    settings->userFileNameLength = 11;
    settings->userChecksum = 0x1234;
    settings->protectLevel = 2;
    settings->idCode.idLength = 7;
    settings->idCode.idBytes[0] = 0xAB;
    image->userImage[5] = 0x11;
  }
  ProgrammingDialogRunner dialog(OperationOutcome o) {
    return [this, o](int index, uint32_t total) {
      dialogIndex = index;
      dialogTotal = total;
      return o;
    };
  }
  std::unique_ptr<MemoryImage> image;
  std::unique_ptr<ProjectSettings> settings;
  bool pending = false;
  int dialogIndex = -1;
  uint32_t dialogTotal = 0;
};

TEST_F(OperationStartTest, PassedReadMarksTheImageAsLivingInTheUnit) {
  OperationRun r = runOperation(5, *settings, *image, pending, dialog({true, 1}));
  EXPECT_TRUE(r.started);
  EXPECT_TRUE(r.readBack);
  EXPECT_EQ(r.lastResult, 1);
  EXPECT_EQ(dialogIndex, 5);
  EXPECT_EQ(dialogTotal, 0x8000u);
  EXPECT_TRUE(pending);
  EXPECT_STREQ(settings->userFileName, "** Read Data **");
  EXPECT_EQ(settings->userFileNameLength, 15);
  EXPECT_EQ(settings->userChecksum, 0);
  EXPECT_EQ(settings->protectLevel, 0);
  EXPECT_EQ(settings->idCode.idBytes[0], 0);
  EXPECT_EQ(settings->idCode.idLength, 7) << "the length stays";
  EXPECT_EQ(image->userImage[5], 0x00);
  EXPECT_EQ(image->userImage[kUserImageSize - 1], 0x00);
  auto reqs = unit->requests();
  ASSERT_GE(reqs.size(), 2u);
  EXPECT_EQ(reqs.front()[2], kCmdStartOperation);
  EXPECT_EQ(reqs.back()[2], kCmdSetUserFileName);
  EXPECT_EQ(std::string(reqs.back().begin() + 4, reqs.back().end() - 1), "** Read Data **");
}

TEST_F(OperationStartTest, OtherOutcomesLeaveTheImageAndFileAlone) {
  struct Case {
    int index;
    OperationOutcome outcome;
    uint8_t shown;
  } cases[] = {{5, {true, 7}, 7}, {5, {false, 1}, 0}, {0, {true, 1}, 1}, {1, {true, 8}, 8}};
  for (const Case& c : cases) {
    OperationRun r = runOperation(c.index, *settings, *image, pending, dialog(c.outcome));
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.readBack);
    EXPECT_EQ(r.lastResult, c.shown);
    EXPECT_FALSE(pending);
    EXPECT_STREQ(settings->userFileName, "/x/prog.hex");
    EXPECT_EQ(image->userImage[5], 0x11);
  }
  EXPECT_EQ(unit->count(kCmdSetUserFileName), 0);
}

TEST_F(OperationStartTest, FailedStartShowsNoDialog) {
  unit->on(kCmdStartOperation, [](const uint8_t*, size_t) { return ScriptedUnit::fail(228); });
  OperationRun r = runOperation(0, *settings, *image, pending, dialog({true, 1}));
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.lastResult, 0);
  EXPECT_EQ(dialogIndex, -1);
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"No target."}));
}

}  // namespace
}  // namespace vrx4::test
