#include "settings/CanDialogRules.h"

#include <cstdio>

namespace vrx4 {

namespace {

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Leading decimal digits as a number, saturating; nullopt when there are none.
std::optional<uint32_t> leadingDecimal(const std::string& text) {
  uint64_t v = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + uint64_t(text[i] - '0');
    if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull + 1;  // stays above every limit
  }
  if (i == 0) return std::nullopt;
  return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : uint32_t(v);
}

std::string hex(unsigned v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", width, v);
  return buf;
}

CanSendFrame frameFrom(const CanFrameTexts& t) {
  CanSendFrame f;
  f.frameFormat = uint8_t(t.formatIndex + 1);
  f.frameType = uint8_t(t.typeIndex);
  f.sid = uint16_t(hexTextValue(t.sid));
  f.eid = hexTextValue(t.eid);
  f.dlc = uint8_t(leadingDecimal(t.dlc).value_or(0));
  for (int i = 0; i < 8; ++i) f.data[i] = uint8_t(hexTextValue(t.data[i]));
  return f;
}

CanFrameTexts textsFrom(const CanSendFrame& f) {
  CanFrameTexts t;
  t.formatIndex = f.frameFormat == 2 ? 1 : 0;
  t.typeIndex = f.frameType == 0 ? 0 : 1;
  t.sid = hex(uint16_t(f.sid), 3);
  t.eid = hex(uint32_t(f.eid), 5);
  t.dlc = hex(f.dlc, 1);
  t.dataFields = f.dlc < 8 ? int(f.dlc) : 8;
  for (int i = 0; i < 8; ++i) t.data[i] = hex(f.data[i], 2);
  return t;
}

}  // namespace

bool isHexText(const std::string& text) {
  for (char c : text)
    if (!isHexDigit(c)) return false;
  return true;
}

uint32_t hexTextValue(const std::string& text) {
  uint64_t v = 0;
  for (char c : text) {
    if (!isHexDigit(c)) break;
    const int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    v = v * 16 + uint64_t(d);
    if (v > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  }
  return uint32_t(v);
}

std::optional<FieldRejection> checkCanFrameField(CanField field, const std::string& text) {
  if (text.empty()) return std::nullopt;
  if (!isHexText(text)) return FieldRejection{"Wrong input data. Not Hex Data", Icon::Stop, "0"};
  switch (field) {
    case CanField::Data:
      if (text.size() > 2) return FieldRejection{"Wrong input data. Over 2 Byte size", Icon::Stop, "00"};
      break;
    case CanField::Sid:
      if (hexTextValue(text) > 0x7FF) return FieldRejection{"Wrong input data [ 0 <= SID <= 7FF ]", Icon::Stop, "000"};
      if (text.size() > 3) return FieldRejection{"Wrong input data. Over 3 Byte size", Icon::Stop, "000"};
      break;
    case CanField::Eid:
      if (hexTextValue(text) > 0x3FFFF)
        return FieldRejection{"Wrong input data [ 0 <= EID <= 3FFFF ]", Icon::Stop, "00000"};
      if (text.size() > 5) return FieldRejection{"Wrong input data. Over 5 Byte size", Icon::Stop, "00000"};
      break;
    case CanField::Dlc:
      if (canDlcValue(text) < 0) return FieldRejection{"Wrong input data [ 0 <= dlc <= 8 ]", Icon::Stop, "0"};
      break;
  }
  return std::nullopt;
}

int canDlcValue(const std::string& text) {
  auto v = leadingDecimal(text);
  if (!v || *v > 8) return -1;
  return int(*v);
}

std::optional<int64_t> pulseCycleNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  auto digits = leadingDecimal(text.substr(i));
  if (!digits) return std::nullopt;
  return negative ? -int64_t(*digits) : int64_t(*digits);
}

std::optional<FieldRejection> checkPulseCycle(const std::string& text) {
  if (text.empty()) return std::nullopt;
  auto v = pulseCycleNumber(text);
  if (!v || *v < 1 || *v > 1000) return FieldRejection{"You can input pulse data 1 to 1000", Icon::Exclamation, "100"};
  return std::nullopt;
}

int stepPulseCycle(int position, int step) {
  int v = position + step;
  if (v > 1000) return 1;
  if (v < 1) return 1000;
  return v;
}

CanDialogValues canDialogValues(const CanSetting& can, CanTimingIndex timing) {
  CanDialogValues v;
  v.timing = timing;
  v.useSendFrame = can.sendFrameMask != 0;
  v.frames[0] = textsFrom(can.preFrame);
  v.frames[1] = textsFrom(can.postFrame);
  v.usePulse = can.pulseEnabled != 0;
  v.pulseText = v.usePulse ? std::to_string(unsigned(uint16_t(can.pulseCycleMs))) : "100";
  return v;
}

CanDialogValues defaultCanDialogValues() {
  CanSetting zero;
  zero.baudKbps = 500.0f;
  zero.samplePointPct = 70;
  return canDialogValues(zero, CanTimingIndex{1, 2});
}

CanSetting buildCanSetting(const CanDialogValues& v) {
  CanSetting can;  // every byte zero
  int row = v.timing.row, entry = v.timing.entry;
  if (row < 0 || row >= kCanTimingRows) row = 0;
  if (entry < 0 || entry >= canTimingEntryCount(row)) entry = 0;
  const CanBitTimingEntry& t = CanBitTimingTable[row][entry];
  can.baudKbps = float(t.baudKbps);
  can.samplePointPct = t.samplePointPct;
  can.clockMhz = t.clockMhz;
  can.prescalerMinus1 = t.prescalerMinus1;
  can.tseg1 = t.tseg1;
  can.tseg2 = t.tseg2;
  can.sjw = t.sjw;
  can.sendFrameMask = v.useSendFrame ? 3 : 0;
  can.preFrame = frameFrom(v.frames[0]);
  can.postFrame = frameFrom(v.frames[1]);
  if (v.usePulse) {
    can.pulseEnabled = 1;
    auto cycle = pulseCycleNumber(v.pulseText);
    can.pulseCycleMs = (cycle && *cycle >= 1 && *cycle <= 1000) ? uint16_t(*cycle) : kDefaultPulseCycleMs;
  }
  return can;
}

}  // namespace vrx4
