// Agreement with other tools: files written by srec_cat and objcopy load into
// exactly the image they were made from, and objcopy reads our files back
// into exactly the bytes saved. Skipped where a tool is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "image/ProgramLoader.h"
#include "image/ProgramSaver.h"

namespace vrx4 {
namespace {

bool haveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

std::string shellQuoted(const std::string& s) { return "'" + s + "'"; }

std::string toLf(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}
std::string toCr(std::string s) {
  s = toLf(s);
  std::replace(s.begin(), s.end(), '\n', '\r');
  return s;
}
std::string toCrLf(const std::string& s) {
  std::string out;
  for (char c : toLf(s)) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}
// Lower-case digits; the S of each record stays as it is.
std::string lowerDigits(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
  return s;
}

class Peers : public ::testing::Test {
 protected:
  Peers() : image(test::makeImage()) {}

  std::vector<uint8_t> randomData(size_t n) {
    std::mt19937 rng(1234);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng());
    return v;
  }
  std::string writeBinary(const std::vector<uint8_t>& v) {
    std::string path = dir.file("data.bin");
    test::writeFile(path, std::string(v.begin(), v.end()));
    return path;
  }
  // Loads `text` (written under `name`) for the area and checks the image:
  // the data at `offset`, blank everywhere else.
  void expectLoads(const std::string& name, const std::string& text, uint32_t areaStart, uint32_t areaSize,
                   uint32_t offset, const std::vector<uint8_t>& data) {
    std::string path = dir.file(name);
    test::writeFile(path, text);
    DeviceDef d = test::makeDevice(areaStart, areaSize);
    IdCode id;
    int32_t level = 0;
    image->userImage.fill(0);
    prompter.clear();
    ASSERT_TRUE(loadProgramFile(LoadMode::Interactive, path, d, *image, id, level)) << name;
    uint32_t at = offset - areaStart;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), image->userImage.begin() + at)) << name;
    EXPECT_TRUE(std::all_of(image->userImage.begin(), image->userImage.begin() + at, [](uint8_t b) {
      return b == 0xFF;
    })) << name;
    EXPECT_TRUE(std::all_of(image->userImage.begin() + at + data.size(), image->userImage.begin() + areaSize,
                            [](uint8_t b) { return b == 0xFF; }))
        << name;
    EXPECT_TRUE(prompter.texts().empty()) << name;
  }
  // Every variant of one peer file: as written, other line ends, lower case.
  void expectAllVariantsLoad(const std::string& peerFile, const std::string& ext, uint32_t areaStart, uint32_t areaSize,
                             uint32_t offset, const std::vector<uint8_t>& data) {
    std::string text = test::readFile(peerFile);
    ASSERT_FALSE(text.empty()) << peerFile;
    expectLoads("v." + ext, text, areaStart, areaSize, offset, data);
    expectLoads("lf." + ext, toLf(text), areaStart, areaSize, offset, data);
    expectLoads("crlf." + ext, toCrLf(text), areaStart, areaSize, offset, data);
    expectLoads("cr." + ext, toCr(text), areaStart, areaSize, offset, data);
    expectLoads("lower." + ext, lowerDigits(text), areaStart, areaSize, offset, data);
  }

  test::TempDir dir;
  test::ScriptedPrompter prompter;
  std::unique_ptr<MemoryImage> image;
};

TEST_F(Peers, SrecCatFilesLoadIntoTheirImage) {
  if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat not installed";
  auto big = randomData(0x30000);
  std::string bin = writeBinary(big);
  std::string out = dir.file("sc.hex");
  ASSERT_EQ(run("srec_cat " + shellQuoted(bin) + " -binary -offset 0x1000 -o " + shellQuoted(out) + " -intel"), 0);
  expectAllVariantsLoad(out, "hex", 0, 0x40000, 0x1000, big);

  for (int width : {3, 4}) {
    out = dir.file("sc" + std::to_string(width) + ".mot");
    ASSERT_EQ(run("srec_cat " + shellQuoted(bin) + " -binary -offset 0x1000 -o " + shellQuoted(out) +
                  " -motorola -address-length=" + std::to_string(width)),
              0);
    expectAllVariantsLoad(out, "mot", 0, 0x40000, 0x1000, big);
  }
  auto small = randomData(0xE000);
  bin = writeBinary(small);
  out = dir.file("sc2.mot");
  ASSERT_EQ(run("srec_cat " + shellQuoted(bin) + " -binary -offset 0x1000 -o " + shellQuoted(out) +
                " -motorola -address-length=2"),
            0);
  ASSERT_NE(test::readFile(out).find("\nS1"), std::string::npos);
  expectAllVariantsLoad(out, "mot", 0, 0x10000, 0x1000, small);
}

