// The overlay types drawn through the real device on a hidden window: what
// reaches the back buffer and which draws the device saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>
#include <vector>

#include "assets/crops.h"
#include "assets/textures.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/graphics/graphics.h"
#include "render/left_states.h"
#include "render/overlay2d/overlay2d.h"
#include "render/overlay2d/text2d.h"
#include "render/tasks/draw_list.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr uint32_t kClear = 0xFF000000u;

class OverlayGlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window_ = window_create("overlay test", kWidth, kHeight, nullptr);
    ASSERT_NE(window_, nullptr);
    const int layout[5] = {kWidth, kHeight, kWidth, kHeight, 0};
    view_set_screen(kWidth, kHeight, layout);
    GfxDeviceParams params{window_, kWidth, kHeight, 32, 0, 0, nullptr, nullptr};
    gfx_install_device_hooks();
    ASSERT_EQ(gfx_device_init(params), 1);
    gpu_trace_enable(gfx_device(), true);
    tasks_init();
    ASSERT_EQ(line2d_register_type(), 1);
    ASSERT_EQ(tri2d_register_type(), 2);
    ASSERT_EQ(overlay2d_register_types(), 4);
  }

  void TearDown() override {
    tasks_shutdown();
    gfx_device_shutdown();
    window_destroy(window_);
    window_system_shutdown();
  }

  // One frame as the frame driver runs it: update pass, render of layers 10
  // to 39, present, reap. Returns the draws the device saw.
  std::vector<GpuTraceDraw> frame() {
    tasks_run_updates();
    GpuDevice* d = gfx_device();
    gpu_begin_scene(d);
    gpu_set_render_state(d, GPU_RS_SCISSORTESTENABLE, 1);
    draw_list_build();
    gfx_set_scissor(-1);
    gfx_set_viewport(-1);
    gfx_clear(5, kClear);
    draw_list_draw_layers(10, 39);
    pixels_ = read_back();
    gpu_end_scene(d);
    gfx_present();
    tasks_reap_marked();
    size_t n = 0;
    const GpuTraceDraw* draws = gpu_trace_last_frame(d, &n);
    std::vector<GpuTraceDraw> out(draws, draws + n);
    // The clear is not a draw; every draw of these tests comes from the list.
    return out;
  }

  std::vector<uint32_t> read_back() {
    std::vector<uint32_t> px(static_cast<size_t>(kWidth) * kHeight);
    GpuSurface* bb = nullptr;
    EXPECT_EQ(gpu_get_render_target(gfx_device(), 0, &bb), GPU_OK);
    EXPECT_EQ(gpu_read_surface(gfx_device(), bb, GpuRect{0, 0, kWidth, kHeight}, px.data()), GPU_OK);
    gpu_surface_release(bb);
    return px;
  }

  uint32_t pixel(int x, int y) const {
    return pixels_[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)] | 0xFF000000u;
  }

  AssetHandle make_texture(const char* name, uint32_t argb) {
    const AssetHandle h = create_texture("ovl", name, 8, 8, 0);
    std::vector<uint32_t> texels(64, argb);
    EXPECT_TRUE(write_texture_pixels(h, 0, 0, 8, 8, texels.data()));
    return h;
  }

  PlatformWindow* window_ = nullptr;
  std::vector<uint32_t> pixels_;
};

constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;
constexpr uint32_t kBlue = 0xFF0000FFu;

