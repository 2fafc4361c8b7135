#pragma once
// What the main form shows: the text, enabled and visible state of every
// control, the colours of the result box and the file name. The form's
// routines (the Refresh* and Select* steps of the view) change this state in
// the core; the window only draws it, and the command line reads it.
#include <string>
#include <vector>

#include "view/OperationRunner.h"

namespace vrx4 {

struct ControlState {
  std::string text;
  bool enabled = true;
  bool visible = true;
};

struct CheckState {
  bool checked = false;
  bool enabled = true;
};

struct MainFormState {
  // " Device "
  std::vector<std::string> deviceNames;  // "&Type :" list, table order
  int deviceSelection = -1;              // -1: no selection
  bool deviceListFocus = false;          // set when the list should take the focus
  ControlState detailButton;             // "Detail..."
  ControlState userRomArea;              // "User Rom Area :"
  ControlState block;                    // "Block :"
  ControlState vcc;                      // "Vcc :"
  ControlState vpp;                      // "Vpp :"

  // " CAN "
  ControlState baudrate;      // "Baudrate :"
  ControlState sendFrame;     // "Send frame :"
  ControlState pulseOutput;   // "Pulse Output :"
  ControlState setCanButton;  // "Set CAN..."

  // " Settings "
  ControlState userRomFile;         // "User Rom File :": the full path (the window shortens it)
  bool userRomFileCompact = false;  // true: shown shortened to fit (compactPathDisplay)
  bool userRomFileRed = false;      // drawn in red while the file is stale
  std::string lastUserFileName;     // file name and extension of the last chosen user file
  ControlState loadButton;          // "Load..."
  ControlState idCode;              // " ID code :"
  ControlState romProtect;          // "Rom Protect :"
  ControlState checkSum;            // "Check Sum :"
  ControlState checkIdCode;         // "Check ID code :"
  ControlState checkIdButton;       // "Check ID..."
  ControlState bootLoaderLabel;     // "Boot Loader :" (visible only)
  ControlState bootLoader;          // its field
  std::string bootFilePath;         // the boot file's full path (the field's tooltip)
  ControlState bootFileButton;      // "Boot File..."

  // " Advanced Settings "
  ControlState lockBitState;      // "Lock Bit State"
  ControlState operationBlock;    // "Operation Block"
  ControlState lockAfterProgram;  // "Lock Bit after Program"
  ControlState setBlocksButton;   // "Set Blocks..."

  // " Operation "
  CheckState preSending;    // "Pre Sending"
  CheckState postSending;   // "Post Sending"
  int operationIndex = -1;  // radio group, -1 before the first reset
  bool operationEnabled[kOperationCount] = {true, true, true, true, true, true};
  ControlState startButton;  // "Start"

  // " Execution "
  std::string resultText;  // result box "#1"
  bool resultColoured = false;
  Rgb resultBackground{255, 255, 255};

  // bottom right
  std::string versionText;         // the unit's firmware version, or "Read Error"
  ControlState readVersionButton;  // "Read Version"

  // Menu: "&User Rom Area..." is enabled only while a device is selected;
  // "&Boot Rom Area..." is removed when the table has no option mode.
  bool editUserRomEnabled = false;
  bool editBootRomPresent = true;
};

}  // namespace vrx4
