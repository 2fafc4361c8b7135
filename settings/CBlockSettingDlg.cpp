#include "settings/CBlockSettingDlg.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "base/Prompter.h"
#include "link/Commands.h"
#include "settings/BlockSettingRules.h"
#include "settings/CCheckListCtrl.h"

namespace vrx4 {

CBlockSettingDlg::CBlockSettingDlg(const LockBitTable& table, const DeviceDef& device, QWidget* parent)
    : QDialog(parent), deviceBlockMask_(table.deviceBlockMask) {
  setWindowTitle("Block Setting");
  auto* top = new QVBoxLayout(this);
  QButtonGroup* radios = buildHead(top);
  list_ = new CCheckListCtrl(this);
  list_->setObjectName("blocks");
  top->addWidget(list_);
  buildButtons(top);

  const LockControlStates states = lockControlStates(device.lockBitMode);
  startFromTable(table, states);
  const int columnsWidth = setUpColumns();
  addBlockRows(device, states);
  applyControlStates(table, states);
  bindControls(radios);
  resize(columnsWidth + 60, 360);
}

QButtonGroup* CBlockSettingDlg::buildHead(QVBoxLayout* top) {
  auto* head = new QHBoxLayout;
  auto* radios = new QVBoxLayout;
  effective_ = new QRadioButton("Effective current Lock bits", this);
  effective_->setObjectName("effective");
  ignore_ = new QRadioButton("Ignore current Lock bits", this);
  ignore_->setObjectName("ignore");
  auto* group = new QButtonGroup(this);
  group->addButton(effective_);
  group->addButton(ignore_);
  radios->addWidget(effective_);
  radios->addWidget(ignore_);
  head->addLayout(radios);
  head->addStretch(1);
  readLockBits_ = new QPushButton("Read Lock bits", this);
  readLockBits_->setObjectName("readLockBits");
  head->addWidget(readLockBits_, 0, Qt::AlignBottom);
  top->addLayout(head);
  return group;
}

void CBlockSettingDlg::buildButtons(QVBoxLayout* top) {
  auto* buttons = new QHBoxLayout;
  allLock_ = new QPushButton("All lock", this);
  allLock_->setObjectName("allLock");
  allUnlock_ = new QPushButton("ALL unlock", this);
  allUnlock_->setObjectName("allUnlock");
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("ok");
  ok_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("cancel");
  buttons->addWidget(allLock_);
  buttons->addWidget(allUnlock_);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  top->addLayout(buttons);
}

void CBlockSettingDlg::startFromTable(const LockBitTable& table, const LockControlStates& states) {
  // The target's lock bits now; a failed read (reported by the exchange)
  // shows every block as not locked.
  BlockMask read;
  if (!readLockBits(read)) read = BlockMask{};
  list_->lockedBits = maskAnd(read, deviceBlockMask_);
  list_->afterLockBits = table.lockAfterProgramMask;
  list_->operationBits = table.operationBlockMask;
  list_->afterLockReadOnly = states.afterLockReadOnly;
}

int CBlockSettingDlg::setUpColumns() {
  list_->setStateImages(CCheckListCtrl::makeStateImages());
  list_->setSmallImages(CCheckListCtrl::makeLockImages());
  list_->setHeaderLabels({"Block", "Address", "Current Lock", "After Lock", "Operation Block"});
  const int widths[] = {46, 110, 80, 100, 100};
  int total = 0;
  for (int c = 0; c < 5; ++c) {
    list_->setColumnWidth(c, widths[c]);
    total += widths[c];
  }
  list_->setMinimumWidth(total + 2 * list_->frameWidth() + 20);
  return total;
}

void CBlockSettingDlg::addBlockRows(const DeviceDef& device, const LockControlStates& states) {
  const int count = listedBlockCount(device);
  for (int k = 0; k < count; ++k) {
    QTreeWidgetItem* row = list_->addRow(QString::number(k), 1);
    row->setText(1, QString::fromStdString(blockAddressText(device.blockStart[k], device.blockSize[k])));
    row->setText(3, states.showLockText ? "Lock" : "");
    row->setText(4, "Operation");
  }
}

void CBlockSettingDlg::applyControlStates(const LockBitTable& table, const LockControlStates& states) {
  allLock_->setEnabled(states.allLock);
  allUnlock_->setEnabled(states.allUnlock);
  readLockBits_->setEnabled(states.readLockBits);
  effective_->setEnabled(states.radios);
  ignore_->setEnabled(states.radios);
  if (table.lockBitState == 1)
    effective_->setChecked(true);
  else if (table.lockBitState == 0)
    ignore_->setChecked(true);
}

void CBlockSettingDlg::bindControls(QButtonGroup* radios) {
  connect(readLockBits_, &QPushButton::clicked, this, &CBlockSettingDlg::onReadLockBits);
  connect(allLock_, &QPushButton::clicked, this, &CBlockSettingDlg::onAllLock);
  connect(allUnlock_, &QPushButton::clicked, this, &CBlockSettingDlg::onAllUnlock);
  // The list is drawn again whenever the choice changes, however it changes.
  connect(radios, &QButtonGroup::buttonToggled, list_->viewport(), [this] { list_->viewport()->update(); });
  connect(ok_, &QPushButton::clicked, this, &CBlockSettingDlg::accept);
  connect(cancel_, &QPushButton::clicked, this, &CBlockSettingDlg::reject);
}

void CBlockSettingDlg::onReadLockBits() {
  BlockMask read;
  if (!readLockBits(read)) return;  // the exchange has said why; nothing changes
  // The after-lock choices start from the target's present state.
  list_->lockedBits = maskAnd(read, deviceBlockMask_);
  list_->afterLockBits = list_->lockedBits;
  list_->viewport()->update();
}

void CBlockSettingDlg::onAllLock() {
  for (uint8_t& b : list_->afterLockBits.bytes) b = 0xFF;
  list_->viewport()->update();
}

void CBlockSettingDlg::onAllUnlock() {
  list_->afterLockBits = BlockMask{};
  list_->viewport()->update();
}

void CBlockSettingDlg::accept() {
  if (!maskAnd(list_->operationBits, deviceBlockMask_).any()) {
    showMessage("No operation block.", Icon::Exclamation);
    return;
  }
  lockBitState_ = effective_->isChecked() ? 1 : 0;
  operationBlockMask_ = list_->operationBits;
  lockAfterProgramMask_ = list_->afterLockBits;
  QDialog::accept();
}

}  // namespace vrx4
