#include "image/ProgramSaver.h"

#include "base/AtomicFile.h"
#include "base/TextChars.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace vrx4 {
namespace {

// One number of the address grammar at text[i]: blanks, a run of hex
// digits (none counts as 0), blanks. False when the value cannot be an
// address at all.
bool readNumber(std::string_view t, size_t& i, int64_t& value) {
  while (i < t.size() && isSpaceOrTab(t[i])) ++i;
  int64_t v = 0;
  while (i < t.size() && hexDigitValue(t[i]) >= 0) {
    v = v * 16 + hexDigitValue(t[i]);
    if (v > 0xFFFFFFFF) return false;
    ++i;
  }
  while (i < t.size() && isSpaceOrTab(t[i])) ++i;
  value = v;
  return true;
}

// The file being written: two buffers in front of a descriptor on a
// temporary name beside the final one. While the records go into one
// buffer, a thread of its own writes the other, so formatting and the
// kernel's copying overlap.
class OutFile {
 public:
  explicit OutFile(std::atomic<uint32_t>& position) : position_(position) {
    buf_[0].reset(new char[kCap]);
    buf_[1].reset(new char[kCap]);
  }
  ~OutFile() {
    stopWriter();
    file_.discard();
  }

  // Why the file could not be created or written (for the log line).
  const std::string& reason() const { return reason_; }

  bool create(const std::string& requested) {
    if (requested.empty()) return refuse("no file name");
    std::string path = requested;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
      // Only a regular file is replaced: renaming over a folder, a device or
      // a pipe would destroy it rather than write it.
      if (!S_ISREG(st.st_mode)) return refuse(S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file");
      // Through a symbolic link the file it names is replaced, not the link.
      if (char* real = ::realpath(path.c_str(), nullptr)) {
        path = real;
        std::free(real);
      }
      // A file the operator may not write is refused as opening it would
      // be; the file that replaces it keeps its permissions.
      if (::access(path.c_str(), W_OK) != 0) return refuse(std::strerror(errno));
      keepMode_ = true;
      mode_ = st.st_mode & 07777;
    }
    // The temporary beside the target cannot outlive this process, and
    // those a killed save of the same file left are removed first.
    if (!file_.open(path, 0666))
      return refuse(file_.errorNumber() ? std::strerror(file_.errorNumber()) : file_.error());
    fd_ = file_.fd();
    if (keepMode_ && ::fchmod(fd_, mode_) != 0) return refuse(std::strerror(errno));
    writer_ = std::thread([this] { writerLoop(); });
    return true;
  }

  // Room for one more record at the write pointer.
  char* reserve() {
    if (len_ > kCap - kRecordRoom) flush();
    return buf_[active_].get() + len_;
  }
  void commit(char* end) { len_ = size_t(end - buf_[active_].get()); }
  void put(std::string_view s) {
    char* p = reserve();
    std::copy(s.begin(), s.end(), p);
    commit(p + s.size());
  }
  void advance() { pending_ += 16; }

