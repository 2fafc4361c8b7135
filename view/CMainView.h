#pragma once
// The main form inside the frame: the " Device ", " CAN ", " Settings ",
// " Advanced Settings ", " Operation " and " Execution " groups, laid out in
// dialog units of the form's font. The form only draws a MainFormState and
// passes each control's action to the view's handlers; its first update runs
// the connection check, and the program only goes on when that succeeds.
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "view/MainFormState.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vrx4 {

struct AppState;
class CMainFrame;
class CMainViewDialogs;
class MainViewModel;

// Size of the form in dialog units.
inline constexpr int kFormWidthUnits = 408;
inline constexpr int kFormHeightUnits = 306;

class CMainView : public QWidget {
  Q_OBJECT
 public:
  CMainView(AppState& state, QWidget* parent = nullptr);
  ~CMainView() override;

  // The first update: fits the frame to the form, runs the connection check
  // and clears startupOk when it fails. Returns whether the program goes on.
  bool onInitialUpdate();
  bool initialUpdateDone() const { return initialUpdateDone_; }

  // When the unit's stored settings were invalid or its firmware was just
  // updated: "Initializing..." resets them, then they are read again.
  // Queued by the first update to run once the window is up; returns
  // whether it ran.
  bool runPendingReinit();

  // Applies every text, enabled and visible state of the record to the
  // controls, the device list included.
  void render(const MainFormState& s);

  // The form's size in pixels: 408 x 306 dialog units of its font.
  QSize formSize() const;
  QSize sizeHint() const override { return formSize(); }

  // Dialog units of the form's font in pixels.
  int unitsX(int units) const;
  int unitsY(int units) const;

  // The form's logic and its dialogs on screen.
  MainViewModel& model() { return *model_; }
  CMainViewDialogs& dialogs() { return *dialogs_; }

  // What each control does: the view's handlers unless replaced.
  struct Actions {
    std::function<void(int)> deviceChanged;  // the list's new selection
    std::function<void()> detail, setCan, loadUserFile, checkId, loadBootFile, setBlocks;
    std::function<void()> operationChanged, start, readVersion;
  };
  void setActions(Actions a) { actions_ = std::move(a); }

  // What the controls say now: the radio choice (-1: none) and the ticks.
  int checkedOperation() const;
  bool preSendingChecked() const;
  bool postSendingChecked() const;

  // The controls, for the frame and for tests.
  QComboBox* deviceList() const { return deviceList_; }
  QPushButton* detailButton() const { return detail_; }
  QLineEdit* userRomAreaField() const { return userRomArea_; }
  QLineEdit* blockField() const { return block_; }
  QLineEdit* vccField() const { return vcc_; }
  QLineEdit* vppField() const { return vpp_; }
  QLineEdit* baudrateField() const { return baudrate_; }
  QLineEdit* sendFrameField() const { return sendFrame_; }
  QLineEdit* pulseOutputField() const { return pulseOutput_; }
  QPushButton* setCanButton() const { return setCan_; }
  QLineEdit* userRomFileField() const { return userRomFile_; }
  QPushButton* loadButton() const { return load_; }
  QLineEdit* idCodeField() const { return idCode_; }
  QLineEdit* romProtectField() const { return romProtect_; }
  QLineEdit* checkSumField() const { return checkSum_; }
  QLineEdit* checkIdCodeField() const { return checkIdCode_; }
  QPushButton* checkIdButton() const { return checkId_; }
  QLabel* bootLoaderLabel() const { return bootLoaderLabel_; }
  QLineEdit* bootLoaderField() const { return bootLoader_; }
  QPushButton* bootFileButton() const { return bootFile_; }
  QLineEdit* lockBitStateField() const { return lockBitState_; }
  QLineEdit* operationBlockField() const { return operationBlock_; }
  QLineEdit* lockAfterProgramField() const { return lockAfterProgram_; }
  QPushButton* setBlocksButton() const { return setBlocks_; }
  QCheckBox* preSendingBox() const { return preSending_; }
  QCheckBox* postSendingBox() const { return postSending_; }
  QRadioButton* operationButton(int i) const { return i >= 0 && i < kOperationCount ? operations_[i] : nullptr; }
  QPushButton* startButton() const { return start_; }
  QLineEdit* resultBox() const { return result_; }
  QLineEdit* versionField() const { return version_; }
  QPushButton* readVersionButton() const { return readVersion_; }

