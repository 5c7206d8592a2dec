#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "assets/asset_registry.h"
#include "assets/textures.h"
#include "graphics_session.h"
#include "render/device/gfx_resources.h"
#include "render/device/shaders.h"
#include "render/graphics/graphics.h"
#include "render/left_states.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"
#include "render/world/prim3d.h"
#include "render/world/sprite3d.h"
#include "scene3d/part_render.h"

namespace {

constexpr int kW = 160, kH = 120;
constexpr int kCx = kW / 2, kCy = kH / 2;
constexpr uint8_t kDrawnLayer = 30;
constexpr float kHalfPi = 1.57079633f;

// The whole graphics start-up on a hidden window. View 0 looks from
// (0, 0, -10) at the origin with a vertical field of 90 degrees, so one
// world unit at the origin is 6 pixels (60 pixels for 10 units).
class Sprite3dDraw : public GraphicsSession {
 protected:
  void SetUp() override {
    start_graphics(kW, kH, "sprite3d test");
    gfx_set_clear_colour(0xFF000000u);
    const Vec3 eye{0, 0, -10}, target{0, 0, 0}, up{0, 1, 0};
    set_camera_look_at(0, &eye, &target, &up);
    set_camera_fov(0, kHalfPi);
    set_viewport_rect(0, 0, 0, kW, kH);
    set_near_far(0, 1.0f, 200.0f, 200.0f);
    set_fog_start(0, 1000.0f);
    set_fog_end(0, 2000.0f);
    apply_view();
  }
  void TearDown() override {
    part_render_clear_overrides();
    GraphicsSession::TearDown();
  }
  // The fixed-function transforms of the 3D layers, as a scene pass sets them.
  static void apply_view() { scenepass_apply_view(0, 0); }
  // One frame with the device's trace on: the draws it made.
  static std::vector<GpuTraceDraw> traced_frame() {
    gpu_trace_enable(gfx_device(), true);
    run_frame(0);
    size_t n = 0;
    const GpuTraceDraw* d = gpu_trace_last_frame(gfx_device(), &n);
    return std::vector<GpuTraceDraw>(d, d + n);
  }
  static uint32_t red(uint32_t rgb) { return rgb >> 16 & 0xFF; }
  static uint32_t blue(uint32_t rgb) { return rgb & 0xFF; }
  static Task* board(float x, float y, float z, float size, uint32_t colour) {
    const Vec3 p{x, y, z};
    Task* t = sprite3d_create_one_frame(1, &p, 0.0f, size, 0, colour, 1, 0.0f);
    EXPECT_NE(t, nullptr);
    if (t != nullptr) task_set_layer(t, kDrawnLayer);
    return t;
  }
};

struct Probe {
  int dx, dy;
  uint32_t want;
};

TEST_F(Sprite3dDraw, BillboardAtTheLookAtPointIsCentredAtItsProjectedSize) {
  ASSERT_NE(board(0, 0, 0, 2.0f, 0xFFFFFFFFu), nullptr);  // 12 x 12 pixels
  run_frame(0);
  EXPECT_EQ(sprite3d_get_drawn_count(), 1u);
  EXPECT_EQ(sprite3d_get_batch_count(), 1u);
  const Probe probes[] = {{0, 0, 0xFFFFFF}, {5, 5, 0xFFFFFF}, {-5, -5, 0xFFFFFF}, {5, -5, 0xFFFFFF},
                          {8, 0, 0},        {-8, 0, 0},       {0, 8, 0},          {0, -8, 0}};
  for (const Probe& p : probes) EXPECT_EQ(pixel(kCx + p.dx, kCy + p.dy), p.want) << p.dx << ", " << p.dy;
}

TEST_F(Sprite3dDraw, ColourAndPivotAndRotation) {
  Task* red = board(0, 0, 0, 2.0f, 0xFFFF0000u);
  sprite3d_set_pivot(red, 0.0f, 0.0f);  // the position is the bottom-left corner
  run_frame(0);
  EXPECT_EQ(pixel(kCx + 3, kCy - 3), 0xFF0000u);
  EXPECT_EQ(pixel(kCx - 3, kCy + 3), 0u);

  // Turned by 45 degrees the square is a diamond: its tip reaches further
  // along the axes and its old corners are empty.
  Task* turned = board(0, 0, 0, 2.0f, 0xFFFFFFFFu);
  sprite3d_set_angle(turned, 0.78539816f);
  run_frame(0);
  EXPECT_EQ(pixel(kCx + 7, kCy), 0xFFFFFFu);
  EXPECT_EQ(pixel(kCx + 5, kCy + 5), 0u);
}

// A beam of width 4 from x -3 to 3 reaches a quarter of its side width
// (1 unit, 6 pixels) to each side, and a quarter of its end width beyond
// each end; its creator gives the end width the side width.
TEST_F(Sprite3dDraw, BeamFacesTheCameraBetweenItsPoints) {
  const Vec3 a{-3, 0, 0}, b{3, 0, 0};
  const struct {
    const char* what;
    bool no_end_width;
    std::vector<Probe> probes;
  } beams[] = {
      {"no end width: x -3..3, y -1..1", true,
       {{0, 0, 0xFFFFFF}, {15, 0, 0xFFFFFF}, {-15, 0, 0xFFFFFF}, {0, 4, 0xFFFFFF}, {21, 0, 0}, {0, 8, 0}, {0, -8, 0}}},
      {"the creator's end width: x -4..4, y -1..1", false,
       {{21, 0, 0xFFFFFF}, {-21, 0, 0xFFFFFF}, {21, 4, 0xFFFFFF}, {-21, -4, 0xFFFFFF}, {27, 0, 0}, {-27, 0, 0},
        {21, 8, 0}}},
  };
  for (const auto& c : beams) {
    SCOPED_TRACE(c.what);
    Task* beam = sprite3d_create_beam_one_frame(1, &a, &b, 4.0f, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 1);
    ASSERT_NE(beam, nullptr);
    if (c.no_end_width) sprite3d_set_end_width(beam, 0.0f);
    task_set_layer(beam, kDrawnLayer);
    run_frame(0);
    for (const Probe& p : c.probes) EXPECT_EQ(pixel(kCx + p.dx, kCy + p.dy), p.want) << p.dx << ", " << p.dy;
  }
}

TEST_F(Sprite3dDraw, BeamColoursRunFromStartToEnd) {
  const Vec3 a{-3, 0, 0}, b{3, 0, 0};
  Task* beam = sprite3d_create_beam_one_frame(1, &a, &b, 4.0f, 0xFFFF0000u, 0xFF0000FFu, 0, 1);
  ASSERT_NE(beam, nullptr);
  sprite3d_set_end_width(beam, 0.0f);
  task_set_layer(beam, kDrawnLayer);
  run_frame(0);
  const uint32_t near_start = pixel(kCx - 16, kCy), near_end = pixel(kCx + 16, kCy);
  EXPECT_GT(red(near_start), 0xE0u);
  EXPECT_LT(blue(near_start), 0x20u);
  EXPECT_GT(blue(near_end), 0xE0u);
  EXPECT_LT(red(near_end), 0x20u);
  // Across the beam the colour stays: start and end are its two ends only.
  EXPECT_EQ(pixel(kCx - 16, kCy + 4), near_start);
}

TEST_F(Sprite3dDraw, BillboardTexturesStandUpright) {
  // Top half: red on the left, blue on the right; bottom half green.
  const AssetHandle tex = create_texture("s3d", "upright", 4, 4, 0);
  ASSERT_NE(tex, 0u);
  const uint32_t R = 0xFFFF0000u, B = 0xFF0000FFu, G = 0xFF00FF00u;
  const uint32_t texels[16] = {R, R, B, B, R, R, B, B, G, G, G, G, G, G, G, G};
  ASSERT_TRUE(write_texture_pixels(tex, 0, 0, 4, 4, texels));
  sprite3d_set_texture0(board(0, 0, 0, 2.0f, 0xFFFFFFFFu), tex);
  run_frame(0);
  EXPECT_EQ(pixel(kCx - 3, kCy - 3), 0xFF0000u);
  EXPECT_EQ(pixel(kCx + 3, kCy - 3), 0x0000FFu);
  EXPECT_EQ(pixel(kCx - 3, kCy + 3), 0x00FF00u);
  EXPECT_EQ(pixel(kCx + 3, kCy + 3), 0x00FF00u);
  unregister_texture(tex);
}

TEST_F(Sprite3dDraw, FreeQuadWithItsTransform) {
  const Vec3 c[4] = {{-1, 1, 0}, {1, 1, 0}, {-1, -1, 0}, {1, -1, 0}};
  Task* quad = sprite3d_create_quad_from_array(1, c, 0, 1);
  ASSERT_NE(quad, nullptr);
  task_set_layer(quad, kDrawnLayer);
  task_set_one_frame(quad);
  const Vec3 move{3, 0, 0};
  sprite3d_set_quad_position(quad, &move);
  sprite3d_set_transform_flag(quad, 1);
  run_frame(0);
  EXPECT_EQ(pixel(kCx + 18, kCy), 0xFFFFFFu);
  EXPECT_EQ(pixel(kCx, kCy), 0u);
}

TEST_F(Sprite3dDraw, RotatedOffCentreQuadIsNotCulled) {
  // Corners far from the quad's origin, turned half a turn round y: the
  // corners' own centre (+50 on x) would be outside the view, the turned one
  // is straight ahead.
  const Vec3 c[4] = {{49, 1, 0}, {51, 1, 0}, {49, -1, 0}, {51, -1, 0}};
  Task* quad = sprite3d_create_quad_from_array(1, c, 0, 1);
  ASSERT_NE(quad, nullptr);
  task_set_layer(quad, kDrawnLayer);
  task_set_one_frame(quad);
  const Vec3 move{50, 0, 0}, turn{0, 3.14159265f, 0};
  sprite3d_set_transform(quad, &move, &turn);
  sprite3d_set_transform_flag(quad, 1);
  run_frame(0);
  EXPECT_EQ(sprite3d_get_drawn_count(), 1u);
  EXPECT_EQ(pixel(kCx, kCy), 0xFFFFFFu);
}

TEST_F(Sprite3dDraw, BatchesSplitOnTextureChangesInSortedOrder) {
  // Same texture: one batch whatever the distances.
  for (int i = 0; i < 3; ++i) sprite3d_set_texture0(board(0, 0, float(i), 1.0f, 0xFFFFFFFFu), get_white_texture());
  run_frame(0);
  EXPECT_EQ(sprite3d_get_drawn_count(), 3u);
  EXPECT_EQ(sprite3d_get_batch_count(), 1u);

  // Textures alternating far to near: every sprite its own batch; grouped
  // by distance: two batches.
  const AssetHandle alternating[3] = {get_white_texture(), get_green_texture(), get_white_texture()};
  for (int i = 0; i < 3; ++i) sprite3d_set_texture0(board(0, 0, float(i), 1.0f, 0xFFFFFFFFu), alternating[i]);
  run_frame(0);
  EXPECT_EQ(sprite3d_get_batch_count(), 3u);
  const AssetHandle grouped[3] = {get_green_texture(), get_white_texture(), get_white_texture()};
  for (int i = 0; i < 3; ++i) sprite3d_set_texture0(board(0, 0, float(i), 1.0f, 0xFFFFFFFFu), grouped[i]);
  run_frame(0);
  EXPECT_EQ(sprite3d_get_batch_count(), 2u);
  // The nearest (z 0, drawn last) is the green one.
  EXPECT_EQ(pixel(kCx, kCy), 0x00FF00u);
}

TEST_F(Sprite3dDraw, FarthestIsDrawnFirstAndNearestOnTop) {
  board(0, 0, 0, 2.0f, 0xFFFF0000u);    // near, created first
  board(0, 0, 20, 6.0f, 0xFF0000FFu);   // far, bigger
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0xFF0000u);
}

