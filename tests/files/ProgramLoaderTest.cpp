// Whole-file loads: formats by name, the area rule and its question, the
// protect questions, the ID code, bank marks and the all-or-nothing image.
#include <gtest/gtest.h>

#include <algorithm>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "image/ProgramLoader.h"

namespace vrx4 {
namespace {

using test::hexRecord;
using test::sRecord;

class Loader : public ::testing::Test {
 protected:
  Loader() : image(test::makeImage()), device(test::makeDevice(0x0000, 0x20000)) {
    // Something in the image that a failed load must not touch.
    image->userImage[5] = 0x42;
  }
  bool load(const std::string& name, const std::string& content, LoadMode mode = LoadMode::Interactive) {
    std::string path = dir.file(name);
    test::writeFile(path, content);
    return loadProgramFile(mode, path, device, *image, idCode, protectLevel);
  }
  void expectUntouched() { EXPECT_EQ(image->userImage[5], 0x42); }

  test::TempDir dir;
  test::ScriptedPrompter prompter;
  std::unique_ptr<MemoryImage> image;
  DeviceDef device;
  IdCode idCode;
  int32_t protectLevel = -1;
};

TEST_F(Loader, HexInEitherCaseWithOrWithoutEndRecordAndExtendedAddresses) {
  std::string body = hexRecord(0, 0x0010, "0102030405") + hexRecord(4, 0, "0001") + hexRecord(0, 0x0000, "A1") +
                     hexRecord(2, 0, "1000") + hexRecord(0, 0x0001, "A2");
  ASSERT_TRUE(load("p.hex", body + ":00000001FF\r\n"));
  EXPECT_EQ(image->userImage[0x10], 1);
  EXPECT_EQ(image->userImage[0x14], 5);
  EXPECT_EQ(image->userImage[0x10000], 0xA1);
  EXPECT_EQ(image->userImage[0x10001], 0xA2);
  EXPECT_EQ(image->userImage[5], 0xFF);  // the area is rewritten
  EXPECT_EQ(image->bankHasData[0], 1);
  EXPECT_EQ(image->bankHasData[1], 1);
  EXPECT_EQ(image->bankHasData[2], 0);

  std::string lower = body;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  image->userImage.fill(0);
  ASSERT_TRUE(load("p.h86", lower));  // no end record: the file end ends it
  EXPECT_EQ(image->userImage[0x10001], 0xA2);
  EXPECT_EQ(image->userImage[0x20000], 0);  // beyond the area: not touched
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(Loader, LinesAfterTheHexEndRecordAreNotRead) {
  ASSERT_TRUE(load("p.hex", hexRecord(0, 0, "11") + ":00000001FF\r\ngarbage\r\n"));
  EXPECT_EQ(image->userImage[0], 0x11);
}

TEST_F(Loader, FormatErrorsLeaveTheImageAndSayOneThing) {
  for (const std::string& bad : {hexRecord(0, 0, "11") + hexRecord(3, 0, "00001000"), hexRecord(5, 0, "00001000"),
                                 std::string(":0100000011EF\r\n"), std::string(":01000000\r\n"), std::string()}) {
    prompter.clear();
    EXPECT_FALSE(load("p.hex", bad)) << bad;
    expectUntouched();
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{kFileFormatError}) << bad;
    EXPECT_EQ(prompter.prompts()[0].icon, Icon::Stop);
  }
}

// The box keeps its one text; the log line beside it says which file, which
// line and what was wrong with it.
TEST_F(Loader, FormatErrorsLogTheLineAndTheReason) {
  struct Case {
    std::string name, content, logged;
  };
  const std::string ok = hexRecord(0, 0, "11");
  const std::vector<Case> cases = {
      {"p.hex", ok + ok + ":01000000G1EE\r\n", "line 3: bad digit 'G' in column 10"},
      {"p.hex", ok + ":0100000011EF\r\n", "line 2: checksum mismatch (the record says EF, its bytes give EE)"},
      {"p.hex", hexRecord(3, 0, "00001000"), "line 1: record type 03 (start segment address) is not read"},
      {"p.hex", ok + ":01000000\r\n", "line 2: short record"},
      {"p.hex", "", "p.hex: the file is empty"},
      {"p.mot", sRecord('1', 0, "11") + sRecord('4', 0, "11"), "line 2: record type S4 is not read"},
      {"p.mot", "s104000011EA\r\n", "line 1: record starts with 's', not 'S'"},
      {"p.mot", sRecord('3', 0, "", -3), "line 1: count 02 too small for an S3 address"},
      {"p.hex", ok + std::string(2000, '0') + "\r\n", "line 2: line longer than 1024 characters"},
  };
  for (const Case& c : cases) {
    prompter.clear();
    test::LogCapture log;
    EXPECT_FALSE(load(c.name, c.content)) << c.content;
    EXPECT_EQ(prompter.texts(), std::vector<std::string>{kFileFormatError});
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.lines()[0];
    EXPECT_EQ(line.rfind("vrx4: stop: File format error. (" + dir.file(c.name), 0), 0u) << line;
    EXPECT_NE(line.find(c.logged), std::string::npos) << line;
  }
  // A record the parser accepts is never described as refused: reporting
  // does not change what loads.
  EXPECT_TRUE(load("p.hex", ok + ":01000100 2FC\r\n"));
}

// A name the window's loader does not know is read with the parser asked for,
// exactly as a file of the usual name is.
TEST_F(Loader, AnExplicitFormatReadsLikeTheUsualName) {
  const std::string body = sRecord('1', 0x10, "A1A2") + sRecord('9', 0);
  ASSERT_TRUE(load("p.mot", body));
  const uint8_t a = image->userImage[0x10], b = image->userImage[0x11];
  image->userImage.fill(0);
  test::writeFile(dir.file("p.s19"), body);
  ASSERT_TRUE(loadProgramFile(LoadMode::Interactive, dir.file("p.s19"), device, *image, idCode, protectLevel,
                              ProgramFormat::SRecord));
  EXPECT_EQ(image->userImage[0x10], a);
  EXPECT_EQ(image->userImage[0x11], b);
  EXPECT_EQ(a, 0xA1);
  // The same file read as Intel HEX is a format error.
  EXPECT_FALSE(loadProgramFile(LoadMode::Interactive, dir.file("p.s19"), device, *image, idCode, protectLevel,
                               ProgramFormat::IntelHex));
}

TEST_F(Loader, OverlongLinesAreFormatErrorsButLongRecordsLoad) {
  std::string big = hexRecord(0, 0x100, test::repeatHex("5A", 255));  // 521 characters
  ASSERT_TRUE(load("p.hex", big));
  EXPECT_EQ(image->userImage[0x100 + 254], 0x5A);
  EXPECT_FALSE(load("p.hex", hexRecord(0, 0, "11") + std::string(2000, '0') + "\r\n"));
  EXPECT_EQ(prompter.texts().back(), kFileFormatError);
}

TEST_F(Loader, MissingFileIsAnOpenError) {
  test::LogCapture log;
  EXPECT_FALSE(loadProgramFile(LoadMode::Interactive, dir.file("none.hex"), device, *image, idCode, protectLevel));
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{kFileOpenError});
  // A folder opens on this system but cannot be read.
  std::filesystem::create_directory(dir.file("folder.hex"));
  EXPECT_FALSE(loadProgramFile(LoadMode::Interactive, dir.file("folder.hex"), device, *image, idCode, protectLevel));
  EXPECT_EQ(prompter.texts().back(), kFileOpenError);
  // The log lines say which file and the system's reason.
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0], "vrx4: stop: File open error. (" + dir.file("none.hex") + ": No such file or directory)");
  EXPECT_EQ(log.lines()[1], "vrx4: stop: File open error. (" + dir.file("folder.hex") + ": Is a directory)");
  expectUntouched();
}

