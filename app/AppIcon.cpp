#include "app/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resource lives in a static library: register it before the first use
// (Q_INIT_RESOURCE must be called outside any namespace).
static void initIconResource() { Q_INIT_RESOURCE(icon); }

namespace vrx4 {

QIcon applicationIcon() {
  initIconResource();
  QSvgRenderer svg(QStringLiteral(":/vrx4/vrx4.svg"));
  QIcon icon;
  if (!svg.isValid()) return icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    svg.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace vrx4
