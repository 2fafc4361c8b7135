#include <gtest/gtest.h>

#include <cstring>

#include "settings/CanDialogRules.h"

namespace vrx4 {
namespace {

struct Case {
  CanField field;
  const char* text;
  const char* message;  // nullptr: accepted
  const char* replacement;
};

TEST(CanFrameFieldCheck, MessagesAndReplacements) {
  const Case cases[] = {
      {CanField::Sid, "", nullptr, nullptr},
      {CanField::Sid, "800", "Wrong input data [ 0 <= SID <= 7FF ]", "000"},
      {CanField::Sid, "07FF", "Wrong input data. Over 3 Byte size", "000"},
      {CanField::Sid, "7ff", nullptr, nullptr},
      {CanField::Sid, "FFFFFFFFFFFFFFFFFFFF", "Wrong input data [ 0 <= SID <= 7FF ]", "000"},
      {CanField::Sid, "1-2", "Wrong input data. Not Hex Data", "0"},
      {CanField::Eid, "40000", "Wrong input data [ 0 <= EID <= 3FFFF ]", "00000"},
      {CanField::Eid, "03FFFF", "Wrong input data. Over 5 Byte size", "00000"},
      {CanField::Eid, "3ffff", nullptr, nullptr},
      {CanField::Data, "100", "Wrong input data. Over 2 Byte size", "00"},
      {CanField::Data, "G", "Wrong input data. Not Hex Data", "0"},
      {CanField::Data, "fF", nullptr, nullptr},
      {CanField::Dlc, "9", "Wrong input data [ 0 <= dlc <= 8 ]", "0"},
      {CanField::Dlc, "A", "Wrong input data [ 0 <= dlc <= 8 ]", "0"},
      {CanField::Dlc, "x", "Wrong input data. Not Hex Data", "0"},
      {CanField::Dlc, "3", nullptr, nullptr},
      {CanField::Dlc, "8", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    auto r = checkCanFrameField(c.field, c.text);
    if (!c.message) {
      EXPECT_FALSE(r) << c.text;
      continue;
    }
    ASSERT_TRUE(r) << c.text;
    EXPECT_EQ(r->message, c.message) << c.text;
    EXPECT_EQ(r->replacement, c.replacement) << c.text;
    EXPECT_EQ(r->icon, Icon::Stop);
    // The replacement passes the check in turn.
    EXPECT_FALSE(checkCanFrameField(c.field, r->replacement)) << c.text;
  }
  EXPECT_EQ(canDlcValue("3"), 3);
  EXPECT_EQ(canDlcValue("0"), 0);
  EXPECT_EQ(canDlcValue("9"), -1);
  EXPECT_EQ(canDlcValue(""), -1);
}

TEST(PulseCycleCheck, RangeAndNonNumbers) {
  for (const char* bad : {"0", "1001", "abc", "-5", "+", " ", "1001x", "99999999999999999999"}) {
    auto r = checkPulseCycle(bad);
    ASSERT_TRUE(r) << bad;
    EXPECT_EQ(r->message, "You can input pulse data 1 to 1000");
    EXPECT_EQ(r->icon, Icon::Exclamation);
    EXPECT_EQ(r->replacement, "100");
  }
  // A text that holds a number is judged by it, like the C library reads it.
  for (const char* good : {"", "1", "1000", "250", "12a", " 5", "+5", "007"})
    EXPECT_FALSE(checkPulseCycle(good)) << good;
  EXPECT_EQ(pulseCycleNumber("12a"), 12);
  EXPECT_EQ(pulseCycleNumber(" \t+5"), 5);
  EXPECT_EQ(pulseCycleNumber("-5"), -5);
  EXPECT_EQ(pulseCycleNumber("a12"), std::nullopt);
  EXPECT_EQ(pulseCycleNumber("- 5"), std::nullopt);
  EXPECT_EQ(stepPulseCycle(1000, +1), 1);
  EXPECT_EQ(stepPulseCycle(1, -1), 1000);
  EXPECT_EQ(stepPulseCycle(500, +1), 501);
  EXPECT_EQ(stepPulseCycle(500, -1), 499);
}

TEST(CanDialogFill, FrameTextsAndFormatZero) {
  CanSetting c;
  c.sendFrameMask = 3;
  c.preFrame.frameFormat = 0;
  c.preFrame.sid = 0x12;
  c.preFrame.eid = 0x3ABCD;
  c.preFrame.dlc = 4;
  c.preFrame.data[0] = 0xA;
  c.postFrame.frameFormat = 2;
  c.postFrame.frameType = 1;
  c.pulseEnabled = 1;
  c.pulseCycleMs = 250;
  CanDialogValues v = canDialogValues(c, {2, 1});
  EXPECT_TRUE(v.useSendFrame);
  EXPECT_EQ(v.frames[0].formatIndex, 0);
  EXPECT_EQ(v.frames[0].sid, "012");
  EXPECT_EQ(v.frames[0].eid, "3ABCD");
  EXPECT_EQ(v.frames[0].dlc, "4");
  EXPECT_EQ(v.frames[0].data[0], "0A");
  EXPECT_EQ(v.frames[1].formatIndex, 1);
  EXPECT_EQ(v.frames[1].typeIndex, 1);
  EXPECT_TRUE(v.usePulse);
  EXPECT_EQ(v.pulseText, "250");
  // Written back, format 0 becomes 1 and every other value is kept.
  CanSetting back = buildCanSetting(v);
  EXPECT_EQ(back.preFrame.frameFormat, 1);
  EXPECT_EQ(back.postFrame.frameFormat, 2);
  EXPECT_EQ(uint32_t(back.preFrame.eid), 0x3ABCDu);
  EXPECT_EQ(back.pulseCycleMs, 250);
  EXPECT_EQ(float(back.baudKbps), 250.0f);
  EXPECT_EQ(back.samplePointPct, 75);
  EXPECT_EQ(back.prescalerMinus1, 9);
}

TEST(CanDialogOk, RebuildsTheWholeRecord) {
  CanDialogValues v = defaultCanDialogValues();
  EXPECT_EQ(v.timing, (CanTimingIndex{1, 2}));
  EXPECT_FALSE(v.useSendFrame);
  EXPECT_EQ(v.frames[1].eid, "00000");
  EXPECT_EQ(v.pulseText, "100");
  // "Use Send Frame" off: the frames are stored as typed, mask 0.
  v.frames[0].typeIndex = 1;  // Remote with Dlc 4 keeps dlc 4
  v.frames[0].dlc = "4";
  v.frames[0].sid = "7ff";
  v.frames[0].data[7] = "";  // empty stores 0
  v.frames[1].eid = "";
  v.frames[1].data[1] = "5A";
  CanSetting c = buildCanSetting(v);
  EXPECT_EQ(c.sendFrameMask, 0);
  EXPECT_EQ(c.preFrame.frameType, 1);
  EXPECT_EQ(c.preFrame.dlc, 4);
  EXPECT_EQ(uint16_t(c.preFrame.sid), 0x7FF);
  EXPECT_EQ(c.preFrame.data[7], 0);
  EXPECT_EQ(uint32_t(c.postFrame.eid), 0u);
  EXPECT_EQ(c.postFrame.data[1], 0x5A);
  EXPECT_EQ(c.clockMhz, 30);
  EXPECT_EQ(c.prescalerMinus1, 2);
  EXPECT_EQ(c.tseg1, 13);
  EXPECT_EQ(c.tseg2, 6);
  EXPECT_EQ(c.sjw, 1);
  EXPECT_EQ(c.reserved5, 0);
  EXPECT_EQ(c.pulseEnabled, 0);
  EXPECT_EQ(c.pulseCycleMs, 0);
  EXPECT_EQ(float(c.baudKbps), 500.0f);
  EXPECT_EQ(c.samplePointPct, 70);
  EXPECT_EQ(c.filler[0] | c.filler[1] | c.filler[2], 0);

  v.useSendFrame = true;
  v.usePulse = true;
  v.pulseText = "";  // nothing typed: the default cycle
  c = buildCanSetting(v);
  EXPECT_EQ(c.sendFrameMask, 3);
  EXPECT_EQ(c.pulseEnabled, 1);
  EXPECT_EQ(c.pulseCycleMs, 100);
  v.pulseText = "1000";
  EXPECT_EQ(buildCanSetting(v).pulseCycleMs, 1000);
  v.pulseText = " 25ms";  // the number it holds
  EXPECT_EQ(buildCanSetting(v).pulseCycleMs, 25);

  // A position outside the table falls back to the first entry of row 0.
  v.timing = {3, 7};
  c = buildCanSetting(v);
  EXPECT_EQ(float(c.baudKbps), 125.0f);
  EXPECT_EQ(c.samplePointPct, 80);
}

TEST(CanDialogOk, WireBytesInOrder) {
  CanDialogValues v = defaultCanDialogValues();
  v.useSendFrame = true;
  v.frames[0].formatIndex = 1;
  v.frames[0].sid = "123";
  v.frames[0].eid = "12345";
  v.frames[0].dlc = "8";
  v.usePulse = true;
  v.pulseText = "300";
  CanSetting c = buildCanSetting(v);
  uint8_t b[52];
  std::memcpy(b, &c, 52);
  EXPECT_EQ(b[6], 3);
  EXPECT_EQ(b[7], 2);
  EXPECT_EQ(b[9], 0x23);
  EXPECT_EQ(b[10], 0x01);
  EXPECT_EQ(b[11], 0x45);
  EXPECT_EQ(b[12], 0x23);
  EXPECT_EQ(b[13], 0x01);
  EXPECT_EQ(b[15], 8);
  EXPECT_EQ(b[24], 1);  // post frame: Std
  EXPECT_EQ(b[41], 1);
  EXPECT_EQ(b[42], 300 & 0xFF);
  EXPECT_EQ(b[43], 300 >> 8);
}

}  // namespace
}  // namespace vrx4