  // Reserves room for about `bytes` of output at once (where the file
  // system can), which makes the writes that follow cheaper; the file is cut
  // to what was written at the end.
  void preallocate(uint64_t bytes) {
#ifdef __linux__
    if (bytes > 0 && ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes)) == 0) preallocated_ = true;
#else
    (void)bytes;
#endif
  }

  SaveResult finish() {
    flush();
    stopWriter();
    if (failed_) return writeFailed(writeErrno_);
    // Room reserved beyond the end is given back.
    if (preallocated_ && ::ftruncate(fd_, off_t(written_)) != 0) return writeFailed(errno);
    fd_ = -1;
    // Synced before and after the rename: a power loss keeps the old or the
    // new file.
    return file_.commit() ? SaveResult::Ok : writeFailed(file_.errorNumber());
  }

 private:
  bool refuse(std::string why) {
    reason_ = std::move(why);
    return false;
  }
  SaveResult writeFailed(int error) {
    reason_ = error ? std::strerror(error) : "write failed";
    return SaveResult::WriteFailed;
  }

  static constexpr size_t kCap = 256 * 1024;
  static constexpr size_t kRecordRoom = 128;

  // Hands the filled buffer to the writer thread (after it has finished the
  // one before) and goes on in the other.
  void flush() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !busy_; });
    busy_ = true;
    submitted_ = active_;
    submittedLen_ = len_;
    work_.notify_one();
    lock.unlock();
    active_ ^= 1;
    len_ = 0;
    position_.fetch_add(pending_, std::memory_order_relaxed);
    pending_ = 0;
  }

  void writerLoop() {
    for (;;) {
      std::unique_lock lock(mutex_);
      work_.wait(lock, [this] { return busy_ || stop_; });
      if (!busy_) return;  // stopped with nothing left to write
      int index = submitted_;
      size_t len = submittedLen_;
      bool failed = failed_;
      lock.unlock();
      const char* data = buf_[index].get();
      size_t done = 0;
      while (!failed && done < len) {
        ssize_t w = ::write(fd_, data + done, len - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          failed = true;
          writeErrno_ = w < 0 ? errno : ENOSPC;
        } else
          done += size_t(w);
      }
      lock.lock();
      written_ += done;
      failed_ = failed;
      busy_ = false;
      idle_.notify_one();
    }
  }

  void stopWriter() {
    if (!writer_.joinable()) return;
    {
      std::unique_lock lock(mutex_);
      idle_.wait(lock, [this] { return !busy_; });
      stop_ = true;
      work_.notify_one();
    }
    writer_.join();
  }

  std::atomic<uint32_t>& position_;
  std::unique_ptr<char[]> buf_[2];
  int active_ = 0;
  size_t len_ = 0;
  uint32_t pending_ = 0;
  int fd_ = -1;
  AtomicFile file_;
  bool keepMode_ = false;
  mode_t mode_ = 0;

  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable work_, idle_;
  bool busy_ = false;  // a buffer is with the writer thread
  bool stop_ = false;
  bool failed_ = false;
  int writeErrno_ = 0;  // errno of the failed write (set by the writer thread)
  std::string reason_;
  int submitted_ = 0;
  size_t submittedLen_ = 0;
  uint64_t written_ = 0;
  bool preallocated_ = false;
};

// An upper bound of the output size: every range in full records of 16
// bytes plus one short record at each end and at each 64 KiB boundary, each
// record with its frame, and an extended address record per bank.
uint64_t outputEstimate(const SaveRequest& r, int frame) {
  uint64_t total = 64;
  for (const SaveRange& range : effectiveSaveRanges(r)) {
    int64_t s = std::max<int64_t>(range.start, r.areaStart);
    int64_t e = std::min<int64_t>(range.end, r.areaEnd);
    if (s > e) continue;
    uint64_t n = uint64_t(e - s + 1);
    uint64_t banks = n / 0x10000 + 2;
    uint64_t records = n / 16 + 2 * banks + 2;
    total += 2 * n + records * uint64_t(frame) + banks * 20;
  }
  return total;
}

// "00" .. "FF", two characters per byte value.
struct DigitPairs {
  char v[512];
  constexpr DigitPairs() : v() {
    const char* d = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) {
      v[2 * b] = d[b >> 4];
      v[2 * b + 1] = d[b & 0xF];
    }
  }
};
constexpr DigitPairs kPairs;

[[gnu::always_inline]] inline char* putByte(char* p, uint32_t b) {
  std::memcpy(p, kPairs.v + 2 * (b & 0xFF), 2);
  return p + 2;
}

// The part of a range that lies inside the area, as [s, e]; s > e when none.
void clampToArea(const SaveRequest& r, const SaveRange& range, int64_t& s, int64_t& e) {
  s = std::max<int64_t>(range.start, r.areaStart);
  e = std::min<int64_t>(range.end, r.areaEnd);
}

