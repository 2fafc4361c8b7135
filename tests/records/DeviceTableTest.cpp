#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedPrompter.h"
#include "app/DeviceTable.h"

namespace vrx4::test {
namespace {

constexpr const char* kHeader = "# T552-VRX4\n";

// The fields of one data line; each test changes what it needs.
struct Line {
  std::string name = "DEMO-X";
  std::string f[7] = {"0", "0", "0x8000", "0x8000", "21", "FFFF", "0"};
  std::string listA = "";
  std::string count = "1";
  std::string listB = "8000";
  std::string listC = "8000";
  std::string e[4] = {"0", "0", "0", "0"};

  std::string text() const {
    std::string t = name;
    for (const auto& v : f) t += "," + v;
    t += "," + listA + "," + count + "," + listB + "," + listC;
    for (const auto& v : e) t += "," + v;
    return t + "\n";
  }
};

// "/"-joined list of n values: base, base + step, ...
std::string list(int n, uint32_t base = 0, uint32_t step = 1) {
  std::string t;
  char buf[16];
  for (int i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "%X", unsigned(base + uint32_t(i) * step));
    t += (i ? "/" : "") + std::string(buf);
  }
  return t;
}

class DeviceTableTest : public ::testing::Test {
 protected:
  // Parses `text`; records how many messages were shown.
  bool parse(const std::string& text) {
    prompts.clear();
    std::istringstream in(text);
    return parseDeviceTable(in, table);
  }
  bool parseLine(const Line& l) { return parse(kHeader + l.text()); }
  // The one format error message and nothing else was shown.
  void expectFormatError() {
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{kDeviceTableFormatError});
    if (!prompts.prompts().empty()) {
      EXPECT_EQ(prompts.prompts()[0].icon, Icon::Stop);
    }
  }
  void expectNoMessage() { EXPECT_TRUE(prompts.texts().empty()); }

  FakeClockScope clock;
  ScriptedPrompter prompts;
  DeviceTable table;
};

TEST_F(DeviceTableTest, DataLineFillsEveryField) {
  Line l;
  l.name = "DEMO one";
  l.f[0] = "  0x0FF000";  // blanks and prefix
  l.f[1] = "800 ";
  l.f[2] = "0X10000";
  l.f[3] = "30000";
  l.f[4] = "0x1a41";  // whole value kept; only its low byte is used
  l.f[5] = "3fffb";
  l.f[6] = "3";
  l.listA = "FFDF/ 0xffe3/FFEB";
  l.count = " 0x3";
  l.listB = "10000/20000/30000";
  l.listC = "10000/10000/10000";
  l.e[0] = "1FF";  // low 8 bits
  l.e[1] = "0x10";
  l.e[2] = "2";
  l.e[3] = " 3";
  ASSERT_TRUE(parseLine(l));
  expectNoMessage();
  ASSERT_EQ(table.rowCount(), 1);
  const DeviceDef& d = table.row(0);
  EXPECT_EQ(d.name(), "DEMO one");
  EXPECT_EQ(uint32_t(d.bootRomStart), 0xFF000u);
  EXPECT_EQ(uint32_t(d.bootRomSize), 0x800u);
  EXPECT_EQ(uint32_t(d.bootRomEnd), 0xFF7FFu);
  EXPECT_EQ(uint32_t(d.userRomStart), 0x10000u);
  EXPECT_EQ(uint32_t(d.userRomSize), 0x30000u);
  EXPECT_EQ(uint32_t(d.userRomEnd), 0x3FFFFu);
  EXPECT_EQ(uint32_t(d.voltageCode), 0x1A41u);
  EXPECT_EQ(uint32_t(d.protectAddress), 0x3FFFBu);
  EXPECT_EQ(int32_t(d.idCodeLength), 3);
  EXPECT_EQ(uint32_t(d.idCodeAddress[0]), 0xFFDFu);
  EXPECT_EQ(uint32_t(d.idCodeAddress[1]), 0xFFE3u);
  EXPECT_EQ(uint32_t(d.idCodeAddress[2]), 0xFFEBu);
  EXPECT_EQ(uint32_t(d.idCodeAddress[3]), 0u);
  EXPECT_EQ(int32_t(d.blockCount), 3);
  EXPECT_EQ(uint32_t(d.blockMask), 0x7u);
  EXPECT_EQ(uint32_t(d.blockStart[2]), 0x30000u);
  EXPECT_EQ(uint32_t(d.blockStart[3]), 0u);
  EXPECT_EQ(uint32_t(d.blockSize[2]), 0x10000u);
  EXPECT_EQ(d.extraByte1, 0xFF);
  EXPECT_EQ(d.extraByte2, 0x10);
  EXPECT_EQ(d.lockBitMode, 2);
  EXPECT_EQ(d.blockSelectFlags, 3);
  EXPECT_FALSE(table.optionMode());
}

