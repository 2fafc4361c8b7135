// The unit's USB IDs at run time: where they come from, in which order, and
// what the program says with them.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/CommandLine.h"
#include "app/UnitCheck.h"
#include "app/UnitUsbId.h"
#include "app/UsbAccess.h"
#include "link/FrameExchange.h"

namespace vrx4 {
namespace {

namespace fs = std::filesystem;

class UnitUsbIdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vrx4-usbid-" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "vrx4");
    saveEnv("XDG_CONFIG_HOME");
    saveEnv(kUsbIdVariable);
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    ::unsetenv(kUsbIdVariable);
  }
  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
    setUnitUsbId(UsbId{});
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void saveEnv(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
  }
  std::string write(const std::string& name, const std::string& text) {
    const fs::path p = dir_ / name;
    std::ofstream(p) << text;
    return p.string();
  }
  UsbIdChoice resolve(const std::string& commandLine = {}) {
    warnings.clear();
    return resolveUnitUsbId(commandLine, warnings, systemConf);
  }

  fs::path dir_;
  std::string systemConf = "/nonexistent/vrx4/unit.conf";
  std::vector<std::string> warnings;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(UsbIdText, ReadsFourHexDigitsEachAndWritesThemAsLsusbDoes) {
  UsbId id;
  ASSERT_TRUE(parseUsbId("04D8:fA2b", id));
  EXPECT_EQ(id, (UsbId{0x04D8, 0xFA2B}));
  EXPECT_EQ(usbIdText(id), "04d8:fa2b");
  for (const char* bad :
       {"", "4d8:fa2b", "04d8fa2b", "04d8:fa2b0", "04d8-fa2b", "0x4d:fa2b", "04d8:fa2g", " 04d8:fa2b"})
    EXPECT_FALSE(parseUsbId(bad, id)) << bad;
}

TEST_F(UnitUsbIdTest, FirstMatchWinsFromTheCommandLineToTheSystemFile) {
  EXPECT_EQ(resolve().source, "built in");
  EXPECT_EQ(resolve().id, UsbId{});

  systemConf = write("system.conf", "# the site's unit\nusb-id = 1111:2222\n");
  EXPECT_EQ(resolve().id, (UsbId{0x1111, 0x2222}));
  EXPECT_EQ(resolve().source, systemConf);

  const std::string user = write("vrx4/unit.conf", "other = 1\n  usb-id=3333:4444   # bench unit\n");
  EXPECT_EQ(resolve().id, (UsbId{0x3333, 0x4444}));
  EXPECT_EQ(resolve().source, user);

  ::setenv(kUsbIdVariable, "5555:6666", 1);
  EXPECT_EQ(resolve().id, (UsbId{0x5555, 0x6666}));
  EXPECT_EQ(resolve().source, kUsbIdVariable);

  EXPECT_EQ(resolve("7777:8888").id, (UsbId{0x7777, 0x8888}));
  EXPECT_EQ(resolve("7777:8888").source, "--usb-id");
  EXPECT_TRUE(warnings.empty());

  // Without XDG_CONFIG_HOME the user's file is under ~/.config.
  ::unsetenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (home) {
    EXPECT_EQ(userUnitConf(), std::string(home) + "/.config/vrx4/unit.conf");
  }
}

TEST_F(UnitUsbIdTest, MalformedValuesArePassedOverWithAWarning) {
  ::setenv(kUsbIdVariable, "1209", 1);
  write("vrx4/unit.conf", "usb-id = 12:34\n");
  systemConf = write("system.conf", "usb-id = abcd:ef01\n");
  const UsbIdChoice c = resolve();
  EXPECT_EQ(c.id, (UsbId{0xABCD, 0xEF01}));
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("VRX4_USB_ID='1209'"), std::string::npos) << warnings[0];
  EXPECT_NE(warnings[1].find("unit.conf, line 1: usb-id '12:34'"), std::string::npos) << warnings[1];
}

TEST_F(UnitUsbIdTest, VersionAndTheNoUnitMessageNameTheIds) {
  EXPECT_NE(commandLineVersion("vrx4").find("\nunit USB ID 1209:5520 (built in); test-range IDs"), std::string::npos)
      << commandLineVersion("vrx4");
  EXPECT_NE(commandLineVersion("vrx4", "0abc:0def").find("\nunit USB ID 0abc:0def (--usb-id)"), std::string::npos);
  EXPECT_EQ(commandLineVersion("vrx4", "0abc:0def").find("test-range"), std::string::npos);

  setUnitUsbId(UsbId{0x0ABC, 0x0DEF});
  UsbAccessProblem none;
  none.searchedUsb = true;
  const std::string text = noUnitMessage(none, "", "");
  EXPECT_EQ(text.rfind(std::string(kNoUnitText) + "\n", 0), 0u) << text;
  EXPECT_NE(text.find("No USB device has the IDs 0abc:0def looked for."), std::string::npos) << text;
  EXPECT_NE(text.find("vrx4-cli units --all"), std::string::npos);
  EXPECT_NE(text.find("--usb-id VID:PID"), std::string::npos);
  // A device with the IDs is there (it could not be used): the plain message.
  none.idsPresent = true;
  EXPECT_EQ(noUnitMessage(none, "", ""), kNoUnitText);
  // The shipped rule is for the build's IDs: the message gives a rule for these.
  const UsbAccessProblem denied{UsbAccess::Denied, "/usb/1-2", "/dev/bus/usb/001/003", true, true};
  EXPECT_NE(noUnitMessage(denied, "/opt/vrx4/60-vrx4.rules", "").find("vrx4-cli udev-rule --usb-id 0abc:0def"),
            std::string::npos);
}

TEST(UsbCommandLine, IdsAndTimeOutAreCheckedWhereTheyAreGiven) {
  CommandLine cl = parseCommandLine({"--usb-id", "04d8:FA2B", "--usb-timeout=2.5"});
  ASSERT_TRUE(cl.ok()) << cl.error;
  EXPECT_EQ(cl.unit.usbId, "04d8:FA2B");
  EXPECT_DOUBLE_EQ(cl.unit.usbTimeoutSeconds, 2.5);
  EXPECT_EQ(parseCommandLine({"--usb-id=1234:5678"}).unit.usbId, "1234:5678");
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{{"--usb-id"},
                                                                            {"--usb-id", "1234"},
                                                                            {"--usb-id=12345:678"},
                                                                            {"--usb-timeout"},
                                                                            {"--usb-timeout", "0"},
                                                                            {"--usb-timeout", "-1"},
                                                                            {"--usb-timeout", "5s"},
                                                                            {"--usb-timeout=4000"}}) {
    const CommandLine b = parseCommandLine(bad);
    EXPECT_FALSE(b.ok()) << bad[0];
    EXPECT_EQ(b.error.rfind(bad[0].substr(0, bad[0].find('=')), 0), 0u) << b.error;
  }
  EXPECT_NE(commandLineUsage("vrx4").find("--usb-id VID:PID"), std::string::npos);
}

}  // namespace
}  // namespace vrx4
