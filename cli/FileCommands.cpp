#include "cli/FileCommands.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <algorithm>

#include <pthread.h>
#include <csignal>
#include <iterator>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/DeviceTable.h"
#include "base/InputFile.h"
#include "base/Log.h"
#include "base/ProgramFiles.h"
#include "base/ProjectSettings.h"
#include "base/Prompter.h"
#include "cli/CliPrompter.h"
#include "cli/ExitStatus.h"
#include "cli/FileFormats.h"
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

void fail(const std::string& why) { logProgramLine(why); }

// The device of --device, or the whole 4 MiB area when none is given: 0,
// kExitFile (the table cannot be read) or kExitUsage (no such device).
int findDevice(const FileOptions& o, const std::string& folder, DeviceDef& device) {
  if (!o.haveDevice) {
    device = DeviceDef();
    device.userRomStart = 0;
    device.userRomSize = uint32_t(kUserImageSize);
    device.userRomEnd = uint32_t(kUserImageSize - 1);
    device.protectAddress = 0xFFFFFFFF;  // no protect byte to check
    return kExitPass;
  }
  DeviceTable table;
  std::string path;
  if (!readDeviceTable(o.table, folder, table, &path)) return kExitFile;
  int index = table.findByName(o.device);
  if (index < 0) {
    fail("no device named '" + o.device + "' in " + path + " (vrx4-cli devices lists them)");
    return kExitUsage;
  }
  device = table.row(index);
  return kExitPass;
}

bool load(const std::string& path, const DeviceDef& device, MemoryImage& image, FileFormat format) {
  IdCode id;
  id.idLength = uint8_t(std::clamp<int32_t>(device.idCodeLength, 0, kMaxIdCodeLength));
  int32_t level = 0;
  return loadProgramFile(LoadMode::Interactive, path, device, image, id, level, loaderFormat(format));
}

// The format of a file: the one given with `option`, else the one its name
// tells. 0, kExitUsage (a value --format does not take) or kExitFile (the
// name says no format), the reason logged.
int chooseFormat(const std::string& path, const std::string& given, const char* option, FileFormat& format) {
  if (!given.empty()) {
    if (parseFormatName(given, format)) return kExitPass;
    fail(std::string(option) + " takes hex or srec, not '" + given + "'");
    return kExitUsage;
  }
  if (path == "-") {
    fail(std::string("standard input has no name to tell its format: give ") + option + " hex|srec");
    return kExitUsage;
  }
  format = formatOfName(path);
  if (format != FileFormat::Unknown) return kExitPass;
  fail(path + ": not a program file name; accepted are " + kAcceptedNames + " (or give " + option + " hex|srec)");
  return kExitFile;
}

// The pipe folder of the running command, for the signal handler, which
// removes it before the signal takes its course.
char pipeFolderPath[4096];
volatile sig_atomic_t pipeFolderSet = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
struct sigaction previousActions[std::size(kCleanupSignals)];
bool handlerInstalled[std::size(kCleanupSignals)];

// Removes the folder and the files in it with system calls only, as a
// signal handler may.
void removeFolderNow(const char* dir) {
  struct LinuxDirent64 {
    uint64_t ino;
    int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
  };
  const int d = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d >= 0) {
    alignas(8) char buf[4096];
    long n;
    while ((n = ::syscall(SYS_getdents64, d, buf, sizeof buf)) > 0) {
      for (long at = 0; at < n;) {
        const auto* e = reinterpret_cast<const LinuxDirent64*>(buf + at);
        if (std::strcmp(e->name, ".") != 0 && std::strcmp(e->name, "..") != 0) ::unlinkat(d, e->name, 0);
        at += e->reclen;
      }
    }
    ::close(d);
  }
  ::rmdir(dir);
}

void onCleanupSignal(int sig) {
  const int saved = errno;
  if (pipeFolderSet) {
    pipeFolderSet = 0;
    removeFolderNow(pipeFolderPath);
  }
  for (size_t i = 0; i < std::size(kCleanupSignals); ++i)
    if (kCleanupSignals[i] == sig && handlerInstalled[i]) {
      ::sigaction(sig, &previousActions[i], nullptr);
      handlerInstalled[i] = false;
    }
  errno = saved;
  ::raise(sig);  // the signal's own course: the default ends the program
}

