#pragma once
// What the unit commands (info, program, read) share: one job on one unit
// through the main form's handlers, its steps, and the checks made before
// the unit hears anything. Only the unit commands and the job end include it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/AppState.h"
#include "base/StopRequest.h"
#include "cli/CliDialogs.h"
#include "cli/CliPrompter.h"
#include "cli/ExitStatus.h"
#include "cli/JobEnd.h"
#include "cli/JobOptions.h"
#include "cli/SerialNumbers.h"
#include "view/MainViewModel.h"

namespace vrx4::cli {

class Events;

// The path made absolute and plain, as the record and the events name it
// (the path itself when that fails).
std::string absolutePath(const std::string& path);

// The CAN record for --baud/--sample-point: the table entry of that rate,
// everything else (frames, pulse) as the unit holds it.
bool canFor(double baud, int samplePoint, const CanSetting& current, CanSetting& out, std::string& why);

// The result status of an operation code.
int statusOfResult(uint8_t code);

// The device table beside the program, for the checks made before the unit
// hears anything (the start-up check reads the same file).
bool tableBesideProgram(const std::string& self, DeviceTable& table);

// Where a step of a job stopped it: the exit status and the phase the end
// names. A step that went through gives kExitPass.
struct JobStop {
  int status = kExitPass;
  const char* phase = "";
  explicit operator bool() const { return status != kExitPass; }
};

// One job on one unit through the main form's own handlers: the start-up
// check, the form's start-up (the settings the unit keeps), then the
// handlers in the order an operator at the form would use them.
struct ViewJob {
  ViewJob(Events& events, UnitSession& session, JobOptions job);

  // The board's number, taken before the unit hears anything (the device
  // from the table beside the program): 0 or the exit status.
  int takeSerial(const DeviceDef* device);

  // The unit and the form's start-up; the exit status.
  int start();

  // The row of --device in the unit's table; -1 (with the message) when it
  // has none of that name.
  int deviceRow();

  // "Load..." with the file: 0, kExitFile (refused) or kExitLink.
  int loadUserFile(const std::string& path);
  int loadBootFile(const std::string& path);

  // A handler that sends a setting: kExitLink when a command failed (the
  // exchange has shown its message) or a stop was asked for.
  int sent(size_t before) const { return prompter.stopSince(before) || stopRequestRaised() ? kExitLink : kExitPass; }

  // Start; the exit status of the result.
  int run(const char* phase);

  int finish(int status, const std::string& phase) { return end.finish(status, code, phase); }
  int finish(const JobStop& stop) { return finish(stop.status, stop.phase); }

  // The loaded program file as an event: its path, checksum and digest.
  void showFile();

  Events& events;
  UnitSession& session;
  JobOptions job;
  AppState state;
  CliPrompter prompter;
  CliDialogs windows;
  MainViewModel view;
  JobEnd end;
  JobSerial serial;
  uint8_t code = 0;

 private:
  // --serial: the number's field and source, patched into the image before
  // its send and given back or burned at the end.
  void configureSerial();
  // After a stopped Load: the unit told that it holds no program file.
  void tellUnitNoFile();
  // Whether a message since `before` refused the file (rather than the link
  // failing).
  bool fileRefusedSince(size_t before) const;
};

}  // namespace vrx4::cli
