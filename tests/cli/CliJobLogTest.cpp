// The job log of vrx4-cli against vrx4-unitsim processes: what is checked
// before the unit hears anything, a signal on the way, the fields of the
// record lines, and results that are printed only as they happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "CliFixture.h"
#include "base/ProjectSettings.h"
#include "cli/Sha256.h"
#include "sim/UnitState.h"
#include "view/ProjectFile.h"

namespace vrx4 {
namespace {

using nlohmann::json;
using test::CliChild;
using test::CliRun;
using test::pattern;
using test::stateOf;
using test::UnitSim;

constexpr const char* kDevice = "DEMO-B256K";   // user ROM 0-3FFFF, eight blocks
constexpr const char* kBigDevice = "DEMO-F4M";  // user ROM 0-3FFFFF

bool isEvent(const std::string& line, const char* event, const char* phase) {
  const json e = json::parse(line, nullptr, false);
  return e.is_object() && e.value("event", "") == event && e.value("phase", "") == phase;
}

class CliJobLog : public test::CliFixture {
 protected:
  std::string smallHex() { return patternFile("app.hex", 0xA000); }
  std::string bigHex() { return patternFile("big.hex", 0x400000); }
  std::vector<json> recordLines(const std::string& path) {
    std::vector<json> out;
    std::istringstream in(test::readFile(path));
    for (std::string l; std::getline(in, l);) out.push_back(json::parse(l, nullptr, false));
    return out;
  }
  std::string projectFile(const std::string& name, const std::string& programFile, int deviceIndex) {
    auto project = std::make_unique<ProjectSettings>();
    EXPECT_TRUE(test::projectFor(kDevice, programFile, *project));
    if (deviceIndex != 0) project->deviceIndex = deviceIndex;
    project->idCode.idLength = 7;
    project->lockBits.operationBlockMask = project->lockBits.deviceBlockMask;
    const std::string path = dir.file(name);
    EXPECT_EQ(writeProjectFile(path, *project), SaveResult::Ok);
    return path;
  }
};

const std::regex kUuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
const std::regex kUtc("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z");

TEST_F(CliJobLog, JobsThatCannotBeKeptOrRunAreRefusedBeforeTheUnitHearsAnything) {
  const std::string state = dir.file("unit-state");
  UnitSim sim(sock("u"), {"--state", state, "--fresh"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + sock("u");

  // A record that cannot be opened: 3, said so, nothing started.
  CliRun r =
      cli({"program", smallHex(), "--device", kDevice, "--unit", unit, "--record", dir.file("no/dir/jobs.jsonl")});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("the record file cannot be written, so the job does not start"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Result : Pass"), std::string::npos) << r.out;
  r = cli(
      {"read", "--device", kDevice, "-o", dir.file("back.hex"), "--unit", unit, "--record", dir.file("no/x.jsonl")});
  EXPECT_EQ(r.status, 3);
  // The same for a gang, before any unit's process starts.
  r = cli({"program", smallHex(), "--device", kDevice, "--unit", unit, "--unit", "socket:" + sock("v"), "--record",
           dir.file("no/dir/jobs.jsonl")});
  EXPECT_EQ(r.status, 3);
  // An output that cannot be made: a missing folder, a folder.
  r = cli({"read", "--device", kDevice, "-o", dir.file("no/dir/back.hex"), "--unit", unit});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("the output cannot be written, so the read does not start"), std::string::npos) << r.err;
  std::filesystem::create_directory(dir.file("folder.hex"));
  EXPECT_EQ(cli({"read", "--device", kDevice, "-o", dir.file("folder.hex"), "--unit", unit}).status, 3);

  // The same unit twice, also by another path: a usage error.
  r = cli({"program", smallHex(), "--device", kDevice, "--unit", unit, "--unit",
           "socket:" + dir.path().string() + "/./u.sock"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is given twice"), std::string::npos) << r.err;
  // --table is not silently ignored by a job with a unit.
  EXPECT_EQ(cli({"program", smallHex(), "--device", kDevice, "--unit", unit, "--table", VRX4_TABLE_PATH}).status, 2);

  // A project naming a file the loader cannot read, or no device.
  test::writeFile(dir.file("app.txt"), "not a program\n");
  r = cli({"program", "--project", projectFile("txt.vxp", dir.file("app.txt"), 0), "--unit", unit});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("app.txt (named by"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Pass"), std::string::npos) << r.out;
  r = cli({"program", "--project", projectFile("nodevice.vxp", smallHex(), -1), "--unit", unit});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("the project selects no device"), std::string::npos) << r.err;

  // A refused file: the record says which job, where, when and why.
  test::writeFile(dir.file("bad.hex"), test::hexRecord(3, 0, "00001000"));
  const std::string record = dir.file("jobs.jsonl");
  r = cli({"program", dir.file("bad.hex"), "--device", kDevice, "--unit", unit, "--record", record, "--json"});
  EXPECT_EQ(r.status, 3);
  std::vector<json> lines = recordLines(record);
  ASSERT_EQ(lines.size(), 1u);
  const json& line = lines[0];
  EXPECT_TRUE(std::regex_match(line.value("job_id", ""), kUuid)) << line;
  EXPECT_TRUE(std::regex_match(line.value("started", ""), kUtc)) << line;
  EXPECT_TRUE(std::regex_match(line.value("ended", ""), kUtc)) << line;
  EXPECT_LE(line.value("started", ""), line.value("ended", ""));
  EXPECT_FALSE(line.value("tool_version", "").empty());
  EXPECT_FALSE(line.value("host", "").empty());
  EXPECT_EQ(line["unit"]["path"], unit);  // from --unit: the unit was never opened
  EXPECT_EQ(line["firmware"], "");
  EXPECT_EQ(line["target_version"], "");
  EXPECT_EQ(line["status"], 3);
  EXPECT_EQ(line["result"]["word"], "");
  const std::string reason = line.value("reason", "");
  EXPECT_NE(reason.find("File format error."), std::string::npos) << reason;
  EXPECT_NE(reason.find("bad.hex, line 1"), std::string::npos) << reason;
  EXPECT_FALSE(line.contains("gang_id"));
  // The result event carries the same reason.
  const json last = r.events().back();
  EXPECT_EQ(last.value("reason", ""), reason);

  // A gang checks the file once, before any unit's process starts.
  r = cli({"program", dir.file("bad.hex"), "--device", kDevice, "--unit", unit, "--unit", "socket:" + sock("v"),
           "--quiet"});
  EXPECT_EQ(r.status, 3);
  size_t shown = 0;
  for (size_t at = r.err.find("File format error."); at != std::string::npos;
       at = r.err.find("File format error.", at + 1))
    ++shown;
  EXPECT_EQ(shown, 1u) << r.err;
  EXPECT_EQ(r.err.find("socket:"), std::string::npos) << r.err;  // no unit's process said anything
  // A quiet gang keeps each unit's reason, named by the program that gave it.
  UnitSim refusing(sock("e"), {"--no-state", "--error-status", "setDevice:227"});
  ASSERT_TRUE(refusing.ready()) << refusing.log();
  r = cli({"program", smallHex(), "--device", kDevice, "--unit", "socket:" + sock("e"), "--unit",
           "socket:" + sock("e2"), "--quiet"});
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("socket:" + sock("e") + ": vrx4-cli: stop: Command execution error.\n"), std::string::npos)
      << r.err;

  ASSERT_EQ(sim.stop(), 0);
  EXPECT_FALSE(stateOf(state).settings.hasDevice);  // nothing of it was sent
}

TEST_F(CliJobLog, ASignalStopsTheJobLeavesTheUnitSafeAndTheRecord) {
  const std::string state = dir.file("unit-state");
  const std::string record = dir.file("jobs.jsonl");
  {
    // SIGINT during the send of a 4 MiB image.
    UnitSim sim(sock("u"), {"--state", state, "--fresh"});
    ASSERT_TRUE(sim.ready()) << sim.log();
    CliChild job(dir, {"program", bigHex(), "--device", kBigDevice, "--yes", "--json", "--unit", "socket:" + sock("u"),
                       "--record", record});
    ASSERT_TRUE(job.waitForLine([](const std::string& l) { return isEvent(l, "progress", "send"); })) << job.err();
    job.signal(SIGINT);
    EXPECT_EQ(job.wait(), 130) << job.err();
    EXPECT_LT(job.secondsFromSignalToExit(), 10.0);
    const json last = job.lastEvent();
    EXPECT_EQ(last["event"], "result");
    EXPECT_EQ(last["word"], "interrupted");
    EXPECT_EQ(last["signal"], "SIGINT");
    EXPECT_EQ(last["status"], 130);
    EXPECT_EQ(last["phase"], "send");
    EXPECT_NE(job.err().find("interrupted by SIGINT during send"), std::string::npos) << job.err();
    ASSERT_EQ(sim.stop(), 0);
    // The unit was told that it holds no user data and no file.
    const UnitState after = stateOf(state);
    EXPECT_EQ(after.settings.userDataPresent, 0);
    EXPECT_EQ(after.settings.userFileName, "");
  }
  std::vector<json> lines = recordLines(record);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["result"]["word"], "interrupted");
  EXPECT_EQ(lines[0]["signal"], "SIGINT");
  EXPECT_EQ(lines[0]["status"], 130);
  EXPECT_EQ(lines[0]["phase"], "send");

  {
    // SIGTERM during the operation, on a unit that takes its real time.
    UnitSim slow(sock("s"), {"--state", state}, false);
    ASSERT_TRUE(slow.ready()) << slow.log();
    const std::string unit = "socket:" + sock("s");
    CliChild job(dir, {"program", smallHex(), "--device", kDevice, "--json", "--unit", unit, "--record", record});
    ASSERT_TRUE(job.waitForLine([](const std::string& l) { return isEvent(l, "phase", "operation"); })) << job.err();
    job.signal(SIGTERM);
    EXPECT_EQ(job.wait(), 143) << job.err();
    EXPECT_LT(job.secondsFromSignalToExit(), 10.0);
    EXPECT_EQ(job.lastEvent()["word"], "interrupted");
    EXPECT_EQ(job.lastEvent()["signal"], "SIGTERM");
    lines = recordLines(record);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1]["signal"], "SIGTERM");
    EXPECT_EQ(lines[1]["phase"], "operation");
    EXPECT_EQ(lines[1]["status"], 143);
    // The operation was aborted on the unit, which takes the next job.
    EXPECT_NE(job.err().find("abortOperation sent"), std::string::npos) << job.err();
    CliRun next = cli({"info", "--unit", unit});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_NE(next.out.find("Device : DEMO-B256K"), std::string::npos) << next.out;
  }

  {
    // A job killed outright leaves its unit running: the next job says so
    // once, with what to do, and sends nothing.
    UnitSim running(sock("r"), {"--no-state", "--run-forever"});
    ASSERT_TRUE(running.ready()) << running.log();
    const std::string unit = "socket:" + sock("r");
    CliChild job(dir, {"program", smallHex(), "--device", kDevice, "--json", "--unit", unit});
    ASSERT_TRUE(job.waitForLine([](const std::string& l) { return isEvent(l, "phase", "operation"); })) << job.err();
    job.signal(SIGKILL);
    EXPECT_EQ(job.wait(), -1);
    CliRun next = cli({"program", smallHex(), "--device", kDevice, "--unit", unit});
    EXPECT_EQ(next.status, 4);
    EXPECT_NE(next.err.find("T552-VRX4 is still running an operation. Wait for it to end"), std::string::npos)
        << next.err;
    EXPECT_EQ(next.err.find("Command execution error."), std::string::npos) << next.err;
  }

  // A gang: the signal goes to every unit's process; every unit has its line
  // with the gang's id, and the summary says so.
  UnitSim a(sock("a"), {"--no-state"});
  UnitSim b(sock("b"), {"--no-state"});
  ASSERT_TRUE(a.ready() && b.ready()) << a.log() << b.log();
  const std::string gangRecord = dir.file("gang.jsonl");
  CliChild gang(dir, {"program", bigHex(), "--device", kBigDevice, "--yes", "--json", "--unit", "socket:" + sock("a"),
                      "--unit", "socket:" + sock("b"), "--record", gangRecord});
  ASSERT_TRUE(gang.waitForLine([](const std::string& l) { return isEvent(l, "progress", "send"); })) << gang.err();
  gang.signal(SIGINT);
  EXPECT_EQ(gang.wait(), 130) << gang.err();
  EXPECT_LT(gang.secondsFromSignalToExit(), 10.0);
  const json summary = gang.lastEvent();
  EXPECT_EQ(summary["word"], "interrupted");
  ASSERT_EQ(summary["gang"].size(), 2u);
  for (const json& u : summary["gang"]) EXPECT_EQ(u["status"], 130) << u;
  lines = recordLines(gangRecord);
  ASSERT_EQ(lines.size(), 2u);
  std::set<std::string> units, gangIds;
  for (const json& l : lines) {
    units.insert(l["unit"]["path"].get<std::string>());
    gangIds.insert(l.value("gang_id", ""));
    EXPECT_EQ(l["result"]["word"], "interrupted") << l;
  }
  EXPECT_EQ(units.size(), 2u);
  ASSERT_EQ(gangIds.size(), 1u);
  EXPECT_EQ(gangIds.begin()->size(), 36u);
  EXPECT_EQ(*gangIds.begin(), summary.value("gang_id", ""));
}

// program reads the names convert reads, by the window's loader: the unit
// holds the same image and name, and the next job's start-up reads the
// file again without a word.
TEST_F(CliJobLog, ProgramTakesSRecordNamesAndTheirFormat) {
  const std::string state = dir.file("unit-state");
  UnitSim sim(sock("u"), {"--state", state, "--fresh"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + sock("u");
  const std::string s19 = dir.file("app.s19");
  CliRun r = cli({"convert", smallHex(), s19, "--device", kDevice});
  ASSERT_EQ(r.status, 0) << r.err;
  r = cli({"program", s19, "--device", kDevice, "--unit", unit, "--format", "srec"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Result : Pass"), std::string::npos) << r.out;
  // A --format the name does not say is refused before the unit is used.
  EXPECT_EQ(cli({"program", s19, "--device", kDevice, "--unit", unit, "--format", "hex"}).status, 3);
  EXPECT_EQ(cli({"program", s19, "--device", kDevice, "--unit", unit, "--format", "elf"}).status, 2);
  r = cli({"info", "--unit", unit});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("File data is different."), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("User Rom File : " + s19), std::string::npos) << r.out;
  // The simulator's --version names the firmware that info shows.
  std::string version;
  if (std::FILE* p = ::popen((std::string("'") + VRX4_UNITSIM_PATH + "' --version").c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) version += buf;
    ::pclose(p);
  }
  const size_t at = version.find("firmware ");
  ASSERT_NE(at, std::string::npos) << version;
  const std::string firmware = version.substr(at + 9, version.find('\n', at) - at - 9);
  EXPECT_NE(r.out.find("Firmware Version : " + firmware + "\n"), std::string::npos) << version << r.out;
  ASSERT_EQ(sim.stop(), 0);
  const UnitState after = stateOf(state);
  ASSERT_GE(after.targetFlash.size(), size_t(0xA001));
  for (uint32_t a : {0u, 0x1234u, 0x9FFFu}) EXPECT_EQ(after.targetFlash[a], pattern(a)) << a;
  EXPECT_EQ(after.targetFlash[0xA000], 0xFF);
}

TEST_F(CliJobLog, AReadRecordsItsOutputAndAFailedFetchIsNeverAPass) {
  UnitSim sim(sock("u"), {"--no-state"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + sock("u");
  ASSERT_EQ(cli({"program", smallHex(), "--device", kDevice, "--unit", unit}).status, 0);
  const std::string record = dir.file("jobs.jsonl");
  const std::string out = dir.file("back.mot");
  CliRun r = cli({"read", "--device", kDevice, "-o", out, "--unit", unit, "--record", record});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<json> lines = recordLines(record);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["file"], out);
  std::string sha;
  ASSERT_TRUE(cli::sha256File(out, sha));
  EXPECT_EQ(lines[0]["sha256"], sha);
  // The checksum of what was saved is the one `checksum` finds in the file.
  CliRun sum = cli({"checksum", out, "--device", kDevice});
  ASSERT_EQ(sum.status, 0) << sum.err;
  EXPECT_EQ(sum.out.substr(0, 16), "Check Sum : " + lines[0]["checksum"].get<std::string>()) << sum.out;
  EXPECT_NE(lines[0]["checksum"], "0000");
  EXPECT_EQ(lines[0]["operation"], "read");

  // The unit leaves the bus while the image comes back: Read passed on the
  // target, the job did not.
  UnitSim gone(sock("g"), {"--no-state", "--unplug-at", "readDataPage"});
  ASSERT_TRUE(gone.ready()) << gone.log();
  const std::string goneUnit = "socket:" + sock("g");
  r = cli({"read", "--device", kDevice, "-o", dir.file("lost.hex"), "--unit", goneUnit, "--record", record});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_EQ(r.out.find("Result : Pass\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Result : fetch failed (the operation's result was Pass)"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(dir.file("lost.hex")));
  lines = recordLines(record);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1]["status"], 5);
  EXPECT_NE(lines[1]["result"]["word"], "Pass");
  EXPECT_EQ(lines[1]["phase"], "fetch");
  EXPECT_FALSE(lines[1].value("reason", "").empty());
}

TEST_F(CliJobLog, AProjectWhoseImageDidNotReachTheUnitLeavesItHoldingNoUserData) {
  const std::string state = dir.file("unit-state");
  const std::string project = projectFile("job.vxp", smallHex(), 0);
  {
    UnitSim sim(sock("u"), {"--state", state, "--fresh", "--instant"});
    ASSERT_TRUE(sim.ready()) << sim.log();
    ASSERT_EQ(cli({"program", smallHex(), "--device", kDevice, "--unit", "socket:" + sock("u")}).status, 0);
    ASSERT_EQ(sim.stop(), 0);
  }
  ASSERT_EQ(stateOf(state).settings.userFileName, smallHex());
  {
    UnitSim sim(sock("u"), {"--state", state, "--instant", "--error-status", "writeDataPage:228"});
    ASSERT_TRUE(sim.ready()) << sim.log();
    const CliRun r = cli({"program", "--project", project, "--yes", "--unit", "socket:" + sock("u")});
    EXPECT_NE(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Result : Pass"), std::string::npos) << r.out;
    ASSERT_EQ(sim.stop(), 0);
  }
  // The project's image did not reach the unit, and the earlier file is no
  // longer whole in it: the unit names no file, so no later job programs
  // a part of one.
  const UnitState after = stateOf(state);
  EXPECT_EQ(after.settings.userDataPresent, 0);
  EXPECT_EQ(after.settings.userFileName, "");
}

}  // namespace
}  // namespace vrx4
