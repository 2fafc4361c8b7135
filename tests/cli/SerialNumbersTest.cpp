// Serial numbers: the field's bytes in each form, the refusals, taking
// numbers from a counter or a list under a lock, a kill at every step of a
// take, and jobs and gangs on vrx4-unitsim processes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "CliFixture.h"
#include "app/DeviceTable.h"
#include "cli/SerialNumbers.h"
#include "sim/UnitState.h"

namespace vrx4 {
namespace {

using nlohmann::json;
using test::CliRun;
using test::stateOf;
using test::UnitSim;
using namespace vrx4::cli;

constexpr const char* kDevice = "DEMO-B256K";

std::vector<uint8_t> encoded(const std::string& text, const SerialValue& v, bool* fits = nullptr) {
  SerialField f;
  std::string why;
  EXPECT_TRUE(parseSerialField(text, f, why)) << why;
  std::vector<uint8_t> out;
  const bool ok = encodeSerial(f, v, out, why);
  if (fits)
    *fits = ok;
  else
    EXPECT_TRUE(ok) << why;
  return out;
}

SerialValue number(uint64_t n) {
  SerialValue v;
  v.number = n;
  return v;
}

std::vector<uint8_t> text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(SerialField, EachFormatsBytesAndWhatDoesNotFit) {
  EXPECT_EQ(encoded("1000:4", number(0x123456)), (std::vector<uint8_t>{0x56, 0x34, 0x12, 0x00}));
  EXPECT_EQ(encoded("0x1000:4:be", number(0x123456)), (std::vector<uint8_t>{0x00, 0x12, 0x34, 0x56}));
  EXPECT_EQ(encoded("1000:3:bcd", number(4660)), (std::vector<uint8_t>{0x00, 0x46, 0x60}));
  EXPECT_EQ(encoded("1000:6:ascii", number(4660)), text("004660"));
  EXPECT_EQ(encoded("1000:6:hex", number(0xBEEF)), text("00BEEF"));
  EXPECT_EQ(encoded("1000:10:le", number(1))[9], 0);  // wider than 64 bits: zeros above
  SerialValue mac;
  ASSERT_TRUE(parseSerialValue("00:1a:2B-3C 4D:5E", mac));
  EXPECT_EQ(mac.text(), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(encoded("1000:6:be", mac), (std::vector<uint8_t>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(encoded("1000:12:hex", mac), text("001A2B3C4D5E"));
  bool fits = true;
  for (const auto& [text, v] : std::vector<std::pair<std::string, SerialValue>>{{"1000:1", number(256)},
                                                                                {"1000:2:be", number(65536)},
                                                                                {"1000:2:bcd", number(10000)},
                                                                                {"1000:3:ascii", number(1000)},
                                                                                {"1000:2:hex", number(0x100)},
                                                                                {"1000:5:be", mac},
                                                                                {"1000:6:ascii", mac}}) {
    encoded(text, v, &fits);
    EXPECT_FALSE(fits) << text << " " << v.text();
  }
  EXPECT_TRUE((encoded("1000:1", number(255), &fits), fits));
  EXPECT_TRUE((encoded("1000:3:ascii", number(999), &fits), fits));
  // Malformed fields and list values.
  SerialField f;
  std::string why;
  for (const char* bad : {"1000", "1000:0", "1000:33", "G000:4", "1000:4:dec", "1000:4:le:x", ":4"})
    EXPECT_FALSE(parseSerialField(bad, f, why)) << bad;
  SerialValue v;
  for (const char* bad : {"", "12a", "0:1A", "001A2", "00::1A", "00:1A:", "-5"})
    EXPECT_FALSE(parseSerialValue(bad, v)) << bad;
}

TEST(SerialField, RefusedOutsideTheRomAndOnTheIdCodeOrProtectByte) {
  DeviceTable table;
  bool missing = false;
  ASSERT_TRUE(parseDeviceTableFile(VRX4_TABLE_PATH, table, missing));
  const DeviceDef& d = table.row(table.findByName(kDevice));  // ROM 0-3FFFF, ID FFDF.., protect 3FFFB
  SerialField f;
  std::string why;
  auto fits = [&](const char* text) {
    EXPECT_TRUE(parseSerialField(text, f, why));
    return checkSerialField(f, d, why);
  };
  EXPECT_TRUE(fits("1000:4"));
  EXPECT_TRUE(fits("3FFF7:4"));   // ends just below the protect byte
  EXPECT_FALSE(fits("3FFF8:4"));  // holds it
  EXPECT_NE(why.find("protect byte"), std::string::npos) << why;
  EXPECT_FALSE(fits("3FFFC:8"));  // runs past the ROM
  EXPECT_NE(why.find("outside the user ROM"), std::string::npos) << why;
  EXPECT_FALSE(fits("FFE0:4"));  // holds the ID code byte at FFE3
  EXPECT_NE(why.find("ID code byte 1"), std::string::npos) << why;
  EXPECT_TRUE(fits("FFE4:7"));  // between FFE3 and FFEB
}

class SerialSourceTest : public ::testing::Test {
 protected:
  SerialField field(const char* text = "1000:4") {
    SerialField f;
    std::string why;
    parseSerialField(text, f, why);
    return f;
  }
  test::TempDir dir;
};

TEST_F(SerialSourceTest, CounterAndListTakeInOrderAndHandBack) {
  SerialSource counter;
  counter.counter = dir.file("counter");
  TakenSerial t;
  std::string why;
  // No counter and no start: refused, nothing made.
  EXPECT_EQ(takeSerial(counter, field(), t, why), TakeResult::Refused);
  EXPECT_FALSE(std::filesystem::exists(counter.counter));
  counter.haveStart = true;
  counter.start = 41;
  ASSERT_EQ(takeSerial(counter, field(), t, why), TakeResult::Taken) << why;
  EXPECT_EQ(t.value.number, 41u);
  counter.start = 7;  // an existing counter keeps its number
  ASSERT_EQ(takeSerial(counter, field(), t, why), TakeResult::Taken);
  EXPECT_EQ(t.value.number, 42u);
  EXPECT_EQ(test::readFile(counter.counter), "43\n");
  // 42 back: the last taken, so the counter steps back; an older one waits
  // in the file and goes out first.
  ASSERT_TRUE(handBackSerial(counter, t, why)) << why;
  EXPECT_EQ(test::readFile(counter.counter), "42\n");
  TakenSerial a, b;
  ASSERT_EQ(takeSerial(counter, field(), a, why), TakeResult::Taken);
  ASSERT_EQ(takeSerial(counter, field(), b, why), TakeResult::Taken);
  EXPECT_EQ(a.value.number, 42u);
  ASSERT_TRUE(handBackSerial(counter, a, why));
  EXPECT_EQ(test::readFile(counter.counter), "44\n42\n");
  ASSERT_EQ(takeSerial(counter, field(), t, why), TakeResult::Taken);
  EXPECT_EQ(t.value.number, 42u);
  ASSERT_EQ(takeSerial(counter, field(), t, why), TakeResult::Taken);
  EXPECT_EQ(t.value.number, 44u);
  // A number too wide for the field: refused and not taken.
  test::writeFile(counter.counter, "65536\n");
  EXPECT_EQ(takeSerial(counter, field("1000:2"), t, why), TakeResult::Refused);
  EXPECT_NE(why.find("does not fit 2 bytes"), std::string::npos) << why;
  EXPECT_EQ(test::readFile(counter.counter), "65536\n");
  test::writeFile(counter.counter, "12x\n");
  EXPECT_EQ(takeSerial(counter, field(), t, why), TakeResult::Failed);  // a damaged counter is not guessed at
  // A pipe as the counter is refused at once, not waited on.
  SerialSource piped;
  piped.counter = dir.file("counter.fifo");
  ASSERT_EQ(::mkfifo(piped.counter.c_str(), 0600), 0);
  EXPECT_EQ(takeSerial(piped, field(), t, why), TakeResult::Failed);
  EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;

  SerialSource list;
  list.list = dir.file("macs.txt");
  test::writeFile(list.list, "# MAC addresses\n00:1A:2B:3C:4D:5E\n\n00:1A:2B:3C:4D:5F\n");
  ASSERT_EQ(takeSerial(list, field("1000:6:be"), t, why), TakeResult::Taken) << why;
  EXPECT_EQ(t.value.text(), "00:1A:2B:3C:4D:5E");
  ASSERT_EQ(takeSerial(list, field("1000:6:be"), t, why), TakeResult::Taken);
  EXPECT_EQ(t.value.text(), "00:1A:2B:3C:4D:5F");
  EXPECT_EQ(test::readFile(list.list + ".pos"), "2\n");
  EXPECT_EQ(takeSerial(list, field("1000:6:be"), t, why), TakeResult::Refused);  // exhausted
  EXPECT_NE(why.find("every value of the list is taken"), std::string::npos) << why;
  EXPECT_EQ(test::readFile(list.list + ".pos"), "2\n");
}

// The step at which the child kills itself (0: none).
int killAtStep = 0;

TEST_F(SerialSourceTest, AKillAtAnyStepOfATakeNeverRepeatsANumber) {
  SerialSource s;
  s.counter = dir.file("counter");
  s.haveStart = true;
  s.start = 1;
  std::vector<uint64_t> used;
  int killed = 0;
  for (int run = 0; run < 100; ++run) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      killAtStep = run % 6;  // 1 locked, 2 read, 3 written, 4 replaced, 5 (after) unlocked; 0 none
      serialTakeStep = [](int step) {
        if (step == killAtStep) ::raise(SIGKILL);
      };
      TakenSerial t;
      std::string why;
      if (takeSerial(s, field(), t, why) != TakeResult::Taken) ::_exit(1);
      if (killAtStep == 5) ::raise(SIGKILL);  // taken, the lock released, the unit not yet told
      // The number goes to the unit: here, to the test.
      const uint64_t n = t.value.number;
      (void)!::write(fds[1], &n, sizeof n);
      ::_exit(0);
    }
    ::close(fds[1]);
    uint64_t n = 0;
    const bool got = ::read(fds[0], &n, sizeof n) == ssize_t(sizeof n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
      ++killed;
    else
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << run;
    if (got) used.push_back(n);
  }
  EXPECT_EQ(killed, 100 - 100 / 6 - (100 % 6 > 0 ? 1 : 0));
  std::set<uint64_t> distinct(used.begin(), used.end());
  EXPECT_EQ(distinct.size(), used.size());
  EXPECT_GE(used.size(), 16u);
  // The counter is whole after every kill and above every number used.
  TakenSerial t;
  std::string why;
  ASSERT_EQ(takeSerial(s, field(), t, why), TakeResult::Taken) << why;
  EXPECT_GT(t.value.number, *distinct.rbegin());
  // No temporary of a killed take is left behind for the next to trip on.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.file(""))) files += e.is_regular_file() ? 1 : 0;
  EXPECT_LE(files, 3);  // counter, counter.lock and at most one stale temporary
}

// A little program: 32 bytes at 0; the serial field lies beyond them.
std::string programFile(const test::TempDir& dir) {
  const std::string p = dir.file("app.hex");
  test::writeFile(p, test::hexRecord(0, 0, std::string(64, '5')) + test::hexRecord(0, 0x20, std::string(64, 'A')) +
                         ":00000001FF\r\n");
  return p;
}

TEST_F(SerialSourceTest, TheUnitReceivesTheNumberAndTheRecordSaysWhichAndItsSum) {
  const std::string f = programFile(dir);
  const std::string state = dir.file("unit-state");
  UnitSim sim(dir.file("u.sock"), {"--state", state, "--fresh"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  const std::string unit = "socket:" + dir.file("u.sock");
  const std::string counter = dir.file("counter"), record = dir.file("jobs.jsonl");
  CliRun r = test::runCli(dir, {"program", f, "--device", kDevice, "--unit", unit, "--serial", "12345:4:be",
                                "--serial-counter", counter, "--serial-start", "305419896", "--record", record});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Serial : 305419896\n"), std::string::npos) << r.out;
  EXPECT_EQ(test::readFile(counter), "305419897\n");
  json line = json::parse(test::readFile(record));
  EXPECT_EQ(line["serial"], json::parse(R"({"value":"305419896","state":"used"})"));
  // The record's sum is the patched image's: the file's bytes plus 12 34 56 78
  // where 0xFF stood.
  const unsigned sum = (32 * 0x55 + 32 * 0xAA + 0x12 + 0x34 + 0x56 + 0x78 + (0x40000 - 64 - 4) * 0xFF) & 0xFFFF;
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", sum);
  EXPECT_EQ(line["checksum"], hex);
  EXPECT_NE(r.out.find(std::string("Check Sum : ") + hex), std::string::npos) << r.out;

  // From a list: hex digits of a MAC address, then the list is exhausted:
  // refused with 2 before the unit hears anything.
  const std::string list = dir.file("macs.txt");
  test::writeFile(list, "00:1A:2B:3C:4D:5E\n");
  r = test::runCli(
      dir, {"program", f, "--device", kDevice, "--unit", unit, "--serial", "20000:12:hex", "--serial-list", list});
  ASSERT_EQ(r.status, 0) << r.err;
  r = test::runCli(dir, {"program", f, "--device", kDevice, "--unit", "socket:" + dir.file("none.sock"), "--serial",
                         "20000:12:hex", "--serial-list", list});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("every value of the list is taken"), std::string::npos) << r.err;
  ASSERT_EQ(sim.stop(), 0);
  const UnitState after = stateOf(state);
  ASSERT_GE(after.targetFlash.size(), 0x20000u + 12);
  EXPECT_EQ(std::vector<uint8_t>(after.targetFlash.begin() + 0x20000, after.targetFlash.begin() + 0x2000C),
            text("001A2B3C4D5E"));
  // The second job's image is a fresh load: the first job's number is gone.
  EXPECT_EQ(after.targetFlash[0x12345], 0xFF);
}

TEST_F(SerialSourceTest, AFailedJobBurnsItsNumberUnlessTheUnitNeverHadTheImage) {
  const std::string f = programFile(dir);
  const std::string counter = dir.file("counter"), record = dir.file("jobs.jsonl");
  const std::vector<std::string> serial = {"--serial",       "1000:2", "--serial-counter", counter,
                                           "--serial-start", "7",      "--record",         record};
  auto job = [&](const std::string& unit, std::vector<std::string> extra) {
    std::vector<std::string> a = {"program", f, "--device", kDevice, "--unit", unit};
    a.insert(a.end(), serial.begin(), serial.end());
    a.insert(a.end(), extra.begin(), extra.end());
    return test::runCli(dir, a);
  };
  auto lastSerial = [&] {
    std::istringstream in(test::readFile(record));
    std::string l, last;
    while (std::getline(in, l)) last = l;
    return json::parse(last)["serial"];
  };
  // No unit: the image never left; handed back only when asked.
  EXPECT_EQ(job("socket:" + dir.file("none.sock"), {}).status, 4);
  EXPECT_EQ(lastSerial(), json::parse(R"({"value":"7","state":"burned"})"));
  EXPECT_EQ(job("socket:" + dir.file("none.sock"), {"--serial-reuse-failed"}).status, 4);
  EXPECT_EQ(lastSerial(), json::parse(R"({"value":"8","state":"handed back"})"));
  EXPECT_EQ(test::readFile(counter), "8\n");
  // No target behind the unit: the image was sent, so the number is burned
  // even with --serial-reuse-failed.
  UnitSim sim(dir.file("u.sock"), {"--no-state", "--no-target"});
  ASSERT_TRUE(sim.ready()) << sim.log();
  EXPECT_EQ(job("socket:" + dir.file("u.sock"), {"--serial-reuse-failed"}).status, 6);
  EXPECT_EQ(lastSerial(), json::parse(R"({"value":"8","state":"burned"})"));
  EXPECT_EQ(test::readFile(counter), "9\n");
  // Verify takes no number.
  EXPECT_EQ(job("socket:" + dir.file("u.sock"), {"--op", "verify"}).status, 6);
  EXPECT_EQ(test::readFile(counter), "9\n");
  EXPECT_TRUE(lastSerial().is_null());
  // Options that do not go together: 2 before anything.
  EXPECT_EQ(test::runCli(dir, {"program", f, "--device", kDevice, "--serial", "1000:2"}).status, 2);
  EXPECT_EQ(test::runCli(dir, {"program", f, "--device", kDevice, "--serial-counter", counter}).status, 2);
  EXPECT_EQ(test::runCli(dir, {"program", f, "--device", kDevice, "--serial", "1000:2", "--serial-list", counter,
                               "--serial-start", "1"})
                .status,
            2);
  EXPECT_EQ(test::readFile(counter), "9\n");
}

TEST_F(SerialSourceTest, AGangOfFourTakesFourConsecutiveNumbersFromOneCounter) {
  std::vector<std::unique_ptr<UnitSim>> sims;
  std::vector<std::string> args = {"program",    programFile(dir),   "--device",          kDevice,          "--serial",
                                   "3F000:4:le", "--serial-counter", dir.file("counter"), "--serial-start", "500",
                                   "--json"};
  for (int i = 0; i < 4; ++i) {
    const std::string sock = dir.file("u" + std::to_string(i) + ".sock");
    sims.push_back(std::make_unique<UnitSim>(sock, std::vector<std::string>{"--state", sock + ".state", "--fresh"}));
    ASSERT_TRUE(sims.back()->ready()) << sims.back()->log();
    args.push_back("--unit");
    args.push_back("socket:" + sock);
  }
  CliRun r = test::runCli(dir, args);
  ASSERT_EQ(r.status, 0) << r.err;
  const json last = r.events().back();
  ASSERT_EQ(last["gang"].size(), 4u) << last;
  std::set<uint64_t> numbers;
  for (int i = 0; i < 4; ++i) {
    const json& u = last["gang"][i];
    const uint64_t n = std::stoull(u["serial"].get<std::string>());
    numbers.insert(n);
    ASSERT_EQ(sims[size_t(i)]->stop(), 0);
    const UnitState s = stateOf(dir.file("u" + std::to_string(i) + ".sock.state"));
    uint32_t held = 0;
    for (int k = 3; k >= 0; --k) held = held << 8 | s.targetFlash[0x3F000 + size_t(k)];
    EXPECT_EQ(held, n) << u;
  }
  EXPECT_EQ(numbers, (std::set<uint64_t>{500, 501, 502, 503}));
  EXPECT_EQ(test::readFile(dir.file("counter")), "504\n");

  // A field on the ID code is refused once, before any unit's process
  // starts or any number is taken.
  args[5] = "FFE0:4";
  r = test::runCli(dir, args);
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(r.events().size(), 2u) << r.out;  // the error and the result, no unit's events
  EXPECT_EQ(test::readFile(dir.file("counter")), "504\n");
}

}  // namespace
}  // namespace vrx4
