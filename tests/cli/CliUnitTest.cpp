// vrx4-cli program, read and gang runs against vrx4-unitsim processes.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliFixture.h"
#include "ScriptedPrompter.h"
#include "app/DeviceTable.h"
#include "cli/Sha256.h"
#include "image/ImageTransfer.h"
#include "image/ProgramLoader.h"
#include "link/Commands.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"
#include "sim/UnitState.h"
#include "view/MainViewModel.h"
#include "view/OperationRunner.h"
#include "view/OperationStart.h"
#include "view/ProjectFile.h"

namespace vrx4 {
namespace {

using nlohmann::json;
using test::CliRun;
using test::pattern;
using test::stateOf;
using test::UnitSim;

// DEMO-B256K of the shipped table: user ROM 0-3FFFF in eight 32 KiB blocks,
// lock bits set and cleared, a 7-byte ID code at FFDF.. (left blank here).
constexpr const char* kDevice = "DEMO-B256K";
constexpr uint32_t kDataEnd = 0xA000;  // blocks 0 and 1 hold data

class CliUnit : public test::CliFixture {
 protected:
  std::string hexFile() { return patternFile("app.hex", kDataEnd); }
};

// A unit in this process for the reference runs: the shipped table, no time
// taken, a fake clock and a scripted prompter while it is plugged in.
struct InProcessUnit {
  std::shared_ptr<SimulatedProgrammer> unit;
  SimUsbDriver driver;
  FakeClock fakeClock;
  test::ScriptedPrompter prompter;

  // Makes the unit, puts this transport and clock in place and opens the link.
  bool plugIn() {
    ProgrammerOptions o;
    o.timeScale = 0;
    o.deviceTablePath = VRX4_TABLE_PATH;
    unit = std::make_shared<SimulatedProgrammer>(o);
    driver.addUnit(unit);
    previousDriver_ = setUsbDriver(&driver);
    previousClock_ = setClock(&fakeClock);
    return openLink();
  }
  // Closes the link and puts back the transport and clock there were.
  void pullOut() {
    closeLink();
    setClock(previousClock_);
    setUsbDriver(previousDriver_);
  }

