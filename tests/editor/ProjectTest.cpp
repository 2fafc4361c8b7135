#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "ViewDriver.h"
#include "image/ProgramLoader.h"
#include "view/EditCommands.h"
#include "view/MainViewCommands.h"
#include "view/ProjectCommands.h"
#include "view/ProjectFile.h"

namespace vrx4::test {
namespace {

std::vector<char> readAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(f)), {});
}

void writeAll(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

class ProjectTest : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    unit = plugIn();
    other = testDevice("OTHER-64K4");
    other.voltageCode = 0x33;
    app.deviceTable.append(testDevice());
    app.deviceTable.append(other);
    // A program with an ID code of its own at 0x1FFF0.
    program = pattern(0x10000, 3);
    program[0xFFF0] = 0x11;
    program[0xFFFF] = 0xFF;  // protect released
    program[0x7FFF] = 0xFF;
    writeProgram(dir.file("prog.mot"), 0x10000, program);
    loadFixture();
  }

  // The state a "Load..." of prog.mot on device row 0 leaves.
  void loadFixture() {
    ProjectSettings& s = app.settings;
    drv.routines.selectDevice(0);
    s.lockBits.operationBlockMask = s.lockBits.deviceBlockMask;
    s.idCode = idCodeOf({0xA1, 0xA2, 0xA3, 0xA4});
    const std::string path = dir.file("prog.mot");
    std::strcpy(s.userFileName, path.c_str());
    s.userFileNameLength = int32_t(path.size());
    IdCode scratch = s.idCode;
    int32_t level = 0;
    ASSERT_TRUE(loadProgramFile(LoadMode::Silent, path, s.device, *app.image, scratch, level));
    s.userChecksum = app.image->imageChecksum(ImageArea::User, s);
    s.can.sendFrameMask = 3;
    s.can.baudKbps = 500.0f;
    s.can.samplePointPct = 75;
    drv.view.operationIndex = 0;
    drv.view.preSending = drv.view.postSending = true;
  }

  bool saveAs(const std::string& path) {
    drv.nextPaths = {path};
    return OnProjectSaveAs(app, drv.view, drv.dialogs, drv.routines);
  }
  bool open(const std::string& path) {
    drv.nextPaths = {path};
    return OnProjectOpen(app, drv.view, drv.dialogs, drv.routines);
  }

  std::shared_ptr<SimulatedProgrammer> unit;
  DeviceDef other;
  Bytes program;
  AppState app;
  ViewDriver drv{app};
};

TEST_F(ProjectTest, SavedFileIsTheHeaderTheLengthAndTheRecord) {
  drv.view.operationIndex = 5;  // Read
  drv.view.preSending = false;
  drv.view.postSending = true;
  ASSERT_TRUE(saveAs(dir.file("a.vxp")));
  const FileDialogSpec& choice = drv.fileDialogs.at(0);
  EXPECT_TRUE(choice.save);
  EXPECT_EQ(choice.title, "T552-VRX4 project file save");
  EXPECT_EQ(choice.filter, "T552-VRX4 project file (*.vxp)|*.vxp||");
  EXPECT_EQ(choice.defaultExtension, "vxp");
  EXPECT_EQ(app.dialogPaths.slot(kProjectFolderSlot), dir.path() + "/");
  const auto bytes = readAll(dir.file("a.vxp"));
  ASSERT_EQ(bytes.size(), 3044u);
  EXPECT_EQ(std::string(bytes.data(), 32), "T552-VRX4 project file Ver.1.00 ");
  EXPECT_EQ(std::vector<char>(bytes.begin() + 32, bytes.begin() + 36), (std::vector<char>{char(0xC0), 0x0B, 0, 0}));
  EXPECT_EQ(std::memcmp(bytes.data() + 36, &app.settings, 3008), 0);
  EXPECT_EQ(int(app.settings.operationIndex), 5);
  EXPECT_EQ(int(app.settings.sendFlags), 2);
  EXPECT_EQ(bytes[36 + 3000], 5);
  EXPECT_EQ(bytes[36 + 3004], 2);
}

