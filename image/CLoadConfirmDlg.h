#pragma once
// "Load OK ?": shows the full path of a file about to be loaded; OK loads
// it, Cancel skips it.
#include <QDialog>

class QLineEdit;

namespace vrx4 {

class CLoadConfirmDlg : public QDialog {
 public:
  explicit CLoadConfirmDlg(const QString& path, QWidget* parent = nullptr);
  QLineEdit* pathField() const { return path_; }

 private:
  QLineEdit* path_ = nullptr;
};

}  // namespace vrx4
