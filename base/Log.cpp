#include "base/Log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace vrx4 {
namespace {

void stderrSink(std::string_view line) {
  std::string s(line);
  s.push_back('\n');
  std::fwrite(s.data(), 1, s.size(), stderr);
  std::fflush(stderr);
}

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

LogSink& currentSink() {
  static LogSink sink = stderrSink;
  return sink;
}

}  // namespace

void logLine(std::string_view line) {
  LogSink sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) sink(line);
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard lock(sinkMutex());
  LogSink old = currentSink();
  currentSink() = sink ? std::move(sink) : LogSink(stderrSink);
  return old;
}

}  // namespace vrx4
