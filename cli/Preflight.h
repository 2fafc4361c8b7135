#pragma once
// The pre-flight check of a job (vrx4-cli check, program --dry-run): the
// file loaded as the job loads it, and a report of what the operation will
// do to each block, what deserves a warning and what the job will take,
// before any unit hears a word.
#include <string>

#include <nlohmann/json.hpp>

#include "cli/JobOptions.h"

namespace vrx4::cli {

struct PreflightOptions {
  std::string table;    // --table; empty: the table beside the program
  std::string folder;   // the program's folder
  bool strict = false;  // --strict: a warning ends with status 3 too
  bool json = false;    // one JSON object instead of the text
};

// Builds the report of the job (every field of the JSON object) and its
// exit status: 0 nothing to warn about, 2 the job's settings do not fit the
// device, 3 the loader would refuse the file (or, with strict, a warning).
// The messages of a refused file are shown as the job shows them.
int buildPreflight(const JobOptions& job, const PreflightOptions& options, nlohmann::ordered_json& report);

// buildPreflight, then the report on standard output (text or one JSON
// object); returns the status.
int preflightCheck(const JobOptions& job, const PreflightOptions& options);

}  // namespace vrx4::cli
