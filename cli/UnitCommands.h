#pragma once
// The commands of vrx4-cli that talk to a unit (info, program, read) and
// the two listings (devices, units). Each returns the exit status.
#include <string>

#include "base/IdCode.h"
#include "base/LittleEndian.h"
#include "cli/JobOptions.h"

namespace vrx4::cli {

class Events;

int listDevices(Events& events, const std::string& givenTable, const std::string& programFolder);
int listUnits(Events& events);
int showInfo(Events& events, UnitSession& session, const JobOptions& job);
int programTarget(Events& events, UnitSession& session, const JobOptions& job);
// program --project FILE.vxp: every setting from the project file.
int programProject(Events& events, UnitSession& session, const JobOptions& job);
int readTarget(Events& events, UnitSession& session, const JobOptions& job);

// The device and the files of `program FILE` checked against the table
// beside the program before any unit hears anything: 0, or the status of
// the fault (the message shown). A gang checks them once for all units.
int checkProgramFiles(Events& events, CliPrompter& prompter, const JobOptions& job);

// Checks the option values that need no device (operation, lock state,
// block lists, ID code text, CAN rate and sample point).
bool checkJobOptions(const JobOptions& job, std::string& why);

// "0-2,5,7-8" (decimal block numbers below blockCount), "all" or "none".
bool parseBlockList(const std::string& text, int blockCount, BlockMask& mask, std::string& why);
// "0A,1B,FF": one or two hex digits per byte, at most 32 bytes.
bool parseIdText(const std::string& text, IdCode& id, std::string& why);
// The operation index of --op (epv 0, blank 1, erase 2, ep 3, verify 4, read 5); -1 unknown.
int operationIndexOf(const std::string& op);

}  // namespace vrx4::cli
