// What the unit says reaches the terminal as text, never as a command to
// it: vrx4-cli info shows the unit's control characters and broken bytes
// escaped; its JSON keeps them as JSON escapes.
#include <gtest/gtest.h>

#include "CliProcess.h"

namespace vrx4 {
namespace {

using json = nlohmann::json;
using test::CliRun;
using test::UnitSim;

TEST(OutsideText, InfoShowsTheUnitsTextsEscaped) {
  test::TempDir dir;
  const std::string sock = dir.file("u.sock");
  // A date that would clear the screen, set the title and ring the bell,
  // with a byte that is no UTF-8.
  const std::string date = "\x1b[2J\x1b]0;x\x07\xff";
  UnitSim sim(sock, {"--no-state", "--firmware-date", date});
  ASSERT_TRUE(sim.ready()) << sim.log();
  CliRun r = test::runCli(dir, {"info", "--unit", "socket:" + sock});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Firmware Version : Ver.1.11 \\x1b[2J\\x1b]0;x\\x07\\xff\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(r.out.find('\xff'), std::string::npos);

  r = test::runCli(dir, {"info", "--unit", "socket:" + sock, "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  EXPECT_NE(r.out.find("\\u001b[2J"), std::string::npos) << r.out;
  json info;
  for (const json& e : r.events())
    if (e.is_object() && e.value("event", "") == "info") info = e;
  EXPECT_EQ(info.value("firmware_date", ""), "\x1b[2J\x1b]0;x\x07\xef\xbf\xbd");  // the byte replaced
}

}  // namespace
}  // namespace vrx4
