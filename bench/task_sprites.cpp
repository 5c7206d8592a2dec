// Main-thread cost of 4,096 one-frame sprites per frame, as the viewer issues
// its picture and rectangles: creating them, building (sorting) the draw list
// and drawing it through the device, on a hidden window. The present, which
// waits for the GPU, is left out of the timing.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "assets/textures.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/device/render_states.h"
#include "render/graphics/graphics.h"
#include "render/overlay2d/overlay2d.h"
#include "render/tasks/draw_list.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int kSprites = 4096;

struct Scene {
  PlatformWindow* window = nullptr;
  AssetHandle texture = 0;

  // On failure marks the state skipped and undoes what was opened.
  bool start(benchmark::State& state) {
    if (!open()) {
      state.SkipWithError("no window or device");
      stop();
      return false;
    }
    tasks_init();
    line2d_register_type();
    tri2d_register_type();
    overlay2d_register_types();
    texture = create_texture("bench", "sprite", 32, 32, 0);
    std::vector<uint32_t> texels(32 * 32, 0xFFFFFFFFu);
    write_texture_pixels(texture, 0, 0, 32, 32, texels.data());
    return true;
  }

  bool open() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (!window_system_init()) return false;
    window = window_create("sprites", kWidth, kHeight, nullptr);
    if (window == nullptr) return false;
    const int layout[5] = {kWidth, kHeight, kWidth, kHeight, 0};
    view_set_screen(kWidth, kHeight, layout);
    GfxDeviceParams params{window, kWidth, kHeight, 32, 0, 0, nullptr, nullptr};
    gfx_install_device_hooks();
    return gfx_device_init(params) == 1;
  }

  void stop() {
    tasks_shutdown();
    gfx_device_shutdown();
    if (window != nullptr) window_destroy(window);
    window_system_shutdown();
  }

  void create_sprites() const {
    for (int i = 0; i < kSprites; ++i) {
      const float x = static_cast<float>((i * 37) % kWidth);
      const float y = static_cast<float>((i * 53) % kHeight);
      sprite2d_draw_texture(1, texture, 0xFFFFFFFFu, x, y, 0.5f, 0.5f, 1.0f, 1.0f,
                            static_cast<uint8_t>(20 + i % 4));
    }
  }
};

void begin_frame() {
  GpuDevice* d = gfx_device();
  gpu_begin_scene(d);
  gpu_set_render_state(d, GPU_RS_SCISSORTESTENABLE, 1);
  gfx_set_scissor(-1);
  gfx_set_viewport(-1);
  gfx_clear(5, 0);
}

void end_frame() {
  gpu_end_scene(gfx_device());
  gfx_present();
}

// The whole per-frame path: create, update pass, sort, draw, reap.
void BM_TaskSpritesFrame(benchmark::State& state) {
  Scene scene;
  if (!scene.start(state)) return;
  for (auto _ : state) {
    scene.create_sprites();
    tasks_run_updates();
    draw_list_build();
    begin_frame();
    draw_list_draw_layers(10, 39);
    tasks_reap_marked();
    state.PauseTiming();
    end_frame();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kSprites);
  scene.stop();
}
BENCHMARK(BM_TaskSpritesFrame)->Unit(benchmark::kMicrosecond);

// Creating and reaping only.
void BM_TaskSpritesCreate(benchmark::State& state) {
  Scene scene;
  if (!scene.start(state)) return;
  for (auto _ : state) {
    scene.create_sprites();
    tasks_reap_marked();
  }
  state.SetItemsProcessed(state.iterations() * kSprites);
  scene.stop();
}
BENCHMARK(BM_TaskSpritesCreate)->Unit(benchmark::kMicrosecond);

// Building the draw list: four layers of 1,024 equal keys each.
void BM_TaskSpritesSort(benchmark::State& state) {
  Scene scene;
  if (!scene.start(state)) return;
  scene.create_sprites();
  for (auto _ : state) {
    draw_list_build();
    benchmark::DoNotOptimize(draw_list_get()->count);
  }
  tasks_reap_marked();
  state.SetItemsProcessed(state.iterations() * kSprites);
  scene.stop();
}
BENCHMARK(BM_TaskSpritesSort)->Unit(benchmark::kMicrosecond);

// Drawing only: the batches of the already sorted list through the device.
void BM_TaskSpritesDraw(benchmark::State& state) {
  Scene scene;
  if (!scene.start(state)) return;
  scene.create_sprites();
  draw_list_build();
  for (auto _ : state) {
    state.PauseTiming();
    begin_frame();
    state.ResumeTiming();
    draw_list_draw_layers(10, 39);
    state.PauseTiming();
    end_frame();
    state.ResumeTiming();
  }
  tasks_reap_marked();
  state.SetItemsProcessed(state.iterations() * kSprites);
  scene.stop();
}
BENCHMARK(BM_TaskSpritesDraw)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