TEST_F(Sprite3dDraw, CullingAndMirrorPass) {
  set_far_limit(0, 50.0f);
  board(0, 0, 100, 2.0f, 0xFFFFFFFFu);  // inside the far plane, beyond the limit
  board(0, 0, -30, 2.0f, 0xFFFFFFFFu);  // behind the camera
  run_frame(0);
  EXPECT_EQ(sprite3d_get_drawn_count(), 0u);

  Task* plain = board(0, 0, 0, 2.0f, 0xFFFFFFFFu);
  Task* mirrored = board(0, 0, 1, 2.0f, 0xFFFFFFFFu);
  ASSERT_NE(plain, nullptr);
  sprite3d_set_mirror(mirrored, 1);
  part_render_set_override_6(1);
  run_frame(0);
  EXPECT_EQ(sprite3d_get_drawn_count(), 1u) << "only the sprite with its mirror byte";

  // One sprite alone shows which it was: the marked one in a mirror pass,
  // every one in the ordinary pass.
  const struct {
    uint8_t mirror;
    int override_6;
    uint32_t drawn;
  } passes[] = {{1, 1, 1}, {0, 1, 0}, {0, 0, 1}};
  for (const auto& p : passes) {
    sprite3d_set_mirror(board(0, 0, 0, 2.0f, 0xFFFFFFFFu), p.mirror);
    part_render_set_override_6(p.override_6);
    run_frame(0);
    EXPECT_EQ(sprite3d_get_drawn_count(), p.drawn) << "mirror " << int(p.mirror) << ", pass " << p.override_6;
  }
}

