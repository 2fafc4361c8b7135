#pragma once
// Reads a program file line by line from large blocks, so that a 10 MB HEX
// file costs a few dozen reads instead of millions of character fetches.
// A thread of the reader's own reads the next block while the lines of the
// current one are parsed. CR LF, LF and a lone CR each end a line. A line
// runs up to and including the first character of its line end (or to the
// end of the file); the LF of a CR LF pair is dropped.
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "base/InputFile.h"

namespace vrx4 {

// The longest line the reader hands out, line end included. The longest
// valid record (255 data bytes) is 521 characters plus CR LF; a longer line
// can only be damage and is reported as such instead of being cut into
// pieces that might parse as records of their own.
inline constexpr size_t kMaxLineLength = 1024;

class LineReader {
 public:
  enum class Status { Line, Overlong, End, ReadError };

  explicit LineReader(InputFile& file, size_t blockSize = 1024 * 1024);
  explicit LineReader(std::FILE* file, size_t blockSize = 1024 * 1024);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line in `line` (valid until the next call). Overlong: the line
  // was longer than kMaxLineLength and has been skipped up to its end.
  Status next(std::string_view& line);

 private:
  // Each block keeps kMaxLineLength bytes of room in front of its data, where
  // the unfinished end of the block before is copied so a line is always in
  // one piece.
  // The blocks form a ring that the reader thread fills in turn, ahead of
  // the lines being parsed.
  static constexpr int kBlocks = 4;
  struct Block {
    std::unique_ptr<char[]> mem;
    size_t len = 0;      // bytes read into the data part
    bool ready = false;  // read and not yet handed back
    bool error = false;
  };

  // Switches to the next block once it has been read, carrying the unread
  // rest of the current one along; false at the end of the file.
  bool nextBlock(size_t carry);
  void readerLoop();
  void startReading();

  // Fills up to n bytes: the count (short only at the end) or -1 on an error.
  std::function<long(char*, size_t)> fill_;
  size_t blockSize_;
  Block blocks_[kBlocks];
  int current_ = -1;  // no block yet
  size_t pos_ = 0;    // first unread character of the current block
  size_t end_ = 0;    // one past its last character
  bool noMoreData_ = false;
  bool error_ = false;
  bool overlong_ = false;  // skipping the rest of an overlong line
  bool afterCr_ = false;   // the last line ended in CR: an LF next belongs to it

  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  bool stop_ = false;
};

// Reads `file` line by line and hands each line to parse(line, overlong)
// until it returns something other than 0, which is then the result (0 when
// the file ends first). `overlong` is set for a line longer than
// kMaxLineLength, whose text is not handed over. readError reports a
// failed read, which also ends the loop.
template <typename Parse>
int forEachLine(InputFile& file, Parse&& parse, bool& readError) {
  readError = false;
  LineReader reader(file);
  std::string_view line;
  for (;;) {
    const LineReader::Status s = reader.next(line);
    if (s == LineReader::Status::End) return 0;
    if (s == LineReader::Status::ReadError) {
      readError = true;
      return 0;
    }
    const bool overlong = s == LineReader::Status::Overlong;
    if (const int result = parse(overlong ? std::string_view() : line, overlong)) return result;
  }
}

}  // namespace vrx4
