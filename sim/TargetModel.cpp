#include "sim/TargetModel.h"

#include <algorithm>
#include <cstring>

namespace vrx4 {
namespace {
uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
}  // namespace

std::optional<TargetGeometry> TargetGeometry::parse(const uint8_t* p, size_t length) {
  if (length < 1) return std::nullopt;
  const size_t n = p[0];
  if (n > 64 || length < n + 28) return std::nullopt;
  const size_t b = p[n + 23];
  if (b > 64 || length != n + 8 * b + 28) return std::nullopt;
  TargetGeometry g;
  g.name.assign(reinterpret_cast<const char*>(p + 1), n);
  const uint8_t* q = p + 1 + n;
  g.bootRomStart = get32(q);
  g.bootRomSize = get32(q + 4);
  g.userRomStart = get32(q + 8);
  g.userRomSize = get32(q + 12);
  g.voltageCode = q[16];
  g.idCodeLength = q[17];
  g.idCodeAddress0 = get32(q + 18);
  g.blockCount = int(b);
  q += 23;
  for (size_t i = 0; i < b; ++i) g.blockStart[i] = get32(q + 4 * i);
  for (size_t i = 0; i < b; ++i) g.blockSize[i] = get32(q + 4 * b + 4 * i);
  q += 8 * b;
  g.extraByte1 = q[0];
  g.extraByte2 = q[1];
  g.lockBitMode = q[2];
  g.blockSelectFlags = q[3];
  if (g.userRomSize > 0x400000 || g.bootRomSize > 0x10000 || g.idCodeLength > 32) return std::nullopt;
  return g;
}

std::vector<uint8_t> TargetGeometry::encode() const {
  std::vector<uint8_t> v;
  v.reserve(name.size() + 8 * size_t(blockCount) + 28);
  v.push_back(uint8_t(name.size()));
  v.insert(v.end(), name.begin(), name.end());
  put32(v, bootRomStart);
  put32(v, bootRomSize);
  put32(v, userRomStart);
  put32(v, userRomSize);
  v.push_back(voltageCode);
  v.push_back(idCodeLength);
  put32(v, idCodeAddress0);
  v.push_back(uint8_t(blockCount));
  for (int i = 0; i < blockCount; ++i) put32(v, blockStart[i]);
  for (int i = 0; i < blockCount; ++i) put32(v, blockSize[i]);
  v.push_back(extraByte1);
  v.push_back(extraByte2);
  v.push_back(lockBitMode);
  v.push_back(blockSelectFlags);
  return v;
}

bool TargetGeometry::sameChip(const TargetGeometry& o) const {
  if (name != o.name || userRomStart != o.userRomStart || userRomSize != o.userRomSize || blockCount != o.blockCount ||
      idCodeLength != o.idCodeLength || idCodeAddress0 != o.idCodeAddress0 || lockBitMode != o.lockBitMode)
    return false;
  for (int i = 0; i < blockCount; ++i)
    if (blockStart[i] != o.blockStart[i] || blockSize[i] != o.blockSize[i]) return false;
  return true;
}

void TargetModel::fit(const TargetGeometry& g) {
  const bool keep = fitted_ && geometry_.sameChip(g) && flash_.size() == g.userRomSize;
  geometry_ = g;
  fitted_ = true;
  if (!keep) {
    flash_.assign(g.userRomSize, 0xFF);
    lockBits_ = BlockMask{};
  }
}

void TargetModel::remove() {
  fitted_ = false;
  geometry_ = TargetGeometry{};
  flash_.clear();
  lockBits_ = BlockMask{};
}

void TargetModel::setIdCodeAddresses(std::vector<uint32_t> addresses) { idAddresses_ = std::move(addresses); }

void TargetModel::setVersionText(const std::string& v) {
  version_ = v.substr(0, 8);
  version_.resize(8, ' ');
}

std::vector<uint8_t> TargetModel::idCode() const {
  std::vector<uint8_t> id;
  const uint8_t len = fitted_ ? geometry_.idCodeLength : 0;
  const bool listed = idAddresses_.size() >= len;
  for (uint8_t i = 0; i < len; ++i) {
    const uint64_t a = listed ? idAddresses_[i] : uint64_t(geometry_.idCodeAddress0) + i;
    const uint64_t start = geometry_.userRomStart;
    id.push_back(a >= start && a - start < flash_.size() ? flash_[size_t(a - start)] : 0xFF);
  }
  return id;
}

bool TargetModel::idCodeBlank() const {
  for (uint8_t b : idCode())
    if (b != 0xFF) return false;
  return true;
}

bool TargetModel::blockRange(int b, size_t& first, size_t& end) const {
  first = end = 0;
  if (!fitted_ || b < 0 || b >= geometry_.blockCount) return false;
  const uint64_t romStart = geometry_.userRomStart;
  const uint64_t romEnd = romStart + flash_.size();
  const uint64_t s = std::max<uint64_t>(geometry_.blockStart[b], romStart);
  const uint64_t e = std::min<uint64_t>(uint64_t(geometry_.blockStart[b]) + geometry_.blockSize[b], romEnd);
  if (s >= e) return false;
  first = size_t(s - romStart);
  end = size_t(e - romStart);
  return true;
}

uint32_t TargetModel::blockBytes(int b) const {
  size_t f, e;
  return blockRange(b, f, e) ? uint32_t(e - f) : 0;
}

uint32_t TargetModel::unitAddress(size_t flashIndex) const {
  return uint32_t((geometry_.userRomStart + flashIndex) & 0x3FFFFF);
}

bool TargetModel::blockBlank(int b) const {
  size_t f, e;
  if (!blockRange(b, f, e)) return true;
  return std::all_of(flash_.begin() + std::ptrdiff_t(f), flash_.begin() + std::ptrdiff_t(e),
                     [](uint8_t x) { return x == 0xFF; });
}

void TargetModel::eraseBlock(int b) {
  size_t f, e;
  if (blockRange(b, f, e)) std::fill(flash_.begin() + std::ptrdiff_t(f), flash_.begin() + std::ptrdiff_t(e), 0xFF);
  lockBits_.set(b, false);
}

bool TargetModel::programBlock(int b, const uint8_t* unitBuffer) {
  size_t f, e;
  if (!blockRange(b, f, e)) return true;
  bool ok = true;
  for (size_t i = f; i < e; ++i) {
    const uint8_t want = unitBuffer[unitAddress(i)];
    if ((flash_[i] & want) != want) ok = false;
    flash_[i] &= want;
  }
  return ok;
}

bool TargetModel::verifyBlock(int b, const uint8_t* unitBuffer) const {
  size_t f, e;
  if (!blockRange(b, f, e)) return true;
  for (size_t i = f; i < e; ++i)
    if (flash_[i] != unitBuffer[unitAddress(i)]) return false;
  return true;
}

void TargetModel::readBlock(int b, uint8_t* unitBuffer) const {
  size_t f, e;
  if (!blockRange(b, f, e)) return;
  for (size_t i = f; i < e; ++i) unitBuffer[unitAddress(i)] = flash_[i];
}

}  // namespace vrx4
