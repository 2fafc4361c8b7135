// Speed of the device table parser and of the image sums.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "app/DeviceTable.h"
#include "image/MemoryImage.h"

namespace {

using namespace vrx4;

// A full table: 256 rows, each with 32 ID code addresses and 64 blocks.
std::string fullTable() {
  std::string t = "# T552-VRX4\n# OPTION MODE\n";
  char buf[32];
  for (int r = 0; r < DeviceTable::kMaxRows; ++r) {
    t += "DEMO-BENCH-" + std::to_string(r) + ",0x0F000, 0x800, 0x000000, 0x400000, 0x21, 0x3FFFFF, 20, ";
    for (int i = 0; i < 32; ++i) {
      std::snprintf(buf, sizeof buf, "%s0x%06X", i ? "/" : "", 0x3FFFC0 + i);
      t += buf;
    }
    t += ", 40, ";
    for (int i = 0; i < 64; ++i) {
      std::snprintf(buf, sizeof buf, "%s0x%06X", i ? "/" : "", i * 0x10000);
      t += buf;
    }
    t += ", ";
    for (int i = 0; i < 64; ++i) t += i ? "/0x010000" : "0x010000";
    t += ", 01, 00, 1, 3\n";
  }
  return t;
}

void BM_ParseFullDeviceTable(benchmark::State& state) {
  const std::string text = fullTable();
  auto table = std::make_unique<DeviceTable>();
  for (auto _ : state) {
    std::istringstream in(text);
    DeviceTableError error;
    bool ok = parseDeviceTableQuiet(in, *table, error);
    if (!ok || table->rowCount() != DeviceTable::kMaxRows) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(table->row(255).blockMask);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
  state.counters["bytes"] = double(text.size());
}
BENCHMARK(BM_ParseFullDeviceTable)->Unit(benchmark::kMillisecond);

void BM_ImageChecksum4MiB(benchmark::State& state) {
  auto image = std::make_unique<MemoryImage>();
  auto ps = std::make_unique<ProjectSettings>();
  ps->device.userRomStart = 0;
  ps->device.userRomSize = 0x400000;
  ps->device.userRomEnd = 0x3FFFFF;
  for (size_t i = 0; i < image->userImage.size(); ++i) image->userImage[i] = uint8_t(i * 13);
  for (auto _ : state) benchmark::DoNotOptimize(image->imageChecksum(ImageArea::User, *ps));
  state.SetBytesProcessed(int64_t(state.iterations()) * 0x400000);
}
BENCHMARK(BM_ImageChecksum4MiB)->Unit(benchmark::kMillisecond);

void BM_BlockChecksums64Blocks4MiB(benchmark::State& state) {
  auto image = std::make_unique<MemoryImage>();
  DeviceDef d;
  d.userRomStart = 0;
  d.userRomSize = 0x400000;
  d.userRomEnd = 0x3FFFFF;
  d.blockCount = 64;
  for (int i = 0; i < 64; ++i) {
    d.blockStart[i] = uint32_t(i) * 0x10000;
    d.blockSize[i] = 0x10000;
  }
  for (size_t i = 0; i < image->userImage.size(); ++i) image->userImage[i] = uint8_t(i * 7);
  uint16_t sums[kMaxBlocks];
  for (auto _ : state) {
    image->blockChecksums(d, sums);
    benchmark::DoNotOptimize(sums);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 0x400000);
}
BENCHMARK(BM_BlockChecksums64Blocks4MiB)->Unit(benchmark::kMillisecond);

}  // namespace
