#include "cli/UnitCommands.h"

#include <cctype>

#include "cli/JobSteps.h"
#include "settings/CanDialogRules.h"

namespace vrx4::cli {

int operationIndexOf(const std::string& op) {
  for (int i = 0; i < 6; ++i)
    if (op == kOperationNames[i]) return i;
  return -1;
}

bool parseBlockList(const std::string& text, int blockCount, BlockMask& mask, std::string& why) {
  mask = BlockMask();
  if (text == "none") return true;
  if (text == "all") {
    for (int i = 0; i < blockCount; ++i) mask.set(i);
    return true;
  }
  size_t pos = 0;
  auto number = [&](int& n) {
    size_t start = pos;
    n = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) && n < 1000)
      n = n * 10 + (text[pos++] - '0');
    return pos > start;
  };
  while (true) {
    int a = 0, b = 0;
    if (!number(a)) break;
    b = a;
    if (pos < text.size() && text[pos] == '-') {
      ++pos;
      if (!number(b) || b < a) break;
    }
    if (b >= blockCount) {
      why = "block " + std::to_string(b) + " is not a block of the device (0-" + std::to_string(blockCount - 1) + ")";
      return false;
    }
    for (int k = a; k <= b; ++k) mask.set(k);
    if (pos == text.size()) return true;
    if (text[pos++] != ',') break;
  }
  why = "block list '" + text + "': expected numbers and ranges such as 0-2,5, or all, or none";
  return false;
}

bool parseIdText(const std::string& text, IdCode& id, std::string& why) {
  id = IdCode();
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t comma = text.find(',', pos);
    std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    if (item.empty() || item.size() > 2 || !isHexText(item) || id.idLength >= 32) {
      why = "--id '" + text + "': expected up to 32 hexadecimal bytes such as 0A,1B,FF";
      return false;
    }
    id.idBytes[id.idLength++] = uint8_t(hexTextValue(item));
    if (comma == std::string::npos) return true;
    pos = comma + 1;
  }
  return true;
}

bool checkJobOptions(const JobOptions& job, std::string& why) {
  BlockMask m;
  if (!job.blocks.empty() && !parseBlockList(job.blocks, 64, m, why)) return false;
  if (!job.lockAfter.empty() && !parseBlockList(job.lockAfter, 64, m, why)) return false;
  IdCode id;
  if (!job.id.empty() && !parseIdText(job.id, id, why)) return false;
  if (job.samplePointPct && job.baudKbps == 0) {
    why = "--sample-point needs --baud";
    return false;
  }
  CanSetting can;
  if (job.baudKbps != 0 && !canFor(job.baudKbps, job.samplePointPct, CanSetting(), can, why)) return false;
  return true;
}

}  // namespace vrx4::cli