TEST_F(Sprite3dDraw, AlphaTestOverrideDropsTranslucentSprites) {
  board(0, 0, 0, 2.0f, 0x80FFFFFFu);
  part_render_set_override_2(1);
  std::vector<GpuTraceDraw> draws = traced_frame();
  EXPECT_EQ(sprite3d_get_drawn_count(), 1u);
  EXPECT_EQ(pixel(kCx, kCy), 0u) << "alpha 128 fails the test against 254";
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_ALPHATESTENABLE], 1u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_ALPHAREF], 254u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_ALPHAFUNC], uint32_t(GPU_CMP_GREATER));
  EXPECT_EQ(draws[0].render_states[GPU_RS_ZWRITEENABLE], 1u);
  part_render_clear_overrides();
  board(0, 0, 0, 2.0f, 0x80FFFFFFu);
  draws = traced_frame();
  const uint32_t blended = pixel(kCx, kCy);
  EXPECT_GT(blended & 0xFF, 0x70u);
  EXPECT_LT(blended & 0xFF, 0x90u);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_ALPHATESTENABLE], 0u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_ZWRITEENABLE], 0u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_SRCBLEND], uint32_t(GPU_BLEND_SRCALPHA));
  EXPECT_EQ(draws[0].render_states[GPU_RS_FOGENABLE], 1u) << "blend pairs 0 and 1 are fogged";
  EXPECT_EQ(draws[0].sampler_states[0][GPU_SAMP_MAGFILTER], uint32_t(GPU_FILTER_LINEAR));
  EXPECT_EQ(draws[0].stage_states[1][GPU_TSS_COLOROP], uint32_t(GPU_TOP_MODULATE));
  EXPECT_EQ(draws[0].stage_states[1][GPU_TSS_COLORARG1], uint32_t(GPU_TA_CURRENT));
  // The draw leaves the alpha test off and blend pair 1 behind.
  EXPECT_EQ(gpu_get_render_state(gfx_device(), GPU_RS_ALPHATESTENABLE), 0u);
}

