// The device definition table parser on any text: no crash, no read past
// a line, and every row it keeps within the table's own limits.
#include <cstdlib>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "app/DeviceTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  vrx4::DeviceTable table;
  vrx4::DeviceTableError error;
  vrx4::parseDeviceTableQuiet(in, table, error);
  if (table.rowCount() > vrx4::DeviceTable::kMaxRows) std::abort();
  for (int i = 0; i < table.rowCount(); ++i) {
    const vrx4::DeviceDef& d = table.row(i);
    if (uint32_t(d.bootRomSize) > vrx4::kMaxBootRomSize || uint32_t(d.userRomSize) > vrx4::kMaxUserRomSize ||
        int32_t(d.idCodeLength) > vrx4::kMaxIdCodeLength || int32_t(d.blockCount) > vrx4::kMaxBlocks)
      std::abort();
  }
  return 0;
}
