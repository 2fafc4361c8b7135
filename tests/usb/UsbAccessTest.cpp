// A unit that is attached but cannot be used: its device node is not open
// to the user, or another program holds its interface. The start-up then
// says which, and what to do, instead of the plain "Communication error".
//
// The node without access is real: the testbed is readable by everyone,
// the node is root's own with mode 0600, and the programs run as the user
// "nobody" (the tests run as root, who would open it anyway). The busy unit
// answers the interface claim with EBUSY, as the kernel does when another
// program has claimed it.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ScriptedPrompter.h"
#include "UmockdevUnit.h"
#include "app/UnitCheck.h"
#include "app/UsbAccess.h"
#include "base/ProgramFiles.h"
#include "link/LibUsbDriver.h"
#include "link/UsbLink.h"
#include "sim/SimulatedProgrammer.h"

namespace vrx4::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

struct ProcessRun {
  int status = -1;     // exit status, -1 when it did not end by itself
  std::string output;  // standard output and standard error together
};

// Runs `argv` as `uid` (root: unchanged) with the environment plus `extra`,
// for at most `timeoutMs`. The umockdev preload is inherited.
ProcessRun runAs(uid_t uid, const std::vector<std::string>& argv, const std::vector<std::string>& extra,
                 int timeoutMs = 30000) {
  ProcessRun run;
  // Everything the child needs is made before the fork: after it, only
  // async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
      return entry.substr(0, entry.find('=') + 1) == std::string_view(x).substr(0, x.find('=') + 1);
    });
    if (!replaced) envp.push_back(*e);
  }
  for (const std::string& e : extra) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 || ::setuid(uid) != 0)) _exit(126);
    ::execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  ::close(out[1]);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, int(left.count())) <= 0) continue;
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    run.output.append(buf, size_t(n));
  }
  ::close(out[0]);
  int st = 0;
  ::waitpid(pid, &st, 0);
  if (WIFEXITED(st)) run.status = WEXITSTATUS(st);
  return run;
}

// A folder the user "nobody" may write into (runtime folder, configuration).
struct OwnedFolder {
  OwnedFolder() {
    char pattern[] = "/tmp/vrx4-access-XXXXXX";
    if (::mkdtemp(pattern)) path = pattern;
    if (!path.empty() && ::chown(path.c_str(), kNobody, kNogroup) != 0) path.clear();
  }
  ~OwnedFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
  std::string path;
};

// Whether `uid` may run the program at `path` (every folder on the way
// searchable, the file executable).
bool runnableBy(uid_t uid, const std::string& path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNogroup) != 0 || ::setuid(uid) != 0) _exit(2);
    _exit(::access(path.c_str(), X_OK) == 0 ? 0 : 1);
  }
  int st = 0;
  if (pid < 0 || ::waitpid(pid, &st, 0) != pid) return false;
  return WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

// The programs as "nobody" can run them: where the build put them, or, when
// that user cannot reach the build folder (a build in root's home, or a home
// folder of mode 0700), copies in a folder of that user's together with the
// files they read beside themselves. `why` says what failed when neither.
struct ProgramsForNobody {
  ProgramsForNobody() {
    cli = VRX4_CLI_PATH;
#ifdef VRX4_BINARY  // built with the window
    gui = VRX4_BINARY;
#endif
    if (runnableBy(kNobody, cli) && guiRunnable()) return;
    if (copies.path.empty()) {
      why = "the build folder is closed to nobody and no folder for copies could be made";
      return;
    }
    const fs::path from = fs::path(cli).parent_path();
    std::error_code ec;
    for (const char* name : {"vrx4-cli", "vrx4", "vrx4type.tbl", "vrx4.fwp", "60-vrx4.rules"}) {
      if (!fs::exists(from / name)) continue;
      fs::copy_file(from / name, fs::path(copies.path) / name, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        why = "cannot copy " + (from / name).string() + " for nobody: " + ec.message();
        return;
      }
    }
    cli = copies.path + "/vrx4-cli";
    if (!gui.empty()) gui = copies.path + "/vrx4";
    if (!runnableBy(kNobody, cli) || !guiRunnable()) why = "nobody cannot run the copies in " + copies.path;
  }
  bool guiRunnable() const { return gui.empty() || runnableBy(kNobody, gui); }
  OwnedFolder copies;
  std::string cli;
  std::string gui;  // empty in a build without the window
  std::string why;  // empty: cli and gui can be run by nobody
};

std::shared_ptr<SimulatedUnit> instantProgrammer() {
  ProgrammerOptions options;
  options.timeScale = 0;
  return std::make_shared<SimulatedProgrammer>(options, kUnitVendorId, kUnitProductId);
}

class UsbAccessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    closeLink();
    setUsbDriver(previous_);
    driver.reset();
  }
  void startDriver() {
    driver = std::make_unique<LibUsbDriver>();
    ASSERT_TRUE(driver->ready());
    previous_ = setUsbDriver(driver.get());
  }

  ScriptedPrompter prompts;
  FakeClockScope fakeClock;
  UmockdevUnit bed;
  std::shared_ptr<SimulatedUnit> unit = instantProgrammer();
  std::unique_ptr<LibUsbDriver> driver;

 private:
  UsbDriver* previous_ = nullptr;
};

