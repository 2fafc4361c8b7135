#include "cli/JobRecord.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>

namespace vrx4::cli {

RecordFile::~RecordFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool RecordFile::open(const std::string& path, std::string& why) {
  if (fd_ >= 0) ::close(fd_);
  path_ = path;
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string recordLineText(const nlohmann::ordered_json& record) {
  return record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

bool RecordFile::append(const nlohmann::ordered_json& record, std::string& why) {
  if (fd_ < 0) {
    why = path_ + ": not open";
    return false;
  }
  const std::string line = recordLineText(record);
  ssize_t n;
  do {
    n = ::write(fd_, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  if (n != ssize_t(line.size())) {
    // Say so: a reader of the file will find a broken last line.
    why = path_ + ": " + (n < 0 ? std::strerror(errno) : "the line was written only in part");
    return false;
  }
  // The line is the job's proof: on the disk before the job says it ended.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) {
    why = path_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool appendRecordLine(const std::string& path, const nlohmann::ordered_json& record, std::string& why) {
  RecordFile file;
  return file.open(path, why) && file.append(record, why);
}

std::string utcTimestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const long ms = long(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return text;
}

std::string randomUuid() {
  uint8_t b[16];
  size_t got = 0;
  while (got < sizeof b) {
    const ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
    if (n > 0) {
      got += size_t(n);
    } else if (n < 0 && errno != EINTR) {
      break;
    }
  }
  if (got < sizeof b) {
    std::random_device rd;
    for (uint8_t& v : b) v = uint8_t(rd());
  }
  b[6] = uint8_t((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = uint8_t((b[8] & 0x3F) | 0x80);  // the RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace vrx4::cli
