// The render hand-off with a real second thread holding the device, and the
// 3D-view layer pass, both checked by what a probe task type draws.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "graphics_session.h"
#include "render/device/gfx_device.h"
#include "render/graphics/graphics.h"
#include "render/device/render_states.h"
#include "render/view/view_state.h"
#include "render/tasks/draw_list.h"
#include "render/tasks/task.h"

namespace {

constexpr int kW = 96, kH = 64;

struct ProbeData {
  int tag;
};

struct ProbeDraw {
  int tag;
  std::thread::id thread;
  GpuViewport viewport;
};

std::mutex probe_lock;
std::vector<ProbeDraw> probe_draws;

void probe_draw(Task* const* entries, int count) {
  std::lock_guard<std::mutex> guard(probe_lock);
  for (int i = 0; i < count; ++i)
    probe_draws.push_back({task_data<ProbeData>(entries[i])->tag, std::this_thread::get_id(), gfx_current_viewport()});
}

class RenderHandoff : public GraphicsSession {
 protected:
  void SetUp() override {
    start_graphics(kW, kH, "hand-off test");
    probe_type = task_type_register(probe_draw, nullptr, nullptr, nullptr, sizeof(ProbeData));
    ASSERT_GT(probe_type, 0);
    probe_draws.clear();
  }
  // A one-frame probe on the layer, drawing its tag.
  void probe(int layer, int tag) {
    Task* t = task_create(0);
    ASSERT_NE(t, nullptr);
    task_set_type(t, probe_type);
    task_data<ProbeData>(t)->tag = tag;
    task_set_layer(t, static_cast<uint8_t>(layer));
    task_set_visible(t, true);
    task_set_one_frame(t);
  }
  int probe_type = 0;
};

TEST_F(RenderHandoff, TheRenderThreadDrawsEveryRequestedFrameExactlyOnce) {
  constexpr int kFrames = 300;
  GfxDevice* dev = gfx_device_ptr();
  gfx_set_handoff_mode(1);
  gpu_device_release_thread(gfx_device());
  std::atomic<bool> stop{false};
  std::atomic<int> drawn_by_step{0};
  std::thread renderer([&] {
    gpu_device_acquire_thread(gfx_device());
    while (!stop.load()) drawn_by_step += gfx_render_thread_step(window);
    gpu_device_release_thread(gfx_device());
  });
  const std::thread::id render_id = renderer.get_id();
  for (int n = 0; n < kFrames; ++n) {
    probe(20, n);
    run_frame(0);
    // run_frame returns only once the frame is done.
    std::lock_guard<std::mutex> guard(probe_lock);
    ASSERT_EQ(probe_draws.size(), static_cast<size_t>(n + 1));
  }
  EXPECT_EQ(dev->frames_requested, kFrames);
  EXPECT_EQ(dev->frames_done, kFrames);
  gfx_set_handoff_mode(0);
  stop = true;
  renderer.join();
  gpu_device_acquire_thread(gfx_device());
  EXPECT_EQ(drawn_by_step.load(), kFrames) << "no step draws once the mode is off";
  EXPECT_EQ(dev->frames_requested, 0);
  EXPECT_EQ(dev->frames_done, 0);
  for (int n = 0; n < kFrames; ++n) {
    EXPECT_EQ(probe_draws[n].tag, n);
    EXPECT_EQ(probe_draws[n].thread, render_id) << "frame " << n << " was drawn by another thread";
  }
  // With the mode off the main thread draws again.
  probe(20, kFrames);
  run_frame(0);
  ASSERT_EQ(probe_draws.size(), static_cast<size_t>(kFrames + 1));
  EXPECT_EQ(probe_draws.back().thread, std::this_thread::get_id());
  EXPECT_EQ(gfx_render_thread_step(window), 0) << "a step with the mode off returns at once";
}

TEST_F(RenderHandoff, TheSceneLayerPassDrawsItsRangesInOrder) {
  set_viewport(0, 8, 4, 40, 30, 4.0f / 3.0f);
  for (int layer = 0; layer < 64; ++layer) probe(layer, layer);
  draw_list_build();
  struct Case {
    bool view_enabled;
    std::vector<int> layers;
  };
  // Inside a range the higher layers draw first, under the lower ones.
  std::vector<int> with_view, without_view;
  for (int l = 63; l >= 55; --l) with_view.push_back(l), without_view.push_back(l);
  for (int l = 54; l >= 46; --l) with_view.push_back(l);
  with_view.push_back(45);
  for (int l = 44; l >= 40; --l) with_view.push_back(l), without_view.push_back(l);
  const Case cases[] = {{true, with_view}, {false, without_view}};
  for (const Case& c : cases) {
    set_view_enabled(0, c.view_enabled);
    probe_draws.clear();
    ASSERT_EQ(gpu_begin_scene(gfx_device()), GPU_OK);
    gfx_draw_scene_layers();
    gpu_end_scene(gfx_device());
    std::vector<int> layers;
    for (const ProbeDraw& d : probe_draws) {
      layers.push_back(d.tag);
      const bool in_view = d.tag >= 45 && d.tag <= 54;
      EXPECT_EQ(d.viewport.x, in_view ? 8u : 0u) << "layer " << d.tag;
      EXPECT_EQ(d.viewport.width, in_view ? 40u : uint32_t(kW)) << "layer " << d.tag;
      EXPECT_EQ(d.viewport.height, in_view ? 30u : uint32_t(kH)) << "layer " << d.tag;
    }
    EXPECT_EQ(layers, c.layers) << "view 0 enabled " << c.view_enabled;
  }
}

}  // namespace
