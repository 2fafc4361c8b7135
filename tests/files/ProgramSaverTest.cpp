// The address grammar, the range rule and the exact text of both writers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "image/BootFileReader.h"
#include "image/ProgramLoader.h"
#include "image/ProgramSaver.h"

namespace vrx4 {
namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find("\r\n", i);
    if (e == std::string::npos) {
      v.push_back(text.substr(i) + "<no CR LF>");
      break;
    }
    v.push_back(text.substr(i, e - i));
    i = e + 2;
  }
  return v;
}

TEST(SaveAddress, AcceptedTexts) {
  SaveRanges r;
  ASSERT_TRUE(parseSaveAddress("1000-10FF, 2000", 0, 0xFFFF, r));
  EXPECT_EQ(r[0], (SaveRange{0x1000, 0x10FF}));
  EXPECT_EQ(r[1], (SaveRange{0x2000, 0x2000}));
  EXPECT_EQ(r[2], (SaveRange{0, 0}));
  ASSERT_TRUE(parseSaveAddress(" 1 - a ,b,c, d-e , ff ", 0, 0xFFFF, r));
  EXPECT_EQ(r[0], (SaveRange{1, 0xA}));
  EXPECT_EQ(r[4], (SaveRange{0xFF, 0xFF}));
  ASSERT_TRUE(parseSaveAddress("-10", 0, 0xFFFF, r));  // no digits count as 0
  EXPECT_EQ(r[0], (SaveRange{0, 0x10}));
  ASSERT_TRUE(parseSaveAddress("", 0x100, 0x1FF, r));
  EXPECT_EQ(r[0], (SaveRange{0, 0}));
}

TEST(SaveAddress, RefusedTextsLeaveTheRangesAlone) {
  SaveRanges r{};
  r[0] = SaveRange{5, 6};
  for (const char* bad : {"10FF-1000", "1000-1000", "1000-2000-3000", "1,2,3,4,5,6", "1000x", "0x1000", "1000;2000",
                          "FFFFFFFFF", "100", "1000-", "2000-10000"}) {
    EXPECT_FALSE(parseSaveAddress(bad, 0x1000, 0xFFFF, r)) << bad;
    EXPECT_EQ(r[0], (SaveRange{5, 6})) << bad;
  }
}

TEST(SaveAddress, RangeRule) {
  SaveRequest q;
  q.areaStart = 0;
  q.areaEnd = 0x1FFF;
  EXPECT_EQ(effectiveSaveRanges(q), (std::vector<SaveRange>{{0, 0x1FFF}}));
  // Every range typed, in the order typed; one at address 0 is a range too.
  ASSERT_TRUE(parseSaveAddress("1000-100F, 0-F, 1FF0", 0, 0x1FFF, q.ranges));
  EXPECT_EQ(q.ranges.count, 3);
  EXPECT_EQ(effectiveSaveRanges(q), (std::vector<SaveRange>{{0x1000, 0x100F}, {0, 0xF}, {0x1FF0, 0x1FF0}}));
  ASSERT_TRUE(parseSaveAddress("0", 0, 0x1FFF, q.ranges));
  EXPECT_EQ(effectiveSaveRanges(q), (std::vector<SaveRange>{{0, 0}})) << "the byte at 0, not the whole area";
  ASSERT_TRUE(parseSaveAddress("1,0,2,0-1,3", 0, 0x1FFF, q.ranges));
  EXPECT_EQ(effectiveSaveRanges(q), (std::vector<SaveRange>{{1, 1}, {0, 0}, {2, 2}, {0, 1}, {3, 3}}));
  ASSERT_TRUE(parseSaveAddress("  ", 0, 0x1FFF, q.ranges));
  EXPECT_EQ(effectiveSaveRanges(q), (std::vector<SaveRange>{{0, 0x1FFF}}));
}

class Saver : public ::testing::Test {
 protected:
  Saver() : data(0x400000) {
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + (i >> 8));
  }
  std::string save(const std::string& name, uint32_t start, uint32_t end, SaveRanges ranges = {}) {
    SaveRequest q;
    q.image = data.data();
    q.areaStart = start;
    q.areaEnd = end;
    q.ranges = ranges;
    q.path = dir.file(name);
    position = 0;
    EXPECT_EQ(saveProgramFile(q, position), SaveResult::Ok);
    return test::readFile(q.path);
  }
  std::vector<std::string> records(const std::vector<std::string>& ls, const std::string& head) {
    std::vector<std::string> v;
    for (const auto& l : ls)
      if (l.compare(0, head.size(), head) == 0) v.push_back(l);
    return v;
  }

  test::TempDir dir;
  std::vector<uint8_t> data;
  std::atomic<uint32_t> position{0};
};

