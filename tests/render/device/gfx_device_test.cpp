// The engine's device on the real layer: creation fallbacks, recovery from
// a lost device, clears, viewport and scissor helpers, blend pairs and
// compare functions, texture objects and the stage cache.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "assets/device_bindings.h"
#include "assets/textures.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/graphics/graphics.h"

namespace {

constexpr int kW = 64, kH = 48;
std::string calls;

void record_lost() { calls += "L"; }
void record_reset() { calls += "R"; }
void record_restyle() { calls += "W"; }

class GfxTest : public ::testing::Test {
 protected:
  void SetUp() override { start(nullptr); }
  void TearDown() override { stop(); }

  void start(const GpuAdapterOverride* adapter, bool expect_ok = true) {
    ASSERT_TRUE(window_system_init());
    window = window_create("gfx test", kW, kH, nullptr);
    ASSERT_NE(window, nullptr);
    gpu_debug_override_adapter(adapter);
    const int layout[5] = {kW, kH, kW, kH, 0};
    view_set_screen(kW, kH, layout);
    calls.clear();
    GfxDeviceParams p{window, kW, kH, 32, 0, 0, record_lost, record_reset};
    gfx_install_device_hooks();
    gfx_device_set_restyle_hook(record_restyle);
    ok = gfx_device_init(p) == 1;
    ASSERT_EQ(ok, expect_ok);
  }

  void stop() {
    if (ok) gfx_device_shutdown();
    ok = false;
    gfx_device_set_restyle_hook(nullptr);
    gpu_debug_override_adapter(nullptr);
    window_destroy(window);
    window_system_shutdown();
  }

  void restart(const GpuAdapterOverride* adapter, bool expect_ok = true) {
    stop();
    start(adapter, expect_ok);
  }

  // A sprite-state quad over pixels [x, x + w) x [y, y + h) at depth z.
  void quad(int x, int y, int w, int h, uint32_t argb, float z = 0) {
    GpuDevice* d = gfx_device();
    ScreenVertex v[4];
    float l = float(x) - 0.5f, t = float(y) - 0.5f, r = float(x + w) - 0.5f, b = float(y + h) - 0.5f;
    v[0] = {l, t, z, 1, argb, 0, 0, 0, 0};
    v[1] = {r, t, z, 1, argb, 1, 0, 1, 0};
    v[2] = {l, b, z, 1, argb, 0, 1, 0, 1};
    v[3] = {r, b, z, 1, argb, 1, 1, 1, 1};
    gpu_set_fvf(d, kScreenVertexFvf);
    ASSERT_EQ(gpu_draw_indexed_primitive_up(d, GPU_PT_TRIANGLELIST, 0, 4, 2, gfx_index_scratch(), GPU_FMT_INDEX16, v,
                                            sizeof(ScreenVertex)),
              GPU_OK);
  }

