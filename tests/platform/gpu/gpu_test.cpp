// The drawing device on OpenGL: coverage, sampling, clears, viewport and
// scissor, depth, render targets and textures, read back from the target.
#include <algorithm>
#include <cstring>

#include "platform/gpu/gpu_fixture.h"

namespace {

uint32_t rgb(uint32_t argb) { return argb & 0xFFFFFF; }

}  // namespace

using GpuDeviceTest = GpuFixture;

TEST_F(GpuDeviceTest, ClearWritesTheColourOverTheViewportOnly) {
  ASSERT_EQ(gpu_clear(device, GPU_CLEAR_TARGET, 0x00000000, 1, 0), GPU_OK);
  gpu_set_viewport(device, GpuViewport{8, 4, 16, 10, 0, 1});
  // The depth and stencil flags name surfaces that are not bound: ignored.
  ASSERT_EQ(gpu_clear(device, GPU_CLEAR_TARGET | GPU_CLEAR_ZBUFFER | GPU_CLEAR_STENCIL, 0x00336699, 1, 0), GPU_OK);
  std::vector<uint32_t> px = read_back();
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      bool inside = x >= 8 && x < 24 && y >= 4 && y < 14;
      ASSERT_EQ(rgb(px[size_t(y * kWidth + x)]), inside ? 0x336699u : 0u) << x << "," << y;
    }
}

TEST_F(GpuDeviceTest, PretransformedRectangleCoversExactlyItsPixels) {
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  set_sprite_states(device);
  draw_quad(10, 5, 7, 9, 0xFFFF0000);
  std::vector<uint32_t> px = read_back();
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      bool inside = x >= 10 && x < 17 && y >= 5 && y < 14;
      ASSERT_EQ(rgb(px[size_t(y * kWidth + x)]), inside ? 0xFF0000u : 0u) << x << "," << y;
    }
}

TEST_F(GpuDeviceTest, PointFilteringSamplesTexelCentres) {
  std::vector<uint32_t> texels(16);
  for (int i = 0; i < 16; ++i) texels[size_t(i)] = 0xFF000000u | uint32_t(i * 16) << 16 | uint32_t(255 - i * 16);
  GpuTexture* t = make_texture(4, 4, texels);
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  set_sprite_states(device);
  gpu_set_texture(device, 0, t);
  draw_quad(4, 4, 4, 4, 0xFFFFFFFF);    // 1:1
  draw_quad(20, 4, 8, 8, 0xFFFFFFFF);   // 2:1
  std::vector<uint32_t> px = read_back();
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(px[size_t((4 + y) * kWidth + 4 + x)], texels[size_t(y * 4 + x)]);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(px[size_t((4 + y) * kWidth + 20 + x)], texels[size_t(y / 2 * 4 + x / 2)]) << x << "," << y;
  gpu_set_texture(device, 0, nullptr);
  gpu_texture_release(t);
}

TEST_F(GpuDeviceTest, StagesWithoutTextureReadWhite) {
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  set_sprite_states(device);
  gpu_set_stage_state(device, 1, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  gpu_set_stage_state(device, 1, GPU_TSS_COLORARG1, GPU_TA_CURRENT);
  gpu_set_stage_state(device, 1, GPU_TSS_COLORARG2, GPU_TA_TEXTURE);
  gpu_set_stage_state(device, 1, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  gpu_set_stage_state(device, 1, GPU_TSS_ALPHAARG1, GPU_TA_CURRENT);
  gpu_set_stage_state(device, 1, GPU_TSS_ALPHAARG2, GPU_TA_TEXTURE);
  draw_quad(2, 2, 6, 6, 0xFF4080C0);
  EXPECT_EQ(rgb(pixel(4, 4)), 0x4080C0u);
}

TEST_F(GpuDeviceTest, ScissorAndViewportUseTopLeftCoordinates) {
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  set_sprite_states(device);
  gpu_set_render_state(device, GPU_RS_SCISSORTESTENABLE, 1);
  // Empty rectangles are taken (they pass nothing); turned ones are refused.
  const struct {
    GpuRect r;
    GpuResult result;
  } rects[] = {{{3, 2, 3, 7}, GPU_OK}, {{3, 2, 13, 2}, GPU_OK}, {{3, 2, 2, 7}, GPU_INVALID_CALL},
               {{3, 2, 13, 1}, GPU_INVALID_CALL}};
  for (const auto& c : rects) EXPECT_EQ(gpu_set_scissor_rect(device, c.r), c.result) << c.r.left << " " << c.r.right;
  draw_quad(0, 0, kWidth, kHeight, 0xFF00FF00);
  EXPECT_EQ(rgb(pixel(3, 2)), 0u);  // under the last empty rectangle taken
  gpu_set_scissor_rect(device, GpuRect{3, 2, 13, 7});
  draw_quad(0, 0, kWidth, kHeight, 0xFF00FF00);
  gpu_set_render_state(device, GPU_RS_SCISSORTESTENABLE, 0);
  // A clip-space square filling the viewport lands on the viewport's pixels.
  gpu_set_viewport(device, GpuViewport{40, 30, 8, 6, 0, 1});
  struct V {
    float x, y, z;
    uint32_t c;
  } v[4] = {{-1, 1, 0.5f, 0xFF0000FF}, {1, 1, 0.5f, 0xFF0000FF}, {-1, -1, 0.5f, 0xFF0000FF}, {1, -1, 0.5f, 0xFF0000FF}};
  gpu_set_fvf(device, GPU_FVF_XYZ | GPU_FVF_DIFFUSE);
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_SELECTARG1);
  gpu_set_stage_state(device, 0, GPU_TSS_COLORARG1, GPU_TA_DIFFUSE);
  ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLESTRIP, 2, v, sizeof(V)), GPU_OK);
  std::vector<uint32_t> px = read_back();
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      uint32_t want = 0;
      if (x >= 3 && x < 13 && y >= 2 && y < 7) want = 0x00FF00;
      if (x >= 40 && x < 48 && y >= 30 && y < 36) want = 0x0000FF;
      ASSERT_EQ(rgb(px[size_t(y * kWidth + x)]), want) << x << "," << y;
    }
}