TEST_F(DeviceTableTest, BlockMaskFollowsTheCount) {
  const std::pair<int, uint32_t> cases[] = {{0, 0},           {1, 1},           {5, 0x1F},       {31, 0x7FFFFFFF},
                                            {32, 0xFFFFFFFF}, {33, 0xFFFFFFFF}, {64, 0xFFFFFFFF}};
  for (auto [count, mask] : cases) {
    Line l;
    char buf[8];
    std::snprintf(buf, sizeof buf, "%X", unsigned(count));
    l.count = buf;
    ASSERT_TRUE(parseLine(l)) << count;
    EXPECT_EQ(uint32_t(table.row(0).blockMask), mask) << count;
  }
}

TEST_F(DeviceTableTest, HeaderIsRequiredAnywhereButOnlyOnce) {
  Line l;
  // No header at all.
  EXPECT_FALSE(parse(l.text()));
  expectFormatError();
  EXPECT_EQ(table.rowCount(), 1) << "rows read so far remain";
  // Rows before the header are accepted.
  EXPECT_TRUE(parse(l.text() + l.text() + kHeader + l.text()));
  expectNoMessage();
  EXPECT_EQ(table.rowCount(), 3);
  // Only the 11-character prefix counts.
  EXPECT_TRUE(parse("# T552-VRX4 device table v2\n" + l.text()));
  EXPECT_FALSE(parse("# T552-VRX\n" + l.text()));
  expectFormatError();
  // A second header line is a data line (and malformed).
  EXPECT_FALSE(parse(std::string(kHeader) + l.text() + kHeader));
  expectFormatError();
  EXPECT_EQ(table.rowCount(), 1);
  // A header after the end of the table is never seen.
  EXPECT_FALSE(parse(l.text() + "\n" + kHeader));
  expectFormatError();
}

TEST_F(DeviceTableTest, FirstLineBlankMeansNoRowsAndNoHeader) {
  Line l;
  EXPECT_FALSE(parse("\n" + std::string(kHeader) + l.text()));
  expectFormatError();
  EXPECT_EQ(table.rowCount(), 0);
  EXPECT_FALSE(parse(""));
  expectFormatError();
}

TEST_F(DeviceTableTest, OptionModeLineAnywhereBeforeTheEnd) {
  Line l;
  EXPECT_TRUE(parse("# OPTION MODE\n" + std::string(kHeader) + l.text()));
  EXPECT_TRUE(table.optionMode());
  EXPECT_TRUE(parse(kHeader + l.text() + l.text() + "# OPTION MODE on\n"));
  EXPECT_TRUE(table.optionMode()) << "after the last row";
  EXPECT_EQ(table.rowCount(), 2);
  EXPECT_TRUE(parse(kHeader + l.text() + "\n# OPTION MODE\n"));
  EXPECT_FALSE(table.optionMode()) << "after the end of the table";
  EXPECT_FALSE(parse(kHeader + l.text() + "# OPTION MOD\n" + l.text())) << "not the prefix: a data line";
  expectFormatError();
  EXPECT_FALSE(table.optionMode());
  // A new parse starts from a clear table.
  EXPECT_TRUE(parse("# OPTION MODE\n" + std::string(kHeader)));
  EXPECT_TRUE(parse(kHeader));
  EXPECT_FALSE(table.optionMode());
  EXPECT_EQ(table.rowCount(), 0);
}

