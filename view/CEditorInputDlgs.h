#pragma once
// The memory editor's three small dialogs: "Address Input", "Data Input"
// and "Memory Clear". Each checks its fields when OK is pressed and stays
// open with the focus on the faulty field after telling the operator.
#include <QDialog>

#include "base/LittleEndian.h"

class QLineEdit;

namespace vrx4 {

class CAddressInputDlg : public QDialog {
 public:
  CAddressInputDlg(int32_t areaStart, int32_t areaEnd, QWidget* parent = nullptr);
  QLineEdit* addressField() const { return address_; }
  int32_t address() const { return value_; }
  void accept() override;

 private:
  int32_t areaStart_, areaEnd_;
  QLineEdit* address_ = nullptr;
  int32_t value_ = 0;
};

class CDataInputDlg : public QDialog {
 public:
  CDataInputDlg(int32_t areaStart, int32_t areaEnd, int32_t currentAddress, QWidget* parent = nullptr);
  QLineEdit* addressField() const { return address_; }
  QLineEdit* dataField() const { return data_; }
  int32_t address() const { return address_value_; }
  uint8_t data() const { return data_value_; }
  void accept() override;

 private:
  int32_t areaStart_, areaEnd_;
  QLineEdit* address_ = nullptr;
  QLineEdit* data_ = nullptr;
  int32_t address_value_ = 0;
  uint8_t data_value_ = 0;
};

class CMemoryClearDlg : public QDialog {
 public:
  // Boot area: the block field is disabled and empty.
  CMemoryClearDlg(bool boot, int blockCount, QWidget* parent = nullptr);
  QLineEdit* blockField() const { return block_; }
  QLineEdit* dataField() const { return data_; }
  const BlockMask& blocks() const { return blocks_; }
  uint8_t data() const { return data_value_; }
  void accept() override;

 private:
  bool boot_;
  int blockCount_;
  QLineEdit* block_ = nullptr;
  QLineEdit* data_ = nullptr;
  BlockMask blocks_;
  uint8_t data_value_ = 0xFF;
};

}  // namespace vrx4