TEST_F(GpuDeviceTest, ClipSpaceTopIsTheTopRowAndClockwiseIsFront) {
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  gpu_set_render_state(device, GPU_RS_LIGHTING, 0);
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_SELECTARG1);
  gpu_set_stage_state(device, 0, GPU_TSS_COLORARG1, GPU_TA_DIFFUSE);
  gpu_set_fvf(device, GPU_FVF_XYZ | GPU_FVF_DIFFUSE);
  struct V {
    float x, y, z;
    uint32_t c;
  };
  // Upper half of the screen, clockwise as seen: drawn under the default
  // counter-clockwise culling.
  V cw[3] = {{-1, 1, 0, 0xFFFF0000}, {1, 1, 0, 0xFFFF0000}, {-1, 0, 0, 0xFFFF0000}};
  V ccw[3] = {{-1, -1, 0, 0xFF00FF00}, {1, -1, 0, 0xFF00FF00}, {-1, 0, 0, 0xFF00FF00}};
  ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLELIST, 1, cw, sizeof(V)), GPU_OK);
  gpu_set_fvf(device, GPU_FVF_XYZ | GPU_FVF_DIFFUSE);
  ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLELIST, 1, ccw, sizeof(V)), GPU_OK);
  EXPECT_EQ(rgb(pixel(2, 2)), 0xFF0000u);
  EXPECT_EQ(rgb(pixel(2, kHeight - 3)), 0u);  // culled
}

TEST_F(GpuDeviceTest, DepthTestUsesTheCompareFunctionOnZeroToOneDepth) {
  GpuSurface* depth = nullptr;
  ASSERT_EQ(gpu_create_depth_surface(device, kWidth, kHeight, GPU_FMT_D24S8, 0, 0, true, &depth), GPU_OK);
  gpu_set_depth_surface(device, depth);
  set_sprite_states(device);
  gpu_set_render_state(device, GPU_RS_ZENABLE, 1);
  gpu_set_render_state(device, GPU_RS_ZFUNC, GPU_CMP_LESS);
  gpu_clear(device, GPU_CLEAR_TARGET | GPU_CLEAR_ZBUFFER, 0, 0.5f, 0);
  draw_quad(0, 0, 8, 8, 0xFFFF0000, 0, 0, 1, 1, 0.25f);  // nearer: drawn
  draw_quad(8, 0, 8, 8, 0xFFFF0000, 0, 0, 1, 1, 0.75f);  // farther: hidden
  EXPECT_EQ(rgb(pixel(4, 4)), 0xFF0000u);
  EXPECT_EQ(rgb(pixel(12, 4)), 0u);
  gpu_set_depth_surface(device, nullptr);
  gpu_surface_release(depth);
}

TEST_F(GpuDeviceTest, DepthFormatsMakeDepthSurfacesAndSayWhetherTheyHoldStencil) {
  const struct {
    GpuFormat format;
    bool depth, stencil;
  } cases[] = {
      {GPU_FMT_D16, true, false},       {GPU_FMT_D16_LOCKABLE, true, false}, {GPU_FMT_D24X8, true, false},
      {GPU_FMT_D32, true, false},       {GPU_FMT_D32F_LOCKABLE, true, false}, {GPU_FMT_D24S8, true, true},
      {GPU_FMT_D24X4S4, true, true},    {GPU_FMT_D15S1, true, true},         {GPU_FMT_D24FS8, true, true},
      {GPU_FMT_A8R8G8B8, false, false}, {GPU_FMT_R5G6B5, false, false},      {GPU_FMT_DXT1, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.format));
    EXPECT_EQ(gpu_format_is_depth(c.format), c.depth);
    EXPECT_EQ(gpu_format_has_stencil(c.format), c.stencil);
    EXPECT_EQ(gpu_check_format(GPU_DEVICE_HAL, GPU_FMT_X8R8G8B8, GPU_USAGE_DEPTHSTENCIL, GPU_RTYPE_SURFACE, c.format),
              c.depth ? GPU_OK : GPU_NOT_AVAILABLE);
    GpuSurface* s = nullptr;
    EXPECT_EQ(gpu_create_depth_surface(device, 8, 8, c.format, 0, 0, true, &s), c.depth ? GPU_OK : GPU_INVALID_CALL);
    if (s != nullptr) gpu_surface_release(s);
  }
}

