// Every reader of the programs meets a name that is no file it can use (a
// link to a device that never ends, a pipe nobody writes, a folder, a file
// far larger than its kind) with a refusal that names the file and the
// reason, at once and without an exception; and the texts from outside are
// shown escaped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "app/DeviceTable.h"
#include "app/DialogPaths.h"
#include "app/FirmwareUpdate.h"
#include "base/DisplayText.h"
#include "base/InputFile.h"
#include "image/BootFileReader.h"
#include "image/ProgramLoader.h"
#include "sim/UnitState.h"
#include "view/ProjectFile.h"

namespace vrx4 {
namespace {

// What a reader did with one name: refused or not, and everything it said
// about it (message, log line detail, reason).
struct Outcome {
  bool refused = false;
  std::string said;
};

struct Reader {
  const char* kind;
  InputKind inputKind;
  const char* fileName;  // the name the reader is given in its folder
  std::function<Outcome(const std::string& folder, const std::string& path)> read;
};

class Guarded : public ::testing::Test {
 protected:
  // The prompter's messages with their details, and the log lines.
  std::string spoken() {
    std::string s;
    for (const Prompt& p : prompter.prompts()) s += p.text + " | " + p.detail + "\n";
    for (const std::string& l : log.lines()) s += l + "\n";
    prompter.clear();
    return s;
  }

  std::vector<Reader> readers() {
    return {
        {"program", InputKind::Program, "app.hex",
         [this](const std::string&, const std::string& path) {
           auto image = test::makeImage();
           IdCode id;
           int32_t level = 0;
           const bool ok = loadProgramFile(LoadMode::Interactive, path, test::makeDevice(0, 0x1000), *image, id, level);
           const std::string s = spoken();
           EXPECT_NE(s.find(kFileOpenError), std::string::npos) << s;
           return Outcome{!ok, s};
         }},
        {"boot", InputKind::Boot, "boot.btp",
         [this](const std::string&, const std::string& path) {
           auto image = test::makeImage();
           ProjectSettings settings;
           const bool ok = loadBootFile(path, *image, settings);
           const std::string s = spoken();
           EXPECT_NE(s.find(kFileOpenError), std::string::npos) << s;
           return Outcome{!ok, s};
         }},
        {"firmware", InputKind::Firmware, "vrx4.fwp",
         [this](const std::string&, const std::string& path) {
           FirmwareImage firmware;
           const bool ok = readFirmwareFile(path, firmware);
           const std::string s = spoken();
           // There, so not "missing": the open error.
           EXPECT_NE(s.find(std::string(kFileOpenError) + " |"), std::string::npos) << s;
           return Outcome{!ok, s};
         }},
        {"project", InputKind::Project, "job.vxp",
         [](const std::string&, const std::string& path) {
           ProjectSettings settings;
           std::string why;
           const ProjectReadResult r = readProjectFile(path, 10, settings, &why);
           return Outcome{r == ProjectReadResult::OpenFailed, why};
         }},
        {"device table", InputKind::DeviceTable, "vrx4type.tbl",
         [this](const std::string&, const std::string& path) {
           DeviceTable table;
           bool missing = true;
           const bool ok = parseDeviceTableFile(path, table, missing);
           EXPECT_FALSE(missing);  // there, though no table
           const std::string s = spoken();
           EXPECT_NE(s.find(kDeviceTableFormatError), std::string::npos) << s;
           return Outcome{!ok, s};
         }},
        {"dlg_path", InputKind::DialogPaths, "dlg_path",
         [this](const std::string& folder, const std::string&) {
           DialogPaths paths;
           loadDialogPaths(paths, "/program/", folder + "/");
           // Refused: the defaults, as without a file.
           const bool defaults = paths.slot(kUserFileFolderSlot) == "/program/";
           return Outcome{defaults, spoken()};
         }},
        {"unit state", InputKind::UnitState, "unit-state",
         [](const std::string&, const std::string& path) {
           UnitState state;
           std::string why;
           return Outcome{loadUnitState(path, state, why) == StateLoad::Damaged, why};
         }},
    };
  }

