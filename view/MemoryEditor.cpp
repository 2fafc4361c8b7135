#include "view/MemoryEditor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/Prompter.h"
#include "base/TextChars.h"
#include "image/ProgramLoader.h"

namespace vrx4 {
namespace {

// Hexadecimal digits from i to the end of text, with a ceiling so that no
// number of digits wraps around: values above `cap` come back as cap + 1.
bool readHexTail(std::string_view text, size_t i, bool needDigit, uint64_t cap, uint64_t& value) {
  uint64_t v = 0;
  bool any = false;
  for (; i < text.size(); ++i) {
    int d = hexDigitValue(text[i]);
    if (d < 0) return false;
    v = std::min<uint64_t>(v * 16 + uint64_t(d), cap + 1);
    any = true;
  }
  if (needDigit && !any) return false;
  value = v;
  return true;
}

// A decimal number of the block list at text[i]: leading zeros, then at
// most three digits.
bool readBlockNumber(std::string_view text, size_t& i, int& value) {
  size_t start = i;
  while (i < text.size() && text[i] == '0') ++i;
  int v = 0;
  int digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (++digits > 3) return false;
    v = v * 10 + (text[i] - '0');
    ++i;
  }
  if (i == start) return false;
  value = v;
  return true;
}

}  // namespace

bool parseEditAddress(std::string_view text, int32_t low, int32_t high, int32_t& address) {
  size_t i = 0;
  while (i < text.size() && isSpaceOrTab(text[i])) ++i;
  uint64_t v = 0;
  if (!readHexTail(text, i, false, 0xFFFFFFFFull, v)) return false;
  if (int64_t(v) < int64_t(low) || int64_t(v) > int64_t(high)) return false;
  address = int32_t(v);
  return true;
}

bool parseEditData(std::string_view text, uint8_t& value) {
  size_t i = 0;
  while (i < text.size() && isSpaceOrTab(text[i])) ++i;
  uint64_t v = 0;
  if (!readHexTail(text, i, true, 0xFF, v) || v > 0xFF) return false;
  value = uint8_t(v);
  return true;
}

// The edit box's rule, on at most ten characters.
bool parseClearData(std::string_view text, uint8_t& value) {
  if (text.size() > 10) return false;
  return parseEditData(text, value);
}

bool parseBlockList(std::string_view text, int blockCount, BlockMask& blocks) {
  BlockMask out;
  size_t i = 0;
  for (;;) {
    int first = 0;
    if (!readBlockNumber(text, i, first)) return false;
    int last = first;
    if (i < text.size() && text[i] == '-') {
      ++i;
      if (!readBlockNumber(text, i, last) || last < first) return false;
    }
    if (first >= blockCount || last >= blockCount) return false;
    for (int k = first; k <= last; ++k) out.set(k);
    if (i == text.size()) break;
    if (text[i] != ',') return false;
    ++i;
  }
  blocks = out;
  return true;
}

std::string defaultBlockList(int blockCount) {
  if (blockCount <= 1) return "0";
  return "0-" + std::to_string(blockCount - 1);
}

std::string EditorRow::addressText() const {
  char t[16];
  std::snprintf(t, sizeof t, "%06X", unsigned(address));
  return t;
}

std::string EditorRow::byteText(int n) const {
  char t[4];
  std::snprintf(t, sizeof t, "%02X", unsigned(bytes[size_t(n)]));
  return t;
}

std::string EditorRow::asciiText() const {
  std::string s;
  for (uint8_t b : bytes) s += (b >= 32 && b <= 126) ? char(b) : '.';
  return s;
}