TEST_F(ProjectTest, RefusedFilesLeaveTheSettingsAlone) {
  ASSERT_TRUE(saveAs(dir.file("good.vxp")));
  const auto good = readAll(dir.file("good.vxp"));
  struct Case {
    const char* name;
    std::function<void(std::vector<char>&)> spoil;
  };
  const auto at = [](size_t offset, int32_t v) {
    return [=](std::vector<char>& b) { std::memcpy(b.data() + 36 + offset, &v, 4); };
  };
  const std::vector<Case> cases = {
      {"version", [](std::vector<char>& b) { b[28] = '2'; }},
      {"length", [](std::vector<char>& b) { b[33] = 0x0C; }},
      {"short", [](std::vector<char>& b) { b.resize(3043); }},
      {"user name length", at(offsetof(ProjectSettings, userFileNameLength), 1024)},
      {"negative name length", at(offsetof(ProjectSettings, userFileNameLength), -5)},
      {"boot name length", at(offsetof(ProjectSettings, bootFileNameLength), 5000)},
      {"unterminated name",
       [](std::vector<char>& b) { std::memset(b.data() + 36 + offsetof(ProjectSettings, userFileName), 'a', 1024); }},
      {"id length", [](std::vector<char>& b) { b[36 + offsetof(ProjectSettings, idCode)] = 33; }},
      {"device id length", at(offsetof(ProjectSettings, device) + offsetof(DeviceDef, idCodeLength), 40)},
      {"block count", at(offsetof(ProjectSettings, device) + offsetof(DeviceDef, blockCount), 65)},
      {"device index", at(offsetof(ProjectSettings, deviceIndex), 2)},
      {"device index below", at(offsetof(ProjectSettings, deviceIndex), -2)},
  };
  const ProjectSettings before = app.settings;
  for (const Case& c : cases) {
    auto bytes = good;
    c.spoil(bytes);
    writeAll(dir.file("bad.vxp"), bytes);
    prompts.clear();
    EXPECT_FALSE(open(dir.file("bad.vxp"))) << c.name;
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{kProjectFormatError}) << c.name;
    EXPECT_EQ(std::memcmp(&before, &app.settings, sizeof before), 0) << c.name;
    EXPECT_TRUE(drv.confirmed.empty()) << c.name;
  }
  // The good file itself opens; -1 is a valid device index.
  auto bytes = good;
  at(offsetof(ProjectSettings, deviceIndex), -1)(bytes);
  writeAll(dir.file("none.vxp"), bytes);
  EXPECT_TRUE(open(dir.file("none.vxp")));
  EXPECT_EQ(int(app.settings.deviceIndex), -1);
}

TEST_F(ProjectTest, AProjectSavedAfterAReadCannotLoadItsFile) {
  std::strcpy(app.settings.userFileName, kReadDataName);
  app.settings.userFileNameLength = 15;
  ASSERT_TRUE(saveAs(dir.file("read.vxp")));
  loadFixture();
  const ProjectSettings before = app.settings;
  prompts.clear();
  EXPECT_FALSE(open(dir.file("read.vxp")));
  EXPECT_EQ(drv.confirmed, std::vector<std::string>{kReadDataName});
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{kFileOpenError, kReadUserFileError}));
  EXPECT_EQ(std::memcmp(&before, &app.settings, sizeof before), 0);

  // No file name at all.
  app.settings.userFileNameLength = 0;
  app.settings.userFileName[0] = 0;
  ASSERT_TRUE(saveAs(dir.file("empty.vxp")));
  loadFixture();
  prompts.clear();
  EXPECT_FALSE(open(dir.file("empty.vxp")));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kIgnoreFileName});
  EXPECT_STREQ(app.settings.userFileName, dir.file("prog.mot").c_str());
}

TEST_F(ProjectTest, TheRowNowAtTheStoredIndexIsUsedAndTheProjectIdCodeWins) {
  ASSERT_TRUE(saveAs(dir.file("p.vxp")));
  // The table changes: row 0 is now a device with another voltage and a
  // smaller ROM; the stored copy is of the old row.
  DeviceDef moved = testDevice("MOVED");
  moved.voltageCode = 0x44;
  moved.userRomSize = 0x8000;
  moved.userRomEnd = 0x17FFF;
  moved.protectAddress = 0x17FFF;
  moved.blockCount = 2;
  app.deviceTable.clear();
  app.deviceTable.append(moved);
  app.deviceTable.append(other);
  app.settings.idCode = idCodeOf({1, 2, 3, 4});
  app.image->clearUserImage();
  prompts.answer(Answer::Yes);  // data outside the smaller ROM: load on
  ASSERT_TRUE(open(dir.file("p.vxp")));
  EXPECT_EQ(app.settings.device.name(), "MOVED");
  EXPECT_EQ(uint32_t(app.settings.device.voltageCode), 0x44u);
  EXPECT_EQ(app.settings.userChecksum, app.image->imageChecksum(ImageArea::User, app.settings));
  // The unit was told of the row as it is now.
  const auto sentDevice = unit->keptSettings().devicePayload;
  ASSERT_TRUE(setDevice(moved));
  EXPECT_EQ(unit->keptSettings().devicePayload, sentDevice);
  EXPECT_EQ(app.image->userImage[0xFFF0], 0xFF);  // beyond the smaller ROM
  EXPECT_EQ(app.settings.idCode.idBytes[0], 0xA1);
  EXPECT_EQ(unit->keptSettings().idCode, (std::vector<uint8_t>{0xA1, 0xA2, 0xA3, 0xA4}));
}