TEST_F(DeviceTableTest, EndOfTableStopsReadingForGood) {
  Line l;
  const std::string broken = "not a data line\n";
  // A blank line in the middle: later rows, even malformed ones, are not read.
  EXPECT_TRUE(parse(kHeader + l.text() + "\n" + l.text() + broken));
  expectNoMessage();
  EXPECT_EQ(table.rowCount(), 1);
  for (const char* first : {"\t", "\x01", "\x7F", "\x80", "\xC3\xA9", "\r"}) {
    EXPECT_TRUE(parse(kHeader + l.text() + first + l.text() + broken)) << int(first[0]);
    EXPECT_EQ(table.rowCount(), 1) << int(first[0]);
  }
  // A leading space is printable: a data line (here a malformed one).
  EXPECT_FALSE(parse(kHeader + l.text() + " " + broken));
  expectFormatError();
  // The last line may lack its line end.
  std::string last = l.text();
  last.pop_back();
  EXPECT_TRUE(parse(kHeader + last));
  EXPECT_EQ(table.rowCount(), 1);
  EXPECT_EQ(table.row(0).blockSelectFlags, 0);
}

TEST_F(DeviceTableTest, CrLfLineEndsAndCommentsAreHandled) {
  Line l;
  l.e[3] = "3";
  std::string crlf = l.text();
  crlf.insert(crlf.size() - 1, "\r");
  EXPECT_TRUE(parse("# T552-VRX4\r\n// a, comment, with, commas\r\n# OPTION MODE\r\n" + crlf + crlf));
  expectNoMessage();
  EXPECT_EQ(table.rowCount(), 2);
  EXPECT_TRUE(table.optionMode());
  EXPECT_EQ(table.row(1).blockSelectFlags, 3);
  // A CR-LF empty line still ends the table.
  EXPECT_TRUE(parse(kHeader + crlf + "\r\n" + crlf));
  EXPECT_EQ(table.rowCount(), 1);
  // A lone CR ends a line as well: the same table with CR line ends.
  std::string cr = l.text();
  cr.back() = '\r';
  EXPECT_TRUE(parse("# T552-VRX4\r// a, comment, with, commas\r# OPTION MODE\r" + cr + cr));
  EXPECT_EQ(table.rowCount(), 2);
  EXPECT_TRUE(table.optionMode());
  EXPECT_EQ(table.row(1).blockSelectFlags, 3);
  EXPECT_TRUE(parse(kHeader + cr + "\r" + cr));
  EXPECT_EQ(table.rowCount(), 1);
}

TEST_F(DeviceTableTest, ExactlyFifteenCommas) {
  Line good;
  std::string line = good.text();
  std::string fewer = line;
  fewer.erase(fewer.rfind(','), 1);  // 14
  std::string more = line;
  more.insert(more.size() - 1, ",0");  // 16
  EXPECT_FALSE(parse(kHeader + line + fewer));
  expectFormatError();
  EXPECT_EQ(table.rowCount(), 1) << "the row before the bad line remains";
  EXPECT_FALSE(parse(kHeader + more));
  expectFormatError();
  EXPECT_EQ(table.rowCount(), 0);
}

TEST_F(DeviceTableTest, NameOfUpTo64Characters) {
  Line l;
  l.name = std::string(64, 'N');
  ASSERT_TRUE(parseLine(l));
  EXPECT_EQ(table.row(0).name(), l.name) << "no room for a NUL at 64";
  EXPECT_EQ(table.row(0).deviceName[63], 'N');
  EXPECT_EQ(uint32_t(table.row(0).bootRomStart), 0u) << "the name does not spill";
  EXPECT_EQ(table.findByName(l.name), 0);
  l.name = std::string(65, 'N');
  EXPECT_FALSE(parseLine(l));
  expectFormatError();
  l.name = "";
  EXPECT_TRUE(parseLine(l));
  EXPECT_EQ(table.row(0).name(), "");
}

TEST_F(DeviceTableTest, SizeAndCountLimitsAtAndOnePastEachBound) {
  struct Case {
    int field;  // 1..7 for F1..F7, 8 for the count
    const char* at;
    const char* past;
  };
  const Case cases[] = {{2, "10000", "10001"}, {4, "400000", "400001"}, {7, "20", "21"}, {8, "40", "41"}};
  for (const Case& c : cases) {
    Line l;
    std::string& f = c.field == 8 ? l.count : l.f[c.field - 1];
    f = c.at;
    EXPECT_TRUE(parseLine(l)) << c.at;
    expectNoMessage();
    f = c.past;
    EXPECT_FALSE(parseLine(l)) << c.past;
    expectFormatError();
    EXPECT_EQ(table.rowCount(), 0);
  }
  Line l;
  l.f[1] = "10000";
  l.f[0] = "1F0000";
  l.f[3] = "400000";
  l.f[2] = "0";
  ASSERT_TRUE(parseLine(l));
  EXPECT_EQ(uint32_t(table.row(0).bootRomEnd), 0x1FFFFFu);
  EXPECT_EQ(uint32_t(table.row(0).userRomEnd), 0x3FFFFFu);
}

