#pragma once
// "Block Setting": per block the "Operation Block" and "After Lock" choices,
// shown beside the target's present lock bits, and whether those lock bits
// are honoured. Reads the lock bits from the unit when it opens.
#include <QDialog>

#include "base/DeviceDef.h"
#include "base/LockBitTable.h"

class QButtonGroup;
class QPushButton;
class QRadioButton;
class QVBoxLayout;

namespace vrx4 {

class CCheckListCtrl;
struct LockControlStates;

class CBlockSettingDlg : public QDialog {
  Q_OBJECT
 public:
  // Reads lockBitState, operationBlockMask, lockAfterProgramMask and
  // deviceBlockMask of `table`; the dialog changes nothing itself.
  CBlockSettingDlg(const LockBitTable& table, const DeviceDef& device, QWidget* parent = nullptr);

  // The outputs, meaningful once the dialog ended with OK.
  uint8_t lockBitState() const { return lockBitState_; }
  const BlockMask& operationBlockMask() const { return operationBlockMask_; }
  const BlockMask& lockAfterProgramMask() const { return lockAfterProgramMask_; }

  CCheckListCtrl* list() const { return list_; }

 public slots:
  void accept() override;
  void onReadLockBits();
  void onAllLock();
  void onAllUnlock();

 private:
  // The constructor's steps: the controls from the top down, then what the
  // table, the device and the target's lock bits make of them.
  QButtonGroup* buildHead(QVBoxLayout* top);  // the radios and "Read Lock bits"; their group
  void buildButtons(QVBoxLayout* top);
  void startFromTable(const LockBitTable& table, const LockControlStates& states);
  int setUpColumns();  // the columns' total width
  void addBlockRows(const DeviceDef& device, const LockControlStates& states);
  void applyControlStates(const LockBitTable& table, const LockControlStates& states);
  void bindControls(QButtonGroup* radios);

  BlockMask deviceBlockMask_;
  uint8_t lockBitState_ = 0;
  BlockMask operationBlockMask_;
  BlockMask lockAfterProgramMask_;
  CCheckListCtrl* list_ = nullptr;
  QRadioButton* effective_ = nullptr;
  QRadioButton* ignore_ = nullptr;
  QPushButton* readLockBits_ = nullptr;
  QPushButton* allLock_ = nullptr;
  QPushButton* allUnlock_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace vrx4
