// What the queries take out of the unit's answers, and what they leave alone.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "CommandFixture.h"
#include "base/StartupMessage.h"

namespace vrx4::test {
namespace {

using Fault = SimulatedUnit::Fault;
const std::string kFromUnit = "Communication error from T552-VRX4.";

Bytes text(const std::string& s, size_t width) {
  Bytes b(s.begin(), s.end());
  b.resize(width, 0);
  return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(CommandTest, QueriesDecodeTheirAnswers) {
  unit->answer(kCmdGetExecutionState, {2});
  uint8_t mode = 0;
  ASSERT_TRUE(getExecutionState(mode));
  EXPECT_EQ(mode, 2);

  // Only the value 1 means busy.
  for (auto [value, busy] : {std::pair{1, true}, {0, false}, {2, false}}) {
    unit->answer(kCmdGetUpdateState, {uint8_t(value)});
    unit->answer(kCmdGetBusyState, {uint8_t(value)});
    bool a = !busy, b = !busy;
    ASSERT_TRUE(getUpdateState(a) && getBusyState(b));
    EXPECT_EQ(a, busy);
    EXPECT_EQ(b, busy);
  }

  unit->answer(kCmdGetOperationStatus, {0x85, 7});
  OperationStatus s;
  ASSERT_TRUE(getOperationStatus(s));
  EXPECT_TRUE(s.running());
  EXPECT_EQ(s.percent(), 5);
  EXPECT_EQ(s.result, 7);

  unit->answer(kCmdReadLockBits, {1, 2, 3, 4, 5, 6, 7, 0x80});
  BlockMask locked;
  ASSERT_TRUE(readLockBits(locked));
  EXPECT_TRUE(locked.test(0) && locked.test(9) && locked.test(63) && !locked.test(1));

  unit->answer(kCmdReadVersion, text("Ver.1.11", 8));
  std::string version;
  ASSERT_TRUE(readVersion(version));
  EXPECT_EQ(version, "Ver.1.11");
  unit->answer(kCmdReadVersion, {'V', '2', 0, 'x', 'x', 'x', 'x', 'x'});
  ASSERT_TRUE(readVersion(version));
  EXPECT_EQ(version, "V2");

  // Page data start at byte 6; bytes 4 and 5 are skipped.
  Bytes page{0xEE, 0xEE};
  for (int i = 0; i < 256; ++i) page.push_back(uint8_t(255 - i));
  unit->answer(kCmdReadDataPage, page);
  uint8_t data[256] = {};
  ASSERT_TRUE(readDataPage(7, data));
  EXPECT_EQ(Bytes(data, data + 256), Bytes(page.begin() + 2, page.end()));

  Bytes boot = Bytes{1, 5, 'a', '.', 'b', 't', 'p'};
  append32(boot, 0x00FF0000);
  append32(boot, 0x800);
  boot = boot + Bytes{0xEF, 0xBE};
  unit->answer(kCmdGetBootAreaInfo, boot);
  BootAreaInfo info;
  ASSERT_TRUE(getBootAreaInfo(info));
  EXPECT_EQ(info.flag, 1);
  EXPECT_EQ(info.bootFileName, "a.btp");
  EXPECT_EQ(info.bootStart, 0x00FF0000u);
  EXPECT_EQ(info.bootSize, 0x800u);
  EXPECT_EQ(info.bootEnd(), 0x00FF07FFu);
  EXPECT_EQ(info.bootChecksum, 0xBEEF);
  EXPECT_TRUE(prompts.prompts().empty());
}

TEST_F(CommandTest, UnitInfoTextsStopAtTheirFirstNulAndTheVersionIsCollapsed) {
  // The model field holds junk after its terminator; the second name fills
  // its whole width without one.
  Bytes model = text("T552-VRX4", 16);
  model[12] = 'Z';
  const std::string name32(32, 'N');
  unit->answer(kCmdGetUnitInfo, model + text(name32, 32) + text("2026/01/02", 16) + text("Ver.1.11   rev  A", 32) +
                                    text("2026/03/04", 16));
  UnitInfo info;
  ASSERT_TRUE(getUnitInfo(info));
  EXPECT_EQ(info.model, "T552-VRX4");
  EXPECT_EQ(info.secondName, name32);
  EXPECT_EQ(info.secondDate, "2026/01/02");
  EXPECT_EQ(info.firmwareVersion, "Ver.1.11   rev  A");
  EXPECT_EQ(info.firmwareVersionCollapsed, "Ver.1.11 rev A");
  EXPECT_EQ(info.firmwareDate, "2026/03/04");
  EXPECT_EQ(collapseSpaces("  a    b "), " a b ");
}

TEST_F(CommandTest, FailedOrShortQueriesLeaveTheRecordUnchanged) {
  struct Query {
    uint8_t code;
    size_t dataSize;                              // bytes from offset 4 the answer must hold
    std::function<std::pair<bool, bool>()> call;  // (succeeded, record unchanged)
  };
  // One row per case, laid out by hand.
  // clang-format off
  const Query queries[] = {
      {kCmdGetExecutionState, 1, [] { uint8_t m = 0x5A; bool ok = getExecutionState(m); return std::pair{ok, m == 0x5A}; }},
      {kCmdGetUpdateState, 1, [] { bool b = true; bool ok = getUpdateState(b); return std::pair{ok, b}; }},
      {kCmdGetBusyState, 1, [] { bool b = true; bool ok = getBusyState(b); return std::pair{ok, b}; }},
      {kCmdGetUnitInfo, 112, [] { UnitInfo i; i.model = "keep"; bool ok = getUnitInfo(i);
                                  return std::pair{ok, i.model == "keep" && i.firmwareDate.empty()}; }},
      {kCmdReadDataPage, 258, [] { uint8_t d[256]; std::memset(d, 0x5A, 256); bool ok = readDataPage(1, d);
                                   return std::pair{ok, d[0] == 0x5A && d[255] == 0x5A}; }},
      {kCmdGetOperationStatus, 2, [] { OperationStatus s; s.status = s.result = 0x5A; bool ok = getOperationStatus(s);
                                       return std::pair{ok, s.status == 0x5A && s.result == 0x5A}; }},
      {kCmdReadLockBits, 8, [] { BlockMask m; m.set(63); bool ok = readLockBits(m); return std::pair{ok, m.test(63)}; }},
      {kCmdReadVersion, 8, [] { std::string v = "keep"; bool ok = readVersion(v); return std::pair{ok, v == "keep"}; }},
      {kCmdGetBootAreaInfo, 12, [] { BootAreaInfo b; b.bootFileName = "keep"; b.bootSize = 9; bool ok = getBootAreaInfo(b);
                                     return std::pair{ok, b.bootFileName == "keep" && b.bootSize == 9}; }},
  };
  // clang-format on
  for (const Query& q : queries) {
    // A full answer of zeros is taken.
    unit->answer(q.code, Bytes(q.dataSize, 0));
    EXPECT_EQ(q.call(), std::pair(true, false)) << int(q.code);
    // An error status fails with the exchange's message.
    prompts.clear();
    unit->injectFault(Fault::ErrorStatus, 228);
    EXPECT_EQ(q.call(), std::pair(false, true)) << int(q.code);
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{"No target."});
    // An answer one byte short of its data is damaged, not data.
    prompts.clear();
    unit->answer(q.code, Bytes(q.dataSize - 1, 0));
    EXPECT_EQ(q.call(), std::pair(false, true)) << int(q.code);
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{kFromUnit}) << int(q.code);
  }
  // A boot file name length running past the frame.
  prompts.clear();
  unit->answer(kCmdGetBootAreaInfo, Bytes{1, 200} + Bytes(100, 'b'));
  BootAreaInfo b;
  EXPECT_FALSE(getBootAreaInfo(b));
  EXPECT_EQ(prompts.texts(), std::vector<std::string>{kFromUnit});
}

// A stored-settings record laid out field after field as the unit sends it.
Bytes loadRecord(const std::string& name, const std::string& file, int idLen) {
  Bytes r{uint8_t(name.size())};
  r = r + Bytes(name.begin(), name.end()) + Bytes{0x77, uint8_t(file.size())} + Bytes(file.begin(), file.end());
  for (int k = 0; k < 64; ++k) r = r + Bytes{uint8_t(k), 0xA0};
  r.push_back(uint8_t(idLen));
  for (int i = 0; i < idLen; ++i) r.push_back(uint8_t(0xC0 + i));
  r = r + Bytes{4, 1, 1, 2, 3, 4, 5, 6, 7, 8, 0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87};
  r = r + Bytes{20, 3, 13, 2, 1, 0, 3};
  r = r + Bytes{2, 1, 0x23, 0x01, 0xFF, 0xFF, 0x03, 0x00, 8, 1, 2, 3, 4, 5, 6, 7, 8};
  r = r + Bytes{1, 0, 0xFF, 0x07, 0, 0, 0, 0, 2, 9, 9, 0, 0, 0, 0, 0, 0};
  return r + Bytes{1, 0xF4, 0x01, 2};
}

InitialLoadData sentinel() {
  InitialLoadData d;
  d.hasSettings = true;
  d.deviceName = "keep";
  d.idLength = 9;
  d.blockSums[0] = 0x5A5A;
  return d;
}

bool isSentinel(const InitialLoadData& d) {
  return d.hasSettings && d.deviceName == "keep" && d.idLength == 9 && d.blockSums[0] == 0x5A5A &&
         d.userFileName.empty();
}

TEST_F(CommandTest, InitialLoadDataDecodesEveryField) {
  unit->answer(kCmdGetInitialLoadData, loadRecord("DEMO-B256K", "prog.mot", 7));
  InitialLoadData d;
  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  EXPECT_TRUE(d.hasSettings);
  EXPECT_EQ(d.deviceName, "DEMO-B256K");
  EXPECT_EQ(d.unused3, 0x77);
  EXPECT_EQ(d.userFileName, "prog.mot");
  EXPECT_EQ(d.blockSums[0], 0xA000);
  EXPECT_EQ(d.blockSums[63], 0xA03F);
  ASSERT_EQ(d.idLength, 7);
  EXPECT_EQ(d.idBytes[0], 0xC0);
  EXPECT_EQ(d.idBytes[6], 0xC6);
  EXPECT_EQ(d.idBytes[7], 0);
  EXPECT_EQ(d.operationCode, 4);
  EXPECT_EQ(d.lockBitState, 1);
  EXPECT_EQ(d.operationBlockMask.bytes[7], 8);
  EXPECT_EQ(d.lockAfterProgramMask.bytes[0], 0x80);
  EXPECT_EQ(Bytes(d.canTiming, d.canTiming + 6), (Bytes{20, 3, 13, 2, 1, 0}));
  EXPECT_EQ(d.sendFrameMask, 3);
  EXPECT_EQ(d.preFrame.frameFormat, 2);
  EXPECT_EQ(d.preFrame.sid, 0x123);
  EXPECT_EQ(d.preFrame.eid, 0x3FFFFu);
  EXPECT_EQ(d.preFrame.data[7], 8);
  EXPECT_EQ(d.postFrame.sid, 0x7FF);
  EXPECT_EQ(d.postFrame.dlc, 2);
  EXPECT_EQ(d.postFrame.data[1], 9);
  EXPECT_EQ(d.pulseEnabled, 1);
  EXPECT_EQ(d.pulseCycleMs, 500);
  EXPECT_EQ(d.sendFlags, 2);

  // The bounds of both lengths are still a record.
  unit->answer(kCmdGetInitialLoadData, loadRecord(std::string(63, 'n'), "", 64));
  ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
  EXPECT_EQ(d.deviceName.size(), 63u);
  EXPECT_EQ(d.idBytes[63], 0xC0 + 63);
  EXPECT_TRUE(prompts.prompts().empty());
}

TEST_F(CommandTest, InitialLoadDataWithoutStoredSettingsChangesNothingElse) {
  for (const Bytes& answer : {Bytes{64} + loadRecord("X", "f", 1), Bytes{0xFF}}) {
    unit->answer(kCmdGetInitialLoadData, answer);
    InitialLoadData d = sentinel();
    ASSERT_EQ(getInitialLoadData(d), LoadDataResult::Ok);
    EXPECT_FALSE(d.hasSettings);
    d.hasSettings = true;
    EXPECT_TRUE(isSentinel(d));
  }
  EXPECT_TRUE(prompts.prompts().empty());
}

TEST_F(CommandTest, InconsistentInitialLoadDataIsReportedAndNotTaken) {
  unit->answer(kCmdGetInitialLoadData, loadRecord("DEMO", "f.hex", 65));
  InitialLoadData d = sentinel();
  EXPECT_EQ(getInitialLoadData(d), LoadDataResult::Inconsistent);
  EXPECT_TRUE(isSentinel(d));
  ASSERT_EQ(prompts.prompts().size(), 1u);
  EXPECT_EQ(prompts.prompts()[0].text, "Communication error from T552-VRX4.");
  EXPECT_EQ(prompts.prompts()[0].icon, Icon::Stop);

  // Every record cut short of its last field: lengths that run past the
  // frame are inconsistent, never read beyond it.
  const Bytes full = loadRecord("DEMO-B256K", "prog.mot", 7);
  for (size_t cut = 0; cut < full.size(); ++cut) {
    prompts.clear();
    unit->answer(kCmdGetInitialLoadData, Bytes(full.begin(), full.begin() + cut));
    d = sentinel();
    EXPECT_EQ(getInitialLoadData(d), LoadDataResult::Inconsistent) << cut;
    EXPECT_TRUE(isSentinel(d)) << cut;
    EXPECT_EQ(prompts.texts(), std::vector<std::string>{kFromUnit}) << cut;
  }
}

TEST_F(CommandTest, InitialLoadDataLinkFailureIsItsOwnOutcome) {
  unit->answer(kCmdGetInitialLoadData, loadRecord("DEMO", "f.hex", 4));
  unit->injectFault(Fault::ErrorStatus, 228);
  InitialLoadData d = sentinel();
  EXPECT_EQ(getInitialLoadData(d), LoadDataResult::LinkFailure);
  unit->injectFault(Fault::FailRead);
  EXPECT_EQ(getInitialLoadData(d), LoadDataResult::LinkFailure);
  // The longest record does not fit the 512 bytes read: refused as damaged.
  unit->answer(kCmdGetInitialLoadData, loadRecord(std::string(63, 'n'), std::string(255, 'f'), 64));
  EXPECT_EQ(getInitialLoadData(d), LoadDataResult::LinkFailure);
  EXPECT_TRUE(isSentinel(d));
  EXPECT_EQ(prompts.texts(), (std::vector<std::string>{"No target.", kFromUnit, "Checksum error."}));
}

// The commands' own messages (a short answer, an ID code longer than 64
// bytes, a short boot-area record) follow the start-up rule while the
// start-up checks run: 1000 ms, the picture removed, then the box. Later,
// and for the exchange's own messages always, the box comes at once.
TEST_F(CommandTest, CommandMessagesWaitForThePictureOnlyDuringStartUp) {
  std::vector<size_t> hiddenBefore;  // messages already shown when the picture was hidden
  setSplashHider([&] { hiddenBefore.push_back(prompts.prompts().size()); });
  auto raiseAll = [&] {
    UnitInfo info;
    unit->answer(kCmdGetUnitInfo, Bytes(50, 0));
    EXPECT_FALSE(getUnitInfo(info));
    InitialLoadData d;
    unit->answer(kCmdGetInitialLoadData, loadRecord("DEMO", "f.hex", 65));
    EXPECT_EQ(getInitialLoadData(d), LoadDataResult::Inconsistent);
    BootAreaInfo b;
    unit->answer(kCmdGetBootAreaInfo, Bytes{1, 3, 'a', 'b', 'c', 0, 0});
    EXPECT_FALSE(getBootAreaInfo(b));
  };
  const std::vector<std::string> three(3, kFromUnit);

  raiseAll();
  EXPECT_EQ(prompts.texts(), three);
  EXPECT_EQ(fakeClock->sleptMs(), 0u);
  EXPECT_TRUE(hiddenBefore.empty());

  prompts.clear();
  {
    StartupPhase phase;
    EXPECT_TRUE(inStartupPhase());
    raiseAll();
    EXPECT_EQ(prompts.texts(), three);
    EXPECT_EQ(fakeClock->sleptMs(), 3000u);
    EXPECT_EQ(hiddenBefore, (std::vector<size_t>{0, 1, 2}));
    // The exchange's own message is shown directly.
    unit->injectFault(Fault::ErrorStatus, 228);
    UnitInfo info;
    EXPECT_FALSE(getUnitInfo(info));
    EXPECT_EQ(prompts.texts().back(), "No target.");
    EXPECT_EQ(fakeClock->sleptMs(), 3000u);
  }
  EXPECT_FALSE(inStartupPhase());
  setSplashHider({});
}

}  // namespace
}  // namespace vrx4::test
