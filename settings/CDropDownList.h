#pragma once
// A drop-down list that changes its selection only on purpose: the mouse
// wheel turns it only while it has the keyboard focus. A wheel turn over a
// list that the pointer merely passes (scrolling the form or a dialog) goes
// to the list's parent instead, so no device, bit rate or frame kind
// changes by accident. Clicking or tabbing gives the focus; the wheel never
// takes it.
#include <QComboBox>
#include <QWheelEvent>

namespace vrx4 {

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

}  // namespace vrx4
