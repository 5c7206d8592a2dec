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
#include "render/view/view_state.h"

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
  EXPECT_FALSE(gfx_device_ptr()->has_stencil);
  EXPECT_FALSE(gfx_requested_mode());
  // Start-up binds the back buffer and the saved depth record, which holds no
  // surface: the device has no depth buffer of its own.
  EXPECT_NE(gfx_saved_back_buffer_record()->surface, nullptr);
  EXPECT_EQ(gfx_current_target_record()->surface, gfx_saved_back_buffer_record()->surface);
  EXPECT_EQ(gfx_current_depth_record(), gfx_saved_depth_record());
  EXPECT_EQ(gfx_saved_depth_record()->surface, nullptr);
  // A resize request takes positive sizes and a full-screen flag of 0 or more.
  gfx_request_resize(100, -5, 1);
  EXPECT_EQ(gfx_device_ptr()->requested_width, 100);
  EXPECT_EQ(gfx_device_ptr()->requested_height, kH);
  EXPECT_TRUE(gfx_requested_mode());
  gfx_request_resize(0, 0, 0);
  EXPECT_EQ(gfx_device_ptr()->requested_width, 100);
  EXPECT_FALSE(gfx_requested_mode());
  gfx_present();  // the reset the requests asked for, windowed again
  EXPECT_EQ(calls, "LRW");  // the window restyled after the reset
  EXPECT_TRUE(gfx_device_ptr()->present_params.windowed);
  EXPECT_FALSE(gfx_device_ptr()->reset_request);
  // The parameters a reset would take: windowed at the window's client size
  // (0 x 0), or full-screen at the size asked for, 60 Hz, once a retrace.
  const GpuPresentParams& pp = gfx_device_ptr()->present_params;
  gfx_fill_present_params(320, 200, true);
  EXPECT_FALSE(pp.windowed);
  EXPECT_EQ(pp.back_buffer_width, 320u);
  EXPECT_EQ(pp.back_buffer_height, 200u);
  EXPECT_EQ(pp.swap_effect, GPU_SWAP_FLIP);
  EXPECT_EQ(pp.refresh_rate, 60u);
  EXPECT_EQ(pp.presentation_interval, GPU_PRESENT_INTERVAL_ONE);
  EXPECT_EQ(pp.back_buffer_count, 1u);
  EXPECT_FALSE(pp.auto_depth_stencil);
  gfx_fill_present_params(320, 200, false);
  EXPECT_TRUE(pp.windowed);
  EXPECT_EQ(pp.back_buffer_width, 0u);
  EXPECT_EQ(pp.back_buffer_height, 0u);
  EXPECT_EQ(pp.swap_effect, GPU_SWAP_COPY);
  EXPECT_EQ(pp.presentation_interval, GPU_PRESENT_INTERVAL_IMMEDIATE);
  EXPECT_EQ(pp.flags, 0u);
  // The format checks by kind: 0 texture, 1 render-target texture, 2 depth surface.
  const struct {
    GpuFormat format;
    int kind;
    bool ok;
  } formats[] = {{GPU_FMT_A8R8G8B8, 0, true}, {GPU_FMT_A8R8G8B8, 1, true},  {GPU_FMT_A8R8G8B8, 2, false},
                 {GPU_FMT_DXT1, 0, false},    {GPU_FMT_L8, 1, false},       {GPU_FMT_R32F, 0, false},
                 {GPU_FMT_D24S8, 2, true},    {GPU_FMT_D24S8, 0, false},    {GPU_FMT_A8R8G8B8, 3, false}};
  for (const auto& f : formats)
    EXPECT_EQ(gfx_check_texture_format(f.format, f.kind), f.ok) << "format " << f.format << " kind " << f.kind;
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
  // No depth surface: every index clears the target alone, except those that
  // ask for depth or stencil alone.
  const struct {
    int index;
    bool target;
  } bare[] = {{-1, true}, {0, true}, {1, false}, {2, false}, {3, false}, {4, true}, {5, true}, {6, true}};
  for (const auto& c : bare) {
    gfx_clear(0, 0xFF000000u);
    gfx_clear(c.index, 0x00FF0000u);
    EXPECT_EQ((pixel(3, 3) & 0xFFFFFF) == 0xFF0000u, c.target) << "index " << c.index;
  }
  gfx_clear(5, 0x80336699u);
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

