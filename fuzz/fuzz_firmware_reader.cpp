// The firmware file reader on any bytes: it either accepts the file with an
// image of its fixed size or refuses it, leaving the image as it was.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "app/FirmwareUpdate.h"
#include "base/Clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vrx4::fuzz::quiet();
  static vrx4::FakeClock fakeClock;
  static bool clockSet = (vrx4::setClock(&fakeClock), true);
  (void)clockSet;
  static const std::string path = "/tmp/vrx4-fuzz-firmware-" + std::to_string(::getpid()) + ".fwp";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  vrx4::FirmwareImage image(vrx4::kFirmwareImageSize, 0x5A);
  const vrx4::FirmwareImage before = image;
  const bool ok = vrx4::readFirmwareFile(path, image);
  if (image.size() != vrx4::kFirmwareImageSize) std::abort();
  if (!ok && image != before) std::abort();
  return 0;
}
