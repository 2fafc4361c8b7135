#pragma once
// "CAN Setting": bit rate and sample point from the timing table, the frames
// the unit sends before and after an operation, and the pulse output. Works
// on a copy of the record; OK rebuilds the record and sends it to the unit.
#include <QDialog>

#include "base/CanSetting.h"
#include "settings/CanDialogRules.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace vrx4 {

class CCanSettingDlg : public QDialog {
  Q_OBJECT
 public:
  // `setting` is the current record; it changes only when the dialog ends with OK.
  explicit CCanSettingDlg(CanSetting& setting, QWidget* parent = nullptr);

  // What the dialog shows now (the OK step reads the same values).
  CanDialogValues values() const;

 public slots:
  void accept() override;
  void onDefault();
  void stepPulse(int step);

 private:
  struct FrameRow {
    QLabel* caption = nullptr;
    QComboBox* format = nullptr;
    QComboBox* type = nullptr;
    QLineEdit* sid = nullptr;
    QLineEdit* eid = nullptr;
    QLineEdit* dlc = nullptr;
    QLineEdit* data[8] = {};
    // D fields the row's Dlc enables: set when filled from the record, then
    // by each valid Dlc text.
    int dataFields = 0;
  };

  // The constructor's steps: each group of controls in turn, from the top
  // down, then the controls' signals, then the record's values.
  void buildBaudrateGroup(QVBoxLayout* top);
  void buildSendFrameGroup(QVBoxLayout* top);
  void buildFrameRow(QGridLayout* grid, QWidget* frameBox, int r);
  void bindFrameRow(int r);
  void buildPulseGroup(QVBoxLayout* top);
  void buildButtons(QVBoxLayout* top);
  void bindControls();
  void startFromRecord();

  void fill(const CanDialogValues& v);
  void rebuildSamplePoints(int row);
  void applyAllRules();
  void applyEidRule(FrameRow& r);
  void applyDlcAndDataRule(FrameRow& r);
  void applyDataRule(FrameRow& r);
  void applyPulseRule();
  void checkFrameField(QLineEdit* edit, CanField field, FrameRow* row);
  void checkPulse();

  CanSetting& setting_;
  bool armed_ = false;
  int pulsePosition_ = 100;

  QComboBox* baudrate_ = nullptr;
  QComboBox* samplePoint_ = nullptr;
  QCheckBox* useSendFrame_ = nullptr;
  QList<QLabel*> columnCaptions_;
  FrameRow rows_[2];
  QCheckBox* usePulse_ = nullptr;
  QLabel* pulseCaption_ = nullptr;
  QLineEdit* pulseCycle_ = nullptr;
  QToolButton* pulseUp_ = nullptr;
  QToolButton* pulseDown_ = nullptr;
  QLabel* pulseNote_ = nullptr;
};

}  // namespace vrx4