TEST_F(OverlayGlTest, LayersAndSubPrioritiesStackAndOnlyTenToThirtyNineDraw) {
  // Overlapping: layer 27 is drawn first, layer 11 on top of it.
  sprite2d_draw_rect(1, kRed, 10, 10, 40, 40, 0, 0, 1, 1, 11);
  sprite2d_draw_rect(1, kGreen, 30, 30, 40, 40, 0, 0, 1, 1, 27);
  // One layer: sub-priority 9 before 7.
  Task* high = sprite2d_draw_rect(1, kBlue, 100, 10, 40, 40, 0, 0, 1, 1, 20);
  Task* low = sprite2d_draw_rect(1, kRed, 120, 30, 40, 40, 0, 0, 1, 1, 20);
  task_set_subpriority(high, 9);
  task_set_subpriority(low, 7);
  // Never drawn.
  for (uint8_t layer : {0, 5, 9, 40, 45, 63}) {
    sprite2d_draw_rect(1, kGreen, 200 + layer, 150, 4, 4, 0, 0, 1, 1, layer);
  }
  const std::vector<GpuTraceDraw> draws = frame();
  EXPECT_EQ(draws.size(), 4u);  // layer 27; layer 20 as two runs; layer 11
  EXPECT_EQ(pixel(40, 40), kRed);
  EXPECT_EQ(pixel(60, 60), kGreen);
  EXPECT_EQ(pixel(130, 40), kRed);
  EXPECT_EQ(pixel(105, 15), kBlue);
  for (int layer : {0, 5, 9, 40, 45, 63}) EXPECT_EQ(pixel(201 + layer, 151), kClear) << layer;
}

TEST_F(OverlayGlTest, OneFrameSpritesDrawExactlyOnce) {
  sprite2d_draw_rect(1, kRed, 10, 10, 20, 20, 0, 0, 1, 1, 20);
  Task* kept = sprite2d_create_rect(1, kGreen, 50, 10, 20, 20, 0, 0, 1, 1, 20);
  EXPECT_EQ(frame().size(), 1u);
  EXPECT_EQ(pixel(15, 15), kRed);
  EXPECT_EQ(pixel(55, 15), kGreen);
  EXPECT_EQ(frame().size(), 1u);
  EXPECT_EQ(pixel(15, 15), kClear);
  EXPECT_EQ(pixel(55, 15), kGreen);
  task_kill(kept);
  EXPECT_TRUE(frame().empty());
}

TEST_F(OverlayGlTest, OneTextureBatchesUpTo4096Quads) {
  const AssetHandle tex = make_texture("one", 0xFFFFFFFFu);
  // A full pool of sprites is one draw.
  for (int i = 0; i < kTaskPoolSize; ++i) {
    ASSERT_NE(sprite2d_draw_texture(1, tex, kRed, static_cast<float>(i % 300), 100, 0, 0, 1, 1, 20),
              nullptr);
  }
  std::vector<GpuTraceDraw> draws = frame();
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].primitive_count, 2u * 4096u);
  EXPECT_EQ(draws[0].type, GPU_PT_TRIANGLELIST);
  EXPECT_EQ(draws[0].sampler_states[0][GPU_SAMP_MAGFILTER], static_cast<uint32_t>(GPU_FILTER_POINT));

  // A run of 5,000 (the pool holds 4,096 tasks, so 1,000 sprites appear five
  // times) splits after 4,096 quads.
  std::vector<Task*> run;
  for (int i = 0; i < 1000; ++i) {
    run.push_back(sprite2d_create_texture(1, tex, kRed, static_cast<float>(i % 300), 100, 0, 0, 1, 1, 20));
  }
  for (int k = 1; k < 5; ++k) run.insert(run.end(), run.begin(), run.begin() + 1000);
  ASSERT_EQ(run.size(), 5000u);
  gpu_begin_scene(gfx_device());
  sprite2d_draw_batch(run.data(), static_cast<int>(run.size()));
  gpu_end_scene(gfx_device());
  gfx_present();
  size_t n = 0;
  const GpuTraceDraw* traced = gpu_trace_last_frame(gfx_device(), &n);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(traced[0].primitive_count, 2u * 4096u);
  EXPECT_EQ(traced[1].primitive_count, 2u * 904u);
}