TEST_F(Sprite3dDraw, ForcedBlendingDrawsEverySpriteWithPairSeven) {
  board(0, 0, 0, 2.0f, 0x80FFFFFFu);
  Task* additive = board(0, 0, 5, 2.0f, 0x80FFFFFFu);
  sprite3d_set_blend(additive, 3);
  part_render_set_override_3(1);
  const std::vector<GpuTraceDraw> draws = traced_frame();
  ASSERT_EQ(draws.size(), 1u) << "one blend for all: one batch";
  EXPECT_EQ(draws[0].render_states[GPU_RS_SRCBLEND], uint32_t(GPU_BLEND_ONE));
  EXPECT_EQ(draws[0].render_states[GPU_RS_DESTBLEND], uint32_t(GPU_BLEND_INVSRCALPHA));
  EXPECT_EQ(draws[0].render_states[GPU_RS_FOGENABLE], 0u);
  // ONE x white over black: the colour at full strength, whatever its alpha.
  EXPECT_EQ(pixel(kCx, kCy), 0xFFFFFFu);
  // The draw itself leaves blend pair 1 and no textures behind.
  Task* alone = board(0, 0, 0, 2.0f, 0x80FFFFFFu);
  sprite3d_set_texture0(alone, get_green_texture());
  gpu_begin_scene(gfx_device());
  sprite3d_draw_batch(&alone, 1);
  gpu_end_scene(gfx_device());
  EXPECT_EQ(gpu_get_render_state(gfx_device(), GPU_RS_SRCBLEND), uint32_t(GPU_BLEND_SRCALPHA));
  EXPECT_EQ(gpu_get_render_state(gfx_device(), GPU_RS_DESTBLEND), uint32_t(GPU_BLEND_INVSRCALPHA));
  EXPECT_EQ(gpu_get_texture(gfx_device(), 0), gfx_white_texture()->texture);
  part_render_set_override_2(1);
  gpu_begin_scene(gfx_device());
  sprite3d_draw_batch(&alone, 1);
  gpu_end_scene(gfx_device());
  EXPECT_EQ(gpu_get_render_state(gfx_device(), GPU_RS_ALPHATESTENABLE), 0u) << "the alpha-test pass ends it";
}

