#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ScriptedUnit.h"
#include "app/UnitCheck.h"
#include "link/Commands.h"

namespace vrx4::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> unitInfoReply(const std::string& model, const std::string& version) {
  std::vector<uint8_t> d(112, 0);
  std::copy(model.begin(), model.end(), d.begin());
  std::copy(version.begin(), version.end(), d.begin() + 64);
  const std::string date = "2026/01/01";
  std::copy(date.begin(), date.end(), d.begin() + 96);
  return d;
}

// An S3 line over the given device address.
std::string s3(uint32_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> body{uint8_t(data.size() + 5), uint8_t(address >> 24), uint8_t(address >> 16),
                            uint8_t(address >> 8), uint8_t(address)};
  body.insert(body.end(), data.begin(), data.end());
  unsigned sum = 0;
  std::string line = "S3";
  char hex[4];
  for (uint8_t b : body) {
    sum += b;
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  std::snprintf(hex, sizeof hex, "%02X", (~sum) & 0xFF);
  return line + hex + "\r\n";
}

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

class UnitCheckTest : public ScriptedUnitFixture {
 protected:
  void SetUp() override {
    ScriptedUnitFixture::SetUp();
    folder = fs::temp_directory_path() / ("vrx4-unitcheck-" + std::to_string(::getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    state.executablePath = (folder / "vrx4").string();
    writeTable("# T552-VRX4\nDEMO-1,0,0,0,8000,21,0,0,0,1,0,8000,0,0,0,0\n");
    writeFirmware(s3(0xFE0000, bytesOf("T552-VRX4")) + "S70500F8000002\r\n");
    unit->on(kCmdGetUnitInfo, [this](const uint8_t*, size_t) {
      ++infoReads;
      return ScriptedUnit::ok(unitInfoReply(model, infoReads > 1 && updated ? "Ver.1.11" : version));
    });
    unit->on(kCmdGetExecutionState, [this](const uint8_t*, size_t) { return ScriptedUnit::ok({mode}); });
    unit->on(kCmdSetExecutionMode, [this](const uint8_t* p, size_t) {
      if (switches) mode = p[0];
      return ScriptedUnit::ok();
    });
    unit->on(kCmdGetInitialLoadData,
             [](const uint8_t*, size_t) { return ScriptedUnit::ok(std::vector<uint8_t>(300, 0x40)); });
    runUpdate = [this](const FirmwareImage& image) {
      updateImage = image;
      updated = true;
    };
  }
  void TearDown() override {
    fs::remove_all(folder);
    ScriptedUnitFixture::TearDown();
  }
  void writeTable(const std::string& text) { std::ofstream(folder / "vrx4type.tbl") << text; }
  void writeFirmware(const std::string& text) { std::ofstream(folder / "vrx4.fwp", std::ios::binary) << text; }

  fs::path folder;
  AppState state;
  std::string model = "T552-VRX4";
  std::string version = "Ver.1.11";
  uint8_t mode = 2;
  bool switches = true;
  bool updated = false;
  int infoReads = 0;
  FirmwareImage updateImage;
  UpdateRunner runUpdate;
};

TEST_F(UnitCheckTest, MatchingVersionWithAnyLaterTextOffersNoUpdate) {
  version = "Ver.1.11 build 7";
  EXPECT_TRUE(checkUnit(state, runUpdate));
  EXPECT_TRUE(prompts.prompts().empty());
  EXPECT_EQ(unit->count(kCmdSetExecutionMode), 0);
  EXPECT_EQ(infoReads, 2);
  EXPECT_FALSE(updated);
  EXPECT_FALSE(state.reinitPending);
  EXPECT_EQ(state.unitInfo.firmwareVersion, "Ver.1.11 build 7");
}

TEST_F(UnitCheckTest, UpdateModeAtStartOffersTheUpdateWithoutComparing) {
  mode = 1;  // even with the host's own version
  prompts.answer(Answer::Ok);
  EXPECT_TRUE(checkUnit(state, runUpdate));
  ASSERT_EQ(prompts.texts(), (std::vector<std::string>{"Would you like to update firmware?"}));
  EXPECT_EQ(prompts.prompts()[0].icon, Icon::Exclamation);
  EXPECT_EQ(prompts.prompts()[0].buttons, Buttons::OkCancel);
  EXPECT_EQ(unit->count(kCmdSetExecutionMode), 0);
  EXPECT_TRUE(updated);
  EXPECT_TRUE(state.reinitPending);
  EXPECT_EQ(std::string(updateImage.begin() + kFirmwareModelOffset, updateImage.begin() + kFirmwareModelOffset + 9),
            "T552-VRX4");
  EXPECT_EQ(updateImage[0], 0xFF);
  EXPECT_GE(fakeClock->sleptMs(), 1000u) << "the question waits for the start-up picture";
}

TEST_F(UnitCheckTest, DifferentVersionSwitchesToUpdateModeFirst) {
  version = "Ver.1.10";
  prompts.answer(Answer::Ok);
  EXPECT_TRUE(checkUnit(state, runUpdate));
  EXPECT_EQ(unit->count(kCmdSetExecutionMode), 1);
  auto reqs = unit->requests();
  bool sawMode1 = false;
  for (auto& r : reqs)
    if (r.size() > 3 && r[2] == kCmdSetExecutionMode) sawMode1 = r[3] == 1;
  EXPECT_TRUE(sawMode1);
  EXPECT_TRUE(updated);
  EXPECT_EQ(state.unitInfo.firmwareVersion, "Ver.1.11") << "the second reading is kept";
}

TEST_F(UnitCheckTest, UnitThatDoesNotSwitchIsAnExecStateError) {
  version = "Ver.2.00";
  switches = false;
  EXPECT_FALSE(checkUnit(state, runUpdate));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"Firmware exec state error."}));
  EXPECT_FALSE(updated);
}

