#include "cli/CliDialogs.h"

#include <cstring>

#include "base/Clock.h"
#include "cli/Events.h"
#include "cli/Worker.h"
#include "image/ImageTransfer.h"
#include "link/Commands.h"

namespace vrx4::cli {

namespace {

template <typename T>
std::optional<T> takeOnce(std::optional<T>& slot) {
  std::optional<T> v = std::move(slot);
  slot.reset();
  return v;
}

std::pair<uint64_t, uint64_t> barOf(const TransferProgress& p) {
  return {std::min(p.position.load(), p.maximum.load()), p.maximum.load()};
}

}  // namespace

std::optional<std::string> CliDialogs::openFile(const FileOpenRequest&) { return takeOnce(file_); }

std::optional<CanSetting> CliDialogs::canSetting(const CanSetting&) {
  std::optional<CanSetting> can = takeOnce(can_);
  // The dialog's OK sends the record itself.
  if (can) canSent_ = setCanSetting(*can);
  return can;
}

std::optional<LockBitTable> CliDialogs::blockSetting(const LockBitTable&, const DeviceDef&) {
  return takeOnce(blocks_);
}

std::optional<IdCode> CliDialogs::setId(const IdCode& current) {
  std::optional<IdCode> id = takeOnce(id_);
  if (id) id->idLength = current.idLength;
  return id;
}

bool CliDialogs::sendImage(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                           const std::string&) {
  if (area == ImageArea::User) {
    if (beforeUserSend_) beforeUserSend_();
    userImageSent_ = true;
  }
  TransferProgress progress;
  const SendPlan plan = prepareSend(progress, area, image, settings);
  const char* phase = area == ImageArea::User ? "send" : "send-boot";
  events_.phaseStart(phase);
  // A stop ends the send as the dialog's Esc does; the form then tells the
  // unit that it holds no user data.
  runWorker(
      events_, phase, [&] { sendImageWorker(progress, plan, image, settings); }, [&] { return barOf(progress); },
      [&] { progress.abandon(); });
  const bool ok = !progress.abandoned();
  if (ok) events_.progress(phase, progress.maximum, progress.maximum);  // the dialog's OK: a full bar
  events_.phaseEnd(phase, ok);
  transferRan_ = true;
  transferOk_ = ok;
  return ok;
}

bool CliDialogs::fetchImage(ImageArea area, MemoryImage& image, const ProjectSettings& settings) {
  TransferProgress progress;
  prepareFetch(progress, area, settings);
  events_.phaseStart("fetch");
  runWorker(
      events_, "fetch", [&] { fetchImageWorker(progress, area, image, settings); }, [&] { return barOf(progress); },
      [&] { progress.abandon(); });
  const bool ok = !progress.abandoned();
  if (ok) events_.progress("fetch", progress.maximum, progress.maximum);
  events_.phaseEnd("fetch", ok);
  transferRan_ = true;
  transferOk_ = ok;
  return ok;
}

OperationOutcome CliDialogs::programming(int operationIndex, uint32_t total) {
  OperationProgress progress;
  progress.total = total;
  progress.operation = operationIndex;  // the poll's deadline
  events_.phaseStart("operation");
  runWorker(
      events_, "operation", [&] { programmingThreadProc(progress, {}); },
      [&] { return std::pair<uint64_t, uint64_t>(progress.position.load(), total); });
  const OperationOutcome outcome = finishOperation(progress);
  events_.phaseEnd("operation", outcome.ok);
  return outcome;
}

void CliDialogs::initializing() {
  // "Initializing...": the reset command, then the busy state until the
  // unit is done; a minute is far more than it needs. The dialog's ten
  // seconds of counting only show that something happens.
  events_.phaseStart("initialize");
  bool ok = initializeUnit();
  bool busy = ok;
  for (int i = 0; i < 600 && ok && busy; ++i) {
    clock().sleepMs(100);
    ok = getBusyState(busy);
  }
  if (ok && busy) events_.error("the unit stayed busy after its reset");
  initializingFailed_ = !ok || busy;
  events_.phaseEnd("initialize", ok && !busy);
}

}  // namespace vrx4::cli