// With a depth surface bound each index clears what the table names: the
// colour, the depth (a quad at 0.5 passes LESS again) and the stencil (a quad
// passes EQUAL 0 again). Stencil is cleared only in a surface that has it.
TEST_F(GfxTest, ClearWithADepthSurfaceFollowsTheTable) {
  sprite_states();
  GpuDevice* d = gfx_device();
  gfx_set_viewport(-1);
  struct Surface {
    int depth_index;
    const char* expect;  // per index -1 .. 6: c colour, d depth, s stencil
  };
  const Surface surfaces[] = {
      {1, "-|c|d|s|ds|cd|cds|-"},  // D24S8
      {0, "-|c|d|-|d|cd|cd|-"},    // D16
  };
  for (const Surface& sf : surfaces) {
    DepthSurfaceObject depth{};
    ASSERT_EQ(gfx_create_depth_surface(&depth, gfx_depth_format_by_index(sf.depth_index), kW, kH), 1);
    gfx_set_depth_surface(&depth);
    const std::string expect = std::string("|") + sf.expect + "|";
    size_t at = 0;
    for (int index = -1; index <= 6; ++index) {
      SCOPED_TRACE(testing::Message() << "depth format " << sf.depth_index << ", index " << index);
      const size_t next = expect.find('|', at + 1);
      const std::string want = expect.substr(at + 1, next - at - 1);
      at = next;
      // Black colour, depth 0.25 and stencil 1 everywhere.
      gfx_clear(5, 0xFF000000u);
      gpu_set_render_state(d, GPU_RS_ZENABLE, 1);
      gpu_set_render_state(d, GPU_RS_ZWRITEENABLE, 1);
      gpu_set_render_state(d, GPU_RS_ZFUNC, GPU_CMP_ALWAYS);
      gfx_set_stencil_enable(1);
      gfx_set_stencil_test(1, 0xFF, 0xFF, GPU_CMP_ALWAYS);
      gfx_set_stencil_ops(0, 0, 2);  // keep, keep, replace
      gfx_set_colour_write(0, 0, 0, 0);
      quad(0, 0, kW, kH, 0xFFFFFFFF, 0.25f);
      gfx_set_colour_write(1, 1, 1, 1);
      gfx_set_stencil_enable(0);

      gfx_clear(index, 0x00FF0000u);
      const bool colour = (pixel(2, 2) & 0xFFFFFF) == 0xFF0000u;
      gpu_set_render_state(d, GPU_RS_ZWRITEENABLE, 0);
      gpu_set_render_state(d, GPU_RS_ZFUNC, GPU_CMP_LESS);
      quad(16, 0, 8, 8, 0xFF00FF00u, 0.5f);
      const bool depth_cleared = (pixel(20, 4) & 0xFFFFFF) == 0x00FF00u;
      bool stencil_cleared = false;
      if (sf.depth_index == 1) {
        gpu_set_render_state(d, GPU_RS_ZFUNC, GPU_CMP_ALWAYS);
        gfx_set_stencil_enable(1);
        gfx_set_stencil_test(0, 0xFF, 0xFF, GPU_CMP_EQUAL);
        gfx_set_stencil_ops(0, 0, 0);
        quad(32, 0, 8, 8, 0xFF0000FFu, 0.0f);
        gfx_set_stencil_enable(0);
        stencil_cleared = (pixel(36, 4) & 0xFFFFFF) == 0x0000FFu;
      }
      gpu_set_render_state(d, GPU_RS_ZENABLE, 0);
      EXPECT_EQ(colour, want.find('c') != std::string::npos);
      EXPECT_EQ(depth_cleared, want.find('d') != std::string::npos);
      EXPECT_EQ(stencil_cleared, want.find('s') != std::string::npos);
    }
    gfx_set_depth_surface(nullptr);
    gfx_release_surface_pair(&depth);
  }
  // The single-state setters leave their values on the device.
  gfx_set_stencil_test(7, 0x0F, 0xF0, GPU_CMP_GREATER);
  gfx_set_stencil_ops(1, 4, 7);
  const struct {
    GpuRenderState state;
    uint32_t value;
  } states[] = {{GPU_RS_STENCILREF, 7},
                {GPU_RS_STENCILMASK, 0x0F},
                {GPU_RS_STENCILWRITEMASK, 0xF0},
                {GPU_RS_STENCILFUNC, GPU_CMP_GREATER},
                {GPU_RS_STENCILFAIL, GPU_STENCILOP_ZERO},
                {GPU_RS_STENCILZFAIL, GPU_STENCILOP_DECRSAT},
                {GPU_RS_STENCILPASS, GPU_STENCILOP_DECR},
                {GPU_RS_STENCILENABLE, 0}};
  for (const auto& st : states) EXPECT_EQ(gpu_get_render_state(d, st.state), st.value) << "state " << st.state;
  gfx_set_colour_write(1, 0, 1, 0);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_COLORWRITEENABLE), 5u);
  gfx_set_colour_write(0, 1, 0, 1);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_COLORWRITEENABLE), 10u);
  gfx_set_colour_write(1, 1, 1, 1);
  const float plane[4] = {0, 1, 0, -2};
  gfx_set_clip_plane(3, plane, 1);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_CLIPPLANEENABLE), 8u);
  gfx_set_clip_plane(3, nullptr, 0);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_CLIPPLANEENABLE), 0u);
  gfx_set_clip_plane(40, plane, 1);  // no such plane: nothing
  gfx_set_clip_plane(-1, plane, 1);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_CLIPPLANEENABLE), 0u);
}

