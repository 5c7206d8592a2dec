// Screen quads drawn through the real device on a hidden window and read
// back: texture coordinates, the viewport and its shake, eight-tap offsets,
// the frame outline and the states each draw leaves behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "assets/textures.h"
#include "platform/gpu/gpu.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/graphics/graphics.h"
#include "render/overlay2d/screen_quads.h"
#include "render/view/view_state.h"

namespace {

constexpr int kW = 160, kH = 120;
constexpr uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu, kWhite = 0xFFFFFFFFu;
constexpr uint32_t kClear = 0xFF000000u;

class ScreenQuads : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("quad test", kW, kH, nullptr);
    ASSERT_NE(window, nullptr);
    const int layout[5] = {kW, kH, kW, kH, 0};
    gfx_init(window, 0, kW, kH, 32, layout);
    gpu_trace_enable(gfx_device(), true);
    // Quadrants: red top left, green top right, blue bottom left, white bottom right.
    quadrants = create_texture("quads", "quadrants", 2, 2, 0);
    const uint32_t texels[4] = {kRed, kGreen, kBlue, kWhite};
    ASSERT_TRUE(write_texture_pixels(quadrants, 0, 0, 2, 2, texels));
    begin();
  }
  void TearDown() override {
    gpu_end_scene(gfx_device());
    unregister_texture(quadrants);
    gfx_shutdown();
    window_destroy(window);
    window_system_shutdown();
  }

  void begin() {
    gpu_begin_scene(gfx_device());
    gfx_set_viewport(-1);
    gfx_set_scissor(-1);
    gfx_clear(5, kClear);
  }
  uint32_t pixel(int x, int y) {
    GpuSurface* bb = nullptr;
    uint32_t px = 0;
    EXPECT_EQ(gpu_get_render_target(gfx_device(), 0, &bb), GPU_OK);
    EXPECT_EQ(gpu_read_surface(gfx_device(), bb, GpuRect{x, y, x + 1, y + 1}, &px), GPU_OK);
    gpu_surface_release(bb);
    return px | 0xFF000000u;
  }
  const GpuTraceDraw& last_draw() {
    size_t n = 0;
    const GpuTraceDraw* d = gpu_trace_current_frame(gfx_device(), &n);
    EXPECT_GT(n, 0u);
    return d[n - 1];
  }
  QuadStates opaque(AssetHandle texture) const {
    // No depth, always pass, no blending, no alpha test, point filter, fixed function.
    return QuadStates{texture, 0, kWhite, 0, 7, 0, 5, 0, 0, nullptr};
  }
  uint32_t state(GpuRenderState s) { return gpu_get_render_state(gfx_device(), s); }
  void expect_cache_invalidated() {
    EXPECT_EQ(gfx_preset_blend(), -1);
    EXPECT_EQ(gfx_preset_alpha_ref(), -1);
  }

  PlatformWindow* window = nullptr;
  AssetHandle quadrants = 0;
};

TEST_F(ScreenQuads, TextureCoordinatesFollowTheTargetOrTheFullTextureFlag) {
  struct Case {
    float x, y, w, h;
    bool full;
    uint32_t top_left, top_right, bottom_left, bottom_right;
  } cases[] = {
      // The whole target without the flag maps 0..1 too.
      {0, 0, kW, kH, false, kRed, kGreen, kBlue, kWhite},
      // The top-left quarter without the flag shows the top-left texel only.
      {0, 0, kW / 2, kH / 2, false, kRed, kRed, kRed, kRed},
      // The bottom-right quarter with the flag shows the whole texture,
      // without it the bottom-right texel.
      {kW / 2, kH / 2, kW / 2, kH / 2, true, kRed, kGreen, kBlue, kWhite},
      {kW / 2, kH / 2, kW / 2, kH / 2, false, kWhite, kWhite, kWhite, kWhite},
  };
  for (const Case& c : cases) {
    gfx_clear(5, kClear);
    ASSERT_TRUE(gfx_draw_quad(c.x, c.y, c.w, c.h, opaque(quadrants), c.full));
    const int x0 = int(c.x) + 2, y0 = int(c.y) + 2, x1 = int(c.x + c.w) - 3, y1 = int(c.y + c.h) - 3;
    EXPECT_EQ(pixel(x0, y0), c.top_left) << c.x << "," << c.full;
    EXPECT_EQ(pixel(x1, y0), c.top_right) << c.x << "," << c.full;
    EXPECT_EQ(pixel(x0, y1), c.bottom_left) << c.x << "," << c.full;
    EXPECT_EQ(pixel(x1, y1), c.bottom_right) << c.x << "," << c.full;
    if (c.w < kW) {
      EXPECT_EQ(pixel(c.x > 0 ? 2 : kW - 2, c.y > 0 ? 2 : kH - 2), kClear);
    }
    expect_cache_invalidated();
  }

  // A target one pixel wide still maps its rows: a column over its top half
  // samples the texture's top row only.
  const DepthSurfaceObject kept = *gfx_current_target_record();
  gfx_set_current_target_record(DepthSurfaceObject{kept.surface, 1, kH, kept.format, kept.bits});
  gfx_clear(5, kClear);
  ASSERT_TRUE(gfx_draw_quad(0, 0, 1, kH / 2, opaque(quadrants), false));
  gfx_set_current_target_record(kept);
  const uint32_t top = pixel(0, 2);
  EXPECT_TRUE(top == kRed || top == kGreen) << std::hex << top;
  EXPECT_EQ(pixel(0, kH / 2 - 3), top);
}

