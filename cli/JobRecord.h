#pragma once
// The job record: one JSON line per job and unit, appended to a file that
// several vrx4-cli processes may share.
#include <string>

#include <nlohmann/json.hpp>

namespace vrx4::cli {

// The record file of one job, opened before the unit hears anything so that
// a job whose record cannot be kept never starts.
class RecordFile {
 public:
  RecordFile() = default;
  ~RecordFile();
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  // Creates the file or opens it for appending. False (with why) when it
  // cannot be.
  bool open(const std::string& path, std::string& why);
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Appends the object as one line in one write(2) on the O_APPEND
  // descriptor, so lines of parallel writers never mix or overwrite each
  // other. False (with why) when the line was not written whole.
  bool append(const nlohmann::ordered_json& record, std::string& why);

 private:
  int fd_ = -1;
  std::string path_;
};

// Opens, appends one line, closes.
bool appendRecordLine(const std::string& path, const nlohmann::ordered_json& record, std::string& why);

// The line as it goes into the file, with its new line.
std::string recordLineText(const nlohmann::ordered_json& record);

// The current time as "2026-12-09T02:10:50.123Z".
std::string utcTimestamp();

// A random (version 4) UUID: "9f1c0c2e-4b7a-4d43-8e0f-2a5d1c3b7e90".
std::string randomUuid();

// This computer's name (empty when it has none).
std::string hostName();

}  // namespace vrx4::cli
