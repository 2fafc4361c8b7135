#pragma once
// Horizontal dialog units (a quarter of the average character width of the
// widget's font) in pixels, so layouts given in dialog units keep their
// proportions with any font.
#include <QFontMetrics>
#include <QWidget>

namespace vrx4 {

inline int dialogUnitsToPixels(const QWidget& w, int units) {
  return (units * QFontMetrics(w.font()).averageCharWidth() + 2) / 4;
}

}  // namespace vrx4
