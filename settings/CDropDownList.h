#pragma once
// Drop-down lists that change their selection only on purpose: the mouse
// wheel turns a list only while it has the keyboard focus. A wheel turn over
// a list that the pointer merely passes changes no device, bit rate, frame
// kind or file type by accident. Clicking or tabbing gives the focus; the
// wheel never takes it.
#include <QComboBox>
#include <QWheelEvent>

class QApplication;

namespace vrx4 {

// The program's own lists.
class CDropDownList : public QComboBox {
 public:
  explicit CDropDownList(QWidget* parent = nullptr) : QComboBox(parent) { setFocusPolicy(Qt::StrongFocus); }

 protected:
  void wheelEvent(QWheelEvent* e) override {
    if (!hasFocus()) {
      e->ignore();
      return;
    }
    QComboBox::wheelEvent(e);
  }
};

// The same rule for every list of the application, the ones inside the
// toolkit's own dialogs (the file dialogs' folder and file type lists)
// included: each list is given StrongFocus when it is first polished, and a
// wheel event for a list without the focus is dropped.
void guardDropDownListsOf(QApplication& app);

}  // namespace vrx4
