#include "sim/UnitFaults.h"

#include <cstdlib>
#include <limits>

#include "sim/SimulatedProgrammer.h"

namespace vrx4 {
namespace {

bool parseNumber(const std::string& text, long long max, long long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || v < 0 || v > max) return false;
  out = v;
  return true;
}

}  // namespace

int parseCommandCode(const std::string& text) {
  long long v = 0;
  if (parseNumber(text, 255, v)) return int(v);
  for (int c = 1; c < 256; ++c)
    if (text == SimulatedProgrammer::commandName(uint8_t(c))) return c;
  return -1;
}

bool unitFaultTakesValue(const std::string& name) {
  return name == "no-target-status" || name == "error-status" || name == "bad-checksum" || name == "wrong-echo" ||
         name == "stall" || name == "hang" || name == "drip" || name == "unplug-at" || name == "result" ||
         name == "time-scale";
}

bool applyUnitFault(SimulatedProgrammer& unit, const std::string& name, const std::string& value, std::string& why) {
  using Fault = SimulatedUnit::Fault;
  long long n = 0;
  if (name == "no-target") {
    unit.setTargetConnected(false);
  } else if (name == "target") {
    unit.setTargetConnected(true);
  } else if (name == "no-target-status" || name == "unplug-at") {
    const int cmd = parseCommandCode(value);
    if (cmd < 0) {
      why = "unknown command '" + value + "'";
      return false;
    }
    if (name == "unplug-at")
      unit.injectFaultOnCommand(uint8_t(cmd), Fault::Unplug);
    else
      unit.injectFaultOnCommand(uint8_t(cmd), Fault::ErrorStatus, 228, true);
  } else if (name == "error-status") {
    const size_t colon = value.find(':');
    const int cmd = parseCommandCode(value.substr(0, colon));
    if (cmd < 0 || colon == std::string::npos || !parseNumber(value.substr(colon + 1), 255, n)) {
      why = "expected COMMAND:CODE, got '" + value + "'";
      return false;
    }
    unit.injectFaultOnCommand(uint8_t(cmd), Fault::ErrorStatus, uint8_t(n), true);
  } else if (name == "bad-checksum" || name == "wrong-echo" || name == "stall" || name == "hang") {
    if (!parseNumber(value, std::numeric_limits<unsigned>::max(), n) || n == 0) {
      why = "expected a request number from 1, got '" + value + "'";
      return false;
    }
    const Fault f = name == "bad-checksum" ? Fault::BadChecksum
                    : name == "wrong-echo" ? Fault::WrongEcho
                    : name == "hang"       ? Fault::Withhold
                                           : Fault::NoReply;
    unit.injectFaultAtRequest(unsigned(n), f);
  } else if (name == "drip") {
    if (!parseNumber(value, 60000, n)) {
      why = "expected milliseconds from 0 to 60000, got '" + value + "'";
      return false;
    }
    unit.setDripMs(unsigned(n));
  } else if (name == "busy-forever") {
    unit.setBusyForever(true);
  } else if (name == "run-forever") {
    unit.setRunForever(true);
  } else if (name == "unplug") {
    unit.detach();
  } else if (name == "memory-error") {
    unit.setForcedResult(10);
  } else if (name == "result") {
    if (!parseNumber(value, 255, n)) {
      why = "expected a result code, got '" + value + "'";
      return false;
    }
    unit.setForcedResult(uint8_t(n));
  } else if (name == "time-scale" || name == "instant") {
    double f = 0;
    if (name == "time-scale") {
      char* end = nullptr;
      f = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(f >= 0) || f > 1000) {
        why = "expected a factor from 0 to 1000, got '" + value + "'";
        return false;
      }
    }
    unit.setTimeScale(f);
  } else if (name == "clear") {
    unit.clearFaults();
    unit.setForcedResult(0);
    unit.setDripMs(0);
    unit.setBusyForever(false);
    unit.setRunForever(false);
    unit.setTargetConnected(true);
  } else {
    why = "unknown fault '" + name + "'";
    return false;
  }
  return true;
}

std::string applyUnitControl(SimulatedProgrammer& unit, const std::string& message) {
  const size_t space = message.find(' ');
  const std::string name = message.substr(0, space);
  const std::string value = space == std::string::npos ? std::string() : message.substr(space + 1);
  std::string why;
  return applyUnitFault(unit, name, value, why) ? "ok" : "error: " + why;
}

}  // namespace vrx4
