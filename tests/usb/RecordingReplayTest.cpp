// Real units, as scripts/usb-report.sh recorded their first connection,
// replayed below an unmodified libusb: vrx4-cli info must get over each
// recording what it got from the unit. A recording is a pair NAME.umockdev
// and NAME.ioctl in tests/usb/recordings/ (see the README there).
#include <gtest/gtest.h>

#include <filesystem>

#include "UmockdevUnit.h"
#include "cli/CliApp.h"
#include "cli/ExitStatus.h"
#include "link/UsbLink.h"

namespace vrx4::test {
namespace {

namespace fs = std::filesystem;

TEST(RecordedUnits, InfoRunsOverEveryRecording) {
  int replayed = 0;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(VRX4_RECORDINGS_DIR, ec)) {
    if (e.path().extension() != ".umockdev") continue;
    fs::path ioctls = e.path();
    ioctls.replace_extension(".ioctl");
    SCOPED_TRACE(e.path().filename().string());
    ASSERT_TRUE(fs::exists(ioctls)) << "a recording needs its .ioctl file too";
    UmockdevUnit bed;
    UsbIdPair ids;
    std::string why;
    ASSERT_TRUE(bed.addRecording(e.path().string(), ioctls.string(), ids, why)) << why;
    EXPECT_EQ(cli::run({"info", "--usb-id", usbIdText(UsbId{ids.vendor, ids.product})}, VRX4_CLI_PATH), cli::kExitPass);
    setUnitUsbId(UsbId{});
    ++replayed;
  }
  if (replayed == 0) GTEST_SKIP() << "no recordings of real units yet";
}

}  // namespace
}  // namespace vrx4::test
