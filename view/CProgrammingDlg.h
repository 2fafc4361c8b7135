#pragma once
// "Programming...": the modal dialog of one running operation. No way out for
// the operator: it ends only when the polling worker has finished. A stop
// request (a signal, the program's close) makes the worker abort the
// operation on the unit and finish within seconds.
#include "base/CWorkerDialog.h"
#include "view/OperationRunner.h"

namespace vrx4 {

class CProgrammingDlg : public CWorkerDialog {
 public:
  // total: userRomEnd - userRomStart + 1 of the current device.
  CProgrammingDlg(int operationIndex, uint32_t total, QWidget* parent = nullptr);

  int exec() override;
  // Valid when the dialog ended with OK.
  uint8_t resultCode() const { return resultCode_; }
  const OperationProgress& progress() const { return progress_; }

 protected:
  void onTick() override;
  void onWorkerDone() override;
  void onCancelRequest() override {}  // Esc does nothing

 private:
  OperationProgress progress_;
  uint8_t resultCode_ = 0;
};

}  // namespace vrx4
