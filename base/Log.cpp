#include "base/Log.h"

#include "base/DisplayText.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace vrx4 {
namespace {

// Log lines name files and carry texts from outside the program: shown
// escaped, they never act on the terminal they reach.
void stderrSink(std::string_view line) {
  std::string s = displayText(line);
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

std::string& programName() {
  static std::string name = "vrx4";
  return name;
}

}  // namespace

void setLogProgramName(std::string_view name) {
  std::lock_guard lock(sinkMutex());
  programName() = std::string(name);
}

const std::string& logProgramName() { return programName(); }

void logProgramLine(std::string_view text) {
  std::string line = logProgramName();
  line += ": ";
  line += text;
  logLine(line);
}

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