MemoryEditor::MemoryEditor(ImageArea area, const ProjectSettings& settings, const MemoryImage& image, bool saveEnabled)
    : area_(area), saveEnabled_(saveEnabled) {
  const bool boot = area == ImageArea::Boot;
  areaStart_ = int32_t(boot ? uint32_t(settings.bootStart) : uint32_t(settings.device.userRomStart));
  areaEnd_ = int32_t(boot ? uint32_t(settings.bootEnd) : uint32_t(settings.device.userRomEnd));
  const size_t limit = boot ? kBootImageSize : kUserImageSize;
  if (int64_t(areaEnd_) >= int64_t(areaStart_))
    span_ = uint32_t(std::min<int64_t>(int64_t(areaEnd_) - areaStart_ + 1, int64_t(limit)));
  // Room for a whole last row beyond the largest area.
  work_.assign(kUserImageSize + 16, kBlank);
  const uint8_t* source = boot ? image.bootImage.data() : image.userImage.data();
  std::copy(source, source + span_, work_.begin());
  maxTopOffset_ = span_ ? int32_t((span_ - 1) & 0x3FFF00) : 0;
  topAddress_ = currentAddress_ = areaStart_;
  programFile_ = imageFileAtOpen_ = imageFileName(settings);
  saveButton_ = saveEnabled_ || settings.userFileName[0] == '\0';
}

const char* MemoryEditor::imageFileName(const ProjectSettings& s) const {
  return isBoot() ? s.bootFileName : s.userFileName;
}

uint8_t MemoryEditor::byteAt(int32_t address) const {
  int64_t i = int64_t(address) - areaStart_;
  if (i < 0 || i >= int64_t(work_.size())) return kBlank;
  return work_[size_t(i)];
}

std::vector<EditorRow> MemoryEditor::rows(int fit) const {
  std::vector<EditorRow> out;
  if (areaStart_ == areaEnd_ || span_ == 0) return out;
  for (int r = 0; r < fit; ++r) {
    int64_t a = int64_t(areaStart_) + topOffset_ + 16 * int64_t(r);
    if (a > areaEnd_) break;
    EditorRow row;
    row.address = int32_t(a);
    const size_t i = size_t(a - areaStart_);
    std::copy(work_.begin() + i, work_.begin() + i + 16, row.bytes.begin());
    out.push_back(row);
  }
  return out;
}

void MemoryEditor::scrollUp(uint32_t step) {
  topOffset_ = uint32_t(topOffset_) < step ? 0 : int32_t(uint32_t(topOffset_) - step);
}

void MemoryEditor::scrollDown(uint32_t step) {
  topOffset_ = int32_t(std::min<int64_t>(int64_t(topOffset_) + step, maxTopOffset_));
}

void MemoryEditor::setTop(int32_t address) {
  // The row of an address may begin before an area that does not start on
  // a 16-byte boundary: the list then starts at the area's first byte.
  topAddress_ = int32_t(uint32_t(address) & ~0xFu);
  topOffset_ = int32_t(std::max<int64_t>(0, int64_t(topAddress_) - areaStart_));
}

void MemoryEditor::jumpTo(int32_t address) {
  setTop(address);
  currentAddress_ = std::max(topAddress_, areaStart_);
}

void MemoryEditor::modify(int32_t address, uint8_t value) {
  const int64_t i = int64_t(address) - areaStart_;
  if (i < 0 || i >= int64_t(span_)) return;  // the dialog has refused it already
  currentAddress_ = address;
  setTop(address);
  work_[size_t(i)] = value;
  changed_.insert(uint32_t(address));
  if (currentAddress_ < areaEnd_) ++currentAddress_;
  saveEnabled_ = saveButton_ = true;
  modified_ = true;
}

