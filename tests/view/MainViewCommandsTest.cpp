#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "MainViewFixture.h"
#include "view/MainViewCommands.h"

namespace vrx4::test {
namespace {

using Codes = std::vector<uint8_t>;

class MainViewCommandsTest : public MainViewFixture {};

TEST_F(MainViewCommandsTest, DeviceChangeSendsTheNewDeviceAndClearsTheFileAndSendFlags) {
  view->OnOperationChanged(0, true, true);
  view->OnDeviceChanged(0);
  unit->clearHistory();
  view->OnDeviceChanged(2);
  EXPECT_EQ(commands(), (Codes{kCmdSetDevice, kCmdSetOperation, kCmdSetBlockSettings, kCmdSetUserFileName}));
  EXPECT_EQ(lastPayload(kCmdSetOperation), (Bytes{2, 0})) << "Blank, no frames";
  EXPECT_EQ(lastPayload(kCmdSetUserFileName), (Bytes{0}));
  EXPECT_EQ(view->operationIndex, 1);
  EXPECT_FALSE(view->preSending);
  EXPECT_FALSE(view->postSending);
  EXPECT_TRUE(view->userReadBackPending);
  EXPECT_EQ(state->settings.idCode.idLength, 4);
  const Bytes blockPayload = lastPayload(kCmdSetBlockSettings);
  ASSERT_EQ(blockPayload.size(), 17u);
  for (int i = 1; i < 9; ++i) EXPECT_EQ(blockPayload[i], 0xFF) << "all 64 blocks to operate on";

  unit->clearHistory();
  view->OnDeviceChanged(2);
  view->OnDeviceChanged(-1);
  EXPECT_TRUE(commands().empty()) << "the selected device again sends nothing";
}

TEST_F(MainViewCommandsTest, SendFlagsFollowTheCheckBoxesAndTheCanDialog) {
  view->OnDeviceChanged(0);
  unit->clearHistory();
  view->OnOperationChanged(2, false, true);
  EXPECT_EQ(lastPayload(kCmdSetOperation), (Bytes{3, 2}));
  view->OnOperationChanged(2, true, true);
  EXPECT_EQ(lastPayload(kCmdSetOperation), (Bytes{3, 3}));

  CanSetting can = state->settings.can;
  can.sendFrameMask = 3;
  dialogs.canAnswer = can;
  unit->clearHistory();
  view->OnOperationChanged(1, false, false);
  view->OnSetCan();
  EXPECT_EQ(commands(), (Codes{kCmdSetOperation, kCmdSetCanSetting, kCmdSetOperation}));
  EXPECT_EQ(lastPayload(kCmdSetOperation), (Bytes{2, 3}));
  EXPECT_TRUE(view->form().preSending.checked && view->form().preSending.enabled);
  EXPECT_TRUE(view->form().postSending.checked && view->form().postSending.enabled);
  EXPECT_EQ(view->form().sendFrame.text, "Use");

  dialogs.canAnswer.reset();
  unit->clearHistory();
  view->OnSetCan();
  EXPECT_TRUE(commands().empty()) << "Cancel changes nothing";
}

TEST_F(MainViewCommandsTest, LoadSendsIdCodeFlagNameLockBitsImageThenSums) {
  const std::string path = programFile("prog.hex");
  view->OnDeviceChanged(0);
  unit->clearHistory();
  dialogs.files.push_back(path);
  view->OnLoadUserFile();
  const Codes sent = settingCommands();
  EXPECT_EQ(sent, (Codes{kCmdSetIdCode, kCmdSetUserDataPresent, kCmdSetUserFileName, kCmdSetBlockSettings,
                         kCmdBeginUserDataDownload, kCmdSetBlockChecksums}));
  EXPECT_EQ(lastPayload(kCmdSetIdCode), (Bytes{4, 0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(lastPayload(kCmdSetUserDataPresent), (Bytes{1}));
  EXPECT_EQ(unit->keptSettings().userFileName, path);
  EXPECT_EQ(unit->userBufferBytes(0x10000, 0x400), pattern(0x400, 1));
  ASSERT_EQ(dialogs.fileRequests.size(), 1u);
  EXPECT_EQ(dialogs.fileRequests[0].title, "User Rom Data Load");
  EXPECT_EQ(dialogs.fileRequests[0].filter, "Data file (*.hex,*.mot)|*.hex;*.mot||");
  EXPECT_EQ(state->dialogPaths.slot(kUserFileFolderSlot), dir.path() + "/");
  EXPECT_EQ(state->dialogPaths.slot(kUserFileNameSlot), "prog.hex");

  const MainFormState& f = view->form();
  EXPECT_EQ(f.userRomFile.text, path);
  EXPECT_TRUE(f.userRomFileCompact);
  EXPECT_FALSE(f.userRomFileRed);
  EXPECT_EQ(f.idCode.text, "11,22,33,44");
  EXPECT_EQ(f.checkIdCode.text, "11,22,33,44");
  char sum[8];
  std::snprintf(sum, sizeof sum, "%04X", unsigned(state->image->imageChecksum(ImageArea::User, state->settings)));
  EXPECT_EQ(f.checkSum.text, sum);
  EXPECT_NE(f.checkSum.text, "0000");
  EXPECT_EQ(f.romProtect.text, "Removed");
  EXPECT_TRUE(f.operationEnabled[0] && f.operationEnabled[3] && f.operationEnabled[4]);
  EXPECT_FALSE(view->userReadBackPending);
}

TEST_F(MainViewCommandsTest, FailedTransferTellsTheUnitThereIsNoUserData) {
  const std::string path = programFile("prog.hex");
  view->OnDeviceChanged(0);
  view->OnOperationChanged(1, false, false);
  unit->injectFaultOnCommand(kCmdWriteDataPage, SimulatedUnit::Fault::ErrorStatus, 0x01);
  unit->clearHistory();
  dialogs.files.push_back(path);
  view->OnLoadUserFile();
  const Codes sent = settingCommands();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[sent.size() - 2], kCmdSetUserDataPresent);
  EXPECT_EQ(sent.back(), kCmdSetUserFileName);
  EXPECT_EQ(lastPayload(kCmdSetUserDataPresent), (Bytes{0}));
  EXPECT_EQ(unit->keptSettings().userFileName, "");
  EXPECT_EQ(unit->keptSettings().userDataPresent, 0);
  EXPECT_EQ(state->settings.userFileNameLength, 0);
  EXPECT_TRUE(view->userReadBackPending);
  const MainFormState& f = view->form();
  EXPECT_EQ(f.userRomFile.text, path) << "named, in red: not in the unit";
  EXPECT_TRUE(f.userRomFileRed);
  EXPECT_FALSE(f.operationEnabled[0] || f.operationEnabled[3] || f.operationEnabled[4]);
  EXPECT_EQ(view->operationIndex, 1);
}

// Every way a Load can end without its file in the unit, and a project whose
// image send breaks off part-way, leave one state: the unit holds no user
// data and runs Blank, the form names the file in red without its sums and
// offers only the operations that need no file, and Start runs no program
// operation on what the unit still holds.
TEST_F(MainViewCommandsTest, AFileThatDidNotReachTheUnitLeavesNothingToProgram) {
  const std::string good = programFile("good.hex", 1);
  const std::string other = programFile("other.hex", 5);
  const std::string bad = dir.file("bad.hex");
  writeFile(bad, ":0400000001020304F3\n:00000001FF\n");  // checksum off by one
  std::string deep = dir.path();
  while (deep.size() < 260) deep += "/folder";
  deep += "/prog.hex";
  const std::string outside = dir.file("outside.hex");  // asks, and the default answer is No
  writeFile(outside, hexText({{0x10000, pattern(0x100, 3)}, {0x30000, {1, 2}}}));

  auto loadOn = [&](const std::string& path) {
    dialogs.files.push_back(path);
    view->OnLoadUserFile();
  };
  // The request number of the tenth image page that the next command sends,
  // measured on a run of it that goes through.
  auto tenthPage = [&](const std::function<void()>& command) {
    unit->clearHistory();
    command();
    const std::vector<uint8_t> sent = commands();
    int pages = 0;
    for (size_t i = 0; i < sent.size(); ++i)
      if (sent[i] == kCmdWriteDataPage && ++pages == 10) return unsigned(i + 1);
    ADD_FAILURE() << "fewer than ten pages";
    return 0u;
  };
  auto expectNoFileInUnit = [&](const std::string& attempted) {
    EXPECT_EQ(unit->keptSettings().userDataPresent, 0);
    EXPECT_EQ(unit->keptSettings().userFileName, "");
    EXPECT_EQ(unit->keptSettings().operationCode, 2) << "Blank";
    EXPECT_EQ(state->settings.userFileNameLength, 0);
    EXPECT_TRUE(view->userReadBackPending);
    EXPECT_EQ(view->operationIndex, 1);
    const MainFormState& f = view->form();
    EXPECT_EQ(f.userRomFile.text, attempted);
    EXPECT_TRUE(f.userRomFileRed);
    EXPECT_EQ(f.checkSum.text + f.romProtect.text + f.idCode.text, "");
    EXPECT_FALSE(f.operationEnabled[0] || f.operationEnabled[3] || f.operationEnabled[4]);
    EXPECT_EQ(f.operationIndex, 1);
    // Start runs Blank; a program operation chosen behind the form's back
    // is not started at all.
    const int runs = dialogs.programmingRuns;
    view->OnStart();
    EXPECT_EQ(dialogs.programmingRuns, runs + 1);
    view->operationIndex = 0;
    unit->clearHistory();
    view->OnStart();
    EXPECT_TRUE(commands().empty());
    view->operationIndex = 1;
  };

  view->OnDeviceChanged(0);
  const unsigned loadPage = tenthPage([&] { loadOn(good); });
  struct Way {
    const char* how;
    std::string path;
    unsigned failAtRequest;  // 0: none
  };
  for (const Way& way : {Way{"refused by the loader", bad, 0}, Way{"declined at a question", outside, 0},
                         Way{"oversized path", deep, 0}, Way{"transfer broken off", good, loadPage}}) {
    SCOPED_TRACE(way.how);
    loadOn(other);
    view->OnOperationChanged(0, false, false);
    ASSERT_EQ(unit->keptSettings().userDataPresent, 1);
    if (way.failAtRequest) unit->injectFaultAtRequest(way.failAtRequest, SimulatedUnit::Fault::NoReply);
    loadOn(way.path);
    expectNoFileInUnit(way.path);
  }
  EXPECT_EQ(prompts.texts().size(), 4u) << "format error, question, oversized path, no reply";
  prompts.clear();

  // Cancelling the file dialog changes nothing and sends nothing.
  loadOn(other);
  unit->clearHistory();
  view->OnLoadUserFile();
  EXPECT_TRUE(commands().empty());
  EXPECT_EQ(view->form().userRomFile.text, other);
  EXPECT_EQ(unit->keptSettings().userDataPresent, 1);

  // A project of the good file, opened while another file is loaded.
  EditorProjectDialogs extra;
  const std::string project = dir.file("job.vxp");
  extra.saveFile = [&](const FileDialogSpec&) { return std::optional<std::string>(project); };
  extra.confirmLoad = [](const std::string&) { return true; };
  loadOn(good);
  ASSERT_TRUE(OnProjectSaveAs(*view, dialogs, extra));
  auto openProject = [&] {
    dialogs.files.push_back(project);
    return OnProjectOpen(*view, dialogs, extra);
  };
  const unsigned openPage = tenthPage([&] { ASSERT_TRUE(openProject()); });
  loadOn(other);
  view->OnOperationChanged(0, false, false);
  unit->injectFaultAtRequest(openPage, SimulatedUnit::Fault::NoReply);
  EXPECT_FALSE(openProject());
  EXPECT_EQ(unit->userBufferBytes(0x10000, 0x400), pattern(0x400, 1)) << "the unit holds part of the project's";
  expectNoFileInUnit(good);
}

TEST_F(MainViewCommandsTest, PathsTheUnitCannotGiveBackAreRefused) {
  EXPECT_TRUE(userFilePathFits(std::string(255, 'a'), "TEST", 4));
  EXPECT_FALSE(userFilePathFits(std::string(256, 'a'), "TEST", 4));
  EXPECT_FALSE(userFilePathFits(std::string(1024, 'a'), "", 0));
  EXPECT_TRUE(userFilePathFits(std::string(216, 'a'), std::string(64, 'N'), 32));
  EXPECT_FALSE(userFilePathFits(std::string(217, 'a'), std::string(64, 'N'), 32));

  std::string deep = dir.path();
  while (deep.size() < 260) deep += "/folder";
  view->OnDeviceChanged(0);
  unit->clearHistory();
  dialogs.files.push_back(deep + "/prog.hex");
  view->OnLoadUserFile();
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"Oversized full path."}));
  EXPECT_EQ(commands(), (Codes{kCmdSetUserDataPresent, kCmdSetUserFileName})) << "only: no user data";
  EXPECT_EQ(state->settings.userFileNameLength, 0);
}

TEST_F(MainViewCommandsTest, SendAllSettingsSendsEveryItemInOrder) {
  selectAndLoad(programFile("prog.hex"));
  view->OnOperationChanged(4, true, false);
  unit->clearHistory();
  EXPECT_TRUE(view->SendAllSettings());
  EXPECT_EQ(commands(), (Codes{kCmdSetDevice, kCmdSetUserFileName, kCmdSetBlockChecksums, kCmdSetUserDataPresent,
                               kCmdSetCanSetting, kCmdSetBlockSettings, kCmdSetOperation, kCmdSetIdCode}));
  EXPECT_EQ(lastPayload(kCmdSetUserDataPresent), (Bytes{1}));
  EXPECT_EQ(lastPayload(kCmdSetOperation), (Bytes{5, 1}));
  EXPECT_EQ(lastPayload(kCmdSetIdCode).front(), 4);

  unit->injectFaultOnCommand(kCmdSetBlockSettings, SimulatedUnit::Fault::ErrorStatus, 0x01);
  unit->clearHistory();
  EXPECT_FALSE(view->SendAllSettings());
  EXPECT_EQ(commands().back(), kCmdSetBlockSettings) << "stops at the first failure";
}

TEST_F(MainViewCommandsTest, BlocksIdCodeAndVersion) {
  view->OnDeviceChanged(0);
  LockBitTable t;
  t.lockBitState = 7;
  t.operationBlockMask.set(1);
  t.operationBlockMask.set(9);  // beyond the device's 4 blocks
  t.lockAfterProgramMask.set(2);
  dialogs.blockAnswer = t;
  unit->clearHistory();
  view->OnSetBlocks();
  EXPECT_EQ(commands(), (Codes{kCmdSetBlockSettings}));
  EXPECT_EQ(view->form().operationBlock.text, "1");
  EXPECT_EQ(view->form().lockAfterProgram.text, "2");
  EXPECT_EQ(view->form().lockBitState.text, "Effective");
  EXPECT_EQ(state->settings.lockBits.lockBitState, 1);
  EXPECT_EQ(unit->keptSettings().operationBlockMask.bytes[0], 0x02);

  dialogs.idAnswer = idCodeOf({0xA1, 0xB2, 0xC3, 0xD4});
  view->OnCheckId();
  EXPECT_EQ(view->form().checkIdCode.text, "A1,B2,C3,D4");
  EXPECT_EQ(lastPayload(kCmdSetIdCode), (Bytes{4, 0xA1, 0xB2, 0xC3, 0xD4}));

  view->OnReadVersion();
  EXPECT_FALSE(view->versionText.empty());
  EXPECT_NE(view->versionText, "Read Error");
  unit->injectFaultOnCommand(kCmdReadVersion, SimulatedUnit::Fault::NoReply);
  view->OnReadVersion();
  EXPECT_EQ(view->form().versionText, "Read Error");
}

TEST_F(MainViewCommandsTest, BootFileShowsItsLoaderOnlyWhenTheAreaReachedTheUnit) {
  const std::string path = dir.file("boot.btp");
  // S-record: 8 bytes "LOADER01" at 0xF000.
  writeFile(path, "S10BF0004C4F414445523031EC\nS9030000FC\n");
  view->OnDeviceChanged(0);
  dialogs.files.push_back(path);
  view->OnLoadBootFile();
  ASSERT_TRUE(prompts.texts().empty()) << (prompts.texts().empty() ? "" : prompts.texts()[0]);
  EXPECT_EQ(view->form().bootLoader.text, "LOADER01");
  EXPECT_EQ(state->settings.bootFileLoaded, 1);
  EXPECT_EQ(dialogs.sentNames.back(), path);

  unit->injectFaultOnCommand(kCmdBeginBootDataDownload, SimulatedUnit::Fault::ErrorStatus, 0x01);
  dialogs.files.push_back(path);
  view->OnLoadBootFile();
  EXPECT_EQ(view->form().bootLoader.text, "");
  EXPECT_EQ(state->settings.bootFileLoaded, 0);
  EXPECT_EQ(state->settings.bootFileNameLength, 0);
}

TEST_F(MainViewCommandsTest, ManualByLanguageAndItsFailure) {
  view->OnManual(true);
  view->OnManual(false);
  EXPECT_EQ(dialogs.documents, (std::vector<std::string>{dir.file("vrx4mj.pdf"), dir.file("vrx4me.pdf")}));
  EXPECT_TRUE(prompts.prompts().empty());
  dialogs.documentOpens = false;
  view->OnManual(false);
  ASSERT_EQ(prompts.prompts().size(), 1u);
  const Prompt p = prompts.prompts()[0];
  EXPECT_EQ(p.text, "Users Manual Open Error");
  EXPECT_EQ(p.caption, "Error");
  EXPECT_EQ(p.icon, Icon::Exclamation);
}

TEST_F(MainViewCommandsTest, ManualOfTheInstalledLayoutIsFoundInShare) {
  // The program in <prefix>/bin/, its manuals in <prefix>/share/vrx4/.
  const std::string share = dir.path() + "/share/vrx4/";
  std::filesystem::create_directories(share);
  std::filesystem::create_directories(dir.path() + "/bin");
  std::ofstream(share + "vrx4mj.pdf") << "%PDF-1.4";
  state->executablePath = dir.path() + "/bin/vrx4";
  view->OnManual(true);   // found in share/vrx4/
  view->OnManual(false);  // in neither: the path beside the program
  EXPECT_EQ(dialogs.documents, (std::vector<std::string>{share + "vrx4mj.pdf", dir.path() + "/bin/vrx4me.pdf"}));
}

TEST_F(MainViewCommandsTest, CompactPathKeepsTheStartAndTheFileName) {
  auto within = [](size_t n) { return [n](const std::string& t) { return t.size() <= n; }; };
  const std::string path = "/home/user/projects/deep/prog.hex";
  EXPECT_EQ(CompactPathDisplay(path, "x", within(100)), path);
  EXPECT_EQ(CompactPathDisplay(path, "x", within(32)), "/home/user/projects/.../prog.hex");
  EXPECT_EQ(CompactPathDisplay(path, "x", within(23)), "/home/user/.../prog.hex");
  EXPECT_EQ(CompactPathDisplay(path, "x", within(18)), "/home/.../prog.hex");
  EXPECT_EQ(CompactPathDisplay(path, "x", within(3)), "/.../prog.hex");
  EXPECT_EQ(CompactPathDisplay("prog.hex", "last.mot", within(3)), ".../last.mot");
}

}  // namespace
}  // namespace vrx4::test
