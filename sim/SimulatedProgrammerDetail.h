#pragma once
// What the parts of SimulatedProgrammer share: its answer codes, its limits
// and the byte fields of its payloads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/FrameExchange.h"
#include "sim/UnitState.h"

namespace vrx4::unitsim {

// The answer codes are the error statuses the host reads.
inline constexpr uint8_t kExec = kStatusExecution;   // refused: wrong mode, length or value
inline constexpr uint8_t kUnknown = kStatusCommand;  // no such command
inline constexpr uint8_t kNoTarget = kStatusNoTarget;
inline constexpr uint32_t kStagingSize = 0x70000;
inline constexpr uint16_t kFirstFirmwarePage = 0xF800;
inline constexpr uint16_t kLastFirmwarePage = 0xFEFF;
inline constexpr double kUpdateBusyMs = 1500;
inline constexpr double kResetBusyMs = 2000;
inline constexpr uint32_t kStuckPollLimit = 20000;  // polls within one clock millisecond
inline constexpr size_t kMaxKeptName = 64;
inline constexpr size_t kMaxKeptId = kMaxKeptIdCodeLength;
inline constexpr size_t kMaxKeptFileName = kMaxKeptFileNameLength;

inline void putText(std::vector<uint8_t>& v, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) v.push_back(i < text.size() ? uint8_t(text[i]) : 0);
}

inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

inline bool printable(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

inline std::string textField(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] >= 0x20 && p[len] <= 0x7E) ++len;
  std::string s(reinterpret_cast<const char*>(p), len);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace vrx4::unitsim