TEST_F(OverlayGlTest, StateChangesBreakBatches) {
  const AssetHandle a = make_texture("a", kRed);
  const AssetHandle b = make_texture("b", kGreen);
  for (int i = 0; i < 10; ++i) sprite2d_draw_texture(1, i % 2 ? a : b, 0xFFFFFFFFu, 10.0f * i, 10, 0, 0, 1, 1, 20);
  EXPECT_EQ(frame().size(), 10u);

  // Scale (2, 1) switches to linear filtering and starts a new batch.
  sprite2d_draw_texture(1, a, 0xFFFFFFFFu, 10, 10, 0, 0, 1, 1, 20);
  sprite2d_draw_texture(1, a, 0xFFFFFFFFu, 30, 10, 0, 0, 2, 1, 20);
  sprite2d_draw_texture(1, a, 0xFFFFFFFFu, 50, 10, 0, 0, 2, 1, 20);
  std::vector<GpuTraceDraw> draws = frame();
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0].sampler_states[0][GPU_SAMP_MAGFILTER], static_cast<uint32_t>(GPU_FILTER_LINEAR));
  EXPECT_EQ(draws[1].sampler_states[0][GPU_SAMP_MAGFILTER], static_cast<uint32_t>(GPU_FILTER_POINT));

  // A turned sprite at scale 1 is filtered as well; a sprite's own filter
  // mode wins over its scale. Both stages sample with the sprite's filter,
  // also when only the filter changes between them.
  Task* forced = sprite2d_draw_texture(1, a, 0xFFFFFFFFu, 30, 10, 0, 0, 2, 1, 20);
  sprite2d_set_sampler_mode(forced, 0);
  Task* turned = sprite2d_draw_texture(1, a, 0xFFFFFFFFu, 10, 10, 0, 0, 1, 1, 20);
  sprite2d_set_angle(turned, 0.3f);
  sprite2d_bind_texture1(forced, b);
  sprite2d_bind_texture1(turned, b);
  draws = frame();  // newest first: the turned sprite, then the forced one
  ASSERT_EQ(draws.size(), 2u);
  for (int stage = 0; stage < 2; ++stage) {
    for (GpuSamplerState f : {GPU_SAMP_MAGFILTER, GPU_SAMP_MINFILTER}) {
      EXPECT_EQ(draws[0].sampler_states[stage][f], static_cast<uint32_t>(GPU_FILTER_LINEAR)) << stage;
      EXPECT_EQ(draws[1].sampler_states[stage][f], static_cast<uint32_t>(GPU_FILTER_POINT)) << stage;
    }
  }

  // A run leaves blend pair 1, stage 1 off and linear, and every stage
  // without its texture behind.
  Task* mixed[2] = {sprite2d_draw_texture(1, a, 0xFFFFFFFFu, 10, 10, 0, 0, 1, 1, 20),
                    sprite2d_draw_texture(1, b, 0xFFFFFFFFu, 10, 10, 0, 0, 1, 1, 20)};
  sprite2d_set_blend(mixed[1], 3);
  sprite2d_bind_texture1(mixed[1], a);
  sprite2d_set_sampler_mode(mixed[1], 0);
  GpuDevice* d = gfx_device();
  gpu_begin_scene(d);
  sprite2d_draw_batch(mixed, 2);
  gpu_end_scene(d);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_SRCBLEND), uint32_t(GPU_BLEND_SRCALPHA));
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_DESTBLEND), uint32_t(GPU_BLEND_INVSRCALPHA));
  EXPECT_EQ(gpu_get_stage_state(d, 1, GPU_TSS_COLOROP), uint32_t(GPU_TOP_DISABLE));
  EXPECT_EQ(gpu_get_stage_state(d, 1, GPU_TSS_ALPHAOP), uint32_t(GPU_TOP_DISABLE));
  EXPECT_EQ(gpu_get_sampler_state(d, 1, GPU_SAMP_MINFILTER), uint32_t(GPU_FILTER_LINEAR));
  EXPECT_EQ(gpu_get_sampler_state(d, 1, GPU_SAMP_MAGFILTER), uint32_t(GPU_FILTER_LINEAR));
  const std::pair<GpuStageState, uint32_t> stage1[] = {{GPU_TSS_COLORARG1, GPU_TA_TEXTURE},
                                                       {GPU_TSS_COLORARG2, GPU_TA_DIFFUSE},
                                                       {GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE},
                                                       {GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE}};
  for (const auto& [s, want] : stage1) EXPECT_EQ(gpu_get_stage_state(d, 1, s), want) << s;
  EXPECT_EQ(gpu_get_texture(d, 0), gfx_white_texture()->texture);
  EXPECT_EQ(gpu_get_texture(d, 1), nullptr);
  gfx_present();
  tasks_reap_marked();

  // A sprite with a shader selector draws alone, also beside one of the same
  // selector; blend changes split.
  for (int i = 0; i < 2; ++i) sprite2d_set_shader(sprite2d_draw_rect(1, kRed, 0, 0, 4, 4, 0, 0, 1, 1, 20), 3, nullptr, 0);
  sprite2d_draw_rect(1, kRed, 0, 0, 4, 4, 0, 0, 1, 1, 20);
  sprite2d_draw_rect(1, kRed, 0, 0, 4, 4, 0, 0, 1, 1, 20);
  Task* additive = sprite2d_draw_rect(1, kRed, 0, 0, 4, 4, 0, 0, 1, 1, 20);
  sprite2d_set_blend(additive, 3);
  draws = frame();
  ASSERT_EQ(draws.size(), 4u);  // list order is newest first: additive, the two plain, two shaded
  EXPECT_EQ(draws[0].render_states[GPU_RS_DESTBLEND], static_cast<uint32_t>(GPU_BLEND_ONE));
  EXPECT_EQ(draws[1].primitive_count, 4u);
  EXPECT_EQ(draws[1].render_states[GPU_RS_DESTBLEND], static_cast<uint32_t>(GPU_BLEND_INVSRCALPHA));
}

