#pragma once
// Reads a program file line by line from large blocks, so that a 10 MB HEX
// file costs a few dozen reads instead of millions of character fetches.
// A line runs up to and including its '\n' (or to the end of the file); the
// line end stays part of the line, as the record parsers expect.
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>

namespace vrx4 {

// The longest line the reader hands out, line end included. The longest
// valid record (255 data bytes) is 521 characters plus CR LF; a longer line
// can only be damage and is reported as such instead of being cut into
// pieces that might parse as records of their own.
inline constexpr size_t kMaxLineLength = 1024;

class LineReader {
 public:
  enum class Status { Line, Overlong, End, ReadError };

  explicit LineReader(std::FILE* file, size_t blockSize = 256 * 1024);

  // The next line in `line` (valid until the next call). Overlong: the line
  // was longer than kMaxLineLength and has been skipped up to its end.
  Status next(std::string_view& line);

 private:
  bool fill();  // moves the unread rest to the front and reads more

  std::FILE* file_;
  size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  size_t begin_ = 0;  // first unread character
  size_t end_ = 0;    // one past the last character read
  bool eof_ = false;
  bool error_ = false;
};

}  // namespace vrx4
