#pragma once
// "Data Save": the save-file dialog with a "Save &Address :" field below it
// for up to five addresses or ranges of the area being saved.
#include <QFileDialog>

#include "image/ProgramSaver.h"

class QLabel;
class QLineEdit;

namespace vrx4 {

enum class SaveArea { User, Boot };

// Width of the address field in dialog units: the wider layout for a
// Japanese locale.
int saveAddressFieldUnits(bool japanese);

class CSaveFileDlg : public QFileDialog {
 public:
  // `ranges` is the array the dialog fills (cleared by the caller).
  CSaveFileDlg(SaveArea area, uint32_t areaStart, uint32_t areaEnd, const QString& startDirectory,
               QWidget* parent = nullptr);

  const SaveRanges& ranges() const { return ranges_; }
  QLineEdit* addressField() const { return field_; }
  QLabel* addressLabel() const { return label_; }

  // Validates the address field as leaving it would; false after the
  // "Invalid address." message.
  bool validateAddress();

  void accept() override;

 private:
  void onFocusChanged(QWidget* old, QWidget* now);
  bool isCancelButton(const QWidget* w) const;

  uint32_t areaStart_;
  uint32_t areaEnd_;
  SaveRanges ranges_{};
  QLabel* label_ = nullptr;
  QLineEdit* field_ = nullptr;
  QString lastChecked_;
  bool lastResult_ = true;
  bool validating_ = false;
};

}  // namespace vrx4
