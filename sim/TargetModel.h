#pragma once
// The target microcontroller behind the simulated unit: its user-ROM flash
// (blank 0xFF), its blocks with one lock bit each, the ID code it holds and
// the version text it reports.
//
// The unit learns the target's shape only from the setDevice payload, which
// carries the first ID code address alone. The target therefore holds its ID
// code in idCodeLength consecutive bytes from that address, unless the owner
// supplies the full address list of the device (setIdCodeAddresses). Bytes
// outside the user ROM read as 0xFF.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/LittleEndian.h"

namespace vrx4 {

// The device as the setDevice command describes it.
struct TargetGeometry {
  std::string name;
  uint32_t bootRomStart = 0;
  uint32_t bootRomSize = 0;
  uint32_t userRomStart = 0;
  uint32_t userRomSize = 0;
  uint8_t voltageCode = 0;
  uint8_t idCodeLength = 0;
  uint32_t idCodeAddress0 = 0;
  int blockCount = 0;
  uint32_t blockStart[64] = {};
  uint32_t blockSize[64] = {};
  uint8_t extraByte1 = 0;
  uint8_t extraByte2 = 0;
  uint8_t lockBitMode = 0;
  uint8_t blockSelectFlags = 0;

  // Reads a setDevice payload (from the length byte of the name on); none
  // when its length does not match n + 8b + 28 or a field is out of range
  // (name above 64 characters, more than 64 blocks, user ROM above 4 MiB,
  // boot ROM above 64 KiB).
  static std::optional<TargetGeometry> parse(const uint8_t* payload, size_t length);
  // The same payload back.
  std::vector<uint8_t> encode() const;
  // Same chip: everything but the name-independent option bytes agrees.
  bool sameChip(const TargetGeometry& other) const;
};

class TargetModel {
 public:
  // Fits a chip of this shape. The memory and lock bits stay when the same
  // kind of chip was fitted before, otherwise the new chip is blank.
  void fit(const TargetGeometry& geometry);
  void remove();
  bool fitted() const { return fitted_; }
  const TargetGeometry& geometry() const { return geometry_; }

  // Full ID code address list (device addresses); empty restores the
  // consecutive-bytes rule.
  void setIdCodeAddresses(std::vector<uint32_t> addresses);

  // User-ROM flash, index = address - userRomStart.
  const std::vector<uint8_t>& flash() const { return flash_; }
  std::vector<uint8_t>& flash() { return flash_; }
  BlockMask lockBits() const { return lockBits_; }
  void setLockBits(const BlockMask& m) { lockBits_ = m; }
  const std::string& versionText() const { return version_; }
  void setVersionText(const std::string& v);

  // The target's ID code bytes as it holds them now.
  std::vector<uint8_t> idCode() const;
  // An ID code area that is all 0xFF (never programmed): any ID code opens it.
  bool idCodeBlank() const;

  // Byte range [first, end) of block b inside the flash (clipped to the ROM).
  bool blockRange(int b, size_t& first, size_t& end) const;
  uint32_t blockBytes(int b) const;
  bool blockBlank(int b) const;
  void eraseBlock(int b);
  // Programs the block from the unit's 4 MiB buffer (indexed by 22-bit
  // address). Flash only clears bits: false when a byte would need a bit set.
  bool programBlock(int b, const uint8_t* unitBuffer);
  bool verifyBlock(int b, const uint8_t* unitBuffer) const;
  void readBlock(int b, uint8_t* unitBuffer) const;

 private:
  uint32_t unitAddress(size_t flashIndex) const;
  bool fitted_ = false;
  TargetGeometry geometry_;
  std::vector<uint8_t> flash_;
  BlockMask lockBits_;
  std::string version_ = "VER.1.00";
  std::vector<uint32_t> idAddresses_;
};

}  // namespace vrx4
