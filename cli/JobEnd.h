#pragma once
// The record and the common end of a unit job (program, read), shared by the
// unit commands.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/AppState.h"
#include "cli/JobOptions.h"
#include "cli/JobRecord.h"

namespace vrx4::cli {

class Events;

// The job's record and its common end: the record file is opened before the
// unit hears anything; the end gives the result event, the record line and
// the status, and a signal on the way turns them into "interrupted".
struct JobEnd {
  JobEnd(Events& e, const JobOptions& j, UnitSession& u, AppState& s) : events(e), job(j), session(u), state(s) {}
  ~JobEnd();
  Events& events;
  const JobOptions& job;
  UnitSession& session;
  AppState& state;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::string startedUtc = utcTimestamp();
  std::string jobId = randomUuid();
  std::string host = hostName();
  RecordFile record;
  std::string phase;  // the phase running now
  bool ended = false;
  // The board's serial number at the job's end (burned or handed back) and
  // the record's field of it.
  std::function<nlohmann::ordered_json(int status)> serialAtEnd;
  nlohmann::ordered_json serial;
  std::string targetVersion;
  std::string fileSha;
  std::string blocks;
  // A read: the checksum of the area saved and the SHA-256 of the file.
  std::string savedChecksum;
  std::string savedSha;

  // Opens the record file; false (with the message) when it cannot be: the
  // job then ends before anything is sent.
  bool begin();

  nlohmann::ordered_json recordOf(int status, uint8_t code, const std::string& word, const std::string& reason,
                                  const std::string& signal, const std::string& failedPhase) const;

  // What a second signal writes before the process ends (see Interrupt.h).
  void prepareInterruptLines();

  // The result event and the record line of the job's end; the exit status
  // (that of a signal on the way, or a file fault when the record of a
  // passed job could not be written).
  int finish(int status, uint8_t code, const std::string& failedPhase);
};

}  // namespace vrx4::cli
