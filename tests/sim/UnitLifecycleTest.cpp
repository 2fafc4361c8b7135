// The unit's firmware update, its state file across lifetimes, and the
// faults it injects as the program's frame exchange sees them.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

#include "SimFixture.h"
#include "base/StopRequest.h"
#include "sim/UnitFaults.h"
#include "sim/UnitState.h"

namespace vrx4::test {
namespace {

// The damaged copies kept of `path` (PATH.damaged-...), oldest first.
std::vector<std::string> damagedCopies(const std::string& path) {
  const std::filesystem::path p(path);
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(p.parent_path()))
    if (e.path().filename().string().rfind(p.filename().string() + ".damaged-", 0) == 0)
      out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

// A firmware image as the update sends it: pages 0xF800..0xFEFF.
Bytes firmwareImage(const char* model, const char* version, const char* date) {
  Bytes img(0x70000, 0xFF);
  std::memcpy(img.data() + 0x60000, model, std::strlen(model));
  std::memcpy(img.data() + 0x60020, version, std::strlen(version));
  std::memcpy(img.data() + 0x60030, date, std::strlen(date) + 1);
  return img;
}

// Runs the host's update sequence; returns the state after mode 2.
uint8_t sendFirmware(const Bytes& img, int& busyPolls) {
  EXPECT_TRUE(beginFirmwareUpdate());
  for (uint32_t page = 0xF800; page <= 0xFEFF; ++page)
    EXPECT_TRUE(writeFirmwarePage(uint16_t(page), img.data() + (page - 0xF800) * 256));
  busyPolls = 0;
  bool busy = true;
  while (busy && busyPolls < 100000) {
    if (!getUpdateState(busy)) return 0;
    ++busyPolls;
  }
  EXPECT_TRUE(setExecutionMode(2));
  uint8_t mode = 0;
  EXPECT_TRUE(getExecutionState(mode));
  return mode;
}

class UnitFirmware : public SimFixture {};

TEST_F(UnitFirmware, UpdateModeInstallsTheNewVersion) {
  ProgrammerOptions o = options();
  o.startInUpdateMode = true;
  auto unit = plugIn(o);
  uint8_t mode = 0;
  ASSERT_TRUE(getExecutionState(mode));
  ASSERT_EQ(mode, 1);
  int polls = 0;
  EXPECT_EQ(sendFirmware(firmwareImage("T552-VRX4", "Ver.2.00", "2027/01/01"), polls), 2);
  // Busy for 1.5 s; the host polls without pausing, so with no time passing
  // the unit ends the busy phase after a bounded number of polls.
  EXPECT_GT(polls, 1);
  UnitInfo info;
  ASSERT_TRUE(getUnitInfo(info));
  EXPECT_EQ(info.firmwareVersion, "Ver.2.00");
  EXPECT_EQ(info.firmwareDate, "2027/01/01");

  // The installed firmware is the unit's own: it survives the unit.
  unit.reset();
  pullOut();
  auto again = plugIn();
  EXPECT_EQ(again->firmwareVersion(), "Ver.2.00");
}

TEST_F(UnitFirmware, AnotherFirmwareVersionOnRequest) {
  ProgrammerOptions o = options();
  o.firmwareVersion = "Ver.1.09";
  auto unit = plugIn(o);
  UnitInfo info;
  ASSERT_TRUE(getUnitInfo(info));
  EXPECT_EQ(info.firmwareVersion, "Ver.1.09");
}

TEST_F(UnitFirmware, BusyLastsItsTimeWhenTheClockRuns) {
  auto unit = plugIn();
  ASSERT_TRUE(setExecutionMode(1));
  ASSERT_TRUE(beginFirmwareUpdate());
  const Bytes img = firmwareImage("T552-VRX4", "Ver.1.12", "");
  ASSERT_TRUE(writeFirmwarePage(0xFE00, img.data() + 0x60000));
  bool busy = false;
  int polls = 0;
  do {
    ASSERT_TRUE(getUpdateState(busy));
    clock().sleepMs(10);
  } while (busy && ++polls < 1000);
  EXPECT_EQ(polls, 150);
  EXPECT_FALSE(writeFirmwarePage(0xF7FF, img.data()));  // below the range
}

TEST_F(UnitFirmware, FirmwareWithoutTheModelTextKeepsUpdateMode) {
  auto unit = plugIn();
  ASSERT_TRUE(setExecutionMode(1));
  int polls = 0;
  EXPECT_EQ(sendFirmware(firmwareImage("X552-VRX4", "Ver.9.99", ""), polls), 1);
  EXPECT_EQ(unit->firmwareVersion(), "Ver.1.11");
}

TEST_F(UnitFirmware, ShippedFirmwareFileReportsItsVersion) {
  // The firmware file beside the programs, read as the update reads it.
  std::ifstream in(VRX4_FIRMWARE_FILE_PATH);
  ASSERT_TRUE(in) << VRX4_FIRMWARE_FILE_PATH;
  Bytes img(0x80000, 0xFF);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 4 || line[0] != 'S' || line[1] < '1' || line[1] > '3') continue;
    const int addrLen = line[1] - '0' + 1;
    Bytes b;
    for (size_t i = 2; i + 1 < line.size(); i += 2) b.push_back(uint8_t(std::stoi(line.substr(i, 2), nullptr, 16)));
    uint32_t a = 0;
    for (int i = 0; i < addrLen; ++i) a = (a << 8) | b[1 + i];
    for (size_t i = 1 + addrLen; i + 1 < b.size(); ++i)
      if (a - 0xF80000 + (i - 1 - addrLen) < img.size()) img[a - 0xF80000 + (i - 1 - addrLen)] = b[i];
  }
  img.resize(0x70000);
  auto unit = plugIn();
  ASSERT_TRUE(setExecutionMode(1));
  int polls = 0;
  ASSERT_EQ(sendFirmware(img, polls), 2);
  UnitInfo info;
  ASSERT_TRUE(getUnitInfo(info));
  EXPECT_EQ(info.firmwareVersion.substr(0, 8), "Ver.1.11");
}

