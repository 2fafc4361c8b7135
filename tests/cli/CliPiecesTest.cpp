// The command line's own pieces: digests, block and ID lists, record lines,
// the progress bar and the gang's child command lines.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "FileTestSupport.h"
#include "base/StopRequest.h"
#include "cli/Events.h"
#include "cli/Gang.h"
#include "cli/Interrupt.h"
#include "cli/JobRecord.h"
#include "cli/Sha256.h"
#include "cli/UnitCommands.h"
#include "cli/UsbUnits.h"
#include "link/Commands.h"
#include "link/UsbLink.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedProgrammer.h"

namespace vrx4::cli {
namespace {

std::string digest(const std::string& text, size_t piece) {
  Sha256 sha;
  for (size_t i = 0; i < text.size(); i += piece)
    sha.update(reinterpret_cast<const uint8_t*>(text.data()) + i, std::min(piece, text.size() - i));
  return sha.hexDigest();
}

TEST(CliPieces, Sha256OfKnownTextsInAnyPieces) {
  EXPECT_EQ(digest("", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digest("abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 56: padding spills
  for (size_t piece : {1u, 7u, 64u, 100u})
    EXPECT_EQ(digest(two, piece), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1") << piece;
  const std::string million(1000000, 'a');
  EXPECT_EQ(digest(million, 4093), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(CliPieces, BlockListsAndIdCodes) {
  BlockMask m;
  std::string why;
  ASSERT_TRUE(parseBlockList("0-2,5,7-8", 16, m, why));
  std::string bits;
  for (int i = 0; i < 10; ++i) bits += m.test(i) ? '1' : '0';
  EXPECT_EQ(bits, "1110010110");
  ASSERT_TRUE(parseBlockList("all", 47, m, why));
  EXPECT_TRUE(m.test(46));
  EXPECT_FALSE(m.test(47));
  ASSERT_TRUE(parseBlockList("none", 8, m, why));
  EXPECT_FALSE(m.any());
  for (const char* bad : {"", "1,", "-1", "3-2", "1-2-3", "a", "0 ,1", "8"}) {
    EXPECT_FALSE(parseBlockList(bad, 8, m, why)) << bad;
    EXPECT_FALSE(why.empty());
  }
  IdCode id;
  ASSERT_TRUE(parseIdText("0a,FF,1", id, why));
  EXPECT_EQ(id.idLength, 3);
  EXPECT_EQ(id.idBytes[0], 0x0A);
  EXPECT_EQ(id.idBytes[2], 0x01);
  for (const char* bad : {"", "1,,2", "123", "G1", "01,"}) EXPECT_FALSE(parseIdText(bad, id, why)) << bad;
  std::string many;
  for (int i = 0; i < 33; ++i) many += i ? ",00" : "00";
  EXPECT_FALSE(parseIdText(many, id, why));
}

TEST(CliPieces, RecordLinesOfParallelWritersStayWhole) {
  test::TempDir dir;
  const std::string path = dir.file("jobs.jsonl");
  // Lines longer than a pipe buffer page, so that a split write would show.
  const std::string filler(6000, 'x');
  auto writer = [&](int who) {
    std::string why;
    for (int i = 0; i < 100; ++i)
      ASSERT_TRUE(appendRecordLine(path, {{"who", who}, {"i", i}, {"filler", filler}}, why)) << why;
  };
  std::thread a(writer, 1), b(writer, 2);
  a.join();
  b.join();
  std::istringstream lines(test::readFile(path));
  int count[3] = {};
  for (std::string l; std::getline(lines, l);) {
    nlohmann::json j = nlohmann::json::parse(l, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << l.substr(0, 80);
    count[j["who"].get<int>()]++;
  }
  EXPECT_EQ(count[1], 100);
  EXPECT_EQ(count[2], 100);
  std::string why;
  EXPECT_FALSE(appendRecordLine(dir.file("no/dir/jobs.jsonl"), {{"a", 1}}, why));
  EXPECT_NE(why.find("no/dir"), std::string::npos);
}

TEST(CliPieces, JobIdsAreRandomVersion4Uuids) {
  std::set<std::string> ids;
  const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  for (int i = 0; i < 100; ++i) {
    const std::string id = randomUuid();
    EXPECT_TRUE(std::regex_match(id, uuid)) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 100u);
}

TEST(CliPieces, TheFirstSignalStopsTheSecondEndsWithTheLinesLeftReady) {
  resetInterruptForTests();
  installInterruptHandlers();
  ::raise(SIGTERM);
  EXPECT_EQ(interruptSignal(), SIGTERM);
  EXPECT_TRUE(stopRequestRaised());
  resetInterruptForTests();

  test::TempDir dir;
  const std::string record = dir.file("jobs.jsonl");
  EXPECT_EXIT(
      {
        installInterruptHandlers();
        const int fd = ::open(record.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        setInterruptLines(fd, "{\"signal\":\"@SIGNAL@\",\"status\":@STATUS@}\n", "Result : interrupted (@SIGNAL@)\n",
                          "vrx4-cli: interrupted by @SIGNAL@\n");
        ::raise(SIGHUP);
        ::raise(SIGINT);  // the second: ends at once
        std::abort();
      },
      ::testing::ExitedWithCode(129), "vrx4-cli: interrupted by SIGHUP");
  EXPECT_EQ(test::readFile(record), "{\"signal\":\"SIGHUP\",\"status\":129}\n");
  EXPECT_EQ(interruptExitStatus(SIGINT), 130);
  EXPECT_EQ(signalName(SIGTERM), "SIGTERM");
}

TEST(CliPieces, ProgressBarAndGangChildren) {
  EXPECT_EQ(progressBarText("send", 0, 100, 10), "send [----------]   0%");
  EXPECT_EQ(progressBarText("send", 55, 100, 10), "send [#####-----]  55%");
  EXPECT_EQ(progressBarText("send", 130, 100, 10), "send [##########] 100%");  // a unit over 100 %
  EXPECT_EQ(progressBarText("fetch", 0, 0, 4), "fetch [####] 100%");
  EXPECT_EQ(childArgs({"program", "f.hex", "--unit", "a", "--json", "--unit=b", "--yes"}, "c"),
            (std::vector<std::string>{"program", "f.hex", "--yes", "--unit", "c", "--json"}));
  EXPECT_EQ(childArgs({"program", "f.hex"}, "c", "g-1"),
            (std::vector<std::string>{"program", "f.hex", "--unit", "c", "--json", "--gang-id", "g-1"}));
  EXPECT_EQ(operationIndexOf("verify"), 4);
  EXPECT_EQ(operationIndexOf("read"), 5);
  EXPECT_EQ(operationIndexOf("Erase"), -1);
}

}  // namespace
}  // namespace vrx4::cli

namespace vrx4::cli {
namespace {

// --unit usb:SERIAL: the link finds only the chosen device, even when it is
// not the first one.
TEST(CliPieces, OnePathDriverShowsTheLinkOnlyItsDevice) {
  auto inner = std::make_unique<SimUsbDriver>();
  ProgrammerOptions first, second;
  first.firmwareVersion = "Ver.1.11 A";
  second.firmwareVersion = "Ver.1.11 B";
  inner->addUnit(std::make_shared<SimulatedProgrammer>(first));
  inner->addUnit(std::make_shared<SimulatedProgrammer>(second));
  const std::string path = *inner->enumerateInterface(1);
  OnePathDriver driver(std::move(inner), path);
  EXPECT_EQ(driver.enumerateInterface(0), path);
  EXPECT_FALSE(driver.enumerateInterface(1));
  UsbDriver* previous = setUsbDriver(&driver);
  ASSERT_TRUE(openLink());
  UnitInfo info;
  ASSERT_TRUE(getUnitInfo(info));
  EXPECT_EQ(info.firmwareVersion, "Ver.1.11 B");
  closeLink();
  setUsbDriver(previous);
}

}  // namespace
}  // namespace vrx4::cli
