#include "settings/CHighlightListCtrl.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

namespace vrx4 {

namespace {

class FixedHeightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(qMax(16, option.fontMetrics.height() + 2));
    return s;
  }
};

}  // namespace

CHighlightListCtrl::CHighlightListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  header()->setSectionsMovable(false);
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(QHeaderView::Fixed);
  textColour = palette().color(QPalette::WindowText);
  textBkColour = palette().color(QPalette::Base);
  bkColour = palette().color(QPalette::Base);
}

void CHighlightListCtrl::setOwnerDraw(bool on) {
  if (on == ownerDraw_) return;
  ownerDraw_ = on;
  if (on) setItemDelegate(new FixedHeightDelegate(this));
  viewport()->update();
}

bool CHighlightListCtrl::rowSelected(const QModelIndex& index) const {
  // The list always shows its selection, with or without the keyboard focus.
  return selectionModel() && selectionModel()->isRowSelected(index.row(), index.parent());
}

QColor CHighlightListCtrl::cellTextColour(int row, int column) const {
  QTreeWidgetItem* it = topLevelItem(row);
  if (!it || column < 0 || column >= columnCount()) return {};
  const bool selected = rowSelected(indexFromItem(it));
  QColor colour = selected ? palette().color(QPalette::HighlightedText) : textColour;
  if (changedAddresses.empty() || column == 0) return colour;
  const auto address = rowAddressOfLabel(it->text(0).toStdString());
  // Walk the row as drawing does: once a blue cell is drawn, the colour is black.
  for (int n = 1; n <= column; ++n) {
    if (isChangedCell(changedAddresses, address, n)) {
      if (n == column) return changedColour();
      colour = Qt::black;
    }
  }
  return colour;
}

void CHighlightListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  if (!ownerDraw_) {
    QTreeWidget::drawRow(painter, option, index);
    return;
  }
  QTreeWidgetItem* it = itemFromIndex(index);
  if (!it) return;
  painter->save();
  const bool selected = rowSelected(index);
  QRect band = option.rect;
  band.setLeft(header()->sectionViewportPosition(0));
  if (clientWidthSelect && band.right() < clientWidth) band.setRight(clientWidth);
  painter->fillRect(band, selected ? palette().color(QPalette::Highlight) : textBkColour);
  painter->setFont(option.font);
  const int flags = Qt::TextSingleLine | Qt::TextDontClip | Qt::AlignVCenter | Qt::AlignLeft;

  // Label, with its icon when the row has one.
  int labelLeft = header()->sectionViewportPosition(0);
  const QIcon icon = it->icon(0);
  if (!icon.isNull()) {
    icon.paint(painter, QRect(labelLeft, option.rect.top(), 16, 16), Qt::AlignCenter,
               selected ? QIcon::Selected : QIcon::Normal);
    labelLeft += 16;
  }
  const int labelRight = header()->sectionViewportPosition(0) + header()->sectionSize(0) - stateImageOffset;
  painter->setPen(cellTextColour(index.row(), 0));
  painter->drawText(QRect(labelLeft + 2, option.rect.top(), labelRight - 2 - (labelLeft + 2), option.rect.height()),
                    flags, it->text(0).left(259));

  for (int n = 1; n < columnCount(); ++n) {
    const QString text = it->text(n);
    if (text.isEmpty()) continue;
    const int x = header()->sectionViewportPosition(n);
    const int w = header()->sectionSize(n);
    painter->setPen(cellTextColour(index.row(), n));
    painter->drawText(QRect(x + 6, option.rect.top(), w - 12, option.rect.height()), flags, text);
  }

  if (hasFocus() && currentIndex().row() == index.row()) {
    QStyleOptionFocusRect focus;
    focus.rect = band;
    focus.state = QStyle::State_None;
    focus.backgroundColor = palette().color(selected ? QPalette::Highlight : QPalette::Base);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, this);
  }
  painter->restore();
}

}  // namespace vrx4
