#pragma once
// The unit's own dialogs: "Update..." (firmware update), "Initializing..."
// (reset of the unit's stored settings) and the About box.
#include <atomic>
#include <string>

#include "app/FirmwareUpdate.h"
#include "base/CWorkerDialog.h"

namespace vrx4 {

// One progress bar, no buttons; runs updateWorker and watches its progress
// value alone: 1797 ends the dialog as confirmed, above it as cancelled.
class CFirmwareUpdateDlg : public CWorkerDialog {
 public:
  explicit CFirmwareUpdateDlg(const FirmwareImage& image, QWidget* parent = nullptr);
  int exec() override;
  uint32_t updateProgress() const { return progress_; }

 protected:
  void onTick() override;
  void onCancelRequest() override {}

 private:
  const FirmwareImage& image_;
  std::atomic<uint32_t> progress_{0};
};

// Sends command 25, counts to 100 in 100 ms steps, then polls the unit's
// busy state inside the tick until the reset is done. A unit still busy
// after kBusyPollLimit polls (5 minutes) is given up on with a message, so
// a unit that never finishes cannot hold a dialog without buttons open.
class CInitializingDlg : public CWorkerDialog {
 public:
  static constexpr int kBusyPollLimit = 3000;
  inline static const char* const kStillBusyText = "T552-VRX4 did not finish initializing.";

  explicit CInitializingDlg(QWidget* parent = nullptr);
  // Tests shorten the limit.
  static void setBusyPollLimit(int polls) { busyPollLimit_ = polls; }
  int exec() override;
  int counter() const { return counter_; }
  bool initializeSent() const { return sent_; }

 protected:
  void onTick() override;
  // Esc ends the dialog only when the reset command failed.
  void onCancelRequest() override;

 private:
  int counter_ = 0;
  int polls_ = 0;
  bool sent_ = false;
  bool polling_ = false;
  inline static int busyPollLimit_ = kBusyPollLimit;
};

// "About T552-VRX4": the host's and the unit's firmware versions.
class CAboutDlg : public QDialog {
 public:
  CAboutDlg(const std::string& hostVersion, const std::string& firmwareVersionCollapsed,
            const std::string& firmwareDate, QWidget* parent = nullptr);
  // "Firmware Version :" text: collapsed version, one space, date.
  static std::string firmwareText(const std::string& versionCollapsed, const std::string& date);
};

}  // namespace vrx4
