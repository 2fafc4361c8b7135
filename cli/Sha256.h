#pragma once
// SHA-256 of a file, for the job record (which program file went into the
// board).
#include <cstddef>
#include <cstdint>
#include <string>

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

// The digest of a whole file; false when it cannot be read.
bool sha256File(const std::string& path, std::string& hex);

}  // namespace vrx4::cli
