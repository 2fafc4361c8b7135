#pragma once
// The one way the programs open a file they read: program files, boot
// files, the firmware file, project files, the device table, "dlg_path" and
// the simulated unit's state. The name is opened without blocking (a pipe
// nobody writes cannot hang the open), the mode is checked on what was
// opened, only a regular file is accepted, and its size must fit what a
// file of its kind can meaningfully be. Nothing here throws; every refusal
// comes with a reason that names the file, for the log line (the operator
// sees the reader's own message).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vrx4 {

enum class InputKind { Program, Boot, Firmware, Project, DeviceTable, DialogPaths, UnitState };

struct InputLimit {
  uint64_t maxBytes;  // the most that is ever read of such a file
  // true: a longer file is read up to maxBytes and its tail ignored (files
  // of a fixed layout); false: a longer file is refused.
  bool readPrefix;
  const char* what;  // "program file", ... for the reasons
};

inline constexpr uint64_t kMiB = 1024 * 1024;

// The limit of each kind.
constexpr InputLimit inputLimit(InputKind kind) {
  switch (kind) {
    // The whole 4 MiB user area in one-byte S3 records with CR LF line
    // ends (about 80 MiB), with room to spare.
    case InputKind::Program:
      return {128 * kMiB, false, "program file"};
    // 2048 bytes of boot program, even in one-byte records, with headers.
    case InputKind::Boot:
      return {1 * kMiB, false, "boot file"};
    // A 512 KiB firmware image in one-byte records.
    case InputKind::Firmware:
      return {16 * kMiB, false, "firmware file"};
    // Files of a fixed layout: what lies past it was never read.
    case InputKind::Project:
      return {3044, true, "project file"};
    case InputKind::DialogPaths:
      return {6144, true, "folder list"};
    // 256 rows of 3000 characters and room for comment lines.
    case InputKind::DeviceTable:
      return {16 * kMiB, false, "device table"};
    case InputKind::UnitState:
      return {64 * kMiB, false, "unit state file"};
  }
  return {0, false, "file"};
}

// Sees the bytes of the files opened on this thread while it is set, in
// order, as they are read (also by a reader's own thread): a digest taken
// from them is the digest of exactly what was read, with no second open.
class InputTap {
 public:
  virtual ~InputTap() = default;
  // A file was opened; true to be given its bytes. Such a file is then read
  // to its end before it is closed, even when its reader stopped early, so
  // that the tap sees the whole file.
  virtual bool opened(InputKind kind, const std::string& path) = 0;
  virtual void bytes(const uint8_t* data, size_t length) = 0;
  // The file was closed; `whole`: every byte of it was seen, without error.
  virtual void closed(bool whole) = 0;
};

// This thread's tap (nullptr: none); returns the one set before.
InputTap* setInputTap(InputTap* tap);

class InputFile {
 public:
  enum class Failure {
    None,
    CannotOpen,  // the name cannot be opened (missing, no permission, ...)
    NotRegular,  // a folder, a device, a pipe, a socket
    TooLarge,    // larger than the limit of its kind (also while reading)
    ReadError,
  };

  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False with failure() and error() set when the file is refused. errno is
  // the open's own error after a CannotOpen.
  bool open(const std::string& path, InputKind kind);
  bool isOpen() const { return fd_ >= 0; }

  // Reads up to `length` bytes: the count, 0 at the end, -1 on a failure
  // (failure() and error() set). Interrupted reads are resumed. The total
  // never passes the kind's limit: a file that grows past it while being
  // read is refused as TooLarge, a prefix-only kind simply ends there.
  long read(void* buffer, size_t length);
  // Reads until `length` bytes are in or the file ends; the count or -1.
  long readFully(void* buffer, size_t length);
  // The rest of the file; false on a failure.
  bool readAll(std::vector<uint8_t>& out);

  // Closes the file (done by the destructor too).
  void close();

  const std::string& path() const { return path_; }
  uint64_t size() const { return size_; }  // as fstat gave it at the open
  Failure failure() const { return failure_; }
  // Why the file was refused: "not a regular file (a pipe)", "Is a
  // directory", "larger than
  // 134217728 bytes, the most a program file may hold", the system's text.
  const std::string& reason() const { return reason_; }
  // "PATH: REASON", for the log line.
  std::string error() const { return path_ + ": " + reason_; }

 private:
  long fail(Failure f, std::string reason);

  int fd_ = -1;
  std::string path_;
  InputLimit limit_{0, false, ""};
  uint64_t size_ = 0;
  uint64_t consumed_ = 0;
  bool atEnd_ = false;
  Failure failure_ = Failure::None;
  std::string reason_;
  InputTap* tap_ = nullptr;
};

}  // namespace vrx4
