#include "image/LineReader.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vrx4 {
namespace {

inline bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

// The first '\n' or '\r' among n characters at p, or nullptr. Lines are
// short, so the search is done in place, 16 characters at a time, rather
// than through a library call per line.
inline const char* findLineEnd(const char* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i nl = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  for (; i + 16 <= n; i += 16) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    int m = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(c, nl), _mm_cmpeq_epi8(c, cr)));
    if (m) return p + i + size_t(__builtin_ctz(unsigned(m)));
  }
#endif
  for (; i < n; ++i)
    if (isLineEnd(p[i])) return p + i;
  return nullptr;
}

}  // namespace

LineReader::LineReader(InputFile& file, size_t blockSize)
    : fill_([&file](char* to, size_t n) { return file.readFully(to, n); }),
      blockSize_(blockSize < kMaxLineLength ? kMaxLineLength : blockSize) {
  startReading();
}

LineReader::LineReader(std::FILE* file, size_t blockSize)
    : fill_([file](char* to, size_t n) {
        const size_t got = std::fread(to, 1, n, file);
        return got < n && std::ferror(file) ? -1L : long(got);
      }),
      blockSize_(blockSize < kMaxLineLength ? kMaxLineLength : blockSize) {
  startReading();
}

void LineReader::startReading() {
  for (Block& b : blocks_) b.mem.reset(new char[kMaxLineLength + blockSize_]);
  reader_ = std::thread([this] { readerLoop(); });
  if (!nextBlock(0)) {
    // Nothing at all to read: an empty current block.
    noMoreData_ = true;
    current_ = 0;
    pos_ = end_ = kMaxLineLength;
  }
}

LineReader::~LineReader() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  reader_.join();
}

void LineReader::readerLoop() {
  bool finished = false;  // end of file or a read error: nothing more to read
  for (int k = 0;; k = (k + 1) % kBlocks) {
    Block& b = blocks_[k];
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || !b.ready; });
      if (stop_) return;
    }
    size_t got = 0;
    bool error = false;
    if (!finished) {
      const long n = fill_(b.mem.get() + kMaxLineLength, blockSize_);
      got = n > 0 ? size_t(n) : 0;
      if (n < long(blockSize_)) {
        error = n < 0;
        finished = true;
      }
    }
    {
      std::lock_guard lock(mutex_);
      b.len = got;
      b.error = error;
      b.ready = true;
    }
    // After the end, every block handed back reads as empty.
    done_.notify_all();
  }
}

bool LineReader::nextBlock(size_t carry) {
  int next = (current_ + 1) % kBlocks;
  Block& b = blocks_[next];
  {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return b.ready; });
  }
  if (b.error) error_ = true;
  if (b.len == 0) return false;
  // The unfinished line goes just in front of the new data.
  char* base = b.mem.get();
  if (carry > 0) std::memcpy(base + kMaxLineLength - carry, blocks_[current_].mem.get() + end_ - carry, carry);
  pos_ = kMaxLineLength - carry;
  end_ = kMaxLineLength + b.len;
  if (current_ >= 0) {
    // The block just left is free for the reader again.
    {
      std::lock_guard lock(mutex_);
      blocks_[current_].ready = false;
    }
    wake_.notify_all();
  }
  current_ = next;
  return true;
}

LineReader::Status LineReader::next(std::string_view& line) {
  for (;;) {
    const char* base = blocks_[current_].mem.get();
    size_t avail = end_ - pos_;
    // The LF of a CR LF pair whose CR ended the line before: the pair is one
    // line end. It may be the first character of the next block.
    if (afterCr_ && avail > 0) {
      afterCr_ = false;
      if (base[pos_] == '\n') {
        ++pos_;
        continue;
      }
    }
    if (overlong_) {
      if (const char* nl = findLineEnd(base + pos_, avail)) {
        afterCr_ = *nl == '\r';
        pos_ = size_t(nl - base) + 1;
        overlong_ = false;
        return Status::Overlong;
      }
      pos_ = end_;
      if (noMoreData_ || !nextBlock(0)) {
        noMoreData_ = true;
        overlong_ = false;
        return error_ ? Status::ReadError : Status::Overlong;
      }
      continue;
    }
    size_t look = avail < kMaxLineLength ? avail : kMaxLineLength;
    if (const char* nl = findLineEnd(base + pos_, look)) {
      afterCr_ = *nl == '\r';
      size_t len = size_t(nl - (base + pos_)) + 1;
      line = std::string_view(base + pos_, len);
      pos_ += len;
      return Status::Line;
    }
    if (avail >= kMaxLineLength) {
      overlong_ = true;  // no line end within the limit: skip to it
      continue;
    }
    if (!noMoreData_ && nextBlock(avail)) continue;
    noMoreData_ = true;
    if (error_) return Status::ReadError;
    if (avail > 0) {  // the last line, without a line end
      line = std::string_view(base + pos_, avail);
      pos_ = end_;
      return Status::Line;
    }
    return Status::End;
  }
}

}  // namespace vrx4