// A folder of its own for standard input or output on their way through a
// file; removed with everything in it at the end, and also when a signal
// ends the program first.
struct PipeFolder {
  std::string dir;
  PipeFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string t = std::string(tmp && *tmp ? tmp : "/tmp") + "/vrx4-cli-XXXXXX";
    if (t.size() >= sizeof pipeFolderPath) return;
    // The signals wait while the folder is made and its handler set up: one
    // that came in between would leave the folder behind.
    sigset_t cleanupSignals, previousMask;
    sigemptyset(&cleanupSignals);
    for (int sig : kCleanupSignals) sigaddset(&cleanupSignals, sig);
    ::pthread_sigmask(SIG_BLOCK, &cleanupSignals, &previousMask);
    struct Unblock {
      sigset_t* mask;
      ~Unblock() { ::pthread_sigmask(SIG_SETMASK, mask, nullptr); }
    } unblock{&previousMask};
    if (!::mkdtemp(t.data())) return;
    dir = t;
    std::memcpy(pipeFolderPath, t.c_str(), t.size() + 1);
    pipeFolderSet = 1;
    for (size_t i = 0; i < std::size(kCleanupSignals); ++i) {
      struct sigaction now = {};
      // An ignored signal stays ignored (a run under nohup).
      if (::sigaction(kCleanupSignals[i], nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
      struct sigaction sa = {};
      sa.sa_handler = onCleanupSignal;
      sigfillset(&sa.sa_mask);
      handlerInstalled[i] = ::sigaction(kCleanupSignals[i], &sa, &previousActions[i]) == 0;
    }
  }
  ~PipeFolder() {
    if (dir.empty()) return;
    for (size_t i = 0; i < std::size(kCleanupSignals); ++i)
      if (handlerInstalled[i]) {
        ::sigaction(kCleanupSignals[i], &previousActions[i], nullptr);
        handlerInstalled[i] = false;
      }
    pipeFolderSet = 0;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  PipeFolder(const PipeFolder&) = delete;
  PipeFolder& operator=(const PipeFolder&) = delete;
  std::string file(const char* name) const { return dir + "/" + name; }
};

// Copies everything from `in` to `out`; false on a read or write error.
bool copyStream(std::FILE* in, std::FILE* out) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    const size_t n = std::fread(buf.data(), 1, buf.size(), in);
    if (n > 0 && std::fwrite(buf.data(), 1, n, out) != n) return false;
    if (n < buf.size()) return !std::ferror(in) && std::fflush(out) == 0;
  }
}

// Standard input into a file of the pipe folder, so the loader reads it as
// it reads any file; no more than the largest program file it accepts.
// Empty on failure (reason logged).
std::string stdinToFile(const PipeFolder& folder) {
  if (folder.dir.empty()) {
    fail(std::string("standard input: no temporary folder: ") + std::strerror(errno));
    return {};
  }
  const std::string path = folder.file("standard-input");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    fail("standard input: " + path + ": " + std::strerror(errno));
    return {};
  }
  const uint64_t limit = inputLimit(InputKind::Program).maxBytes;
  std::vector<char> buf(1 << 16);
  uint64_t total = 0;
  bool ok = true, tooLarge = false;
  for (;;) {
    const size_t n = std::fread(buf.data(), 1, buf.size(), stdin);
    total += n;
    if (total > limit) {
      tooLarge = true;
      break;
    }
    if (n > 0 && std::fwrite(buf.data(), 1, n, f) != n) {
      ok = false;
      break;
    }
    if (n < buf.size()) {
      ok = !std::ferror(stdin);
      break;
    }
  }
  if (std::fclose(f) != 0) ok = false;
  if (tooLarge) {
    fail("standard input: larger than " + std::to_string(limit) + " bytes, the most a program file may hold");
    return {};
  }
  if (!ok) {
    fail("standard input could not be read into " + path);
    return {};
  }
  return path;
}

SaveResult save(const SaveRequest& q, FileFormat format, std::string& why) {
  std::atomic<uint32_t> position{0};
  return format == FileFormat::IntelHex ? writeIntelHex(q, position, &why) : writeSRecords(q, position, &why);
}

}  // namespace

bool readDeviceTable(const std::string& givenTable, const std::string& folder, DeviceTable& table,
                     std::string* usedPath) {
  const std::string path = givenTable.empty() ? findDataFile(folder, kDeviceTableFileName) : givenTable;
  const std::string shown = givenTable.empty() ? std::string(kDeviceTableFileName) : givenTable;
  if (usedPath) *usedPath = path;
  bool missing = false;
  errno = 0;
  if (parseDeviceTableFile(path, table, missing, shown)) return true;
  if (missing)
    showMessageWithDetail(deviceTableMissingText(shown),
                          path + ": " + (errno ? std::strerror(errno) : "cannot be opened"));
  return false;
}

