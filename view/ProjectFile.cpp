#include "view/ProjectFile.h"

#include <cstring>

#include "base/InputFile.h"

namespace vrx4 {

static_assert(inputLimit(InputKind::Project).maxBytes == kProjectFileSize);

std::vector<uint8_t> projectFileBytes(const ProjectSettings& settings) {
  std::vector<uint8_t> bytes(kProjectFileSize);
  std::memcpy(bytes.data(), kProjectHeader, kProjectHeaderSize);
  for (int i = 0; i < 4; ++i) bytes[kProjectHeaderSize + size_t(i)] = uint8_t(kProjectBodyLength >> (8 * i));
  std::memcpy(bytes.data() + kProjectHeaderSize + 4, &settings, sizeof settings);
  return bytes;
}

SaveResult writeProjectFile(const std::string& path, const ProjectSettings& settings, std::string* why) {
  const std::vector<uint8_t> bytes = projectFileBytes(settings);
  return writeWholeFile(path, bytes.data(), bytes.size(), why);
}

namespace {

bool terminatedWithin(const char* field, size_t size, int32_t length) {
  if (length < 0 || size_t(length) >= size) return false;
  return std::memchr(field, 0, size) != nullptr;
}

}  // namespace

bool projectRecordUsable(const ProjectSettings& s, int rowCount) {
  if (!terminatedWithin(s.userFileName, sizeof s.userFileName, s.userFileNameLength)) return false;
  if (!terminatedWithin(s.bootFileName, sizeof s.bootFileName, s.bootFileNameLength)) return false;
  if (!std::memchr(s.bootLoaderText, 0, sizeof s.bootLoaderText)) return false;
  if (s.idCode.idLength > kMaxIdCodeLength) return false;
  if (s.device.idCodeLength < 0 || s.device.idCodeLength > kMaxIdCodeLength) return false;
  if (s.device.blockCount < 0 || s.device.blockCount > kMaxBlocks) return false;
  const int32_t index = s.deviceIndex;
  if (index != -1 && (index < 0 || index >= rowCount)) return false;
  return true;
}

ProjectReadResult readProjectFile(const std::string& path, int rowCount, ProjectSettings& out, std::string* why) {
  InputFile in;
  if (!in.open(path, InputKind::Project)) {
    if (why) *why = in.error();
    return ProjectReadResult::OpenFailed;
  }
  std::vector<char> bytes;
  bytes.resize(kProjectFileSize);
  const long got = in.readFully(bytes.data(), bytes.size());
  if (got < 0) {
    if (why) *why = in.error();
    return ProjectReadResult::OpenFailed;
  }
  if (size_t(got) < kProjectFileSize) {
    if (why)
      *why = path + ": " + std::to_string(got) + " bytes, a project file has " + std::to_string(kProjectFileSize);
    return ProjectReadResult::FormatError;
  }
  if (std::memcmp(bytes.data(), kProjectHeader, kProjectHeaderSize) != 0) return ProjectReadResult::FormatError;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= uint32_t(uint8_t(bytes[kProjectHeaderSize + size_t(i)])) << (8 * i);
  if (length != kProjectBodyLength) return ProjectReadResult::FormatError;
  ProjectSettings record;
  std::memcpy(&record, bytes.data() + kProjectHeaderSize + 4, sizeof record);
  if (!projectRecordUsable(record, rowCount)) return ProjectReadResult::FormatError;
  out = record;
  return ProjectReadResult::Ok;
}

}  // namespace vrx4
