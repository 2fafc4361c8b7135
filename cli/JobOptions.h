#pragma once
// What the unit commands of vrx4-cli were asked to do.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/CliPrompter.h"
#include "cli/UnitSession.h"

namespace vrx4::cli {

// The command line's names of the operations, by operation index (the order
// of the form's radio buttons).
inline constexpr const char* kOperationNames[] = {"epv", "blank", "erase", "ep", "verify", "read"};

struct JobOptions {
  // program
  std::string file;     // the program file (HEX or S-record)
  std::string project;  // --project FILE.vxp: every setting from there
  std::string device;   // --device NAME
  std::string operation = "epv";
  std::string blocks;     // --blocks LIST ("0-2,5"; "all"); empty: all blocks
  std::string lockAfter;  // --lock-after LIST; empty: none
  std::string lockState = "effective";
  std::string id;          // --id XX,XX,...; empty: the ID code of the image
  double baudKbps = 0;     // 0: the CAN setting stays as the unit holds it
  int samplePointPct = 0;  // 0: the table's first sample point of that rate
  std::string bootFile;    // --boot FILE.btp
  // serial numbers (program)
  std::string serialField;    // --serial ADDR:WIDTH[:FORMAT]
  std::string serialCounter;  // --serial-counter FILE
  std::string serialList;     // --serial-list FILE
  bool haveSerialStart = false;
  uint64_t serialStart = 0;  // --serial-start N
  bool serialReuseFailed = false;
  // read
  std::string output;  // -o OUT
  std::string ranges;  // --ranges TEXT
  // every unit command
  Consent consent;
  std::string recordPath;  // --record FILE
  std::string gangId;      // the gang's UUID, given to each unit's process
  std::string self;        // the program's own file
};

}  // namespace vrx4::cli
