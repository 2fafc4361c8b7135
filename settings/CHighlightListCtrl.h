#pragma once
// A report list whose column widths the operator cannot change. Owner-drawn
// (the memory editor's hex dump, one row of 16 bytes per line, labelled with
// the "%06X" row address), it draws each byte cell whose address is in
// changedAddresses in blue. Not owner-drawn (the device detail block list),
// its rows are drawn the ordinary way.
#include <QColor>
#include <QTreeWidget>

#include "settings/ListRules.h"

namespace vrx4 {

class CHighlightListCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CHighlightListCtrl(QWidget* parent = nullptr);

  // Owner drawing with a fixed row height: the memory editor turns it on.
  void setOwnerDraw(bool on);
  bool ownerDraw() const { return ownerDraw_; }

  // The colour a cell's text is drawn in, following the row's drawing order:
  // a changed byte cell is blue, and every cell after it in the row black.
  QColor cellTextColour(int row, int column) const;

  ChangedAddressSet changedAddresses;
  bool fullRowSelect = false;
  bool clientWidthSelect = true;
  int clientWidth = 0;
  int stateImageOffset = 0;
  QColor textColour, textBkColour, bkColour;

  static QColor changedColour() { return QColor(0, 0, 255); }

 protected:
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  bool rowSelected(const QModelIndex& index) const;
  bool ownerDraw_ = false;
};

}  // namespace vrx4
