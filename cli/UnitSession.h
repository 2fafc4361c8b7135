#pragma once
// One unit for one vrx4-cli job: the transport chosen with --unit, the link,
// and the start-up check the program runs before its window opens (model,
// firmware version, device table, the settings the unit keeps).
#include <memory>
#include <string>

#include "app/AppState.h"
#include "base/Clock.h"
#include "link/UsbDriver.h"

namespace vrx4::cli {

class CliPrompter;
class Events;

enum class UnitKind { Usb, Sim, Socket };

struct UnitSpec {
  UnitKind kind = UnitKind::Usb;
  std::string serial;      // Usb: empty for the first unit
  std::string socketPath;  // Socket
  std::string text;        // as given: "usb", "usb:SN1", "sim", "socket:PATH"
};

// "usb", "usb:SERIAL", "sim", "socket:PATH"; false with why for anything else.
bool parseUnitSpec(const std::string& text, UnitSpec& choice, std::string& why);

// Whether two choices name the same unit (the same text, the same socket
// by another path; "sim" twice would share one state file).
bool sameUnit(const UnitSpec& a, const UnitSpec& b);

// How the built-in simulated unit (--unit sim) starts.
struct SimSettings {
  bool instant = false;   // busy phases and operations take no time; nothing waits
  std::string statePath;  // empty: the user's state folder, as for the program
  bool noState = false;   // keep nothing
  bool fresh = false;     // start as a new unit
  bool noTarget = false;  // operations end with "Contact Err"
};

class UnitSession {
 public:
  UnitSession(UnitSpec choice, SimSettings sim);
  ~UnitSession();  // closes the link, restores the transport and the clock
  UnitSession(const UnitSession&) = delete;
  UnitSession& operator=(const UnitSession&) = delete;

  // The start-up check, in the program's order; returns the exit status
  // (0: the unit is ready and state holds what it keeps; the form's
  // start-up runs Project New when reinitPending is set).
  int connect(AppState& state, Events& events, CliPrompter& prompter);

  // The unit's device path and USB serial number (empty when it has none).
  // Before the unit is found, the path is the --unit text.
  const std::string& unitPath() const { return path_.empty() ? spec_.text : path_; }
  const std::string& serial() const { return serial_; }

 private:
  UnitSpec spec_;
  SimSettings sim_;
  std::unique_ptr<UsbDriver> driver_;
  UsbDriver* previousDriver_ = nullptr;
  std::unique_ptr<FakeClock> instantClock_;
  Clock* previousClock_ = nullptr;
  bool linkOpen_ = false;
  std::string path_;
  std::string serial_;
};

}  // namespace vrx4::cli