TEST_F(ScreenQuads, TheSecondTextureReadsTheSecondCoordinatePair) {
  // Stage 1 shows its own texture: the second pair runs -1..1 across the
  // quad, so the (wrapping) texture repeats twice across it.
  GpuDevice* d = gfx_device();
  gpu_set_stage_state(d, 1, GPU_TSS_COLOROP, GPU_TOP_SELECTARG1);
  gpu_set_stage_state(d, 1, GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
  QuadStates s = opaque(0);
  s.texture1 = quadrants;
  ASSERT_TRUE(gfx_draw_quad(0, 0, 80, 40, s, false));
  gpu_set_stage_state(d, 1, GPU_TSS_COLOROP, GPU_TOP_DISABLE);
  EXPECT_EQ(pixel(5, 5), kRed);
  EXPECT_EQ(pixel(25, 5), kGreen) << "three eighths across: u = -0.25, the right half";
  EXPECT_EQ(pixel(45, 5), kRed) << "the second repeat";
  EXPECT_EQ(pixel(25, 15), kWhite);
}

TEST_F(ScreenQuads, AlphaTestIsOnlyTouchedWithAnAlphaReference) {
  // Index 5 (no reference): off during the draw and after it.
  ASSERT_TRUE(gfx_draw_quad(0, 0, 8, 8, opaque(quadrants), true));
  EXPECT_EQ(last_draw().render_states[GPU_RS_ALPHATESTENABLE], 0u);
  EXPECT_EQ(last_draw().render_states[GPU_RS_ALPHABLENDENABLE], 1u);
  EXPECT_EQ(state(GPU_RS_ALPHATESTENABLE), 0u);
  // Any other index tests during the draw and turns the test off after it.
  QuadStates s = opaque(quadrants);
  s.alpha_ref_index = 0;
  ASSERT_TRUE(gfx_draw_quad(0, 0, 8, 8, s, true));
  EXPECT_EQ(last_draw().render_states[GPU_RS_ALPHATESTENABLE], 1u);
  EXPECT_EQ(state(GPU_RS_ALPHATESTENABLE), 0u);
  expect_cache_invalidated();
}

TEST_F(ScreenQuads, AnIdWithoutATextureLeavesTheStageAsItWas) {
  const AssetHandle green = create_texture("quads", "green", 1, 1, 0);
  ASSERT_TRUE(write_texture_pixels(green, 0, 0, 1, 1, &kGreen));
  gfx_bind_texture(gfx_device(), 0, get_texture_object(green), 0);
  ASSERT_TRUE(gfx_draw_quad(10, 10, 20, 20, opaque(0x7FFF1234u), true));
  EXPECT_EQ(pixel(20, 20), kGreen);
  // The draw unbinds every stage afterwards: white shows through now.
  ASSERT_TRUE(gfx_draw_quad(40, 10, 20, 20, opaque(0x7FFF1234u), true));
  EXPECT_EQ(pixel(50, 20), kWhite);
  unregister_texture(green);
}

TEST_F(ScreenQuads, CornerCoordinatesAndTheViewport) {
  // Mirrored left to right.
  const float mirror[8] = {1, 0, 0, 0, 1, 1, 0, 1};
  ASSERT_TRUE(gfx_draw_quad_uv(0, 0, kW, kH, mirror, opaque(quadrants)));
  EXPECT_EQ(pixel(5, 5), kGreen);
  EXPECT_EQ(pixel(kW - 5, kH - 5), kBlue);

  gfx_clear(5, kClear);
  gfx_set_viewport_rect(40, 30, 80, 60);
  ASSERT_TRUE(gfx_draw_quad_uv_in_viewport(mirror, opaque(quadrants)));
  gfx_set_viewport(-1);
  EXPECT_EQ(pixel(45, 35), kGreen);
  EXPECT_EQ(pixel(35, 35), kClear);

  gfx_clear(5, kClear);
  gfx_set_viewport_rect(40, 30, 80, 60);
  ASSERT_TRUE(gfx_draw_quad_in_viewport(opaque(quadrants), true));
  gfx_set_viewport(-1);
  EXPECT_EQ(pixel(42, 32), kRed);
  EXPECT_EQ(pixel(117, 87), kWhite);
  EXPECT_EQ(pixel(38, 32), kClear);

  // The viewport quad, moved by view 0's shake offset when asked.
  view_state(0)->camera.shake_offset_x = 20.0f;
  view_state(0)->camera.shake_offset_y = 10.0f;
  for (bool shake : {false, true}) {
    gfx_clear(5, kClear);
    gfx_set_viewport_rect(40, 30, 80, 60);
    ASSERT_TRUE(gfx_draw_viewport_quad(0, opaque(quadrants), true, shake));
    gfx_set_viewport(-1);
    // The quad's top-left corner: at (40, 30), or at (60, 40) when shaken
    // (cut at the viewport's right and bottom).
    EXPECT_EQ(pixel(shake ? 61 : 41, shake ? 41 : 31), kRed) << shake;
    EXPECT_EQ(pixel(45, 35), shake ? kClear : kRed) << shake;
    EXPECT_EQ(pixel(65, 35), shake ? kClear : kRed) << "moved down as well: " << shake;
  }
  view_state(0)->camera.shake_offset_x = 0.0f;
  view_state(0)->camera.shake_offset_y = 0.0f;
}

TEST_F(ScreenQuads, EightTapOffsetsMoveTheFirstCoordinateSet) {
  float taps[16] = {};
  ASSERT_TRUE(gfx_draw_quad_8tap(0, 0, kW, kH, taps, opaque(quadrants), true));
  EXPECT_EQ(pixel(5, 5), kRed);
  EXPECT_EQ(pixel(kW - 5, 5), kGreen);
  EXPECT_EQ(last_draw().render_states[GPU_RS_ALPHATESTENABLE], 0u);
  EXPECT_EQ(last_draw().render_states[GPU_RS_ZWRITEENABLE], 0u);
  expect_cache_invalidated();

  // With the half-pixel shift each of four pixels samples its own texel's
  // centre, so linear filtering shows the texels unmixed.
  const AssetHandle row = create_texture("quads", "row", 4, 1, 0);
  const uint32_t texels[4] = {kRed, kGreen, kBlue, kWhite};
  ASSERT_TRUE(write_texture_pixels(row, 0, 0, 4, 1, texels));
  QuadStates linear = opaque(row);
  linear.filter_index = 1;
  gfx_clear(5, kClear);
  ASSERT_TRUE(gfx_draw_quad_8tap(10, 10, 4, 1, taps, linear, true));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pixel(10 + i, 10), texels[i]) << i;
  unregister_texture(row);

  // Half a texture across: the columns swap (the texture wraps).
  taps[0] = 0.5f;
  gfx_clear(5, kClear);
  gfx_set_viewport_rect(0, 0, kW, kH);
  ASSERT_TRUE(gfx_draw_quad_8tap_in_viewport(taps, opaque(quadrants), true));
  EXPECT_EQ(pixel(5, 5), kGreen);
  EXPECT_EQ(pixel(kW - 5, kH - 5), kBlue);
}

