#pragma once
// The main form's handlers as the command line drives them: each changes
// the settings record and sends the changed item to the unit at once, in the
// order the window's handlers do, so that the unit receives the same
// commands from a script as from the form. The long transfers and the
// operation run under the worker runner instead of a progress dialog.
#include <cstdint>
#include <string>

#include "app/AppState.h"

namespace vrx4::cli {

class Events;

class FormSteps {
 public:
  FormSteps(AppState& state, Events& events) : state_(state), events_(events) {}

  // The form's start: the settings the unit keeps become the form's
  // (device by name, lock bits, ID code, operation, file name, CAN).
  void resetView();

  // "&Type :" changed to table row `index` (nothing when it is selected already).
  void onDeviceChanged(int index);
  // "Load...": the loader, then the upload of ID code, file name, lock bits,
  // image and block sums. 0, kExitFile (the file was refused) or kExitLink.
  int onLoadUserFile(const std::string& path);
  // "Boot File...": 0, kExitFile or kExitLink.
  int onLoadBootFile(const std::string& path);
  // "Set CAN..." accepted with this record.
  bool onSetCan(const CanSetting& can);
  // "Set Blocks..." accepted with these choices.
  bool onSetBlocks(uint8_t lockBitState, const BlockMask& operationBlocks, const BlockMask& lockAfter);
  // "Check ID..." accepted with these bytes.
  bool onCheckId(const IdCode& id);
  // A radio button or send check box changed.
  bool onOperationChanged(int operationIndex, bool preSending, bool postSending);
  // "Start": the unit's result code (0: none, the start or a poll failed).
  uint8_t onStart();
  // "Read Version": the text shown ("Read Error" on failure).
  std::string onReadVersion();
  // The read-back before the editor opens: the user image from the unit.
  bool fetchUserImage();

  // The routines the project command calls back.
  void selectDevice(int index);
  void refreshLockDisplay();
  void refreshOperationButtons();
  // Everything to the unit after a project is opened; false at the first
  // command that failed.
  bool sendAllSettings();
  void setViewFields(int operationIndex, bool pre, bool post) {
    operationIndex_ = operationIndex;
    preSending_ = pre;
    postSending_ = post;
  }

  int operationIndex() const { return operationIndex_; }
  bool preSending() const { return preSending_; }
  bool postSending() const { return postSending_; }
  int protectLevel() const { return protectLevel_; }

 private:
  void clearUserFile();
  bool uploadUserImage(const std::string& path);
  bool sendImage(ImageArea area);

  AppState& state_;
  Events& events_;
  int operationIndex_ = 0;
  bool preSending_ = false;
  bool postSending_ = false;
  bool userReadBackPending_ = false;
  int protectLevel_ = 0;
};

}  // namespace vrx4::cli
