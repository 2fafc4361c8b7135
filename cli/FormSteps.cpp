#include "cli/FormSteps.h"

#include <cstring>

#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/Worker.h"
#include "image/BootFileReader.h"
#include "image/ImageTransfer.h"
#include "image/ProgramLoader.h"
#include "link/Commands.h"
#include "settings/CanTiming.h"
#include "view/OperationRunner.h"
#include "view/OperationStart.h"

namespace vrx4::cli {
namespace {

uint8_t sendFlags(bool pre, bool post) { return uint8_t((pre ? 1 : 0) | (post ? 2 : 0)); }

void setText(char* field, size_t size, const std::string& text, LeI32& length) {
  std::memset(field, 0, size);
  const size_t n = std::min(text.size(), size - 1);
  std::memcpy(field, text.data(), n);
  length = int32_t(n);
}

}  // namespace

void FormSteps::selectDevice(int index) {
  ProjectSettings& s = state_.settings;
  s.deviceIndex = index;
  s.device = state_.deviceTable.row(index);
  s.lockBits.deviceBlockMask = BlockMask();
  const int blocks = std::clamp<int32_t>(s.device.blockCount, 0, 64);
  for (int i = 0; i < blocks; ++i) s.lockBits.deviceBlockMask.set(i);
}

void FormSteps::refreshLockDisplay() {
  LockBitTable& t = state_.settings.lockBits;
  for (int i = 0; i < 8; ++i) {
    t.operationBlockMask.bytes[i] &= t.deviceBlockMask.bytes[i];
    t.lockAfterProgramMask.bytes[i] &= t.deviceBlockMask.bytes[i];
  }
}

void FormSteps::refreshOperationButtons() {
  if (state_.settings.deviceIndex >= 0 && state_.settings.userFileNameLength <= 0) operationIndex_ = 1;
}

void FormSteps::clearUserFile() {
  ProjectSettings& s = state_.settings;
  setText(s.userFileName, sizeof s.userFileName, "", s.userFileNameLength);
  s.userChecksum = 0;
  s.protectLevel = 0;
  std::memset(s.idCode.idBytes, 0, 32);
}

void FormSteps::resetView() {
  ProjectSettings& s = state_.settings;
  const InitialLoadData& d = state_.initialLoad;
  operationIndex_ = 0;
  userReadBackPending_ = false;
  s.deviceIndex = -1;
  if (d.hasSettings && !d.deviceName.empty()) {
    const int row = state_.deviceTable.findByName(d.deviceName);
    if (row >= 0) selectDevice(row);
  }
  bool noZeroByte = true;
  for (uint8_t b : s.lockBits.deviceBlockMask.bytes) noZeroByte = noZeroByte && b != 0;
  if (noZeroByte) std::memset(s.lockBits.deviceBlockMask.bytes, 0xFF, 8);
  if (!d.hasSettings) {
    refreshLockDisplay();
    refreshOperationButtons();
    return;
  }
  s.idCode.idLength = uint8_t(std::min<int>(d.idLength, 32));
  std::memcpy(s.idCode.idBytes, d.idBytes, s.idCode.idLength);
  s.lockBits.lockBitState = d.lockBitState;
  s.lockBits.operationBlockMask = d.operationBlockMask;
  s.lockBits.lockAfterProgramMask = d.lockAfterProgramMask;
  operationIndex_ = std::clamp(int(d.operationCode) - 1, 0, 5);
  preSending_ = d.sendFlags & 1;
  postSending_ = d.sendFlags & 2;
  if (state_.deviceTable.optionMode()) {
    const BootAreaInfo& b = state_.bootArea;
    s.bootFileLoaded = b.flag;
    setText(s.bootFileName, sizeof s.bootFileName, b.bootFileName, s.bootFileNameLength);
    s.bootChecksum = b.bootChecksum;
    s.bootStart = b.bootStart;
    s.bootSize = b.bootSize;
    s.bootEnd = b.bootEnd();
  }
  setText(s.userFileName, sizeof s.userFileName, d.userFileName, s.userFileNameLength);
  uint32_t sum = 0;
  for (int i = 0; i < std::clamp<int32_t>(s.device.blockCount, 0, 64); ++i) sum += d.blockSums[i];
  s.userChecksum = uint16_t(sum);
  userReadBackPending_ = true;
  s.can.clockMhz = d.canTiming[0];
  s.can.prescalerMinus1 = d.canTiming[1];
  s.can.tseg1 = d.canTiming[2];
  s.can.tseg2 = d.canTiming[3];
  s.can.sjw = d.canTiming[4];
  s.can.reserved5 = d.canTiming[5];
  s.can.sendFrameMask = d.sendFrameMask;
  s.can.preFrame = d.preFrame;
  s.can.postFrame = d.postFrame;
  s.can.pulseEnabled = d.pulseEnabled;
  s.can.pulseCycleMs = d.pulseCycleMs;
  s.can.baudKbps = 500.0f;
  s.can.samplePointPct = 70;
  findTimingByRegisters(s.can);
  refreshLockDisplay();
  refreshOperationButtons();
}

void FormSteps::onDeviceChanged(int index) {
  ProjectSettings& s = state_.settings;
  if (index == s.deviceIndex) return;
  userReadBackPending_ = true;
  clearUserFile();
  selectDevice(index);
  s.lockBits.operationBlockMask = s.lockBits.deviceBlockMask;
  refreshLockDisplay();
  setDevice(s.device);
  s.idCode.idLength = uint8_t(std::clamp<int32_t>(s.device.idCodeLength, 0, 32));
  refreshOperationButtons();
  preSending_ = postSending_ = false;
  setOperation(operationCode(operationIndex_), 0);
  setBlockSettings(s.lockBits);
  setUserFileName("");
}

bool FormSteps::sendImage(ImageArea area) {
  TransferProgress progress;
  const SendPlan plan = prepareSend(progress, area, *state_.image, state_.settings);
  const char* phase = area == ImageArea::User ? "send" : "send-boot";
  events_.phaseStart(phase);
  runWorker(events_, phase, [&] { sendImageWorker(progress, plan, *state_.image, state_.settings); },
            [&] {
              return std::pair<uint64_t, uint64_t>(std::min(progress.position.load(), progress.maximum.load()),
                                                   progress.maximum.load());
            });
  const bool ok = !progress.abandoned();
  if (ok) events_.progress(phase, progress.maximum, progress.maximum);  // the dialog's OK: a full bar
  events_.phaseEnd(phase, ok);
  return ok;
}

bool FormSteps::uploadUserImage(const std::string& path) {
  (void)path;
  ProjectSettings& s = state_.settings;
  IdCode id = s.idCode;
  id.idLength = uint8_t(std::clamp<int32_t>(s.device.idCodeLength, 0, 32));
  if (!setIdCode(id) || !setUserDataPresent(true) || !setUserFileName(s.userFileName) ||
      !setBlockSettings(s.lockBits))
    return false;
  if (!sendImage(ImageArea::User)) return false;
  userReadBackPending_ = false;
  s.userChecksum = state_.image->imageChecksum(ImageArea::User, s);
  uint16_t sums[64] = {};
  state_.image->blockChecksums(s.device, sums);
  setBlockChecksums(std::clamp<int32_t>(s.device.blockCount, 0, 64), sums);
  return true;
}

int FormSteps::onLoadUserFile(const std::string& path) {
  ProjectSettings& s = state_.settings;
  if (path.size() > 1023) {
    showMessage("Oversized full path.", Icon::Stop);
    clearUserFile();
    return kExitFile;
  }
  events_.phaseStart("load");
  state_.image->clearUserImage();
  int32_t level = 0;
  const bool loaded = loadProgramFile(LoadMode::Interactive, path, s.device, *state_.image, s.idCode, level);
  s.userFileStale = loaded ? 0 : 1;
  events_.phaseEnd("load", loaded);
  if (!loaded) {
    clearUserFile();
    return kExitFile;
  }
  s.protectLevel = level;
  protectLevel_ = level;
  setText(s.userFileName, sizeof s.userFileName, path, s.userFileNameLength);
  if (!uploadUserImage(path)) {
    userReadBackPending_ = true;
    clearUserFile();
    return kExitLink;
  }
  refreshOperationButtons();
  return kExitPass;
}

int FormSteps::onLoadBootFile(const std::string& path) {
  ProjectSettings& s = state_.settings;
  events_.phaseStart("load-boot");
  const bool loaded = loadBootFile(path, *state_.image, s);
  events_.phaseEnd("load-boot", loaded);
  if (!loaded) {
    s.bootFileLoaded = 0;
    setText(s.bootFileName, sizeof s.bootFileName, "", s.bootFileNameLength);
    std::memset(s.bootLoaderText, 0, sizeof s.bootLoaderText);
    return kExitFile;
  }
  s.bootFileLoaded = 1;
  setText(s.bootFileName, sizeof s.bootFileName, path, s.bootFileNameLength);
  std::memset(s.bootLoaderText, 0, sizeof s.bootLoaderText);
  std::memcpy(s.bootLoaderText, state_.image->bootImage.data(), 8);
  // The window ignores how the boot transfer ended; a script must not.
  return sendImage(ImageArea::Boot) ? kExitPass : kExitLink;
}

bool FormSteps::onSetCan(const CanSetting& can) {
  ProjectSettings& s = state_.settings;
  s.can = can;
  if (!setCanSetting(s.can)) return false;
  preSending_ = postSending_ = s.can.sendFrameMask != 0;
  return setOperation(operationCode(operationIndex_), sendFlags(preSending_, postSending_));
}

bool FormSteps::onSetBlocks(uint8_t lockBitState, const BlockMask& operationBlocks, const BlockMask& lockAfter) {
  LockBitTable& t = state_.settings.lockBits;
  t.lockBitState = lockBitState ? 1 : 0;
  t.operationBlockMask = operationBlocks;
  t.lockAfterProgramMask = lockAfter;
  refreshLockDisplay();
  return setBlockSettings(t);
}

bool FormSteps::onCheckId(const IdCode& id) {
  IdCode& mine = state_.settings.idCode;
  std::memcpy(mine.idBytes, id.idBytes, 32);
  return setIdCode(mine);
}

bool FormSteps::onOperationChanged(int index, bool pre, bool post) {
  operationIndex_ = index;
  preSending_ = pre;
  postSending_ = post;
  return setOperation(operationCode(index), sendFlags(pre, post));
}

uint8_t FormSteps::onStart() {
  const OperationRun run = runOperation(
      operationIndex_, state_.settings, *state_.image, userReadBackPending_, [&](int index, uint32_t total) {
        OperationProgress progress;
        progress.total = total;
        events_.phaseStart("operation");
        runWorker(events_, "operation", [&] { programmingThreadProc(progress, {}); },
                  [&] { return std::pair<uint64_t, uint64_t>(progress.position.load(), total); });
        (void)index;
        const OperationOutcome outcome = finishOperation(progress);
        events_.phaseEnd("operation", outcome.ok);
        return outcome;
      });
  return run.lastResult;
}

bool FormSteps::sendAllSettings() {
  ProjectSettings& s = state_.settings;
  setDevice(s.device);
  bool present = false;
  if (s.userFileNameLength > 0) {
    if (!setUserFileName(s.userFileName)) return false;
    uint16_t sums[64] = {};
    state_.image->blockChecksums(s.device, sums);
    setBlockChecksums(std::clamp<int32_t>(s.device.blockCount, 0, 64), sums);
    present = true;
  }
  if (!setUserDataPresent(present)) return false;
  IdCode id = s.idCode;
  id.idLength = uint8_t(std::clamp<int32_t>(s.device.idCodeLength, 0, 32));
  return setCanSetting(s.can) && setBlockSettings(s.lockBits) &&
         setOperation(operationCode(operationIndex_), sendFlags(preSending_, postSending_)) && setIdCode(id);
}

std::string FormSteps::onReadVersion() {
  std::string v;
  return readVersion(v) ? v : std::string("Read Error");
}

bool FormSteps::fetchUserImage() {
  TransferProgress progress;
  prepareFetch(progress, ImageArea::User, state_.settings);
  events_.phaseStart("fetch");
  runWorker(events_, "fetch", [&] { fetchImageWorker(progress, ImageArea::User, *state_.image, state_.settings); },
            [&] {
              return std::pair<uint64_t, uint64_t>(std::min(progress.position.load(), progress.maximum.load()),
                                                   progress.maximum.load());
            });
  const bool ok = !progress.abandoned();
  if (ok) events_.progress("fetch", progress.maximum, progress.maximum);
  events_.phaseEnd("fetch", ok);
  if (ok) userReadBackPending_ = false;
  return ok;
}

}  // namespace vrx4::cli
