#include "bench_device.h"

bool bench_device_open(benchmark::State& state, int width, int height, BenchDevice* out) {
  if (!window_system_init()) {
    state.SkipWithError("no window system");
    return false;
  }
  out->window = window_create("bench", width, height, nullptr);
  GpuPresentParams p{};
  p.windowed = true;
  p.window = out->window;
  if (!out->window ||
      gpu_device_create(GPU_DEVICE_HAL, out->window, GPU_CREATE_HARDWARE_VP, &p, &out->device) != GPU_OK) {
    state.SkipWithError("no device");
    return false;
  }
  return true;
}

void bench_device_close(BenchDevice* bench) {
  gpu_device_release(bench->device);
  window_destroy(bench->window);
  window_system_shutdown();
  *bench = BenchDevice{};
}
