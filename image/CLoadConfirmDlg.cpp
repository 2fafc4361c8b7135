#include "image/CLoadConfirmDlg.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "image/DialogUnits.h"

namespace vrx4 {

CLoadConfirmDlg::CLoadConfirmDlg(const QString& path, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Load OK ?"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  path_ = new QLineEdit(path, this);
  path_->setReadOnly(true);
  path_->setMinimumWidth(dialogUnitsToPixels(*path_, 235));
  path_->setCursorPosition(0);
  layout->addWidget(path_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

}  // namespace vrx4