void MemoryEditor::clear(const BlockMask& blocks, uint8_t value, const DeviceDef& device) {
  if (isBoot()) {
    std::fill(work_.begin(), work_.begin() + span_, value);
  } else {
    const int count = std::clamp<int>(device.blockCount, 0, kMaxBlocks);
    for (int k = 0; k < count; ++k) {
      if (!blocks.test(k)) continue;
      const int64_t first = int64_t(uint32_t(device.blockStart[k]));
      const int64_t size = int64_t(uint32_t(device.blockSize[k]));
      if (size <= 0) continue;
      // The table does not tie blocks to the user-ROM area: only the part
      // of a block inside the area is filled.
      const int64_t from = std::max<int64_t>(first - areaStart_, 0);
      const int64_t to = std::min<int64_t>(first - areaStart_ + size, span_);
      if (from < to) std::fill(work_.begin() + from, work_.begin() + to, value);
      changed_.removeRange(uint32_t(first), uint32_t(std::min<int64_t>(first + size - 1, 0xFFFFFFFF)));
    }
  }
  saveEnabled_ = saveButton_ = true;
  modified_ = true;
}

bool MemoryEditor::save(const EditorSeam& seam) {
  if (!seam.save) return false;
  std::optional<std::string> path = seam.save(work_.data(), areaStart_, areaEnd_);
  if (!path) return false;
  programFile_ = path->substr(0, 1023);
  saveOutcome_ = programFile_ != imageFileAtOpen_ ? 3 : modified_ ? 2 : 1;
  saveEnabled_ = saveButton_ = false;
  changed_.clear();
  return true;
}

void MemoryEditor::applyStaleRule(ProjectSettings& settings, bool upload) const {
  if (isBoot() || !modified_) return;
  if (upload)
    settings.userFileStale = (saveOutcome_ == 2 || saveOutcome_ == 3) ? 0 : 1;
  else if (saveOutcome_ == 2)
    settings.userFileStale = 1;
}

namespace {

void storeName(char (&field)[1024], LeI32* length, const std::string& name) {
  std::memset(field, 0, sizeof field);
  const size_t n = std::min<size_t>(name.size(), sizeof field - 1);
  std::memcpy(field, name.data(), n);
  if (length) *length = int32_t(n);
}

}  // namespace

MemoryEditor::Close MemoryEditor::accept(ProjectSettings& settings, MemoryImage& image, const EditorSeam& seam) {
  char(&fileName)[1024] = isBoot() ? settings.bootFileName : settings.userFileName;
  LeI32* fileNameLength = isBoot() ? &settings.bootFileNameLength : &settings.userFileNameLength;
  if (!modified_) {
    if (programFile_ != fileName) storeName(fileName, fileNameLength, programFile_);
    return Close::Ok;
  }
  if (saveEnabled_ && showMessage(kSaveQuestion, Icon::Warning, Buttons::YesNo, Answer::No) == Answer::Yes) save(seam);
  const Answer upload = showMessage(kUploadQuestion, Icon::Warning, Buttons::YesNoCancel, Answer::Cancel);
  if (upload == Answer::No) {
    applyStaleRule(settings, false);
    return Close::Ok;
  }
  if (upload != Answer::Yes) return Close::Stay;
  if (!isBoot()) {
    const DeviceDef& d = settings.device;
    const uint32_t pa = d.protectAddress;
    if (uint32_t(d.userRomStart) <= pa && pa <= uint32_t(d.userRomEnd)) {
      const int level = classifyProtect(byteAt(int32_t(pa)));
      if (level == 1 || level == 2) {
        const char* question = level == 1 ? kLevel1Question : kLevel2Question;
        if (showMessage(question, Icon::Warning, Buttons::OkCancel, Answer::Cancel) != Answer::Ok) return Close::Stay;
      }
    }
  }
  // Applied once the upload is certain: a refused protect question keeps
  // the editor open with the file state as it was.
  applyStaleRule(settings, true);
  uint8_t* target = isBoot() ? image.bootImage.data() : image.userImage.data();
  std::copy(work_.begin(), work_.begin() + span_, target);
  storeName(fileName, fileNameLength, programFile_);
  if (!isBoot()) image.markAllBanks(settings.device);
  uploadFailed_ = !(seam.send && seam.send(area_));
  return Close::Ok;
}

MemoryEditor::Close MemoryEditor::cancel(ProjectSettings& settings) {
  applyStaleRule(settings, false);
  return Close::Cancel;
}

}  // namespace vrx4