TEST_F(OverlayGlTest, ClipRectanglesScissorTheirSpriteOnly) {
  // Newest first in the list: the plain sprite is made first so it draws last.
  sprite2d_draw_rect(1, kGreen, 100, 100, 40, 40, 0, 0, 1, 1, 20);
  Task* clipped = sprite2d_draw_rect(1, kRed, 10, 10, 40, 40, 0, 0, 1, 1, 20);
  sprite2d_set_clip_rect(clipped, 10, 10, 20, 20);
  Task* negative = sprite2d_draw_rect(1, kBlue, 200, 10, 40, 40, 0, 0, 1, 1, 20);
  sprite2d_set_clip_rect(negative, 200, 10, -5, 20);
  const std::vector<GpuTraceDraw> draws = frame();
  ASSERT_EQ(draws.size(), 3u);
  EXPECT_EQ(pixel(15, 15), kRed);
  EXPECT_EQ(pixel(35, 35), kClear);
  EXPECT_EQ(pixel(235, 45), kBlue);    // a negative clip width is no clip
  EXPECT_EQ(pixel(135, 135), kGreen);  // the saved scissor again
  EXPECT_EQ(draws[1].scissor.right, 30);
  EXPECT_EQ(draws[2].scissor.right, kWidth);

  // A run that ends with a clipped sprite gives the scissor back too: the
  // next layer's sprite is drawn whole.
  Task* last = sprite2d_draw_rect(1, kRed, 10, 10, 40, 40, 0, 0, 1, 1, 21);
  sprite2d_set_clip_rect(last, 10, 10, 20, 20);
  sprite2d_draw_rect(1, kGreen, 100, 100, 40, 40, 0, 0, 1, 1, 20);
  frame();
  EXPECT_EQ(pixel(135, 135), kGreen);
  EXPECT_EQ(gpu_get_scissor_rect(gfx_device()).right, kWidth);
}

