#include "cli/FileCommands.h"

#include <algorithm>
#include <sys/mman.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "app/DeviceTable.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "base/ProjectSettings.h"
#include "base/Prompter.h"
#include "cli/CliPrompter.h"
#include "cli/ExitStatus.h"
#include "image/MemoryImage.h"
#include "image/ProgramLoader.h"
#include "image/ProgramSaver.h"

namespace vrx4::cli {
namespace {

// The image lives in memory aligned for huge pages: it is touched whole, and
// a few large page faults cost far less than a thousand small ones.
struct ImageHolder {
  static constexpr size_t kAlign = 2 * 1024 * 1024;
  static constexpr size_t kSize = (sizeof(MemoryImage) + kAlign - 1) / kAlign * kAlign;
  void* mem = std::aligned_alloc(kAlign, kSize);
  MemoryImage* image = nullptr;
  ImageHolder() {
    if (!mem) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(mem, kSize, MADV_HUGEPAGE);
#endif
    image = new (mem) MemoryImage();
  }
  ~ImageHolder() {
    image->~MemoryImage();
    std::free(mem);
  }
  ImageHolder(const ImageHolder&) = delete;
  ImageHolder& operator=(const ImageHolder&) = delete;
};

void fail(const std::string& why) { logLine("vrx4-cli: " + why); }

// The device of --device, or the whole 4 MiB area when none is given.
bool findDevice(const FileOptions& o, const std::string& folder, DeviceDef& device) {
  if (!o.haveDevice) {
    device = DeviceDef();
    device.userRomStart = 0;
    device.userRomSize = uint32_t(kUserImageSize);
    device.userRomEnd = uint32_t(kUserImageSize - 1);
    device.protectAddress = 0xFFFFFFFF;  // no protect byte to check
    return true;
  }
  std::string path = o.table.empty() ? findDataFile(folder, kDeviceTableFileName) : o.table;
  DeviceTable table;
  bool missing = false;
  if (!parseDeviceTableFile(path, table, missing)) {
    if (missing) showMessage(kDeviceTableMissing, Icon::Stop);
    return false;
  }
  int index = table.findByName(o.device);
  if (index < 0) {
    fail("no device named '" + o.device + "' in " + path);
    return false;
  }
  device = table.row(index);
  return true;
}

bool load(const std::string& path, const DeviceDef& device, MemoryImage& image) {
  IdCode id;
  id.idLength = uint8_t(std::clamp<int32_t>(device.idCodeLength, 0, kMaxIdCodeLength));
  int32_t level = 0;
  return loadProgramFile(LoadMode::Interactive, path, device, image, id, level);
}

}  // namespace

int convertFile(const FileOptions& o, const std::string& folder) {
  if (o.files.size() != 2) {
    fail("convert needs INPUT and OUTPUT");
    return kExitUsage;
  }
  DeviceDef device;
  if (!findDevice(o, folder, device)) return kExitRefused;
  SaveRequest q;
  q.areaStart = int32_t(uint32_t(device.userRomStart));
  q.areaEnd = int32_t(uint32_t(device.userRomEnd));
  if (o.haveRanges && !parseSaveAddress(o.ranges, q.areaStart, q.areaEnd, q.ranges)) {
    showMessage(kInvalidAddress, Icon::Warning);
    return kExitRefused;
  }
  CliPrompter prompter(Consent{o.yes, false}, nullptr);
  ImageHolder holder;
  MemoryImage* image = holder.image;
  if (!load(o.files[0], device, *image)) return kExitRefused;
  q.image = image->userImage.data();
  q.path = o.files[1];
  std::atomic<uint32_t> position{0};
  SaveResult r = saveProgramFile(q, position);
  if (r != SaveResult::Ok) {
    showMessage(saveResultMessage(r), Icon::Stop);
    return kExitRefused;
  }
  return kExitPass;
}

int checksumFile(const FileOptions& o, const std::string& folder) {
  if (o.files.size() != 1 || !o.haveDevice) {
    fail("checksum needs INPUT and --device NAME");
    return kExitUsage;
  }
  DeviceDef device;
  if (!findDevice(o, folder, device)) return kExitRefused;
  CliPrompter prompter(Consent{o.yes, false}, nullptr);
  auto image = std::make_unique<MemoryImage>();
  if (!load(o.files[0], device, *image)) return kExitRefused;
  auto settings = std::make_unique<ProjectSettings>();
  settings->device = device;
  std::printf("Check Sum : %04X\n", unsigned(image->imageChecksum(ImageArea::User, *settings)));
  uint16_t sums[kMaxBlocks] = {};
  image->blockChecksums(device, sums);
  int blocks = std::clamp<int32_t>(device.blockCount, 0, kMaxBlocks);
  for (int i = 0; i < blocks; ++i) {
    uint32_t start = device.blockStart[i];
    uint32_t size = device.blockSize[i];
    std::printf("Block %d : %06X-%06X %04X\n", i, unsigned(start), unsigned(start + size - 1), unsigned(sums[i]));
  }
  return kExitPass;
}

}  // namespace vrx4::cli