// Beyond 65 535 records srec_cat counts them in an S6 record (24 bits).
TEST_F(Peers, SrecCatFilesOfMoreThan65535RecordsLoad) {
  if (!haveTool("srec_cat")) GTEST_SKIP() << "srec_cat not installed";
  auto data = randomData(0x100100);  // 65 552 records of 16 bytes
  std::string bin = writeBinary(data);
  std::string out = dir.file("many.mot");
  ASSERT_EQ(
      run("srec_cat " + shellQuoted(bin) + " -binary -offset 0x800 -o " + shellQuoted(out) + " -motorola -obs=16"), 0);
  std::string text = test::readFile(out);
  ASSERT_NE(text.find("\nS6"), std::string::npos) << "srec_cat wrote no S6 record";
  expectLoads("many.mot", text, 0, 0x200000, 0x800, data);
}

TEST_F(Peers, ObjcopyFilesLoadIntoTheirImage) {
  if (!haveTool("objcopy")) GTEST_SKIP() << "objcopy not installed";
  auto big = randomData(0x30000);
  std::string bin = writeBinary(big);
  // Below 1 MiB objcopy writes extended segment records, above it linear
  // ones. The section address is moved rather than all addresses, so that
  // no start address record (type 03/05, refused by the loader) is written.
  std::string seg = dir.file("oc.hex");
  ASSERT_EQ(run("objcopy -I binary -O ihex --change-section-address .data=0x1000 " + shellQuoted(bin) + " " +
                shellQuoted(seg)),
            0);
  ASSERT_NE(test::readFile(seg).find(":02000002"), std::string::npos);
  expectAllVariantsLoad(seg, "hex", 0, 0x40000, 0x1000, big);

  std::string lin = dir.file("ocl.hex");
  ASSERT_EQ(run("objcopy -I binary -O ihex --change-section-address .data=0x101000 " + shellQuoted(bin) + " " +
                shellQuoted(lin)),
            0);
  ASSERT_NE(test::readFile(lin).find(":02000004"), std::string::npos);
  expectAllVariantsLoad(lin, "hex", 0x100000, 0x40000, 0x101000, big);

  std::string s2 = dir.file("oc.mot");
  ASSERT_EQ(run("objcopy -I binary -O srec --change-section-address .data=0x1000 " + shellQuoted(bin) + " " +
                shellQuoted(s2)),
            0);
  expectAllVariantsLoad(s2, "mot", 0, 0x40000, 0x1000, big);
  std::string s3 = dir.file("oc3.mot");
  ASSERT_EQ(run("objcopy -I binary -O srec --srec-forceS3 --change-section-address .data=0x1000 " + shellQuoted(bin) +
                " " + shellQuoted(s3)),
            0);
  expectAllVariantsLoad(s3, "mot", 0, 0x40000, 0x1000, big);
}

TEST_F(Peers, ObjcopyReadsOurFilesBackIntoTheSavedBytes) {
  if (!haveTool("objcopy")) GTEST_SKIP() << "objcopy not installed";
  auto data = randomData(0x40000);
  struct Case {
    const char* name;
    const char* format;
    int32_t start, end;
  };
  for (Case c : {Case{"o.hex", "ihex", 0x1000, 0x3FFFF}, Case{"o16.hex", "ihex", 0x0100, 0xFFFF},
                 Case{"o1.mot", "srec", 0x0100, 0xFFFF}, Case{"o2.mot", "srec", 0x1000, 0x3FFFF},
                 Case{"o3.mot", "srec", 0x1000000, 0x103FFFF}}) {
    SaveRequest q;
    q.image = data.data();
    q.areaStart = c.start;
    q.areaEnd = c.end;
    q.path = dir.file(c.name);
    std::atomic<uint32_t> position{0};
    ASSERT_EQ(saveProgramFile(q, position), SaveResult::Ok) << c.name;
    std::string back = dir.file(std::string(c.name) + ".bin");
    ASSERT_EQ(
        run(std::string("objcopy -I ") + c.format + " -O binary " + shellQuoted(q.path) + " " + shellQuoted(back)), 0)
        << c.name;
    std::string bytes = test::readFile(back);
    size_t n = size_t(c.end - c.start + 1);
    ASSERT_EQ(bytes.size(), n) << c.name;
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), data.begin(), [](char a, uint8_t b) { return uint8_t(a) == b; }))
        << c.name;
  }
}

}  // namespace
}  // namespace vrx4