class UnitPersistence : public SimFixture {};

TEST_F(UnitPersistence, SettingsAndTargetMemorySurviveTheUnit) {
  const Bytes img = pattern(0x10000, 5);
  {
    auto unit = plugIn();
    ASSERT_TRUE(setDevice(testDevice()));
    ASSERT_TRUE(setUserFileName("/data/job.hex"));
    ASSERT_TRUE(setBlockSettings(blocks({0, 1, 2, 3}, 0, {1})));
    ASSERT_TRUE(setIdCode(idCodeOf({img[0xFFF0], img[0xFFF1], img[0xFFF2], img[0xFFF3]})));
    ASSERT_TRUE(download(0x10000, img));
    ASSERT_EQ(runOperation(4).result, 1);
    ASSERT_TRUE(setOperation(4, 1));
    pullOut();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("unit-state.tmp") + std::to_string(::getpid())));
  auto unit = plugIn();
  InitialLoadData d;
  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  ASSERT_TRUE(d.hasSettings);
  EXPECT_EQ(d.deviceName, "TEST-64K4");
  EXPECT_EQ(d.userFileName, "/data/job.hex");
  EXPECT_EQ(d.operationCode, 4);
  EXPECT_EQ(d.sendFlags, 1);
  EXPECT_EQ(unit->targetFlash(), img);
  BlockMask locks;
  ASSERT_TRUE(readLockBits(locks));
  EXPECT_EQ(locks.bytes[0], 0x02);
  // The buffer is kept too: Verify needs no new download.
  EXPECT_EQ(runOperation(5).result, 1);
}