TEST_F(Loader, SRecordsLoadAndLinesAfterTerminationAreStillParsed) {
  std::string body = "S0030000FC\r\n" + sRecord('1', 0x0020, "0A0B") + sRecord('9', 0) + sRecord('2', 0x010020, "0C") +
                     sRecord('8', 0) + sRecord('3', 0x00010030, "0D") + sRecord('7', 0);
  ASSERT_TRUE(load("p.MOT", body));
  EXPECT_EQ(image->userImage[0x20], 0x0A);
  EXPECT_EQ(image->userImage[0x10020], 0x0C);
  EXPECT_EQ(image->userImage[0x10030], 0x0D);
  EXPECT_FALSE(load("p.mot", body + "S1 broken\r\n"));
  EXPECT_EQ(prompter.texts().back(), kFileFormatError);
}

TEST_F(Loader, StraddlingRecordIsDroppedWholeAfterOneQuestion) {
  prompter.answer(Answer::Yes);
  std::string body = hexRecord(4, 0, "0001") + hexRecord(0, 0xFFFC, "0102030405060708") + hexRecord(0, 0x0000, "77") +
                     hexRecord(4, 0, "0010") + hexRecord(0, 0, "99");
  ASSERT_TRUE(load("p.hex", body));
  ASSERT_EQ(prompter.texts().size(), 1u);
  EXPECT_EQ(prompter.texts()[0], kOutsideAreaQuestion);
  EXPECT_EQ(prompter.prompts()[0].buttons, Buttons::YesNo);
  EXPECT_EQ(prompter.prompts()[0].defaultButton, Answer::No);
  EXPECT_EQ(image->userImage[0x1FFFC], 0xFF);  // inside part of the record not stored
  EXPECT_EQ(image->userImage[0x10000], 0x77);
}

