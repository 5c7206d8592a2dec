// What the off-screen back buffer costs a frame: the device draws into a
// framebuffer of its own and its present draws that onto the window before
// the swap. Measured against a bare swap of the window in the same loop,
// each after the frame's drawing has finished, so neither waits for the
// rasteriser. The first of each is counted apart: there the driver makes
// its present program. Run where the program runs (a display, or Xvfb) to measure
// the real window; without one it falls back to the off-screen video driver.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "common/bench_device.h"
#include "platform/window/window_sdl.h"

namespace {

constexpr int kWidth = 1024, kHeight = 768;

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void BM_PresentCopyAgainstBareSwap(benchmark::State& state) {
  if (std::getenv("DISPLAY") == nullptr) setenv("SDL_VIDEODRIVER", "offscreen", 0);
  BenchDevice bench;
  if (!bench_device_open(state, kWidth, kHeight, &bench)) return;
  GpuDevice* d = bench.device;
  PlatformWindow* window = bench.window;
  SDL_Window* sdl = window_sdl_handle(window);
  std::vector<double> present, swap;
  for (auto _ : state) {
    gpu_begin_scene(d);
    gpu_clear(d, GPU_CLEAR_TARGET, 0xFF204060u, 1.0f, 0);
    gpu_end_scene(d);
    glFinish();
    int64_t t = now_ns();
    gpu_present(d);
    glFinish();
    present.push_back(static_cast<double>(now_ns() - t) / 1e6);

    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glClearColor(0.1f, 0.2f, 0.3f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glFinish();
    t = now_ns();
    SDL_GL_SwapWindow(sdl);
    glFinish();
    swap.push_back(static_cast<double>(now_ns() - t) / 1e6);
  }
  state.counters["first_present_ms"] = present.empty() ? 0 : present.front();
  state.counters["first_swap_ms"] = swap.empty() ? 0 : swap.front();
  if (present.size() > 1) present.erase(present.begin());
  if (swap.size() > 1) swap.erase(swap.begin());
  state.counters["present_ms"] = median(present);
  state.counters["bare_swap_ms"] = median(swap);
  state.counters["copy_ms"] = median(present) - median(swap);
  state.counters["ratio"] = median(present) / std::max(median(swap), 1e-6);
  bench_device_close(&bench);
}
BENCHMARK(BM_PresentCopyAgainstBareSwap)->Iterations(300)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