  void sprite_states() {
    GpuDevice* d = gfx_device();
    gpu_set_render_state(d, GPU_RS_LIGHTING, 0);
    gpu_set_render_state(d, GPU_RS_CULLMODE, GPU_CULL_NONE);
    gpu_set_stage_state(d, 0, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
    gpu_set_stage_state(d, 0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
    gpu_set_stage_state(d, 0, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
    gpu_set_stage_state(d, 0, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
    gfx_bind_texture(d, 0, nullptr, 0);
  }

  // A frame as the frame driver draws it: the scene only while the device
  // is not lost, the present always.
  void frame() {
    GfxDevice* g = gfx_device_ptr();
    if (!g->lost && gpu_begin_scene(g->device) == GPU_OK) {
      gfx_set_viewport(-1);
      gfx_clear(5, 0);
      gpu_end_scene(g->device);
    }
    gfx_present();
  }

  uint32_t pixel(int x, int y) {
    uint32_t p = 0;
    gpu_read_surface(gfx_device(), gfx_saved_back_buffer_record()->surface, GpuRect{x, y, x + 1, y + 1}, &p);
    return p;
  }

  PlatformWindow* window = nullptr;
  bool ok = false;
};

float factor(uint32_t f, const float s[4], const float d[3], int c) {
  switch (f) {
    case GPU_BLEND_ZERO: return 0;
    case GPU_BLEND_ONE: return 1;
    case GPU_BLEND_SRCCOLOR: return s[c];
    case GPU_BLEND_INVSRCCOLOR: return 1 - s[c];
    case GPU_BLEND_SRCALPHA: return s[3];
    case GPU_BLEND_INVSRCALPHA: return 1 - s[3];
    case GPU_BLEND_DESTCOLOR: return d[c];
    case GPU_BLEND_INVDESTCOLOR: return 1 - d[c];
    default: ADD_FAILURE() << "factor " << f; return 0;
  }
}

}  // namespace

TEST_F(GfxTest, StartupMakesAHardwareDeviceAndAWhiteTexture) {
  EXPECT_EQ(gfx_device_ptr()->device_type, 0);
  EXPECT_TRUE(gfx_supports_vs2());
  EXPECT_TRUE(gfx_supports_ps2());
  EXPECT_GE(gfx_max_render_targets(), 1);
  EXPECT_EQ(gfx_read_texel(gfx_white_texture(), 0, 0), 0xFFFFFFFFu);
  GpuViewport v = gfx_current_viewport();
  EXPECT_EQ(v.width, uint32_t(kW));
  EXPECT_EQ(v.height, uint32_t(kH));
  EXPECT_EQ(gfx_preset_blend(), -1);
  const GpuPresentParams& p = gfx_device_ptr()->present_params;
  EXPECT_TRUE(p.windowed);
  EXPECT_EQ(p.swap_effect, GPU_SWAP_COPY);
  EXPECT_EQ(p.presentation_interval, GPU_PRESENT_INTERVAL_IMMEDIATE);
  EXPECT_FALSE(p.auto_depth_stencil);
}

TEST_F(GfxTest, CreationFallsBackInItsFixedOrder) {
  uint32_t attempts[4];
  // Pixel shaders below 2.0: never a pure device; hardware with software
  // vertex processing first, then the reference device.
  GpuAdapterOverride ps14{0xFFFE0101u, 0xFFFF0104u, 1u << 2};
  restart(&ps14);
  ASSERT_EQ(gpu_debug_creation_attempts(attempts, 4), 2);
  EXPECT_EQ(attempts[0], uint32_t(GPU_DEVICE_HAL) << 8 | GPU_CREATE_SOFTWARE_VP);
  EXPECT_EQ(attempts[1], uint32_t(GPU_DEVICE_REF) << 8 | GPU_CREATE_SOFTWARE_VP);
  EXPECT_EQ(gfx_device_ptr()->device_type, 2);
  EXPECT_FALSE(gfx_supports_vs2());
  EXPECT_FALSE(gfx_supports_ps2());
  // Pixel shaders 2.0: the pure hardware device first.
  GpuAdapterOverride ps20{0xFFFE0200u, 0xFFFF0200u, 1u << 0};
  restart(&ps20);
  ASSERT_EQ(gpu_debug_creation_attempts(attempts, 4), 2);
  EXPECT_EQ(attempts[0], uint32_t(GPU_DEVICE_HAL) << 8 | (GPU_CREATE_HARDWARE_VP | GPU_CREATE_PURE));
  EXPECT_EQ(gfx_device_ptr()->device_type, 1);
  EXPECT_TRUE(gfx_supports_vs2());
  EXPECT_TRUE(gfx_supports_ps2());
  // Every attempt refused: no device.
  GpuAdapterOverride none{0xFFFE0200u, 0xFFFF0200u, 0x3F};
  restart(&none, false);
  EXPECT_EQ(gpu_debug_creation_attempts(attempts, 4), 3);
  EXPECT_EQ(gfx_device(), nullptr);
  EXPECT_FALSE(gfx_device_ptr()->adapter);
}

TEST_F(GfxTest, LostPresentWithoutResetSkipsOneFrame) {
  gpu_debug_lose_device(gfx_device(), GpuLossScript{0, false, 0});
  gfx_present();
  EXPECT_TRUE(gfx_device_ptr()->lost);
  gfx_request_resize(100, 100, 0);  // dropped while lost
  EXPECT_FALSE(gfx_device_ptr()->reset_request);
  EXPECT_EQ(gfx_device_ptr()->requested_width, kW);
  gpu_clear(gfx_device(), GPU_CLEAR_TARGET, 0x00FF0000u, 1, 0);
  frame();  // the scene is skipped (no clear), the frame presents again
  EXPECT_EQ(pixel(2, 2) & 0xFFFFFF, 0xFF0000u);
  EXPECT_FALSE(gfx_device_ptr()->lost);
  frame();  // drawn again
  EXPECT_EQ(pixel(2, 2) & 0xFFFFFF, 0u);
  EXPECT_EQ(calls, "");
}

TEST_F(GfxTest, ResetRunsTheCallbacksInOrderAndInvalidatesTheCaches) {
  GpuDevice* d = gfx_device();
  TextureObject t{};
  ASSERT_TRUE(gfx_create_texture(&t, 0, 4, 4));
  gfx_bind_texture(d, 1, &t, 1);
  gfx_set_render_preset(0, 0, 7, 0, 1, 2, 0, 5, 0);
  ASSERT_EQ(gpu_get_render_state(d, GPU_RS_SRCBLEND), uint32_t(GPU_BLEND_SRCALPHA));

  gpu_debug_lose_device(d, GpuLossScript{2, true, 0});
  gfx_present();  // still lost
  gfx_present();  // still lost
  EXPECT_EQ(calls, "");
  gfx_present();  // can be reset
  EXPECT_EQ(calls, "LRW") << "the window is restyled after the reset callback";
  // The device is back at its defaults, and the caches know it.
  EXPECT_EQ(gpu_get_texture(d, 1), nullptr);
  EXPECT_EQ(gfx_preset_blend(), -1);
  gfx_bind_texture(d, 1, &t, 1);
  EXPECT_EQ(gpu_get_texture(d, 1), t.texture);
  EXPECT_EQ(gpu_get_sampler_state(d, 1, GPU_SAMP_MAGFILTER), uint32_t(GPU_FILTER_LINEAR));
  gfx_set_render_preset(0, 0, 7, 0, 1, 2, 0, 5, 0);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_SRCBLEND), uint32_t(GPU_BLEND_SRCALPHA));
  gfx_bind_texture(d, 1, nullptr, 0);
  gfx_release_texture_pair(&t);
}

TEST_F(GfxTest, FailedResetIsRetriedOnTheNextFrame) {
  gpu_debug_lose_device(gfx_device(), GpuLossScript{0, true, 1});
  gfx_present();
  EXPECT_EQ(calls, "L") << "a failed reset leaves the window as it is";
  gfx_present();
  EXPECT_EQ(calls, "LLRW");
  gfx_present();
  EXPECT_FALSE(gfx_device_ptr()->lost);
}

TEST_F(GfxTest, ResizeRequestForcesAReset) {
  gfx_request_resize(0, 0, -1);
  EXPECT_TRUE(gfx_device_ptr()->reset_request);
  gfx_present();
  EXPECT_EQ(calls, "LRW");
  EXPECT_FALSE(gfx_device_ptr()->reset_request);
}

TEST_F(GfxTest, ClearLeavesOutSurfacesThatAreNotBound) {
  gfx_set_viewport(-1);
  gfx_clear(0, 0xFF000000u);
  gfx_clear(1, 0x00FF0000u);  // depth only, no depth surface: nothing
  gfx_clear(6, 0x00FF0000u);
  gfx_clear(-1, 0x00FF0000u);
  EXPECT_EQ(pixel(3, 3) & 0xFFFFFF, 0u);
  gfx_clear(5, 0x80336699u);  // colour only
  EXPECT_EQ(pixel(3, 3) & 0xFFFFFF, 0x336699u);
  // The frame's clear writes the colour's RGB with alpha 0 where the target
  // keeps alpha.
  AssetHandle rt = create_render_target_texture("t", "rt", 8, 8, 0);
  ASSERT_NE(rt, 0u);
  gfx_set_render_target(0, rt);
  gfx_clear(0, gfx_argb_with_alpha(0xFF336699u, 0));
  uint32_t p = 1;
  gpu_read_surface(gfx_device(), get_texture_object(rt)->surface, GpuRect{2, 2, 3, 3}, &p);
  EXPECT_EQ(p, 0x00336699u);
  gfx_set_render_target(0, gfx_back_buffer_target());
  EXPECT_EQ(gfx_target_width(), 0);  // the saved back-buffer record keeps no size
}

TEST_F(GfxTest, ViewportAndScissorHelpers) {
  gfx_set_viewport_rect(4, 4, 8, 8);
  gfx_set_viewport(-1);
  GpuViewport v = gfx_current_viewport();
  EXPECT_EQ(v.x, 0u);
  EXPECT_EQ(v.width, uint32_t(kW));
  EXPECT_EQ(v.min_z, 0.0f);
  EXPECT_EQ(v.max_z, 1.0f);
  gfx_set_viewport(2);  // names no view: no change
  EXPECT_EQ(gfx_current_viewport().width, uint32_t(kW));
  // Empty or negative rectangles change nothing; one pixel is a viewport.
  const int refused[][4] = {{0, 0, 0, 8}, {0, 0, 8, 0}, {-1, 0, 8, 8}, {0, -1, 8, 8}, {0, 0, -8, 8}};
  for (const auto& r : refused) {
    gfx_set_viewport_rect(r[0], r[1], r[2], r[3]);
    EXPECT_EQ(gfx_current_viewport().width, uint32_t(kW)) << r[0] << "," << r[1] << "," << r[2] << "," << r[3];
    EXPECT_EQ(gfx_current_viewport().height, uint32_t(kH));
  }
  gfx_set_viewport_rect(0, 0, 1, 1);
  EXPECT_EQ(gfx_current_viewport().width, 1u);
  EXPECT_EQ(gfx_current_viewport().height, 1u);
  gfx_set_viewport(-1);
  gfx_set_scissor_rect(3, 5, 10, 20);
  int x = 0, y = 0, w = 0, h = 0;
  gfx_get_scissor(&x, &y, &w, &h);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 5);
  EXPECT_EQ(w, 10);
  EXPECT_EQ(h, 20);
  gfx_get_scissor(nullptr, &y, nullptr, nullptr);
  AssetHandle t = create_texture("t", "big", 256, 256, 0);
  ASSERT_NE(t, 0u);
  gfx_set_scissor_texture_fraction(t, 0.25f, 0.25f, 0.5f, 0.5f);
  gfx_get_scissor(&x, &y, &w, &h);
  EXPECT_EQ(x, 64);
  EXPECT_EQ(x + w, 192);
  gfx_set_scissor(-1);
  gfx_get_scissor(&x, &y, &w, &h);
  EXPECT_EQ(w, kW);
  EXPECT_EQ(h, kH);
}

TEST_F(GfxTest, EachBlendPairBlendsAsSpecified) {
  sprite_states();
  GpuDevice* d = gfx_device();
  gpu_set_render_state(d, GPU_RS_ALPHABLENDENABLE, 1);
  const uint32_t dest = 0x00604020u, src = 0x80C08040u;
  const float s[4] = {0xC0 / 255.0f, 0x80 / 255.0f, 0x40 / 255.0f, 0x80 / 255.0f};
  const float dc[3] = {0x60 / 255.0f, 0x40 / 255.0f, 0x20 / 255.0f};
  for (int i = 0; i < 12; ++i) {
    gfx_clear(0, dest);
    GfxBlendPair p = gfx_blend_pair_by_index(i);
    gpu_set_render_state(d, GPU_RS_SRCBLEND, p.source);
    gpu_set_render_state(d, GPU_RS_DESTBLEND, p.destination);
    quad(0, 0, 4, 4, src);
    uint32_t got = pixel(1, 1);
    for (int c = 0; c < 3; ++c) {
      float v = s[c] * factor(p.source, s, dc, c) + dc[c] * factor(p.destination, s, dc, c);
      int want = int(std::min(v, 1.0f) * 255.0f + 0.5f);
      int have = int((got >> (16 - 8 * c)) & 0xFF);
      EXPECT_NEAR(have, want, 1) << "pair " << i << " channel " << c;
    }
  }
}

TEST_F(GfxTest, CompareFunctionsTestDepthAndAlphaAsSpecified) {
  sprite_states();
  GpuDevice* d = gfx_device();
  DepthSurfaceObject depth{};
  ASSERT_EQ(gfx_create_depth_surface(&depth, gfx_depth_format_by_index(1), kW, kH), 1);
  gfx_set_depth_surface(&depth);
  gpu_set_render_state(d, GPU_RS_ZENABLE, 1);
  const float z[3] = {0.25f, 0.5f, 0.75f};
  // Which of (less, equal, greater than the reference) pass, per function.
  const char* pass[8] = {"---", "x--", "-x-", "xx-", "--x", "x-x", "-xx", "xxx"};
  for (int f = 0; f < 8; ++f) {
    gfx_clear(4, 0);  // colour and depth (1.0)
    gpu_set_render_state(d, GPU_RS_ZFUNC, GPU_CMP_ALWAYS);
    gpu_set_render_state(d, GPU_RS_COLORWRITEENABLE, 0);
    quad(0, 0, kW, kH, 0xFFFFFFFF, 0.5f);  // depth 0.5 everywhere
    gpu_set_render_state(d, GPU_RS_COLORWRITEENABLE, 0xF);
    gpu_set_render_state(d, GPU_RS_ZFUNC, gfx_zfunc_by_index(f));
    for (int k = 0; k < 3; ++k) quad(k * 8, 0, 8, 8, 0xFFFF0000, z[k]);
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ((pixel(k * 8 + 4, 4) & 0xFFFFFF) == 0xFF0000u, pass[f][k] == 'x') << "z func " << f << " at " << k;
  }
  gpu_set_render_state(d, GPU_RS_ZENABLE, 0);
  gfx_set_depth_surface(nullptr);
  gfx_release_surface_pair(&depth);

  gpu_set_render_state(d, GPU_RS_ALPHATESTENABLE, 1);
  gpu_set_render_state(d, GPU_RS_ALPHAREF, 0x80);
  const uint32_t alpha[3] = {0x7F, 0x80, 0x81};
  for (int f = 0; f < 8; ++f) {
    gfx_clear(0, 0);
    gpu_set_render_state(d, GPU_RS_ALPHAFUNC, gfx_zfunc_by_index(f));
    for (int k = 0; k < 3; ++k) quad(k * 8, 0, 8, 8, alpha[k] << 24 | 0xFF0000);
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ((pixel(k * 8 + 4, 4) & 0xFF0000) == 0xFF0000u, pass[f][k] == 'x') << "alpha func " << f << " at " << k;
  }
}

TEST_F(GfxTest, BindingFollowsTheStageCache) {
  GpuDevice* d = gfx_device();
  TextureObject empty{};
  ASSERT_TRUE(gfx_create_texture(&empty, 0, 0, 16));
  EXPECT_EQ(empty.texture, nullptr);
  gfx_bind_texture(d, 0, &empty, 1);
  EXPECT_EQ(gpu_get_texture(d, 0), gfx_white_texture()->texture);

  TextureObject t{};
  ASSERT_TRUE(gfx_create_texture(&t, 0, 4, 4));
  gfx_bind_texture(d, 3, &t, 0);
  EXPECT_EQ(gpu_get_texture(d, 3), t.texture);
  // The same object again makes no device call.
  gpu_set_texture(d, 3, nullptr);
  gfx_bind_texture(d, 3, &t, 0);
  EXPECT_EQ(gpu_get_texture(d, 3), nullptr);
  gpu_set_texture(d, 3, t.texture);
  gfx_bind_texture(d, 3, nullptr, 0);
  EXPECT_EQ(gpu_get_texture(d, 3), nullptr);

  // A new texture made in the same record is bound, not taken for the old.
  gfx_bind_texture(d, 2, &t, 0);
  gfx_release_texture_pair(&t);
  ASSERT_TRUE(gfx_create_texture(&t, 0, 8, 8));
  gfx_bind_texture(d, 2, &t, 0);
  EXPECT_EQ(gpu_get_texture(d, 2), t.texture);
  gfx_bind_texture(d, 2, nullptr, 0);
  gfx_release_texture_pair(&t);
}

TEST_F(GfxTest, PixelTransfersCheckTheirRectangleAndConvert) {
  TextureObject t{};
  ASSERT_TRUE(gfx_create_texture(&t, 0, 4, 4));
  uint32_t px[16] = {};
  EXPECT_FALSE(gfx_copy_to_texture(&t, 3, 3, 2, 2, px));
  EXPECT_FALSE(gfx_copy_to_texture(&t, -1, 0, 2, 2, px));
  EXPECT_FALSE(gfx_copy_to_texture(&t, 0, 0, -2, 2, px));
  EXPECT_FALSE(gfx_copy_to_texture(&t, 2, 0, INT32_MAX, 1, px));
  EXPECT_FALSE(gfx_copy_to_texture(&t, 0, 0, 1, 1, nullptr));
  for (int i = 0; i < 16; ++i) px[i] = 0x01000000u * uint32_t(i) + uint32_t(i);
  EXPECT_TRUE(gfx_copy_to_texture(&t, 0, 0, 4, 4, px));
  EXPECT_EQ(gfx_read_texel(&t, -5, 9999), px[12]);
  EXPECT_EQ(gfx_read_texel(&t, 2, 1), px[6]);

  const uint32_t four[2] = {0x00112233u, 0xFF445566u};
  EXPECT_TRUE(gfx_write_texture_rgb(&t, 1, 2, 2, 1, four, 4));
  EXPECT_EQ(gfx_read_texel(&t, 1, 2), 0xFF112233u);
  EXPECT_EQ(gfx_read_texel(&t, 2, 2), 0xFF445566u);
  const uint8_t three[3] = {0x33, 0x22, 0x11};
  EXPECT_TRUE(gfx_write_texture_rgb(&t, 0, 0, 1, 1, three, 3));
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0xFF112233u);
  EXPECT_FALSE(gfx_write_texture_rgb(&t, 0, 0, 1, 1, three, 2));
  EXPECT_FALSE(gfx_write_texture_rgb(&t, 4, 0, 1, 1, three, 3));
  gfx_release_texture_pair(&t);
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0u);

  // 16-bit formats read with their channels widened to full range.
  ASSERT_TRUE(gfx_create_texture(&t, 2, 2, 1));  // A1R5G5B5
  const uint16_t a1[2] = {0xFFFF, 0x7C00};
  EXPECT_TRUE(gfx_copy_to_texture(&t, 0, 0, 2, 1, a1));
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(gfx_read_texel(&t, 1, 0), 0x00FF0000u);
  gfx_release_texture_pair(&t);
}