TEST_F(GpuDeviceTest, RenderTargetTextureDrawsAndSamples) {
  GpuTexture* rt = nullptr;
  ASSERT_EQ(gpu_create_texture(device, 16, 16, 1, GPU_USAGE_RENDERTARGET, GPU_FMT_A8R8G8B8, GPU_POOL_DEFAULT, &rt),
            GPU_OK);
  GpuSurface* surf = nullptr;
  ASSERT_EQ(gpu_texture_surface(rt, 0, &surf), GPU_OK);
  GpuSurface* bb = nullptr;
  gpu_get_render_target(device, 0, &bb);
  ASSERT_EQ(gpu_set_render_target(device, 0, surf), GPU_OK);
  EXPECT_EQ(gpu_get_viewport(device).width, 16u);
  std::vector<uint32_t> texels(256);
  ASSERT_EQ(gpu_read_surface(device, surf, GpuRect{0, 0, 16, 16}, texels.data()), GPU_OK);
  EXPECT_EQ(texels[0], 0u);  // a new target holds zeros
  gpu_clear(device, GPU_CLEAR_TARGET, 0x80102030, 1, 0);
  set_sprite_states(device);
  draw_quad(0, 0, 8, 4, 0xFFFFFFFF);  // top-left corner, white
  ASSERT_EQ(gpu_read_surface(device, surf, GpuRect{0, 0, 16, 16}, texels.data()), GPU_OK);
  EXPECT_EQ(texels[0], 0xFFFFFFFFu);
  EXPECT_EQ(texels[15], 0x80102030u);
  gpu_set_render_target(device, 0, bb);
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  gpu_set_texture(device, 0, rt);
  draw_quad(0, 0, 16, 16, 0xFFFFFFFF);
  EXPECT_EQ(pixel(1, 1), 0xFFFFFFFFu);  // the target's top row is the top row
  EXPECT_EQ(rgb(pixel(1, 10)), 0x102030u);
  gpu_set_texture(device, 0, nullptr);
  gpu_surface_release(bb);
  gpu_surface_release(surf);
  gpu_texture_release(rt);
}

TEST_F(GpuDeviceTest, TexturesStartZeroedAndLockChecksTheRectangle) {
  GpuTexture* t = nullptr;
  ASSERT_EQ(gpu_create_texture(device, 5, 3, 0, 0, GPU_FMT_A8R8G8B8, GPU_POOL_MANAGED, &t), GPU_OK);
  EXPECT_EQ(gpu_texture_level_count(t), 3u);
  GpuSurfaceDesc desc;
  ASSERT_EQ(gpu_texture_level_desc(t, 2, &desc), GPU_OK);
  EXPECT_EQ(desc.width, 1u);
  EXPECT_EQ(desc.height, 1u);
  GpuLockedRect lr;
  ASSERT_EQ(gpu_texture_lock(t, 0, nullptr, &lr, GPU_LOCK_READONLY), GPU_OK);
  EXPECT_EQ(lr.pitch, 20);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(static_cast<uint32_t*>(lr.bits)[i], 0u);
  EXPECT_EQ(gpu_texture_lock(t, 0, nullptr, &lr, 0), GPU_INVALID_CALL);  // already locked
  gpu_texture_unlock(t, 0);
  const GpuRect bad[] = {{-1, 0, 2, 2}, {0, 0, 6, 1}, {0, 2, 5, 4}, {3, 0, 3, 1}, {0, 0, INT32_MAX, 1}};
  for (const GpuRect& r : bad) EXPECT_EQ(gpu_texture_lock(t, 0, &r, &lr, 0), GPU_INVALID_CALL);
  gpu_texture_release(t);
  // A compressed texture locks whole 4 x 4 blocks: the second block of the
  // second row of blocks lies one row (two blocks) and one block further.
  ASSERT_EQ(gpu_create_texture(device, 8, 8, 1, 0, GPU_FMT_DXT1, GPU_POOL_MANAGED, &t), GPU_OK);
  GpuLockedRect whole;
  ASSERT_EQ(gpu_texture_lock(t, 0, nullptr, &whole, GPU_LOCK_READONLY), GPU_OK);
  gpu_texture_unlock(t, 0);
  const GpuRect block{4, 4, 8, 8};
  ASSERT_EQ(gpu_texture_lock(t, 0, &block, &lr, GPU_LOCK_READONLY), GPU_OK);
  EXPECT_EQ(lr.pitch, 16);
  EXPECT_EQ(static_cast<uint8_t*>(lr.bits) - static_cast<uint8_t*>(whole.bits), 24);
  gpu_texture_unlock(t, 0);
  const GpuRect unaligned{2, 0, 6, 4};
  EXPECT_EQ(gpu_texture_lock(t, 0, &unaligned, &lr, 0), GPU_INVALID_CALL);
  gpu_texture_release(t);
}

TEST_F(GpuDeviceTest, LostDeviceRefusesPresentUntilReset) {
  // The last frame was white and drawn under a one-pixel scissor.
  gpu_clear(device, GPU_CLEAR_TARGET, 0xFFFFFFFF, 1, 0);
  set_sprite_states(device);
  gpu_set_render_state(device, GPU_RS_SCISSORTESTENABLE, 1);
  gpu_set_scissor_rect(device, GpuRect{0, 0, 1, 1});
  draw_quad(0, 0, kWidth, kHeight, 0xFF00FF00);
  gpu_debug_lose_device(device, GpuLossScript{1, true, 1});
  EXPECT_EQ(gpu_present(device), GPU_DEVICE_LOST);
  EXPECT_EQ(gpu_test_cooperative_level(device), GPU_DEVICE_LOST);
  EXPECT_EQ(gpu_test_cooperative_level(device), GPU_DEVICE_NOT_RESET);
  GpuPresentParams p{};
  p.windowed = true;
  p.window = window;
  EXPECT_EQ(gpu_reset(device, &p), GPU_DEVICE_LOST);  // the scripted failure
  gpu_set_render_state(device, GPU_RS_ALPHABLENDENABLE, 1);
  EXPECT_EQ(gpu_reset(device, &p), GPU_OK);
  EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ALPHABLENDENABLE), 0u);
  std::vector<uint32_t> px = read_back();
  for (size_t i = 0; i < px.size(); ++i) ASSERT_EQ(rgb(px[i]), 0u) << "a new back buffer starts black, pixel " << i;
  EXPECT_EQ(gpu_test_cooperative_level(device), GPU_OK);
  EXPECT_EQ(gpu_present(device), GPU_OK);
}