  test::TempDir dir;
  test::FakeClockScope clock;
  test::ScriptedPrompter prompter;
  test::LogCapture log;
};

TEST_F(Guarded, EveryReaderRefusesADeviceAPipeAFolderAndAnOversizedFile) {
  int n = 0;
  for (const Reader& r : readers()) {
    const InputLimit limit = inputLimit(r.inputKind);
    struct Hostile {
      const char* what;
      std::function<void(const std::string&)> make;
      const char* reason;
    };
    const std::vector<Hostile> hostile = {
        {"link to /dev/zero", [](const std::string& p) { std::filesystem::create_symlink("/dev/zero", p); },
         "not a regular file (a character device)"},
        {"pipe", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, "not a regular file (a pipe)"},
        {"folder", [](const std::string& p) { std::filesystem::create_directory(p); }, "Is a directory"},
    };
    for (const Hostile& h : hostile) {
      const std::string folder = dir.file("case" + std::to_string(n++));
      std::filesystem::create_directory(folder);
      const std::string path = folder + "/" + r.fileName;
      h.make(path);
      const Outcome o = r.read(folder, path);
      EXPECT_TRUE(o.refused) << r.kind << ", " << h.what;
      EXPECT_NE(o.said.find(path), std::string::npos) << r.kind << ", " << h.what << ": " << o.said;
      EXPECT_NE(o.said.find(h.reason), std::string::npos) << r.kind << ", " << h.what << ": " << o.said;
    }
    // One byte over the limit (a sparse file: nothing is written). Files of
    // a fixed layout are read up to it; the others are refused unread.
    if (limit.readPrefix) continue;
    const std::string folder = dir.file("case" + std::to_string(n++));
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/" + r.fileName;
    test::writeFile(path, "");
    ASSERT_EQ(::truncate(path.c_str(), off_t(limit.maxBytes + 1)), 0);
    const Outcome o = r.read(folder, path);
    EXPECT_TRUE(o.refused) << r.kind << ", oversized";
    EXPECT_NE(o.said.find(path), std::string::npos) << r.kind << ": " << o.said;
    EXPECT_NE(o.said.find("larger than " + std::to_string(limit.maxBytes) + " bytes"), std::string::npos)
        << r.kind << ": " << o.said;
  }
}

TEST_F(Guarded, FixedLayoutsReadTheirOwnSizeOfALongerFile) {
  ProjectSettings settings;
  settings.deviceIndex = -1;
  std::string text = "sample.hex";
  std::memcpy(settings.userFileName, text.c_str(), text.size() + 1);
  settings.userFileNameLength = int32_t(text.size());
  const std::vector<uint8_t> bytes = projectFileBytes(settings);
  const std::string project = dir.file("long.vxp");
  test::writeFile(project, std::string(bytes.begin(), bytes.end()));
  ASSERT_EQ(::truncate(project.c_str(), off_t(1) << 32), 0);  // 4 GiB, sparse
  ProjectSettings back;
  EXPECT_EQ(readProjectFile(project, 1, back), ProjectReadResult::Ok);
  EXPECT_EQ(std::string(back.userFileName), text);

  DialogPaths paths;
  paths.setSlot(kBootFileFolderSlot, "/boot/files/");
  test::writeFile(dir.file("dlg_path"), std::string(paths.bytes.begin(), paths.bytes.end()));
  ASSERT_EQ(::truncate(dir.file("dlg_path").c_str(), off_t(1) << 32), 0);
  DialogPaths read;
  loadDialogPaths(read, "/program/", dir.path().string() + "/");
  EXPECT_EQ(read.slot(kBootFileFolderSlot), "/boot/files/");
  EXPECT_TRUE(log.lines().empty());
}

// Sees the bytes of program files as they are read.
class Collect final : public InputTap {
 public:
  bool opened(InputKind kind, const std::string&) override {
    seen.clear();
    return kind == InputKind::Program;
  }
  void bytes(const uint8_t* data, size_t length) override { seen.append(reinterpret_cast<const char*>(data), length); }
  void closed(bool whole) override { this->whole = whole; }
  std::string seen;
  bool whole = false;
};

TEST_F(Guarded, ATapSeesTheWholeFileTheLoaderReadEvenPastItsEndRecord) {
  // The end record comes first: the loader stops there, the tap still gets
  // every byte (across the reader's blocks).
  std::string text = ":00000001FF\r\n";
  while (text.size() < 3 * 1024 * 1024) text += test::hexRecord(0, 0x10, "0102030405060708");
  const std::string path = dir.file("big.hex");
  test::writeFile(path, text);
  Collect tap;
  InputTap* previous = setInputTap(&tap);
  auto image = test::makeImage();
  IdCode id;
  int32_t level = 0;
  EXPECT_TRUE(loadProgramFile(LoadMode::Interactive, path, test::makeDevice(0, 0x1000), *image, id, level));
  // Other kinds are not given to it.
  ProjectSettings settings;
  EXPECT_EQ(readProjectFile(dir.file("none.vxp"), 1, settings), ProjectReadResult::OpenFailed);
  setInputTap(previous);
  EXPECT_TRUE(tap.whole);
  EXPECT_TRUE(tap.seen == text) << tap.seen.size() << " of " << text.size() << " bytes";
}

TEST(DisplayText, ControlCharactersAndBrokenBytesAreShownEscaped) {
  EXPECT_EQ(displayText("Ver.1.11 2026/01/02"), "Ver.1.11 2026/01/02");
  // Terminal sequences: clear screen, set the title, bell.
  EXPECT_EQ(displayText("\x1b[2J\x1b]0;owned\x07"), "\\x1b[2J\\x1b]0;owned\\x07");
  EXPECT_EQ(displayText(std::string("a\0b\r\n\t\x7f", 7)), "a\\x00b\\x0d\\x0a\\x09\\x7f");
  // Bytes that are no UTF-8: stray, cut off, overlong, a surrogate.
  EXPECT_EQ(displayText("\xff\xfe"), "\\xff\\xfe");
  EXPECT_EQ(displayText("ab\xe2\x82"), "ab\\xe2\\x82");
  EXPECT_EQ(displayText("\xc0\xaf"), "\\xc0\\xaf");
  EXPECT_EQ(displayText("\xed\xa0\x80"), "\\xed\\xa0\\x80");
  // C1 controls (a CSI of its own) and turns of the writing direction.
  EXPECT_EQ(displayText("\xc2\x9b"
                        "2J"),
            "\\u009B2J");
  EXPECT_EQ(displayText("abc\xe2\x80\xae"
                        "txt.exe"),
            "abc\\u202Etxt.exe");
  // Other scripts stay as they are; Windows paths keep their backslashes.
  EXPECT_EQ(displayText("D:\\jobs\\\xe3\x83\x9d\xe3\x83\xb3\xe3\x83\x97.hex"),
            "D:\\jobs\\\xe3\x83\x9d\xe3\x83\xb3\xe3\x83\x97.hex");
  EXPECT_EQ(displayText("\xf0\x9f\x94\xa7"), "\xf0\x9f\x94\xa7");
  // A message keeps its line breaks, nothing else.
  EXPECT_EQ(displayMessage("Level1 protect enabled\nLoad \x1b[1m?"), "Level1 protect enabled\nLoad \\x1b[1m?");
}

}  // namespace
}  // namespace vrx4