TEST_F(ScreenQuads, FrameRectDrawsFourBarsAndBlendsOnlyWhenTranslucent) {
  struct Case {
    uint32_t colour;
    uint32_t blend_source;
    uint32_t edge;
  } cases[] = {
      {kRed, GPU_BLEND_ONE, kRed},
      {0x80FF0000u, GPU_BLEND_SRCALPHA, 0xFF800000u},
  };
  // A texture an earlier draw left on stage 0 does not tint the bars.
  const AssetHandle green = create_texture("quads", "green", 1, 1, 0);
  ASSERT_TRUE(write_texture_pixels(green, 0, 0, 1, 1, &kGreen));
  for (const Case& c : cases) {
    gfx_clear(5, kClear);
    gfx_bind_texture(gfx_device(), 0, get_texture_object(green), 0);
    gfx_draw_frame_rect(20, 20, 100, 60, 4, c.colour);
    const GpuTraceDraw& d = last_draw();
    EXPECT_EQ(d.primitive_count, 8u);
    EXPECT_EQ(d.vertex_count, 16u);
    EXPECT_EQ(d.render_states[GPU_RS_SRCBLEND], c.blend_source);
    const uint32_t edges[4] = {pixel(60, 21), pixel(60, 78), pixel(21, 50), pixel(118, 50)};
    for (uint32_t e : edges) {
      EXPECT_NEAR(double((e >> 16) & 0xFF), double((c.edge >> 16) & 0xFF), 2.0) << std::hex << c.colour;
      EXPECT_EQ(e & 0xFFFFu, 0u);
    }
    EXPECT_EQ(pixel(60, 50), kClear) << "inside stays clear";
    EXPECT_EQ(pixel(60, 25), kClear) << "below the top bar";
    EXPECT_EQ(pixel(19, 50), kClear) << "outside";
    expect_cache_invalidated();
  }
  unregister_texture(green);
}

}  // namespace
