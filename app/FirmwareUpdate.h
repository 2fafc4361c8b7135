#pragma once
// The unit's firmware update: reading the firmware file "vrx4.fwp" into a
// 512 KiB image and sending its 1792 pages to the unit in update mode.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vrx4 {

inline constexpr uint32_t kFirmwareBase = 0xF80000;
inline constexpr uint32_t kFirmwareAreaEnd = 0xFEFFFF;
inline constexpr size_t kFirmwareImageSize = 0x80000;
inline constexpr uint32_t kFirmwareModelOffset = 0x60000;  // "T552-VRX4"
// Where a firmware image carries its own version (8 characters) and date
// (16) texts; the unit reports them after it has been updated.
inline constexpr uint32_t kFirmwareVersionOffset = 0x60020;
inline constexpr uint32_t kFirmwareDateOffset = 0x60030;
inline constexpr uint16_t kFirmwareFirstPage = 0xF800;
inline constexpr uint16_t kFirmwareLastPage = 0xFEFF;
inline constexpr uint32_t kFirmwarePageCount = 1792;
inline constexpr uint32_t kUpdateTotal = 1797;         // pages + 5 steps
inline constexpr uint32_t kUpdateFailed = 1797 + 256;  // 2053
inline constexpr const char* kFirmwareFileName = "vrx4.fwp";
// How long the unit may stay busy writing its new firmware (it normally
// takes seconds) before the update is given up as failed.
inline constexpr uint64_t kUpdateBusyLimitMs = 5 * 60 * 1000;
inline constexpr const char* kFirmwareUpdateErrorText = "Firmware update error.";
inline constexpr const char* kNoFirmwareFileText = "No firmware update file found.";
inline constexpr const char* kInvalidAddressText = "Invalid address contained.";
inline constexpr const char* kUnitModel = "T552-VRX4";

using FirmwareImage = std::vector<uint8_t>;  // kFirmwareImageSize bytes

// Reads the firmware file into image (filled with 0xFF first); shows its own
// messages. image is replaced only when the whole file is good.
bool readFirmwareFile(const std::string& path, FirmwareImage& image);

// The update worker: begin (0xF007), the 1792 pages, the busy poll, firmware
// mode, the state check. progress ends at kUpdateTotal on success and at
// kUpdateFailed on any failure. A unit still busy after kUpdateBusyLimitMs
// gets "Firmware update error." before the progress says failed. A stop
// request ends it, failed and without a message, before the next page or
// busy poll.
void updateWorker(const FirmwareImage& image, std::atomic<uint32_t>& progress);

}  // namespace vrx4
