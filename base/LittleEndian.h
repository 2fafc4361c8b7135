#pragma once
// Little-endian field types for records that travel to the unit or into
// files. Each holds its bytes in wire order and has byte alignment, so a
// record made of them has the exact byte layout on any host and can be
// copied to and from the wire or a file as it is.
#include <bit>
#include <cstdint>
#include <cstring>

namespace vrx4 {

template <typename T>
class Le {
 public:
  static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
  constexpr Le() = default;
  Le(T v) { set(v); }  // NOLINT: implicit by design
  Le& operator=(T v) {
    set(v);
    return *this;
  }
  operator T() const { return get(); }  // NOLINT: implicit by design
  T get() const {
    using U = std::conditional_t<
        sizeof(T) == 1, uint8_t,
        std::conditional_t<sizeof(T) == 2, uint16_t, std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
    U u = 0;
    for (size_t i = 0; i < sizeof(T); ++i) u = U(u | (U(b_[i]) << (8 * i)));
    return std::bit_cast<T>(u);
  }
  void set(T v) {
    using U = std::conditional_t<
        sizeof(T) == 1, uint8_t,
        std::conditional_t<sizeof(T) == 2, uint16_t, std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
    U u = std::bit_cast<U>(v);
    for (size_t i = 0; i < sizeof(T); ++i) b_[i] = uint8_t(u >> (8 * i));
  }

 private:
  uint8_t b_[sizeof(T)] = {};
};

using LeU16 = Le<uint16_t>;
using LeU32 = Le<uint32_t>;
using LeI32 = Le<int32_t>;
using LeF32 = Le<float>;

static_assert(sizeof(LeU32) == 4 && alignof(LeU32) == 1);
static_assert(sizeof(LeF32) == 4 && alignof(LeF32) == 1);

// A 64-block mask: block k is bit (k mod 8) of byte (k div 8).
struct BlockMask {
  uint8_t bytes[8] = {};
  bool test(int k) const { return k >= 0 && k < 64 && (bytes[k / 8] >> (k % 8)) & 1; }
  void set(int k, bool on = true) {
    if (k < 0 || k >= 64) return;
    if (on)
      bytes[k / 8] = uint8_t(bytes[k / 8] | (1u << (k % 8)));
    else
      bytes[k / 8] = uint8_t(bytes[k / 8] & ~(1u << (k % 8)));
  }
  bool any() const {
    for (uint8_t b : bytes)
      if (b) return true;
    return false;
  }
  bool operator==(const BlockMask&) const = default;
};
static_assert(sizeof(BlockMask) == 8 && alignof(BlockMask) == 1);

}  // namespace vrx4