TEST_F(GpuDeviceTest, TraceRecordsEachDrawWithItsStates) {
  gpu_trace_enable(device, true);
  set_sprite_states(device);
  gpu_set_render_state(device, GPU_RS_ALPHABLENDENABLE, 1);
  draw_quad(0, 0, 4, 4, 0xFFFFFFFF);
  draw_quad(0, 0, 4, 4, 0xFFFFFFFF);
  ASSERT_EQ(gpu_present(device), GPU_OK);
  size_t n = 0;
  const GpuTraceDraw* t = gpu_trace_last_frame(device, &n);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(t[0].type, GPU_PT_TRIANGLELIST);
  EXPECT_EQ(t[0].primitive_count, 2u);
  EXPECT_EQ(t[0].fvf, kTestFvf);
  EXPECT_EQ(t[0].render_states[GPU_RS_ALPHABLENDENABLE], 1u);
  gpu_trace_current_frame(device, &n);
  EXPECT_EQ(n, 0u);
}

TEST_F(GpuDeviceTest, DirectionalLightAndVertexFogShadeTransformedVertices) {
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_SELECTARG1);
  gpu_set_stage_state(device, 0, GPU_TSS_COLORARG1, GPU_TA_DIFFUSE);
  gpu_set_render_state(device, GPU_RS_CULLMODE, GPU_CULL_NONE);
  GpuMaterial m{};
  m.diffuse = {1, 1, 1, 1};
  m.ambient = {1, 1, 1, 1};
  gpu_set_material(device, m);
  gpu_set_render_state(device, GPU_RS_AMBIENT, 0xFF000040);
  struct V {
    float x, y, z, nx, ny, nz;
  } v[4] = {{-1, 1, 0.5f, 0, 0, -1}, {0, 1, 0.5f, 0, 0, -1}, {-1, 0, 0.5f, 0, 0, -1}, {0, 0, 0.5f, 0, 0, -1}};
  gpu_set_fvf(device, GPU_FVF_XYZ | GPU_FVF_NORMAL);
  // A light enabled before any is set is the default one: white, along +z.
  gpu_light_enable(device, 0, true);
  ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLESTRIP, 2, v, sizeof(V)), GPU_OK);
  EXPECT_EQ(rgb(pixel(4, 4)), 0xFFFFFFu);

  GpuLight light{};
  light.type = GPU_LIGHT_DIRECTIONAL;
  light.diffuse = {1, 0, 0, 1};
  light.direction[2] = 1;  // looking along +z, as the camera does
  gpu_set_light(device, 0, light);
  ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLESTRIP, 2, v, sizeof(V)), GPU_OK);
  EXPECT_EQ(rgb(pixel(4, 4)), 0xFF0040u);  // the light's red plus the ambient blue

  // Linear vertex fog halfway between start and end.
  gpu_set_render_state(device, GPU_RS_LIGHTING, 0);
  gpu_set_render_state(device, GPU_RS_FOGENABLE, 1);
  gpu_set_render_state(device, GPU_RS_FOGVERTEXMODE, GPU_FOG_LINEAR);
  gpu_set_render_state(device, GPU_RS_FOGSTART, gpu_float_bits(0.0f));
  gpu_set_render_state(device, GPU_RS_FOGEND, gpu_float_bits(1.0f));
  gpu_set_render_state(device, GPU_RS_FOGCOLOR, 0x000000FF);
  struct C {
    float x, y, z;
    uint32_t c;
  } c[4] = {{0, 0, 0.5f, 0xFFFF0000}, {1, 0, 0.5f, 0xFFFF0000}, {0, -1, 0.5f, 0xFFFF0000}, {1, -1, 0.5f, 0xFFFF0000}};
  gpu_set_fvf(device, GPU_FVF_XYZ | GPU_FVF_DIFFUSE);
  ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLESTRIP, 2, c, sizeof(C)), GPU_OK);
  uint32_t p = pixel(kWidth - 4, kHeight - 4);
  EXPECT_NEAR(int((p >> 16) & 0xFF), 128, 2);
  EXPECT_NEAR(int(p & 0xFF), 128, 2);
}

