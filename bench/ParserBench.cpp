// The record parsers and writers. The parsers run on the lines of a 4 MiB image, one 16-byte record per
// line, as a file of 262 144 lines would give them.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "image/ProgramLoader.h"
#include "image/ProgramSaver.h"

namespace {

std::vector<std::string> makeLines(bool hex) {
  std::mt19937 rng(7);
  std::vector<std::string> lines;
  for (uint32_t a = 0; a < 0x400000; a += 16) {
    char buf[64];
    uint8_t d[16];
    for (auto& b : d) b = uint8_t(rng());
    std::string s;
    uint32_t sum;
    if (hex && (a & 0xFFFF) == 0) {  // extended linear address of each 64 KiB
      unsigned v = a >> 16;
      std::snprintf(buf, sizeof buf, ":02000004%04X%02X\r\n", v, (0x100 - ((6 + (v >> 8) + (v & 0xFF)) & 0xFF)) & 0xFF);
      lines.push_back(buf);
    }
    if (hex) {
      std::snprintf(buf, sizeof buf, ":10%04X00", unsigned(a & 0xFFFF));
      s = buf;
      sum = 0x10 + ((a >> 8) & 0xFF) + (a & 0xFF);
    } else {
      std::snprintf(buf, sizeof buf, "S214%06X", unsigned(a));
      s = buf;
      sum = 0x14 + ((a >> 16) & 0xFF) + ((a >> 8) & 0xFF) + (a & 0xFF);
    }
    for (uint8_t b : d) {
      std::snprintf(buf, sizeof buf, "%02X", b);
      s += buf;
      sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X\r\n",
                  hex ? unsigned((0x100 - (sum & 0xFF)) & 0xFF) : unsigned(0xFF - (sum & 0xFF)));
    s += buf;
    lines.push_back(s);
  }
  return lines;
}

void run(benchmark::State& state, bool hex) {
  static const std::vector<std::string> hexLines = makeLines(true);
  static const std::vector<std::string> srecLines = makeLines(false);
  const auto& lines = hex ? hexLines : srecLines;
  std::vector<uint8_t> buffer(0x400000, 0xFF);
  for (auto _ : state) {
    vrx4::ParseState st;
    st.areaStart = 0;
    st.areaEnd = 0x3FFFFF;
    for (const std::string& l : lines) {
      int r = hex ? vrx4::parseHexLine(l, buffer, st) : vrx4::parseSRecordLine(l, buffer, st);
      if (r != vrx4::kLineOk) state.SkipWithError("line refused");
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(lines.size()));
}

void BM_ParseHexLines(benchmark::State& state) { run(state, true); }
void BM_ParseSRecordLines(benchmark::State& state) { run(state, false); }
BENCHMARK(BM_ParseHexLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseSRecordLines)->Unit(benchmark::kMillisecond);

// The writers on the whole 4 MiB area, into a file in shared memory where
// the kernel's part is smallest.
void runWriter(benchmark::State& state, bool hex) {
  std::vector<uint8_t> image(0x400000);
  std::mt19937 rng(9);
  for (auto& b : image) b = uint8_t(rng());
  vrx4::SaveRequest q;
  q.image = image.data();
  q.areaStart = 0;
  q.areaEnd = 0x3FFFFF;
  q.path = hex ? "/dev/shm/vrx4-bench.hex" : "/dev/shm/vrx4-bench.mot";
  std::atomic<uint32_t> position{0};
  for (auto _ : state) {
    if (vrx4::saveProgramFile(q, position) != vrx4::SaveResult::Ok) state.SkipWithError("save failed");
  }
  std::remove(q.path.c_str());
  state.SetItemsProcessed(int64_t(state.iterations()) * 0x40000);
}

void BM_WriteIntelHex(benchmark::State& state) { runWriter(state, true); }
void BM_WriteSRecords(benchmark::State& state) { runWriter(state, false); }
BENCHMARK(BM_WriteIntelHex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteSRecords)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
