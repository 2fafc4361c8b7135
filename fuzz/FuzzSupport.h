#pragma once
// Shared pieces of the fuzz targets: silence the log, feed an input through
// the line reader as the loaders do.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>

#include "base/Log.h"
#include "image/LineReader.h"

namespace vrx4::fuzz {

inline void quiet() {
  static bool done = [] {
    setLogSink([](std::string_view) {});
    return true;
  }();
  (void)done;
}

// Calls `line` for each line of the input, as read by the program's line
// reader from a stream; stops when it returns false.
inline void forEachLine(const uint8_t* data, size_t size, const std::function<bool(std::string_view, bool)>& line) {
  if (size == 0) return;
  std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return;
  {
    LineReader reader(f, 4096);
    std::string_view l;
    for (;;) {
      LineReader::Status s = reader.next(l);
      if (s == LineReader::Status::End || s == LineReader::Status::ReadError) break;
      bool overlong = s == LineReader::Status::Overlong;
      if (!overlong && l.size() > kMaxLineLength) std::abort();
      if (!line(overlong ? std::string_view() : l, overlong)) break;
    }
  }
  std::fclose(f);
}

}  // namespace vrx4::fuzz
