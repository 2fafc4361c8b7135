#include "image/CSaveFileDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>

#include "base/Prompter.h"
#include "image/DialogUnits.h"

namespace vrx4 {

int saveAddressFieldUnits(bool japanese) { return japanese ? 265 : 218; }

CSaveFileDlg::CSaveFileDlg(SaveArea area, uint32_t areaStart, uint32_t areaEnd, const QString& startDirectory,
                           QWidget* parent)
    : QFileDialog(parent), areaStart_(areaStart), areaEnd_(areaEnd) {
  // The panel below the file view needs the dialog's own widgets.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setWindowTitle(QStringLiteral("Data Save"));
  setDirectory(startDirectory);
  // The text before the pattern list is what the operator sees.
  setOption(QFileDialog::HideNameFilterDetails, true);
  if (area == SaveArea::User) {
    setNameFilter(QStringLiteral("Data file (*.hex,*.mot) (*.hex *.mot)"));
  } else {
    setNameFilter(QStringLiteral("Update file (*.btp) (*.btp)"));
    setDefaultSuffix(QStringLiteral("btp"));
  }

  label_ = new QLabel(QStringLiteral("Save &Address :"), this);
  field_ = new QLineEdit(this);
  field_->setObjectName(QStringLiteral("saveAddress"));
  label_->setBuddy(field_);
  bool japanese = QLocale::system().language() == QLocale::Japanese;
  field_->setFixedWidth(dialogUnitsToPixels(*field_, saveAddressFieldUnits(japanese)));
  auto* panel = new QHBoxLayout;
  panel->addWidget(label_);
  panel->addWidget(field_);
  panel->addStretch(1);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) {
    grid->addLayout(panel, grid->rowCount(), 0, 1, grid->columnCount());
  } else if (layout()) {
    layout()->addItem(panel);
  }
  connect(qApp, &QApplication::focusChanged, this, &CSaveFileDlg::onFocusChanged);
}

bool CSaveFileDlg::isCancelButton(const QWidget* w) const {
  if (!w) return false;
  for (auto* box : findChildren<QDialogButtonBox*>())
    if (box->button(QDialogButtonBox::Cancel) == w) return true;
  return false;
}

void CSaveFileDlg::onFocusChanged(QWidget* old, QWidget* now) {
  // Only a move to another control of this dialog counts as leaving the
  // field: the focus also goes away to the message box that a failed check
  // raises, or to another window, and those must not check again.
  if (old != field_ || !now || !isAncestorOf(now) || isCancelButton(now) || !isVisible() || validating_) return;
  validateAddress();
}

bool CSaveFileDlg::validateAddress() {
  if (validating_) return lastResult_;
  QScopedValueRollback<bool> guard(validating_, true);
  QString text = field_->text();
  lastChecked_ = text;
  if (text.isEmpty()) {
    // Nothing to check; ranges left from an earlier text would save less
    // than the empty field says (the whole area).
    ranges_ = SaveRanges{};
    lastResult_ = true;
    return true;
  }
  SaveRanges parsed{};
  std::string bytes = text.toStdString();
  lastResult_ = parseSaveAddress(bytes, areaStart_, areaEnd_, parsed);
  if (lastResult_) {
    ranges_ = parsed;
    return true;
  }
  ranges_ = SaveRanges{};
  showMessage(kInvalidAddress, Icon::Warning);
  field_->setFocus();
  field_->selectAll();
  return false;
}

void CSaveFileDlg::accept() {
  // Save pressed with the focus still in the field (Enter): the field has
  // not been checked yet. A text that has just failed is not reported twice.
  if (field_->text() != lastChecked_) {
    if (!validateAddress()) return;
  } else if (!lastResult_) {
    field_->setFocus();
    field_->selectAll();
    return;
  }
  QFileDialog::accept();
}

}  // namespace vrx4
