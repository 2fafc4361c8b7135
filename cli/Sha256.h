#pragma once
// SHA-256 of a file, for the job record (which program file went into the
// board).
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/InputFile.h"

namespace vrx4::cli {

class Sha256 {
 public:
  Sha256();
  void update(const uint8_t* data, size_t length);
  // 64 lower-case hex digits; the object is spent afterwards.
  std::string hexDigest();

 private:
  void block(const uint8_t* p);
  uint32_t h_[8];
  uint8_t buffer_[64];
  size_t used_ = 0;
  uint64_t length_ = 0;
};

// The digest of a whole program file, opened as the loader opens one;
// false when it cannot be read.
bool sha256File(const std::string& path, std::string& hex);

// While it lives, the digest of each program file read on this thread is
// taken from the bytes the reader read: `hex` holds that of the last one
// read whole, and is empty after one that could not be read.
class ProgramFileDigest final : public InputTap {
 public:
  explicit ProgramFileDigest(std::string& hex);
  ~ProgramFileDigest() override;
  ProgramFileDigest(const ProgramFileDigest&) = delete;
  ProgramFileDigest& operator=(const ProgramFileDigest&) = delete;

  bool opened(InputKind kind, const std::string& path) override;
  void bytes(const uint8_t* data, size_t length) override;
  void closed(bool whole) override;

 private:
  std::string& hex_;
  Sha256 sha_;
  InputTap* previous_;
};

}  // namespace vrx4::cli