TEST_F(DeviceTableTest, NegativeCountsAreRefused) {
  Line l;
  l.f[6] = "FFFFFFFF";
  EXPECT_FALSE(parseLine(l));
  expectFormatError();
  l = Line{};
  l.f[6] = "80000000";
  EXPECT_FALSE(parseLine(l));
  l = Line{};
  l.count = "FFFFFFFF";
  EXPECT_FALSE(parseLine(l));
  expectFormatError();
}

TEST_F(DeviceTableTest, ListsAreBoundedByTheirArrays) {
  Line l;
  l.f[6] = "20";
  l.listA = list(32, 0x1000);
  l.count = "40";
  l.listB = list(64, 0, 0x1000);
  l.listC = list(64, 0x1000, 0);
  ASSERT_TRUE(parseLine(l));
  expectNoMessage();
  const DeviceDef& d = table.row(0);
  EXPECT_EQ(uint32_t(d.idCodeAddress[31]), 0x101Fu);
  EXPECT_EQ(uint32_t(d.blockStart[63]), 0x3F000u);
  EXPECT_EQ(uint32_t(d.blockSize[63]), 0x1000u);
  EXPECT_EQ(d.extraByte1, 0) << "nothing after the lists was overwritten";

  Line a = l;
  a.listA = list(33, 0x1000);
  EXPECT_FALSE(parseLine(a));
  expectFormatError();
  Line b = l;
  b.listB = list(65);
  EXPECT_FALSE(parseLine(b));
  expectFormatError();
  Line c = l;
  c.listC = list(65);
  EXPECT_FALSE(parseLine(c));
  expectFormatError();
  // Far more values than the line limit would allow in one list.
  Line huge = l;
  huge.listC = list(600);
  EXPECT_FALSE(parseLine(huge));
  EXPECT_EQ(table.rowCount(), 0);
}

TEST_F(DeviceTableTest, ListCountsAreNotComparedWithTheirLengths) {
  Line l;
  l.f[6] = "4";
  l.listA = "10/20";  // two addresses for a length of 4
  l.count = "1";
  l.listB = "8000/C000";
  l.listC = "";
  ASSERT_TRUE(parseLine(l));
  EXPECT_EQ(uint32_t(table.row(0).idCodeAddress[1]), 0x20u);
  EXPECT_EQ(uint32_t(table.row(0).blockStart[1]), 0xC000u);
  EXPECT_EQ(uint32_t(table.row(0).blockSize[0]), 0u);
}

