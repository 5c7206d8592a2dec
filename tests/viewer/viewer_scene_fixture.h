// A viewer scene driven frame by frame without a window: the layout size is
// set, the task system and the 2D task types are up, and the mouse and keys
// come from the test. Without graphics start-up both text queue ids read 0,
// so both kinds of text land in the one queue of slot 0. The device variant
// runs the real graphics start-up on a hidden window instead: pictures
// become textures and the two queues are apart.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "assets/asset_registry.h"
#include "platform/sys/sys.h"
#include "platform/window/window.h"
#include "render/graphics/graphics.h"
#include "render/overlay2d/overlay2d.h"
#include "render/overlay2d/sprite2d.h"
#include "render/tasks/task.h"
#include "render/text/text_queue.h"
#include "render/view/view_state.h"
#include "viewer/viewer_input.h"
#include "viewer/viewer_points.h"
#include "viewer/viewer_scene.h"
#include "viewer/viewer_state.h"

namespace viewer_test {

inline ViewerInput g_input;
inline void test_input(ViewerInput* out) { *out = g_input; }

class ViewerScene : public ::testing::Test {
 protected:
  static constexpr int kW = 1024;
  static constexpr int kH = 768;

  void SetUp() override {
    ::setenv("TL_MESSAGEBOX", "stderr", 1);
    start_engine();
    if (HasFatalFailure()) return;
    g_input = ViewerInput{};
    viewer_input_set_source(test_input);
    sys_rand_reset();
    viewer_scene_init();
  }

  void TearDown() override {
    viewer_scene_release();
    viewer_input_set_source(nullptr);
    stop_engine();
  }

  virtual void start_engine() {
    const int layout[5] = {kW, kH, kW, kH, 0};
    view_set_screen(kW, kH, layout);
    init_asset_registry();
    text_queue_table_reset();
    text_queue_create(GFX_D3DX_TEXT_BYTES);
    tasks_init();
    handles_reset();
    line2d_register_type();
    tri2d_register_type();
    overlay2d_register_types();
  }
  virtual void stop_engine() {
    tasks_shutdown();
    text_queue_free_all();
    shutdown_asset_registry();
  }

  // One frame as the program runs it: last frame's one-frame tasks and texts
  // go, then the scene update and the task update pass.
  void frame() {
    tasks_reap_marked();
    text_queue_rewind(viewer_text_main());
    text_queue_rewind(viewer_text_cp932());
    viewer_scene_update();
    tasks_run_updates();
    g_input.left_pressed = g_input.right_pressed = g_input.space_pressed = false;
  }

  // Frames after the first update, which only loads the sample arrangement.
  void skip_first_update() { viewer_state().run_state = 1; }

  void mouse(int x, int y) {
    g_input.x = x;
    g_input.y = y;
  }
  void click(int x, int y) {
    mouse(x, y);
    g_input.left_pressed = true;
  }

  Task* add_point(int slot, float x, float y, float r) {
    Task* t = point_create(viewer_state().owner);
    viewer_state().points[slot] = t;
    point_set_position(t, x, y);
    point_set_radius(t, r);
    return t;
  }

  // The 2D sprites on a layer, newest first.
  static std::vector<SpriteData*> sprites(int layer) {
    std::vector<SpriteData*> out;
    for (Task* t = tasks_layer_head(layer); t; t = t->layer_next)
      if (SpriteData* s = sprite2d_data(t)) out.push_back(s);
    return out;
  }

  static int tasks_on(int layer) {
    int n = 0;
    for (Task* t = tasks_layer_head(layer); t; t = t->layer_next) ++n;
    return n;
  }

  // The texts of a queue in the order they were queued.
  static std::vector<std::pair<TextCommand, std::string>> texts(int queue) {
    std::vector<std::pair<TextCommand, std::string>> out;
    const uint8_t* cursor = text_queue_data(queue);
    TextCommand c;
    const char* text;
    while (cursor && text_queue_next(&cursor, &c, &text)) out.emplace_back(c, text);
    return out;
  }
  static bool has_text(int queue, const std::string& s) {
    for (const auto& t : texts(queue))
      if (t.second == s) return true;
    return false;
  }
};

// The same scene with the engine's device on a hidden window.
class ViewerSceneGl : public ViewerScene {
 protected:
  void start_engine() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("viewer test", 64, 48, nullptr);
    ASSERT_NE(window, nullptr);
    const int layout[5] = {kW, kH, kW, kH, 0};
    gfx_init(window, 0, 64, 48, 32, layout);
  }
  void stop_engine() override {
    gfx_shutdown();
    window_destroy(window);
    window_system_shutdown();
  }
  PlatformWindow* window = nullptr;
};

}  // namespace viewer_test