TEST_F(ProjectTest, ImageIdCodeLosesToTheProjects) {
  ASSERT_TRUE(saveAs(dir.file("p.vxp")));
  app.settings.idCode = idCodeOf({9, 9, 9, 9});
  ASSERT_TRUE(open(dir.file("p.vxp")));
  EXPECT_EQ(app.image->userImage[0xFFF0], 0x11);
  EXPECT_EQ(app.settings.idCode.idBytes[0], 0xA1);
  EXPECT_EQ(drv.sentAreas, std::vector<ImageArea>{ImageArea::User});
}

TEST_F(ProjectTest, RoundTripGivesTheSameRecordAndTheSameUnitSettings) {
  drv.view.operationIndex = 3;
  drv.view.preSending = true;
  drv.view.postSending = false;
  ASSERT_TRUE(drv.sendAllSettings());
  ASSERT_TRUE(saveAs(dir.file("p.vxp")));
  const ProjectSettings saved = app.settings;
  const KeptSettings kept = unit->keptSettings();

  // Everything changes: another device, file, ID, CAN, blocks, operation.
  drv.routines.selectDevice(1);
  app.settings.idCode = idCodeOf({5, 6, 7, 8});
  app.settings.can.baudKbps = 125.0f;
  app.settings.can.sendFrameMask = 0;
  app.settings.lockBits.lockBitState = 1;
  app.settings.lockBits.operationBlockMask = BlockMask{};
  std::strcpy(app.settings.userFileName, "/elsewhere/x.mot");
  app.settings.userFileNameLength = 16;
  drv.view = CommandViewFields{};
  ASSERT_TRUE(drv.sendAllSettings());
  ASSERT_NE(unit->keptSettings(), kept);

  ASSERT_TRUE(open(dir.file("p.vxp")));
  EXPECT_EQ(std::memcmp(&saved, &app.settings, sizeof saved), 0);
  EXPECT_EQ(unit->keptSettings(), kept);
  EXPECT_EQ(drv.view.operationIndex, 3);
  EXPECT_TRUE(drv.view.preSending);
  EXPECT_FALSE(drv.view.postSending);
  EXPECT_EQ(unit->userBufferBytes(0x10000, 0x10000), program);
}

TEST_F(ProjectTest, SaveThatCannotBeWrittenTellsTheOperatorAndLeavesNoFile) {
  EXPECT_FALSE(saveAs(dir.file("missing/p.vxp")));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kFileCreateError});
  EXPECT_EQ(prompts.prompts()[0].icon, Icon::Stop);
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
  // An existing project the operator may not write stays as it was.
  writeAll(dir.file("ro.vxp"), {'o', 'l', 'd'});
  ::chmod(dir.file("ro.vxp").c_str(), 0444);
  prompts.clear();
  if (::access(dir.file("ro.vxp").c_str(), W_OK) != 0) {  // not as root
    EXPECT_FALSE(saveAs(dir.file("ro.vxp")));
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{kFileCreateError});
    EXPECT_EQ(readAll(dir.file("ro.vxp")), (std::vector<char>{'o', 'l', 'd'}));
  }
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();
}

TEST_F(ProjectTest, FailedImageSendRestoresAndTellsTheUnitThereIsNoUserData) {
  ASSERT_TRUE(saveAs(dir.file("p.vxp")));
  drv.routines.selectDevice(1);
  const ProjectSettings before = app.settings;
  ASSERT_TRUE(setUserDataPresent(true));
  unit->injectFaultOnCommand(kCmdBeginUserDataDownload, SimulatedUnit::Fault::ErrorStatus, 0x10);
  EXPECT_FALSE(open(dir.file("p.vxp")));
  EXPECT_EQ(std::memcmp(&before, &app.settings, sizeof before), 0);
  EXPECT_EQ(unit->keptSettings().userDataPresent, 0);
}

TEST_F(ProjectTest, DeclinedLoadRestoresTheLastFileName) {
  ASSERT_TRUE(saveAs(dir.file("p.vxp")));
  app.dialogPaths.setSlot(kUserFileNameSlot, "before.hex");
  drv.acceptLoads = false;
  EXPECT_FALSE(open(dir.file("p.vxp")));
  EXPECT_EQ(app.dialogPaths.slot(kUserFileNameSlot), "before.hex");
  EXPECT_TRUE(drv.sentAreas.empty());
}

class EditCommandTest : public ProjectTest {};

