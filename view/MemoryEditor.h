#pragma once
// The memory editor's logic: a private copy of the user-ROM or boot area,
// the rows it shows, the six scroll steps, Address, Modify and Clear, the
// blue marks of changed bytes, the rule that marks the user file stale, and
// OK and Cancel with their questions and the upload. The "Edit" dialog only
// binds its widgets to this.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/LittleEndian.h"
#include "base/ProjectSettings.h"
#include "image/MemoryImage.h"
#include "settings/ListRules.h"

namespace vrx4 {

inline constexpr const char* kInvalidEditAddress = "Invalid address.";
inline constexpr const char* kInvalidData = "Invalid data.";
inline constexpr const char* kInvalidBlockNumber = "Invalid block number.";
inline constexpr const char* kSaveQuestion = "Memory has changed. Do you want to save the file?";
inline constexpr const char* kUploadQuestion = "Memory has changed. Do you want to upload the memory?";

// Steps of the six scroll buttons.
inline constexpr uint32_t kScrollSmall = 0x100;
inline constexpr uint32_t kScrollMedium = 0x1000;
inline constexpr uint32_t kScrollLarge = 0x10000;

// Field checks of the three small dialogs. Each returns false for a text the
// dialog refuses; the value is set only on success.
//
// "Address :": leading blanks, then hexadecimal digits and nothing else; an
// empty text is address 0; the address must lie in low..high.
bool parseEditAddress(std::string_view text, int32_t low, int32_t high, int32_t& address);
// "Data :": leading blanks, one or more hexadecimal digits, value at most 0xFF.
bool parseEditData(std::string_view text, uint8_t& value);
// "Data (&D) :" of "Memory Clear": up to 10 characters read as one
// hexadecimal field (leading blanks skipped); any value above 0xFF is
// refused, however many digits it has.
bool parseClearData(std::string_view text, uint8_t& value);
// "Block (&B) :": items separated by ',' without blanks, each a decimal block
// number or a range n-m with m >= n; leading zeros are ignored and at most
// three further digits are allowed; every number below blockCount.
bool parseBlockList(std::string_view text, int blockCount, BlockMask& blocks);
// The text "Block (&B) :" opens with: "0" for one block, else "0-<last>".
std::string defaultBlockList(int blockCount);

// One row of the hex dump.
struct EditorRow {
  int32_t address = 0;
  std::array<uint8_t, 16> bytes{};
  std::string addressText() const;    // "%06X"
  std::string byteText(int n) const;  // "%02X" of byte n
  std::string asciiText() const;      // 32..126 as they are, others '.'
};

// What OK and Save need from the window: the save dialogs and the
// "Loading..." send dialog.
struct EditorSeam {
  // Runs "Data Save" for the work copy; returns the path written, or nothing
  // when the operator cancelled or the file could not be written.
  std::function<std::optional<std::string>(const uint8_t* work, int32_t areaStart, int32_t areaEnd)> save;
  // Sends the area of the (updated) image to the unit; true when it ended OK.
  std::function<bool(ImageArea area)> send;
};

class MemoryEditor {
 public:
  // Copies the area out of the image. saveEnabled: the initial state of
  // "Save" (the main view knows whether the image holds read-back data).
  MemoryEditor(ImageArea area, const ProjectSettings& settings, const MemoryImage& image, bool saveEnabled);

  ImageArea area() const { return area_; }
  bool isBoot() const { return area_ == ImageArea::Boot; }
  int32_t areaStart() const { return areaStart_; }
  int32_t areaEnd() const { return areaEnd_; }
  int32_t topOffset() const { return topOffset_; }
  int32_t maxTopOffset() const { return maxTopOffset_; }
  int32_t topAddress() const { return topAddress_; }
  int32_t currentAddress() const { return currentAddress_; }
  bool modified() const { return modified_; }
  bool saveEnabled() const { return saveEnabled_; }
  // The "Save" button: enabled with saveEnabled, and at opening also while
  // no user file is named.
  bool saveButtonEnabled() const { return saveButton_; }
  int saveOutcome() const { return saveOutcome_; }
  bool uploadFailed() const { return uploadFailed_; }
  const std::string& programFile() const { return programFile_; }
  const ChangedAddressSet& changedAddresses() const { return changed_; }
  const uint8_t* work() const { return work_.data(); }
  // The work byte at a device address of the area.
  uint8_t byteAt(int32_t address) const;

  // Rows shown from topOffset on, at most `fit` of them, none past areaEnd
  // and none at all when areaStart equals areaEnd.
  std::vector<EditorRow> rows(int fit) const;

  void scrollUp(uint32_t step);
  void scrollDown(uint32_t step);
  // "Address": shows the row of the address first.
  void jumpTo(int32_t address);
  // "Modify": one byte; the next Modify proposes the following address.
  void modify(int32_t address, uint8_t value);
  // "Clear": the boot area is filled whole; in the user area each block of
  // the list is filled (within the area only) and loses its blue marks.
  void clear(const BlockMask& blocks, uint8_t value, const DeviceDef& device);
  // "Save": runs the seam's save; true when a file was written.
  bool save(const EditorSeam& seam);

  enum class Close { Stay, Ok, Cancel };
  // OK pressed: the questions, the copy into the image and the upload.
  Close accept(ProjectSettings& settings, MemoryImage& image, const EditorSeam& seam);
  // Cancel pressed: the copy is dropped; only the stale rule applies.
  Close cancel(ProjectSettings& settings);

 private:
  const char* imageFileName(const ProjectSettings& s) const;
  void setTop(int32_t rowAddress);
  void applyStaleRule(ProjectSettings& settings, bool upload) const;

  ImageArea area_;
  int32_t areaStart_ = 0;
  int32_t areaEnd_ = 0;
  uint32_t span_ = 0;  // bytes of the area held in work_
  std::vector<uint8_t> work_;
  int32_t topOffset_ = 0;
  int32_t maxTopOffset_ = 0;
  int32_t topAddress_ = 0;
  int32_t currentAddress_ = 0;
  ChangedAddressSet changed_;
  bool modified_ = false;
  bool saveEnabled_ = false;
  bool saveButton_ = true;
  int saveOutcome_ = 0;
  std::string programFile_;
  std::string imageFileAtOpen_;
  bool uploadFailed_ = false;
};

}  // namespace vrx4