 private:
  // The form's controls, group by group in the order they are made (which
  // is also the order of the keyboard focus), then their signals.
  void build();
  void buildDeviceGroup();
  void buildCanGroup();
  void buildAdvancedGroup();
  void buildSettingsGroup();
  QButtonGroup* buildOperationGroup();  // the radio buttons' group
  void buildExecutionGroup();
  void connectControls(QButtonGroup* radios);
  void bindMenus(CMainFrame& frame);
  void bindControls();
  // Draws the model's form on the view and the frame's menus.
  void refresh();
  void setFonts();
  QGroupBox* group(const char* title, int x, int y, int w, int h);
  QLabel* label(const char* text, int x, int y, int w);
  QLineEdit* field(const char* name, int x, int y, int w, int h = 12);
  // A label and the field it names on one row; y is the field's.
  QLineEdit* labeledField(const char* text, int x, int y, int labelWidth, const char* name, int width);
  QPushButton* button(const char* text, const char* name, int x, int y, int w, int h = 14);
  void place(QWidget* w, int x, int y, int width, int height);
  // render()'s steps, one per group of the form.
  void renderDeviceGroup(const MainFormState& s);
  void renderCanGroup(const MainFormState& s);
  void renderSettingsGroup(const MainFormState& s);
  void renderAdvancedGroup(const MainFormState& s);
  void renderOperationGroup(const MainFormState& s);
  void renderExecutionGroup(const MainFormState& s);
  void showUserRomFile(const MainFormState& s);
  void fire(const std::function<void()>& f);

  AppState& state_;
  std::unique_ptr<CMainViewDialogs> dialogs_;
  std::unique_ptr<MainViewModel> model_;
  bool initialUpdateDone_ = false;
  bool rendering_ = false;
  Actions actions_;

  QComboBox* deviceList_ = nullptr;
  QPushButton* detail_ = nullptr;
  QLineEdit* userRomArea_ = nullptr;
  QLineEdit* block_ = nullptr;
  QLineEdit* vcc_ = nullptr;
  QLineEdit* vpp_ = nullptr;
  QLineEdit* baudrate_ = nullptr;
  QLineEdit* sendFrame_ = nullptr;
  QLineEdit* pulseOutput_ = nullptr;
  QPushButton* setCan_ = nullptr;
  QLineEdit* userRomFile_ = nullptr;
  QPushButton* load_ = nullptr;
  QLineEdit* idCode_ = nullptr;
  QLineEdit* romProtect_ = nullptr;
  QLineEdit* checkSum_ = nullptr;
  QLineEdit* checkIdCode_ = nullptr;
  QPushButton* checkId_ = nullptr;
  QLabel* bootLoaderLabel_ = nullptr;
  QLineEdit* bootLoader_ = nullptr;
  QPushButton* bootFile_ = nullptr;
  QLineEdit* lockBitState_ = nullptr;
  QLineEdit* operationBlock_ = nullptr;
  QLineEdit* lockAfterProgram_ = nullptr;
  QPushButton* setBlocks_ = nullptr;
  QCheckBox* preSending_ = nullptr;
  QCheckBox* postSending_ = nullptr;
  std::array<QRadioButton*, kOperationCount> operations_{};
  QPushButton* start_ = nullptr;
  QLineEdit* result_ = nullptr;
  QLineEdit* version_ = nullptr;
  QPushButton* readVersion_ = nullptr;
  MainFormState shown_;
};

}  // namespace vrx4
