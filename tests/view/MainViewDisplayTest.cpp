#include <gtest/gtest.h>

#include "MainViewFixture.h"

namespace vrx4::test {
namespace {

class MainViewDisplayTest : public MainViewFixture {};

TEST_F(MainViewDisplayTest, FreshUnitStartsWithNoDeviceAndEverythingDisabled) {
  restart();
  const MainFormState& f = view->form();
  EXPECT_EQ(f.deviceNames.size(), 4u);
  EXPECT_EQ(f.deviceNames[0], "TEST-64K4");
  EXPECT_EQ(f.deviceSelection, -1);
  EXPECT_TRUE(f.deviceListFocus);
  EXPECT_FALSE(f.loadButton.enabled || f.startButton.enabled || f.setCanButton.enabled || f.detailButton.enabled);
  for (bool on : f.operationEnabled) EXPECT_FALSE(on);
  EXPECT_FALSE(f.editUserRomEnabled);
  EXPECT_FALSE(f.bootLoader.visible) << "no option mode";
  EXPECT_FALSE(f.editBootRomPresent);
  EXPECT_EQ(f.userRomArea.text, "");
  EXPECT_EQ(f.resultText, "");
  EXPECT_TRUE(state->startupOk);
}

TEST_F(MainViewDisplayTest, DeviceFieldsAndBlockRules) {
  view->OnDeviceChanged(0);
  const MainFormState& f = view->form();
  EXPECT_EQ(f.userRomArea.text, "010000-01FFFF");
  EXPECT_EQ(f.block.text, "0-3");
  EXPECT_EQ(f.vcc.text, "3.3V");
  EXPECT_EQ(f.vpp.text, "5V");
  EXPECT_TRUE(f.operationBlock.enabled);
  EXPECT_EQ(f.operationBlock.text, "0-3");
  // No user file: the three program operations are off and Blank is chosen.
  EXPECT_FALSE(f.operationEnabled[0] || f.operationEnabled[3] || f.operationEnabled[4]);
  EXPECT_TRUE(f.operationEnabled[1] && f.operationEnabled[2] && f.operationEnabled[5]);
  EXPECT_EQ(f.operationIndex, 1);
  EXPECT_TRUE(f.editUserRomEnabled);

  view->OnDeviceChanged(1);
  EXPECT_EQ(f.block.text, "0");
  EXPECT_FALSE(f.operationBlock.enabled);
  EXPECT_EQ(f.vcc.text, "12V");
  EXPECT_EQ(f.vpp.text, "");

  view->OnDeviceChanged(2);
  for (uint8_t b : state->settings.lockBits.deviceBlockMask.bytes) EXPECT_EQ(b, 0xFF);
  EXPECT_EQ(f.block.text, "0-63");
  EXPECT_EQ(f.operationBlock.text, "0-63");
  EXPECT_EQ(f.lockAfterProgram.text, "Nothing");
  EXPECT_EQ(f.lockBitState.text, "Ignore");
}

TEST_F(MainViewDisplayTest, FieldTexts) {
  EXPECT_EQ(baudrateText(1000.0f), "1.0Mbps");
  EXPECT_EQ(baudrateText(125.0f), "125.0Kbps");
  EXPECT_EQ(baudrateText(83.3f), "83.3Kbps");
  EXPECT_EQ(voltageText(3), "3.3/5V");
  EXPECT_EQ(protectText(2), "Level2 enabled");
  EXPECT_EQ(protectText(7), "Removed");

  state->settings.can.pulseEnabled = 1;
  state->settings.can.pulseCycleMs = 20;
  state->settings.can.baudKbps = 1000.0f;
  view->RefreshCanDisplay();
  EXPECT_EQ(view->form().pulseOutput.text, "20ms");
  EXPECT_EQ(view->form().baudrate.text, "1.0Mbps");
  EXPECT_EQ(view->form().sendFrame.text, "No use");
  state->settings.can.pulseEnabled = 0;
  view->RefreshCanDisplay();
  EXPECT_EQ(view->form().pulseOutput.text, "No use");
}

TEST_F(MainViewDisplayTest, RestoredSixtyBlockMaskCoversAllStoredBlocks) {
  view->OnDeviceChanged(3);
  LockBitTable t;
  t.operationBlockMask.set(2);
  t.operationBlockMask.set(62);
  t.lockAfterProgramMask.set(63);
  ASSERT_TRUE(setBlockSettings(t));
  restart();
  EXPECT_EQ(state->settings.deviceIndex, 3);
  for (uint8_t b : state->settings.lockBits.deviceBlockMask.bytes) EXPECT_EQ(b, 0xFF);
  EXPECT_EQ(view->form().operationBlock.text, "2,62");
  EXPECT_EQ(view->form().lockAfterProgram.text, "63");
}

TEST_F(MainViewDisplayTest, ImageIdTextChecksEveryAddressAgainstTheArea) {
  view->OnDeviceChanged(0);
  DeviceDef& d = state->settings.device;
  for (int i = 0; i < 4; ++i) state->image->userImage[0xFFF0 + i] = uint8_t(0x10 + i);
  EXPECT_EQ(view->ImageIdText(), "10,11,12,13");
  d.idCodeAddress[2] = 0x20005;  // first and last inside, one between outside
  EXPECT_EQ(view->ImageIdText(), "FF,FF,FF,FF");
  EXPECT_EQ(state->settings.idCode.idBytes[0], 0xFF);
  d.idCodeLength = 0;
  EXPECT_EQ(view->ImageIdText(), "");
}

TEST_F(MainViewDisplayTest, StoredDataThatDoesNotFitIsTamed) {
  view->OnDeviceChanged(0);
  InitialLoadData& d = state->initialLoad;
  d.hasSettings = true;
  d.deviceName = "TEST-64K4";
  d.idLength = 64;
  for (int i = 0; i < 64; ++i) d.idBytes[i] = uint8_t(i);
  d.userFileName = "** Read Data **";  // a file: every operation may stay chosen
  d.operationCode = 9;
  view->ResetView();
  EXPECT_EQ(state->settings.idCode.idLength, 32) << "cut to what the record holds";
  EXPECT_EQ(state->settings.idCode.idBytes[31], 31);
  EXPECT_EQ(state->settings.idCode.idBytes[32], 0) << "nothing past the 32 bytes";
  EXPECT_EQ(view->operationIndex, 1) << "an unknown operation selects Blank";
  d.operationCode = 0;
  view->ResetView();
  EXPECT_EQ(view->operationIndex, 1);
  d.operationCode = 6;
  view->ResetView();
  EXPECT_EQ(view->operationIndex, 5);
}

TEST_F(MainViewDisplayTest, BootAreaFromTheUnitMustLieInsideTheBootImage) {
  state->deviceTable.setOptionMode(true);
  state->settings.optionMode = 1;
  struct Case {
    uint32_t start, size, wantStart, wantEnd;
  } cases[] = {
      {0xF000, 0x800, 0xF000, 0xF7FF}, {0, 0, 0, 0}, {0xF000, 0, 0, 0}, {0, 0x10001, 0, 0}, {0xFF00, 0x200, 0, 0}};
  for (const Case& c : cases) {
    state->bootArea.bootStart = c.start;
    state->bootArea.bootSize = c.size;
    view->ResetView();
    EXPECT_EQ(uint32_t(state->settings.bootStart), c.wantStart) << c.start << "/" << c.size;
    EXPECT_EQ(uint32_t(state->settings.bootEnd), c.wantEnd) << c.start << "/" << c.size;
  }
  EXPECT_TRUE(view->form().bootLoader.visible);
}

TEST_F(MainViewDisplayTest, StartUpReloadsTheStoredFileSilently) {
  const std::string path = programFile("prog.hex");
  selectAndLoad(path);
  const std::string sum = view->form().checkSum.text;
  restart();
  EXPECT_TRUE(prompts.texts().empty());
  const MainFormState& f = view->form();
  EXPECT_EQ(f.deviceSelection, 0);
  EXPECT_EQ(f.userRomFile.text, path);
  EXPECT_FALSE(f.userRomFileRed);
  EXPECT_EQ(f.checkSum.text, sum);
  EXPECT_EQ(f.idCode.text, "11,22,33,44");
  EXPECT_EQ(state->image->userImage[0], pattern(1, 1)[0]);
  EXPECT_TRUE(view->userReadBackPending);
  EXPECT_TRUE(f.operationEnabled[0]);
}

TEST_F(MainViewDisplayTest, StartUpWithAChangedFileWarnsAndShowsTheNameRed) {
  const std::string path = programFile("prog.hex", 1);
  selectAndLoad(path);
  writeFile(path, hexText({{0x10000, Bytes(16, 0x55)}}));
  restart();
  ASSERT_EQ(prompts.texts(), (std::vector<std::string>{"File data is different."}));
  EXPECT_EQ(prompts.prompts()[0].icon, Icon::Stop);
  const MainFormState& f = view->form();
  EXPECT_EQ(f.userRomFile.text, path);
  EXPECT_FALSE(f.userRomFileCompact);
  EXPECT_TRUE(f.userRomFileRed);
  EXPECT_EQ(f.checkSum.text, "");
  EXPECT_EQ(state->settings.userFileStale, 1);
}

TEST_F(MainViewDisplayTest, StartUpWithAnUnknownStoredDeviceHasNoDevice) {
  DeviceDef other = testDevice("NOT-IN-TABLE");
  ASSERT_TRUE(setDevice(other));
  ASSERT_TRUE(setUserFileName(programFile("prog.hex")));
  restart();
  EXPECT_EQ(state->settings.deviceIndex, -1);
  EXPECT_EQ(view->form().deviceSelection, -1);
  EXPECT_FALSE(view->form().loadButton.enabled);
  EXPECT_FALSE(view->form().startButton.enabled);
  EXPECT_EQ(view->form().userRomArea.text, "");
}

TEST_F(MainViewDisplayTest, ProjectNewResetsTheUnitAndTheForm) {
  selectAndLoad(programFile("prog.hex"));
  view->OnReadVersion();
  view->OnProjectNew();
  EXPECT_EQ(dialogs.initializingRuns, 1);
  EXPECT_EQ(state->settings.deviceIndex, -1);
  EXPECT_EQ(view->form().userRomFile.text, "");
  EXPECT_EQ(view->versionText, "");
  EXPECT_EQ(unit->keptSettings().userFileName, "");

  state->reinitPending = true;
  view->StartUp();
  EXPECT_EQ(dialogs.initializingRuns, 2);
  EXPECT_FALSE(state->reinitPending);
}

TEST_F(MainViewDisplayTest, TypicalJobPassesVerifyCatchesADifferentImageAndReadMarksReadData) {
  selectAndLoad(programFile("prog.hex"));
  view->OnOperationChanged(0, false, false);
  view->OnStart();
  EXPECT_EQ(dialogs.programmingRuns, 1);
  EXPECT_EQ(dialogs.programmingTotal, 0x10000u);
  EXPECT_EQ(view->lastResult, 1);
  EXPECT_EQ(view->form().resultText, "Pass");
  EXPECT_TRUE(view->form().resultColoured);
  EXPECT_EQ(view->form().resultBackground, (Rgb{0, 255, 0}));

  dialogs.files.push_back(programFile("other.hex", 5));
  view->OnLoadUserFile();
  view->OnOperationChanged(4, false, false);
  view->OnStart();
  EXPECT_EQ(view->form().resultText, "Verify Err");
  EXPECT_EQ(view->form().resultBackground, (Rgb{255, 0, 0}));

  view->OnOperationChanged(5, false, false);
  view->OnStart();
  EXPECT_EQ(view->form().resultText, "Pass");
  EXPECT_EQ(view->form().userRomFile.text, "** Read Data **");
  EXPECT_EQ(view->form().idCode.text, "");
  EXPECT_EQ(view->form().checkIdCode.text, "00,00,00,00") << "the record's ID code after a Read";
  EXPECT_EQ(view->form().checkSum.text, "");
  EXPECT_TRUE(view->userReadBackPending);
  EXPECT_EQ(unit->keptSettings().userFileName, "** Read Data **");

  // The image comes back from the unit: the target holds the first file.
  ASSERT_TRUE(dialogs.fetchImage(ImageArea::User, *state->image, state->settings));
  EXPECT_EQ(state->image->userImage[0], pattern(1, 1)[0]);
}

TEST_F(MainViewDisplayTest, StartThatTheUnitRefusesLeavesTheBoxEmpty) {
  view->OnDeviceChanged(0);
  unit->injectFaultOnCommand(kCmdStartOperation, SimulatedUnit::Fault::ErrorStatus, 0x01);
  view->OnStart();
  EXPECT_EQ(dialogs.programmingRuns, 0);
  EXPECT_EQ(view->form().resultText, "");
  EXPECT_FALSE(view->form().resultColoured);
}

}  // namespace
}  // namespace vrx4::test