int convertFile(const FileOptions& o, const std::string& folder) {
  if (o.files.size() != 2) {
    fail("convert needs INPUT and OUTPUT");
    return kExitUsage;
  }
  const std::string& input = o.files[0];
  const std::string& output = o.files[1];
  FileFormat inFormat, outFormat;
  if (int s = chooseFormat(input, o.format, "--format", inFormat); s != kExitPass) return s;
  if (output == "-" && o.outFormat.empty()) {
    outFormat = inFormat;  // standard output: the input's format unless told
  } else if (int s = chooseFormat(output, o.outFormat, "--out-format", outFormat); s != kExitPass) {
    return s;
  }
  DeviceDef device;
  if (int s = findDevice(o, folder, device); s != kExitPass) return s;
  SaveRequest q;
  q.areaStart = int32_t(uint32_t(device.userRomStart));
  q.areaEnd = int32_t(uint32_t(device.userRomEnd));
  if (o.haveRanges && !parseSaveAddress(o.ranges, q.areaStart, q.areaEnd, q.ranges)) {
    showMessage(kInvalidAddress, Icon::Warning);
    return kExitUsage;
  }
  PipeFolder pipes;
  std::string inPath = input;
  if (input == "-" && (inPath = stdinToFile(pipes)).empty()) return kExitFile;
  CliPrompter prompter(Consent{o.yes, false}, nullptr);
  ImageHolder holder;
  MemoryImage* image = holder.image;
  if (!load(inPath, device, *image, inFormat)) return kExitFile;
  q.image = image->userImage.data();
  q.path = output == "-" ? pipes.file("standard-output") : output;
  if (output == "-" && pipes.dir.empty()) {
    fail(std::string("standard output: no temporary folder: ") + std::strerror(errno));
    return kExitFile;
  }
  std::string why;
  SaveResult r = save(q, outFormat, why);
  if (r != SaveResult::Ok) {
    showMessageWithDetail(saveResultMessage(r), q.path + ": " + why);
    return kExitFile;
  }
  if (output == "-") {
    std::FILE* f = std::fopen(q.path.c_str(), "rb");
    const bool copied = f && copyStream(f, stdout);
    if (f) std::fclose(f);
    if (!copied) {
      fail(std::string("standard output: ") + std::strerror(errno));
      return kExitFile;
    }
  }
  return kExitPass;
}

int checksumFile(const FileOptions& o, const std::string& folder) {
  if (o.files.size() != 1 || !o.haveDevice) {
    fail("checksum needs INPUT and --device NAME");
    return kExitUsage;
  }
  FileFormat format;
  if (int s = chooseFormat(o.files[0], o.format, "--format", format); s != kExitPass) return s;
  DeviceDef device;
  if (int s = findDevice(o, folder, device); s != kExitPass) return s;
  PipeFolder pipes;
  std::string inPath = o.files[0];
  if (inPath == "-" && (inPath = stdinToFile(pipes)).empty()) return kExitFile;
  CliPrompter prompter(Consent{o.yes, false}, nullptr);
  auto image = std::make_unique<MemoryImage>();
  if (!load(inPath, device, *image, format)) return kExitFile;
  auto settings = std::make_unique<ProjectSettings>();
  settings->device = device;
  const unsigned sum = image->imageChecksum(ImageArea::User, *settings);
  uint16_t sums[kMaxBlocks] = {};
  image->blockChecksums(device, sums);
  int blocks = std::clamp<int32_t>(device.blockCount, 0, kMaxBlocks);
  char text[64];
  std::snprintf(text, sizeof text, "%04X", sum);
  nlohmann::ordered_json fact = {
      {"event", "checksum"}, {"file", o.files[0]}, {"checksum", text}, {"blocks", nlohmann::ordered_json::array()}};
  if (!o.json) std::printf("Check Sum : %s\n", text);
  for (int i = 0; i < blocks; ++i) {
    uint32_t start = device.blockStart[i];
    uint32_t size = device.blockSize[i];
    std::snprintf(text, sizeof text, "%04X", unsigned(sums[i]));
    fact["blocks"].push_back({{"block", i}, {"start", start}, {"end", start + size - 1}, {"checksum", text}});
    if (!o.json) std::printf("Block %d : %06X-%06X %s\n", i, unsigned(start), unsigned(start + size - 1), text);
  }
  if (o.json) std::printf("%s\n", fact.dump().c_str());
  return kExitPass;
}

}  // namespace vrx4::cli