TEST_F(GfxTest, RenderTargetsSurviveALostDevice) {
  TextureObject t{};
  ASSERT_TRUE(gfx_create_render_target(&t, 0, 32, 16));
  EXPECT_EQ(t.kind, TEXTURE_KIND_RENDER_TARGET);
  EXPECT_NE(t.surface, nullptr);
  uint8_t flags = t.flags;
  gfx_release_render_texture(&t);
  EXPECT_EQ(t.texture, nullptr);
  EXPECT_EQ(t.width, 32);
  gfx_restore_render_texture(&t);
  ASSERT_NE(t.texture, nullptr);
  EXPECT_EQ(t.flags, flags);
  EXPECT_EQ(t.height, 16);
  gfx_release_texture_pair(&t);
}

TEST_F(GfxTest, PicturesBecomeTexturesOfTheirOwnSize) {
  // A 3 x 2 24-bit picture, rows bottom first.
  std::vector<uint8_t> bmp(54 + 2 * 12, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bmp[at], &v, 4); };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, uint32_t(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, 3);
  put32(22, 2);
  bmp[26] = 1;
  bmp[28] = 24;
  const uint32_t bottom[3] = {0x0000FF, 0x00FF00, 0xFF0000}, top[3] = {0xFFFFFF, 0x808080, 0x000000};
  for (int x = 0; x < 3; ++x) {
    std::memcpy(&bmp[54 + size_t(x) * 3], &bottom[x], 3);
    std::memcpy(&bmp[54 + 12 + size_t(x) * 3], &top[x], 3);
  }
  TextureObject t{};
  ASSERT_TRUE(gfx_create_texture_d3dx(&t, bmp.data(), bmp.size(), 1));
  EXPECT_EQ(t.width, 3);
  EXPECT_EQ(t.height, 2);
  EXPECT_EQ(t.image_width, 3);
  EXPECT_EQ(t.image_height, 2);
  EXPECT_EQ(t.flags & TEXTURE_FLAG_MIP_CHAIN, TEXTURE_FLAG_MIP_CHAIN);
  EXPECT_EQ(gpu_texture_level_count(t.texture), 2u);  // 3 x 2 and 1 x 1
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(gfx_read_texel(&t, 2, 1), 0xFFFF0000u);
  EXPECT_EQ(gfx_read_texel(&t, 1, 0), 0xFF808080u);
  gfx_release_texture_pair(&t);
  const uint8_t junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(gfx_create_texture_d3dx(&t, junk, sizeof junk, 0));
  EXPECT_EQ(t.texture, nullptr);
  EXPECT_FALSE(gfx_create_texture_d3dx_b(&t, "no/such/picture.png", 0));
}

