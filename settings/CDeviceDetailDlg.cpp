#include "settings/CDeviceDetailDlg.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/DisplayText.h"
#include "settings/CHighlightListCtrl.h"
#include "settings/DeviceDetailTexts.h"

namespace vrx4 {

CDeviceDetailDlg::CDeviceDetailDlg(const DeviceDef& device, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Device detail");
  const DeviceDetailTexts t = deviceDetailTexts(device);
  auto* top = new QVBoxLayout(this);

  auto* box = new QGroupBox(" Device ", this);
  auto* form = new QFormLayout(box);
  const std::pair<const char*, const std::string*> fields[] = {{"Type :", &t.type}, {"Top address :", &t.topAddress},
                                                               {"Size :", &t.size}, {"Block :", &t.block},
                                                               {"Vcc :", &t.vcc},   {"Vpp :", &t.vpp}};
  const char* names[] = {"type", "topAddress", "size", "block", "vcc", "vpp"};
  for (int i = 0; i < 6; ++i) {
    auto* edit = new QLineEdit(QString::fromStdString(displayText(*fields[i].second)), box);
    edit->setObjectName(names[i]);
    edit->setReadOnly(true);
    edit->setCursorPosition(0);
    form->addRow(fields[i].first, edit);
  }
  top->addWidget(box);

  list_ = new CHighlightListCtrl(this);
  list_->setObjectName("blocks");
  list_->setHeaderLabels({"", "Block", "Start address", "End address", "Size"});
  list_->header()->setDefaultAlignment(Qt::AlignCenter);
  const int widths[] = {0, 50, 100, 100, 80};
  int total = 0;
  for (int c = 0; c < 5; ++c) {
    list_->setColumnWidth(c, widths[c]);
    total += widths[c];
  }
  list_->setMinimumWidth(total + 2 * list_->frameWidth() + 20);
  for (const DeviceBlockRow& r : t.rows) {
    auto* item = new QTreeWidgetItem(list_);
    const std::string* cells[] = {&r.block, &r.start, &r.end, &r.size};
    for (int c = 0; c < 4; ++c) {
      item->setText(c + 1, QString::fromStdString(displayText(*cells[c])));
      item->setTextAlignment(c + 1, Qt::AlignCenter);
    }
  }
  top->addWidget(list_);

  auto* buttons = new QHBoxLayout;
  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("ok");
  ok->setDefault(true);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addStretch(1);
  top->addLayout(buttons);
  connect(ok, &QPushButton::clicked, this, &CDeviceDetailDlg::accept);
  resize(total + 60, 420);
}

}  // namespace vrx4