TEST_F(OverlayGlTest, PivotAndRotationLandOnTheirPixels) {
  // Pivot (0.5, 0.5), 100 x 50 at (200, 100): corners at x 149.5 and 249.5,
  // y 74.5 and 124.5, so pixels 150..249 by 75..124.
  sprite2d_draw_rect(1, kRed, 200, 100, 100, 50, 0.5f, 0.5f, 1, 1, 20);
  frame();
  EXPECT_EQ(pixel(150, 75), kRed);
  EXPECT_EQ(pixel(249, 124), kRed);
  EXPECT_EQ(pixel(149, 100), kClear);
  EXPECT_EQ(pixel(250, 100), kClear);
  EXPECT_EQ(pixel(200, 74), kClear);
  EXPECT_EQ(pixel(200, 125), kClear);

  // A quarter turn stands it upright: pixels 175..224 by 50..149.
  Task* turned = sprite2d_draw_rect(1, kGreen, 200, 100, 100, 50, 0.5f, 0.5f, 1, 1, 20);
  sprite2d_set_angle(turned, 1.5707964f);
  frame();
  EXPECT_EQ(pixel(176, 51), kGreen);
  EXPECT_EQ(pixel(223, 148), kGreen);
  EXPECT_EQ(pixel(172, 100), kClear);
  EXPECT_EQ(pixel(228, 100), kClear);
  EXPECT_EQ(pixel(200, 46), kClear);
}

TEST_F(OverlayGlTest, CropsGiveTheSpriteItsSizeAndCornersMirroredOrNot) {
  // A sheet wider than tall, so widths and heights cannot stand in for each other.
  const AssetHandle sheet = create_texture("ovl", "sheet", 64, 32, 0);
  ASSERT_NE(sheet, 0u);
  const AssetHandle crop = register_crop_of_texture("ovl", "part", 16, 8, 32, 16, sheet);
  ASSERT_NE(crop, 0u);
  struct Case {
    const char* what;
    int32_t x, y, w, h;                // pixels of the crop
    float left, top, right, bottom;    // expected corner UVs
  } cases[] = {
      {"half size", 16, 8, 32, 16, 0.25f, 0.25f, 0.75f, 0.75f},
      {"mirrored", 48, 8, -32, 16, 0.75f, 0.25f, 0.25f, 0.75f},
      {"flipped", 16, 24, 32, -16, 0.25f, 0.75f, 0.75f, 0.25f},
      {"both", 48, 24, -32, -16, 0.75f, 0.75f, 0.25f, 0.25f},
      {"quarter, off the origin", 32, 16, 16, 8, 0.5f, 0.5f, 0.75f, 0.75f},
  };
  // Binding the whole texture gives the sprite its size and the full UVs back.
  Task* whole = sprite2d_draw_rect(3, 0xFFFFFFFFu, 0, 0, 5, 5, 0, 0, 1, 1, 20);
  sprite2d_set_uv_rect(whole, 0.1f, 0.2f, 0.3f, 0.4f);
  sprite2d_bind_texture(whole, sheet);
  EXPECT_EQ(sprite2d_get_width(whole), 64.0f);
  EXPECT_EQ(sprite2d_get_height(whole), 32.0f);
  EXPECT_EQ(sprite2d_data(whole)->uv0[0].x, 0.0f);
  EXPECT_EQ(sprite2d_data(whole)->uv0[3].y, 1.0f);
  EXPECT_EQ(sprite2d_get_texture(whole), sheet);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    set_crop_pixels(crop, c.x, c.y, c.w, c.h, sheet);
    Task* t = sprite2d_draw_crop(3, crop, 0xFFFFFFFFu, 0, 0, 0, 0, 1, 1, 20);
    ASSERT_NE(t, nullptr);
    sprite2d_bind_crop1(t, crop);
    const SpriteData* s = sprite2d_data(t);
    EXPECT_EQ(sprite2d_get_width(t), static_cast<float>(std::abs(c.w)));
    EXPECT_EQ(s->height, static_cast<float>(std::abs(c.h)));
    EXPECT_EQ(s->texture0, sheet);
    EXPECT_EQ(s->texture1, sheet);
    for (const Vec2* uv : {s->uv0, s->uv1}) {
      EXPECT_FLOAT_EQ(uv[0].x, c.left);
      EXPECT_FLOAT_EQ(uv[0].y, c.top);
      EXPECT_FLOAT_EQ(uv[1].x, c.right);
      EXPECT_FLOAT_EQ(uv[1].y, c.top);
      EXPECT_FLOAT_EQ(uv[2].x, c.left);
      EXPECT_FLOAT_EQ(uv[2].y, c.bottom);
      EXPECT_FLOAT_EQ(uv[3].x, c.right);
      EXPECT_FLOAT_EQ(uv[3].y, c.bottom);
    }
  }
}