// The data bytes of one record as digit pairs; returns their sum. The full
// 16-byte record, nearly every record of a file, is turned into its 32
// digits at once.
[[gnu::always_inline]] inline uint32_t putData(char*& p, const uint8_t* data, int n) {
  uint32_t sum = 0;
#if defined(__SSE2__)
  if (n == 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    const __m128i mask = _mm_set1_epi8(0x0F);
    const __m128i hi = _mm_and_si128(_mm_srli_epi16(b, 4), mask);
    const __m128i lo = _mm_and_si128(b, mask);
    // Digit of a nibble: '0' + v, and 7 more from 10 on ('A' = '0' + 17).
    auto digits = [](__m128i v) {
      const __m128i letter = _mm_cmpgt_epi8(v, _mm_set1_epi8(9));
      return _mm_add_epi8(_mm_add_epi8(v, _mm_set1_epi8('0')), _mm_and_si128(letter, _mm_set1_epi8(7)));
    };
    const __m128i h = digits(hi), l = digits(lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_unpacklo_epi8(h, l));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm_unpackhi_epi8(h, l));
    const __m128i sums = _mm_sad_epu8(b, _mm_setzero_si128());
    sum = uint32_t(_mm_cvtsi128_si32(sums)) + uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    p += 32;
    return sum;
  }
#endif
  for (int i = 0; i < n; ++i) {
    sum += data[i];
    p = putByte(p, data[i]);
  }
  return sum;
}

void hexRecord(OutFile& out, uint32_t type, uint32_t offset, const uint8_t* data, int n) {
  char* p = out.reserve();
  *p++ = ':';
  uint32_t sum = uint32_t(n) + ((offset >> 8) & 0xFF) + (offset & 0xFF) + type;
  p = putByte(p, uint32_t(n));
  p = putByte(p, offset >> 8);
  p = putByte(p, offset);
  p = putByte(p, type);
  sum += putData(p, data, n);
  p = putByte(p, (0x100 - (sum & 0xFF)) & 0xFF);
  *p++ = '\r';
  *p++ = '\n';
  out.commit(p);
}

}  // namespace

bool parseSaveAddress(std::string_view text, uint32_t low, uint32_t high, SaveRanges& out) {
  SaveRanges result{};
  bool blankOnly = std::all_of(text.begin(), text.end(), isSpaceOrTab);
  if (blankOnly) {
    out = result;
    return true;
  }
  size_t i = 0;
  int items = 0;
  for (;;) {
    if (items == kMaxSaveRanges) return false;  // a sixth item
    int64_t a, b;
    if (!readNumber(text, i, a)) return false;
    if (a < int64_t(low) || a > int64_t(high)) return false;
    b = a;
    if (i < text.size() && text[i] == '-') {
      ++i;
      if (!readNumber(text, i, b)) return false;
      if (b < int64_t(low) || b > int64_t(high) || b <= a) return false;
    }
    result[size_t(items)] = SaveRange{uint32_t(a), uint32_t(b)};
    result.count = ++items;
    if (i == text.size()) break;
    if (text[i] != ',') return false;  // a second '-' or any other character
    ++i;
  }
  out = result;
  return true;
}

std::vector<SaveRange> effectiveSaveRanges(const SaveRequest& r) {
  if (r.ranges.count <= 0) return {SaveRange{r.areaStart, r.areaEnd}};
  const size_t n = std::min<size_t>(size_t(r.ranges.count), r.ranges.size());
  return std::vector<SaveRange>(r.ranges.pairs.begin(), r.ranges.pairs.begin() + ptrdiff_t(n));
}

namespace {
// Hands the reason of a failed save to the caller that asked for it.
SaveResult failed(SaveResult r, const OutFile& out, std::string* why) {
  if (r != SaveResult::Ok && why) *why = out.reason();
  return r;
}
}  // namespace

const char* saveResultMessage(SaveResult r) {
  switch (r) {
    case SaveResult::Ok:
      return "";
    case SaveResult::CreateFailed:
      return kFileCreateError;
    case SaveResult::WriteFailed:
      return kFileWriteError;
  }
  return "";
}

