#include "cli/UnitCommands.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/Prompter.h"
#include "base/StopRequest.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/FileFormats.h"
#include "cli/HexText.h"
#include "cli/JobSteps.h"
#include "cli/Sha256.h"
#include "image/ProgramSaver.h"
#include "settings/BlockSettingRules.h"
#include "view/OperationRunner.h"

namespace vrx4::cli {

namespace {

// Whether a file can be made beside `path` (the saver writes a temporary
// there and renames it): a file made and removed again.
bool outputWritable(const std::string& path, std::string& why) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    why = path + ": " + std::strerror(EISDIR);
    return false;
  }
  const std::string parent = std::filesystem::path(path).parent_path().string();
  const std::string folder = parent.empty() ? std::string(".") : parent;
  std::string probe = folder + "/.vrx4-cli-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    why = folder + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

// The device, every block and the Read operation, each sent only when the
// unit holds another.
JobStop chooseRead(ViewJob& j, int row) {
  size_t before = j.prompter.mark();
  j.view.OnDeviceChanged(row);
  if (int s = j.sent(before); s != kExitPass) return {s, "device"};
  // Read copies the operation blocks: all of them.
  const LockBitTable& now = j.state.settings.lockBits;
  if (!(now.operationBlockMask == now.deviceBlockMask)) {
    LockBitTable t = now;
    t.operationBlockMask = now.deviceBlockMask;
    before = j.prompter.mark();
    j.windows.chooseBlocks(t);
    j.view.OnSetBlocks();
    if (int s = j.sent(before); s != kExitPass) return {s, "blocks"};
  }
  j.end.blocks = FormatBlockList(j.state.settings.lockBits.operationBlockMask, 0, 63);
  if (j.view.operationIndex != kOperationRead) {
    before = j.prompter.mark();
    j.view.OnOperationChanged(kOperationRead, j.view.preSending, j.view.postSending);
    if (int s = j.sent(before); s != kExitPass) return {s, "operation"};
  }
  return {};
}

// After a passed Read: the image back from the unit, saved to the output,
// and the record's checksum and digest of what was saved.
JobStop saveReadImage(ViewJob& j, SaveRequest& q) {
  // What the memory editor does first after a passed Read: the image back
  // from the unit.
  if (!j.windows.fetchImage(ImageArea::User, *j.state.image, j.state.settings) || stopRequestRaised()) {
    if (!stopRequestRaised()) j.events.error("the image read from the target could not be fetched from the unit");
    return {kExitLink, "fetch"};
  }
  j.view.userReadBackPending = false;
  j.events.phaseStart("save");
  q.image = j.state.image->userImage.data();
  q.path = j.job.output;
  std::atomic<uint32_t> position{0};
  std::string why;
  const SaveResult saved = formatOfName(q.path) == FileFormat::IntelHex ? writeIntelHex(q, position, &why)
                                                                        : writeSRecords(q, position, &why);
  j.events.phaseEnd("save", saved == SaveResult::Ok);
  if (saved != SaveResult::Ok) {
    showMessageWithDetail(saveResultMessage(saved), q.path + ": " + why);
    return {kExitFile, "save"};
  }
  j.end.savedChecksum = hex4(j.state.image->imageChecksum(ImageArea::User, j.state.settings));
  if (!sha256File(q.path, j.end.savedSha)) j.end.savedSha.clear();
  return {};
}

}  // namespace

int readTarget(Events& events, UnitSession& session, const JobOptions& options) {
  ViewJob j(events, session, options);
  if (!j.end.begin()) return j.finish(kExitFile, "record");
  std::string why;
  if (!outputWritable(j.job.output, why)) {
    events.error("the output cannot be written, so the read does not start: " + why);
    return j.finish(kExitFile, "save");
  }
  if (int status = j.start(); status != kExitPass || stopRequestRaised())
    return j.finish(status ? status : kExitLink, "connect");
  const int row = j.deviceRow();
  if (row < 0) return j.finish(kExitUsage, "device");
  const DeviceDef& device = j.state.deviceTable.row(row);
  SaveRequest q;
  q.areaStart = int32_t(uint32_t(device.userRomStart));
  q.areaEnd = int32_t(uint32_t(device.userRomEnd));
  if (!j.job.ranges.empty() && !parseSaveAddress(j.job.ranges, q.areaStart, q.areaEnd, q.ranges)) {
    showMessage(kInvalidAddress, Icon::Warning);
    return j.finish(kExitUsage, "ranges");
  }
  if (const JobStop stop = chooseRead(j, row)) return j.finish(stop);
  if (stopRequestRaised()) return j.finish(kExitLink, "operation");
  j.view.OnStart();
  j.code = j.view.lastResult;
  if (int status = statusOfResult(j.code); status != kExitPass) return j.finish(status, "operation");
  if (const JobStop stop = saveReadImage(j, q)) return j.finish(stop);
  return j.finish(kExitPass, "");
}

}  // namespace vrx4::cli
