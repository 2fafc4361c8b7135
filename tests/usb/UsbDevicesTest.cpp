// What vrx4-cli says about the USB bus for a first connection: every device
// with its IDs and strings (nothing opened), and the access rule for the
// IDs in use.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "UmockdevUnit.h"
#include "cli/CliApp.h"
#include "cli/ExitStatus.h"
#include "cli/UdevRule.h"
#include "cli/UsbUnits.h"
#include "link/UsbLink.h"

namespace vrx4::test {
namespace {

TEST(UsbDevices, AllDevicesAreListedWithoutOpeningAndTheUnitsAreMarked) {
  UmockdevUnit bed;
  const int other = bed.addOtherDevice(0x1209, 0x0001, 1);
  const int unit = bed.addUnit(std::make_shared<SimulatedUnit>(kUnitVendorId, kUnitProductId), 3);
  std::vector<cli::UsbDevice> devices = cli::listAllUsbDevices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].path, bed.devicePath(other));
  EXPECT_EQ(devices[0].id, (UsbId{0x1209, 0x0001}));
  EXPECT_EQ(devices[0].product, "USB Receiver");
  EXPECT_FALSE(devices[0].matches);
  EXPECT_EQ(devices[1].path, bed.devicePath(unit));
  EXPECT_EQ(devices[1].serial, "VRX4-3");
  EXPECT_EQ(devices[1].product, "T552-VRX4");
  EXPECT_TRUE(devices[1].matches);
  EXPECT_EQ(bed.openCount(other) + bed.openCount(unit), 0);

  // With the IDs of the other device in use, that one is the unit.
  setUnitUsbId(UsbId{0x1209, 0x0001});
  devices = cli::listAllUsbDevices();
  setUnitUsbId(UsbId{});
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_TRUE(devices[0].matches);
  EXPECT_FALSE(devices[1].matches);
}

TEST(UdevRule, IsTheBuildsRuleForItsIdsAndCarriesTheInstallCommands) {
  std::ifstream in(VRX4_RULE_PATH);
  ASSERT_TRUE(in) << VRX4_RULE_PATH;
  std::stringstream built;
  built << in.rdbuf();
  EXPECT_EQ(cli::udevRuleText(UsbId{}), built.str()) << "the rule printed and the rule shipped are one";

  const std::string rule = cli::udevRuleWithInstallCommands(UsbId{0x04D8, 0xFA2B}, "--usb-id");
  EXPECT_NE(rule.find("ATTR{idVendor}==\"04d8\", ATTR{idProduct}==\"fa2b\""), std::string::npos) << rule;
  EXPECT_NE(rule.find("TAG+=\"uaccess\""), std::string::npos);
  EXPECT_NE(rule.find("#   vrx4-cli udev-rule --usb-id 04d8:fa2b | sudo tee /etc/udev/rules.d/60-vrx4.rules"),
            std::string::npos);
  EXPECT_NE(rule.find("--attr-match=idVendor=04d8 --attr-match=idProduct=fa2b --action=add"), std::string::npos);
  // Every line that is not the rule is a comment: the output is a rule file.
  std::istringstream lines(rule);
  int ruleLines = 0;
  for (std::string l; std::getline(lines, l);) ruleLines += l.rfind('#', 0) == 0 ? 0 : 1;
  EXPECT_EQ(ruleLines, 1);
}

TEST(UsbOptions, MalformedValuesAreUsageErrors) {
  EXPECT_EQ(cli::run({"units", "--all", "--usb-id", "12:34"}, "/nowhere/vrx4-cli"), cli::kExitUsage);
  EXPECT_EQ(cli::run({"udev-rule", "--usb-id", "04d8:fa2b0"}, "/nowhere/vrx4-cli"), cli::kExitUsage);
  EXPECT_EQ(cli::run({"info", "--usb-timeout", "0"}, "/nowhere/vrx4-cli"), cli::kExitUsage);
  EXPECT_EQ(cli::run({"udev-rule", "--usb-id", "04d8:fa2b"}, "/nowhere/vrx4-cli"), cli::kExitPass);
  EXPECT_EQ(unitUsbId(), (UsbId{0x04D8, 0xFA2B})) << "the rule is for the IDs given";
  setUnitUsbId(UsbId{});
}

}  // namespace
}  // namespace vrx4::test