TEST_F(UnitCheckTest, DecliningOrAMissingFileEndsTheStartUp) {
  mode = 1;
  prompts.answer(Answer::Cancel);
  EXPECT_FALSE(checkUnit(state, runUpdate));
  EXPECT_EQ(prompts.texts().size(), 1u);
  EXPECT_FALSE(updated);

  prompts.clear();
  fs::remove(folder / "vrx4.fwp");
  prompts.answer(Answer::Ok);
  EXPECT_FALSE(checkUnit(state, runUpdate));
  EXPECT_EQ(prompts.texts(),
            (std::vector<std::string>{"Would you like to update firmware?", "No firmware update file found."}));
}

TEST_F(UnitCheckTest, WrongModelIsRefused) {
  model = "T552-VRX3";
  EXPECT_FALSE(checkUnit(state, runUpdate));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"Different model."}));
}

TEST_F(UnitCheckTest, FirmwareFileChecks) {
  FirmwareImage image(kFirmwareImageSize, 0);
  // No data at all: the model text is missing.
  writeFirmware("S0030000FC\r\nS70500F8000002\r\n");
  EXPECT_FALSE(readFirmwareFile((folder / "vrx4.fwp").string(), image));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"File format error."}));
  EXPECT_EQ(image[0], 0) << "the image is untouched on failure";

  // Part of the range: the rest stays blank.
  prompts.clear();
  writeFirmware(s3(0xF80010, {1, 2, 3}) + s3(0xFE0000, bytesOf("T552-VRX4")) + "S70500F8000002\r\n");
  ASSERT_TRUE(readFirmwareFile((folder / "vrx4.fwp").string(), image));
  EXPECT_EQ(image[0x0F], 0xFF);
  EXPECT_EQ(image[0x10], 1);
  EXPECT_EQ(image[0x12], 3);
  EXPECT_EQ(image[0x13], 0xFF);
  EXPECT_EQ(image[kFirmwareImageSize - 1], 0xFF);

  // A bad line checksum.
  prompts.clear();
  writeFirmware("S32500F80000CBBED3A6811058DF3443A676C621D1E6B4444FCC1364520D4C61E7C7970FD3F833\r\n");
  EXPECT_FALSE(readFirmwareFile((folder / "vrx4.fwp").string(), image));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"File format error."}));

  // A termination record outside the area with extra bytes asks the
  // outside-area question; No ends with "Invalid address contained.".
  prompts.clear();
  prompts.answer(Answer::No);
  writeFirmware(s3(0xFE0000, bytesOf("T552-VRX4")) + "S70600001000AA3F\r\n");
  EXPECT_FALSE(readFirmwareFile((folder / "vrx4.fwp").string(), image));
  auto texts = prompts.texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].find("non-ROM area"), std::string::npos);
  EXPECT_EQ(texts[1], "Invalid address contained.");

  // Data outside the area accepted with Yes: skipped, the read goes on.
  prompts.clear();
  prompts.answer(Answer::Yes);
  writeFirmware(s3(0x001000, {9}) + s3(0xFE0000, bytesOf("T552-VRX4")) + "S70500F8000002\r\n");
  EXPECT_TRUE(readFirmwareFile((folder / "vrx4.fwp").string(), image));
  EXPECT_EQ(prompts.texts().size(), 1u);
}