// A quad at z = 0.5 with its corners at (+-0.5, +-0.5), lit by a red light
// half a unit in front of the camera, looking along +z. Every corner is
// sqrt(1.5) from the light, about 35.26 degrees off its axis, and turns
// cos = 1 / sqrt(1.5) of its face to it: the centre shows one corner's light.
TEST_F(GpuDeviceTest, PointAndSpotLightsFollowRangeAttenuationAndCones) {
  struct Case {
    const char* name;
    uint32_t type;
    float theta_deg, phi_deg, falloff, range, a0, a1, a2, view_z;
    int red;
  };
  const Case cases[] = {
      {"point, constant attenuation", GPU_LIGHT_POINT, 0, 0, 0, 2, 1, 0, 0, 0, 208},
      {"point, out of range", GPU_LIGHT_POINT, 0, 0, 0, 1, 1, 0, 0, 0, 0},
      {"point, constant attenuation 2", GPU_LIGHT_POINT, 0, 0, 0, 2, 2, 0, 0, 0, 104},
      {"point, linear attenuation", GPU_LIGHT_POINT, 0, 0, 0, 2, 0, 1, 0, 0, 170},
      {"point, quadratic attenuation", GPU_LIGHT_POINT, 0, 0, 0, 2, 0, 0, 1, 0, 139},
      {"point, the view carries the light along", GPU_LIGHT_POINT, 0, 0, 0, 2, 1, 0, 0, 0.25f, 208},
      {"spot, inside the inner cone", GPU_LIGHT_SPOT, 100, 120, 1, 2, 1, 0, 0, 0, 208},
      {"spot, outside the outer cone", GPU_LIGHT_SPOT, 40, 60, 1, 2, 1, 0, 0, 0, 0},
      {"spot, between the cones", GPU_LIGHT_SPOT, 40, 120, 1, 2, 1, 0, 0, 0, 150},
      {"spot, between the cones, falloff 2", GPU_LIGHT_SPOT, 40, 120, 2, 2, 1, 0, 0, 0, 108},
  };
  const float kRad = 3.14159265f / 180;
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_SELECTARG1);
  gpu_set_stage_state(device, 0, GPU_TSS_COLORARG1, GPU_TA_DIFFUSE);
  gpu_set_render_state(device, GPU_RS_CULLMODE, GPU_CULL_NONE);
  GpuMaterial m{};
  m.diffuse = {1, 1, 1, 1};
  gpu_set_material(device, m);
  gpu_set_fvf(device, GPU_FVF_XYZ | GPU_FVF_NORMAL);
  gpu_light_enable(device, 0, true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    float view[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, c.view_z, 1};
    gpu_set_transform(device, GPU_TS_VIEW, view);
    GpuLight light{};
    light.type = c.type;
    light.diffuse = {1, 0, 0, 1};
    light.position[2] = -0.5f;
    light.direction[2] = 2;  // not of unit length: the device normalises it
    light.range = c.range;
    light.falloff = c.falloff;
    light.attenuation0 = c.a0;
    light.attenuation1 = c.a1;
    light.attenuation2 = c.a2;
    light.theta = c.theta_deg * kRad;
    light.phi = c.phi_deg * kRad;
    ASSERT_EQ(gpu_set_light(device, 0, light), GPU_OK);
    gpu_clear(device, GPU_CLEAR_TARGET, 0x0000FF, 1, 0);
    struct V {
      float x, y, z, nx, ny, nz;
    } v[4] = {{-0.5f, 0.5f, 0.5f, 0, 0, -1},
              {0.5f, 0.5f, 0.5f, 0, 0, -1},
              {-0.5f, -0.5f, 0.5f, 0, 0, -1},
              {0.5f, -0.5f, 0.5f, 0, 0, -1}};
    ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLESTRIP, 2, v, sizeof(V)), GPU_OK);
    uint32_t p = pixel(kWidth / 2, kHeight / 2);
    EXPECT_NEAR(int(p >> 16 & 0xFF), c.red, 2);
    EXPECT_EQ(p & 0xFFFF, 0u);  // drawn over the blue clear, no ambient
  }
}

TEST_F(GpuDeviceTest, ImmediateDrawsCopyOnlyTheVerticesTheyUse) {
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  set_sprite_states(device);
  // Indices 100..103 with min_index 100: only those four vertices are read.
  std::vector<TestVertex> v(104);
  const float l = 1.5f, t = 1.5f, r = 5.5f, b = 5.5f;
  v[100] = {l, t, 0, 1, 0xFF00FF00, 0, 0, 0, 0};
  v[101] = {r, t, 0, 1, 0xFF00FF00, 1, 0, 1, 0};
  v[102] = {l, b, 0, 1, 0xFF00FF00, 0, 1, 0, 1};
  v[103] = {r, b, 0, 1, 0xFF00FF00, 1, 1, 1, 1};
  const uint16_t idx[6] = {100, 101, 102, 103, 102, 101};
  gpu_set_fvf(device, kTestFvf);
  ASSERT_EQ(gpu_draw_indexed_primitive_up(device, GPU_PT_TRIANGLELIST, 100, 4, 2, idx, GPU_FMT_INDEX16, v.data(),
                                          sizeof(TestVertex)),
            GPU_OK);
  EXPECT_EQ(rgb(pixel(3, 3)), 0x00FF00u);
  // A fan of the same four corners.
  const TestVertex fan[4] = {{l, t, 0, 1, 0xFF0000FF, 0, 0, 0, 0},
                             {r, t, 0, 1, 0xFF0000FF, 1, 0, 1, 0},
                             {r, b, 0, 1, 0xFF0000FF, 1, 1, 1, 1},
                             {l, b, 0, 1, 0xFF0000FF, 0, 1, 0, 1}};
  ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLEFAN, 2, fan, sizeof(TestVertex)), GPU_OK);
  EXPECT_EQ(rgb(pixel(3, 3)), 0x0000FFu);
  EXPECT_EQ(rgb(pixel(4, 4)), 0x0000FFu);
  EXPECT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLELIST, 1, nullptr, 36), GPU_INVALID_CALL);
  EXPECT_EQ(gpu_draw_primitive_up(device, GpuPrimitive(9), 1, v.data(), 36), GPU_INVALID_CALL);
}