TEST_F(DeviceTableTest, NumbersAreReadAsFarAsTheirDigitsGo) {
  // Text after the digits is ignored; a field or item without digits is 0.
  struct Case {
    const char* text;
    uint32_t value;
  } cases[] = {{"", 0},          {"  ", 0},
               {"0x", 0},        {"zz", 0},
               {"12zz", 0x12},   {"21h", 0x21},
               {"1 2", 1},       {"-1", 0},
               {"0x0x1", 0},     {" 0XaB // note", 0xAB},
               {"0 // note", 0}, {"000000000FFFF", 0xFFFF}};
  for (const Case& c : cases) {
    Line l;
    l.f[5] = c.text;
    l.e[3] = c.text;
    l.count = std::string("2") + "  " + c.text;  // digits first: the count stays 2
    l.listB = std::string("8000/") + c.text;
    ASSERT_TRUE(parseLine(l)) << "'" << c.text << "'";
    expectNoMessage();
    const DeviceDef& d = table.row(0);
    EXPECT_EQ(uint32_t(d.protectAddress), c.value) << "F6 '" << c.text << "'";
    EXPECT_EQ(d.blockSelectFlags, uint8_t(c.value)) << "E4 '" << c.text << "'";
    EXPECT_EQ(d.blockCount, 2) << "'" << c.text << "'";
    EXPECT_EQ(uint32_t(d.blockStart[1]), c.value) << "list item '" << c.text << "'";
  }
  // Empty list items, inside and at the end, are zeros in their places.
  Line gaps;
  gaps.f[6] = "3";
  gaps.listA = "10//30";
  gaps.listB = "8000//9000/";
  gaps.listC = "/";
  ASSERT_TRUE(parseLine(gaps));
  const DeviceDef& d = table.row(0);
  EXPECT_EQ(uint32_t(d.idCodeAddress[1]), 0u);
  EXPECT_EQ(uint32_t(d.idCodeAddress[2]), 0x30u);
  EXPECT_EQ(uint32_t(d.blockStart[2]), 0x9000u);
  EXPECT_EQ(uint32_t(d.blockSize[0]), 0u);
  // A full list with a trailing "/" still fits; a value past the array does not.
  Line full;
  full.listA = list(32, 0x1000) + "/";
  EXPECT_TRUE(parseLine(full));
  full.listA = list(32, 0x1000) + "/0";
  EXPECT_FALSE(parseLine(full));
  expectFormatError();
  // A value beyond 32 bits is refused rather than cut.
  Line big;
  big.f[4] = "100000000";
  EXPECT_FALSE(parseLine(big));
  expectFormatError();
}

TEST_F(DeviceTableTest, ShippedStyleLinesWithEmptyFieldsAndNotesLoad) {
  // A line that leaves its last fields empty and one with notes after numbers.
  const std::string text = std::string(kHeader) +
                           "DEV-A,0,0,0x8000,0x8000,21h,FFFF,0,,1,8000,8000,0,0,0,\n"
                           "DEV-B,F000,800,10000,30000,22 // 5V,0,2,8000/8001/,2,10000//,20000/20000,1,2,1,3 // note\n";
  ASSERT_TRUE(parse(text));
  expectNoMessage();
  ASSERT_EQ(table.rowCount(), 2);
  EXPECT_EQ(uint32_t(table.row(0).voltageCode), 0x21u);
  EXPECT_EQ(table.row(0).blockSelectFlags, 0);
  const DeviceDef& b = table.row(1);
  EXPECT_EQ(uint32_t(b.voltageCode), 0x22u);
  EXPECT_EQ(uint32_t(b.idCodeAddress[1]), 0x8001u);
  EXPECT_EQ(uint32_t(b.blockStart[0]), 0x10000u);
  EXPECT_EQ(uint32_t(b.blockStart[1]), 0u);
  EXPECT_EQ(uint32_t(b.blockSize[1]), 0x20000u);
  EXPECT_EQ(b.blockSelectFlags, 3);
}

TEST_F(DeviceTableTest, AtMost256Rows) {
  Line l;
  std::string text = kHeader;
  for (int i = 0; i < 256; ++i) {
    l.name = "DEMO-" + std::to_string(i);
    text += l.text();
  }
  ASSERT_TRUE(parse(text));
  EXPECT_EQ(table.rowCount(), 256);
  EXPECT_EQ(table.row(255).name(), "DEMO-255");
  EXPECT_EQ(table.findByName("DEMO-17"), 17);
  EXPECT_EQ(table.findByName("DEMO-1"), 1);
  EXPECT_EQ(table.findByName("demo-1"), -1) << "names compare case-sensitively";
  EXPECT_EQ(table.row(256).name(), "") << "out of range reads an empty row";
  EXPECT_EQ(table.row(-1).blockCount, 0);
  // Comments and option lines do not count as rows.
  EXPECT_TRUE(parse(text + "// end\n# OPTION MODE\n"));
  EXPECT_FALSE(parse(text + l.text()));
  expectFormatError();
  EXPECT_EQ(table.rowCount(), 256);
}

