// Speed of the memory editor on the largest area (4 MiB, 262,144 rows):
// opening it, a scroll step with the rows that fit, and Clear of every
// block while many bytes carry blue marks.
#include <benchmark/benchmark.h>

#include <memory>

#include "view/MemoryEditor.h"

namespace {

using namespace vrx4;

constexpr int kRowsThatFit = 32;

struct Area {
  Area() {
    DeviceDef& d = settings.device;
    d.userRomStart = 0;
    d.userRomEnd = 0x3FFFFF;
    d.blockCount = 64;
    for (int k = 0; k < 64; ++k) {
      d.blockStart[k] = 0x10000 * k;
      d.blockSize[k] = 0x10000;
    }
    for (size_t i = 0; i < kUserImageSize; ++i) image->userImage[i] = uint8_t(i * 7);
  }
  ProjectSettings settings{};
  std::unique_ptr<MemoryImage> image = std::make_unique<MemoryImage>();
};

void BM_EditorOpen4MiB(benchmark::State& state) {
  Area a;
  for (auto _ : state) {
    MemoryEditor editor(ImageArea::User, a.settings, *a.image, false);
    benchmark::DoNotOptimize(editor.work());
  }
}
BENCHMARK(BM_EditorOpen4MiB)->Unit(benchmark::kMillisecond);

// One press of a scroll button and the redraw of the rows that fit.
void BM_EditorScrollStep(benchmark::State& state) {
  Area a;
  MemoryEditor editor(ImageArea::User, a.settings, *a.image, false);
  bool down = true;
  for (auto _ : state) {
    if (editor.topOffset() >= editor.maxTopOffset()) down = false;
    if (editor.topOffset() == 0) down = true;
    if (down)
      editor.scrollDown(kScrollLarge);
    else
      editor.scrollUp(kScrollLarge);
    benchmark::DoNotOptimize(editor.rows(kRowsThatFit));
  }
}
BENCHMARK(BM_EditorScrollStep)->Unit(benchmark::kMicrosecond);

// "Clear" of all 64 blocks after state.range(0) single-byte changes.
void BM_EditorClearMarked(benchmark::State& state) {
  Area a;
  BlockMask all;
  for (int k = 0; k < 64; ++k) all.set(k);
  for (auto _ : state) {
    state.PauseTiming();
    MemoryEditor editor(ImageArea::User, a.settings, *a.image, false);
    const int64_t marks = state.range(0);
    for (int64_t i = 0; i < marks; ++i) editor.modify(int32_t((i * 41) & 0x3FFFFF), 0x5A);
    state.ResumeTiming();
    editor.clear(all, 0xFF, a.settings.device);
    benchmark::DoNotOptimize(editor.changedAddresses());
  }
}
BENCHMARK(BM_EditorClearMarked)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