// Immediate draws of more than a stream buffer (128 KB) holds, in one frame
// or presented one by one: each draw is filler (degenerate triangles) then a
// one-pixel quad of its own colour, so a draw that read another's data shows
// as a wrong pixel. Buffers written frames before are written again as they
// are; one written this frame is made anew; an index draw larger than a
// buffer grows it.
TEST_F(GpuDeviceTest, ImmediateDrawsKeepTheirDataAcrossStreamBufferTurns) {
  struct Case {
    const char* name;
    bool indexed;
    uint32_t filler;  // degenerate vertices, or indices when indexed
    int draws;
    bool present_each;
  };
  // In this order: the buffers only grow.
  const Case cases[] = {
      {"vertex draws over both buffers, a frame each", false, 2001, 24, true},
      {"index draws over both buffers, a frame each", true, 40002, 12, true},
      {"vertex draws over both buffers in one frame", false, 2001, 24, false},
      {"index draws over both buffers in one frame", true, 40002, 12, false},
      {"an index draw larger than a buffer", true, 1200000, 2, false},
  };
  set_sprite_states(device);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
    for (int i = 0; i < c.draws; ++i) {
      const uint32_t colour = 0xFF000080u | uint32_t(0x10 + i * 8) << 16;
      const float x = float(2 * i) - 0.5f, y = -0.5f;
      const TestVertex quad[4] = {{x, y, 0, 1, colour, 0, 0, 0, 0},
                                  {x + 1, y, 0, 1, colour, 0, 0, 0, 0},
                                  {x, y + 1, 0, 1, colour, 0, 0, 0, 0},
                                  {x + 1, y + 1, 0, 1, colour, 0, 0, 0, 0}};
      const uint16_t corners[6] = {0, 1, 2, 3, 2, 1};
      gpu_set_fvf(device, kTestFvf);
      if (c.indexed) {
        std::vector<uint16_t> indices(c.filler, 0);
        indices.insert(indices.end(), corners, corners + 6);
        ASSERT_EQ(gpu_draw_indexed_primitive_up(device, GPU_PT_TRIANGLELIST, 0, 4, uint32_t(indices.size() / 3),
                                                indices.data(), GPU_FMT_INDEX16, quad, sizeof(TestVertex)),
                  GPU_OK);
      } else {
        std::vector<TestVertex> v(c.filler, TestVertex{0, 0, 0, 1, 0, 0, 0, 0, 0});
        for (uint16_t k : corners) v.push_back(quad[k]);
        ASSERT_EQ(
            gpu_draw_primitive_up(device, GPU_PT_TRIANGLELIST, uint32_t(v.size() / 3), v.data(), sizeof(TestVertex)),
            GPU_OK);
      }
      if (c.present_each) {
        ASSERT_EQ(gpu_present(device), GPU_OK);
      }
    }
    const std::vector<uint32_t> px = read_back();
    for (int i = 0; i < c.draws; ++i) {
      EXPECT_EQ(rgb(px[size_t(2 * i)]), 0x000080u | uint32_t(0x10 + i * 8) << 16) << "draw " << i;
    }
  }
}

TEST_F(GpuDeviceTest, BufferDrawsReadTheBoundStreamAndIndices) {
  gpu_set_render_state(device, GPU_RS_LIGHTING, 0);
  gpu_set_render_state(device, GPU_RS_CULLMODE, GPU_CULL_NONE);
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_SELECTARG1);
  gpu_set_stage_state(device, 0, GPU_TSS_COLORARG1, GPU_TA_DIFFUSE);
  struct V {
    float x, y, z, rhw;
    uint32_t c;
  };
  // Two quads: one drawn as a strip from vertex 4, one through indices with
  // a base vertex of 8.
  std::vector<V> verts(12);
  auto quad_at = [&](size_t first, float x, uint32_t colour) {
    verts[first + 0] = {x - 0.5f, -0.5f, 0, 1, colour};
    verts[first + 1] = {x + 3.5f, -0.5f, 0, 1, colour};
    verts[first + 2] = {x - 0.5f, 3.5f, 0, 1, colour};
    verts[first + 3] = {x + 3.5f, 3.5f, 0, 1, colour};
  };
  quad_at(4, 0, 0xFFFF0000);
  quad_at(8, 8, 0xFF0000FF);
  const uint16_t idx[6] = {0, 1, 2, 3, 2, 1};
  // Each buffer written in one lock of the whole, or in two: the second
  // starts at a non-zero offset and runs to the end (size 0).
  const struct {
    const char* what;
    uint32_t vertex_split, index_split;  // bytes of the first lock; 0: one lock
  } fills[] = {{"one lock each", 0, 0}, {"the rest locked at an offset", 5 * sizeof(V), 6}};
  // Writes bytes through one lock of the whole buffer, or through a lock of
  // the first split bytes and one from there to the end.
  auto fill = [](auto* buffer, auto lock, auto unlock, const void* bytes, uint32_t size, uint32_t split) {
    uint32_t offset = 0;
    for (uint32_t end : {split ? split : size, size}) {
      if (end == offset) continue;
      void* p = nullptr;
      ASSERT_EQ(lock(buffer, offset, end == size ? 0 : end - offset, &p, 0), GPU_OK);
      std::memcpy(p, static_cast<const uint8_t*>(bytes) + offset, end - offset);
      ASSERT_EQ(unlock(buffer), GPU_OK);
      offset = end;
    }
  };
  // The same layout as a declaration of our own rather than an FVF code.
  const GpuVertexElement decl_elements[] = {{0, 0, GPU_DECL_FLOAT4, 0, GPU_USAGE_POSITIONT, 0},
                                            {0, 16, GPU_DECL_COLOR, 0, GPU_USAGE_COLOR, 0},
                                            GPU_DECL_END};
  GpuVertexDecl* decl = nullptr;
  ASSERT_EQ(gpu_create_vertex_decl(device, decl_elements, &decl), GPU_OK);
  for (const auto& f : fills) {
    SCOPED_TRACE(f.what);
    gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
    GpuVertexBuffer* vb = nullptr;
    const uint32_t vertex_bytes = uint32_t(verts.size() * sizeof(V));
    ASSERT_EQ(gpu_create_vertex_buffer(device, vertex_bytes, 0, 0, GPU_POOL_MANAGED, &vb), GPU_OK);
    fill(vb, gpu_vertex_buffer_lock, gpu_vertex_buffer_unlock, verts.data(), vertex_bytes, f.vertex_split);
    GpuIndexBuffer* ib = nullptr;
    ASSERT_EQ(gpu_create_index_buffer(device, sizeof idx, 0, GPU_FMT_INDEX16, GPU_POOL_MANAGED, &ib), GPU_OK);
    fill(ib, gpu_index_buffer_lock, gpu_index_buffer_unlock, idx, sizeof idx, f.index_split);
    gpu_set_vertex_decl(device, decl);
    gpu_set_stream_source(device, 0, vb, 0, sizeof(V));
    gpu_set_indices(device, ib);
    ASSERT_EQ(gpu_draw_primitive(device, GPU_PT_TRIANGLESTRIP, 4, 2), GPU_OK);
    ASSERT_EQ(gpu_draw_indexed_primitive(device, GPU_PT_TRIANGLELIST, 8, 0, 4, 0, 2), GPU_OK);
    // Past the end of the indices.
    EXPECT_EQ(gpu_draw_indexed_primitive(device, GPU_PT_TRIANGLELIST, 8, 0, 4, 4, 2), GPU_INVALID_CALL);
    // Both triangles of each quad.
    for (int corner : {0, 3}) {
      EXPECT_EQ(rgb(pixel(corner, corner)), 0xFF0000u) << corner;
      EXPECT_EQ(rgb(pixel(8 + corner, corner)), 0x0000FFu) << corner;
    }
    EXPECT_EQ(rgb(pixel(5, 1)), 0u);
    gpu_set_vertex_decl(device, nullptr);
    gpu_index_buffer_release(ib);
    gpu_vertex_buffer_release(vb);
  }
  gpu_vertex_decl_release(decl);
}

