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
#include "base/ProjectSettings.h"
#include "base/Prompter.h"
#include "image/MemoryImage.h"
#include "image/ProgramLoader.h"
#include "image/ProgramSaver.h"

namespace vrx4::cli {
namespace {

// Questions are answered by the --yes option or refused; a plain message
// is only acknowledged. The message itself is already in the log.
class CliPrompter final : public Prompter {
 public:
  explicit CliPrompter(bool yes) : yes_(yes) { previous_ = setPrompter(this); }
  ~CliPrompter() override { setPrompter(previous_); }
  Answer ask(const Prompt& p) override {
    Answer a;
    switch (p.buttons) {
      case Buttons::Ok: return Answer::Ok;
      case Buttons::OkCancel: a = yes_ ? Answer::Ok : Answer::Cancel; break;
      default: a = yes_ ? Answer::Yes : Answer::No; break;
    }
    logLine(std::string("vrx4-cli: answered ") + answerName(a) + (yes_ ? " (--yes)" : " (give --yes to accept)"));
    return a;
  }

 private:
  bool yes_;
  Prompter* previous_ = nullptr;
};

struct Options {
  std::string command;
  std::vector<std::string> files;
  std::string device;
  std::string ranges;
  std::string table;
  bool haveDevice = false;
  bool haveRanges = false;
  bool yes = false;
  bool help = false;
  std::string error;
};

Options parse(const std::vector<std::string>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) {
        o.error = "option " + a + " needs a value";
        return false;
      }
      into = args[++i];
      return true;
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--yes") {
      o.yes = true;
    } else if (a == "--device") {
      if (!value(o.device)) return o;
      o.haveDevice = true;
    } else if (a == "--ranges") {
      if (!value(o.ranges)) return o;
      o.haveRanges = true;
    } else if (a == "--table") {
      if (!value(o.table)) return o;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      o.error = "unknown option " + a;
      return o;
    } else if (o.command.empty()) {
      o.command = a;
    } else {
      o.files.push_back(a);
    }
  }
  return o;
}

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
bool findDevice(const Options& o, const std::string& folder, DeviceDef& device) {
  if (!o.haveDevice) {
    device = DeviceDef();
    device.userRomStart = 0;
    device.userRomSize = uint32_t(kUserImageSize);
    device.userRomEnd = uint32_t(kUserImageSize - 1);
    device.protectAddress = 0xFFFFFFFF;  // no protect byte to check
    return true;
  }
  std::string path = o.table.empty() ? folder + "/" + kDeviceTableFileName : o.table;
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

int convert(const Options& o, const std::string& folder) {
  if (o.files.size() != 2) {
    fail("convert needs INPUT and OUTPUT");
    return kExitUsage;
  }
  DeviceDef device;
  if (!findDevice(o, folder, device)) return kExitFailed;
  SaveRequest q;
  q.areaStart = int32_t(uint32_t(device.userRomStart));
  q.areaEnd = int32_t(uint32_t(device.userRomEnd));
  if (o.haveRanges && !parseSaveAddress(o.ranges, q.areaStart, q.areaEnd, q.ranges)) {
    showMessage(kInvalidAddress, Icon::Warning);
    return kExitFailed;
  }
  CliPrompter prompter(o.yes);
  ImageHolder holder;
  MemoryImage* image = holder.image;
  if (!load(o.files[0], device, *image)) return kExitFailed;
  q.image = image->userImage.data();
  q.path = o.files[1];
  std::atomic<uint32_t> position{0};
  SaveResult r = saveProgramFile(q, position);
  if (r != SaveResult::Ok) {
    showMessage(saveResultMessage(r), Icon::Stop);
    return kExitFailed;
  }
  return kExitOk;
}

int checksum(const Options& o, const std::string& folder) {
  if (o.files.size() != 1 || !o.haveDevice) {
    fail("checksum needs INPUT and --device NAME");
    return kExitUsage;
  }
  DeviceDef device;
  if (!findDevice(o, folder, device)) return kExitFailed;
  CliPrompter prompter(o.yes);
  auto image = std::make_unique<MemoryImage>();
  if (!load(o.files[0], device, *image)) return kExitFailed;
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
  return kExitOk;
}

}  // namespace

std::string usage() {
  return "Usage: vrx4-cli COMMAND ...\n"
         "\n"
         "  vrx4-cli convert INPUT OUTPUT [--device NAME] [--ranges TEXT] [--yes]\n"
         "      Loads the HEX (*.hex) or S-record (*.mot) file INPUT into the user-ROM\n"
         "      area of device NAME (the whole 4 MiB area without --device) and writes\n"
         "      it to OUTPUT: Intel HEX when OUTPUT's extension begins with H, else\n"
         "      S-records. --ranges takes up to five addresses or ranges such as\n"
         "      \"1000-10FF, 2000\" (hexadecimal, within the area).\n"
         "  vrx4-cli checksum INPUT --device NAME\n"
         "      Loads INPUT for device NAME and prints its \"Check Sum :\" value and the\n"
         "      sum of each block of the device.\n"
         "\n"
         "Options:\n"
         "  --device NAME  a device of the device table\n"
         "  --table PATH   the device table to use (default: vrx4type.tbl beside\n"
         "                 the program)\n"
         "  --yes          answer the loader's questions (data outside the area,\n"
         "                 protect setting) with yes; without it they are refused\n"
         "  --help         this text\n"
         "\n"
         "Exit status: 0 done, 1 refused (the reason is on standard error),\n"
         "2 bad command line.\n";
}

int run(const std::vector<std::string>& args, const std::string& folder) {
  Options o = parse(args);
  if (o.help) {
    std::fputs(usage().c_str(), stdout);
    return kExitOk;
  }
  if (!o.error.empty()) {
    fail(o.error);
    std::fputs(usage().c_str(), stderr);
    return kExitUsage;
  }
  if (o.command == "convert") return convert(o, folder);
  if (o.command == "checksum") return checksum(o, folder);
  fail(o.command.empty() ? std::string("no command given") : "unknown command " + o.command);
  std::fputs(usage().c_str(), stderr);
  return kExitUsage;
}

}  // namespace vrx4::cli
