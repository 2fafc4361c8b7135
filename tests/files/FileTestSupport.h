#pragma once
// Helpers of the file tests: a temporary folder, whole-file reads and writes,
// devices built in place.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/DeviceDef.h"
#include "image/MemoryImage.h"

namespace vrx4::test {

class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "vrx4-files-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    path_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary);
  f << content;
}

inline std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline DeviceDef makeDevice(uint32_t start, uint32_t size, uint32_t protectAddress = 0xFFFFFFFF) {
  DeviceDef d;
  d.setName("TEST");
  d.userRomStart = start;
  d.userRomSize = size;
  d.userRomEnd = start + size - 1;
  d.protectAddress = protectAddress;
  return d;
}

inline std::unique_ptr<MemoryImage> makeImage() { return std::make_unique<MemoryImage>(); }

}  // namespace vrx4::test

namespace vrx4::test {

// One Intel HEX record with its checksum, CR LF ended.
inline std::string hexRecord(int type, uint32_t offset, const std::string& dataHex = "") {
  std::vector<uint32_t> bytes;
  for (size_t i = 0; i + 1 < dataHex.size(); i += 2) bytes.push_back(std::stoul(dataHex.substr(i, 2), nullptr, 16));
  uint32_t sum = uint32_t(bytes.size()) + (offset >> 8 & 0xFF) + (offset & 0xFF) + uint32_t(type);
  for (uint32_t b : bytes) sum += b;
  char head[16];
  std::snprintf(head, sizeof head, ":%02X%04X%02X", unsigned(bytes.size()), unsigned(offset & 0xFFFF), unsigned(type));
  char tail[8];
  std::snprintf(tail, sizeof tail, "%02X\r\n", unsigned((0x100 - (sum & 0xFF)) & 0xFF));
  return head + dataHex + tail;
}

// One S-record: kind '0'..'9', address of the kind's width, data, checksum.
inline std::string sRecord(char kind, uint32_t address, const std::string& dataHex = "", int countAdjust = 0) {
  int addressBytes = (kind == '2' || kind == '8') ? 3 : (kind == '3' || kind == '7') ? 4 : 2;
  std::vector<uint32_t> bytes;
  for (int k = addressBytes - 1; k >= 0; --k) bytes.push_back(address >> (8 * k) & 0xFF);
  for (size_t i = 0; i + 1 < dataHex.size(); i += 2) bytes.push_back(std::stoul(dataHex.substr(i, 2), nullptr, 16));
  uint32_t count = uint32_t(bytes.size() + 1 + countAdjust);
  std::string s = std::string("S") + kind;
  char b[4];
  std::snprintf(b, sizeof b, "%02X", count & 0xFF);
  s += b;
  uint32_t sum = count;
  // With an adjusted count the checksum still covers the bytes the count names.
  size_t covered = count == 0 ? 0 : count - 1;
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, "%02X", unsigned(bytes[i]));
    s += b;
    if (i < covered) sum += bytes[i];
  }
  std::snprintf(b, sizeof b, "%02X", unsigned(0xFF - (sum & 0xFF)));
  std::string check = b;
  // The checksum sits right after the bytes the count names.
  size_t pos = 4 + 2 * covered;
  if (pos > s.size()) pos = s.size();
  s.insert(pos, check);
  return s + "\r\n";
}

inline std::string repeatHex(const std::string& byteHex, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += byteHex;
  return s;
}

}  // namespace vrx4::test