TEST_F(Loader, NoToTheQuestionAbortsSilently) {
  prompter.answer(Answer::No);
  EXPECT_FALSE(load("p.hex", hexRecord(0, 0, "11") + hexRecord(4, 0, "0100") + hexRecord(0, 0, "22")));
  EXPECT_EQ(prompter.texts().size(), 1u);
  expectUntouched();
  EXPECT_EQ(image->bankHasData[0], 1);  // the lines read so far marked their banks
}

TEST_F(Loader, SilentModeSkipsOutsideDataAndPausesBeforeErrors) {
  test::FakeClockScope clock;
  ASSERT_TRUE(load("p.hex",
                   hexRecord(4, 0, "0100") + hexRecord(0, 0, "22") + hexRecord(4, 0, "0000") + hexRecord(0, 0, "33"),
                   LoadMode::Silent));
  EXPECT_TRUE(prompter.texts().empty());
  EXPECT_EQ(image->userImage[0], 0x33);
  EXPECT_EQ(clock->sleptMs(), 0u);
  EXPECT_FALSE(load("p.hex", ":zz\r\n", LoadMode::Silent));
  EXPECT_EQ(clock->sleptMs(), 1000u);
  EXPECT_EQ(prompter.texts(), std::vector<std::string>{kFileFormatError});
}

TEST_F(Loader, OtherExtensionsLoadBlankWithoutParsing) {
  ASSERT_TRUE(load("p.bin", "\x01\x02 not records at all\n"));
  EXPECT_TRUE(
      std::all_of(image->userImage.begin(), image->userImage.begin() + 0x20000, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(image->bankHasData[0], 0);
}

TEST_F(Loader, ProtectLevelsAskAndCancelRefuses) {
  device.protectAddress = 0x100;
  ASSERT_TRUE(load("p.hex", hexRecord(0, 0x100, "FF")));
  EXPECT_EQ(protectLevel, 0);
  EXPECT_TRUE(prompter.texts().empty());

  image->userImage[5] = 0x42;
  prompter.answer(Answer::Cancel);
  EXPECT_FALSE(load("p.hex", hexRecord(0, 0x100, "3F")));
  EXPECT_EQ(protectLevel, 1);
  EXPECT_EQ(prompter.texts().back(), kLevel1Question);
  EXPECT_EQ(prompter.prompts().back().icon, Icon::Warning);
  expectUntouched();

  prompter.answer(Answer::Ok);
  EXPECT_TRUE(load("p.hex", hexRecord(0, 0x100, "F3")));
  EXPECT_EQ(protectLevel, 2);
  EXPECT_EQ(prompter.texts().back(), kLevel2Question);

  protectLevel = -1;  // silent mode neither checks nor reports
  prompter.clear();
  EXPECT_TRUE(load("p.hex", hexRecord(0, 0x100, "F3"), LoadMode::Silent));
  EXPECT_EQ(protectLevel, -1);
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(Loader, IdCodeFromTheImageOrAllBlank) {
  idCode.idLength = 3;
  device.idCodeAddress[0] = 0x200;
  device.idCodeAddress[1] = 0x208;
  device.idCodeAddress[2] = 0x210;
  ASSERT_TRUE(load("p.hex", hexRecord(0, 0x200, "A0") + hexRecord(0, 0x208, "B0") + hexRecord(0, 0x210, "C0")));
  EXPECT_EQ(idCode.idBytes[0], 0xA0);
  EXPECT_EQ(idCode.idBytes[1], 0xB0);
  EXPECT_EQ(idCode.idBytes[2], 0xC0);
  device.idCodeAddress[2] = 0x30000;  // outside the area
  ASSERT_TRUE(load("p.hex", hexRecord(0, 0x200, "A0")));
  EXPECT_EQ(idCode.idBytes[0], 0xFF);
  EXPECT_EQ(idCode.idBytes[2], 0xFF);
  // An unsorted list whose ends are inside cannot read outside the image.
  device.idCodeAddress[1] = 0xFFFFFF00;
  device.idCodeAddress[2] = 0x210;
  ASSERT_TRUE(load("p.hex", hexRecord(0, 0x200, "A0")));
  EXPECT_EQ(idCode.idBytes[0], 0xA0);
  EXPECT_EQ(idCode.idBytes[1], 0xFF);
}

TEST_F(Loader, AreaOffsetFromZeroMapsToImageIndexZero) {
  device = test::makeDevice(0xF000, 0x1000);
  ASSERT_TRUE(load("p.mot", sRecord('1', 0xF000, "1234") + sRecord('1', 0xFFFF, "56")));
  EXPECT_EQ(image->userImage[0], 0x12);
  EXPECT_EQ(image->userImage[0xFFF], 0x56);
  EXPECT_EQ(image->userImage[0x1000], 0xFF);
}

}  // namespace
}  // namespace vrx4
