// vrx4-cli run as a process: what it writes, what it says on standard
// error, and its exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <cstring>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "image/ProgramLoader.h"
#include "view/ProjectFile.h"

namespace vrx4 {
namespace {

using test::hexRecord;

struct CliRun {
  int status = -1;
  std::string out, err;
};

class Cli : public ::testing::Test {
 protected:
  // `input`: the file standard input reads (none: the test's own).
  // `seconds`: a time-out for commands that must not hang (0: none).
  CliRun cli(const std::vector<std::string>& args, const std::string& input = {}, int seconds = 0) {
    std::string cmd = "cd '" + dir.path().string() + "' && " +
                      (seconds ? "timeout " + std::to_string(seconds) + " " : std::string()) + "'" +
                      std::string(VRX4_CLI_PATH) + "'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    if (!input.empty()) cmd += " <'" + input + "'";
    std::string out = dir.file("stdout"), err = dir.file("stderr");
    int raw = std::system((cmd + " >'" + out + "' 2>'" + err + "'").c_str());
    CliRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = test::readFile(out);
    r.err = test::readFile(err);
    return r;
  }
  std::string file(const std::string& name, const std::string& content) {
    std::string p = dir.file(name);
    test::writeFile(p, content);
    return p;
  }
  test::TempDir dir;
};

TEST_F(Cli, HelpAndBadCommandLines) {
  CliRun h = cli({"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_NE(h.out.find("vrx4-cli convert INPUT OUTPUT"), std::string::npos);
  EXPECT_EQ(cli({}).status, 2);
  EXPECT_EQ(cli({"frobnicate"}).status, 2);
  EXPECT_EQ(cli({"convert", "only-one"}).status, 2);
  EXPECT_EQ(cli({"checksum", "x.hex"}).status, 2);  // --device is required
  EXPECT_EQ(cli({"convert", "a", "b", "--bogus"}).status, 2);
}

TEST_F(Cli, ConvertsHexToSRecordsAndBack) {
  std::string in = file("in.hex", hexRecord(4, 0, "0010") + hexRecord(0, 0x1234, "DEADBEEF") + ":00000001FF\r\n");
  CliRun r = cli({"convert", in, dir.file("out.mot")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  std::string mot = test::readFile(dir.file("out.mot"));
  EXPECT_EQ(mot.substr(0, 12), "S0030000FC\r\n");
  EXPECT_NE(mot.find("S214101230FFFFFFFFDEADBEEF"), std::string::npos);  // S2: the area ends at 0x3FFFFF
  r = cli({"convert", dir.file("out.mot"), dir.file("back.hex"), "--ranges", "101230-10123F"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::readFile(dir.file("back.hex")),
            ":020000FF0010EF\r\n:10123000FFFFFFFFDEADBEEFFFFFFFFFFFFFFFFF" + std::string("82\r\n") + ":00000001FF\r\n");
}

TEST_F(Cli, QuestionsAreRefusedUnlessYesIsGiven) {
  // DEMO-A32K: user ROM 0x8000-0xFFFF; the first record lies below it.
  std::string in = file("in.hex", hexRecord(0, 0x0000, "11") + hexRecord(0, 0x8000, "22"));
  std::string out = dir.file("out.hex");
  CliRun r = cli({"convert", in, out, "--device", "DEMO-A32K"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("This file includes data addressing non-ROM area"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(out));
  r = cli({"convert", in, out, "--device", "DEMO-A32K", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string text = test::readFile(out);
  EXPECT_NE(text.find(":1080000022FFFF"), std::string::npos);
  EXPECT_EQ(text.find(":10000000"), std::string::npos);
}

TEST_F(Cli, RefusalsCarryTheProgramsOwnMessage) {
  std::string out = dir.file("out.mot");
  CliRun r = cli({"convert", dir.file("missing.hex"), out});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find(kFileOpenError), std::string::npos);
  r = cli({"convert", file("bad.hex", hexRecord(3, 0, "00001000")), out});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find(kFileFormatError), std::string::npos);
  r = cli({"convert", file("ok.hex", hexRecord(0, 0, "01")), out, "--ranges", "1000-0FFF"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Invalid address."), std::string::npos);
  r = cli({"convert", dir.file("ok.hex"), dir.file("no/folder/out.mot")});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("File create error."), std::string::npos);
  r = cli({"convert", dir.file("ok.hex"), out, "--device", "NO-SUCH-DEVICE"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("NO-SUCH-DEVICE"), std::string::npos);
  EXPECT_NE(r.err.find("vrx4-cli devices lists them"), std::string::npos) << r.err;
  r = cli({"convert", dir.file("ok.hex"), out, "--device", "X", "--table", dir.file("none.tbl")});
  EXPECT_EQ(r.status, 3);
  // The message names the table that was given.
  EXPECT_NE(r.err.find("No device definition file '" + dir.file("none.tbl") + "' found."), std::string::npos) << r.err;
}

// Beside the message, one line says which program, which file and why.
TEST_F(Cli, LogLinesNameTheFileAndTheReason) {
  const std::string out = dir.file("out.mot");
  CliRun r = cli({"convert", dir.file("missing.hex"), out});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "vrx4-cli: stop: File open error. (" + dir.file("missing.hex") + ": No such file or directory)\n");
  std::filesystem::create_directory(dir.file("folder.hex"));
  r = cli({"convert", dir.file("folder.hex"), out});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "vrx4-cli: stop: File open error. (" + dir.file("folder.hex") + ": Is a directory)\n");
  const std::string bad = file("bad.hex", hexRecord(0, 0, "11") + hexRecord(0, 1, "22") + ":0100020033C8\r\n");
  r = cli({"convert", bad, out});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "vrx4-cli: stop: File format error. (" + bad +
                       ", line 3: checksum mismatch (the record says C8, its bytes give CA))\n");
  EXPECT_FALSE(std::filesystem::exists(out));

  // An output nobody may write: a read-only folder, or for root (who may
  // write any folder) one of sysfs.
  const std::string ok = file("ok.hex", hexRecord(0, 0, "01"));
  std::string locked = "/sys/vrx4-cli-test.mot";
  if (::geteuid() != 0) {
    std::filesystem::create_directory(dir.file("ro"));
    std::filesystem::permissions(dir.file("ro"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    locked = dir.file("ro/out.mot");
  }
  r = cli({"convert", ok, locked});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "vrx4-cli: stop: File create error. (" + locked + ": Permission denied)\n");
  r = cli({"convert", ok, dir.file("folder.hex")});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "vrx4-cli: stop: File create error. (" + dir.file("folder.hex") + ": Is a directory)\n");
  if (::geteuid() != 0) std::filesystem::permissions(dir.file("ro"), std::filesystem::perms::owner_all);

  // A table given with --table is the one the messages name.
  const std::string table = file("mine.tbl", "# T552-VRX4\nBROKEN,1,2\n");
  r = cli({"checksum", ok, "--device", "X", "--table", table});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(
      r.err.rfind("vrx4-cli: stop: Device definition file '" + table + "' format error. (" + table + ", line 2: ", 0),
      0u)
      << r.err;
}

TEST_F(Cli, CommonProgramFileNamesAndRefusedOnes) {
  const std::string body = test::sRecord('1', 0x1230, "A1A2A3") + test::sRecord('9', 0);
  const char* kRange = "1230-1232";  // small outputs
  CliRun r = cli({"convert", file("in.mot", body), dir.file("from-mot.hex"), "--ranges", kRange});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string expected = test::readFile(dir.file("from-mot.hex"));
  ASSERT_NE(expected.find(":03123000A1A2A3"), std::string::npos) << expected;
  for (const char* name : {"in.s19", "in.srec", "IN.S28", "in.s37"}) {
    r = cli({"convert", file(name, body), dir.file("from.ihx"), "--ranges", kRange});
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    // *.ihx is written as Intel HEX, the same as *.hex.
    EXPECT_EQ(test::readFile(dir.file("from.ihx")), expected) << name;
  }
  r = cli({"convert", dir.file("from.ihx"), dir.file("back.srec")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::readFile(dir.file("back.srec")).substr(0, 12), "S0030000FC\r\n");

  // Any other name is refused, saying what is accepted; nothing is written.
  r = cli({"convert", file("in.bin", body), dir.file("out.hex")});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("in.bin: not a program file name; accepted are *.hex, *.ihx, *.ihex (Intel HEX) or *.s19"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("--format hex|srec"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.hex")));
  r = cli({"convert", dir.file("in.mot"), dir.file("out.bin")});
  EXPECT_EQ(r.status, 3);
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.bin")));
  r = cli({"checksum", dir.file("in.bin"), "--device", "X"});
  EXPECT_EQ(r.status, 3);
  // Unless the format is given.
  r = cli({"convert", dir.file("in.bin"), dir.file("out.bin"), "--format", "srec", "--out-format", "hex", "--ranges",
           kRange});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::readFile(dir.file("out.bin")), expected);
  EXPECT_EQ(cli({"convert", dir.file("in.bin"), dir.file("out.hex"), "--format", "elf"}).status, 2);

  // program sends the file as the window's "Load..." does, and read saves by
  // the name: names they cannot use end the job before any unit is used.
  const std::vector<std::string> sim = {"--unit", "sim", "--sim-no-state", "--sim-instant"};
  std::vector<std::string> args = {"program", file("in.txt", body), "--device", "DEMO-A32K"};
  args.insert(args.end(), sim.begin(), sim.end());
  r = cli(args);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("program reads *.hex, *.ihx, *.ihex (Intel HEX) and *.s19"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Result"), std::string::npos) << r.err;
  args = {"read", "--device", "DEMO-A32K", "-o", dir.file("back.bin")};
  args.insert(args.end(), sim.begin(), sim.end());
  r = cli(args);
  EXPECT_EQ(r.status, 3);
  EXPECT_FALSE(std::filesystem::exists(dir.file("back.bin")));
}

TEST_F(Cli, DashIsStandardInputAndOutput) {
  const std::string in = file("in.hex", hexRecord(0, 0x40, "0102") + ":00000001FF\r\n");
  const char* kRange = "40-41";
  CliRun r = cli({"convert", in, dir.file("file.mot"), "--ranges", kRange});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string mot = test::readFile(dir.file("file.mot"));
  // To standard output: the input's format unless --out-format says.
  r = cli({"convert", in, "-", "--out-format", "srec", "--ranges", kRange});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, mot);
  r = cli({"convert", in, "-", "--ranges", kRange});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, ":020000FF0000FF\r\n:020040000102BB\r\n:00000001FF\r\n");
  // From standard input, whose format must be given.
  r = cli({"convert", "-", dir.file("piped.mot"), "--format", "hex", "--ranges", kRange}, in);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::readFile(dir.file("piped.mot")), mot);
  r = cli({"convert", "-", dir.file("unknown.mot")}, in);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("standard input"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--format hex|srec"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("unknown.mot")));
  // No file named "-" ever appears.
  EXPECT_FALSE(std::filesystem::exists(dir.file("-")));
}

TEST_F(Cli, SimulatorOptionsNeedTheSimulatedUnit) {
  for (const char* option : {"--sim-instant", "--sim-no-state", "--sim-fresh", "--sim-no-target"}) {
    CliRun r = cli({"info", option});
    EXPECT_EQ(r.status, 2) << option;
    EXPECT_NE(r.err.find(std::string(option) + " needs --unit sim"), std::string::npos) << r.err;
    // Refused before any unit is looked for.
    EXPECT_EQ(r.err.find("Communication error"), std::string::npos) << r.err;
  }
  CliRun r = cli({"info", "--unit", "sim", "--sim-instant", "--sim-no-state"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(Cli, ChecksumOfTheAreaAndOfEachBlock) {
  std::string table = file("t.tbl",
                           "# T552-VRX4\n"
                           "TWO,0,0,1000,200,21,FFFFFFFF,0,,2,1000/1100,100/100,0,0,0,0\n");
  // 0x200 bytes of 0xFF, then 0x01 at 0x1000 and 0x02 at 0x1100.
  std::string in = file("in.mot", test::sRecord('1', 0x1000, "01") + test::sRecord('1', 0x1100, "02"));
  CliRun r = cli({"checksum", in, "--device", "TWO", "--table", table});
  ASSERT_EQ(r.status, 0) << r.err;
  // Whole area: 0x1FE bytes of 0xFF plus 1 plus 2.
  char expected[128];
  std::snprintf(expected, sizeof expected,
                "Check Sum : %04X\nBlock 0 : 001000-0010FF %04X\nBlock 1 : 001100-0011FF %04X\n",
                unsigned((0x1FE * 0xFF + 3) & 0xFFFF), unsigned((0xFF * 0xFF + 1) & 0xFFFF),
                unsigned((0xFF * 0xFF + 2) & 0xFFFF));
  EXPECT_EQ(r.out, expected);
}

// Names that are no file never hang a command nor abort it: each ends at
// once (the shell's timeout would say otherwise) with the reader's message
// and the reason.
TEST_F(Cli, NamesThatAreNoFileEndPromptlyWithTheirMessage) {
  std::filesystem::create_symlink("/dev/zero", dir.file("zero.hex"));
  ASSERT_EQ(::mkfifo(dir.file("pipe.tbl").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.file("pipe.hex").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.file("folder.tbl"));
  const std::vector<std::string> sim = {"--unit", "sim", "--sim-no-state", "--sim-instant"};
  for (const char* name : {"zero.hex", "pipe.hex"}) {
    std::vector<std::string> args = {"program", dir.file(name), "--device", "DEMO-A32K"};
    args.insert(args.end(), sim.begin(), sim.end());
    CliRun r = cli(args, {}, 20);
    EXPECT_EQ(r.status, 3) << name << ": " << r.err;
    EXPECT_NE(r.err.find("File open error. (" + dir.file(name) + ": not a regular file"), std::string::npos) << r.err;
  }
  // A project naming such a file.
  ProjectSettings project;
  project.deviceIndex = 0;  // the first device of the table
  const std::string zero = dir.file("zero.hex");
  std::memcpy(project.userFileName, zero.c_str(), zero.size() + 1);
  project.userFileNameLength = int32_t(zero.size());
  const std::vector<uint8_t> bytes = projectFileBytes(project);
  file("job.vxp", std::string(bytes.begin(), bytes.end()));
  std::vector<std::string> args = {"program", "--project", dir.file("job.vxp"), "--yes"};
  args.insert(args.end(), sim.begin(), sim.end());
  CliRun r = cli(args, {}, 20);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("File open error."), std::string::npos) << r.err;

  for (const char* table : {"pipe.tbl", "folder.tbl"}) {
    r = cli({"devices", "--table", dir.file(table)}, {}, 20);
    EXPECT_EQ(r.status, 3) << table << ": " << r.err;
    EXPECT_NE(r.err.find("format error. (" + dir.file(table) + ": "), std::string::npos) << r.err;
    r = cli({"convert", "in.hex", "out.mot", "--device", "X", "--table", dir.file(table)}, {}, 20);
    EXPECT_EQ(r.status, 3) << table << ": " << r.err;
  }
}

TEST_F(Cli, StandardInputIsSpooledWithinTheLimitAndTheSpoolNeverStays) {
  const std::string tmp = dir.file("tmp");
  std::filesystem::create_directory(tmp);
  const std::string env = "TMPDIR='" + tmp + "' ";
  const std::string cli = "'" + std::string(VRX4_CLI_PATH) + "'";
  // An endless input stops at the largest program file the loader takes.
  const int raw = std::system(("cat /dev/zero | " + env + "timeout 60 " + cli + " convert - '" + dir.file("o.hex") +
                               "' --format hex 2>'" + dir.file("err") + "'")
                                  .c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 3) << raw;
  EXPECT_NE(test::readFile(dir.file("err")).find("standard input: larger than 134217728 bytes"), std::string::npos)
      << test::readFile(dir.file("err"));
  EXPECT_TRUE(std::filesystem::is_empty(tmp));

  // SIGTERM while the input is still being read: the folder goes too.
  for (int sig : {SIGTERM, SIGINT}) {
    const std::string fifo = dir.file("in" + std::to_string(sig));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string tmpVar = "TMPDIR=" + tmp;
    char* const envp[] = {const_cast<char*>(tmpVar.c_str()), nullptr};
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int in = ::open(fifo.c_str(), O_RDONLY);
      ::dup2(in, 0);
      ::execle(VRX4_CLI_PATH, VRX4_CLI_PATH, "convert", "-", "-", "--format", "hex", nullptr, envp);
      ::_exit(127);
    }
    const int writer = ::open(fifo.c_str(), O_WRONLY);  // the child has opened its end
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, ":00", 3), 3);
    // Its folder is there while it reads.
    bool made = false;
    for (int i = 0; i < 500 && !made; ++i) {
      made = !std::filesystem::is_empty(tmp);
      if (!made) ::usleep(10000);
    }
    EXPECT_TRUE(made);
    ::kill(pid, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(writer);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "signal " << sig;
  }
}

}  // namespace
}  // namespace vrx4
