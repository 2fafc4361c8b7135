#pragma once
// "Edit": the memory editor. A hex dump of the user-ROM or boot area (only
// the rows that fit are made, from the editor's work copy), six scroll
// buttons, Address, Modify, Clear, Save, OK and Cancel. The logic is
// MemoryEditor's; this window shows it and runs the small dialogs.
#include <QDialog>
#include <memory>

#include "app/AppState.h"
#include "view/CommandSeam.h"
#include "view/MemoryEditor.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace vrx4 {

class CHighlightListCtrl;

// Width of a byte column: wider for a Japanese locale.
int editorByteColumnWidth(bool japanese);

class CMemoryEditDlg : public QDialog {
 public:
  CMemoryEditDlg(AppState& app, const EditorRequest& request, QWidget* parent = nullptr);
  ~CMemoryEditDlg() override;

  MemoryEditor& editor() { return *editor_; }
  CHighlightListCtrl* list() const { return list_; }
  QPushButton* button(const QString& name) const;
  QLineEdit* infoField(const QString& name) const;
  // Rows the list has room for.
  int rowsThatFit() const;
  bool uploadFailed() const { return editor_->uploadFailed(); }

  // The buttons.
  void onScroll(int index);  // 0..2 up by 0x10000, 0x1000, 0x100; 3..5 down by 0x100, 0x1000, 0x10000
  void onAddress();
  void onModify();
  void onClear();
  void onSave();
  void accept() override;  // OK
  void reject() override;  // Cancel, Esc, the close box

  // The list again from the work copy.
  void refill();

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  // The constructor's steps: the information at the top, the dump, the
  // scroll arrows beside it and the buttons beside those.
  QGroupBox* buildInformation(const EditorRequest& request);
  void buildDumpList();
  QVBoxLayout* buildScrollArrows();
  QVBoxLayout* buildButtons();

  EditorSeam seam();

  AppState& app_;
  std::unique_ptr<MemoryEditor> editor_;
  CHighlightListCtrl* list_ = nullptr;
  QLineEdit* programFile_ = nullptr;
  QPushButton* save_ = nullptr;
  int shownRows_ = -1;
};

// Runs the editor modally (the runEditor seam of the commands).
EditorOutcome runMemoryEditor(AppState& app, const EditorRequest& request, QWidget* parent = nullptr);

}  // namespace vrx4
