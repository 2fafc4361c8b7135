#include "settings/CSetIdDlg.h"

#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "base/Prompter.h"
#include "settings/IdCodeRules.h"

namespace vrx4 {

CSetIdDlg::CSetIdDlg(const IdCode& id, QWidget* parent) : QDialog(parent), id_(id) {
  setWindowTitle("Set ID");
  const int n = usedIdLength(id_);
  // One row of fields for eight bytes or fewer, else as many rows as needed.
  setFixedSize(kIdDialogClientWidth, idDialogClientHeight(n));

  QFont fieldFont = font();
  QFont captionFont = font();
  for (int i = 0; i < n; ++i) {
    const IdFieldRect r = idFieldRect(i);
    auto* caption = new QLabel(QString("ID%1").arg(i + 1), this);
    caption->setFont(captionFont);
    caption->setAlignment(Qt::AlignCenter);
    // Captions may be wider than their field: centre them on it.
    const int cw = qMax(r.width, caption->fontMetrics().horizontalAdvance(caption->text()) + 2);
    caption->setGeometry(r.left + (r.width - cw) / 2, r.top - 16, cw, 16);

    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString("id%1").arg(1000 + i));
    edit->setFont(fieldFont);
    edit->setAlignment(Qt::AlignCenter);
    edit->setTextMargins(0, 0, 0, 0);
    edit->setGeometry(r.left, r.top, r.width, r.height);
    edit->setFocusPolicy(Qt::StrongFocus);
    edit->setText(QString::asprintf("%02X", unsigned(id_.idBytes[i])));
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { checkField(edit); });
    edit->installEventFilter(this);
    fields_.push_back(edit);
  }
  // The dialog opens on the first field with its text selected, so that
  // the first key typed replaces the byte instead of adding a third digit.
  if (!fields_.isEmpty()) {
    fields_[0]->setFocus(Qt::OtherFocusReason);
    fields_[0]->selectAll();
  }

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("ok");
  ok->setDefault(true);
  ok->setGeometry(290, 14, 75, 24);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("cancel");
  cancel->setGeometry(290, 44, 75, 24);
  connect(ok, &QPushButton::clicked, this, &CSetIdDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CSetIdDlg::reject);
  armed_ = true;
}

bool CSetIdDlg::eventFilter(QObject* watched, QEvent* event) {
  // A field reached with the keyboard has its whole text selected, however
  // much of it was selected when it was left.
  if (event->type() == QEvent::FocusIn) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (edit && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason))
      edit->selectAll();
  }
  return QDialog::eventFilter(watched, event);
}

void CSetIdDlg::checkField(QLineEdit* edit) {
  // Letters are shown upper case, whether typed or pasted.
  const QString text = edit->text();
  const QString upper = text.toUpper();
  if (upper != text) {
    const int cursor = edit->cursorPosition();
    edit->setText(upper);  // comes back here with the upper-case text
    // Keep the caret where it was, unless the check replaced the text.
    if (edit->text() == upper) edit->setCursorPosition(cursor);
    return;
  }
  if (!armed_) return;
  if (idFieldAcceptable(text.toStdString())) return;
  showMessage(kIdFieldMessage, Icon::Exclamation);
  edit->setText(kIdFieldReplacement);
  edit->selectAll();
}

void CSetIdDlg::accept() {
  for (int i = 0; i < fields_.size(); ++i) id_.idBytes[i] = idFieldValue(fields_[i]->text().toStdString());
  QDialog::accept();
}

}  // namespace vrx4
