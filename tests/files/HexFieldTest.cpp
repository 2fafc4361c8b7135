// The fixed-width field reader, the file-type letter and the two record
// parsers one line at a time.
#include <gtest/gtest.h>

#include <vector>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "image/ProgramLoader.h"

namespace vrx4 {
namespace {

TEST(HexField, ReadsExactlyTheGivenWidthInEitherCase) {
  uint32_t v = 0;
  EXPECT_TRUE(parseHexField("1aF0zz", 4, v));
  EXPECT_EQ(v, 0x1AF0u);
  EXPECT_TRUE(parseHexField("  7F", 4, v));  // leading blanks skipped
  EXPECT_EQ(v, 0x7Fu);
  EXPECT_TRUE(parseHexField("AB", 4, v));  // NUL ends the field early
  EXPECT_EQ(v, 0xABu);
}

TEST(HexField, RefusesOtherCharactersAndEmptyFields) {
  uint32_t v = 0x55;
  EXPECT_FALSE(parseHexField("1G", 2, v));
  EXPECT_FALSE(parseHexField("1 ", 2, v));  // a blank after a digit
  EXPECT_FALSE(parseHexField("  ", 2, v));
  EXPECT_FALSE(parseHexField("", 2, v));
  EXPECT_FALSE(parseHexField("\r\n", 2, v));
  EXPECT_FALSE(parseHexField("12", 33, v));  // wider than 32
  EXPECT_EQ(v, 0x55u);
}

TEST(FileType, LetterAfterTheLastDot) {
  EXPECT_EQ(fileTypeLetter("prog.h86"), 'H');
  EXPECT_EQ(fileTypeLetter("dir.x/prog.MOT"), 'M');
  EXPECT_EQ(fileTypeLetter("prog.bin"), 'B');
  EXPECT_EQ(fileTypeLetter("boot.btp"), 'B');
  EXPECT_EQ(fileTypeLetter("prog."), '\0');
  EXPECT_EQ(fileTypeLetter("Xhex"), 'H');  // no dot: the character at index 1
  EXPECT_EQ(fileTypeLetter("x"), '\0');
}

TEST(FileType, CommonNamesOfTheTwoFormats) {
  EXPECT_EQ(commonNameFormat("a.ihx"), ProgramFormat::IntelHex);
  EXPECT_EQ(commonNameFormat("dir.s19/A.IHEX"), ProgramFormat::IntelHex);
  for (const char* name : {"a.s19", "a.S28", "a.s37", "a.srec"})
    EXPECT_EQ(commonNameFormat(name), ProgramFormat::SRecord) << name;
  // Names of the same letter stay without a parser.
  for (const char* name : {"a.src", "a.s", "a.ini", "s19", "a.bin", "a.hex"})
    EXPECT_EQ(commonNameFormat(name), ProgramFormat::ByName) << name;
}

class LineParse : public ::testing::Test {
 protected:
  LineParse() : buffer(0x20000, 0xFF) {
    st.areaStart = 0x1000;
    st.areaEnd = 0x1000 + 0x20000 - 1;
  }
  int hex(const std::string& l) { return parseHexLine(l, buffer, st); }
  int srec(const std::string& l) { return parseSRecordLine(l, buffer, st); }
  std::vector<uint8_t> buffer;
  ParseState st;
  test::ScriptedPrompter prompter;
};

TEST_F(LineParse, HexDataRecordStoresAndReportsItsRange) {
  EXPECT_EQ(hex(":0410000001020304E2\r\n"), kLineOk);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_EQ(st.recordFirst, 0x1000u);
  EXPECT_EQ(st.recordLast, 0x1003u);
  // A count of 0 stores nothing, even at an address outside the area.
  EXPECT_EQ(hex(":00000000"
                "00\r\n"),
            kLineOk);
  EXPECT_EQ(st.recordFirst, kNoAddress);
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(LineParse, HexRefusesBadDigitsShortLinesAndChecksums) {
  EXPECT_EQ(hex(":0410000001020304E3\r\n"), kLineBadChecksum);
  EXPECT_EQ(hex(":04100000010203G4E2\r\n"), kLineMalformed);
  EXPECT_EQ(hex(":04100000010203\r\n"), kLineMalformed);
  EXPECT_EQ(hex(""), kLineMalformed);
  EXPECT_EQ(hex(test::hexRecord(0x03, 0, "00001000")), kLineMalformed);
  EXPECT_EQ(hex(test::hexRecord(0x05, 0, "00001000")), kLineMalformed);
  EXPECT_EQ(hex(test::hexRecord(0x06, 0)), kLineMalformed);
  EXPECT_EQ(hex(":00000001FF"), kLineEnd);  // no line end needed
}

TEST_F(LineParse, HexExtendedAddressesAllReachTheSameByte) {
  st.areaStart = 0;
  st.areaEnd = 0x1FFFF;
  EXPECT_EQ(hex(test::hexRecord(0x04, 0, "0001")), kLineOk);
  EXPECT_EQ(st.base, 0x10000u);
  EXPECT_EQ(hex(test::hexRecord(0x02, 0, "1000")), kLineOk);
  EXPECT_EQ(st.base, 0x10000u);
  EXPECT_EQ(hex(test::hexRecord(0xFF, 0, "0001")), kLineOk);
  EXPECT_EQ(st.base, 0x10000u);
  EXPECT_EQ(hex(test::hexRecord(0x00, 0, "5A")), kLineOk);
  EXPECT_EQ(buffer[0x10000], 0x5A);
}

TEST_F(LineParse, SRecordTypesAndTheirAddressWidths) {
  EXPECT_EQ(srec("S0030000FC\r\n"), kLineOk);
  EXPECT_EQ(srec(test::sRecord('1', 0x1002, "AA")), kLineOk);
  EXPECT_EQ(buffer[2], 0xAA);
  EXPECT_EQ(srec(test::sRecord('2', 0x011003, "BB")), kLineOk);
  EXPECT_EQ(buffer[0x10003], 0xBB);
  EXPECT_EQ(srec(test::sRecord('3', 0x00001004, "cc")), kLineOk);
  EXPECT_EQ(buffer[4], 0xCC);
  EXPECT_EQ(srec(test::sRecord('5', 3)), kLineOk);
  EXPECT_EQ(srec("S9030000FC\r\n"), kLineOk);  // plain termination: go on
  EXPECT_EQ(srec(test::sRecord('4', 0x1000, "00")), kLineMalformed);
  // S6 is a record count like S5 (24 bits): ignored, nothing stored.
  EXPECT_EQ(srec(test::sRecord('6', 0x010000)), kLineOk);
  EXPECT_EQ(st.recordFirst, kNoAddress);
  std::string lower = test::sRecord('1', 0x1002, "AA");
  lower[0] = 's';
  EXPECT_EQ(srec(lower), kLineMalformed);
  EXPECT_EQ(srec("S1041002AA00\r\n"), kLineBadChecksum);
}

TEST_F(LineParse, SRecordCountBelowItsAddressIsMalformedAndStoresNothing) {
  std::vector<uint8_t> before = buffer;
  EXPECT_EQ(srec("S101FE\r\n"), kLineMalformed);        // S1, count 1
  EXPECT_EQ(srec("S10210ED\r\n"), kLineMalformed);      // S1, count 2
  EXPECT_EQ(srec("S304000010EB\r\n"), kLineMalformed);  // S3, count 4
  EXPECT_EQ(srec("S9021FDE\r\n"), kLineMalformed);      // S9, count 2
  EXPECT_EQ(buffer, before);
  st.collectMode = 1;
  EXPECT_EQ(srec("S101FE\r\n"), kLineMalformed);
}

TEST_F(LineParse, NoAddressOrCountStoresOutsideTheBuffer) {
  st.outsideAccepted = 1;
  std::vector<uint8_t> before = buffer;
  // Would wrap past 0xFFFFFFFF into the area with 32-bit arithmetic.
  EXPECT_EQ(srec(test::sRecord('3', 0xFFFFFFF8, test::repeatHex("11", 0x20))), kLineOk);
  EXPECT_EQ(hex(test::hexRecord(0x04, 0, "FFFF")), kLineOk);
  EXPECT_EQ(hex(test::hexRecord(0x00, 0xFFF8, test::repeatHex("22", 0x20))), kLineOk);
  // An area larger than the buffer is cut to the buffer.
  st.areaEnd = 0xFFFFFFF0;
  EXPECT_EQ(srec(test::sRecord('3', 0x21000 - 4, "3344556677")), kLineOk);
  EXPECT_EQ(buffer, before);
  EXPECT_EQ(st.recordFirst, kNoAddress);
}

TEST_F(LineParse, TerminationWithDataEndsReadingOnlyInsideTheArea) {
  EXPECT_EQ(srec(test::sRecord('9', 0x1000, "00")), kLineEnd);
  EXPECT_EQ(st.recordFirst, 0x1000u);
  EXPECT_EQ(buffer[0], 0xFF);  // its bytes are not stored
  prompter.answer(Answer::Yes);
  EXPECT_EQ(srec(test::sRecord('8', 0x000010, "00")), kLineOk);
  EXPECT_EQ(prompter.texts().size(), 1u);
}

TEST_F(LineParse, CollectModeTracksTheSpanModulo64K) {
  st.collectMode = 1;
  st.areaStart = 0xFFFFFFFF;
  st.areaEnd = 0;
  EXPECT_EQ(srec(test::sRecord('2', 0x0FFFFE, "0102")), kLineOk);
  EXPECT_EQ(srec(test::sRecord('2', 0x0FFF00, "03")), kLineOk);
  EXPECT_EQ(st.areaStart, 0x0FFF00u);
  EXPECT_EQ(st.areaEnd, 0x0FFFFFu);
  EXPECT_EQ(buffer[0xFFFE], 1);
  EXPECT_EQ(buffer[0xFF00], 3);
  EXPECT_EQ(srec("S9030000FC\r\n"), kLineEnd);
  EXPECT_TRUE(prompter.texts().empty());
}

}  // namespace
}  // namespace vrx4