TEST_F(Sprite3dDraw, EachSpriteDrawsWithItsOwnDepthFunction) {
  Task* near = board(0, 0, 0, 2.0f, 0xFFFFFFFFu);
  Task* far = board(0, 0, 20, 2.0f, 0xFFFFFFFFu);
  sprite3d_set_zfunc(near, 7);
  sprite3d_set_zfunc(far, 1);
  part_render_set_override_2(1);  // the pass's own compare (LESS) gives way to the sprite's
  const std::vector<GpuTraceDraw> draws = traced_frame();
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_ZFUNC], uint32_t(GPU_CMP_LESS)) << "the far sprite first";
  EXPECT_EQ(draws[1].render_states[GPU_RS_ZFUNC], uint32_t(GPU_CMP_ALWAYS));
  board(0, 0, 0, 2.0f, 0xFFFFFFFFu);
  part_render_clear_overrides();
  const std::vector<GpuTraceDraw> plain = traced_frame();
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].render_states[GPU_RS_ZFUNC], uint32_t(GPU_CMP_LESSEQUAL)) << "index 3 by default";
}

TEST_F(Sprite3dDraw, LinesAndTrianglesBatchByTheirStates) {
  // Lines at pixel-centre heights, red to blue from left to right.
  const Vec3 a{-3, 1.0833333f, 0}, b{3, 1.0833333f, 0}, c{-3, -1.0833333f, 0}, d{3, -1.0833333f, 0};
  Task* upper = line3d_draw(1, &a, 0xFFFF0000u, &b, 0xFF0000FFu);
  Task* lower = line3d_draw(1, &c, 0xFFFF0000u, &d, 0xFF0000FFu);
  ASSERT_NE(upper, nullptr);
  ASSERT_NE(lower, nullptr);
  task_set_layer(upper, kDrawnLayer);
  task_set_layer(lower, kDrawnLayer);
  line3d_set_depth_func(lower, 3);
  std::vector<GpuTraceDraw> draws = traced_frame();
  ASSERT_EQ(draws.size(), 2u) << "a depth-compare change splits the batch";
  EXPECT_EQ(draws[0].type, GPU_PT_LINELIST);
  EXPECT_EQ(draws[0].primitive_count, 1u);
  EXPECT_EQ(draws[0].fvf, kPrim3dFvf);
  EXPECT_EQ(draws[0].render_states[GPU_RS_ZFUNC], uint32_t(GPU_CMP_LESSEQUAL)) << "newest first";
  EXPECT_EQ(draws[1].render_states[GPU_RS_ZFUNC], uint32_t(GPU_CMP_ALWAYS));
  EXPECT_EQ(draws[1].render_states[GPU_RS_ZWRITEENABLE], 1u);
  EXPECT_EQ(draws[1].render_states[GPU_RS_FOGENABLE], 0u);
  for (int y : {kCy - 7, kCy + 6}) {
    EXPECT_GT(red(pixel(kCx - 16, y)), 0xC0u) << y;
    EXPECT_GT(blue(pixel(kCx + 16, y)), 0xC0u) << y;
    EXPECT_EQ(pixel(kCx, y + 2), 0u) << y;
  }

  // Triangles: one draw while their states agree, the farthest first
  // whatever the order they were made in; a blend change splits.
  const Vec3 n0{-2, -2, 0}, n1{2, -2, 0}, n2{0, 2, 0};
  const Vec3 f0{-15, -15, 20}, f1{15, -15, 20}, f2{0, 15, 20};
  Task* near = tri3d_draw(1, &n0, 0xFF00FF00u, &n1, 0xFF00FF00u, &n2, 0xFF00FF00u);
  Task* far = tri3d_draw(1, &f0, 0xFF0000FFu, &f1, 0xFF0000FFu, &f2, 0xFF0000FFu);
  task_set_layer(near, kDrawnLayer);
  task_set_layer(far, kDrawnLayer);
  draws = traced_frame();
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].type, GPU_PT_TRIANGLELIST);
  EXPECT_EQ(draws[0].primitive_count, 2u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_ZFUNC], uint32_t(GPU_CMP_LESS));
  EXPECT_EQ(pixel(kCx, kCy), 0x00FF00u) << "the near triangle on top";
  EXPECT_EQ(pixel(kCx + 18, kCy + 10), 0x0000FFu);
  near = tri3d_draw(1, &n0, 0xFF00FF00u, &n1, 0xFF00FF00u, &n2, 0xFF00FF00u);
  far = tri3d_draw(1, &f0, 0xFF0000FFu, &f1, 0xFF0000FFu, &f2, 0xFF0000FFu);
  task_set_layer(near, kDrawnLayer);
  task_set_layer(far, kDrawnLayer);
  tri3d_set_blend(far, 3);
  tri3d_set_depth_write(near, 0);
  draws = traced_frame();
  ASSERT_EQ(draws.size(), 2u);
  EXPECT_EQ(draws[0].render_states[GPU_RS_DESTBLEND], uint32_t(GPU_BLEND_ONE));
  EXPECT_EQ(draws[1].render_states[GPU_RS_DESTBLEND], uint32_t(GPU_BLEND_INVSRCALPHA));
  EXPECT_EQ(draws[1].render_states[GPU_RS_ZWRITEENABLE], 0u);
}

