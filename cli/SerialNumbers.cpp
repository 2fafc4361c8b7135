// The serial number of one job on one unit: the field checked against the
// device, the number taken before the unit hears anything, written into the
// image, and at the end used, burned or handed back.
#include "cli/SerialNumbers.h"

#include "app/DeviceTable.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "cli/Events.h"
#include "cli/ExitStatus.h"
#include "cli/HexText.h"
#include "cli/SerialText.h"

namespace vrx4::cli {

using json = nlohmann::ordered_json;

int checkSerialFieldOfDevice(Events& events, const std::string& fieldText, const std::string& deviceName,
                             const std::string& folder) {
  SerialField field;
  std::string why;
  if (!parseSerialField(fieldText, field, why)) {
    events.error(why);
    return kExitUsage;
  }
  DeviceTable table;
  bool missing = false;
  LogSink quiet = setLogSink([](std::string_view) {});
  const bool read = parseDeviceTableFile(findDataFile(folder, kDeviceTableFileName), table, missing);
  setLogSink(quiet);
  const int row = read ? table.findByName(deviceName) : -1;
  if (row >= 0 && !checkSerialField(field, table.row(row), why)) {
    events.error(why);
    return kExitUsage;
  }
  return kExitPass;
}

int JobSerial::take(const DeviceDef& device, const std::string& operation, Events& events) {
  if (!requested_) return kExitPass;
  // Only a job that programs gives a board its number.
  if (operation != "epv" && operation != "ep") {
    events.line("Serial : none (the operation programs nothing)");
    return kExitPass;
  }
  std::string why;
  if (!checkSerialField(field_, device, why)) {
    events.error(why);
    return kExitUsage;
  }
  switch (takeSerial(source_, field_, value_, why)) {
    case TakeResult::Taken:
      break;
    case TakeResult::Refused:
      events.error(why);
      return kExitUsage;
    case TakeResult::Failed:
      events.error("serial number not taken: " + why);
      return kExitFile;
  }
  encodeSerial(field_, value_.value, bytes_, why);
  taken_ = true;
  const std::string text = value_.value.text();
  events.fact("serial",
              {{"serial", text},
               {"address", hex6(field_.address)},
               {"width", field_.width},
               {"format", serialFormatName(field_.format)}},
              "Serial : " + text);
  return kExitPass;
}

void JobSerial::patch(MemoryImage& image) const {
  if (!taken_) return;
  for (size_t i = 0; i < bytes_.size(); ++i) {
    const uint32_t a = field_.address + uint32_t(i);
    if (a < kUserImageSize) image.userImage[a] = bytes_[i];
    image.bankHasData[size_t(bankOf(a))] = 1;  // the bank goes to the unit
  }
}

json JobSerial::finish(int status, bool imageSent, Events& events) {
  if (!taken_) return nullptr;
  const std::string text = value_.value.text();
  std::string state = "used";
  if (!finished_ && status != kExitPass) {
    state = "burned";
    if (reuseFailed_ && !imageSent) {
      std::string why;
      if (handBackSerial(source_, value_, why))
        state = "handed back";
      else
        events.error("serial " + text + " not handed back: " + why);
    }
    events.line("Serial : " + text + " " + state);
  }
  finished_ = true;
  return {{"value", text}, {"state", state}};
}

}  // namespace vrx4::cli
