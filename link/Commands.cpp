#include "link/Commands.h"

#include <algorithm>
#include <cstring>

#include "base/Log.h"
#include "base/Prompter.h"
#include "base/StartupMessage.h"
#include "link/FrameExchange.h"

namespace vrx4 {
namespace {

using CommandFrame::begin;
using CommandFrame::get16;
using CommandFrame::get32;
using CommandFrame::put16;
using CommandFrame::put32;

// Request buffers: every command reads its response back into the buffer it
// sent from, so each buffer holds the larger of the two lengths.
constexpr size_t kSmallBuffer = 256;
constexpr size_t kPageBuffer = 512;
constexpr size_t kLargeBuffer = 1024;

constexpr size_t kPageSize = 256;
constexpr int kMaxFileNameLength = 255;  // one length byte on the wire

// Seals the request already built in frame and exchanges it. The write length
// is the frame's own bodyLength + 3.
bool send(uint8_t* frame, size_t readLength) {
  frameChecksum(frame);
  return exchangeFrame(frame, readLength, size_t(CommandFrame::bodyLength(frame)) + 3);
}

// A request without payload into a buffer of the caller's.
bool sendBare(uint8_t* frame, size_t readLength, uint8_t command) {
  begin(frame, command, 1);
  return send(frame, readLength);
}

// A request without payload whose response carries no data.
bool sendBare(uint8_t command) {
  uint8_t frame[kSmallBuffer] = {};
  return sendBare(frame, sizeof frame, command);
}

// One past the last data byte of a good response (the checksum sits there).
size_t dataEnd(const uint8_t* frame) { return size_t(CommandFrame::bodyLength(frame)) + 2; }

// A good response must still carry every byte its command's data need; one
// that stops short is a damaged answer from the unit, not data.
bool responseHolds(const uint8_t* frame, size_t end) {
  if (dataEnd(frame) >= end) return true;
  showStartupAwareMessage(kMsgReadFailed, Icon::Stop);
  return false;
}

// A fixed-width text field: its characters up to the first NUL.
std::string textField(const uint8_t* p, size_t width) {
  const void* nul = std::memchr(p, 0, width);
  const size_t n = nul ? size_t(static_cast<const uint8_t*>(nul) - p) : width;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// Walks the fields of a response that follow each other from byte 4; every
// step is checked against the end of the received frame.
class FieldReader {
 public:
  explicit FieldReader(const uint8_t* frame) : frame_(frame), end_(dataEnd(frame)) {}
  // The next n bytes, or nullptr when they run past the frame.
  const uint8_t* take(size_t n) {
    if (pos_ > end_ || end_ - pos_ < n) return nullptr;
    const uint8_t* p = frame_ + pos_;
    pos_ += n;
    return p;
  }
  bool byte(uint8_t& out) {
    const uint8_t* p = take(1);
    if (p) out = *p;
    return p != nullptr;
  }
  bool bytes(void* out, size_t n) {
    const uint8_t* p = take(n);
    if (p && n) std::memcpy(out, p, n);
    return p != nullptr;
  }
  bool text(std::string& out, size_t n) {
    const uint8_t* p = take(n);
    if (p) out = textField(p, n);
    return p != nullptr;
  }

 private:
  const uint8_t* frame_;
  size_t end_;
  size_t pos_ = 4;
};

bool writePage(uint8_t command, uint16_t page, const uint8_t* data256) {
  uint8_t frame[kPageBuffer] = {};
  begin(frame, command, 3 + kPageSize);
  put16(frame + 3, page);
  std::memcpy(frame + 5, data256, kPageSize);
  return send(frame, sizeof frame);
}

bool readBusyFlag(uint8_t command, bool& busy) {
  uint8_t frame[kSmallBuffer] = {};
  if (!sendBare(frame, sizeof frame, command) || !responseHolds(frame, 5)) return false;
  busy = frame[4] == 1;
  return true;
}

}  // namespace

std::string collapseSpaces(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != ' ' || out.empty() || out.back() != ' ') out.push_back(c);
  return out;
}

bool setExecutionMode(uint8_t mode) {
  if (mode != kUpdateMode && mode != kFirmwareMode) {
    logLine("setExecutionMode: mode " + std::to_string(mode) + " is not a mode of the unit; not sent");
    return false;
  }
  uint8_t frame[kSmallBuffer] = {};
  begin(frame, kCmdSetExecutionMode, 2);
  frame[3] = mode;
  return send(frame, sizeof frame);
}

bool getExecutionState(uint8_t& mode) {
  uint8_t frame[kSmallBuffer] = {};
  if (!sendBare(frame, sizeof frame, kCmdGetExecutionState) || !responseHolds(frame, 5)) return false;
  mode = frame[4];
  return true;
}

bool beginFirmwareUpdate() {
  uint8_t frame[kSmallBuffer] = {};
  begin(frame, kCmdBeginFirmwareUpdate, 3);
  put16(frame + 3, kFirmwareUpdateKey);
  return send(frame, sizeof frame);
}

bool writeFirmwarePage(uint16_t page, const uint8_t* data256) {
  return writePage(kCmdWriteFirmwarePage, page, data256);
}

bool getUpdateState(bool& busy) { return readBusyFlag(kCmdGetUpdateState, busy); }

bool getUnitInfo(UnitInfo& info) {
  uint8_t frame[kSmallBuffer] = {};
  if (!sendBare(frame, sizeof frame, kCmdGetUnitInfo) || !responseHolds(frame, 116)) return false;
  info.model = textField(frame + 4, 16);
  info.secondName = textField(frame + 20, 32);
  info.secondDate = textField(frame + 52, 16);
  info.firmwareVersion = textField(frame + 68, 32);
  info.firmwareVersionCollapsed = collapseSpaces(info.firmwareVersion);
  info.firmwareDate = textField(frame + 100, 16);
  return true;
}

bool setDevice(const DeviceDef& device) {
  // A damaged settings record may carry any counts: only what the arrays
  // hold is sent.
  const int idCount = std::clamp<int32_t>(device.idCodeLength, 0, kMaxIdCodeLength);
  const int blocks = std::clamp<int32_t>(device.blockCount, 0, kMaxBlocks);
  const std::string name = device.name();  // at most 64 characters
  const size_t n = name.size();

  uint8_t frame[kLargeBuffer] = {};
  begin(frame, kCmdSetDevice, uint16_t(n + 8 * size_t(blocks) + 29));
  frame[3] = uint8_t(n);
  std::memcpy(frame + 4, name.data(), n);
  uint8_t* p = frame + 4 + n;
  put32(p + 0, device.bootRomStart);
  put32(p + 4, device.bootRomSize);
  put32(p + 8, device.userRomStart);
  put32(p + 12, device.userRomSize);
  p[16] = uint8_t(device.voltageCode.get());
  p[17] = uint8_t(idCount);
  put32(p + 18, device.idCodeAddress[0]);
  p[22] = uint8_t(blocks);
  p += 23;
  for (int k = 0; k < blocks; ++k) put32(p + 4 * k, device.blockStart[k]);
  p += 4 * blocks;
  for (int k = 0; k < blocks; ++k) put32(p + 4 * k, device.blockSize[k]);
  p += 4 * blocks;
  p[0] = device.extraByte1;
  p[1] = device.extraByte2;
  p[2] = device.lockBitMode;
  p[3] = device.blockSelectFlags;
  return send(frame, kSmallBuffer);
}

bool setUserDataPresent(bool present) {
  uint8_t frame[kSmallBuffer] = {};
  begin(frame, kCmdSetUserDataPresent, 2);
  frame[3] = present ? 1 : 0;
  return send(frame, sizeof frame);
}

bool setUserFileName(const std::string& name) {
  if (name.size() > size_t(kMaxFileNameLength)) {
    logLine("setUserFileName: a file name of " + std::to_string(name.size()) +
            " characters does not fit the unit's 255; not sent");
    return false;
  }
  const size_t n = name.size();
  uint8_t frame[kLargeBuffer] = {};
  begin(frame, kCmdSetUserFileName, uint16_t(n + 2));
  frame[3] = uint8_t(n);
  std::memcpy(frame + 4, name.data(), n);
  return send(frame, kSmallBuffer);
}

bool setBlockChecksums(int blockCount, const uint16_t* sums) {
  if (blockCount < 0 || blockCount > kMaxBlocks || (blockCount > 0 && !sums)) {
    logLine("setBlockChecksums: block count " + std::to_string(blockCount) + " out of range; not sent");
    return false;
  }
  uint8_t frame[kSmallBuffer] = {};
  begin(frame, kCmdSetBlockChecksums, uint16_t(2 * blockCount + 2));
  frame[3] = uint8_t(blockCount);
  for (int k = 0; k < blockCount; ++k) put16(frame + 4 + 2 * k, sums[k]);
  return send(frame, sizeof frame);
}

bool setIdCode(const IdCode& id) {
  // No device has more than 32 ID code bytes; a larger length from a damaged
  // record is cut there.
  const size_t n = std::min<size_t>(id.idLength, kMaxIdCodeLength);
  uint8_t frame[kSmallBuffer] = {};
  begin(frame, kCmdSetIdCode, uint16_t(n + 2));
  frame[3] = uint8_t(n);
  std::memcpy(frame + 4, id.idBytes, n);
  return send(frame, sizeof frame);
}

bool setOperation(uint8_t operationCode, uint8_t sendFlags) {
  uint8_t frame[kSmallBuffer] = {};
  begin(frame, kCmdSetOperation, 3);
  frame[3] = operationCode;
  frame[4] = sendFlags;
  return send(frame, sizeof frame);
}

bool setBlockSettings(const LockBitTable& table) {
  uint8_t frame[kSmallBuffer] = {};
  begin(frame, kCmdSetBlockSettings, 18);
  frame[3] = table.lockBitState;
  std::memcpy(frame + 4, table.operationBlockMask.bytes, 8);
  std::memcpy(frame + 12, table.lockAfterProgramMask.bytes, 8);
  return send(frame, sizeof frame);
}

bool setCanSetting(const CanSetting& can) {
  uint8_t frame[kSmallBuffer] = {};
  begin(frame, kCmdSetCanSetting, uint16_t(kCanSettingWireSize + 1));
  std::memcpy(frame + 3, &can, kCanSettingWireSize);
  frame[3 + 5] = 0;  // the reserved byte travels as 0
  return send(frame, sizeof frame);
}

bool initializeUnit() { return sendBare(kCmdInitializeUnit); }
bool beginUserDataDownload() { return sendBare(kCmdBeginUserDataDownload); }
bool beginBootDataDownload() { return sendBare(kCmdBeginBootDataDownload); }

bool writeDataPage(uint16_t page, const uint8_t* data256) { return writePage(kCmdWriteDataPage, page, data256); }

bool getBusyState(bool& busy) { return readBusyFlag(kCmdGetBusyState, busy); }

bool readDataPage(uint16_t page, uint8_t* data256) {
  uint8_t frame[kPageBuffer] = {};
  begin(frame, kCmdReadDataPage, 3);
  put16(frame + 3, page);
  if (!send(frame, sizeof frame) || !responseHolds(frame, 6 + kPageSize)) return false;
  std::memcpy(data256, frame + 6, kPageSize);
  return true;
}

bool startOperation() { return sendBare(kCmdStartOperation); }

bool getOperationStatus(OperationStatus& status) {
  uint8_t frame[kSmallBuffer] = {};
  if (!sendBare(frame, sizeof frame, kCmdGetOperationStatus) || !responseHolds(frame, 6)) return false;
  status.status = frame[4];
  status.result = frame[5];
  return true;
}

bool abortOperation() { return sendBare(kCmdAbortOperation); }

LoadDataResult getInitialLoadData(InitialLoadData& data) {
  uint8_t frame[kLargeBuffer] = {};
  if (!sendBare(frame, kPageBuffer, kCmdGetInitialLoadData)) return LoadDataResult::LinkFailure;

  FieldReader in(frame);
  uint8_t nameLen = 0;
  const bool haveNameLen = in.byte(nameLen);
  if (haveNameLen && nameLen > 63) {
    data.hasSettings = false;  // the unit holds no settings
    return LoadDataResult::Ok;
  }

  // Decoded into a copy: the caller's record changes only when all of it
  // was there and consistent.
  InitialLoadData d;
  d.hasSettings = true;
  uint8_t fileLen = 0;
  bool ok = haveNameLen && in.text(d.deviceName, nameLen) && in.byte(d.unused3) && in.byte(fileLen) &&
            in.text(d.userFileName, fileLen);
  for (int k = 0; ok && k < 64; ++k) {
    const uint8_t* p = in.take(2);
    if (p) d.blockSums[k] = get16(p);
    ok = p != nullptr;
  }
  ok = ok && in.byte(d.idLength) && d.idLength <= 64 && in.bytes(d.idBytes, d.idLength);
  ok = ok && in.byte(d.operationCode) && in.byte(d.lockBitState) && in.bytes(d.operationBlockMask.bytes, 8) &&
       in.bytes(d.lockAfterProgramMask.bytes, 8) && in.bytes(d.canTiming, sizeof d.canTiming) &&
       in.byte(d.sendFrameMask) && in.bytes(&d.preFrame, sizeof d.preFrame) &&
       in.bytes(&d.postFrame, sizeof d.postFrame) && in.byte(d.pulseEnabled);
  if (ok) {
    const uint8_t* p = in.take(2);
    if (p) d.pulseCycleMs = get16(p);
    ok = p != nullptr && in.byte(d.sendFlags);
  }
  if (!ok) {
    // An ID code longer than 64 bytes, or lengths that run past the frame.
    showStartupAwareMessage(kMsgReadFailed, Icon::Stop);
    return LoadDataResult::Inconsistent;
  }
  data = d;
  return LoadDataResult::Ok;
}

bool readLockBits(BlockMask& locked) {
  uint8_t frame[kSmallBuffer] = {};
  if (!sendBare(frame, sizeof frame, kCmdReadLockBits) || !responseHolds(frame, 12)) return false;
  std::memcpy(locked.bytes, frame + 4, 8);
  return true;
}

bool readVersion(std::string& version) {
  uint8_t frame[kSmallBuffer] = {};
  if (!sendBare(frame, sizeof frame, kCmdReadVersion) || !responseHolds(frame, 12)) return false;
  version = textField(frame + 4, 8);
  return true;
}

bool getBootAreaInfo(BootAreaInfo& info) {
  uint8_t frame[kPageBuffer] = {};
  if (!sendBare(frame, sizeof frame, kCmdGetBootAreaInfo)) return false;
  FieldReader in(frame);
  BootAreaInfo b;
  uint8_t n = 0;
  const uint8_t* tail = nullptr;
  if (in.byte(b.flag) && in.byte(n) && in.text(b.bootFileName, n)) tail = in.take(10);
  if (!tail) {
    showStartupAwareMessage(kMsgReadFailed, Icon::Stop);
    return false;
  }
  b.bootStart = get32(tail);
  b.bootSize = get32(tail + 4);
  b.bootChecksum = get16(tail + 8);
  info = b;
  return true;
}

}  // namespace vrx4
