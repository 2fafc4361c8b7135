// Where the programs look for their shipped files and where "dlg_path" goes:
// beside the executable first, then the installed layout.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/AppInfo.h"
#include "app/AppState.h"
#include "app/UnitCheck.h"
#include "app/UsbAccess.h"
#include "base/ProgramFiles.h"
#include "base/Version.h"
#include "sim/SimulatedProgrammer.h"

namespace vrx4 {
namespace {

namespace fs = std::filesystem;

class InstallTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vrx4-install-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root + "/usr/bin");
    fs::create_directories(root + "/usr/share/vrx4");
  }
  void TearDown() override { fs::remove_all(root); }
  void touch(const std::string& path) { std::ofstream(path) << "x"; }
  std::string bin() const { return root + "/usr/bin/"; }
  std::string share() const { return root + "/usr/share/vrx4/"; }
  std::string root;
};

TEST_F(InstallTree, DataFileBesideTheExecutableComesBeforeTheInstalledOne) {
  EXPECT_EQ(dataFolders(bin()), (std::vector<std::string>{bin(), share()}));
  EXPECT_EQ(dataFolders(root + "/usr/bin"), (std::vector<std::string>{bin(), share()}));

  // Nowhere: the place beside the executable, for the message.
  EXPECT_EQ(findDataFile(bin(), "vrx4type.tbl"), bin() + "vrx4type.tbl");
  touch(share() + "vrx4type.tbl");
  EXPECT_EQ(findDataFile(bin(), "vrx4type.tbl"), share() + "vrx4type.tbl");
  touch(bin() + "vrx4type.tbl");
  EXPECT_EQ(findDataFile(bin(), "vrx4type.tbl"), bin() + "vrx4type.tbl");
  // A folder of that name is not the file.
  fs::create_directory(bin() + "vrx4.fwp");
  touch(share() + "vrx4.fwp");
  EXPECT_EQ(findDataFile(bin(), "vrx4.fwp"), share() + "vrx4.fwp");

  AppState state;
  state.executablePath = bin() + "vrx4";
  EXPECT_EQ(state.dataFile("vrx4.fwp"), share() + "vrx4.fwp");
}

TEST_F(InstallTree, UsbRuleIsFoundBesideTheProgramOrWhereThePackagePutsIt) {
  EXPECT_EQ(findUsbRule(bin()), "");
  fs::create_directories(root + "/usr/lib/udev/rules.d");
  touch(root + "/usr/lib/udev/rules.d/60-vrx4.rules");
  EXPECT_EQ(findUsbRule(bin()), root + "/usr/lib/udev/rules.d/60-vrx4.rules");
  touch(bin() + "60-vrx4.rules");
  EXPECT_EQ(findUsbRule(bin()), bin() + "60-vrx4.rules");

  // What udev reads: /etc first, then the system folders.
  EXPECT_EQ(installedUsbRule(root), root + "/usr/lib/udev/rules.d/60-vrx4.rules");
  fs::create_directories(root + "/etc/udev/rules.d");
  touch(root + "/etc/udev/rules.d/60-vrx4.rules");
  EXPECT_EQ(installedUsbRule(root), root + "/etc/udev/rules.d/60-vrx4.rules");
  EXPECT_EQ(installedUsbRule(root + "/home"), "");
}

