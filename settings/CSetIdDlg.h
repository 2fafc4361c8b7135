#pragma once
// "Set ID": one two-character field per ID code byte, eight a row, made when
// the dialog opens. Works on a copy of the code; OK stores the fields in it.
#include <QDialog>
#include <QVector>

#include "base/IdCode.h"

class QLineEdit;

namespace vrx4 {

class CSetIdDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CSetIdDlg(const IdCode& id, QWidget* parent = nullptr);

  // The working copy: the edited bytes once the dialog ended with OK.
  const IdCode& idCode() const { return id_; }
  // Field i (control identifier 1000 + i), for tests.
  QLineEdit* field(int i) const { return i >= 0 && i < fields_.size() ? fields_[i] : nullptr; }
  int fieldCount() const { return int(fields_.size()); }

 public slots:
  void accept() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void checkField(QLineEdit* edit);

  IdCode id_;
  QVector<QLineEdit*> fields_;
  bool armed_ = false;
};

}  // namespace vrx4
