// Dialog folders ("dlg_path"), the command line and the frame's size rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ScriptedPrompter.h"
#include "app/AppInfo.h"
#include "app/CommandLine.h"
#include "app/DialogPaths.h"
#include "base/Log.h"
#include "base/StartupMessage.h"
#include "link/UsbLink.h"
#include "programs/UnitTransport.h"
#include "view/FrameRules.h"

namespace vrx4 {
namespace {

UnitChoice simWithoutState() {
  UnitChoice c;
  c.kind = UnitKind::Sim;
  c.sim.keepNothing = true;
  return c;
}

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "vrx4-startup-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempFolder() { fs::remove_all(path_); }
  std::string folder() const { return path_.string() + "/"; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::vector<char> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

TEST(ProgramFolder, KeepsTheFolderWithItsSlash) {
  EXPECT_EQ(programFolder("/opt/vrx4/bin/vrx4"), "/opt/vrx4/bin/");
  EXPECT_EQ(programFolder("/vrx4"), "/");
  EXPECT_EQ(programFolder("/opt/vrx4/"), "/opt/vrx4/");
  EXPECT_EQ(programFolder("vrx4"), "");
}

TEST(DialogPaths, MissingFileGivesTheDefaults) {
  TempFolder t;
  DialogPaths p;
  p.setSlot(3, "stale");
  loadDialogPaths(p, t.folder());
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(p.slot(i), t.folder()) << i;
  EXPECT_EQ(p.slot(kUserFileNameSlot), "");
}

TEST(DialogPaths, ShortFileFillsOnlyTheSlotsItCovers) {
  TempFolder t;
  // Slot 0 names another folder (always replaced), slot 1 is whole, slot 2
  // is cut by the end of the file after its text, slots 3..5 are missing.
  std::vector<char> bytes(2 * kDialogPathSlotSize + 10, 0);
  const std::string old = "/somewhere/else/";
  const std::string user = "/home/op/hex/";
  std::copy(old.begin(), old.end(), bytes.begin());
  std::copy(user.begin(), user.end(), bytes.begin() + kDialogPathSlotSize);
  std::copy_n("/boot/", 6, bytes.begin() + 2 * kDialogPathSlotSize);
  writeAll(t.file(kDialogPathFileName), bytes);

  DialogPaths p;
  loadDialogPaths(p, t.folder());
  EXPECT_EQ(p.slot(0), t.folder());
  EXPECT_EQ(p.slot(1), user);
  EXPECT_EQ(p.slot(2), "/boot/");
  EXPECT_EQ(p.slot(3), t.folder());
  EXPECT_EQ(p.slot(4), t.folder());
  EXPECT_EQ(p.slot(5), "");
}

TEST(DialogPaths, UnterminatedSlotsAndLongFilesStayInBounds) {
  TempFolder t;
  // Every byte non-zero, and more than 6144 of them.
  writeAll(t.file(kDialogPathFileName), std::vector<char>(kDialogPathFileSize + 500, 'x'));
  DialogPaths p;
  loadDialogPaths(p, t.folder());
  EXPECT_EQ(p.slot(0), t.folder());
  EXPECT_EQ(p.slot(1), std::string(kDialogPathSlotSize, 'x'));
  EXPECT_EQ(p.slot(5), std::string(kDialogPathSlotSize, 'x'));
  EXPECT_EQ(p.slot(6), "");
  EXPECT_EQ(p.slot(-1), "");
}

TEST(DialogPaths, RoundTripWritesAll6144Bytes) {
  TempFolder t;
  DialogPaths p;
  loadDialogPaths(p, t.folder());
  ASSERT_TRUE(p.setSlot(kProjectFolderSlot, "/home/op/projects/"));
  ASSERT_TRUE(p.setSlot(kUserFileNameSlot, "prog.hex"));
  ASSERT_TRUE(saveDialogPaths(p));

  const std::vector<char> onDisk = readAll(t.file(kDialogPathFileName));
  ASSERT_EQ(onDisk.size(), kDialogPathFileSize);
  EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), p.bytes.begin()));
  // Nothing else is left in the folder (the file is written beside and renamed).
  EXPECT_EQ(std::distance(fs::directory_iterator(t.folder()), fs::directory_iterator()), 1);

  DialogPaths back;
  loadDialogPaths(back, t.folder());
  EXPECT_EQ(back.bytes, p.bytes);
  EXPECT_EQ(back.slot(kProjectFolderSlot), "/home/op/projects/");
  EXPECT_EQ(back.slot(kUserFileNameSlot), "prog.hex");
}

TEST(DialogPaths, FailedSaveReportsFalseAndKeepsTheOldFile) {
  TempFolder t;
  DialogPaths p;
  p.setSlot(0, t.folder() + "gone/");  // a folder that does not exist
  EXPECT_FALSE(saveDialogPaths(p));
  DialogPaths empty;
  EXPECT_FALSE(saveDialogPaths(empty));  // no program folder at all

  // Replacing an existing file with a directory in its way fails without
  // touching what is there.
  fs::create_directory(t.file(kDialogPathFileName));
  fs::create_directory(t.file(std::string(kDialogPathFileName) + "/keep"));
  DialogPaths q;
  q.setSlot(0, t.folder());
  EXPECT_FALSE(saveDialogPaths(q));
  EXPECT_TRUE(fs::is_directory(t.file(std::string(kDialogPathFileName) + "/keep")));
  EXPECT_EQ(std::distance(fs::directory_iterator(t.folder()), fs::directory_iterator()), 1);
}

