#pragma once
// The main form's window seam for the command line: the dialogs answer with
// what the command line asked for, and the transfer and progress dialogs
// run the core workers directly, reporting their progress as events.
#include <functional>
#include <optional>
#include <string>

#include "view/MainViewDialogs.h"

namespace vrx4::cli {

class Events;

class CliDialogs final : public MainViewDialogs {
 public:
  explicit CliDialogs(Events& events) : events_(events) {}

  // The answer of the next file-open dialog (once); without one it is
  // cancelled.
  void chooseFile(std::string path) { file_ = std::move(path); }
  // The answer of the next "CAN Setting", "Block Setting" and "Set ID"
  // dialog (once each); without one the dialog is cancelled.
  void chooseCan(const CanSetting& can) { can_ = can; }
  void chooseBlocks(const LockBitTable& table) { blocks_ = table; }
  void chooseId(const IdCode& id) { id_ = id; }

  // How the last transfer ended, and whether the CAN dialog's send went
  // through.
  bool lastTransferOk() const { return transferOk_; }
  bool transferRan() const { return transferRan_; }
  bool canSent() const { return canSent_; }
  bool initializingFailed() const { return initializingFailed_; }
  void forgetTransfers() {
    transferRan_ = false;
    transferOk_ = true;
  }
  // Called before every send of the user image, to change it first (the
  // board's serial number); the send and the sums that follow have it.
  void beforeUserSend(std::function<void()> patch) { beforeUserSend_ = std::move(patch); }
  // True once a send of the user image has begun: from then on the unit
  // may hold it.
  bool userImageSent() const { return userImageSent_; }

  std::optional<std::string> openFile(const FileOpenRequest& request) override;
  std::optional<CanSetting> canSetting(const CanSetting& current) override;
  std::optional<LockBitTable> blockSetting(const LockBitTable& current, const DeviceDef& device) override;
  std::optional<IdCode> setId(const IdCode& current) override;
  void deviceDetail(const DeviceDef&) override {}
  bool sendImage(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                 const std::string& filePath) override;
  bool fetchImage(ImageArea area, MemoryImage& image, const ProjectSettings& settings) override;
  OperationOutcome programming(int operationIndex, uint32_t total) override;
  void initializing() override;
  // No document viewer on a command line.
  bool openDocument(const std::string&) override { return false; }

 private:
  Events& events_;
  std::optional<std::string> file_;
  std::optional<CanSetting> can_;
  std::optional<LockBitTable> blocks_;
  std::optional<IdCode> id_;
  bool transferOk_ = true;
  bool transferRan_ = false;
  bool canSent_ = false;
  bool initializingFailed_ = false;
  bool userImageSent_ = false;
  std::function<void()> beforeUserSend_;
};

}  // namespace vrx4::cli
