#include "settings/CCheckListCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>

#include "settings/ListRules.h"

namespace vrx4 {

namespace {

// Every row has the same height, enough for a 16 x 16 image and one line.
class FixedRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize s = QStyledItemDelegate::sizeHint(option, index);
    s.setHeight(qMax(CCheckListCtrl::kIconSize + 2, option.fontMetrics.height() + 4));
    return s;
  }
};

QPixmap blankImage() {
  QPixmap p(CCheckListCtrl::kIconSize, CCheckListCtrl::kIconSize);
  p.fill(Qt::transparent);
  return p;
}

QString shortened(const QFontMetrics& fm, const QString& text, int width, int margin) {
  const std::string s = text.toStdString();
  const std::string out = shortenToFit(s, width, margin, [&fm](std::string_view v) {
    return fm.horizontalAdvance(QString::fromUtf8(v.data(), qsizetype(v.size())));
  });
  return QString::fromStdString(out);
}

}  // namespace

CCheckListCtrl::CCheckListCtrl(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setItemDelegate(new FixedRowDelegate(this));
  header()->setSectionsMovable(false);
  header()->setStretchLastSection(false);
  header()->setDefaultAlignment(Qt::AlignCenter);
  // The owner's widths stay: neither dragging a divider nor double-clicking it resizes.
  header()->setSectionResizeMode(QHeaderView::Fixed);
  textColour = palette().color(QPalette::WindowText);
  textBkColour = palette().color(QPalette::Base);
  bkColour = palette().color(QPalette::Base);
}

QVector<QPixmap> CCheckListCtrl::makeStateImages() {
  QVector<QPixmap> images;
  for (int ticked = 0; ticked < 2; ++ticked) {
    QPixmap p = blankImage();
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing, false);
    g.setPen(QColor(0x40, 0x40, 0x40));
    g.setBrush(Qt::white);
    g.drawRect(2, 2, 11, 11);
    if (ticked) {
      g.setRenderHint(QPainter::Antialiasing, true);
      QPen pen(Qt::black, 2);
      g.setPen(pen);
      g.drawPolyline(QPolygonF({QPointF(4.5, 8), QPointF(7, 10.5), QPointF(11.5, 5)}));
    }
    images.push_back(p);
  }
  images.push_back(blankImage());
  images.push_back(blankImage());
  return images;
}

QVector<QPixmap> CCheckListCtrl::makeLockImages() {
  QVector<QPixmap> images;
  QPixmap key = blankImage();
  {
    QPainter g(&key);
    g.setRenderHint(QPainter::Antialiasing, true);
    const QColor gold(0xC8, 0x96, 0x10);
    g.setPen(QPen(QColor(0x70, 0x50, 0x00), 1));
    g.setBrush(gold);
    g.drawEllipse(QRectF(1.5, 4.5, 7, 7));  // bow
    g.setBrush(Qt::white);
    g.drawEllipse(QRectF(3.5, 6.5, 3, 3));
    g.setBrush(gold);
    g.drawRect(QRectF(8.5, 7, 6, 2));     // shaft
    g.drawRect(QRectF(11.5, 9, 1.5, 3));  // bit
    g.drawRect(QRectF(13.5, 9, 1.5, 2));
  }
  images.push_back(key);
  QPixmap dash = blankImage();
  {
    QPainter g(&dash);
    g.fillRect(QRect(4, 7, 8, 2), QColor(0x40, 0x40, 0x40));
  }
  images.push_back(dash);
  return images;
}

