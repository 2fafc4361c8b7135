#pragma once
// The main form's core on a real simulated unit: an AppState with a small
// device table, the view model, and window stand-ins that run the real core
// workers (image send and fetch, operation polling, unit reset) in place of
// the modal dialogs.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "SimFixture.h"
#include "app/AppState.h"
#include "image/ImageTransfer.h"
#include "link/Commands.h"
#include "view/MainViewModel.h"

namespace vrx4::test {

class ScriptedDialogs : public MainViewDialogs {
 public:
  std::deque<std::optional<std::string>> files;  // answers of openFile, in order
  std::vector<FileOpenRequest> fileRequests;
  std::optional<CanSetting> canAnswer;
  std::optional<LockBitTable> blockAnswer;
  std::optional<IdCode> idAnswer;
  bool documentOpens = true;
  std::vector<std::string> documents;
  std::vector<std::string> sentNames;
  int programmingRuns = 0;
  uint32_t programmingTotal = 0;
  int initializingRuns = 0;

  std::optional<std::string> openFile(const FileOpenRequest& r) override {
    fileRequests.push_back(r);
    if (files.empty()) return std::nullopt;
    auto f = files.front();
    files.pop_front();
    return f;
  }
  std::optional<CanSetting> canSetting(const CanSetting&) override {
    // The CAN dialog sends the accepted record itself.
    if (canAnswer) setCanSetting(*canAnswer);
    return canAnswer;
  }
  std::optional<LockBitTable> blockSetting(const LockBitTable&, const DeviceDef&) override { return blockAnswer; }
  std::optional<IdCode> setId(const IdCode&) override { return idAnswer; }
  void deviceDetail(const DeviceDef&) override {}
  bool sendImage(ImageArea area, const MemoryImage& image, const ProjectSettings& settings,
                 const std::string& filePath) override {
    sentNames.push_back(filePath);
    TransferProgress progress;
    const SendPlan plan = prepareSend(progress, area, image, settings);
    sendImageWorker(progress, plan, image, settings);
    return !progress.abandoned();
  }
  bool fetchImage(ImageArea area, MemoryImage& image, const ProjectSettings& settings) override {
    TransferProgress progress;
    prepareFetch(progress, area, settings);
    fetchImageWorker(progress, area, image, settings);
    return !progress.abandoned();
  }
  OperationOutcome programming(int, uint32_t total) override {
    ++programmingRuns;
    programmingTotal = total;
    OperationProgress progress;
    progress.total = total;
    programmingThreadProc(progress, [] {});
    return finishOperation(progress);
  }
  void initializing() override {
    ++initializingRuns;
    if (!initializeUnit()) return;
    for (int i = 0; i < 100; ++i) clock().sleepMs(100);
    for (int i = 0; i < 600; ++i) {
      bool busy = true;
      if (!getBusyState(busy) || !busy) return;
      clock().sleepMs(100);
    }
  }
  bool openDocument(const std::string& path) override {
    documents.push_back(path);
    return documentOpens;
  }
};

// An Intel HEX file of the given bytes (address -> data), 16 bytes a line.
inline std::string hexText(const std::map<uint32_t, Bytes>& chunks) {
  std::string out;
  auto line = [&out](uint8_t type, uint16_t addr, const uint8_t* d, size_t n) {
    char buf[16];
    uint8_t sum = uint8_t(n + (addr >> 8) + (addr & 0xFF) + type);
    std::snprintf(buf, sizeof buf, ":%02X%04X%02X", unsigned(n), unsigned(addr), unsigned(type));
    out += buf;
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(buf, sizeof buf, "%02X", d[i]);
      out += buf;
      sum = uint8_t(sum + d[i]);
    }
    std::snprintf(buf, sizeof buf, "%02X\n", unsigned(uint8_t(-sum)));
    out += buf;
  };
  int upper = -1;
  for (const auto& [start, data] : chunks) {
    for (size_t off = 0; off < data.size(); off += 16) {
      const uint32_t a = uint32_t(start + off);
      if (int(a >> 16) != upper) {
        upper = int(a >> 16);
        const uint8_t ext[2] = {uint8_t(upper >> 8), uint8_t(upper)};
        line(4, 0, ext, 2);
      }
      line(0, uint16_t(a), data.data() + off, std::min<size_t>(16, data.size() - off));
    }
  }
  line(1, 0, nullptr, 0);
  return out;
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

class MainViewFixture : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ProgrammerOptions o = options();
    o.timeScale = 0;
    o.keepHistory = true;
    unit = plugIn(o);
    unit->setIdCodeAddresses({0x1FFF0, 0x1FFF1, 0x1FFF2, 0x1FFF3});
    restart();
    prompts.clear();
    unit->clearHistory();
  }

  // A fresh application state, as a new run of the program has it.
  void makeState() {
    state = std::make_unique<AppState>();
    state->executablePath = dir.file("vrx4");
    state->deviceTable.append(testDevice());
    DeviceDef one = testDevice("ONE-BLOCK");
    one.blockCount = 1;
    one.blockMask = 1;
    one.voltageCode = 0x04;
    state->deviceTable.append(one);
    DeviceDef many = testDevice("SIXTY-FOUR");
    many.userRomStart = 0;
    many.userRomEnd = 0x3FFFF;
    many.userRomSize = 0x40000;
    many.blockCount = 64;
    for (int i = 0; i < 64; ++i) {
      many.blockStart[i] = 0x1000 * i;
      many.blockSize[i] = 0x1000;
    }
    state->deviceTable.append(many);
    DeviceDef sixty = many;
    sixty.setName("SIXTY");
    sixty.blockCount = 60;
    state->deviceTable.append(sixty);
    view = std::make_unique<MainViewModel>(*state, dialogs);
  }

  // A new run: fresh state, the unit's stored settings read, the form started.
  void restart() {
    dialogs = ScriptedDialogs{};
    makeState();
    ASSERT_EQ(getInitialLoadData(state->initialLoad), LoadDataResult::Ok);
    view->StartUp();
  }

  // The command codes the unit received since the last clearHistory().
  std::vector<uint8_t> commands() const {
    std::vector<uint8_t> codes;
    for (const auto& r : unit->requests())
      if (r.size() >= 4) codes.push_back(r[2]);
    return codes;
  }
  // Command codes with the page transfer and polling commands left out.
  std::vector<uint8_t> settingCommands() const {
    std::vector<uint8_t> codes;
    for (uint8_t c : commands())
      if (c != kCmdWriteDataPage && c != kCmdGetBusyState) codes.push_back(c);
    return codes;
  }
  // Payload of the last request with this code.
  Bytes lastPayload(uint8_t code) const {
    Bytes p;
    for (const auto& r : unit->requests())
      if (r.size() >= 4 && r[2] == code) p.assign(r.begin() + 3, r.end() - 1);
    return p;
  }

  // A program file for the test device: a pattern in block 0, ID bytes at
  // the top of the ROM.
  std::string programFile(const std::string& name, uint8_t seed = 1) {
    const std::string path = dir.file(name);
    writeFile(path, hexText({{0x10000, pattern(0x400, seed)}, {0x1FFF0, {0x11, 0x22, 0x33, 0x44}}}));
    return path;
  }

  void selectAndLoad(const std::string& path) {
    view->OnDeviceChanged(0);
    dialogs.files.push_back(path);
    view->OnLoadUserFile();
  }

  std::shared_ptr<SimulatedProgrammer> unit;
  ScriptedDialogs dialogs;
  std::unique_ptr<AppState> state;
  std::unique_ptr<MainViewModel> view;
};

}  // namespace vrx4::test
