#pragma once
// The main form's logic without a window: its view fields, the display
// routines that fill MainFormState, and every command handler behind the
// form's list, buttons, check boxes, radio buttons and menu entries. Each
// handler that changes a setting sends it to the unit at once. The window
// (CMainView) binds its controls to these members and draws form().
#include <cstdint>
#include <functional>
#include <string>

#include "app/AppState.h"
#include "settings/DeviceDetailTexts.h"  // voltageText
#include "view/MainFormState.h"
#include "view/MainViewDialogs.h"

namespace vrx4 {

inline constexpr const char* kMsgOversizedPath = "Oversized full path.";
inline constexpr const char* kMsgFileDataDifferent = "File data is different.";
inline constexpr const char* kMsgManualOpenError = "Users Manual Open Error";
inline constexpr const char* kManualErrorCaption = "Error";
inline constexpr const char* kReadErrorText = "Read Error";
inline constexpr const char* kManualEnglish = "vrx4me.pdf";
inline constexpr const char* kManualJapanese = "vrx4mj.pdf";

inline constexpr const char* kUserFileDialogTitle = "User Rom Data Load";
inline constexpr const char* kUserFileDialogFilter = "Data file (*.hex,*.mot)|*.hex;*.mot||";
inline constexpr const char* kBootFileDialogTitle = "Boot Rom Data Load";
inline constexpr const char* kBootFileDialogFilter = "Data file (*.btp)|*.btp||";

// Longest user file path kept (the settings record holds 1024 bytes).
inline constexpr size_t kMaxUserFilePath = 1023;
// Longest stored-settings answer the unit can give (command 34).
inline constexpr size_t kMaxInitialLoadReply = 512;
// Fixed part of that answer besides the device name, file name and ID code.
inline constexpr size_t kInitialLoadFixedPart = 200;

// Whether a user file path can be kept: at most 1023 characters, and short
// enough that the unit can give it back in its stored-settings answer for
// this device name and ID code length.
bool userFilePathFits(const std::string& path, const std::string& deviceName, int idCodeLength);

// The user image's bytes at the device's ID code addresses (all 0xFF when
// any of them lies outside the user ROM) into out; returns their count.
int imageIdBytes(const DeviceDef& device, const MemoryImage& image, uint8_t* out);
// The same bytes stored into the settings' IdCode; returns their count.
int storeImageIdCode(ProjectSettings& settings, const MemoryImage& image);

// The text of the "User Rom File :" field for a field that shows `fits`
// texts: the path itself when it fits, else its start, "/.../" and the file
// name (the part after the last "/", or lastUserFileName when the path has
// none), dropping trailing folder levels of the start until it fits (at
// last "/.../" and the file name alone).
std::string CompactPathDisplay(const std::string& path, const std::string& lastUserFileName,
                               const std::function<bool(const std::string&)>& fits);

// Texts of the form's fields.
std::string baudrateText(float kbps);                       // "1.0Mbps", "125.0Kbps"
std::string protectText(int level);                         // "Level1 enabled", "Level2 enabled", "Removed"
std::string blockMaskText(const BlockMask& m);              // "Nothing" or FormatBlockList 0..63
std::string hexBytesText(const uint8_t* bytes, int count);  // "%02X" joined by ","

class MainViewModel {
 public:
  MainViewModel(AppState& state, MainViewDialogs& dialogs);

  AppState& state() { return state_; }
  const AppState& state() const { return state_; }
  const MainFormState& form() const { return form_; }

  // Called at every point where the form shows its fields again (also
  // before a modal dialog opens), so the window can redraw.
  void setFormChanged(std::function<void()> callback) { formChanged_ = std::move(callback); }

  // View fields.
  int operationIndex = -1;  // 0..5, -1 before the first reset
  bool preSending = false;
  bool postSending = false;
  uint8_t lastResult = 0;
  bool userReadBackPending = false;
  std::string versionText;

  // The form's start-up once the connection check has succeeded: fills the
  // device list, ResetView, then Project New when the unit's settings must
  // be reset (reinitPending, cleared here). Sets startupOk. With
  // deferReinit the reset is left for RunPendingReinit (a window runs it once
  // it is up).
  void StartUp(bool deferReinit = false);
  // Project New when reinitPending is set, then clears it; false when nothing
  // was pending.
  bool RunPendingReinit();

  // Display and state routines.
  void ResetView();
  void ApplyInitialLoadData();
  void SelectDevice(int index);
  void DisableDeviceControls();
  void RefreshDeviceDisplay();
  void RefreshCanDisplay();
  void RefreshLockDisplay();
  void RefreshUserFileDisplay();
  // After an edit whose upload failed or that has no file behind it:
  // "Check Sum :", "Rom Protect :" and " ID code :" go empty.
  void ClearUserFileSums();
  void RefreshAllFileDisplay();
  void RefreshOperationButtons();
  // The bytes of the user image at the device's ID code addresses (all 0xFF
  // when one of them lies outside the user ROM), stored into the IdCode and
  // returned as text.
  std::string ImageIdText();

  // Command handlers.
  void OnDeviceChanged(int selection);  // -1: no selection
  void OnLoadUserFile();
  void OnLoadBootFile();
  void OnSetCan();
  void OnSetBlocks();
  void OnCheckId();
  void OnDetail();
  void OnReadVersion();
  void OnOperationChanged(int operation, bool pre, bool post);
  void OnProjectNew();
  void OnStart();
  // japanese: the user's language is Japanese (the front end asks its locale).
  void OnManual(bool japanese);

  // After a Load or a project open whose user file did not end up in the
  // unit (refused, declined, too long a path, transfer failed): the record
  // holds no user file, the unit is told it holds no user data and an empty
  // file name, the program operations go (Blank is chosen and sent when
  // another operation was), and `attemptedPath` stays in the file field in
  // red until another file name is set.
  void UserFileNotInUnit(const std::string& attemptedPath);

  // Support routines; each returns whether every command it had to send went
  // through.
  bool UploadUserImage();
  bool SendLockBits();
  bool SendAllSettings();

  // The send flags of the check boxes: bit 0 pre, bit 1 post.
  uint8_t sendFlags() const { return uint8_t((postSending ? 2 : 0) | (preSending ? 1 : 0)); }

 private:
  void showFields();
  void clearUserFile();
  void showNoUserFile();
  void setUserFileName(const std::string& name);
  std::string userFileName() const;
  bool hasDevice() const;
  void setResultBox();
  void setBootLoaderText();
  void restoreBootArea();

  AppState& state_;
  MainViewDialogs& dialogs_;
  MainFormState form_;
  std::function<void()> formChanged_;
  // The file whose Load failed; shown (in red) while no file is set.
  std::string failedUserFile_;
};

}  // namespace vrx4