TEST_F(GfxTest, ScratchBuffersArePrepared) {
  const uint16_t* q = gfx_index_scratch();
  const uint16_t want[6] = {4, 5, 6, 7, 6, 5};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(q[6 + i], want[i]);
  EXPECT_EQ(q[4095 * 6 + 3], 4095 * 4 + 3);
  ScreenVertex* v = gfx_vertex_scratch();
  EXPECT_EQ(v[16383].rhw, 1.0f);
  EXPECT_EQ(v[0].z, 0.0f);
}

TEST_F(GfxTest, MeshBuffersRefuseWhatSixteenBitIndicesCannotReach) {
  std::vector<float> pos(3 * 65537, 0.0f);
  pos[3] = 10.0f;  // x extent 10, others 0 -> elongated
  const uint16_t idx[3] = {0, 1, 2};
  MeshData m{};
  m.positions = pos.data();
  m.vertex_count = 3;
  m.indices = idx;
  m.index_count = 3;
  MeshBuffers b{};
  ASSERT_TRUE(gfx_build_mesh_buffers(&b, m));
  EXPECT_EQ(b.stride, 12u);
  EXPECT_NE(b.packed & MESH_PACKED_ELONGATED, 0u);
  gfx_release_mesh_buffers(&b);
  m.vertex_count = 65537;
  EXPECT_FALSE(gfx_build_mesh_buffers(&b, m));
  // An index buffer that cannot be filled gives both buffers up.
  m.vertex_count = 3;
  gpu_debug_fail_index_locks(gfx_device(), 1);
  EXPECT_FALSE(gfx_build_mesh_buffers(&b, m));
  EXPECT_EQ(b.vertex_buffer, nullptr);
  EXPECT_EQ(b.index_buffer, nullptr);
  EXPECT_EQ(b.index_count, 0u);
  ASSERT_TRUE(gfx_build_mesh_buffers(&b, m)) << "only the one lock failed";
  gfx_release_mesh_buffers(&b);
}

void start_without_a_device() {
  window_system_init();
  PlatformWindow* w = window_create("gfx test", kW, kH, nullptr);
  GpuAdapterOverride none{0xFFFE0200u, 0xFFFF0200u, 0x3F};
  gpu_debug_override_adapter(&none);
  const int layout[5] = {kW, kH, kW, kH, 0};
  gfx_init(w, 0, kW, kH, 32, layout);
}

TEST(GfxStartupDeathTest, AFailedDeviceEndsTheProgramWithCodeOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("TL_MESSAGEBOX", "stderr", 1);
  EXPECT_EXIT(start_without_a_device(), ::testing::ExitedWithCode(1), "graphics device cannot be created");
}