SaveResult writeIntelHex(const SaveRequest& r, std::atomic<uint32_t>& position, std::string* why) {
  OutFile out(position);
  if (!out.create(r.path)) return failed(SaveResult::CreateFailed, out, why);
  out.preallocate(outputEstimate(r, 13));
  const bool extended = r.areaEnd > 0xFFFF;
  const bool high = (uint32_t(r.areaEnd) & 0xFFF00000u) != 0;
  for (const SaveRange& range : effectiveSaveRanges(r)) {
    int64_t s, e;
    clampToArea(r, range, s, e);
    int64_t a = s;
    while (a <= e) {
      if (extended) {
        uint8_t v[2];
        uint32_t value = high ? uint32_t(a >> 16) : uint32_t(a >> 4) & 0xF000;
        v[0] = uint8_t(value >> 8);
        v[1] = uint8_t(value);
        hexRecord(out, high ? 0xFF : 0x02, 0, v, 2);
      }
      const int64_t runOffset = a & 0xFFFF;
      int64_t written = 0;
      for (;;) {
        // A record never crosses a 64 KiB boundary: its bytes beyond it
        // would need the next extended address.
        int64_t n = std::min<int64_t>({16, e - a + 1, 0x10000 - (a & 0xFFFF)});
        hexRecord(out, 0x00, uint32_t(a & 0xFFFF), r.image + (a - r.areaStart), int(n));
        a += n;
        out.advance();
        ++written;
        if (a > e || (a & 0xFFFF) == 0 || runOffset + 16 * written >= 0x10000) break;
      }
    }
  }
  out.put(":00000001FF\r\n");
  return failed(out.finish(), out, why);
}

SaveResult writeSRecords(const SaveRequest& r, std::atomic<uint32_t>& position, std::string* why) {
  OutFile out(position);
  if (!out.create(r.path)) return failed(SaveResult::CreateFailed, out, why);
  out.preallocate(outputEstimate(r, 16));
  out.put("S0030000FC\r\n");
  int addressBytes = r.areaEnd > 0xFFFFFF ? 4 : r.areaEnd > 0xFFFF ? 3 : 2;
  const char kind = char('0' + addressBytes - 1);
  for (const SaveRange& range : effectiveSaveRanges(r)) {
    int64_t s, e;
    clampToArea(r, range, s, e);
    for (int64_t a = s; a <= e;) {
      int n = int(std::min<int64_t>(16, e - a + 1));
      const uint8_t* data = r.image + (a - r.areaStart);
      uint32_t count = uint32_t(n + addressBytes + 1);
      char* p = out.reserve();
      *p++ = 'S';
      *p++ = kind;
      p = putByte(p, count);
      uint32_t sum = count;
      for (int k = addressBytes - 1; k >= 0; --k) {
        uint32_t b = uint32_t(a >> (8 * k)) & 0xFF;
        sum += b;
        p = putByte(p, b);
      }
      sum += putData(p, data, n);
      p = putByte(p, 0xFF - (sum & 0xFF));
      *p++ = '\r';
      *p++ = '\n';
      out.commit(p);
      out.advance();
      a += n;
    }
  }
  out.put(addressBytes == 4 ? "S70500000000FA\r\n" : addressBytes == 3 ? "S804000000FB\r\n" : "S9030000FC\r\n");
  return failed(out.finish(), out, why);
}

SaveResult writeWholeFile(const std::string& path, const void* data, size_t size, std::string* why) {
  std::atomic<uint32_t> unused{0};
  OutFile out(unused);
  if (!out.create(path)) return failed(SaveResult::CreateFailed, out, why);
  const char* p = static_cast<const char*>(data);
  // In pieces no larger than the room the buffer guarantees per record.
  for (size_t done = 0; done < size;) {
    size_t n = std::min<size_t>(64, size - done);
    out.put(std::string_view(p + done, n));
    done += n;
  }
  return failed(out.finish(), out, why);
}

bool savesAsIntelHex(std::string_view path) {
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot + 1 >= path.size()) return false;
  return path[dot + 1] == 'H' || path[dot + 1] == 'h';
}

SaveResult saveProgramFile(const SaveRequest& request, std::atomic<uint32_t>& position, std::string* why) {
  return savesAsIntelHex(request.path) ? writeIntelHex(request, position, why) : writeSRecords(request, position, why);
}

}  // namespace vrx4
