#include "cli/JobRecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace vrx4::cli {

bool appendRecordLine(const std::string& path, const nlohmann::ordered_json& record, std::string& why) {
  const std::string line = record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  ssize_t n;
  do {
    n = ::write(fd, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  const int writeErrno = errno;
  const bool closed = ::close(fd) == 0;
  if (n != ssize_t(line.size())) {
    // Say so: a reader of the file will find a broken last line.
    why = path + ": " + (n < 0 ? std::strerror(writeErrno) : "the line was written only in part");
    return false;
  }
  if (!closed) {
    why = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string utcTimestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const long ms = long(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return text;
}

}  // namespace vrx4::cli
