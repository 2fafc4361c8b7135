#pragma once
// "Loading..." (host image to unit) and "Saving..." (unit to host image): the
// modal dialogs of a page transfer, each with its worker thread.
#include <string>

#include "base/CWorkerDialog.h"
#include "image/ImageTransfer.h"

namespace vrx4 {

class CSendImageDlg : public CWorkerDialog {
 public:
  // filePath: shown as its file name in the text line (empty: no text).
  CSendImageDlg(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                const std::string& filePath = {}, QWidget* parent = nullptr);
  int exec() override;
  const TransferProgress& progress() const { return progress_; }
  const SendPlan& plan() const { return plan_; }

 protected:
  void onTick() override;
  void onWorkerDone() override;
  void onCancelRequest() override { progress_.abandon(); }

 private:
  ImageArea area_;
  const MemoryImage& image_;
  const ProjectSettings& settings_;
  TransferProgress progress_;
  SendPlan plan_;
};

class CFetchImageDlg : public CWorkerDialog {
 public:
  CFetchImageDlg(ImageArea area, MemoryImage& image, const ProjectSettings& settings, QWidget* parent = nullptr);
  int exec() override;
  const TransferProgress& progress() const { return progress_; }

 protected:
  void onTick() override;
  void onWorkerDone() override;
  void onCancelRequest() override { progress_.abandon(); }

 private:
  ImageArea area_;
  MemoryImage& image_;
  const ProjectSettings& settings_;
  TransferProgress progress_;
};

}  // namespace vrx4
