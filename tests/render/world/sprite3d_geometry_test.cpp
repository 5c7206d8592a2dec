#include <gtest/gtest.h>

#include <cmath>

#include "render/tasks/task.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "render/world/sprite3d.h"
#include "scene3d/part_render.h"

namespace {

constexpr float kHalfPi = 1.57079633f;

// A camera at the origin looking down +z with a square 90-degree projection.
class Sprite3dGeometry : public ::testing::Test {
 protected:
  void SetUp() override {
    tasks_init();
    ASSERT_NE(sprite3d_register_type(), 0);
    init_view_defaults();
    set_current_view(0);
    const Vec3 eye{0, 0, 0}, target{0, 0, 1}, up{0, 1, 0};
    set_camera_look_at(0, &eye, &target, &up);
    set_camera_fov(0, kHalfPi);
    set_viewport(0, 0, 0, 100, 100, 1.0f);
    set_near_far(0, 0.1f, 100.0f, 100.0f);
    part_render_clear_overrides();
    task = sprite3d_create(1, nullptr, 0.0f, 1.0f, 0, 0xFFFFFFFFu, 1);
    ASSERT_NE(task, nullptr);
  }
  void TearDown() override { tasks_shutdown(); }
  Task* task = nullptr;
};

void expect_vec(const Vec3& got, const Vec3& want, const char* what) {
  EXPECT_NEAR(got.x, want.x, 1e-4f) << what;
  EXPECT_NEAR(got.y, want.y, 1e-4f) << what;
  EXPECT_NEAR(got.z, want.z, 1e-4f) << what;
}

TEST_F(Sprite3dGeometry, ScreenRectOfABillboard) {
  const Vec3 at{0, 0, 1};
  sprite3d_set_position(task, &at);
  sprite3d_set_size(task, 2, 2);
  struct {
    float ox, oy, scale;
    int fx, fy;
    float ul, vt, ur, vb;
  } cases[] = {
      {0, 0, 1, 0, 0, 0, 0, 1, 1},          // covers the whole screen
      {0, 0, 1, 1, 0, 1, 0, 0, 1},          // flip x swaps left and right
      {0, 0, 1, 0, 1, 0, 1, 1, 0},          // flip y swaps top and bottom
      {0, 0, 0.5f, 0, 0, 0.25f, 0.25f, 0.75f, 0.75f},
      {0.5f, 0, 0.5f, 0, 0, 0.5f, 0.25f, 1.0f, 0.75f},  // offsets in clip units
      {0, 0.5f, 0.5f, 0, 0, 0.25f, 0.0f, 0.75f, 0.5f},  // clip y up is screen up
  };
  for (const auto& c : cases) {
    float ul, vt, ur, vb;
    sprite3d_screen_rect(task, c.ox, c.oy, c.scale, c.fx, c.fy, &ul, &vt, &ur, &vb);
    EXPECT_NEAR(ul, c.ul, 1e-4f);
    EXPECT_NEAR(vt, c.vt, 1e-4f);
    EXPECT_NEAR(ur, c.ur, 1e-4f);
    EXPECT_NEAR(vb, c.vb, 1e-4f);
  }
  // The depth offset pushes both corners along the view axis: twice as far,
  // half the size; half as far, twice.
  const struct {
    float depth, ul, vb;
  } depths[] = {{1.0f, 0.25f, 0.75f}, {-0.5f, -0.5f, 1.5f}};
  for (const auto& d : depths) {
    sprite3d_set_depth_offset(task, d.depth);
    float ul, vt, ur, vb;
    sprite3d_screen_rect(task, 0, 0, 1, 0, 0, &ul, &vt, &ur, &vb);
    EXPECT_NEAR(ul, d.ul, 1e-4f) << d.depth;
    EXPECT_NEAR(vt, d.ul, 1e-4f) << d.depth;
    EXPECT_NEAR(ur, d.vb, 1e-4f) << d.depth;
    EXPECT_NEAR(vb, d.vb, 1e-4f) << d.depth;
  }
  sprite3d_set_depth_offset(task, 0.0f);
  // An off-centre pivot and a non-square size: the rectangle's own corners.
  sprite3d_set_pivot(task, 0.0f, 0.0f);
  sprite3d_set_size(task, 1, 0.5f);
  {
    float ul, vt, ur, vb;
    sprite3d_screen_rect(task, 0, 0, 1, 0, 0, &ul, &vt, &ur, &vb);
    EXPECT_NEAR(ul, 0.5f, 1e-4f);
    EXPECT_NEAR(ur, 1.0f, 1e-4f);
    EXPECT_NEAR(vt, 0.25f, 1e-4f);
    EXPECT_NEAR(vb, 0.5f, 1e-4f);
  }
  sprite3d_set_pivot(task, 0.5f, 0.5f);
  sprite3d_set_size(task, 2, 2);
  sprite3d_uv1_from_screen_rect(task, 0, 0, 0.5f, 0, 0);
  EXPECT_NEAR(sprite3d_get_uv1_u0(task), 0.25f, 1e-4f);
  EXPECT_NEAR(sprite3d_get_uv1_v1(task), 0.75f, 1e-4f);
  EXPECT_EQ(sprite3d_get_uv0_u1(task), 1.0f) << "set 0 untouched";
}

TEST_F(Sprite3dGeometry, AMirrorPassSeesTheSpriteThroughTheMirrorSlots) {
  // The mirror is the plane y = 0; the billboard stands above it on the
  // view axis. The mirror pass sees it below, the right way round.
  const Vec3 origin{0, 0, 0}, up{0, 1, 0};
  set_clip_plane(0, &origin, &up);
  const Vec3 at{0, 0.5f, 2};
  sprite3d_set_position(task, &at);
  sprite3d_set_size(task, 0.4f, 0.4f);
  struct {
    int32_t mirror;
    float vt, vb;
  } passes[] = {{-1, 0.325f, 0.425f}, {1, 0.575f, 0.675f}};
  for (const auto& p : passes) {
    part_render_set_override_6(p.mirror);
    float ul, vt, ur, vb;
    sprite3d_screen_rect(task, 0, 0, 1, 0, 0, &ul, &vt, &ur, &vb);
    EXPECT_NEAR(ul, 0.45f, 1e-4f) << p.mirror;
    EXPECT_NEAR(ur, 0.55f, 1e-4f) << p.mirror;
    EXPECT_NEAR(vt, p.vt, 1e-4f) << p.mirror;
    EXPECT_NEAR(vb, p.vb, 1e-4f) << p.mirror;
  }
  Mat4 vp, cam;
  sprite3d_get_view_projection(&vp, &cam);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(vp.m[i], get_matrix_slot20(0)->m[i]) << i;
    EXPECT_EQ(cam.m[i], get_matrix_slot17(0)->m[i]) << i;
  }
  sprite3d_get_view_projection(nullptr, nullptr);
  part_render_clear_overrides();
}

