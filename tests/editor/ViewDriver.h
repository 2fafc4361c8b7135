#pragma once
// Drives the editor and project commands the way the main form does: the
// dialogs answered by the test (the transfer dialogs run the real workers
// against the simulated unit), and the form's SelectDevice and
// SendAllSettings steps carried out with the real unit commands.
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../sim/SimFixture.h"
#include "app/AppState.h"
#include "image/ImageTransfer.h"
#include "image/ProgramSaver.h"
#include "view/CommandSeam.h"

namespace vrx4::test {

class ViewDriver {
 public:
  explicit ViewDriver(AppState& app) : app_(app) {
    dialogs.fileDialog = [this](const FileDialogSpec& choice) -> std::optional<std::string> {
      fileDialogs.push_back(choice);
      if (nextPaths.empty()) return std::nullopt;
      std::string p = nextPaths.front();
      nextPaths.erase(nextPaths.begin());
      return p;
    };
    dialogs.confirmLoad = [this](const std::string& path) {
      confirmed.push_back(path);
      return acceptLoads;
    };
    dialogs.sendImage = [this](ImageArea area, const std::string&) {
      sentAreas.push_back(area);
      TransferProgress progress;
      SendPlan plan = prepareSend(progress, area, *app_.image, app_.settings);
      sendImageWorker(progress, plan, *app_.image, app_.settings);
      return !progress.abandoned();
    };
    dialogs.fetchImage = [this](ImageArea area) {
      ++fetches;
      TransferProgress progress;
      prepareFetch(progress, area, app_.settings);
      fetchImageWorker(progress, area, *app_.image, app_.settings);
      return !progress.abandoned();
    };
    routines.selectDevice = [this](int index) {
      ProjectSettings& s = app_.settings;
      s.device = app_.deviceTable.row(index);
      s.deviceIndex = index;
      s.lockBits.deviceBlockMask = BlockMask{};
      for (int k = 0; k < std::min<int>(s.device.blockCount, 64); ++k) s.lockBits.deviceBlockMask.set(k);
    };
    routines.sendAllSettings = [this] { return sendAllSettings(); };
  }

  bool sendAllSettings() {
    ProjectSettings& s = app_.settings;
    (void)setDevice(s.device);
    bool present = false;
    if (s.userFileNameLength > 0) {
      if (!setUserFileName(s.userFileName)) return false;
      uint16_t sums[64] = {};
      app_.image->blockChecksums(s.device, sums);
      (void)setBlockChecksums(s.device.blockCount, sums);
      present = true;
    }
    if (!setUserDataPresent(present)) return false;
    if (!setCanSetting(s.can) || !setBlockSettings(s.lockBits)) return false;
    if (!setOperation(uint8_t(view.operationIndex + 1), uint8_t((view.preSending ? 1 : 0) | (view.postSending ? 2 : 0))))
      return false;
    IdCode id = s.idCode;
    id.idLength = uint8_t(s.device.idCodeLength);
    return setIdCode(id);
  }

  CommandDialogs dialogs;
  MainViewRoutines routines;
  CommandViewFields view;
  std::vector<std::string> nextPaths;
  std::vector<FileDialogSpec> fileDialogs;
  std::vector<std::string> confirmed;
  std::vector<ImageArea> sentAreas;
  bool acceptLoads = true;
  int fetches = 0;

 private:
  AppState& app_;
};

// Writes `bytes` as an S-record program file for addresses from `start`.
inline void writeProgram(const std::string& path, uint32_t start, const std::vector<uint8_t>& bytes) {
  SaveRequest r;
  r.image = bytes.data();
  r.areaStart = int32_t(start);
  r.areaEnd = int32_t(start + bytes.size() - 1);
  r.path = path;
  std::atomic<uint32_t> pos{0};
  ASSERT_EQ(saveProgramFile(r, pos), SaveResult::Ok);
}

}  // namespace vrx4::test
