#pragma once
// "Saving...": writes the file on a worker thread under a progress bar and
// ends when the writer is done (OK), after Esc (Cancel, the file is still
// completed), or at once when the file could not be written, after telling
// the operator.
#include <atomic>

#include "base/CWorkerDialog.h"
#include "image/ProgramSaver.h"

namespace vrx4 {

class CSaveProgressDlg : public CWorkerDialog {
 public:
  explicit CSaveProgressDlg(const SaveRequest& request, QWidget* parent = nullptr);

  int exec() override;

  SaveResult saveResult() const { return result_; }
  uint32_t position() const { return position_.load(); }
  uint32_t maximum() const { return maximum_; }

 protected:
  void onTick() override;
  void onWorkerDone() override;
  void onCancelRequest() override;

 private:
  SaveRequest request_;
  std::atomic<uint32_t> position_{0};
  uint32_t maximum_ = 0;
  SaveResult result_ = SaveResult::Ok;
  std::string failure_;  // why the save failed (written by the worker)
  bool escaped_ = false;
};

}  // namespace vrx4