TEST_F(UnitPersistence, DamagedStateFileGivesAFreshUnit) {
  {
    auto unit = plugIn();
    ASSERT_TRUE(setDevice(testDevice()));
    pullOut();
  }
  // Flip one byte in the middle.
  {
    std::fstream f(dir.file("unit-state"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(20);
    char c = 0;
    f.read(&c, 1);
    f.seekp(20);
    c = char(c ^ 0x40);
    f.write(&c, 1);
  }
  LogCapture log;
  auto unit = plugIn();
  InitialLoadData d;
  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  EXPECT_FALSE(d.hasSettings);
  bool logged = false;
  for (const std::string& l : log.lines()) logged |= l.find("damaged") != std::string::npos;
  EXPECT_TRUE(logged);
  EXPECT_EQ(damagedCopies(dir.file("unit-state")).size(), 1u);
}

TEST(UnitStateFile, TruncatedAndForeignFilesAreRefused) {
  TempDir dir;
  UnitState s;
  s.settings.hasDevice = true;
  s.settings.userFileName = "x";
  s.userBuffer[0x1234] = 0;
  std::string why;
  ASSERT_TRUE(saveUnitState(dir.file("s"), s, why)) << why;
  UnitState back;
  ASSERT_EQ(loadUnitState(dir.file("s"), back, why), StateLoad::Loaded);
  EXPECT_EQ(back.settings, s.settings);
  EXPECT_EQ(back.userBuffer, s.userBuffer);
  const auto size = std::filesystem::file_size(dir.file("s"));
  for (auto cut : {size - 1, size / 2, uintmax_t(10), uintmax_t(0)}) {
    std::filesystem::copy_file(dir.file("s"), dir.file("t"), std::filesystem::copy_options::overwrite_existing);
    std::filesystem::resize_file(dir.file("t"), cut);
    UnitState u;
    EXPECT_EQ(loadUnitState(dir.file("t"), u, why), StateLoad::Damaged) << cut;
  }
  EXPECT_EQ(loadUnitState(dir.file("none"), back, why), StateLoad::Missing);

  // A damaged memory file keeps the settings and starts the memory blank.
  std::filesystem::resize_file(unitMemoryPath(dir.file("s")), 40);
  UnitState partial;
  ASSERT_EQ(loadUnitState(dir.file("s"), partial, why), StateLoad::Loaded);
  EXPECT_NE(why.find(".memory"), std::string::npos);
  EXPECT_EQ(partial.settings, s.settings);
  EXPECT_EQ(partial.userBuffer, Bytes(kUnitUserBufferSize, 0xFF));
}

TEST(UnitStateFile, FlashSizeWithoutATargetIsRefused) {
  // A sound file (magic, version, checksum) whose target section has no
  // target but a flash size of 4 GiB - 1: refused, nothing allocated.
  auto u32 = [](std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  std::vector<uint8_t> section;
  u32(section, 0);            // no target payload
  u32(section, 0xFFFFFFFFu);  // flash size
  section.insert(section.end(), 8, 0);
  u32(section, 0);  // no version text
  std::vector<uint8_t> file = {'V', 'R', 'X', '4', 'U', 'N', 'I', 'T'};
  u32(file, 1);
  u32(file, 5);  // the target section
  u32(file, uint32_t(section.size()));
  file.insert(file.end(), section.begin(), section.end());
  u32(file, crc32(file.data(), file.size()));
  TempDir dir;
  {
    std::ofstream out(dir.file("s"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  }
  UnitState s;
  std::string why;
  EXPECT_EQ(loadUnitState(dir.file("s"), s, why), StateLoad::Damaged);
  EXPECT_NE(why.find("inconsistent"), std::string::npos) << why;
}

TEST_F(UnitPersistence, DamagedMemoryFileIsKeptAside) {
  {
    auto unit = plugIn();
    ASSERT_TRUE(setDevice(testDevice()));
    ASSERT_TRUE(download(0x10000, pattern(0x10000, 3)));
    pullOut();
  }
  const std::string mem = unitMemoryPath(dir.file("unit-state"));
  const auto size = std::filesystem::file_size(mem);
  std::filesystem::resize_file(mem, size - 3);
  {
    LogCapture log;
    auto unit = plugIn();
    InitialLoadData d;
    ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
    EXPECT_TRUE(d.hasSettings);  // the main file was sound
    bool logged = false;
    for (const std::string& l : log.lines()) logged |= l.find(".memory.damaged-") != std::string::npos;
    EXPECT_TRUE(logged);
    pullOut();
  }
  // The damaged bytes are still there for a look; the unit wrote a new one.
  const std::vector<std::string> kept = damagedCopies(mem);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(kept[0]), size - 3);
  EXPECT_TRUE(std::filesystem::exists(mem));
}

TEST(UnitStateFile, EachDamagedCopyIsKeptWithItsTimeAndOnlyTheNewestFew) {
  TempDir dir;
  const std::string path = dir.file("unit-state");
  {
    // A copy an earlier version kept counts as the oldest.
    std::ofstream legacy(path + ".damaged");
    legacy << "old";
  }
  std::vector<std::string> kept;
  for (int i = 0; i < 5; ++i) {
    {
      std::ofstream f(path, std::ios::binary | std::ios::trunc);
      f << "damaged " << i;
    }
    const std::string copy = keepDamagedCopy(path);
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(copy.rfind(path + ".damaged-", 0), 0u) << copy;
    EXPECT_FALSE(std::filesystem::exists(path));
    kept.push_back(copy);
  }
  // All five within a second or two: distinct names, none overwritten.
  EXPECT_EQ(std::set<std::string>(kept.begin(), kept.end()).size(), 5u);
  EXPECT_FALSE(std::filesystem::exists(path + ".damaged"));
  std::vector<std::string> left;
  for (const std::string& k : kept)
    if (std::filesystem::exists(k)) left.push_back(k);
  ASSERT_EQ(left.size(), kDamagedCopiesKept);
  EXPECT_EQ(left, std::vector<std::string>(kept.end() - kDamagedCopiesKept, kept.end())) << "the newest stay";
  std::ifstream newest(kept.back());
  std::string text;
  std::getline(newest, text);
  EXPECT_EQ(text, "damaged 4");
  EXPECT_TRUE(keepDamagedCopy(dir.file("missing")).empty());
}

TEST(UnitStateFile, KeptValuesLongerThanTheUnitTakesAreRefused) {
  // A file name or ID code the unit would refuse over the wire would make
  // its getInitialLoadData answer overrun the host's 512-byte read.
  TempDir dir;
  std::string why;
  UnitState longName;
  longName.settings.userFileName.assign(kMaxKeptFileNameLength + 1, 'f');
  ASSERT_TRUE(saveUnitState(dir.file("name"), longName, why)) << why;
  UnitState back;
  EXPECT_EQ(loadUnitState(dir.file("name"), back, why), StateLoad::Damaged);
  UnitState longId;
  longId.settings.idCode.assign(kMaxKeptIdCodeLength + 1, 0x11);
  ASSERT_TRUE(saveUnitState(dir.file("id"), longId, why)) << why;
  EXPECT_EQ(loadUnitState(dir.file("id"), back, why), StateLoad::Damaged);

  UnitState longest;
  longest.settings.userFileName.assign(kMaxKeptFileNameLength, 'f');
  longest.settings.idCode.assign(kMaxKeptIdCodeLength, 0x11);
  ASSERT_TRUE(saveUnitState(dir.file("ok"), longest, why)) << why;
  ASSERT_EQ(loadUnitState(dir.file("ok"), back, why), StateLoad::Loaded);
  EXPECT_EQ(back.settings, longest.settings);
}

TEST(UnitStateFile, SettingsAloneLeaveTheMemoryFileAsItWas) {
  TempDir dir;
  UnitState s;
  s.userBuffer[7] = 0x42;
  std::string why;
  ASSERT_TRUE(saveUnitState(dir.file("s"), s, why));
  s.userBuffer[7] = 0x43;
  s.settings.operationCode = 6;
  ASSERT_TRUE(saveUnitState(dir.file("s"), s, why, kStateSettings));
  UnitState back;
  ASSERT_EQ(loadUnitState(dir.file("s"), back, why), StateLoad::Loaded);
  EXPECT_EQ(back.settings.operationCode, 6);
  EXPECT_EQ(back.userBuffer[7], 0x42);
}

TEST_F(UnitPersistence, FreshStateForgetsTheOldOne) {
  {
    auto unit = plugIn();
    ASSERT_TRUE(setDevice(testDevice()));
    pullOut();
  }
  ProgrammerOptions o = options();
  o.freshState = true;
  auto unit = plugIn(o);
  InitialLoadData d;
  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  EXPECT_FALSE(d.hasSettings);
}

class UnitFaults : public SimFixture {};

TEST_F(UnitFaults, EachFaultReachesTheFrameExchange) {
  auto unit = plugIn();
  UnitInfo info;
  std::string why;
  ASSERT_TRUE(applyUnitFault(*unit, "bad-checksum", "2", why));
  EXPECT_TRUE(getUnitInfo(info));
  EXPECT_FALSE(getUnitInfo(info));
  EXPECT_EQ(prompts.texts().back(), "Checksum error.");
  ASSERT_TRUE(applyUnitFault(*unit, "wrong-echo", "1", why));
  EXPECT_FALSE(getUnitInfo(info));
  EXPECT_EQ(prompts.texts().back(), "Command error.");
  ASSERT_TRUE(applyUnitFault(*unit, "stall", "1", why));
  EXPECT_FALSE(getUnitInfo(info));
  EXPECT_EQ(prompts.texts().back(), "Communication error from T552-VRX4.");
  EXPECT_TRUE(getUnitInfo(info));  // the next one goes through again

  ASSERT_TRUE(applyUnitFault(*unit, "error-status", "getOperationStatus:234", why));
  OperationStatus st;
  EXPECT_FALSE(getOperationStatus(st));
  EXPECT_EQ(prompts.texts().back(), "Flash ROM write error.");
  EXPECT_FALSE(getOperationStatus(st));  // every time
  ASSERT_TRUE(applyUnitFault(*unit, "clear", "", why));
  EXPECT_TRUE(getOperationStatus(st));

  ASSERT_TRUE(applyUnitFault(*unit, "no-target-status", "0x24", why));
  std::string version;
  ASSERT_TRUE(setDevice(testDevice()));
  EXPECT_FALSE(readVersion(version));
  EXPECT_EQ(prompts.texts().back(), "No target.");

  EXPECT_FALSE(applyUnitFault(*unit, "bad-checksum", "0", why));
  // A request number past the counter's range is refused, not wrapped to 1.
  EXPECT_FALSE(applyUnitFault(*unit, "bad-checksum", "4294967297", why));
  EXPECT_FALSE(applyUnitFault(*unit, "error-status", "nosuch:1", why));
  EXPECT_FALSE(applyUnitFault(*unit, "melt", "", why));
  EXPECT_EQ(applyUnitControl(*unit, "time-scale -1").rfind("error: ", 0), 0u);
  EXPECT_EQ(applyUnitControl(*unit, "memory-error"), "ok");
  EXPECT_EQ(runOperation(1).result, 10);
}

// The slow faults over the in-process transport, on the fake clock: a hang
// lasts the read time-out, a drip its bytes' time; a stop cuts either down
// to the grace. The forever faults keep the unit busy until it is told.
TEST_F(UnitFaults, SlowAndForeverFaultsWaitOnTheClockAndEndOnAStop) {
  clearStopRequest();
  auto unit = plugIn();
  driver->setReadTimeoutMs(4000);
  UnitInfo info;
  std::string why;
  ASSERT_TRUE(applyUnitFault(*unit, "hang", "1", why));
  uint64_t t0 = fakeClock->nowMs();
  EXPECT_FALSE(getUnitInfo(info));
  EXPECT_EQ(fakeClock->nowMs() - t0, 4000u);
  EXPECT_EQ(prompts.texts().back(), "Communication error from T552-VRX4.");
  EXPECT_TRUE(getUnitInfo(info)) << "the recovery request after the failed read ends the hang";

  ASSERT_TRUE(applyUnitFault(*unit, "drip", "10", why));
  t0 = fakeClock->nowMs();
  ASSERT_TRUE(getUnitInfo(info));
  const uint64_t dripped = fakeClock->nowMs() - t0;
  EXPECT_GE(dripped, 1000u) << "more than 100 bytes at 10 ms each";
  EXPECT_LT(dripped, 4000u);
  ASSERT_TRUE(applyUnitFault(*unit, "drip", "30", why));
  raiseStopRequest();
  t0 = fakeClock->nowMs();
  EXPECT_FALSE(getUnitInfo(info)) << "a new request after the stop is refused";
  EXPECT_EQ(fakeClock->nowMs() - t0, 0u);
  {
    // Ending the work still reaches the unit; its slow reply is cut short.
    const StopCleanupScope ending;
    t0 = fakeClock->nowMs();
    EXPECT_FALSE(getUnitInfo(info));
    EXPECT_EQ(fakeClock->nowMs() - t0, uint64_t(kStopGraceMs));
  }
  clearStopRequest();
  EXPECT_FALSE(applyUnitFault(*unit, "drip", "60001", why));
  ASSERT_TRUE(applyUnitFault(*unit, "clear", "", why));

  ASSERT_TRUE(setDevice(testDevice()));
  ASSERT_TRUE(applyUnitFault(*unit, "busy-forever", "", why));
  bool busy = false;
  fakeClock->advance(3600 * 1000);
  ASSERT_TRUE(getBusyState(busy));
  EXPECT_TRUE(busy);
  ASSERT_TRUE(applyUnitFault(*unit, "run-forever", "", why));
  ASSERT_TRUE(setOperation(3, 0));
  ASSERT_TRUE(startOperation());
  fakeClock->advance(3600 * 1000);
  OperationStatus st;
  ASSERT_TRUE(getOperationStatus(st));
  EXPECT_TRUE(st.running());
  EXPECT_LT(st.percent(), 100);
  ASSERT_TRUE(abortOperation());
  ASSERT_TRUE(getOperationStatus(st));
  EXPECT_FALSE(st.running());
  ASSERT_TRUE(applyUnitFault(*unit, "clear", "", why));
  ASSERT_TRUE(getBusyState(busy));
  EXPECT_FALSE(busy);
}

TEST_F(UnitFaults, UnplugAtACommandReachesTheDeviceChangeHandler) {
  auto unit = plugIn();
  int changes = 0;
  driver->setDeviceChangeHandler([&] { ++changes; });
  std::string why;
  ASSERT_TRUE(applyUnitFault(*unit, "unplug-at", "startOperation", why));
  ASSERT_TRUE(setDevice(testDevice()));
  EXPECT_TRUE(isLinkAlive());
  EXPECT_FALSE(startOperation());
  EXPECT_EQ(prompts.texts().back(), "Communication error from T552-VRX4.");
  EXPECT_EQ(changes, 1);
  EXPECT_FALSE(isLinkAlive());
  UnitInfo info;
  EXPECT_FALSE(getUnitInfo(info));
}

}  // namespace
}  // namespace vrx4::test