TEST(NoUnitMessage, SaysWhatStandsInTheWayAndWhatToDo) {
  EXPECT_EQ(noUnitMessage({}, "/opt/vrx4/60-vrx4.rules", ""), kNoUnitText);

  const UsbAccessProblem denied{UsbAccess::Denied, "/usb/1-2", "/dev/bus/usb/001/003"};
  EXPECT_EQ(noUnitMessage(denied, "/opt/vrx4/60-vrx4.rules", ""),
            "T552-VRX4 is attached (/dev/bus/usb/001/003), but this user may not open it.\n"
            "The USB access rule 60-vrx4.rules gives the user at the computer (and the group plugdev) access "
            "to the unit. Install it:\n"
            "  sudo install -m 644 /opt/vrx4/60-vrx4.rules /etc/udev/rules.d/\n"
            "  sudo udevadm control --reload-rules\n"
            "then unplug the unit and plug it in again.");
  // Installed already: only plugging in again (or the group) helps.
  const std::string installed = noUnitMessage(denied, "", "/usr/lib/udev/rules.d/60-vrx4.rules");
  EXPECT_NE(installed.find("is installed (/usr/lib/udev/rules.d/60-vrx4.rules). Unplug the unit and plug it in"),
            std::string::npos)
      << installed;
  EXPECT_NE(installed.find("sudo adduser $USER plugdev"), std::string::npos);
  EXPECT_EQ(installed.find("sudo install"), std::string::npos);

  const UsbAccessProblem busy{UsbAccess::Busy, "/usb/1-2", "/dev/bus/usb/001/003"};
  EXPECT_EQ(noUnitMessage(busy, "", "")
                .rfind("T552-VRX4 is attached (/dev/bus/usb/001/003), but another program is using it.\n", 0),
            0u);
}

TEST(UserConfigFolder, FollowsTheBaseDirectoryRules) {
  EXPECT_EQ(userConfigFolder("/cfg", "/home/op"), "/cfg/vrx4/");
  EXPECT_EQ(userConfigFolder("/cfg/", "/home/op"), "/cfg/vrx4/");
  EXPECT_EQ(userConfigFolder("", "/home/op"), "/home/op/.config/vrx4/");
  EXPECT_EQ(userConfigFolder("relative", "/home/op"), "/home/op/.config/vrx4/");
  EXPECT_EQ(userConfigFolder(nullptr, "/home/op"), "/home/op/.config/vrx4/");
  EXPECT_EQ(userConfigFolder(nullptr, nullptr), "");
}

TEST_F(InstallTree, DialogPathGoesToTheConfigFolderWhenTheProgramFolderIsReadOnly) {
  const std::string config = root + "/home/.config/vrx4/";
  auto writable = [](const std::string&) { return true; };
  auto readOnly = [](const std::string&) { return false; };
  EXPECT_EQ(dialogPathFolder(bin(), writable, config), bin());
  EXPECT_EQ(dialogPathFolder(bin(), readOnly, config), config);
  EXPECT_EQ(dialogPathFolder(bin(), readOnly, ""), bin()) << "no better place to try";

  // The real check, with a folder even root cannot write into: one that
  // lies under a file.
  touch(root + "/plain");
  EXPECT_FALSE(folderWritable(root + "/plain/bin/"));
  EXPECT_FALSE(folderWritable(root + "/missing/"));
  EXPECT_TRUE(folderWritable(bin()));
  EXPECT_EQ(dialogPathFolder(root + "/plain/bin/", folderWritable, config), config);

  // Saved there (the folder is made), read back from there; slot 0 and the
  // defaults stay the program folder.
  DialogPaths paths;
  loadDialogPaths(paths, bin(), config);
  paths.setSlot(kProjectFolderSlot, "/data/projects/");
  ASSERT_TRUE(saveDialogPaths(paths, config));
  EXPECT_TRUE(fs::is_regular_file(config + kDialogPathFileName));
  EXPECT_FALSE(fs::exists(bin() + kDialogPathFileName));
  DialogPaths back;
  loadDialogPaths(back, bin(), config);
  EXPECT_EQ(back.slot(kProjectFolderSlot), "/data/projects/");
  EXPECT_EQ(back.slot(kProgramFolderSlot), bin());
  EXPECT_EQ(back.slot(kUserFileFolderSlot), bin());
  struct stat st {};
  ASSERT_EQ(::stat(config.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Version, CarriedFirmwareIsWhatTheProgramAndTheSimulatedUnitUse) {
  EXPECT_STREQ(kHostVersion, kCarriedFirmwareVersion);
  EXPECT_EQ(std::string(kCarriedFirmwareVersion).substr(0, kHostVersionCompareLength), kSimFirmwareVersion);
  EXPECT_EQ(versionText("vrx4-cli"),
            std::string("vrx4-cli ") + kProgramVersion + "\nunit firmware Ver.1.11 2012/01/13\n");
}

}  // namespace
}  // namespace vrx4