QTreeWidgetItem* CCheckListCtrl::addRow(const QString& label, int stateImage) {
  auto* item = new QTreeWidgetItem(this);
  item->setText(0, label);
  item->setData(0, kStateImageRole, stateImage);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

void CCheckListCtrl::setTextColour(const QColor& c) {
  textColour = c;
  QPalette p = palette();
  p.setColor(QPalette::Text, c);
  setPalette(p);
}

void CCheckListCtrl::setTextBkColour(const QColor& c) {
  textBkColour = c;
  viewport()->update();
}

void CCheckListCtrl::setBkColour(const QColor& c) {
  bkColour = c;
  QPalette p = palette();
  p.setColor(QPalette::Base, c);
  setPalette(p);
}

int CCheckListCtrl::textMargin(int column) const { return column == 0 ? 4 : 12; }

QRect CCheckListCtrl::cellRect(int row, int column) const {
  QTreeWidgetItem* it = topLevelItem(row);
  if (!it || column < 0 || column >= columnCount()) return {};
  const QRect r = visualItemRect(it);
  return QRect(header()->sectionViewportPosition(column), r.top(), header()->sectionSize(column), r.height());
}

QString CCheckListCtrl::drawnText(int row, int column) const {
  QTreeWidgetItem* it = topLevelItem(row);
  if (!it || column < 0 || column >= columnCount()) return {};
  const QFontMetrics fm(font());
  const QString text = it->text(column).left(259);
  int width = header()->sectionSize(column);
  if (column == 0) return shortened(fm, text, width + stateImageOffset, 4);
  const bool hasState = it->data(0, kStateImageRole).toInt() != 0;
  if (hasState && (column == 3 || column == 4)) width -= kIconSize;
  return shortened(fm, text, width, textMargin(column));
}

void CCheckListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const int k = index.row();
  QTreeWidgetItem* it = topLevelItem(k);
  if (!it) return;
  painter->save();
  painter->fillRect(option.rect, textBkColour);
  painter->setFont(option.font);
  painter->setPen(isEnabled() ? textColour : palette().color(QPalette::Disabled, QPalette::Text));
  const int top = option.rect.top();
  const int height = option.rect.height();
  const bool hasState = it->data(0, kStateImageRole).toInt() != 0;
  const int byte = k / 8;
  const uint8_t mask = uint8_t(1u << (k % 8));
  const auto bit = [&](const BlockMask& m) { return k < 64 && (m.bytes[byte] & mask); };
  const int textFlags = Qt::TextSingleLine | Qt::TextDontClip | Qt::AlignVCenter;

  // Label, centred in the first column. No selection or focus is drawn.
  QRect label(header()->sectionViewportPosition(0) - stateImageOffset, top, header()->sectionSize(0) + stateImageOffset,
              height);
  painter->drawText(label, textFlags | Qt::AlignHCenter, drawnText(k, 0));

  for (int n = 1; n < columnCount(); ++n) {
    int x = header()->sectionViewportPosition(n);
    const int w = header()->sectionSize(n);
    const int right = x + w;
    bool centred = false;
    if (hasState && n <= 4) {
      if (n == 1) {
        centred = true;
      } else if (n == 2) {
        const int img = bit(lockedBits) ? 0 : 1;
        if (img < smallImages_.size()) painter->drawPixmap(x + (w - kIconSize) / 2, top, smallImages_[img]);
      } else {
        int img = bit(n == 3 ? afterLockBits : operationBits) ? 1 : 0;
        if (n == 3 && afterLockReadOnly) img += 2;
        if (img < stateImages_.size()) painter->drawPixmap(x, top, stateImages_[img]);
        x += kIconSize;
      }
    }
    const QString text = drawnText(k, n);
    if (text.isEmpty()) continue;
    painter->drawText(QRect(x + 6, top, right - 6 - (x + 6), height),
                      textFlags | (centred ? Qt::AlignHCenter : Qt::AlignLeft), text);
  }
  painter->restore();
}

void CCheckListCtrl::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint pos = event->position().toPoint();
    const QModelIndex idx = indexAt(pos);
    const int column = header()->logicalIndexAt(pos.x());
    const int k = idx.isValid() ? idx.row() : -1;
    if (k >= 0 && k < 64 && (column == 3 || column == 4)) {
      bool toggled = false;
      if (column == 4) {
        operationBits.set(k, !operationBits.test(k));
        toggled = true;
      } else if (!afterLockReadOnly) {
        afterLockBits.set(k, !afterLockBits.test(k));
        toggled = true;
      }
      if (toggled) viewport()->update();
    }
  }
  QTreeWidget::mousePressEvent(event);
}

void CCheckListCtrl::resizeEvent(QResizeEvent* event) {
  clientWidth = viewport()->width();
  QTreeWidget::resizeEvent(event);
  clientWidth = viewport()->width();
}

}  // namespace vrx4
