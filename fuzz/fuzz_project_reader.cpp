// The project file reader on any bytes: a file it accepts gives a record
// that passes the usability rule and writes back to the same bytes' record;
// a refused file leaves the caller's record as it was.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "view/ProjectFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  if (size == 0) return 0;
  static const std::string path = "/tmp/vrx4-fuzz-project-" + std::to_string(::getpid()) + ".kpj";
  // The first byte is the device table's row count; the rest the file.
  const int rows = data[0];
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
  }
  vrx4::ProjectSettings record;
  std::memset(reinterpret_cast<unsigned char*>(&record), 0x5A, sizeof record);
  vrx4::ProjectSettings before = record;
  const vrx4::ProjectReadResult r = vrx4::readProjectFile(path, rows, record);
  if (r == vrx4::ProjectReadResult::Ok) {
    if (!vrx4::projectRecordUsable(record, rows)) std::abort();
    const std::vector<uint8_t> again = vrx4::projectFileBytes(record);
    vrx4::ProjectSettings back;
    const std::string path2 = path + ".again";
    {
      std::ofstream out(path2, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(again.data()), std::streamsize(again.size()));
    }
    if (vrx4::readProjectFile(path2, rows, back) != vrx4::ProjectReadResult::Ok) std::abort();
    if (std::memcmp(&back, &record, sizeof record) != 0) std::abort();
  } else if (std::memcmp(&before, &record, sizeof record) != 0) {
    std::abort();
  }
  return 0;
}