TEST_F(DeviceTableTest, LineLimitIs2999Characters) {
  const std::string atLimit = "//" + std::string(2997, 'c');
  ASSERT_EQ(atLimit.size(), kDeviceTableLineLimit);
  Line l;
  EXPECT_TRUE(parse(kHeader + atLimit + "\n" + l.text()));
  EXPECT_EQ(table.rowCount(), 1);
  EXPECT_TRUE(parse(kHeader + atLimit + "\r\n" + l.text()));
  EXPECT_EQ(table.rowCount(), 1);
  // One more is refused rather than split into a second line.
  EXPECT_FALSE(parse(kHeader + atLimit + "c\n" + l.text()));
  expectFormatError();
  EXPECT_EQ(table.rowCount(), 0);
  // A data line padded to the limit still parses.
  std::string padded = l.text();
  padded.pop_back();
  padded += std::string(kDeviceTableLineLimit - padded.size(), ' ');
  EXPECT_TRUE(parse(kHeader + padded + "\n"));
  EXPECT_FALSE(parse(kHeader + padded + " \n"));
}

TEST_F(DeviceTableTest, MessageWaitsForTheStartupPictureAndQuietParseShowsNone) {
  EXPECT_FALSE(parse("garbage\n"));
  expectFormatError();
  EXPECT_GE(clock->sleptMs(), 1000u);
  prompts.clear();
  std::istringstream in("# T552-VRX4\nDEMO,1\n");
  DeviceTableError error;
  EXPECT_FALSE(parseDeviceTableQuiet(in, table, error));
  EXPECT_EQ(error.line, 2);
  EXPECT_FALSE(error.reason.empty());
  expectNoMessage();
}

// The log line names the fault: each check of a data line has its own reason.
TEST_F(DeviceTableTest, QuietParseNamesEachFaultOfADataLine) {
  struct Case {
    void (*change)(Line&);
    const char* reason;
  };
  const Case cases[] = {
      {[](Line& l) { l.count += ",1"; }, "16 commas, 15 expected"},
      {[](Line& l) { l.name = std::string(65, 'N'); }, "name longer than 64 characters"},
      {[](Line& l) { l.f[2] = "100000000"; }, "number too large in field F3"},
      {[](Line& l) { l.f[1] = "10001"; }, "boot ROM size above 0x10000"},
      {[](Line& l) { l.f[3] = "400001"; }, "user ROM size above 0x400000"},
      {[](Line& l) { l.f[6] = "80000000"; }, "ID code length outside 0..32"},
      {[](Line& l) { l.listA = list(33); }, "more than 32 values in the ID code address list"},
      {[](Line& l) { l.listA = "1/100000000"; }, "number too large in the ID code address list"},
      {[](Line& l) { l.count = "100000000"; }, "block count too large"},
      {[](Line& l) { l.count = "41"; }, "block count outside 0..64"},
      {[](Line& l) { l.listB = list(65); }, "more than 64 values in the block start list"},
      {[](Line& l) { l.listC = "100000000"; }, "number too large in the block size list"},
      {[](Line& l) { l.e[3] = "100000000"; }, "number too large in field E4"},
      // Two faults: the one earlier in the line is reported.
      {[](Line& l) {
         l.f[1] = "10001";
         l.count = "41";
       },
       "boot ROM size above 0x10000"},
  };
  for (const Case& c : cases) {
    Line l;
    c.change(l);
    std::istringstream in(kHeader + Line().text() + l.text());
    DeviceTableError error;
    EXPECT_FALSE(parseDeviceTableQuiet(in, table, error)) << c.reason;
    EXPECT_EQ(error.line, 3) << c.reason;
    EXPECT_EQ(error.reason, c.reason);
    EXPECT_EQ(table.rowCount(), 1) << c.reason;
  }
  // A name of exactly 64 characters fills the whole field.
  Line l;
  l.name = std::string(64, 'N');
  EXPECT_TRUE(parseLine(l));
  EXPECT_EQ(table.row(0).name(), l.name);
  expectNoMessage();
}

TEST_F(DeviceTableTest, MissingFileIsLeftToTheCaller) {
  bool missing = false;
  EXPECT_FALSE(parseDeviceTableFile("no/such/folder/vrx4type.tbl", table, missing));
  EXPECT_TRUE(missing);
  expectNoMessage();
}

// The table shipped beside the program.
class ShippedTableTest : public DeviceTableTest {
 protected:
  void SetUp() override {
    bool missing = true;
    ASSERT_TRUE(parseDeviceTableFile(VRX4_SHIPPED_TABLE, table, missing));
    ASSERT_FALSE(missing);
    expectNoMessage();
  }
};