TEST_F(Sprite3dGeometry, BeamQuadInScreenFractions) {
  sprite3d_init_mode1(task);
  sprite3d_set_start_xyz(task, -1, 0, 5);
  sprite3d_set_end_xyz(task, 1, 0, 5);
  sprite3d_set_widths(task, 4, 0);
  Vec3 q[4];
  sprite3d_build_beam_quad(task, q, 0, 0, 1);
  const float want[4][2] = {{0.4f, 0.4f}, {0.6f, 0.4f}, {0.4f, 0.6f}, {0.6f, 0.6f}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(q[i].x, want[i][0], 1e-4f) << i;
    EXPECT_NEAR(q[i].y, want[i][1], 1e-4f) << i;
  }
  sprite3d_build_beam_quad(task, q, 0.1f, 0, 2);
  EXPECT_NEAR(q[0].x, 0.4f, 1e-4f) << "scaled about the centre 0.6 after the offset";
  EXPECT_NEAR(q[3].y, 0.7f, 1e-4f);
  sprite3d_beam_uv0_from_screen(task, 0, 0, 1);
  EXPECT_NEAR(sprite3d_get_beam_uv0_u0(task), 0.4f, 1e-4f);
  EXPECT_NEAR(sprite3d_get_beam_uv0_v1(task), 0.6f, 1e-4f);
}