// The diffuse colour given as each element type of a declaration: the
// components a type lacks read (0, 0, 1) and the bytes after it (0x7F) are
// never read.
TEST_F(GpuDeviceTest, EachDeclarationTypeFeedsItsComponents) {
  struct Case {
    const char* name;
    uint8_t type;
    int size;  // bytes of the element
    uint8_t bytes[16];
    uint32_t rgb;
  };
  const Case cases[] = {
      {"float1", GPU_DECL_FLOAT1, 4, {0, 0, 0x80, 0x3F}, 0xFF0000u},
      {"float2", GPU_DECL_FLOAT2, 8, {0, 0, 0, 0, 0, 0, 0x80, 0x3F}, 0x00FF00u},
      {"float3", GPU_DECL_FLOAT3, 12, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3F}, 0x0000FFu},
      {"float4", GPU_DECL_FLOAT4, 16, {0, 0, 0, 0, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F}, 0x00FFFFu},
      {"color", GPU_DECL_COLOR, 4, {0x99, 0x66, 0x33, 0xFF}, 0x336699u},
      {"ubyte4", GPU_DECL_UBYTE4, 4, {1, 0, 0, 1}, 0xFF0000u},
      {"ubyte4n", GPU_DECL_UBYTE4N, 4, {0xFF, 0, 0xFF, 0xFF}, 0xFF00FFu},
      {"short2", GPU_DECL_SHORT2, 4, {1, 0, 0, 0}, 0xFF0000u},
      {"short4", GPU_DECL_SHORT4, 8, {0, 0, 1, 0, 1, 0, 1, 0}, 0x00FFFFu},
      {"short2n", GPU_DECL_SHORT2N, 4, {0xFF, 0x7F, 0, 0}, 0xFF0000u},
      {"short4n", GPU_DECL_SHORT4N, 8, {0, 0, 0xFF, 0x7F, 0, 0, 0xFF, 0x7F}, 0x00FF00u},
  };
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  set_sprite_states(device);
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_SELECTARG1);
  gpu_set_stage_state(device, 0, GPU_TSS_COLORARG1, GPU_TA_DIFFUSE);
  struct V {
    float x, y, z, rhw;
    uint8_t colour[16];
  };
  for (const Case& c : cases) {
    V v[4] = {{-0.5f, -0.5f, 0, 1, {}}, {3.5f, -0.5f, 0, 1, {}}, {-0.5f, 3.5f, 0, 1, {}}, {3.5f, 3.5f, 0, 1, {}}};
    for (V& e : v) {
      std::memset(e.colour, 0x7F, sizeof e.colour);
      std::memcpy(e.colour, c.bytes, size_t(c.size));
    }
    const GpuVertexElement elements[] = {{0, 0, GPU_DECL_FLOAT4, 0, GPU_USAGE_POSITIONT, 0},
                                         {0, 16, c.type, 0, GPU_USAGE_COLOR, 0},
                                         GPU_DECL_END};
    GpuVertexDecl* decl = nullptr;
    ASSERT_EQ(gpu_create_vertex_decl(device, elements, &decl), GPU_OK) << c.name;
    gpu_set_vertex_decl(device, decl);
    ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLESTRIP, 2, v, sizeof(V)), GPU_OK) << c.name;
    EXPECT_EQ(rgb(pixel(1, 1)), c.rgb) << c.name;
    gpu_set_vertex_decl(device, nullptr);
    gpu_vertex_decl_release(decl);
  }
}

