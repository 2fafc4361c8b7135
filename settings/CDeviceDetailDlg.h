#pragma once
// "Device detail": a read-only summary of the selected device.
#include <QDialog>

#include "base/DeviceDef.h"

class QLineEdit;

namespace vrx4 {

class CHighlightListCtrl;

class CDeviceDetailDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CDeviceDetailDlg(const DeviceDef& device, QWidget* parent = nullptr);

  CHighlightListCtrl* list() const { return list_; }

 private:
  CHighlightListCtrl* list_ = nullptr;
};

}  // namespace vrx4