TEST_F(Sprite3dDraw, ASpriteRunSetsItsStatesOverWhatAnEarlierDrawLeft) {
  Task* sprite = board(0, 0, 0, 2.0f, 0xFFFFFFFFu);
  ASSERT_NE(sprite, nullptr);
  GpuDevice* d = gfx_device();
  const LeftState states[] = {
      {GPU_RS_ALPHATESTENABLE, 1, 0},
      {GPU_RS_ALPHAREF, 9, 0},
      {GPU_RS_ALPHAFUNC, GPU_CMP_LESS, GPU_CMP_GREATER},
      {GPU_RS_ZWRITEENABLE, 1, 0},
      {GPU_RS_CULLMODE, GPU_CULL_CW, GPU_CULL_NONE},
      {GPU_RS_FILLMODE, GPU_FILL_WIREFRAME, GPU_FILL_SOLID},
      {GPU_RS_ALPHABLENDENABLE, 0, 1},
      {GPU_RS_SRCBLEND, GPU_BLEND_ONE, GPU_BLEND_SRCALPHA},
      {GPU_RS_DESTBLEND, GPU_BLEND_ZERO, GPU_BLEND_INVSRCALPHA},
      {GPU_RS_LIGHTING, 1, 0},
  };
  gpu_begin_scene(d);
  leave_states(d, states);
  for (GpuSamplerState s : {GPU_SAMP_MAGFILTER, GPU_SAMP_MINFILTER}) gpu_set_sampler_state(d, 0, s, GPU_FILTER_POINT);
  gpu_trace_enable(d, true);
  sprite3d_draw_batch(&sprite, 1);
  gpu_end_scene(d);
  size_t n = 0;
  const GpuTraceDraw* draw = gpu_trace_current_frame(d, &n);
  ASSERT_EQ(n, 1u);
  expect_states_set(*draw, states, "sprite");
  // Stage 0 texture times colour, stage 1 the result times its texture.
  expect_stage(*draw, 0, GPU_TOP_MODULATE, GPU_TA_TEXTURE, GPU_TA_DIFFUSE, "sprite");
  expect_stage(*draw, 1, GPU_TOP_MODULATE, GPU_TA_CURRENT, GPU_TA_TEXTURE, "sprite");
  for (GpuSamplerState s : {GPU_SAMP_MAGFILTER, GPU_SAMP_MINFILTER})
    EXPECT_EQ(draw->sampler_states[0][s], uint32_t(GPU_FILTER_LINEAR)) << s;
  // Blend pairs 0 and 1 are fogged, the others not.
  for (const auto& [blend, fog] : {std::pair{0, 1u}, {1, 1u}, {2, 0u}, {3, 0u}}) {
    sprite3d_set_blend(sprite, static_cast<uint8_t>(blend));
    gpu_begin_scene(d);
    gpu_set_render_state(d, GPU_RS_FOGENABLE, 1 - fog);
    sprite3d_draw_batch(&sprite, 1);
    gpu_end_scene(d);
    draw = gpu_trace_current_frame(d, &n);
    EXPECT_EQ(draw[n - 1].render_states[GPU_RS_FOGENABLE], fog) << "blend " << blend;
  }
  tasks_reap_marked();
}

