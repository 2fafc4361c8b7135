// How the readers meet their files: every kind of line end ends a line (also
// where it falls across the reader's blocks), and a name that is no regular
// file is refused before anything is read from it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "app/FirmwareUpdate.h"
#include "image/BootFileReader.h"
#include "image/LineReader.h"
#include "image/ProgramLoader.h"

namespace vrx4 {
namespace {

using test::hexRecord;
using test::sRecord;

// The text with each CR LF replaced by `end`.
std::string withLineEnds(const std::string& crlf, const std::string& end) {
  std::string out;
  for (size_t i = 0; i < crlf.size(); ++i) {
    if (crlf[i] == '\r' && i + 1 < crlf.size() && crlf[i + 1] == '\n') {
      out += end;
      ++i;
    } else {
      out += crlf[i];
    }
  }
  return out;
}

const char* const kEnds[] = {"\n", "\r\n", "\r"};

TEST(LineReading, EveryLineEndIsOneLineEndAlsoAcrossBlocks) {
  test::TempDir dir;
  std::mt19937 rng(77);
  // Lines of every length around the block size, each with a random end; a
  // CR LF pair then falls across a block boundary somewhere.
  std::vector<std::string> lines;
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    std::string l(size_t(1 + rng() % 40), 'x');  // never empty: "\r" + "\n" is one end
    for (char& c : l) c = char('a' + rng() % 26);
    lines.push_back(l);
    text += l + kEnds[rng() % 3];
  }
  text += "last";  // no line end at all
  lines.push_back("last");
  const std::string path = dir.file("lines.txt");
  test::writeFile(path, text);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  {
    LineReader reader(f, kMaxLineLength);  // the smallest block
    std::string_view line;
    size_t n = 0;
    for (LineReader::Status s; (s = reader.next(line)) != LineReader::Status::End;) {
      ASSERT_EQ(s, LineReader::Status::Line);
      ASSERT_LT(n, lines.size());
      std::string_view body = line;
      if (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.remove_suffix(1);
      ASSERT_EQ(body, lines[n]) << "line " << n;
      ++n;
    }
    EXPECT_EQ(n, lines.size());
  }
  std::fclose(f);
}

class Reading : public ::testing::Test {
 protected:
  Reading() : image(test::makeImage()), device(test::makeDevice(0, 0x40000)) {}
  std::string write(const std::string& name, const std::string& content) {
    std::string path = dir.file(name);
    test::writeFile(path, content);
    return path;
  }
  bool load(const std::string& path) {
    return loadProgramFile(LoadMode::Interactive, path, device, *image, idCode, protectLevel);
  }