TEST_F(OverlayGlTest, LinesBatchByBlendAndSitOnTheirCoordinates) {
  for (int i = 0; i < 300; ++i) line2d_draw(1, 0, 10, kRed, 100, 10, kRed, 16);
  std::vector<GpuTraceDraw> draws = frame();
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].type, GPU_PT_LINELIST);
  EXPECT_EQ(draws[0].primitive_count, 300u);
  EXPECT_EQ(pixel(50, 10), kRed);
  EXPECT_EQ(pixel(50, 11), kClear);

  // Two colours run from the first point to the second: red at the start,
  // blue at the last pixel drawn (x 99; a line leaves out its end pixel).
  line2d_draw(1, 0, 60, kRed, 100, 60, kBlue, 16);
  frame();
  EXPECT_EQ(pixel(0, 60), kRed);
  EXPECT_LT(pixel(99, 60) >> 16 & 0xFF, 0x10u);
  EXPECT_GT(pixel(99, 60) & 0xFF, 0xEFu);
  EXPECT_EQ(pixel(100, 60), kClear);

  for (int i = 0; i < 4; ++i) line2d_set_blend(line2d_draw(1, 0, 20, kRed, 100, 20, kRed, 16), i % 2 ? 1 : 3);
  EXPECT_EQ(frame().size(), 4u);

  // Lines draw untextured, whatever an earlier draw left on stage 0.
  Task* plain = line2d_draw(1, 0, 10, kRed, 100, 10, kRed, 16);
  const AssetHandle green = make_texture("stale", kGreen);
  gpu_begin_scene(gfx_device());
  gfx_clear(5, kClear);
  gfx_bind_texture(gfx_device(), 0, get_texture_object(green), 1);
  line2d_draw_batch(&plain, 1);
  pixels_ = read_back();
  gpu_end_scene(gfx_device());
  gfx_present();
  tasks_reap_marked();
  EXPECT_EQ(pixel(50, 10), kRed);

  // A run of 4,097 (the pool's tasks repeated) splits after 4,096 lines and
  // triangles.
  std::vector<Task*> lines, tris;
  for (int i = 0; i < 2; ++i) lines.push_back(line2d_draw(1, 0, 40, kRed, 100, 40, kRed, 16));
  for (int i = 0; i < 2; ++i) tris.push_back(tri2d_draw(1, 0, 0, kRed, 1, 0, kRed, 0, 1, kRed, 16));
  std::vector<Task*> line_run(4097, lines[0]), tri_run(4097, tris[0]);
  line_run.back() = lines[1];
  tri_run.back() = tris[1];
  gpu_begin_scene(gfx_device());
  line2d_draw_batch(line_run.data(), 4097);
  tri2d_draw_batch(tri_run.data(), 4097);
  gpu_end_scene(gfx_device());
  gfx_present();
  tasks_reap_marked();
  size_t n = 0;
  const GpuTraceDraw* split = gpu_trace_last_frame(gfx_device(), &n);
  ASSERT_EQ(n, 4u);
  EXPECT_EQ(split[0].primitive_count, 4096u);
  EXPECT_EQ(split[1].primitive_count, 1u);
  EXPECT_EQ(split[2].type, GPU_PT_TRIANGLELIST);
  EXPECT_EQ(split[2].primitive_count, 4096u);
  EXPECT_EQ(split[3].primitive_count, 1u);

  Task* weird = line2d_draw(1, 0, 30, kRed, 100, 30, kRed, 16);
  line2d_set_blend(weird, 12);  // draws with pair 0 (ONE, ZERO)
  tri2d_draw(1, 10, 100, kBlue, 60, 100, kBlue, 10, 150, kBlue, 16);
  draws = frame();
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0].type, GPU_PT_TRIANGLELIST);  // type 2 sorts before type 1
  EXPECT_EQ(draws[0].render_states[GPU_RS_FOGENABLE], 0u);
  EXPECT_EQ(draws[1].render_states[GPU_RS_SRCBLEND], static_cast<uint32_t>(GPU_BLEND_ONE));
  EXPECT_EQ(draws[1].render_states[GPU_RS_DESTBLEND], static_cast<uint32_t>(GPU_BLEND_ZERO));
  EXPECT_EQ(pixel(20, 110), kBlue);
}

