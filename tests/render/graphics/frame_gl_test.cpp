#include <gtest/gtest.h>

#include <vector>

#include "graphics_session.h"
#include "platform/gpu/gpu.h"
#include "assets/device_bindings.h"
#include "assets/textures.h"
#include "render/device/gfx_device.h"
#include "render/device/shaders.h"
#include "render/graphics/graphics.h"
#include "render/overlay2d/prim2d.h"
#include "render/overlay2d/sprite2d.h"
#include "render/overlay2d/text2d.h"
#include "render/tasks/task.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"
#include "render/views/render_views.h"
#include "render/world/prim3d.h"
#include "render/world/sprite3d.h"
#include "scene3d/part_records.h"
#include "scene3d/part_render.h"

namespace {

constexpr int kW = 160, kH = 120;

// The whole graphics start-up on a hidden window, one frame at a time.
class FrameDriver : public GraphicsSession {
 protected:
  void SetUp() override { start_graphics(kW, kH, "frame test"); }
};

TEST_F(FrameDriver, StartUpRegistersTheTypesInOrder) {
  const struct {
    int id, got;
    TaskDrawFn draw;
  } types[] = {
      {1, line2d_get_type(), line2d_draw_batch}, {2, tri2d_get_type(), tri2d_draw_batch},
      {3, text_get_type(), text_draw_batch},     {4, sprite2d_get_type(), sprite2d_draw_batch},
      {5, line3d_get_type(), line3d_draw_batch}, {6, tri3d_get_type(), tri3d_draw_batch},
      {7, sprite3d_get_type(), sprite3d_draw_batch},
  };
  for (const auto& t : types) {
    EXPECT_EQ(t.got, t.id);
    EXPECT_NE(task_type_get(t.id)->registered, 0u) << t.id;
    EXPECT_EQ(task_type_get(t.id)->draw, t.draw) << t.id;
  }
  EXPECT_EQ(task_type_get(6)->sort_key, tri3d_sort_key) << "the one type that orders its layer";
  const PartRenderBlock* parts = part_render_block();
  const uint32_t part_ids[] = {parts->prim_type_id, parts->model_type_id, parts->mesh_type_id,
                               parts->static_type_id};
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(part_ids[i], 8 + i);
    EXPECT_NE(task_type_get(int(8 + i))->registered, 0u) << 8 + i;
  }
  for (int id = 12; id < kTaskTypeCount; ++id) EXPECT_EQ(task_type_get(id)->registered, 0u) << id;
  EXPECT_EQ(gfx_text_buffer_d3dx(), 0) << "the face queue is made first: the queue0 forms append to it";
  EXPECT_EQ(gfx_text_buffer_main(), 1);
  EXPECT_EQ(text_queue_slot(gfx_text_buffer_d3dx())->capacity, GFX_D3DX_TEXT_BYTES);
  EXPECT_EQ(text_queue_slot(gfx_text_buffer_main())->capacity, GFX_MAIN_TEXT_BYTES);
}

TEST_F(FrameDriver, ResetAndClearEmptyTheComponentsAndRestoreTheViews) {
  for (void (*fan_out)() : {gfx_reset_components, gfx_clear_components}) {
    const uint32_t owner = handle_alloc();
    Task* kept = sprite2d_create_rect(owner, 0xFFFFFFFFu, 0, 0, 8, 8, 0, 0, 1, 1, 20);
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(owner_record_alloc(owner), nullptr);
    ASSERT_NE(render_view_create(owner, 8, 8, "v"), nullptr);
    ASSERT_NE(part_slot_alloc(kept), nullptr);
    set_fog_enable(0, 1);
    set_view_enabled(1, 1);
    fan_out();
    EXPECT_FALSE(task_is_alive(kept));
    EXPECT_EQ(tasks_get_alive_count(), 0u);
    EXPECT_EQ(handle_count(), 0u);
    EXPECT_EQ(owner_records_count(), 0u);
    EXPECT_EQ(render_views_count(), 0);
    EXPECT_EQ(part_slot_count(), 0);
    EXPECT_EQ(get_fog_enable(0), 0) << "the view defaults again";
    EXPECT_EQ(view_is_enabled(1), 0);
    EXPECT_EQ(sprite2d_get_type(), 4) << "the type table stays";
  }
  // A frame still runs on the emptied components.
  run_frame(0);
}