TEST_F(UsbAccessTest, UnitHeldByAnotherProgramIsReportedAsBusy) {
  bed.addOtherDevice(0x1209, 0x0001, 1);
  const int held = bed.addUnit(unit, 3);
  bed.holdInterface(held);
  startDriver();
  EXPECT_EQ(driver->accessProblem(kUnitVendorId, kUnitProductId).kind, UsbAccess::None)
      << "nothing known before anything was tried";

  EXPECT_FALSE(openLink());
  const UsbAccessProblem p = driver->accessProblem(kUnitVendorId, kUnitProductId);
  EXPECT_EQ(p.kind, UsbAccess::Busy);
  EXPECT_EQ(p.devicePath, bed.devicePath(held));
  EXPECT_EQ(p.node, "/dev/bus/usb/001/004");
  EXPECT_EQ(driver->accessProblem(0x1209, 0x0001).kind, UsbAccess::None) << "other IDs";

  // The start-up check says so, and still ends.
  AppState state;
  state.executablePath = "/nowhere/bin/vrx4";
  closeLink();
  EXPECT_FALSE(checkConnection(state, {}));
  ASSERT_EQ(prompts.texts().size(), 1u);
  EXPECT_EQ(prompts.texts()[0],
            "T552-VRX4 is attached (/dev/bus/usb/001/004), but another program is using it.\n"
            "Close that program (for example another vrx4-cli), then unplug the unit and plug it in again.");
}

TEST_F(UsbAccessTest, UnitWithoutANodeIsNoAccessProblem) {
  // Gone between listing and opening (libusb drops it from its list): the
  // plain message, and the IDs that were looked for.
  bed.addUnit(unit, 2, /*withNode=*/false);
  startDriver();
  EXPECT_FALSE(openLink());
  EXPECT_EQ(driver->accessProblem(kUnitVendorId, kUnitProductId).kind, UsbAccess::None);
  const std::string text = noUnitMessage("/nowhere/bin/");
  EXPECT_EQ(text.rfind(std::string(kNoUnitText) + "\nNo USB device has the IDs " + usbIdText(UsbId{}), 0), 0u) << text;
}

// The real programs, as a user the node is not open to.
TEST_F(UsbAccessTest, ProgramsRunByAUserWithoutAccessNameTheRuleAndEnd) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can run the programs as another user";
  const ProgramsForNobody programs;
  if (!programs.why.empty()) GTEST_SKIP() << programs.why;
  bed.addOtherDevice(0x1209, 0x0001, 1);
  bed.addUnit(unit, 2);
  bed.shareWithOtherUsers();
  OwnedFolder home;
  ASSERT_FALSE(home.path.empty());
  const std::vector<std::string> env = {"HOME=" + home.path, "XDG_RUNTIME_DIR=" + home.path,
                                        "XDG_CONFIG_HOME=" + home.path + "/config",
                                        "XDG_STATE_HOME=" + home.path + "/state", "QT_QPA_PLATFORM=offscreen"};
  const std::string rule = fs::path(programs.cli).parent_path() / "60-vrx4.rules";
  // The message is also the log line on standard error (one line).
  const std::string expected = "T552-VRX4 is attached (/dev/bus/usb/001/003), but this user may not open it.";

  const ProcessRun cli = runAs(kNobody, {programs.cli, "info"}, env);
  EXPECT_EQ(cli.status, 4) << cli.output;
  EXPECT_NE(cli.output.find(expected), std::string::npos) << cli.output;
  EXPECT_NE(cli.output.find("LIBUSB_ERROR_ACCESS"), std::string::npos) << "the log line names the error";
  if (installedUsbRule().empty()) {
    EXPECT_NE(cli.output.find("sudo install -m 644 " + rule + " /etc/udev/rules.d/"), std::string::npos) << cli.output;
  }
  EXPECT_NE(cli.output.find("unplug the unit and plug it in again"), std::string::npos) << cli.output;
  EXPECT_EQ(cli.output.find("Communication error"), std::string::npos) << cli.output;

#ifdef VRX4_BINARY  // built with the window
  const ProcessRun gui = runAs(kNobody, {programs.gui, "-Automation"}, env);
  EXPECT_NE(gui.status, 0) << gui.output;
  EXPECT_NE(gui.status, -1) << "ends by itself";
  EXPECT_NE(gui.output.find(expected), std::string::npos) << gui.output;
  EXPECT_EQ(gui.output.find("Communication error"), std::string::npos) << gui.output;
#endif

  // Root opens it: the same programs find the unit.
  const ProcessRun asRoot = runAs(0, {programs.cli, "info"}, env);
  EXPECT_EQ(asRoot.status, 0) << asRoot.output;
}

TEST_F(UsbAccessTest, CommandLineReportsAUnitHeldByAnotherProgram) {
  const int held = bed.addUnit(unit, 2);
  bed.holdInterface(held);
  OwnedFolder home;
  const ProcessRun cli = runAs(0, {VRX4_CLI_PATH, "info"}, {"XDG_STATE_HOME=" + home.path});
  EXPECT_EQ(cli.status, 4) << cli.output;
  EXPECT_NE(cli.output.find("T552-VRX4 is attached (/dev/bus/usb/001/003), but another program is using it."),
            std::string::npos)
      << cli.output;
  EXPECT_NE(cli.output.find("LIBUSB_ERROR_BUSY"), std::string::npos) << cli.output;
}

}  // namespace
}  // namespace vrx4::test