TEST_F(EditCommandTest, FailedReadBackDoesNotOpenTheEditor) {
  drv.view.userReadBackPending = true;
  int editors = 0;
  drv.dialogs.runEditor = [&](const EditorRequest&) {
    ++editors;
    return EditorOutcome{true, false};
  };
  unit->injectFaultOnCommand(kCmdReadDataPage, SimulatedUnit::Fault::ErrorStatus, 0x10);
  EXPECT_FALSE(OnEditUserRom(app, drv.view, drv.dialogs, drv.routines).ok);
  EXPECT_EQ(editors, 0);
  EXPECT_TRUE(drv.view.userReadBackPending);

  // Read back: the editor opens with Save enabled on the unit's data.
  ASSERT_TRUE(download(0x10000, program));
  EditorRequest seen;
  drv.dialogs.runEditor = [&](const EditorRequest& r) {
    seen = r;
    return EditorOutcome{true, false};
  };
  EXPECT_TRUE(OnEditUserRom(app, drv.view, drv.dialogs, drv.routines).ok);
  EXPECT_FALSE(drv.view.userReadBackPending);
  EXPECT_TRUE(seen.saveEnabled);
  EXPECT_EQ(seen.romArea, "User Rom");
  EXPECT_EQ(seen.address, "010000-01FFFF");
  EXPECT_EQ(seen.deviceType, "TEST-64K4");
  EXPECT_EQ(std::memcmp(app.image->userImage.data(), program.data(), program.size()), 0);
  EXPECT_EQ(app.settings.userChecksum, app.image->imageChecksum(ImageArea::User, app.settings));
  EXPECT_EQ(app.settings.idCode.idBytes[0], 0x11);  // taken from the image
  EXPECT_EQ(unit->keptSettings().userFileName, dir.file("prog.mot"));
}

TEST_F(EditCommandTest, FailedUploadClearsTheChecksumAndBootSumFollowsTheEdit) {
  drv.dialogs.runEditor = [](const EditorRequest&) { return EditorOutcome{true, true}; };
  bool cleared = false;
  drv.routines.showEditedUserFile = [&](bool c) { cleared = c; };
  OnEditUserRom(app, drv.view, drv.dialogs, drv.routines);
  EXPECT_TRUE(cleared);
  EXPECT_EQ(int(app.settings.userChecksum), 0);

  app.settings.bootFileLoaded = 1;
  app.settings.bootStart = 0xF000;
  app.settings.bootEnd = 0xF7FF;
  app.image->bootImage[0] = 0x00;
  EditorRequest seen;
  drv.dialogs.runEditor = [&](const EditorRequest& r) {
    seen = r;
    return EditorOutcome{true, false};
  };
  OnEditBootRom(app, drv.dialogs, drv.routines);
  EXPECT_EQ(seen.romArea, "Boot Rom");
  EXPECT_EQ(seen.address, "00F000-00F7FF");
  EXPECT_FALSE(seen.saveEnabled);
  EXPECT_EQ(app.settings.bootChecksum, app.image->imageChecksum(ImageArea::Boot, app.settings));
  EXPECT_NE(int(app.settings.bootChecksum), 0);
}

}  // namespace
}  // namespace vrx4::test

namespace vrx4::test {
namespace {

TEST_F(ProjectTest, OnTheMainFormModelTheRoundTripHolds) {
  WorkerDialogs windows;
  MainViewModel model(app, windows);
  model.SelectDevice(0);
  model.operationIndex = 2;
  model.preSending = false;
  model.postSending = true;
  EditorProjectDialogs extra;
  std::string savePath = dir.file("m.vxp");
  extra.saveFile = [&](const FileDialogSpec&) { return std::optional<std::string>(savePath); };
  extra.confirmLoad = [](const std::string&) { return true; };
  ASSERT_TRUE(model.SendAllSettings());
  ASSERT_TRUE(OnProjectSaveAs(model, windows, extra));
  const ProjectSettings saved = app.settings;
  const KeptSettings kept = unit->keptSettings();

  model.SelectDevice(1);
  app.settings.idCode = idCodeOf({5, 6, 7, 8});
  model.operationIndex = 1;
  model.postSending = false;
  ASSERT_TRUE(model.SendAllSettings());
  ASSERT_NE(unit->keptSettings(), kept);

  windows.paths = {savePath};
  ASSERT_TRUE(OnProjectOpen(model, windows, extra));
  EXPECT_EQ(std::memcmp(&saved.device, &app.settings.device, sizeof saved.device), 0);
  EXPECT_STREQ(saved.userFileName, app.settings.userFileName);
  EXPECT_EQ(app.settings.idCode.idBytes[0], 0xA1);
  EXPECT_EQ(model.operationIndex, 2);
  EXPECT_TRUE(model.postSending);
  EXPECT_EQ(unit->keptSettings(), kept);
}

}  // namespace
}  // namespace vrx4::test