TEST_F(FrameDriver, OnlyLayers10To39AreDrawnAndOneFrameTasksOnce) {
  struct {
    uint8_t layer;
    int x;
    bool shown;
  } cases[] = {{5, 0, false}, {9, 20, false}, {10, 40, true}, {39, 60, true}, {40, 80, false}, {45, 100, false}};
  for (const auto& c : cases) sprite2d_draw_rect(1, 0xFFFFFFFFu, float(c.x), 0, 16, 16, 0, 0, 1, 1, c.layer);
  run_frame(0);
  for (const auto& c : cases) EXPECT_EQ(pixel(c.x + 8, 8), c.shown ? 0xFFFFFFu : 0u) << int(c.layer);
  run_frame(0);
  EXPECT_EQ(pixel(48, 8), 0u) << "a one-frame task is gone after its frame";
}

TEST_F(FrameDriver, TheFrameDrawsOnTheBackBufferWithItsOwnStates) {
  // Whatever the frame before left: another target, no scissor test.
  const AssetHandle target = create_render_target_texture("frame", "elsewhere", 32, 32, 0);
  ASSERT_NE(target, 0u);
  gfx_set_render_targets(target, 0, nullptr);
  gpu_set_render_state(gfx_device(), GPU_RS_SCISSORTESTENABLE, 0);
  Task* clipped = sprite2d_draw_rect(1, 0xFFFFFFFFu, 0, 0, 40, 40, 0, 0, 1, 1, 20);
  sprite2d_set_clip_rect(clipped, 0, 0, 10, 10);
  set_fog_enable(0, 1);
  set_fog_start(0, 10.0f);
  set_fog_end(0, 110.0f);
  text_queue_printf(gfx_text_buffer_main(), 0, 0, 16.0f, 60, 60, 0xFFFFFFFFu, "A");
  text_queue_printf(gfx_text_buffer_d3dx(), 0, 0, 16.0f, 60, 60, 0xFFFFFFFFu, "A");
  gpu_trace_enable(gfx_device(), true);
  run_frame(0);
  gfx_set_render_targets(0, 0, nullptr);  // read the back buffer itself
  EXPECT_EQ(pixel(5, 5), 0xFFFFFFu);
  EXPECT_EQ(pixel(15, 15), 0u) << "the clip holds: the frame turns the scissor test on";
  EXPECT_FLOAT_EQ(shader_set()->fog_on[0][0], -0.01f) << "this frame's fog factors";
  // The bitmap overlay's draw (the sheet on stage 0) comes before the face's.
  size_t n = 0;
  const GpuTraceDraw* draws = gpu_trace_last_frame(gfx_device(), &n);
  ASSERT_GE(n, 3u);
  const TextureObject* sheet = get_texture_object(bitmap_font_state()->textures[0]);
  EXPECT_EQ(draws[1].textures[0], gpu_texture_id(sheet->texture));
  EXPECT_NE(draws[n - 1].textures[0], gpu_texture_id(sheet->texture));
  unregister_texture(target);
}

TEST_F(FrameDriver, ClearUsesTheColoursRgbOnly) {
  gfx_set_clear_colour(0x80123456u);
  run_frame(0);
  EXPECT_EQ(pixel(5, 5), 0x123456u);
}

TEST_F(FrameDriver, RenderDisabledDrawsNothingAndDropsText) {
  gfx_set_clear_colour(0xFF0000FFu);
  run_frame(0);
  ASSERT_EQ(pixel(5, 5), 0x0000FFu);
  gfx_set_render_enabled(0);
  gfx_set_clear_colour(0);
  sprite2d_draw_rect(1, 0xFFFFFFFFu, 0, 0, 16, 16, 0, 0, 1, 1, 20);
  text_queue_puts(gfx_text_buffer_main(), "LEVEL %d", 1);
  ASSERT_GT(text_queue_used(gfx_text_buffer_main()), 0);
  run_frame(0);
  EXPECT_EQ(pixel(5, 5), 0x0000FFu) << "nothing was cleared or drawn";
  EXPECT_EQ(text_queue_used(gfx_text_buffer_main()), 0);
  gfx_set_render_enabled(1);
}

TEST_F(FrameDriver, TextQueuedWhileTheDeviceIsLostIsDropped) {
  gpu_debug_lose_device(gfx_device(), GpuLossScript{0, false, 0});
  gfx_present();
  ASSERT_TRUE(gfx_device_ptr()->lost);
  text_queue_puts(gfx_text_buffer_main(), "LEVEL %d", 2);
  run_frame(0);
  EXPECT_EQ(text_queue_used(gfx_text_buffer_main()), 0);
}

}  // namespace