  test::TempDir dir;
  test::FakeClockScope clock;
  test::ScriptedPrompter prompter;
  std::unique_ptr<MemoryImage> image;
  DeviceDef device;
  IdCode idCode;
  int32_t protectLevel = 0;
};

TEST_F(Reading, ProgramFilesGiveTheSameImageWithEveryLineEnd) {
  const std::string hex = hexRecord(0, 0x0010, "0102030405") + hexRecord(4, 0, "0001") + hexRecord(0, 0x0000, "A1") +
                          hexRecord(4, 0, "0003") + hexRecord(0, 0xFFF0, "B2") + hexRecord(1, 0);
  const std::string mot = "S0030000FC\r\n" + sRecord('1', 0x0020, "0A0B") + sRecord('2', 0x010020, "0C") +
                          sRecord('3', 0x0003FFF0, "0D") + sRecord('9', 0);
  for (const auto& [ext, body] : {std::pair{"hex", hex}, std::pair{"mot", mot}}) {
    std::vector<uint8_t> first;
    std::array<int32_t, kBankCount> banks{};
    for (const char* end : kEnds) {
      image->userImage.fill(0);
      prompter.clear();
      ASSERT_TRUE(load(write(std::string("p.") + ext, withLineEnds(body, end)))) << ext;
      EXPECT_TRUE(prompter.texts().empty());
      std::vector<uint8_t> now(image->userImage.begin(), image->userImage.begin() + 0x40000);
      if (first.empty()) {
        first = now;
        banks = image->bankHasData;
        continue;
      }
      EXPECT_EQ(now, first) << ext << " with line end " << int(end[0]) << "/" << std::strlen(end);
      EXPECT_EQ(image->bankHasData, banks) << ext;
    }
    EXPECT_EQ(banks[3], 1) << "the last data record was read (" << ext << ")";
  }
  // A damaged record after a CR is found, not skipped.
  EXPECT_FALSE(load(write("p.mot", withLineEnds(mot, "\r") + "S1 broken\r")));
  EXPECT_EQ(prompter.texts().back(), kFileFormatError);
}

TEST_F(Reading, BootAndFirmwareFilesGiveTheSameContentsWithEveryLineEnd) {
  const std::string boot = "S0030000FC\r\n" + sRecord('1', 0x1000, "11223344") + sRecord('1', 0x1400, "55") +
                           sRecord('1', 0x17FF, "66") + sRecord('9', 0);
  // A firmware file: the model text at its place and data at both ends.
  std::string model;
  for (const char* p = kUnitModel; *p; ++p) {
    char b[3];
    std::snprintf(b, sizeof b, "%02X", unsigned(uint8_t(*p)));
    model += b;
  }
  const std::string fw = "S0030000FC\r\n" + sRecord('2', kFirmwareBase, "A5A5") +
                         sRecord('2', kFirmwareBase + kFirmwareModelOffset, model) +
                         sRecord('2', kFirmwareAreaEnd - 1, "5A5A") + sRecord('8', 0);
  for (const char* end : kEnds) {
    ProjectSettings settings;
    image->bootImage.fill(0);
    ASSERT_TRUE(loadBootFile(write("b.btp", withLineEnds(boot, end)), *image, settings));
    EXPECT_EQ(settings.bootStart, 0x1000u);
    EXPECT_EQ(settings.bootEnd, 0x17FFu);
    EXPECT_EQ(image->bootImage[0x400], 0x55);
    EXPECT_EQ(image->bootImage[0x7FF], 0x66);

    FirmwareImage firmware;
    ASSERT_TRUE(readFirmwareFile(write("vrx4.fwp", withLineEnds(fw, end)), firmware));
    EXPECT_EQ(firmware[0], 0xA5);
    EXPECT_EQ(firmware[kFirmwareAreaEnd - kFirmwareBase], 0x5A);
  }
  EXPECT_TRUE(prompter.texts().empty());
}

TEST_F(Reading, NamesThatAreNoRegularFileAreOpenErrors) {
  // A device that never ends, a pipe that nobody writes, a folder.
  std::filesystem::create_symlink("/dev/zero", dir.file("zero.hex"));
  std::filesystem::create_symlink("/dev/zero", dir.file("zero.btp"));
  std::filesystem::create_symlink("/dev/zero", dir.file("zero.fwp"));
  ASSERT_EQ(::mkfifo(dir.file("pipe.mot").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.file("folder.btp"));
  image->userImage[5] = 0x42;

  EXPECT_FALSE(load(dir.file("zero.hex")));
  EXPECT_FALSE(load(dir.file("pipe.mot")));
  EXPECT_EQ(image->userImage[5], 0x42);
  ProjectSettings settings;
  settings.bootStart = 0x1234;
  EXPECT_FALSE(loadBootFile(dir.file("zero.btp"), *image, settings));
  EXPECT_FALSE(loadBootFile(dir.file("folder.btp"), *image, settings));
  EXPECT_EQ(settings.bootStart, 0x1234u);
  FirmwareImage firmware;
  EXPECT_FALSE(readFirmwareFile(dir.file("zero.fwp"), firmware));
  EXPECT_EQ(prompter.texts(), std::vector<std::string>(5, kFileOpenError));

  // A symbolic link to a regular file is that file.
  write("real.hex", hexRecord(0, 0x10, "77"));
  std::filesystem::create_symlink(dir.file("real.hex"), dir.file("link.hex"));
  EXPECT_TRUE(load(dir.file("link.hex")));
  EXPECT_EQ(image->userImage[0x10], 0x77);
}

}  // namespace
}  // namespace vrx4
