#pragma once
// One free function per unit command. Each builds its frame on its own stack
// buffer, seals it, exchanges it and, for queries, fills the caller's record
// only on success. Failures have been reported by the frame exchange.
#include <cstdint>
#include <string>

#include "base/CanSetting.h"
#include "base/DeviceDef.h"
#include "base/IdCode.h"
#include "base/LittleEndian.h"
#include "base/LockBitTable.h"

namespace vrx4 {

// Command codes.
enum CommandCode : uint8_t {
  kCmdSetExecutionMode = 0x01,
  kCmdGetExecutionState = 0x02,
  kCmdBeginFirmwareUpdate = 0x03,
  kCmdWriteFirmwarePage = 0x04,
  kCmdGetUpdateState = 0x05,
  kCmdGetUnitInfo = 0x06,
  kCmdSetDevice = 0x11,
  kCmdSetUserDataPresent = 0x12,
  kCmdSetUserFileName = 0x13,
  kCmdSetBlockChecksums = 0x14,
  kCmdSetIdCode = 0x15,
  kCmdSetOperation = 0x16,
  kCmdSetBlockSettings = 0x17,
  kCmdSetCanSetting = 0x18,
  kCmdInitializeUnit = 0x19,
  kCmdBeginUserDataDownload = 0x1A,
  kCmdBeginBootDataDownload = 0x1B,
  kCmdWriteDataPage = 0x1C,
  kCmdGetBusyState = 0x1D,
  kCmdReadDataPage = 0x1E,
  kCmdStartOperation = 0x1F,
  kCmdGetOperationStatus = 0x20,
  kCmdAbortOperation = 0x21,
  kCmdGetInitialLoadData = 0x22,
  kCmdReadLockBits = 0x23,
  kCmdReadVersion = 0x24,
  kCmdGetBootAreaInfo = 0x41,
};

enum ExecutionMode : uint8_t { kUpdateMode = 1, kFirmwareMode = 2 };

inline constexpr uint16_t kFirmwareUpdateKey = 0xF007;

struct UnitInfo {
  std::string model;  // must begin with "T552-VRX4"
  std::string secondName;
  std::string secondDate;
  std::string firmwareVersion;           // first 8 characters compared with the host's
  std::string firmwareVersionCollapsed;  // runs of spaces collapsed (display)
  std::string firmwareDate;
};

// The settings the unit keeps between runs (command 34).
struct InitialLoadData {
  bool hasSettings = false;  // false: name length above 63, nothing else read
  std::string deviceName;
  uint8_t unused3 = 0;
  std::string userFileName;
  uint16_t blockSums[64] = {};
  uint8_t idLength = 0;
  uint8_t idBytes[64] = {};
  uint8_t operationCode = 0;  // 1..6
  uint8_t lockBitState = 0;
  BlockMask operationBlockMask;
  BlockMask lockAfterProgramMask;
  uint8_t canTiming[6] = {};  // CanSetting bytes 0..5
  uint8_t sendFrameMask = 0;  // CanSetting byte 6
  CanSendFrame preFrame;
  CanSendFrame postFrame;
  uint8_t pulseEnabled = 0;
  uint16_t pulseCycleMs = 0;
  uint8_t sendFlags = 0;  // bit 0 pre sending, bit 1 post sending
};

enum class LoadDataResult { Ok, LinkFailure, Inconsistent };

// Boot-area record (command 65).
struct BootAreaInfo {
  uint8_t flag = 0;
  std::string bootFileName;
  uint32_t bootStart = 0;
  uint32_t bootSize = 0;
  uint16_t bootChecksum = 0;
  uint32_t bootEnd() const { return bootSize ? bootStart + bootSize - 1 : 0; }
};

// Operation status (command 32).
struct OperationStatus {
  uint8_t status = 0;  // bit 7 running, bits 0..6 percent
  uint8_t result = 0;  // OperationResult code 1..11
  bool running() const { return status & 0x80; }
  int percent() const { return status & 0x7F; }
};

bool setExecutionMode(uint8_t mode);
bool getExecutionState(uint8_t& mode);
bool beginFirmwareUpdate();
bool writeFirmwarePage(uint16_t page, const uint8_t* data256);
bool getUpdateState(bool& busy);
bool getUnitInfo(UnitInfo& info);
bool setDevice(const DeviceDef& device);
bool setUserDataPresent(bool present);
// Refuses (false, nothing sent) a name longer than 255 characters.
bool setUserFileName(const std::string& name);
bool setBlockChecksums(int blockCount, const uint16_t* sums);
bool setIdCode(const IdCode& id);
bool setOperation(uint8_t operationCode, uint8_t sendFlags);
bool setBlockSettings(const LockBitTable& table);
bool setCanSetting(const CanSetting& can);
bool initializeUnit();
bool beginUserDataDownload();
bool beginBootDataDownload();
bool writeDataPage(uint16_t page, const uint8_t* data256);
bool getBusyState(bool& busy);
bool readDataPage(uint16_t page, uint8_t* data256);
bool startOperation();
bool getOperationStatus(OperationStatus& status);
bool abortOperation();
LoadDataResult getInitialLoadData(InitialLoadData& data);
bool readLockBits(BlockMask& locked);
bool readVersion(std::string& version);
bool getBootAreaInfo(BootAreaInfo& info);

// Collapses every run of spaces into one space.
std::string collapseSpaces(const std::string& text);

}  // namespace vrx4