TEST_F(Sprite3dGeometry, DegenerateBeamsFallBackToAScreenDirection) {
  sprite3d_init_mode1(task);
  struct {
    Vec3 start, end;
  } cases[] = {
      {{0, 0, 5}, {0, 0, 5}},   // ends coincide
      {{0, 0, 5}, {0, 0, 9}},   // end straight behind start on screen
      {{0, 0, 0}, {1, 0, 0}},   // start on the camera plane
      {{0, 0, 0}, {0, 0, 0}},   // both at the eye
      {{1, 0, 1e-30f}, {0, 0, 5}},  // start a hair in front of the eye: no finite screen direction
  };
  for (const auto& c : cases) {
    sprite3d_set_start_point(task, &c.start);
    sprite3d_set_end_point(task, &c.end);
    sprite3d_set_widths(task, 4, 4);
    Vec3 q[4];
    sprite3d_build_beam_quad(task, q, 0, 0, 1);
    for (const Vec3& p : q) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    // The fallback direction still gives the quad its width across it.
    EXPECT_GT(std::fabs(q[0].x - q[2].x) + std::fabs(q[0].y - q[2].y), 1e-6f) << c.start.z;
  }
  // Coincident ends: d = (1, 0), so the quad spans x and y about the point.
  const Vec3 p{0, 0, 5};
  sprite3d_set_start_point(task, &p);
  sprite3d_set_end_point(task, &p);
  Vec3 q[4];
  sprite3d_build_beam_quad(task, q, 0, 0, 1);
  EXPECT_LT(q[0].x, 0.5f);
  EXPECT_GT(q[1].x, 0.5f);
  EXPECT_LT(q[0].y, 0.5f);
  EXPECT_GT(q[2].y, 0.5f);
}

TEST_F(Sprite3dGeometry, CornersFromSegment) {
  sprite3d_init_mode2(task);
  const Vec3 up{0, 1, 0};
  struct {
    Vec3 p0, p1;
    float width, extension, lift0, lift1;
    int flag;
    Vec3 want[4];
  } cases[] = {
      {{0, 0, 0}, {0, 0, 10}, 1, 0, 0, 0, 0, {{-1, 0, 0}, {-1, 0, 10}, {1, 0, 0}, {1, 0, 10}}},
      {{0, 0, 0}, {0, 0, 10}, 1, 0, 0, 0, 1, {{-1, 0, 0}, {1, 0, 0}, {-1, 0, 10}, {1, 0, 10}}},
      {{0, 0, 0}, {0, 0, 10}, 2, 1, 0.5f, 0.5f, 0, {{-2, 0.5f, -1}, {-2, 0.5f, 11}, {2, 0.5f, -1}, {2, 0.5f, 11}}},
      // Each end rises by its own lift.
      {{0, 0, 0}, {0, 0, 10}, 1, 0, 0.5f, 3, 1, {{-1, 0.5f, 0}, {1, 0.5f, 0}, {-1, 3, 10}, {1, 3, 10}}},
      // Coincident points: no direction, no side offsets, only the lifts.
      {{1, 2, 3}, {1, 2, 3}, 1, 1, 2, 2, 0, {{1, 4, 3}, {1, 4, 3}, {1, 4, 3}, {1, 4, 3}}},
  };
  for (const auto& c : cases) {
    sprite3d_corners_from_segment(task, &c.p0, &up, c.width, c.extension, c.lift0, &c.p1, &up, c.width,
                                  c.extension, c.lift1, c.flag);
    for (int i = 0; i < 4; ++i) expect_vec(sprite3d_get_corners(task)[i], c.want[i], "segment corner");
  }
}

TEST_F(Sprite3dGeometry, CornersFromFlatSegment) {
  sprite3d_init_mode2(task);
  const Vec3 p0{0, 0, 0}, p1{0, 0, 10}, side{1, 0, 0};
  sprite3d_corners_from_segment_flat(task, &p0, &side, 3, 1, &p1, &side, 3, 1, 0);
  const Vec3 want0[4] = {{3, 0, -1}, {3, 0, 11}, {0, 0, -1}, {0, 0, 11}};
  for (int i = 0; i < 4; ++i) expect_vec(sprite3d_get_corners(task)[i], want0[i], "flag 0");
  sprite3d_corners_from_segment_flat(task, &p0, &side, 3, 1, &p1, &side, 3, 1, 1);
  const Vec3 want1[4] = {{3, 0, -1}, {0, 0, -1}, {3, 0, 11}, {0, 0, 11}};
  for (int i = 0; i < 4; ++i) expect_vec(sprite3d_get_corners(task)[i], want1[i], "flag 1");
}