TEST(DialogPaths, TextThatDoesNotFitIsRefused) {
  DialogPaths p;
  ASSERT_TRUE(p.setSlot(1, "/keep/"));
  EXPECT_FALSE(p.setSlot(1, std::string(kDialogPathSlotSize, 'a')));
  EXPECT_EQ(p.slot(1), "/keep/");
  EXPECT_TRUE(p.setSlot(1, std::string(kDialogPathSlotSize - 1, 'a')));
  EXPECT_EQ(p.slot(1).size(), kDialogPathSlotSize - 1);
  EXPECT_EQ(p.slot(2), "");  // the neighbour is untouched
  EXPECT_FALSE(p.setSlot(6, "x"));

  // A program folder too long for its slot: nothing to write to later.
  DialogPaths q;
  loadDialogPaths(q, "/" + std::string(kDialogPathSlotSize, 'd') + "/");
  EXPECT_EQ(q.slot(0), "");
  EXPECT_FALSE(saveDialogPaths(q));
}

TEST(CommandLine, SplashSwitchesInAnyCaseWithEitherPrefix) {
  EXPECT_TRUE(parseCommandLine({}).splashEnabled);
  for (const char* s : {"-Embedding", "/Embedding", "-automation", "/AUTOMATION", "/eMbEdDiNg"}) {
    const CommandLine cl = parseCommandLine({s});
    EXPECT_TRUE(cl.ok()) << s;
    EXPECT_FALSE(cl.splashEnabled) << s;
  }
  // Near misses are words the program does not know: kept for the warning,
  // the picture stays on and the start goes on.
  for (const char* s : {"--Embedding", "Automation", "-Automat", "/Embeddings", "-"}) {
    const CommandLine cl = parseCommandLine({s, "--simulate"});
    EXPECT_TRUE(cl.ok()) << s;
    EXPECT_TRUE(cl.splashEnabled) << s;
    EXPECT_EQ(cl.unknown, std::vector<std::string>{s});
    EXPECT_EQ(cl.unit.kind, UnitKind::Sim) << "the words after it still count";
  }
}

TEST(CommandLine, UnknownWordsAreWarnedAboutOneLineEach) {
  const CommandLine cl = parseCommandLine({"--no-such", "-Embedding", "file.mot", "--simulated"});
  ASSERT_TRUE(cl.ok());
  EXPECT_FALSE(cl.splashEnabled);
  EXPECT_EQ(cl.unknown, (std::vector<std::string>{"--no-such", "file.mot", "--simulated"}));
  const std::string w = unknownArgumentWarning("vrx4", "--no-such");
  EXPECT_NE(w.find("'--no-such'"), std::string::npos) << w;
  EXPECT_EQ(w.find('\n'), std::string::npos) << w;
}

TEST(CommandLine, VersionNamesTheProgramAndTheFirmwareItCarries) {
  EXPECT_TRUE(parseCommandLine({"--version"}).showVersion);
  EXPECT_FALSE(parseCommandLine({"--help"}).showVersion);
  const std::string v = commandLineVersion("vrx4");
  EXPECT_EQ(v.rfind("vrx4 1.11\n", 0), 0u) << v;
  EXPECT_NE(v.find(kHostVersion), std::string::npos) << v;
  EXPECT_NE(commandLineUsage("vrx4").find("--version"), std::string::npos);
  // --help adds the files and examples the man page is made from.
  const std::string help = commandLineHelp("vrx4");
  EXPECT_EQ(help.rfind(commandLineUsage("vrx4"), 0), 0u);
  EXPECT_NE(help.find("\nFiles:\n"), std::string::npos);
  EXPECT_NE(help.find("\nExamples:\n"), std::string::npos);
}

TEST(CommandLine, UnitChoice) {
  EXPECT_EQ(parseCommandLine({}).unit.kind, UnitKind::Usb);
  EXPECT_EQ(parseCommandLine({"--simulate"}).unit.kind, UnitKind::Sim);
  EXPECT_EQ(parseCommandLine({"--unit", "sim"}).unit.kind, UnitKind::Sim);
  EXPECT_EQ(parseCommandLine({"--simulate", "--unit=usb"}).unit.kind, UnitKind::Usb);
  const CommandLine s = parseCommandLine({"--unit", "socket:/run/vrx4.sock", "-Embedding"});
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(s.unit.kind, UnitKind::Socket);
  EXPECT_EQ(s.unit.socketPath, "/run/vrx4.sock");
  EXPECT_FALSE(s.splashEnabled);
  EXPECT_EQ(parseCommandLine({"--unit=socket:rel/path"}).unit.socketPath, "rel/path");

  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--unit"}, {"--unit", "USB"}, {"--unit", "socket:"}, {"--unit=serial"}, {"--sim-state"}}) {
    EXPECT_FALSE(parseCommandLine(bad).ok()) << bad[0];
  }
  EXPECT_TRUE(parseCommandLine({"--help"}).showHelp);
}