TEST_F(Saver, TwentyBytesAsHexAndAsSRecords) {
  data[0] = 0x00;
  data[1] = 0xAB;
  auto h = lines(save("a.hex", 0, 19));
  ASSERT_EQ(h.size(), 3u);
  EXPECT_EQ(h[0].substr(0, 9), ":10000000");
  EXPECT_EQ(h[0].substr(9, 4), "00AB");
  EXPECT_EQ(h[1].substr(0, 9), ":04001000");
  EXPECT_EQ(h[2], ":00000001FF");
  EXPECT_EQ(position.load(), 32u);
  auto s = lines(save("a.mot", 0, 19));
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0], "S0030000FC");
  EXPECT_EQ(s[1].substr(0, 8), "S1130000");
  EXPECT_EQ(s[2].substr(0, 8), "S1070010");
  EXPECT_EQ(s[3], "S9030000FC");
  for (const auto& l : s) EXPECT_EQ(l.find_first_of("abcdef"), std::string::npos);
}

TEST_F(Saver, HexExtendedRecordsByAreaEnd) {
  auto small = lines(save("a.hex", 0, 0xFFFF));
  EXPECT_TRUE(records(small, ":020000").empty());
  EXPECT_EQ(small.size(), 0x1000u + 1);

  auto seg = records(lines(save("b.HEX", 0, 0x3FFFF)), ":020000");
  EXPECT_EQ(seg,
            (std::vector<std::string>{":020000020000FC", ":020000021000EC", ":020000022000DC", ":020000023000CC"}));

  auto high = records(lines(save("c.hex", 0xF0000, 0x10FFFF)), ":020000");
  EXPECT_EQ(high, (std::vector<std::string>{":020000FF000FF0", ":020000FF0010EF"}));
}

TEST_F(Saver, SRecordWidthsByAreaEnd) {
  auto s2 = lines(save("a.mot", 0x10000, 0x1000F));
  EXPECT_EQ(s2[1].substr(0, 10), "S214010000");
  EXPECT_EQ(s2.back(), "S804000000FB");
  auto s3 = lines(save("a.mot", 0x1000000, 0x100000F));
  EXPECT_EQ(s3[1].substr(0, 12), "S31501000000");
  EXPECT_EQ(s3.back(), "S70500000000FA");
}

TEST_F(Saver, RangesFromTheAddressTextAndUnalignedStarts) {
  SaveRanges r;
  ASSERT_TRUE(parseSaveAddress("1000-10FF, 2000", 0, 0xFFFF, r));
  std::string text = save("a.mot", 0, 0xFFFF, r);
  auto recs = records(lines(text), "S1");
  ASSERT_EQ(recs.size(), 17u);
  EXPECT_EQ(recs[0].substr(0, 8), "S1131000");
  EXPECT_EQ(recs[15].substr(0, 8), "S11310F0");
  EXPECT_EQ(recs[16].substr(0, 8), "S1042000");

  ASSERT_TRUE(parseSaveAddress("1003-1022", 0, 0xFFFF, r));
  recs = records(lines(save("b.hex", 0, 0xFFFF, r)), ":");
  EXPECT_EQ(recs[0].substr(0, 7), ":101003");
  EXPECT_EQ(recs[1].substr(0, 7), ":101013");
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[2], ":00000001FF");
}

TEST_F(Saver, HexRecordsNeverCrossABankBoundary) {
  SaveRanges r;
  ASSERT_TRUE(parseSaveAddress("FFF8-10017", 0, 0x1FFFF, r));
  auto recs = lines(save("a.hex", 0, 0x1FFFF, r));
  ASSERT_GE(recs.size(), 5u);
  EXPECT_EQ(recs[0], ":020000020000FC");
  EXPECT_EQ(recs[1].substr(0, 9), ":08FFF800");
  EXPECT_EQ(recs[2], ":020000021000EC");
  EXPECT_EQ(recs[3].substr(0, 9), ":10000000");
}

