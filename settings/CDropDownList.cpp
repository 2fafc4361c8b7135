#include "settings/CDropDownList.h"

#include <QApplication>
#include <QEvent>

namespace vrx4 {

namespace {

class DropDownWheelGuard final : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() != QEvent::Polish && e->type() != QEvent::Wheel) return false;
    auto* list = qobject_cast<QComboBox*>(watched);
    if (!list) return false;
    if (e->type() == QEvent::Polish) {
      if ((list->focusPolicy() & Qt::WheelFocus) == Qt::WheelFocus) list->setFocusPolicy(Qt::StrongFocus);
      return false;
    }
    return !list->hasFocus();
  }
};

}  // namespace

void guardDropDownListsOf(QApplication& app) {
  static const QString name = QStringLiteral("vrx4DropDownWheelGuard");
  if (app.findChild<QObject*>(name, Qt::FindDirectChildrenOnly)) return;
  auto* guard = new DropDownWheelGuard(&app);
  guard->setObjectName(name);
  app.installEventFilter(guard);
}

}  // namespace vrx4