TEST(CommandLine, SimulatorOptionsNeedTheSimulatedUnit) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--sim-firmware", "Ver.1.00"},
                                               {"--sim-update-mode", "--unit", "usb"},
                                               {"--simulate", "--sim-fresh", "--unit", "socket:u.sock"},
                                               {"--sim-no-state"}}) {
    const CommandLine cl = parseCommandLine(args);
    EXPECT_FALSE(cl.ok()) << args[0];
    EXPECT_NE(cl.error.find(args[0] == "--simulate" ? "--sim-fresh" : args[0]), std::string::npos) << cl.error;
  }
  // The order does not matter, only which unit is chosen in the end.
  const CommandLine cl = parseCommandLine({"--sim-firmware", "Ver.1.00", "--unit", "sim", "--sim-no-state"});
  ASSERT_TRUE(cl.ok()) << cl.error;
  EXPECT_EQ(cl.unit.sim.firmwareVersion, "Ver.1.00");
  EXPECT_TRUE(cl.unit.sim.keepNothing);
}

// A front end without a start-up picture shows its messages at once; the
// picture's own rule is the 1000 ms pause.
TEST(StartupMessage, ThePauseCanBeSwitchedOff) {
  test::FakeClockScope clock;
  int hidden = 0;
  setSplashHider([&] { ++hidden; });
  pauseAndHideSplash();
  EXPECT_EQ(clock->sleptMs(), 1000u);
  setStartupPauseEnabled(false);
  pauseAndHideSplash();
  setStartupPauseEnabled(true);
  EXPECT_EQ(clock->sleptMs(), 1000u);
  EXPECT_EQ(hidden, 2);  // the picture still goes
  setSplashHider({});
}

// Log lines say which program wrote them.
TEST(Log, ProgramNamePrefixesMessagesAndProgramLines) {
  test::LogCapture log;
  setLogProgramName("vrx4-cli");
  logProgramLine("socket unit: connection to u.sock lost");
  EXPECT_EQ(messageLogLine("File open error.", Icon::Stop, "a.hex: Is a directory"),
            "vrx4-cli: stop: File open error. (a.hex: Is a directory)");
  setLogProgramName("vrx4");
  EXPECT_EQ(messageLogLine("Two\nlines", Icon::Warning), "vrx4: warning: Two lines");
  EXPECT_EQ(log.lines(), std::vector<std::string>{"vrx4-cli: socket unit: connection to u.sock lost"});
}

TEST(UnitTransport, ChosenTransportReachesItsUnit) {
  test::FakeClockScope fake;
  std::string error;
  std::unique_ptr<UsbDriver> sim = makeUsbDriver(simWithoutState(), error);
  ASSERT_TRUE(sim) << error;
  UsbDriver* before = setUsbDriver(sim.get());
  EXPECT_TRUE(openLink());
  EXPECT_TRUE(isLinkAlive());
  closeLink();

  // No simulator behind the socket: a driver that finds no unit.
  std::unique_ptr<UsbDriver> socket = makeUsbDriver({UnitKind::Socket, "/nonexistent/vrx4.sock", {}, {}, 0}, error);
  ASSERT_TRUE(socket) << error;
  setUsbDriver(socket.get());
  EXPECT_FALSE(openLink());
  EXPECT_EQ(fake->sleptMs(), uint64_t(kFindAttempts) * kFindIntervalMs);
  closeLink();
  setUsbDriver(before);
}

TEST(FrameRules, MaximizedUpTo800Pixels) {
  EXPECT_TRUE(frameOpensMaximized(640));
  EXPECT_TRUE(frameOpensMaximized(800));
  EXPECT_FALSE(frameOpensMaximized(801));
  EXPECT_FALSE(frameOpensMaximized(1920));
}

// Without a front end nobody can answer: questions take the answer that
// writes and erases nothing, whatever their default button.
TEST(Prompter, StandInTakesTheSafeAnswer) {
  test::LogCapture log;
  Prompter* before = setPrompter(nullptr);
  EXPECT_EQ(showMessage("Update?", Icon::Exclamation, Buttons::OkCancel, Answer::Ok), Answer::Cancel);
  EXPECT_EQ(showMessage("Keep?", Icon::Warning, Buttons::YesNo, Answer::Yes), Answer::No);
  EXPECT_EQ(showMessage("Save?", Icon::Warning, Buttons::YesNoCancel, Answer::Yes), Answer::Cancel);
  EXPECT_EQ(showMessage("Done.", Icon::Information), Answer::Ok);
  setPrompter(before);
  EXPECT_EQ(log.lines().size(), 4u) << "each message is still logged";
}

}  // namespace
}  // namespace vrx4