// The preset sends each state it owns when, and only when, its word differs
// from the cache: a state set behind the cache's back stays as it is until
// the preset's own argument changes.
TEST_F(GfxTest, PresetSendsEachStateItOwnsOnlyWhenItChanges) {
  GpuDevice* d = gfx_device();
  gfx_invalidate_render_cache();
  // lighting, z write, z compare 6, fog, blend 4, cull 1, fill 2, alpha reference 3, no shader
  int args[9] = {1, 0, 6, 1, 4, 1, 2, 3, 0};
  auto preset = [&] {
    return gfx_set_render_preset(args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7], args[8]);
  };
  EXPECT_EQ(preset(), 1);
  const struct {
    GpuRenderState state;
    uint32_t value;
  } sent[] = {{GPU_RS_LIGHTING, 1},
              {GPU_RS_ZWRITEENABLE, 0},
              {GPU_RS_ZFUNC, GPU_CMP_GREATEREQUAL},
              {GPU_RS_FOGENABLE, 1},
              {GPU_RS_SRCBLEND, GPU_BLEND_INVDESTCOLOR},
              {GPU_RS_DESTBLEND, GPU_BLEND_ONE},
              {GPU_RS_CULLMODE, GPU_CULL_CW},
              {GPU_RS_FILLMODE, GPU_FILL_POINT},
              {GPU_RS_ALPHAREF, 192}};
  for (const auto& st : sent) EXPECT_EQ(gpu_get_render_state(d, st.state), st.value) << "state " << st.state;
  const int cached[] = {gfx_preset_lighting(),  gfx_preset_effective_lighting(), gfx_preset_zwrite(),
                        gfx_preset_zfunc(),     gfx_preset_fog(),                gfx_preset_fog_state(),
                        gfx_preset_blend(),     gfx_preset_cull(),               gfx_preset_fill(),
                        gfx_preset_alpha_ref()};
  const int want_cached[] = {1, 1, 0, 6, 1, 1, 4, 1, 2, 3};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(cached[i], want_cached[i]) << "cache getter " << i;

  // Each argument changed alone: only its own states are sent.
  const struct {
    int arg, value;
    GpuRenderState states[2];
    uint32_t values[2];
    int result;
  } changes[] = {
      {0, 0, {GPU_RS_LIGHTING, GPU_RS_LIGHTING}, {0, 0}, 1},
      {1, 1, {GPU_RS_ZWRITEENABLE, GPU_RS_ZWRITEENABLE}, {1, 1}, 0},
      {2, 2, {GPU_RS_ZFUNC, GPU_RS_ZFUNC}, {GPU_CMP_EQUAL, GPU_CMP_EQUAL}, 0},
      {3, 0, {GPU_RS_FOGENABLE, GPU_RS_FOGENABLE}, {0, 0}, 1},
      {4, 10, {GPU_RS_SRCBLEND, GPU_RS_DESTBLEND}, {GPU_BLEND_DESTCOLOR, GPU_BLEND_SRCALPHA}, 0},
      {5, 2, {GPU_RS_CULLMODE, GPU_RS_CULLMODE}, {GPU_CULL_NONE, GPU_CULL_NONE}, 0},
      {6, 1, {GPU_RS_FILLMODE, GPU_RS_FILLMODE}, {GPU_FILL_WIREFRAME, GPU_FILL_WIREFRAME}, 0},
      {7, 1, {GPU_RS_ALPHAREF, GPU_RS_ALPHAREF}, {48, 48}, 0},
  };
  const GpuRenderState owned[] = {GPU_RS_LIGHTING, GPU_RS_ZWRITEENABLE, GPU_RS_ZFUNC,    GPU_RS_FOGENABLE, GPU_RS_SRCBLEND,
                                  GPU_RS_DESTBLEND, GPU_RS_CULLMODE,    GPU_RS_FILLMODE, GPU_RS_ALPHAREF};
  const uint32_t untouched[] = {gpu_get_render_state(d, GPU_RS_ALPHATESTENABLE),
                                gpu_get_render_state(d, GPU_RS_ALPHABLENDENABLE), gpu_get_render_state(d, GPU_RS_ZENABLE)};
  for (const auto& c : changes) {
    SCOPED_TRACE(testing::Message() << "argument " << c.arg);
    // Marks on the device that only a sent state overwrites.
    for (GpuRenderState st : owned) gpu_set_render_state(d, st, 77);
    EXPECT_EQ(preset(), 0) << "nothing changed";
    for (GpuRenderState st : owned) EXPECT_EQ(gpu_get_render_state(d, st), 77u) << "state " << st;
    args[c.arg] = c.value;
    EXPECT_EQ(preset(), c.result);
    for (GpuRenderState st : owned) {
      uint32_t want = 77;
      for (int k = 0; k < 2; ++k)
        if (st == c.states[k]) want = c.values[k];
      EXPECT_EQ(gpu_get_render_state(d, st), want) << "state " << st;
    }
  }
  // Shader drawing turns the effective lighting off while the asked one stays.
  args[0] = 1;
  EXPECT_EQ(preset(), 1);
  args[8] = 1;
  EXPECT_EQ(preset(), 1);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_LIGHTING), 0u);
  EXPECT_EQ(gfx_preset_lighting(), 1);
  EXPECT_EQ(gfx_preset_effective_lighting(), 0);
  args[8] = 0;
  EXPECT_EQ(preset(), 1);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_LIGHTING), 1u);
  // The preset never touches alpha testing, blending enable or depth enable.
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_ALPHATESTENABLE), untouched[0]);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_ALPHABLENDENABLE), untouched[1]);
  EXPECT_EQ(gpu_get_render_state(d, GPU_RS_ZENABLE), untouched[2]);
  // Invalidation makes the next preset send every state again.
  for (GpuRenderState st : owned) gpu_set_render_state(d, st, 77);
  gfx_invalidate_render_cache();
  EXPECT_EQ(preset(), 1);
  for (GpuRenderState st : owned) EXPECT_NE(gpu_get_render_state(d, st), 77u) << "state " << st;
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

  // A view's own rectangle, for the viewport and the scissor alike.
  set_viewport_rect(1, 6, 20, 10, 12);
  gfx_set_viewport(1);
  v = gfx_current_viewport();
  EXPECT_EQ(v.x, 6u);
  EXPECT_EQ(v.y, 20u);
  EXPECT_EQ(v.width, 10u);
  EXPECT_EQ(v.height, 12u);
  EXPECT_EQ(gpu_get_viewport(gfx_device()).x, 6u);
  gfx_set_scissor(1);
  gfx_get_scissor(&x, &y, &w, &h);
  EXPECT_EQ(x, 6);
  EXPECT_EQ(y, 20);
  EXPECT_EQ(w, 10);
  EXPECT_EQ(h, 12);
  gfx_set_scissor(2);  // names no view: no change
  gfx_get_scissor(&x, nullptr, nullptr, nullptr);
  EXPECT_EQ(x, 6);

  // A texture's size, or fractions of it truncated toward zero, while it is
  // the target (a viewport must lie inside the target).
  AssetHandle wide = create_render_target_texture("t", "wide", 200, 100, 0);
  ASSERT_NE(wide, 0u);
  gfx_set_render_target(0, wide);
  gfx_set_viewport_texture(wide);
  v = gfx_current_viewport();
  EXPECT_EQ(v.x, 0u);
  EXPECT_EQ(v.width, 200u);
  EXPECT_EQ(v.height, 100u);
  gfx_set_viewport_texture_fraction(wide, 0.1f, 0.3f, 0.333f, 0.5f);
  v = gfx_current_viewport();
  EXPECT_EQ(v.x, 20u);
  EXPECT_EQ(v.y, 30u);
  EXPECT_EQ(v.width, 66u);
  EXPECT_EQ(v.height, 50u);
  gfx_set_scissor_texture_fraction(wide, 0.1f, 0.3f, 0.333f, 0.5f);
  gfx_get_scissor(&x, &y, &w, &h);
  EXPECT_EQ(x, 20);
  EXPECT_EQ(y, 30);
  EXPECT_EQ(x + w, 86);
  EXPECT_EQ(y + h, 80);
  gfx_set_scissor_texture(wide);
  gfx_get_scissor(&x, &y, &w, &h);
  EXPECT_EQ(w, 200);
  EXPECT_EQ(h, 100);
  gfx_set_viewport_texture(0);  // no texture: no change
  EXPECT_EQ(gfx_current_viewport().width, 66u);
  gfx_set_render_target(0, gfx_back_buffer_target());
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

  // Address modes, filters and the mip filter follow the object and the
  // filter index, and are sent only when they differ from the stage's cache.
  TextureObject target{};
  ASSERT_TRUE(gfx_create_render_target(&target, 0, 8, 8));
  gfx_bind_texture(d, 3, &target, 1);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSU), uint32_t(GPU_ADDRESS_CLAMP));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSV), uint32_t(GPU_ADDRESS_CLAMP));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MAGFILTER), uint32_t(GPU_FILTER_LINEAR));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MINFILTER), uint32_t(GPU_FILTER_LINEAR));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MIPFILTER), uint32_t(GPU_FILTER_NONE));
  EXPECT_EQ(gpu_get_texture(d, 3), target.texture);
  gpu_set_sampler_state(d, 3, GPU_SAMP_ADDRESSU, GPU_ADDRESS_MIRROR);
  gfx_bind_texture(d, 3, &target, 1);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSU), uint32_t(GPU_ADDRESS_MIRROR)) << "cached, not sent";
  gfx_bind_texture(d, 3, &t, 0);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSU), uint32_t(GPU_ADDRESS_WRAP));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSV), uint32_t(GPU_ADDRESS_WRAP));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MAGFILTER), uint32_t(GPU_FILTER_POINT));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MINFILTER), uint32_t(GPU_FILTER_POINT));
  TextureObject clamped_u = target;
  clamped_u.flags = 1u << TEXTURE_FLAG_U_SHIFT;  // U clamp, V wrap
  gfx_bind_texture(d, 3, &clamped_u, 0);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSU), uint32_t(GPU_ADDRESS_CLAMP));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSV), uint32_t(GPU_ADDRESS_WRAP));
  clamped_u.flags = 1u << TEXTURE_FLAG_V_SHIFT;  // U wrap, V clamp
  gfx_bind_texture(d, 3, &clamped_u, 0);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSU), uint32_t(GPU_ADDRESS_WRAP));
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_ADDRESSV), uint32_t(GPU_ADDRESS_CLAMP));
  TextureObject mip = t;
  mip.flags |= TEXTURE_FLAG_MIP_CHAIN;
  gfx_bind_texture(d, 3, &mip, 1);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MIPFILTER), uint32_t(GPU_FILTER_LINEAR));
  // A filter set on its own is noted in the cache.
  gfx_set_stage_filter(d, 3, 0);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MAGFILTER), uint32_t(GPU_FILTER_POINT));
  gpu_set_sampler_state(d, 3, GPU_SAMP_MINFILTER, GPU_FILTER_LINEAR);
  gfx_bind_texture(d, 3, &mip, 0);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MINFILTER), uint32_t(GPU_FILTER_LINEAR)) << "cached, not sent";
  gfx_bind_texture(d, 3, nullptr, 0);
  EXPECT_EQ(gpu_get_sampler_state(d, 3, GPU_SAMP_MIPFILTER), uint32_t(GPU_FILTER_NONE));
  gfx_release_texture_pair(&target);

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
  // Rectangles of the 4 x 4 texture: empty ones on its edges are taken and
  // write nothing.
  const struct {
    int x, y, w, h;
    bool ok;
  } rects[] = {
      {0, 0, 4, 4, true},  {4, 0, 0, 1, true},   {0, 4, 1, 0, true},         {0, 0, 0, 0, true},
      {5, 0, 0, 1, false}, {0, 5, 1, 0, false},  {0, 1, 4, 4, false},        {1, 0, 4, 4, false},
      {0, 0, 2, -1, false}, {0, -1, 1, 1, false}, {0, 2, 1, INT32_MAX, false},
  };
  for (const auto& r : rects) {
    EXPECT_EQ(gfx_copy_to_texture(&t, r.x, r.y, r.w, r.h, px), r.ok) << r.x << "," << r.y << " " << r.w << "x" << r.h;
    EXPECT_EQ(gfx_write_texture_rgb(&t, r.x, r.y, r.w, r.h, px, 4), r.ok)
        << r.x << "," << r.y << " " << r.w << "x" << r.h;
  }
  for (int i = 0; i < 16; ++i) px[i] = 0x01000000u * uint32_t(i) + uint32_t(i);
  EXPECT_TRUE(gfx_copy_to_texture(&t, 0, 0, 4, 4, px));
  EXPECT_EQ(gfx_read_texel(&t, -5, 9999), px[12]);
  EXPECT_EQ(gfx_read_texel(&t, 2, 1), px[6]);
  EXPECT_EQ(gfx_read_texel(&t, 99, -3), px[3]);

  // 4-byte source words lose one from their alpha byte (0 wraps to 0xFF);
  // 3-byte pixels are written opaque. Only the rectangle is written.
  const uint32_t four[4] = {0x00112233u, 0xFF445566u, 0x80000000u, 0x01ABCDEFu};
  EXPECT_TRUE(gfx_write_texture_rgb(&t, 1, 2, 2, 2, four, 4));
  const struct {
    int x, y;
    uint32_t argb;
  } written[] = {{1, 2, 0xFF112233u}, {2, 2, 0xFE445566u}, {1, 3, 0x7F000000u},
                 {2, 3, 0x00ABCDEFu}, {0, 2, px[8]},       {3, 3, px[15]}};
  for (const auto& w : written) EXPECT_EQ(gfx_read_texel(&t, w.x, w.y), w.argb) << w.x << "," << w.y;
  const uint8_t three[6] = {0x33, 0x22, 0x11, 0x66, 0x55, 0x44};
  EXPECT_TRUE(gfx_write_texture_rgb(&t, 0, 0, 1, 2, three, 3));
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0xFF112233u);
  EXPECT_EQ(gfx_read_texel(&t, 0, 1), 0xFF445566u);
  EXPECT_EQ(gfx_read_texel(&t, 1, 0), px[1]);
  EXPECT_FALSE(gfx_write_texture_rgb(&t, 0, 0, 1, 1, three, 2));
  EXPECT_FALSE(gfx_write_texture_rgb(&t, 4, 0, 1, 1, three, 3));
  EXPECT_FALSE(gfx_write_texture_rgb(&t, 0, -1, 1, 1, three, 3));
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0xFF112233u);
  gfx_release_texture_pair(&t);
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0u);

  // The other 32-bit format takes writes too; a 16-bit one does not.
  ASSERT_TRUE(gfx_create_texture(&t, 1, 2, 1));  // X8R8G8B8
  EXPECT_TRUE(gfx_write_texture_rgb(&t, 0, 0, 2, 1, four, 4));
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0xFF112233u);
  EXPECT_EQ(gfx_read_texel(&t, 1, 0), 0xFE445566u);
  gfx_release_texture_pair(&t);
  ASSERT_TRUE(gfx_create_texture(&t, 4, 2, 1));  // R5G6B5
  EXPECT_FALSE(gfx_write_texture_rgb(&t, 0, 0, 1, 1, three, 3));
  gfx_release_texture_pair(&t);

  // A lock that fails is reported as a failure: a texture already locked, and
  // a render target, which cannot be locked at all.
  ASSERT_TRUE(gfx_create_texture(&t, 0, 2, 2));
  GpuLockedRect held;
  ASSERT_EQ(gpu_texture_lock(t.texture, 0, nullptr, &held, 0), GPU_OK);
  EXPECT_FALSE(gfx_copy_to_texture(&t, 0, 0, 1, 1, px));
  EXPECT_FALSE(gfx_write_texture_rgb(&t, 0, 0, 1, 1, three, 3));
  EXPECT_EQ(gfx_read_texel(&t, 0, 0), 0u);
  gpu_texture_unlock(t.texture, 0);
  gfx_release_texture_pair(&t);
  ASSERT_TRUE(gfx_create_render_target(&t, 0, 2, 2));
  EXPECT_FALSE(gfx_copy_to_texture(&t, 0, 0, 1, 1, px));
  EXPECT_FALSE(gfx_write_texture_rgb(&t, 0, 0, 1, 1, four, 4));
  gfx_release_texture_pair(&t);
}