TEST_F(ShippedTableTest, EveryDeviceIsConsistent) {
  ASSERT_GT(table.rowCount(), 0);
  EXPECT_TRUE(table.optionMode());
  for (int i = 0; i < table.rowCount(); ++i) {
    const DeviceDef& d = table.row(i);
    SCOPED_TRACE(d.name());
    EXPECT_EQ(d.name().rfind("DEMO-", 0), 0u);
    EXPECT_EQ(table.findByName(d.name()), i) << "names are unique";
    ASSERT_GE(d.blockCount, 1);
    // Blocks tile the user ROM from its first to its last byte.
    uint64_t next = d.userRomStart;
    for (int k = 0; k < d.blockCount; ++k) {
      EXPECT_EQ(uint32_t(d.blockStart[k]), next) << "block " << k;
      EXPECT_GT(uint32_t(d.blockSize[k]), 0u) << "block " << k;
      next = uint64_t(d.blockStart[k]) + d.blockSize[k];
    }
    EXPECT_EQ(next, uint64_t(d.userRomEnd) + 1);
    for (int k = d.blockCount; k < kMaxBlocks; ++k) EXPECT_EQ(uint32_t(d.blockSize[k]), 0u);
    // Exactly idCodeLength addresses are given.
    for (int k = 0; k < kMaxIdCodeLength; ++k)
      EXPECT_EQ(k < d.idCodeLength, uint32_t(d.idCodeAddress[k]) != 0) << "ID address " << k;
    // A boot area lies in one 64 KiB bank.
    if (d.bootRomSize != 0) {
      EXPECT_EQ(d.bootRomStart >> 16, d.bootRomEnd >> 16);
    }
  }
}

TEST_F(ShippedTableTest, CoversWhatTheProgramDistinguishes) {
  std::set<int> lockModes, idLengths, vcc, vpp;
  bool oneBlock = false, blocks64 = false, idInside = false, idOutside = false;
  bool offBank = false, selectOn = false, selectOff = false, protectIn = false, protectOut = false;
  bool boot = false, noBoot = false;
  uint32_t minSize = ~0u, maxSize = 0;
  for (int i = 0; i < table.rowCount(); ++i) {
    const DeviceDef& d = table.row(i);
    lockModes.insert(d.lockBitMode);
    idLengths.insert(d.idCodeLength);
    vcc.insert(d.voltageCode & 0x0F);
    vpp.insert((d.voltageCode >> 4) & 0x0F);
    oneBlock |= d.blockCount == 1;
    blocks64 |= d.blockCount == 64;
    if (d.idCodeLength > 0) {
      bool inside = d.idCodeAddress[0] >= d.userRomStart && d.idCodeAddress[d.idCodeLength - 1] <= d.userRomEnd;
      (inside ? idInside : idOutside) = true;
    }
    offBank |= (d.userRomStart & 0xFFFF) != 0;
    if (d.blockCount > 1) ((d.blockSelectFlags & 3) ? selectOn : selectOff) = true;
    bool pin = d.protectAddress >= d.userRomStart && d.protectAddress <= d.userRomEnd;
    (pin ? protectIn : protectOut) = true;
    (d.bootRomSize != 0 ? boot : noBoot) = true;
    minSize = std::min<uint32_t>(minSize, d.userRomSize);
    maxSize = std::max<uint32_t>(maxSize, d.userRomSize);
  }
  EXPECT_EQ(lockModes, (std::set<int>{0, 1, 2}));
  for (int n : {0, 7, 16, 32}) EXPECT_TRUE(idLengths.count(n)) << "ID length " << n;
  for (int c : {1, 2, 3, 4}) {
    EXPECT_TRUE(vcc.count(c)) << "Vcc " << c;
    EXPECT_TRUE(vpp.count(c)) << "Vpp " << c;
  }
  EXPECT_TRUE(vcc.size() > 4 && vpp.size() > 4) << "an unknown code each";
  EXPECT_TRUE(oneBlock && blocks64);
  EXPECT_TRUE(idInside && idOutside);
  EXPECT_TRUE(offBank);
  EXPECT_TRUE(selectOn && selectOff);
  EXPECT_TRUE(protectIn && protectOut);
  EXPECT_TRUE(boot && noBoot);
  EXPECT_EQ(minSize, 0x8000u);
  EXPECT_EQ(maxSize, 0x400000u);
}

}  // namespace
}  // namespace vrx4::test