TEST_F(Saver, WhatIsWrittenLoadsBackExactly) {
  test::ScriptedPrompter prompter;
  auto image = test::makeImage();
  IdCode id;
  int32_t level = 0;
  for (auto [name, start, end] : {std::tuple{"r.hex", 0x0000, 0x3FFFF}, std::tuple{"r.mot", 0x0000, 0x3FFFF},
                                  std::tuple{"r.hex", 0x0000, 0x3FFFFF}, std::tuple{"r.mot", 0x1000, 0x2FFFF}}) {
    save(name, start, end);
    DeviceDef d = test::makeDevice(uint32_t(start), uint32_t(end - start + 1));
    ASSERT_TRUE(loadProgramFile(LoadMode::Interactive, dir.file(name), d, *image, id, level)) << name;
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + (end - start + 1), image->userImage.begin())) << name;
  }
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(Saver, CreateFailureAndWriteFailureLeaveOldFilesAlone) {
  SaveRequest q;
  q.image = data.data();
  q.areaStart = 0;
  q.areaEnd = 0x3FFFF;
  q.path = dir.file("missing/dir/a.hex");
  EXPECT_EQ(saveProgramFile(q, position), SaveResult::CreateFailed);
  q.path = dir.path().string();
  EXPECT_EQ(saveProgramFile(q, position), SaveResult::CreateFailed);
  // Something other than a regular file is never replaced.
  std::string fifo = dir.file("pipe.mot");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  q.path = fifo;
  EXPECT_EQ(saveProgramFile(q, position), SaveResult::CreateFailed);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  std::filesystem::remove(fifo);

  q.path = dir.file("old.mot");
  test::writeFile(q.path, "old contents\r\n");
  // A file size limit makes the writes fail part-way.
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  struct rlimit small = old;
  small.rlim_cur = 4096;
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  SaveResult r = saveProgramFile(q, position);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r, SaveResult::WriteFailed);
  EXPECT_EQ(test::readFile(q.path), "old contents\r\n");
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1);  // no part-written file left beside it

  EXPECT_EQ(saveProgramFile(q, position), SaveResult::Ok);
  EXPECT_EQ(test::readFile(q.path).substr(0, 12), "S0030000FC\r\n");

  // Saved through a symbolic link: the file it names changes, the link stays.
  std::string link = dir.file("link.mot");
  std::filesystem::create_symlink(q.path, link);
  test::writeFile(q.path, "old\r\n");
  q.path = link;
  EXPECT_EQ(saveProgramFile(q, position), SaveResult::Ok);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::readFile(dir.file("old.mot")).substr(0, 12), "S0030000FC\r\n");
}

TEST_F(Saver, TypedRangesAreAllWrittenInTheirOrder) {
  SaveRanges r;
  ASSERT_TRUE(parseSaveAddress("1000-100F, 0-F, 1FF0", 0, 0x1FFF, r));
  auto m = records(lines(save("r.mot", 0, 0x1FFF, r)), "S1");
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].substr(0, 8), "S1131000");
  EXPECT_EQ(m[1].substr(0, 8), "S1130000");
  EXPECT_EQ(m[2].substr(0, 8), "S1041FF0");
}

TEST_F(Saver, AreaAtTheTopOfTheAddressSpaceReadsBackAtItsAddresses) {
  // A boot area from a file with S3 addresses at 0xFFFFF800.
  const uint32_t start = 0xFFFFF800, end = 0xFFFFFFFF;
  auto s = lines(save("top.btp", start, end));
  EXPECT_EQ(s.front(), "S0030000FC");
  EXPECT_EQ(s[1].substr(0, 12), "S315FFFFF800");
  EXPECT_EQ(s.back(), "S70500000000FA");
  auto h = lines(save("top.hex", start, end));
  EXPECT_EQ(h.front(), test::hexRecord(0xFF, 0, "FFFF").substr(0, 15));

  test::ScriptedPrompter prompter;
  auto image = test::makeImage();
  ProjectSettings settings;
  ASSERT_TRUE(loadBootFile(dir.file("top.btp"), *image, settings));
  EXPECT_EQ(settings.bootStart, start);
  EXPECT_EQ(settings.bootEnd, end);
  EXPECT_TRUE(std::equal(image->bootImage.begin(), image->bootImage.begin() + 0x800, data.begin()));

  DeviceDef device = test::makeDevice(start, 0x800);
  IdCode id;
  int32_t level = 0;
  ASSERT_TRUE(loadProgramFile(LoadMode::Interactive, dir.file("top.hex"), device, *image, id, level));
  EXPECT_TRUE(std::equal(image->userImage.begin(), image->userImage.begin() + 0x800, data.begin()));
  EXPECT_TRUE(prompter.texts().empty()) << "nothing read outside the area";
}

TEST_F(Saver, ReplacedFileKeepsItsPermissions) {
  // The new contents take the old file's place; who may read or write it
  // stays as the operator had set it.
  SaveRequest q;
  q.image = data.data();
  q.areaStart = 0;
  q.areaEnd = 0xFF;
  q.path = dir.file("kept.hex");
  test::writeFile(q.path, "old\r\n");
  ASSERT_EQ(chmod(q.path.c_str(), 0640), 0);
  EXPECT_EQ(saveProgramFile(q, position), SaveResult::Ok);
  struct stat st;
  ASSERT_EQ(stat(q.path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(test::readFile(q.path).substr(0, 1), ":");
}

}  // namespace
}  // namespace vrx4