TEST_F(GpuDeviceTest, EachTextureFormatSamplesAsItsChannelsSay) {
  struct Case {
    GpuFormat format;
    uint32_t texel[4];  // little-endian words of one texel, or of a compressed texture's first block
    uint32_t want;      // ARGB read back
    int block;          // bytes of a compressed block, 0 for others
  };
  const Case cases[] = {
      {GPU_FMT_A8R8G8B8, {0x80112233u}, 0x80112233u, 0},
      {GPU_FMT_X8R8G8B8, {0x00112233u}, 0xFF112233u, 0},
      {GPU_FMT_R8G8B8, {0x112233u}, 0xFF112233u, 0},
      {GPU_FMT_R5G6B5, {0xF800u}, 0xFFFF0000u, 0},
      {GPU_FMT_A1R5G5B5, {0x801Fu}, 0xFF0000FFu, 0},
      {GPU_FMT_X1R5G5B5, {0x03E0u}, 0xFF00FF00u, 0},
      {GPU_FMT_A4R4G4B4, {0x8F00u}, 0x88FF0000u, 0},
      {GPU_FMT_X4R4G4B4, {0x1F00u}, 0xFFFF0000u, 0},
      {GPU_FMT_R3G3B2, {0xE0u}, 0xFFFF0000u, 0},
      {GPU_FMT_L8, {0x40u}, 0xFF404040u, 0},
      {GPU_FMT_A8, {0x40u}, 0x40000000u, 0},
      {GPU_FMT_A8L8, {0x8040u}, 0x80404040u, 0},
      {GPU_FMT_L16, {0x4000u}, 0xFF404040u, 0},
      {GPU_FMT_A8B8G8R8, {0x80112233u}, 0x80332211u, 0},
      {GPU_FMT_X8B8G8R8, {0x00112233u}, 0xFF332211u, 0},
      {GPU_FMT_A2R10G10B10, {0x7FF00000u}, 0x55FF0000u, 0},
      {GPU_FMT_A2B10G10R10, {0x7FF00000u}, 0x550000FFu, 0},
      {GPU_FMT_G16R16, {0xFFFF0000u}, 0xFF00FFFFu, 0},
      {GPU_FMT_A16B16G16R16, {0x0000FFFFu, 0x80800000u}, 0x80FF0000u, 0},
      {GPU_FMT_R16F, {0x3400u}, 0xFF40FFFFu, 0},  // 0.25; the missing channels read one
      {GPU_FMT_G16R16F, {0x3400u}, 0xFF4000FFu, 0},
      {GPU_FMT_A16B16G16R16F, {0x34000000u, 0x3C000000u}, 0xFF004000u, 0},
      {GPU_FMT_R32F, {0x3E800000u}, 0xFF40FFFFu, 0},
      {GPU_FMT_G32R32F, {0, 0x3E800000u}, 0xFF0040FFu, 0},
      {GPU_FMT_A32B32G32R32F, {0, 0, 0x3E800000u, 0x3F800000u}, 0xFF000040u, 0},
      // Colour 0 of each block, and explicit or interpolated alpha.
      {GPU_FMT_DXT1, {0x0000F800u, 0}, 0xFFFF0000u, 8},
      {GPU_FMT_DXT2, {0x77777777u, 0x77777777u, 0x001Fu, 0}, 0x770000FFu, 16},
      {GPU_FMT_DXT3, {0x77777777u, 0x77777777u, 0x001Fu, 0}, 0x770000FFu, 16},
      {GPU_FMT_DXT4, {0x80u, 0, 0x07E0u, 0}, 0x8000FF00u, 16},
      {GPU_FMT_DXT5, {0x80u, 0, 0x07E0u, 0}, 0x8000FF00u, 16},
  };
  GpuTexture* rt = nullptr;
  ASSERT_EQ(gpu_create_texture(device, 4, 4, 1, GPU_USAGE_RENDERTARGET, GPU_FMT_A8R8G8B8, GPU_POOL_DEFAULT, &rt),
            GPU_OK);
  GpuSurface* surf = nullptr;
  gpu_texture_surface(rt, 0, &surf);
  GpuSurface* bb = nullptr;
  gpu_get_render_target(device, 0, &bb);
  gpu_set_render_target(device, 0, surf);
  set_sprite_states(device);
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_SELECTARG1);
  gpu_set_stage_state(device, 0, GPU_TSS_ALPHAOP, GPU_TOP_SELECTARG1);
  for (const Case& c : cases) {
    GpuTexture* t = nullptr;
    ASSERT_EQ(gpu_create_texture(device, 1, 1, 1, 0, c.format, GPU_POOL_MANAGED, &t), GPU_OK) << c.format;
    GpuLockedRect lr;
    ASSERT_EQ(gpu_texture_lock(t, 0, nullptr, &lr, 0), GPU_OK);
    if (c.block) {
      EXPECT_EQ(lr.pitch, c.block) << "format " << c.format;  // one block a row
      std::memcpy(lr.bits, c.texel, size_t(std::min(lr.pitch, c.block)));
    } else {
      ASSERT_LE(gpu_format_bytes(c.format), sizeof c.texel);
      std::memcpy(lr.bits, c.texel, gpu_format_bytes(c.format));
    }
    gpu_texture_unlock(t, 0);
    gpu_set_texture(device, 0, t);
    draw_quad(0, 0, 4, 4, 0xFFFFFFFF);
    uint32_t got = 0;
    gpu_read_surface(device, surf, GpuRect{1, 1, 2, 2}, &got);
    EXPECT_EQ(got, c.want) << "format " << c.format;
    gpu_set_texture(device, 0, nullptr);
    gpu_texture_release(t);
  }
  EXPECT_EQ(gpu_set_render_target(device, 0, nullptr), GPU_INVALID_CALL);  // target 0 is never none
  gpu_set_render_target(device, 0, bb);
  gpu_surface_release(bb);
  gpu_surface_release(surf);
  gpu_texture_release(rt);
}
