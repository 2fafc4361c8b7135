// vrx4-cli check and program --dry-run: the report of a job on hand-built
// files whose blocks are known, and that no unit hears a word.
#include <gtest/gtest.h>

#include "CliFixture.h"
#include "base/ProjectSettings.h"
#include "sim/UnitState.h"
#include "view/ProjectFile.h"

namespace vrx4 {
namespace {

using nlohmann::json;
using test::CliRun;
using test::hexRecord;
using test::UnitSim;

// DEMO-B256K: eight 32 KiB blocks from 0, protect byte at 3FFFB, ID code
// bytes at FFDF, FFE3, ... FFFB.
constexpr const char* kDevice = "DEMO-B256K";

std::string bytesHex(int n, uint8_t v) {
  std::string s;
  char b[3];
  for (int i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X", v);
    s += b;
  }
  return s;
}

class Preflight : public test::CliFixture {
 protected:
  // 32 bytes of 0x11 in block 0 at 100, 16 bytes of 0x22 in block 2 at
  // 10000, and whatever `extra` adds; blocks 1 and 3-7 get no data.
  std::string file(const std::string& name, const std::string& extra = "") {
    std::string text = hexRecord(0, 0x100, bytesHex(16, 0x11)) + hexRecord(0, 0x110, bytesHex(16, 0x11)) +
                       hexRecord(4, 0, "0001") + hexRecord(0, 0x0000, bytesHex(16, 0x22)) + extra + ":00000001FF\r\n";
    const std::string p = dir.file(name);
    test::writeFile(p, text);
    return p;
  }
  json report(const CliRun& r) {
    json j = json::parse(r.out, nullptr, false);
    EXPECT_TRUE(j.is_object()) << r.out << r.err;
    return j;
  }
  static std::vector<std::string> kinds(const json& r) {
    std::vector<std::string> k;
    for (const json& w : r["warnings"]) k.push_back(w["kind"]);
    return k;
  }
};

TEST_F(Preflight, BlocksTheirFillTheirSumsAndWhatTheOperationDoes) {
  const std::string f = file("app.hex");
  CliRun r = cli({"check", f, "--device", kDevice, "--blocks", "0-2", "--lock-after", "0", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;  // block 1 gets no data: a warning, not a refusal
  json j = report(r);
  ASSERT_EQ(j["block_list"].size(), 8u);
  const json& b = j["block_list"];
  EXPECT_EQ(b[0]["start"], "000000");
  EXPECT_EQ(b[0]["end"], "007FFF");
  EXPECT_EQ(b[0]["filled"], 32);
  EXPECT_EQ(b[2]["filled"], 16);
  EXPECT_EQ(b[1]["filled"], 0);
  // Sum of the block: 32 bytes of 0x11 and the rest 0xFF.
  EXPECT_EQ(b[0]["checksum"], "6240") << b[0];
  EXPECT_EQ(b[0]["action"], json({"erased", "programmed", "verified", "locked after"}));
  EXPECT_EQ(b[1]["action"], json({"erased", "programmed", "verified"}));
  EXPECT_EQ(b[3]["action"], json({"left alone"}));
  EXPECT_EQ(kinds(j), std::vector<std::string>{"erased_without_data"});
  EXPECT_EQ(j["warnings"][0]["blocks"], json({1}));
  EXPECT_EQ(j["bytes_programmed"], 48);
  EXPECT_EQ(j["file_bytes"], 48);
  EXPECT_GT(j["estimate_s"].get<double>(), 0.3);  // at least the connect step
  // "Check Sum :" as the checksum command (and the form) computes it.
  CliRun sum = cli({"checksum", f, "--device", kDevice});
  ASSERT_EQ(sum.status, 0) << sum.err;
  EXPECT_NE(sum.out.find("Check Sum : " + j["checksum"].get<std::string>()), std::string::npos) << sum.out;

  // The text report has the same content; --strict turns the warning into 3.
  r = cli({"check", f, "--device", kDevice, "--blocks", "0-2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("    1  008000-00FFFF        0  8000  erased, programmed, verified"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("warning: block 1 will be erased but get no data"), std::string::npos) << r.out;
  EXPECT_EQ(cli({"check", f, "--device", kDevice, "--blocks", "0-2", "--strict"}).status, 3);
  // Only blocks that get data: nothing to warn about, even strictly.
  r = cli({"check", f, "--device", kDevice, "--blocks", "0,2", "--strict", "--json"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(report(r)["warnings"].empty());
  // Verify erases nothing: no warning either.
  EXPECT_EQ(cli({"check", f, "--device", kDevice, "--op", "verify", "--strict"}).status, 0);
}

TEST_F(Preflight, QuestionsOfTheLoaderAreReportedAndRefusedWithoutYes) {
  // 16 bytes at 40000 (outside the 256 KiB ROM) and a level-2 protect byte.
  const std::string extra = hexRecord(4, 0, "0004") + hexRecord(0, 0x0000, bytesHex(16, 0x33)) +
                            hexRecord(4, 0, "0003") + hexRecord(0, 0xFFFB, "F3");
  const std::string f = file("risky.hex", extra);
  CliRun r = cli({"check", f, "--device", kDevice, "--json"});
  EXPECT_EQ(r.status, 3) << r.err;  // the job would refuse the questions
  json j = report(r);
  EXPECT_EQ(kinds(j), (std::vector<std::string>{"outside_rom", "protect", "erased_without_data"}));
  EXPECT_EQ(j["warnings"][0]["ranges"][0]["start"], "040000");
  EXPECT_EQ(j["warnings"][0]["bytes"], 16);
  EXPECT_EQ(j["warnings"][0]["question"],
            "This file includes data addressing non-ROM area of the selected device. \n Do you want to continue?");
  EXPECT_EQ(j["warnings"][1]["level"], 2);
  EXPECT_EQ(j["warnings"][1]["question"], "Level2 protect enabled\nLoad continue ?");
  EXPECT_TRUE(j.contains("refused"));
  // The report names the questions; they are not asked on standard error.
  EXPECT_EQ(r.err.find("Do you want to continue"), std::string::npos) << r.err;
  // With --yes the job would go on: warnings only.
  r = cli({"check", f, "--device", kDevice, "--yes", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(report(r).contains("refused"));
  EXPECT_EQ(cli({"check", f, "--device", kDevice, "--yes", "--strict"}).status, 3);

  // The ID code found in the image against --id: the byte at FFDF differs.
  const std::string idFile = file("id.hex", hexRecord(4, 0, "0000") + hexRecord(0, 0xFFDF, "AA"));
  r = cli({"check", idFile, "--device", kDevice, "--blocks", "0,2", "--id", "AB,FF,FF,FF,FF,FF,FF", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  j = report(r);
  ASSERT_EQ(kinds(j), std::vector<std::string>{"id_code"});
  EXPECT_EQ(j["warnings"][0]["bytes"], json::parse(R"([{"index":0,"address":"00FFDF","image":"AA","id":"AB"}])"));
}

TEST_F(Preflight, RefusalsGiveTheJobsStatusesAndMessages) {
  // A file the loader refuses: 3 and the loader's message.
  const std::string bad = dir.file("bad.hex");
  test::writeFile(bad, ":10010000GG\r\n");
  CliRun r = cli({"check", bad, "--device", kDevice, "--json"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("File format error."), std::string::npos) << r.err;
  EXPECT_EQ(report(r)["status"], 3);
  // Settings that do not fit the device: 2 as for program.
  const std::string f = file("app.hex");
  EXPECT_EQ(cli({"check", f, "--device", "NO-SUCH"}).status, 2);
  EXPECT_EQ(cli({"check", f, "--device", kDevice, "--blocks", "9"}).status, 2);
  EXPECT_EQ(cli({"check", f, "--device", kDevice, "--id", "01,02"}).status, 2);
  EXPECT_EQ(cli({"check", dir.file("x.bin"), "--device", kDevice}).status, 3);  // not a name program reads
  // A serial number field on the ID code or outside the ROM.
  EXPECT_EQ(
      cli({"program", f, "--device", kDevice, "--dry-run", "--serial", "FFDD:4", "--serial-counter", dir.file("n")})
          .status,
      2);
  EXPECT_EQ(
      cli({"program", f, "--device", kDevice, "--dry-run", "--serial", "3FFFF:2", "--serial-counter", dir.file("n")})
          .status,
      2);
  EXPECT_FALSE(std::filesystem::exists(dir.file("n")));  // a dry run takes no number
  // A boot file outside the device's boot area (FF000-FF7FF).
  const std::string boot = dir.file("boot.btp");
  test::writeFile(boot, test::sRecord('2', 0x0FE000, "0102030405060708") + test::sRecord('9', 0));
  r = cli({"check", f, "--device", kDevice, "--blocks", "0,2", "--boot", boot, "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(kinds(report(r)), std::vector<std::string>{"boot_outside"});
}

// A boot file that cannot be read stops the report after the blocks: 3 and
// the reader's message, as a refused program file, in text and in JSON.
TEST_F(Preflight, ABootFileThatCannotBeReadEndsWithThreeAndItsMessage) {
  const std::string f = file("app.hex");
  const std::string boot = dir.file("none.btp");
  CliRun r = cli({"check", f, "--device", kDevice, "--boot", boot});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("File open error."), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  r = cli({"program", f, "--device", kDevice, "--boot", boot, "--dry-run", "--json"});
  EXPECT_EQ(r.status, 3) << r.err;
  const json j = report(r);
  EXPECT_EQ(j["status"], 3);
  EXPECT_EQ(j["refused"], "the boot file reader refuses the file");
}

TEST_F(Preflight, DryRunSendsNothingToTheUnit) {
  const std::string f = file("app.hex");
  const std::string state = dir.file("unit-state");
  UnitSim sim(dir.file("u.sock"), {"--state", state, "--fresh"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + dir.file("u.sock");
  CliRun r = cli({"program", f, "--device", kDevice, "--unit", unit, "--dry-run", "--blocks", "0,2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Check Sum : "), std::string::npos) << r.out;
  // Not even a unit that is not there is looked for.
  EXPECT_EQ(cli({"program", f, "--device", kDevice, "--unit", "socket:" + dir.file("none.sock"), "--dry-run",
                 "--blocks", "0,2"})
                .status,
            0);
  ASSERT_EQ(sim.stop(), 0);
  const UnitState after = test::stateOf(state);
  EXPECT_FALSE(after.settings.hasDevice);
  EXPECT_TRUE(after.settings.userFileName.empty());
}

TEST_F(Preflight, DryRunOfAProjectReportsTheProjectsSettings) {
  auto project = std::make_unique<ProjectSettings>();
  const std::string f = file("app.hex");
  ASSERT_TRUE(test::projectFor(kDevice, f, *project));
  project->lockBits.operationBlockMask.set(0);
  project->lockBits.operationBlockMask.set(1);  // block 1 gets no data
  project->lockBits.lockBitState = 1;
  project->operationIndex = 3;  // Erase/Program
  const std::string vxp = dir.file("job.vxp");
  ASSERT_EQ(writeProjectFile(vxp, *project), SaveResult::Ok);
  CliRun r = cli({"program", "--project", vxp, "--dry-run", "--json", "--unit", "socket:" + dir.file("none.sock")});
  ASSERT_EQ(r.status, 0) << r.err;
  json j = report(r);
  EXPECT_EQ(j["project"], vxp);
  EXPECT_EQ(j["file"], f);
  EXPECT_EQ(j["operation"], "ep");
  EXPECT_EQ(j["blocks"], "0-1");
  EXPECT_EQ(j["block_list"][1]["action"], json({"erased", "programmed"}));
  EXPECT_EQ(j["block_list"][2]["action"], json({"left alone"}));
  EXPECT_EQ(kinds(j), std::vector<std::string>{"erased_without_data"});
  EXPECT_EQ(cli({"program", "--project", vxp, "--dry-run", "--strict"}).status, 3);
}

}  // namespace
}  // namespace vrx4
