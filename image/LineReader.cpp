#include "image/LineReader.h"

#include <cstring>

namespace vrx4 {

LineReader::LineReader(std::FILE* file, size_t blockSize)
    : file_(file),
      capacity_(blockSize < 2 * kMaxLineLength ? 2 * kMaxLineLength : blockSize),
      buffer_(new char[capacity_]) {}

bool LineReader::fill() {
  if (eof_ || error_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  size_t got = std::fread(buffer_.get() + end_, 1, capacity_ - end_, file_);
  end_ += got;
  if (got == 0) {
    if (std::ferror(file_))
      error_ = true;
    else
      eof_ = true;
    return false;
  }
  return true;
}

LineReader::Status LineReader::next(std::string_view& line) {
  bool overlong = false;
  for (;;) {
    const char* start = buffer_.get() + begin_;
    size_t avail = end_ - begin_;
    size_t look = avail < kMaxLineLength ? avail : kMaxLineLength;
    if (!overlong) {
      if (const void* nl = std::memchr(start, '\n', look)) {
        size_t len = size_t(static_cast<const char*>(nl) - start) + 1;
        line = std::string_view(start, len);
        begin_ += len;
        return Status::Line;
      }
      if (avail >= kMaxLineLength) {
        overlong = true;  // no line end within the limit: skip to it
        continue;
      }
    } else {
      // Skipping the rest of an overlong line.
      if (const void* nl = std::memchr(start, '\n', avail)) {
        begin_ += size_t(static_cast<const char*>(nl) - start) + 1;
        return Status::Overlong;
      }
      begin_ = end_;
    }
    if (!fill()) {
      if (error_) return Status::ReadError;
      if (overlong) return Status::Overlong;
      if (end_ > begin_) {  // last line without a line end
        line = std::string_view(buffer_.get() + begin_, end_ - begin_);
        begin_ = end_;
        return Status::Line;
      }
      return Status::End;
    }
  }
}

}  // namespace vrx4