TEST_F(OverlayGlTest, EachRunSetsItsOwnStatesOverWhatAnEarlierDrawLeft) {
  const AssetHandle white = make_texture("glyphs", 0xFFFFFFFFu);
  ASSERT_NE(register_crop_of_texture("ovl", "f_0000", 0, 0, 8, 8, white), 0u);
  Task* text = text_create(1, "ovl", "f", 33, kGreen, 20, 100, 1, 1, 0, 20);
  text_set_string(text, "!");
  // Blend 0 (ONE, ZERO) is not the pair the text run starts from: the first
  // text of a run must set it, or it is blended over what lies behind.
  Task* opaque_text = text_create(1, "ovl", "f", 33, kGreen, 20, 100, 1, 1, 0, 20);
  text_set_string(opaque_text, "!");
  text_set_blend(opaque_text, 0);
  Task* line = line2d_draw(1, 0, 10, kRed, 100, 10, kRed, 16);
  Task* tri = tri2d_draw(1, 0, 0, kRed, 9, 0, kRed, 0, 9, kRed, 16);
  Task* sprite = sprite2d_draw_texture(1, white, 0xFFFFFFFFu, 10, 10, 0, 0, 1, 1, 20);
  const struct {
    const char* what;
    void (*draw)(Task* const*, int);
    Task* task;
    uint32_t stage1_op;  // 0: untextured
    int blend;           // the blend pair index it draws with
  } runs[] = {{"line", line2d_draw_batch, line, 0, 1},
              {"triangle", tri2d_draw_batch, tri, 0, 1},
              {"sprite", sprite2d_draw_batch, sprite, GPU_TOP_MODULATE, 1},
              {"text", text_draw_batch, text, GPU_TOP_DISABLE, 1},
              {"text with blend 0", text_draw_batch, opaque_text, GPU_TOP_DISABLE, 0}};
  // The alpha test is the textured runs' own: lines and triangles leave it be.
  const LeftState states[] = {
      {GPU_RS_ALPHABLENDENABLE, 0, 1},
      {GPU_RS_SRCBLEND, GPU_BLEND_ONE, GPU_BLEND_SRCALPHA},
      {GPU_RS_DESTBLEND, GPU_BLEND_ZERO, GPU_BLEND_INVSRCALPHA},
      {GPU_RS_ZWRITEENABLE, 1, 0},
      {GPU_RS_ZFUNC, GPU_CMP_LESS, GPU_CMP_ALWAYS},
      {GPU_RS_CULLMODE, GPU_CULL_CW, GPU_CULL_NONE},
      {GPU_RS_FILLMODE, GPU_FILL_WIREFRAME, GPU_FILL_SOLID},
      {GPU_RS_FOGENABLE, 1, 0},
      {GPU_RS_LIGHTING, 1, 0},
  };
  GpuDevice* d = gfx_device();
  for (const auto& r : runs) {
    gpu_begin_scene(d);
    leave_states(d, states);
    gpu_set_render_state(d, GPU_RS_ALPHATESTENABLE, 1);
    r.draw(&r.task, 1);
    gpu_end_scene(d);
    gfx_present();
    size_t n = 0;
    const GpuTraceDraw* draw = gpu_trace_last_frame(d, &n);
    ASSERT_EQ(n, 1u) << r.what;
    LeftState wanted[std::size(states)];
    std::copy(std::begin(states), std::end(states), wanted);
    const GfxBlendPair pair = gfx_blend_pair_by_index(r.blend);
    wanted[1].want = pair.source;
    wanted[2].want = pair.destination;
    expect_states_set(*draw, wanted, r.what);
    if (r.stage1_op == 0) continue;
    EXPECT_EQ(draw->render_states[GPU_RS_ALPHATESTENABLE], 0u) << r.what;
    expect_stage(*draw, 0, GPU_TOP_MODULATE, GPU_TA_TEXTURE, GPU_TA_DIFFUSE, r.what);
    if (r.stage1_op == GPU_TOP_MODULATE) {
      expect_stage(*draw, 1, GPU_TOP_MODULATE, GPU_TA_CURRENT, GPU_TA_TEXTURE, r.what);
    } else {
      EXPECT_EQ(draw->stage_states[1][GPU_TSS_COLOROP], r.stage1_op) << r.what;
      EXPECT_EQ(draw->stage_states[1][GPU_TSS_ALPHAOP], r.stage1_op) << r.what;
    }
  }
  tasks_reap_marked();
}

