// A window with a drawing device on it, for the benchmarks that drive the
// device directly.
#pragma once

#include <benchmark/benchmark.h>

#include "platform/gpu/gpu.h"
#include "platform/window/window.h"

struct BenchDevice {
  PlatformWindow* window = nullptr;
  GpuDevice* device = nullptr;
};

// Opens the window and the device at the size; on failure marks the state
// skipped and returns false.
bool bench_device_open(benchmark::State& state, int width, int height, BenchDevice* out);
void bench_device_close(BenchDevice* bench);