 private:
  UsbDriver* previousDriver_ = nullptr;
  Clock* previousClock_ = nullptr;
};

// The same job as the form's handlers' steps send it: device change, Load (ID
// code, data present, file name, lock bits, the image, block sums), Set
// Blocks with "Lock Bit State" effective, the operation, Start.
struct FormReference : InProcessUnit {
  void run(const std::string& path) {
    ASSERT_TRUE(plugIn());
    DeviceTable table;
    bool missing = false;
    ASSERT_TRUE(parseDeviceTableFile(VRX4_TABLE_PATH, table, missing));
    auto settings = std::make_unique<ProjectSettings>();
    auto image = std::make_unique<MemoryImage>();
    // OnDeviceChanged: no file yet, so the operation becomes Blank.
    settings->device = table.row(table.findByName(kDevice));
    for (int i = 0; i < settings->device.blockCount; ++i) settings->lockBits.deviceBlockMask.set(i);
    settings->lockBits.operationBlockMask = settings->lockBits.deviceBlockMask;
    setDevice(settings->device);
    settings->idCode.idLength = uint8_t(int32_t(settings->device.idCodeLength));
    setOperation(2, 0);
    setBlockSettings(settings->lockBits);
    setUserFileName("");
    // OnLoadUserFile and UploadUserImage.
    int32_t level = 0;
    ASSERT_TRUE(loadProgramFile(LoadMode::Interactive, path, settings->device, *image, settings->idCode, level));
    ASSERT_TRUE(setIdCode(settings->idCode));
    ASSERT_TRUE(setUserDataPresent(true));
    ASSERT_TRUE(setUserFileName(path));
    ASSERT_TRUE(setBlockSettings(settings->lockBits));
    TransferProgress progress;
    SendPlan plan = prepareSend(progress, ImageArea::User, *image, *settings);
    sendImageWorker(progress, plan, *image, *settings);
    ASSERT_FALSE(progress.abandoned());
    uint16_t sums[64] = {};
    image->blockChecksums(settings->device, sums);
    setBlockChecksums(settings->device.blockCount, sums);
    // OnSetBlocks, OnOperationChanged, OnStart.
    settings->lockBits.lockBitState = 1;
    ASSERT_TRUE(setBlockSettings(settings->lockBits));
    ASSERT_TRUE(setOperation(1, 0));
    bool pending = false;
    OperationRun r = runOperation(0, *settings, *image, pending, [](int, uint32_t total) {
      OperationProgress p;
      p.total = total;
      programmingThreadProc(p, {});
      return finishOperation(p);
    });
    EXPECT_EQ(r.lastResult, kResultPass);
    pullOut();
  }
};

// The window seam as the form's dialogs answer it: the file chosen, Set
// Blocks with "Lock Bit State" effective, the transfers and the operation
// run by the core workers.
class FormWindows final : public MainViewDialogs {
 public:
  std::string file;
  std::optional<std::string> openFile(const FileOpenRequest&) override { return file; }
  std::optional<CanSetting> canSetting(const CanSetting&) override { return std::nullopt; }
  std::optional<LockBitTable> blockSetting(const LockBitTable& current, const DeviceDef&) override {
    LockBitTable t = current;
    t.lockBitState = 1;
    return t;
  }
  std::optional<IdCode> setId(const IdCode&) override { return std::nullopt; }
  void deviceDetail(const DeviceDef&) override {}
  bool sendImage(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                 const std::string&) override {
    TransferProgress progress;
    SendPlan plan = prepareSend(progress, area, image, settings);
    sendImageWorker(progress, plan, image, settings);
    return !progress.abandoned();
  }
  bool fetchImage(ImageArea, MemoryImage&, const ProjectSettings&) override { return false; }
  OperationOutcome programming(int, uint32_t total) override {
    OperationProgress p;
    p.total = total;
    programmingThreadProc(p, {});
    return finishOperation(p);
  }
  void initializing() override {}
  bool openDocument(const std::string&) override { return false; }
};

// The same job through the form's own handlers, on an in-process unit.
struct HandlerReference : InProcessUnit {
  void run(const std::string& path) {
    ASSERT_TRUE(plugIn());
    AppState state;
    bool missing = false;
    ASSERT_TRUE(parseDeviceTableFile(VRX4_TABLE_PATH, state.deviceTable, missing));
    ASSERT_EQ(getInitialLoadData(state.initialLoad), LoadDataResult::Ok);
    FormWindows windows;
    windows.file = path;
    MainViewModel view(state, windows);
    view.StartUp();
    view.OnDeviceChanged(state.deviceTable.findByName(kDevice));
    view.OnLoadUserFile();
    view.OnSetBlocks();
    view.OnOperationChanged(0, view.preSending, view.postSending);
    view.OnStart();
    EXPECT_EQ(view.lastResult, kResultPass);
    pullOut();
  }
};

TEST_F(CliUnit, ProgramPassesAndLeavesTheUnitAsTheFormDoes) {
  const std::string state = dir.file("unit-state");
  UnitSim sim(sock("u"), {"--state", state, "--fresh"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  CliRun r = cli({"program", hexFile(), "--device", kDevice, "--unit", "socket:" + sock("u")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Check Sum : "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nResult : Pass\n"), std::string::npos) << r.out;
  // Quiet: a passed job says nothing at all.
  r = cli({"program", hexFile(), "--device", kDevice, "--unit", "socket:" + sock("u"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  ASSERT_EQ(sim.stop(), 0);
  UnitState after = stateOf(state);

  HandlerReference handlers;
  handlers.run(hexFile());
  EXPECT_EQ(after.settings, handlers.unit->keptSettings());
  EXPECT_TRUE(after.targetFlash == handlers.unit->targetFlash());
  EXPECT_EQ(after.targetLockBits, handlers.unit->targetLockBits());
  // And the commands as the handlers' steps list them.
  FormReference form;
  form.run(hexFile());
  EXPECT_EQ(after.settings, form.unit->keptSettings());
  EXPECT_TRUE(after.targetFlash == form.unit->targetFlash());
  EXPECT_EQ(after.targetLockBits, form.unit->targetLockBits());
  ASSERT_GE(after.targetFlash.size(), size_t(kDataEnd));
  for (uint32_t a : {0u, 0x1234u, kDataEnd - 1}) EXPECT_EQ(after.targetFlash[a], pattern(a)) << a;
  EXPECT_EQ(after.targetFlash[kDataEnd], 0xFF);
}

TEST_F(CliUnit, EachFailingPhaseHasItsStatus) {
  const std::string state = dir.file("unit-state");
  UnitSim sim(sock("u"), {"--state", state, "--fresh"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + sock("u");

  // No unit: 4, with the program's message.
  CliRun r = cli({"program", hexFile(), "--device", kDevice, "--unit", "socket:" + sock("none")});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("Communication error. Can't accept data from T552-VRX4."), std::string::npos) << r.err;

  // A bad file and a file with data outside the area (no --yes): 3, and the
  // unit hears nothing of the job.
  test::writeFile(dir.file("bad.hex"), test::hexRecord(3, 0, "00001000"));
  r = cli({"program", dir.file("bad.hex"), "--device", kDevice, "--unit", unit});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("File format error."), std::string::npos) << r.err;
  r = cli({"program", dir.file("bad.hex"), "--device", kDevice, "--unit", unit, "--quiet"});
  EXPECT_EQ(r.status, 3);
  // Only the error, from the program that wrote it, with the file and why.
  EXPECT_EQ(r.out + r.err, "vrx4-cli: stop: File format error. (" + dir.file("bad.hex") +
                               ", line 1: record type 03 (start segment address) is not read)\n");
  // The JSON message event carries the same detail beside the box's text.
  r = cli({"program", dir.file("bad.hex"), "--device", kDevice, "--unit", unit, "--json"});
  EXPECT_EQ(r.status, 3);
  bool detailed = false;
  for (const json& e : r.events())
    if (e.is_object() && e.value("event", "") == "message" && e.value("text", "") == kFileFormatError)
      detailed =
          e.value("detail", "") == dir.file("bad.hex") + ", line 1: record type 03 (start segment address) is not read";
  EXPECT_TRUE(detailed) << r.out;
  test::writeFile(dir.file("out.hex"), test::hexRecord(0, 0x100, "11") + test::hexRecord(4, 0, "0010") +
                                           test::hexRecord(0, 0, "22"));  // 0x100000: outside
  r = cli({"program", dir.file("out.hex"), "--device", kDevice, "--unit", unit});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("This file includes data addressing non-ROM area"), std::string::npos) << r.err;
  r = cli({"program", dir.file("missing.hex"), "--device", kDevice, "--unit", unit});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("File open error."), std::string::npos) << r.err;

  // Usage: 2.
  EXPECT_EQ(cli({"program", hexFile(), "--device", kDevice, "--op", "frob", "--unit", unit}).status, 2);
  EXPECT_EQ(cli({"program", hexFile(), "--device", kDevice, "--blocks", "0-", "--unit", unit}).status, 2);
  EXPECT_EQ(cli({"program", hexFile(), "--device", kDevice, "--blocks", "8", "--unit", unit}).status, 2);
  EXPECT_EQ(cli({"program", hexFile(), "--device", "NO-SUCH", "--unit", unit}).status, 2);
  EXPECT_EQ(cli({"program", hexFile(), "--device", kDevice, "--baud", "333", "--unit", unit}).status, 2);
  EXPECT_EQ(cli({"program", hexFile(), "--device", kDevice, "--id", "1,2", "--unit", unit}).status, 2);
  ASSERT_EQ(sim.stop(), 0);
  EXPECT_FALSE(stateOf(state).settings.hasDevice);  // nothing was sent

  // The out-of-area file with --yes programs what lies inside.
  UnitSim again(sock("u"), {"--state", state});
  ASSERT_TRUE(again.ready()) << again.log();
  r = cli({"program", dir.file("out.hex"), "--device", kDevice, "--unit", unit, "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(CliUnit, ANotPassedResultGivesSixAndTheWord) {
  UnitSim sim(sock("u"), {"--no-state"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + sock("u");
  // Programmed and locked, then erased with the lock bits effective.
  CliRun r = cli({"program", hexFile(), "--device", kDevice, "--unit", unit, "--lock-after", "0-1"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = cli({"program", "--device", kDevice, "--unit", unit, "--op", "erase", "--blocks", "1"});
  EXPECT_EQ(r.status, 6) << r.err;
  EXPECT_EQ(r.out, "Result : Erase Err\n");
  // With the lock bits ignored the erase clears them.
  r = cli({"program", "--device", kDevice, "--unit", unit, "--op", "erase", "--lock-state", "ignore"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(cli({"program", "--device", kDevice, "--unit", unit, "--op", "blank"}).status, 0);
  EXPECT_EQ(cli({"program", "--device", kDevice, "--unit", unit, "--op", "verify"}).status, 2);

  UnitSim lonely(sock("n"), {"--no-state", "--no-target"});
  ASSERT_TRUE(lonely.ready()) << lonely.log();
  r = cli({"program", hexFile(), "--device", kDevice, "--unit", "socket:" + sock("n"), "--json"});
  EXPECT_EQ(r.status, 6);
  std::vector<json> events = r.events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["event"], "result");
  EXPECT_EQ(events.back()["word"], "Contact Err");
  EXPECT_EQ(events.back()["code"], 3);
}

TEST_F(CliUnit, JsonEventsAndTheRecordLine) {
  UnitSim sim(sock("u"), {"--no-state"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string record = dir.file("jobs.jsonl");
  CliRun r = cli({"program", hexFile(), "--device", kDevice, "--unit", "socket:" + sock("u"), "--json", "--record",
                  record, "--id", "01,02,03,04,05,06,07"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<json> events = r.events();
  ASSERT_GE(events.size(), 3u);
  bool sawSendProgress = false, sawOperationEnd = false;
  for (const json& e : events) {
    ASSERT_TRUE(e.is_object()) << r.out;
    if (e["event"] == "progress" && e["phase"] == "send") {
      sawSendProgress = true;
      EXPECT_LE(e["done"].get<uint64_t>(), e["total"].get<uint64_t>());
    }
    if (e["event"] == "phase" && e["phase"] == "operation" && e["state"] == "end") sawOperationEnd = e["ok"];
  }
  EXPECT_TRUE(sawSendProgress);
  EXPECT_TRUE(sawOperationEnd);
  EXPECT_EQ(events.back(), (json{{"event", "result"}, {"code", 1}, {"word", "Pass"}, {"status", 0}}));

  std::string sha;
  ASSERT_TRUE(cli::sha256File(hexFile(), sha));
  json line = json::parse(test::readFile(record));
  EXPECT_EQ(line["sha256"], sha);
  EXPECT_EQ(line["file"], hexFile());
  EXPECT_EQ(line["device"], kDevice);
  EXPECT_EQ(line["unit"]["path"], "socket:" + sock("u"));
  EXPECT_EQ(line["firmware"], "Ver.1.11");
  EXPECT_EQ(line["operation"], "epv");
  EXPECT_EQ(line["blocks"], "0-7");
  EXPECT_EQ(line["result"]["word"], "Pass");
  EXPECT_FALSE(line["target_version"].get<std::string>().empty());
  EXPECT_EQ(line["checksum"].get<std::string>().size(), 4u);
}

TEST_F(CliUnit, GangRunsEveryUnitAndEndsWithTheWorstStatus) {
  UnitSim good(sock("a"), {"--no-state"});
  UnitSim bad(sock("b"), {"--no-state", "--no-target"});
  ASSERT_TRUE(good.ready() && bad.ready()) << good.log() << bad.log();
  const std::string a = "socket:" + sock("a"), b = "socket:" + sock("b");
  const std::string record = dir.file("jobs.jsonl");
  CliRun r = cli({"program", hexFile(), "--device", kDevice, "--unit", a, "--unit", b, "--record", record});
  EXPECT_EQ(r.status, 6) << r.err;
  EXPECT_NE(r.out.find(a + ": Result : Pass"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(b + ": Result : Contact Err"), std::string::npos) << r.out;
  // Both children appended a whole line of their own to the shared record.
  std::istringstream lines(test::readFile(record));
  std::set<std::string> units;
  for (std::string l; std::getline(lines, l);) units.insert(json::parse(l)["unit"]["path"].get<std::string>());
  EXPECT_EQ(units, (std::set<std::string>{a, b}));

  r = cli({"program", hexFile(), "--device", kDevice, "--unit", a, "--unit", b, "--json"});
  EXPECT_EQ(r.status, 6);
  std::vector<json> events = r.events();
  ASSERT_FALSE(events.empty());
  for (size_t i = 0; i + 1 < events.size(); ++i) EXPECT_TRUE(events[i].contains("unit")) << events[i];
  const json& last = events.back();
  EXPECT_EQ(last["event"], "result");
  EXPECT_EQ(last["status"], 6);
  ASSERT_EQ(last["gang"].size(), 2u);
  EXPECT_EQ(last["gang"][0]["word"], "Pass");
  EXPECT_EQ(last["gang"][1]["word"], "Contact Err");
}

TEST_F(CliUnit, ReadSavesTheTargetsBytes) {
  UnitSim sim(sock("u"), {"--no-state"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + sock("u");
  ASSERT_EQ(cli({"program", hexFile(), "--device", kDevice, "--unit", unit}).status, 0);
  CliRun r = cli({"read", "--device", kDevice, "-o", dir.file("back.hex"), "--unit", unit});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Result : Pass\n");  // nothing is loaded
  const std::string bin = dir.file("back.bin");
  ASSERT_EQ(std::system(("objcopy -I ihex -O binary '" + dir.file("back.hex") + "' '" + bin + "'").c_str()), 0);
  const std::string bytes = test::readFile(bin);
  ASSERT_EQ(bytes.size(), 0x40000u);
  for (uint32_t a = 0; a < bytes.size(); ++a) ASSERT_EQ(uint8_t(bytes[a]), a < kDataEnd ? pattern(a) : 0xFF) << a;

  // Only the ranges asked for; a bad range is a usage error.
  r = cli({"read", "--device", kDevice, "-o", dir.file("part.mot"), "--ranges", "100-1FF", "--unit", unit});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(std::system(("objcopy -I srec -O binary '" + dir.file("part.mot") + "' '" + bin + "'").c_str()), 0);
  EXPECT_EQ(test::readFile(bin).size(), 0x100u);
  EXPECT_EQ(cli({"read", "--device", kDevice, "-o", dir.file("x.hex"), "--ranges", "2-1", "--unit", unit}).status, 2);
  EXPECT_EQ(cli({"read", "--device", kDevice, "-o", dir.file("no/dir/x.hex"), "--unit", unit}).status, 3);
}

TEST_F(CliUnit, ProgramTakesEverySettingFromAProject) {
  auto project = std::make_unique<ProjectSettings>();
  const std::string file = hexFile();
  ASSERT_TRUE(test::projectFor(kDevice, file, *project));
  project->idCode.idLength = 7;
  std::memset(project->idCode.idBytes, 0xFF, 7);
  project->lockBits.operationBlockMask.set(0);  // block 0 only
  project->lockBits.lockBitState = 1;
  project->operationIndex = 3;  // Erase/Program
  const std::string vxp = dir.file("job.vxp");
  ASSERT_EQ(writeProjectFile(vxp, *project), SaveResult::Ok);

  const std::string state = dir.file("unit-state");
  UnitSim sim(sock("u"), {"--state", state, "--fresh"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + sock("u");
  const std::string record = dir.file("jobs.jsonl");
  CliRun r = cli({"program", "--project", vxp, "--unit", unit, "--record", record});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Result : Pass"), std::string::npos) << r.out;
  json line = json::parse(test::readFile(record));
  EXPECT_EQ(line["project"], vxp);
  EXPECT_EQ(line["file"], file);
  EXPECT_EQ(line["operation"], "ep");
  EXPECT_EQ(line["blocks"], "0");
  std::string sha;
  ASSERT_TRUE(cli::sha256File(file, sha));
  EXPECT_EQ(line["sha256"], sha);

  // A damaged project: 3 with the program's message, nothing sent.
  std::string bytes = test::readFile(vxp);
  bytes[0] = 'X';
  test::writeFile(dir.file("bad.vxp"), bytes);
  r = cli({"program", "--project", dir.file("bad.vxp"), "--unit", unit});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("T552-VRX4 project file format error."), std::string::npos) << r.err;
  EXPECT_EQ(cli({"program", "--project", vxp, hexFile(), "--unit", unit}).status, 2);
  ASSERT_EQ(sim.stop(), 0);
  UnitState after = stateOf(state);
  EXPECT_EQ(after.settings.operationCode, 4);
  EXPECT_EQ(after.settings.userFileName, file);
  EXPECT_EQ(after.targetFlash[0x10], pattern(0x10));  // block 0 programmed
  EXPECT_EQ(after.targetFlash[0x8010], 0xFF);         // block 1 left alone
}

TEST_F(CliUnit, OtherFirmwareIsRefusedUnlessTheUpdateIsAsked) {
  UnitSim sim(sock("u"), {"--no-state", "--firmware-version", "Ver.0.99"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + sock("u");
  CliRun r = cli({"program", hexFile(), "--device", kDevice, "--unit", unit, "--yes"});
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("Would you like to update firmware?"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("give --update-firmware"), std::string::npos) << r.err;
  r = cli({"info", "--unit", unit, "--update-firmware", "--json"});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  json info;
  for (const json& e : r.events())
    if (e["event"] == "info") info = e;
  EXPECT_EQ(info["firmware"], "Ver.1.11");
  EXPECT_EQ(info["device"], "");  // the update resets what the unit keeps
  r = cli({"program", hexFile(), "--device", kDevice, "--unit", unit});
  EXPECT_EQ(r.status, 0) << r.err;
  r = cli({"info", "--unit", unit});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Device : DEMO-B256K\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Operation : Erase/Program/Verify\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace vrx4
