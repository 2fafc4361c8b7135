#pragma once
// Drives the editor and project commands the way the main form does: the
// dialogs answered by the test (the transfer dialogs run the real workers
// against the simulated unit), and the form's SelectDevice and
// SendAllSettings steps taken by the main form's own model.
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
#include "view/MainViewModel.h"

namespace vrx4::test {

// The form's own window seam, answered with the real transfer workers.
class WorkerDialogs final : public MainViewDialogs {
 public:
  std::vector<std::string> paths;
  std::optional<std::string> openFile(const FileOpenRequest&) override {
    if (paths.empty()) return std::nullopt;
    std::string p = paths.front();
    paths.erase(paths.begin());
    return p;
  }
  std::optional<CanSetting> canSetting(const CanSetting&) override { return std::nullopt; }
  std::optional<LockBitTable> blockSetting(const LockBitTable&, const DeviceDef&) override { return std::nullopt; }
  std::optional<IdCode> setId(const IdCode&) override { return std::nullopt; }
  void deviceDetail(const DeviceDef&) override {}
  bool sendImage(ImageArea area, const MemoryImage& image, const ProjectSettings& s, const std::string&) override {
    TransferProgress progress;
    SendPlan plan = prepareSend(progress, area, image, s);
    sendImageWorker(progress, plan, image, s);
    return !progress.abandoned();
  }
  bool fetchImage(ImageArea area, MemoryImage& image, const ProjectSettings& s) override {
    TransferProgress progress;
    prepareFetch(progress, area, s);
    fetchImageWorker(progress, area, image, s);
    return !progress.abandoned();
  }
  OperationOutcome programming(int, uint32_t) override { return {}; }
  void initializing() override {}
  bool openDocument(const std::string&) override { return false; }
};

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
    dialogs.sendImage = [this](ImageArea area, const std::string& name) {
      sentAreas.push_back(area);
      return windows_.sendImage(area, *app_.image, app_.settings, name);
    };
    dialogs.fetchImage = [this](ImageArea area) {
      ++fetches;
      return windows_.fetchImage(area, *app_.image, app_.settings);
    };
    routines.selectDevice = [this](int index) { model_.SelectDevice(index); };
    routines.sendAllSettings = [this] { return sendAllSettings(); };
  }

  // The model's SendAllSettings with the command's view fields.
  bool sendAllSettings() {
    model_.operationIndex = view.operationIndex;
    model_.preSending = view.preSending;
    model_.postSending = view.postSending;
    return model_.SendAllSettings();
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
  WorkerDialogs windows_;
  MainViewModel model_{app_, windows_};
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
