#include "view/CEditorInputDlgs.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/Prompter.h"
#include "view/MemoryEditor.h"

namespace vrx4 {

namespace {

// A grid of labelled fields with OK and Cancel beside them.
QGridLayout* fieldsWithButtons(QDialog* dlg) {
  auto* outer = new QHBoxLayout(dlg);
  auto* grid = new QGridLayout;
  outer->addLayout(grid, 1);
  auto* box = new QDialogButtonBox(Qt::Vertical, dlg);
  auto* ok = box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("ok"));
  ok->setDefault(true);
  box->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("cancel"));
  QObject::connect(box, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
  outer->addWidget(box);
  return grid;
}

QLineEdit* addField(QDialog* dlg, QGridLayout* grid, const QString& label, const char* name) {
  auto* l = new QLabel(label, dlg);
  auto* e = new QLineEdit(dlg);
  e->setObjectName(QLatin1String(name));
  l->setBuddy(e);
  const int row = grid->rowCount();
  grid->addWidget(l, row, 0);
  grid->addWidget(e, row, 1);
  return e;
}

void refuse(const char* message, QLineEdit* field) {
  showMessage(message, Icon::Warning);
  field->setFocus();
  field->selectAll();
}

}  // namespace

CAddressInputDlg::CAddressInputDlg(int32_t areaStart, int32_t areaEnd, QWidget* parent)
    : QDialog(parent), areaStart_(areaStart), areaEnd_(areaEnd) {
  setWindowTitle(QStringLiteral("Address Input"));
  address_ = addField(this, fieldsWithButtons(this), QStringLiteral("Address :"), "address");
  address_->setFocus();
}

void CAddressInputDlg::accept() {
  if (!parseEditAddress(address_->text().toStdString(), areaStart_, areaEnd_, value_)) {
    refuse(kInvalidEditAddress, address_);
    return;
  }
  QDialog::accept();
}

CDataInputDlg::CDataInputDlg(int32_t areaStart, int32_t areaEnd, int32_t currentAddress, QWidget* parent)
    : QDialog(parent), areaStart_(areaStart), areaEnd_(areaEnd) {
  setWindowTitle(QStringLiteral("Data Input"));
  QGridLayout* grid = fieldsWithButtons(this);
  address_ = addField(this, grid, QStringLiteral("Address :"), "address");
  data_ = addField(this, grid, QStringLiteral("Data :"), "data");
  address_->setText(QString::asprintf("%x", unsigned(currentAddress)));
  // The address is usually the proposed one: the byte is what is typed.
  data_->setFocus();
}

void CDataInputDlg::accept() {
  if (!parseEditAddress(address_->text().toStdString(), areaStart_, areaEnd_, address_value_)) {
    refuse(kInvalidEditAddress, address_);
    return;
  }
  if (!parseEditData(data_->text().toStdString(), data_value_)) {
    refuse(kInvalidData, data_);
    return;
  }
  QDialog::accept();
}

CMemoryClearDlg::CMemoryClearDlg(bool boot, int blockCount, QWidget* parent)
    : QDialog(parent), boot_(boot), blockCount_(blockCount) {
  setWindowTitle(QStringLiteral("Memory Clear"));
  QGridLayout* grid = fieldsWithButtons(this);
  block_ = addField(this, grid, QStringLiteral("Block (&B) :"), "block");
  data_ = addField(this, grid, QStringLiteral("Data (&D) :"), "data");
  data_->setMaxLength(10);
  data_->setText(QStringLiteral("ff"));
  if (boot_) {
    block_->setEnabled(false);
  } else {
    block_->setText(QString::fromStdString(defaultBlockList(blockCount_)));
  }
  data_->setFocus();
}

void CMemoryClearDlg::accept() {
  if (!boot_ && !parseBlockList(block_->text().toStdString(), blockCount_, blocks_)) {
    refuse(kInvalidBlockNumber, block_);
    return;
  }
  if (!parseClearData(data_->text().toStdString(), data_value_)) {
    refuse(kInvalidData, data_);
    return;
  }
  QDialog::accept();
}

}  // namespace vrx4
