// The boot file reader: the 2048-byte span rule, addresses modulo 64 KiB,
// the name rule, and what each failure leaves behind.
#include <gtest/gtest.h>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "image/BootFileReader.h"
#include "image/ProgramLoader.h"

namespace vrx4 {
namespace {

using test::sRecord;

class Boot : public ::testing::Test {
 protected:
  Boot() : image(test::makeImage()) {
    image->bootImage[0] = 0x42;
    settings.bootStart = 0x1234;
    settings.bootEnd = 0x1240;
    settings.bootSize = 0xD;
  }
  bool load(const std::string& name, const std::string& content) {
    std::string path = dir.file(name);
    test::writeFile(path, content);
    return loadBootFile(path, *image, settings);
  }
  void expectCleared() {
    EXPECT_EQ(settings.bootStart, 0u);
    EXPECT_EQ(settings.bootEnd, 0u);
    EXPECT_EQ(settings.bootSize, 0u);
    EXPECT_EQ(image->bootImage[0], 0x42);
  }

  test::TempDir dir;
  test::ScriptedPrompter prompter;
  std::unique_ptr<MemoryImage> image;
  ProjectSettings settings;
};

TEST_F(Boot, FullSpanEndingAtTheTopOfABankIsAccepted) {
  ASSERT_TRUE(load("boot.btp", sRecord('2', 0x0FF800, "A5") + sRecord('2', 0x0FFFFF, "5A") + "S9030000FC\r\n"));
  EXPECT_EQ(settings.bootStart, 0x0FF800u);
  EXPECT_EQ(settings.bootEnd, 0x0FFFFFu);
  EXPECT_EQ(settings.bootSize, 2048u);
  EXPECT_EQ(image->bootImage[0], 0xA5);
  EXPECT_EQ(image->bootImage[1], 0xFF);  // the gap stays blank
  EXPECT_EQ(image->bootImage[2047], 0x5A);
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(Boot, OneByteMoreIsASizeError) {
  EXPECT_FALSE(load("boot.btp", sRecord('1', 0x1000, "01") + sRecord('1', 0x1800, "02")));
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{kBootDataSizeError});
  expectCleared();
}

TEST_F(Boot, ShortFileLeavesTheRestOfTheSpanBlank) {
  image->bootImage[5] = 0;
  ASSERT_TRUE(load("boot.BTP", sRecord('1', 0x2000, "4C4F414445523031")));
  EXPECT_EQ(settings.bootSize, 8u);
  EXPECT_EQ(image->bootImage[0], 'L');
  EXPECT_EQ(image->bootImage[5], 'R');
  EXPECT_EQ(image->bootImage[8], 0xFF);
  EXPECT_EQ(image->bootImage[2047], 0xFF);
}

TEST_F(Boot, EverythingAfterTerminationIsIgnoredEvenDamage) {
  ASSERT_TRUE(load("boot.btp",
                   sRecord('1', 0x100, "11") + "S9030000FC\r\n" + "S1 not a record\r\n" + sRecord('1', 0x2000, "22")));
  EXPECT_EQ(settings.bootSize, 1u);
  EXPECT_EQ(image->bootImage[0], 0x11);
}

TEST_F(Boot, SpanAcrossABankBoundaryKeepsItsBytesInOrder) {
  ASSERT_TRUE(load("boot.btp", sRecord('2', 0x01FFFE, "0102") + sRecord('2', 0x020000, "0304")));
  EXPECT_EQ(settings.bootStart, 0x01FFFEu);
  EXPECT_EQ(image->bootImage[0], 1);
  EXPECT_EQ(image->bootImage[2], 3);
  EXPECT_EQ(image->bootImage[3], 4);
}

TEST_F(Boot, WrongNameAndMissingFileLeaveTheBoundsAlone) {
  EXPECT_FALSE(load("boot.mot", sRecord('1', 0x100, "11")));
  EXPECT_EQ(prompter.texts().back(), kNotBootFileName);
  EXPECT_FALSE(loadBootFile(dir.file("none.btp"), *image, settings));
  EXPECT_EQ(prompter.texts().back(), kFileOpenError);
  EXPECT_EQ(settings.bootStart, 0x1234u);
  EXPECT_EQ(image->bootImage[0], 0x42);
}

TEST_F(Boot, DamagedFilesClearTheBounds) {
  for (const std::string& bad : {sRecord('1', 0x100, "11") + "S1041002AA00\r\n", sRecord('4', 0x100, "11"),
                                 std::string("s1040100110A\r\n"), std::string("S101FE\r\n")}) {
    prompter.clear();
    settings.bootStart = 7;
    EXPECT_FALSE(load("boot.btp", bad)) << bad;
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{kFileFormatError}) << bad;
    expectCleared();
  }
}

TEST_F(Boot, FileWithoutDataIsRefused) {
  for (const std::string& empty : {std::string(), std::string("S0030000FC\r\nS9030000FC\r\n")}) {
    prompter.clear();
    EXPECT_FALSE(load("boot.btp", empty));
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{kBootNoData});
    expectCleared();
  }
}

}  // namespace
}  // namespace vrx4