TEST_F(Sprite3dGeometry, CornersFromRectAndBake) {
  sprite3d_init_mode2(task);
  const Vec3 at{1, 0, 0};
  sprite3d_corners_from_rect(task, &at, nullptr, 2, 4);
  const Vec3 want[4] = {{0, 0, 2}, {0, 0, -2}, {2, 0, 2}, {2, 0, -2}};
  for (int i = 0; i < 4; ++i) expect_vec(sprite3d_get_corners(task)[i], want[i], "rect");
  // Turned: a quarter of yaw takes local z to +x and local x to -z; a
  // quarter of pitch takes local z to -y.
  const struct {
    Vec3 angles;
    Vec3 want[4];
  } turns[] = {
      {{0, 1.5707963f, 0}, {{3, 0, 1}, {-1, 0, 1}, {3, 0, -1}, {-1, 0, -1}}},
      {{1.5707963f, 0, 0}, {{0, -2, 0}, {0, 2, 0}, {2, -2, 0}, {2, 2, 0}}},
  };
  for (const auto& t : turns) {
    sprite3d_corners_from_rect(task, &at, &t.angles, 2, 4);
    for (int i = 0; i < 4; ++i) expect_vec(sprite3d_get_corners(task)[i], t.want[i], "turned rect");
  }
  sprite3d_corners_from_rect(task, &at, nullptr, 2, 4);

  // Baking moves the corners once and clears the flag, so the draw does
  // not move them again.
  const Vec3 move{0, 5, 0}, none{0, 0, 0}, twice{2, 2, 2};
  sprite3d_set_transform(task, &move, &none);
  sprite3d_set_quad_scale(task, &twice);
  sprite3d_set_transform_flag(task, 1);
  sprite3d_bake_transform(task);
  EXPECT_EQ(sprite3d_get_transform_flag(task), 0);
  const Vec3 baked[4] = {{0, 5, 4}, {0, 5, -4}, {4, 5, 4}, {4, 5, -4}};
  for (int i = 0; i < 4; ++i) expect_vec(sprite3d_get_corners(task)[i], baked[i], "baked");
}

TEST(Sprite3dColour, Helpers) {
  EXPECT_EQ(sprite3d_argb_pack(0x12, 0x34, 0x56, 0x78), 0x12345678u);
  EXPECT_EQ(sprite3d_argb_alpha(0x12345678u), 0x12u);
  EXPECT_EQ(sprite3d_argb_red(0x12345678u), 0x34u);
  EXPECT_EQ(sprite3d_argb_green(0x12345678u), 0x56u);
  EXPECT_EQ(sprite3d_argb_blue(0x12345678u), 0x78u);
  EXPECT_FLOAT_EQ(sprite3d_argb_red_unit(0x00FF0000u), 1.0f);
  EXPECT_EQ(sprite3d_argb_from_units(1.0f, 2.0f, -1.0f, 0.5f), 0xFFFF007Fu);
  EXPECT_EQ(sprite3d_argb_lerp(0x00000000u, 0xFF804020u, 0.5f), 0x7F402010u);
  EXPECT_EQ(sprite3d_argb_lerp(0x00000000u, 0xFF804020u, 3.0f), 0xFF804020u);
  EXPECT_EQ(sprite3d_argb_shift(0x80FF8040u, 1), 0x807F4020u);
  EXPECT_EQ(sprite3d_argb_shift(0x80FF8040u, 40), 0x80000000u);
  EXPECT_EQ(clamp01_sprite3d(-3.0f), 0.0f);
  EXPECT_EQ(clamp_sprite3d(5.0f, 1.0f, 2.0f), 2.0f);
}

}  // namespace
