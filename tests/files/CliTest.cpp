// vrx4-cli run as a process: what it writes, what it says on standard
// error, and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>

#include "FileTestSupport.h"
#include "ScriptedPrompter.h"
#include "image/ProgramLoader.h"

namespace vrx4 {
namespace {

using test::hexRecord;

struct CliRun {
  int status = -1;
  std::string out, err;
};

class Cli : public ::testing::Test {
 protected:
  CliRun cli(const std::vector<std::string>& args) {
    std::string cmd = "'" + std::string(VRX4_CLI_PATH) + "'";
    for (const std::string& a : args) cmd += " '" + a + "'";
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
  EXPECT_EQ(r.status, 1);
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
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(kFileOpenError), std::string::npos);
  r = cli({"convert", file("bad.hex", hexRecord(3, 0, "00001000")), out});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(kFileFormatError), std::string::npos);
  r = cli({"convert", file("ok.hex", hexRecord(0, 0, "01")), out, "--ranges", "1000-0FFF"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Invalid address."), std::string::npos);
  r = cli({"convert", dir.file("ok.hex"), dir.file("no/folder/out.mot")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("File create error."), std::string::npos);
  r = cli({"convert", dir.file("ok.hex"), out, "--device", "NO-SUCH-DEVICE"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("NO-SUCH-DEVICE"), std::string::npos);
  r = cli({"convert", dir.file("ok.hex"), out, "--device", "X", "--table", dir.file("none.tbl")});
  EXPECT_EQ(r.status, 1);
  // The message names the table that was given.
  EXPECT_NE(r.err.find("No device definition file '" + dir.file("none.tbl") + "' found."), std::string::npos)
      << r.err;
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

}  // namespace
}  // namespace vrx4