TEST_F(OverlayGlTest, TextDrawsItsShadowFirstThenItsGlyphsOnTop) {
  // A one-glyph font: crop "f_0000" (the whole white texture) draws '!'.
  const AssetHandle white = make_texture("glyphs", 0xFFFFFFFFu);
  ASSERT_NE(register_crop_of_texture("ovl", "f_0000", 0, 0, 8, 8, white), 0u);
  Task* t = text_create(1, "ovl", "f", 33, kGreen, 20, 100, 1, 1, 0, 20);
  ASSERT_NE(t, nullptr);
  text_set_height(t, 16);
  text_set_string(t, "!");
  text_set_shadow(t, 4, 6, kRed);
  const std::vector<GpuTraceDraw> draws = frame();
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0].primitive_count, 2u);
  EXPECT_EQ(draws[1].sampler_states[0][GPU_SAMP_MAGFILTER], uint32_t(GPU_FILTER_LINEAR));
  EXPECT_EQ(pixel(25, 110), kGreen) << "the glyph lies over its shadow";
  EXPECT_EQ(pixel(37, 118), kRed) << "the shadow, moved by its offset";
  EXPECT_EQ(pixel(21, 101), kGreen);
  EXPECT_EQ(pixel(22, 120), kClear);
  EXPECT_EQ(gpu_get_texture(gfx_device(), 0), gfx_white_texture()->texture) << "the glyphs' texture unbound";
}

TEST_F(OverlayGlTest, KillOwnerRemovesExactlyItsSprites) {
  const uint32_t mine = handle_alloc();
  const uint32_t other = handle_alloc();
  static int destroyed;
  destroyed = 0;
  for (int i = 0; i < 3; ++i) {
    Task* t = sprite2d_create_rect(mine, kRed, 10.0f + 20 * i, 10, 10, 10, 0, 0, 1, 1, 20);
    task_set_destroy_callback(t, [](Task*) { ++destroyed; });
  }
  sprite2d_create_rect(other, kGreen, 100, 10, 10, 10, 0, 0, 1, 1, 20);
  kill_owner(mine);
  EXPECT_EQ(destroyed, 3);
  frame();
  EXPECT_EQ(pixel(15, 15), kClear);
  EXPECT_EQ(pixel(105, 15), kGreen);
}

}  // namespace