TEST_F(UnitCheckTest, ConnectionCheckInItsOrder) {
  EXPECT_TRUE(checkConnection(state, runUpdate));
  EXPECT_EQ(state.deviceTable.rowCount(), 1);
  EXPECT_FALSE(state.initialLoad.hasSettings);
  EXPECT_EQ(unit->count(kCmdGetBootAreaInfo), 0) << "not in option mode";
  EXPECT_EQ(state.dialogPaths.slot(0), folder.string() + "/");
  EXPECT_FALSE(state.reinitPending);
  EXPECT_TRUE(prompts.prompts().empty());
}

TEST_F(UnitCheckTest, OptionModeReadsTheBootAreaRecord) {
  writeTable("# T552-VRX4\n# OPTION MODE\nDEMO-1,0,0,0,8000,21,0,0,0,1,0,8000,0,0,0,0\n");
  std::vector<uint8_t> boot{1, 3, 'a', 'b', 'c', 0x00, 0x10, 0, 0, 0x00, 0x02, 0, 0, 0x34, 0x12};
  unit->on(kCmdGetBootAreaInfo, [&](const uint8_t*, size_t) { return ScriptedUnit::ok(boot); });
  EXPECT_TRUE(checkConnection(state, runUpdate));
  EXPECT_EQ(state.bootArea.bootFileName, "abc");
  EXPECT_EQ(state.bootArea.bootStart, 0x1000u);
  EXPECT_EQ(state.bootArea.bootSize, 0x200u);
  EXPECT_EQ(state.bootArea.bootEnd(), 0x11FFu);
  EXPECT_EQ(unit->count(kCmdGetBootAreaInfo), 1);

  unit->on(kCmdGetBootAreaInfo, [](const uint8_t*, size_t) { return ScriptedUnit::fail(227); });
  closeLink();
  EXPECT_FALSE(checkConnection(state, runUpdate));
}

TEST_F(UnitCheckTest, MissingOrBrokenTableEndsTheStartUp) {
  fs::remove(folder / "vrx4type.tbl");
  EXPECT_FALSE(checkConnection(state, runUpdate));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"No device definition file 'vrx4type.tbl' found."}));
  closeLink();
  prompts.clear();
  writeTable("DEMO-1,0,0\n");
  EXPECT_FALSE(checkConnection(state, runUpdate));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"Device definition file 'vrx4type.tbl' format error."}));
}

TEST_F(UnitCheckTest, InconsistentStoredSettingsGoOnAndAskForInitializing) {
  // A name of 2 characters, then an ID code length above 64.
  std::vector<uint8_t> d(300, 0);
  d[0] = 2;
  d[1] = 'A';
  d[2] = 'B';
  d[4] = 0;         // file name length
  d[5 + 128] = 65;  // ID code length
  unit->on(kCmdGetInitialLoadData, [d](const uint8_t*, size_t) { return ScriptedUnit::ok(d); });
  EXPECT_TRUE(checkConnection(state, runUpdate));
  EXPECT_EQ(prompts.texts(),
            (std::vector<std::string>{"Communication error from T552-VRX4.", "Invalid Initial load data."}));
  EXPECT_TRUE(state.reinitPending);
}

TEST_F(UnitCheckTest, NoUnitEndsWithTheCommunicationMessageAfterAboutOneSecond) {
  closeLink();
  driver.unplug(0);
  EXPECT_FALSE(checkConnection(state, runUpdate));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"Communication error. Can't accept data from T552-VRX4."}));
  EXPECT_EQ(fakeClock->sleptMs(), 1000u + 1000u) << "ten tries 100 ms apart, then the message pause";
}

}  // namespace
}  // namespace vrx4::test