TEST_F(GfxTest, TexelsReadBackPerFormat) {
  // Each texel as stored, and its ARGB: narrow channels fill the top bits of
  // their byte, a set 1-bit alpha reads 0x80.
  struct Case {
    const char* format;
    int code;  // texture-format table index
    uint8_t bytes[4];
    uint32_t argb;
  };
  const Case cases[] = {
      {"A8R8G8B8", 0, {0x10, 0x20, 0x40, 0x80}, 0x80402010u},
      {"X8R8G8B8", 1, {0x10, 0x20, 0x40, 0x00}, 0x00402010u},
      {"A1R5G5B5 0xFC00", 2, {0x00, 0xFC}, 0x80F80000u},
      {"A1R5G5B5 0x7FFF", 2, {0xFF, 0x7F}, 0x00F8F8F8u},
      {"A1R5G5B5 0x8421", 2, {0x21, 0x84}, 0x80080808u},
      {"X1R5G5B5 0x7C1F", 3, {0x1F, 0x7C}, 0x00F800F8u},
      {"X1R5G5B5 0x83E0", 3, {0xE0, 0x83}, 0x8000F800u},
      {"R5G6B5 0xFFFF", 4, {0xFF, 0xFF}, 0xFFF8FCF8u},
      {"R5G6B5 0xF800", 4, {0x00, 0xF8}, 0xFFF80000u},
      {"R5G6B5 0x07E0", 4, {0xE0, 0x07}, 0xFF00FC00u},
      {"R5G6B5 0x0821", 4, {0x21, 0x08}, 0xFF080408u},
      {"R8G8B8", 5, {0x33, 0x22, 0x11}, 0xFF112233u},
      {"A4R4G4B4 0xF0F0", 6, {0xF0, 0xF0}, 0xF000F000u},
      {"A4R4G4B4 0x1234", 6, {0x34, 0x12}, 0x10203040u},
      {"A8", 10, {0x7B}, 0x7BFFFFFFu},
      {"L8", 11, {0x5A}, 0xFF5A5A5Au},
      {"A8L8", 12, {0x66, 0x99}, 0x99666666u},
      {"R32F", 19, {0x00, 0x00, 0x80, 0x3F}, 0u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    TextureObject t{};
    ASSERT_TRUE(gfx_create_texture(&t, c.code, 2, 2));
    EXPECT_EQ(t.device_format, gfx_format_by_index(c.code));
    // The texel goes to (1, 1); (0, 0) keeps the zeroed texture's first texel.
    EXPECT_TRUE(gfx_copy_to_texture(&t, 1, 1, 1, 1, c.bytes));
    EXPECT_EQ(gfx_read_texel(&t, 1, 1), c.argb);
    EXPECT_EQ(gfx_read_texel(&t, 5, 5), c.argb);
    gfx_release_texture_pair(&t);
  }
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
  // Render targets are clamped in U and V (bits 1 and 4), made in the device's
  // format byte 21 with 32 bits a texel; managed textures wrap.
  EXPECT_EQ(t.flags, 0x12);
  EXPECT_EQ(t.format, 21);
  EXPECT_EQ(t.bits, 32);
  // Binding it makes it the current target with its size.
  GpuDevice* d = gfx_device();
  gfx_set_render_target_object(0, &t);
  EXPECT_EQ(gfx_current_target_record()->surface, t.surface);
  EXPECT_EQ(gfx_target_width(), 32);
  EXPECT_EQ(gfx_target_height(), 16);
  GpuSurface* bound = nullptr;
  ASSERT_EQ(gpu_get_render_target(d, 0, &bound), GPU_OK);
  EXPECT_EQ(bound, t.surface);
  gpu_surface_release(bound);
  gfx_set_render_target_object(gfx_max_render_targets(), &t);  // no such target: nothing
  gfx_set_render_target_object(0, nullptr);
  EXPECT_EQ(gfx_target_width(), 0);
  gfx_release_texture_pair(&t);
  EXPECT_EQ(t.width, 0);
  TextureObject m{};
  ASSERT_TRUE(gfx_create_texture(&m, 1, 8, 4));
  EXPECT_EQ(m.kind, TEXTURE_KIND_MANAGED);
  EXPECT_EQ(m.flags, 0);
  EXPECT_EQ(m.format, 22);
  EXPECT_EQ(m.bits, 32);
  EXPECT_EQ(m.image_width, 0);
  gfx_release_render_texture(&m);  // not a render target: kept
  EXPECT_NE(m.texture, nullptr);
  gfx_release_texture_pair(&m);
  EXPECT_FALSE(gfx_create_texture(nullptr, 0, 4, 4));
  EXPECT_FALSE(gfx_create_texture(&m, 0, -4, 4));
  EXPECT_FALSE(gfx_create_render_target(&m, 0, 0, 4));

  // Depth surfaces give up their surface and make it again at their size.
  DepthSurfaceObject depth{};
  ASSERT_EQ(gfx_create_depth_surface(&depth, GPU_FMT_D24S8, 20, 10), 1);
  EXPECT_EQ(depth.bits, 32);
  gfx_depth_on_lost(&depth);
  EXPECT_EQ(depth.surface, nullptr);
  EXPECT_EQ(depth.width, 20);
  gfx_depth_on_reset(&depth);
  ASSERT_NE(depth.surface, nullptr);
  EXPECT_EQ(depth.height, 10);
  EXPECT_EQ(depth.format, uint32_t(GPU_FMT_D24S8));
  gfx_release_surface_pair(&depth);
  EXPECT_EQ(depth.width, 0);
  EXPECT_EQ(gfx_create_depth_surface(&depth, GPU_FMT_D16, 0, 10), 0);
  // The saved back-buffer record lets its surface go and takes it again.
  gfx_on_lost_surfaces();
  EXPECT_EQ(gfx_saved_back_buffer_record()->surface, nullptr);
  gfx_on_reset_surfaces();
  EXPECT_NE(gfx_saved_back_buffer_record()->surface, nullptr);
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