TEST_F(Sprite3dDraw, APrimitiveDrawStartsInShadingModeZero) {
  const Vec3 a{-3, 0, 0}, b{3, 0, 0}, c{0, 3, 0};
  Task* line = line3d_draw(1, &a, 0xFFFFFFFFu, &b, 0xFFFFFFFFu);
  Task* quiet_line = line3d_draw(1, &a, 0xFFFFFFFFu, &b, 0xFFFFFFFFu);
  Task* quiet_tri = tri3d_draw(1, &a, 0xFFFFFFFFu, &b, 0xFFFFFFFFu, &c, 0xFFFFFFFFu);
  ASSERT_NE(line, nullptr);
  ASSERT_NE(quiet_line, nullptr);
  ASSERT_NE(quiet_tri, nullptr);
  line3d_set_depth_write(quiet_line, 0);
  tri3d_set_depth_write(quiet_tri, 0);
  // Each run with the depth writes an earlier draw left and those its entry
  // asks for.
  const struct {
    const char* what;
    void (*draw)(Task* const*, int);
    Task* task;
    uint32_t depth_write_left, depth_write_want;
  } runs[] = {
      {"line", line3d_draw_batch, line, 0, 1},
      {"line without depth writes", line3d_draw_batch, quiet_line, 1, 0},
      {"triangle without depth writes", tri3d_draw_batch, quiet_tri, 1, 0},
  };
  GpuDevice* d = gfx_device();
  for (const auto& r : runs) {
    gpu_begin_scene(d);
    ASSERT_EQ(begin_mesh_draw(1, nullptr, 0, find_fvf_index(kScreenVertexFvf), nullptr, nullptr, nullptr, nullptr,
                              1.0f, nullptr, 0),
              1);
    ASSERT_EQ(shader_set()->mode, 1);
    // What an earlier draw left behind does not reach the run.
    const LeftState states[] = {
        {GPU_RS_ALPHABLENDENABLE, 0, 1},
        {GPU_RS_SRCBLEND, GPU_BLEND_ONE, GPU_BLEND_SRCALPHA},
        {GPU_RS_DESTBLEND, GPU_BLEND_ZERO, GPU_BLEND_INVSRCALPHA},
        {GPU_RS_ZWRITEENABLE, r.depth_write_left, r.depth_write_want},
        {GPU_RS_CULLMODE, GPU_CULL_CW, GPU_CULL_NONE},
        {GPU_RS_FILLMODE, GPU_FILL_WIREFRAME, GPU_FILL_SOLID},
        {GPU_RS_FOGENABLE, 1, 0},
        {GPU_RS_LIGHTING, 1, 0},
    };
    leave_states(d, states);
    gfx_bind_texture(d, 0, get_texture_object(get_green_texture()), 1);
    gpu_trace_enable(d, true);
    r.draw(&r.task, 1);
    gpu_end_scene(d);
    size_t n = 0;
    const GpuTraceDraw* draw = gpu_trace_current_frame(d, &n);
    ASSERT_EQ(n, 1u) << r.what;
    expect_states_set(*draw, states, r.what);
    EXPECT_EQ(draw->textures[0], gpu_texture_id(gfx_white_texture()->texture)) << r.what;
    EXPECT_EQ(shader_set()->mode, 0) << r.what;
    EXPECT_EQ(shader_set()->last_vertex, 0) << r.what;
    EXPECT_EQ(shader_set()->last_pixel, 0) << r.what;
    EXPECT_EQ(gpu_get_vertex_shader(d), nullptr) << r.what;
  }
}

}  // namespace

