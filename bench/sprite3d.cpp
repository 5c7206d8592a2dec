// Main-thread cost of drawing world-space sprites: 4,000 camera-facing
// billboards in one or four textures, culled, sorted far to near and batched by
// the draw callback, on a hidden window through the real device. The
// present, which waits for the GPU, is left out of the timing.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "assets/asset_registry.h"
#include "platform/gpu/gpu.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/graphics/graphics.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"
#include "render/world/sprite3d.h"
#include "scene3d/part_render.h"

namespace {

constexpr int kWidth = 640, kHeight = 480;
constexpr int kSprites = 4000;

Task* sprites[kSprites];

bool start(PlatformWindow** window, int texture_count) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  if (!window_system_init()) return false;
  *window = window_create("sprite3d", kWidth, kHeight, nullptr);
  if (*window == nullptr) return false;
  const int layout[5] = {kWidth, kHeight, kWidth, kHeight, 0};
  gfx_init(*window, 0, kWidth, kHeight, 32, layout);
  const Vec3 eye{0, 5, -40}, target{0, 0, 0}, up{0, 1, 0};
  set_camera_look_at(0, &eye, &target, &up);
  set_near_far(0, 1.0f, 200.0f, 200.0f);
  scenepass_apply_view(0, 0);
  const AssetHandle textures[4] = {get_white_texture(), get_green_texture(), get_cyan_texture(),
                                   get_magenta_texture()};
  for (int i = 0; i < kSprites; ++i) {
    const Vec3 p{float(i * 37 % 61) - 30.0f, float(i * 53 % 41) - 20.0f, float(i * 29 % 97) - 40.0f};
    sprites[i] = sprite3d_create(1, &p, 0.1f * float(i % 7), 1.5f, 0, 0xFFFFFFFFu, 1);
    if (sprites[i] == nullptr) return false;
    sprite3d_set_texture0(sprites[i], textures[i % texture_count]);
  }
  return true;
}

void stop(PlatformWindow* window) {
  gfx_shutdown();
  if (window != nullptr) window_destroy(window);
  window_system_shutdown();
}

void BM_Sprite3dDraw(benchmark::State& state) {
  PlatformWindow* window = nullptr;
  if (!start(&window, static_cast<int>(state.range(0)))) {
    state.SkipWithError("graphics did not start");
    stop(window);
    return;
  }
  GpuDevice* d = gfx_device();
  for (auto _ : state) {
    gpu_begin_scene(d);
    sprite3d_reset_frame_counters();
    sprite3d_draw_batch(sprites, kSprites);
    gpu_end_scene(d);
    state.PauseTiming();
    gfx_present();
    state.ResumeTiming();
  }
  state.counters["batches"] = double(sprite3d_get_batch_count());
  state.counters["drawn"] = double(sprite3d_get_drawn_count());
  stop(window);
}
// Argument: textures in use (1: one batch; 4: mostly a batch per sprite).
BENCHMARK(BM_Sprite3dDraw)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
