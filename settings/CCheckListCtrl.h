#pragma once
// The report list of the "Block Setting" dialog: one row per flash block, a
// lock icon of the block's present state and two check-box columns ("After
// Lock", "Operation Block") that a click toggles. The widget holds the three
// per-block masks; its owner writes them before showing it and reads them
// back afterwards. Every row is drawn here.
#include <QColor>
#include <QPixmap>
#include <QTreeWidget>
#include <QVector>

#include "base/LittleEndian.h"

namespace vrx4 {

class CCheckListCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  // Item data role holding a row's state-image index; rows without one get
  // neither icons nor check boxes.
  static constexpr int kStateImageRole = Qt::UserRole + 1;
  static constexpr int kIconSize = 16;

  explicit CCheckListCtrl(QWidget* parent = nullptr);

  // Check boxes: 0 empty, 1 ticked, 2 and 3 blank. Lock icons: 0 key, 1 dash.
  static QVector<QPixmap> makeStateImages();
  static QVector<QPixmap> makeLockImages();
  void setStateImages(const QVector<QPixmap>& images) { stateImages_ = images; }
  void setSmallImages(const QVector<QPixmap>& images) { smallImages_ = images; }

  // Appends a row with the given label and state-image index.
  QTreeWidgetItem* addRow(const QString& label, int stateImage = 1);

  // The text of a cell as it is drawn (shortened with "..." when too wide).
  QString drawnText(int row, int column) const;
  // The rectangle (viewport coordinates) of a cell, for hit tests and tests.
  QRect cellRect(int row, int column) const;

  void setTextColour(const QColor& c);
  void setTextBkColour(const QColor& c);
  void setBkColour(const QColor& c);

  BlockMask lockedBits;
  BlockMask afterLockBits;
  BlockMask operationBits;
  bool afterLockReadOnly = false;
  bool fullRowSelect = false;
  bool clientWidthSelect = true;
  int clientWidth = 0;
  int stateImageOffset = 0;
  QColor textColour, textBkColour, bkColour;

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int textMargin(int column) const;
  QVector<QPixmap> stateImages_;
  QVector<QPixmap> smallImages_;
};

}  // namespace vrx4