namespace {

TEST_F(Sprite3dDraw, DepthOffsetMovesAlongTheViewRay) {
  Task* pushed = board(0, 0, 0, 2.0f, 0xFFFFFFFFu);
  sprite3d_set_depth_offset(pushed, 10.0f);  // twice as far: 6 x 6 pixels
  run_frame(0);
  EXPECT_EQ(pixel(kCx + 2, kCy), 0xFFFFFFu);
  EXPECT_EQ(pixel(kCx + 5, kCy), 0u);
}

TEST_F(Sprite3dDraw, LitCornersDarkenTowardsTheLight) {
  const Vec3 light{1, -1, 1};
  set_light_direction(0, &light);
  Task* lit = board(0, 0, 0, 4.0f, 0xFFFFFFFFu);
  sprite3d_set_lit(lit, 1);
  run_frame(0);
  // Corner 2 (top left) faces along the light: black; corner 1 (bottom
  // right) faces away: three quarters of full.
  const uint32_t top_left = pixel(kCx - 11, kCy - 11) & 0xFF;
  const uint32_t bottom_right = pixel(kCx + 11, kCy + 11) & 0xFF;
  EXPECT_LT(top_left, 0x20u);
  EXPECT_GT(bottom_right, 0xA8u);
  EXPECT_LT(bottom_right, 0xC8u);

  // Turned a quarter, the corners' normals turn with them: the corner now
  // at the top left still faces along the light, and the others keep their
  // shade on the screen.
  Task* turned = board(0, 0, 0, 4.0f, 0xFFFFFFFFu);
  sprite3d_set_lit(turned, 1);
  sprite3d_set_angle(turned, 1.5707964f);
  run_frame(0);
  EXPECT_LT(pixel(kCx - 11, kCy - 11) & 0xFF, 0x20u);
  EXPECT_GT(pixel(kCx + 11, kCy + 11) & 0xFF, 0xA8u);
}

}  // namespace

namespace {

TEST_F(Sprite3dDraw, AWholePoolOfEqualSpritesIsOneBatch) {
  int made = 0;
  uint32_t seed = 12345;
  for (;;) {
    seed = seed * 1664525u + 1013904223u;
    const float z = float(seed >> 8 & 0xFFFF) / 65535.0f * 50.0f;
    const Vec3 p{0, 0, z};
    Task* t = sprite3d_create_one_frame(1, &p, 0.0f, 0.5f, 0, 0xFFFFFFFFu, 1, 0.0f);
    if (t == nullptr) break;
    task_set_layer(t, kDrawnLayer);
    ++made;
  }
  ASSERT_GT(made, 4000);
  run_frame(0);
  EXPECT_EQ(sprite3d_get_drawn_count(), uint32_t(made));
  EXPECT_EQ(sprite3d_get_batch_count(), 1u);
}

}  // namespace

namespace {

TEST_F(Sprite3dDraw, OffCentrePivotAtTheViewEdgeIsNotCulled) {
  // Pivot bottom-left, far outside on the left: its right part reaches in.
  Task* t = board(-22, 0, 0, 10.0f, 0xFFFFFFFFu);
  sprite3d_set_pivot(t, 0.0f, 0.0f);
  run_frame(0);
  EXPECT_EQ(sprite3d_get_drawn_count(), 1u);
  EXPECT_EQ(pixel(5, kCy - 6), 0xFFFFFFu);
}

}  // namespace
