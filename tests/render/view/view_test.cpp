#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "render/view/view_matrices.h"
#include "render/view/view_state.h"

namespace {

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const int layout[5] = {640, 480, 640, 480, 0};
    view_set_screen(640, 480, layout);
    init_view_defaults();
  }
};

void expect_vec(const Vec3& v, float x, float y, float z, float tol = 1e-5f) {
  EXPECT_NEAR(v.x, x, tol);
  EXPECT_NEAR(v.y, y, tol);
  EXPECT_NEAR(v.z, z, tol);
}

void expect_mat(const Mat4& a, const Mat4& b, float tol = 1e-4f) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tol) << "element " << i;
}

// (p, 1) x m, all four components.
struct Clip {
  float x, y, z, w;
};
Clip clip(const Mat4& m, const Vec3& p) {
  const float* e = m.m;
  return {p.x * e[0] + p.y * e[4] + p.z * e[8] + e[12], p.x * e[1] + p.y * e[5] + p.z * e[9] + e[13],
          p.x * e[2] + p.y * e[6] + p.z * e[10] + e[14], p.x * e[3] + p.y * e[7] + p.z * e[11] + e[15]};
}

float plane_distance(const Plane& pl, const Vec3& p) { return pl.a * p.x + pl.b * p.y + pl.c * p.z + pl.d; }

// A frustum's near plane is z >= -w of the matrix it came from: a point's
// distance to it is (z + w) divided by the length of the plane's normal
// before normalising, the same for every point.
void expect_near_plane_of(const Plane& near, const Mat4& m, std::initializer_list<Vec3> points) {
  const Vec3 first = *points.begin();
  const Clip c0 = clip(m, first);
  const float per_unit = plane_distance(near, first) / (c0.z + c0.w);
  EXPECT_GT(per_unit, 0.0f);
  for (const Vec3& p : points) {
    const Clip c = clip(m, p);
    EXPECT_NEAR(plane_distance(near, p), per_unit * (c.z + c.w), 1e-3f) << p.x << " " << p.y << " " << p.z;
  }
}

bool all_zero(const Mat4& m) {
  for (float e : m.m) {
    if (e != 0.0f) return false;
  }
  return true;
}

TEST_F(ViewTest, DefaultsAndTheScreenWords) {
  EXPECT_EQ(get_virtual_screen_width(), 640);
  EXPECT_EQ(get_layout_height(), 480);
  view_set_screen(800, 600, nullptr);
  EXPECT_EQ(get_virtual_screen_width(), 800);
  EXPECT_EQ(get_layout_width(), 800);
  const int partial[5] = {0, 0, 320, 0, 0};
  view_set_screen(800, 600, partial);
  EXPECT_EQ(get_virtual_screen_width(), 320);
  EXPECT_EQ(get_virtual_screen_height(), 600);
  // Each word of a layout stands alone; a 0 takes the back buffer's side.
  for (int i = 0; i < 5; ++i) {
    int one[5] = {0, 0, 0, 0, 0};
    one[i] = 100 + i;
    view_set_screen(800, 600, one);
    const int got[5] = {get_layout_width(), get_layout_height(), get_virtual_screen_width(),
                        get_virtual_screen_height(), get_screen_orientation()};
    const int otherwise[5] = {800, 600, 800, 600, 0};
    for (int w = 0; w < 5; ++w) EXPECT_EQ(got[w], w == i ? one[i] : otherwise[w]) << i << " " << w;
  }
  view_set_screen(800, 600, partial);

  const ViewState& s = *view_state(0);
  const float k = 1.0f / std::sqrt(3.0f);
  expect_vec(s.light.base.direction, k, -k, k);
  expect_vec(s.light.target.direction, k, -k, k);
  EXPECT_EQ(s.light.base.colours[0], 0xFF646478u);
  EXPECT_EQ(s.light.override_block.colours[1], 0xFF646450u);
  EXPECT_EQ(get_fog_end(0), 100.0f);
  EXPECT_EQ(get_fog_color(0), 0xFFFFFFFFu);
  EXPECT_EQ(get_fog_color_float4(0)[3], 1.0f);
  const Plane* clip = get_clip_plane(0);
  EXPECT_NEAR(clip->b, 1.0f, 1e-6f);
  EXPECT_NEAR(clip->d, -0.1f, 1e-6f);
  EXPECT_EQ(get_extra_light_color(1, 1), 0x8C323232u);
  const float grey = 0x32 / 255.0f;
  const float default_colour[4] = {grey, grey, grey, 0x8C / 255.0f};
  set_extra_light_color(0, 1, 0x80102030u);
  const float set_colour[4] = {0x10 / 255.0f, 0x20 / 255.0f, 0x30 / 255.0f, 0x80 / 255.0f};
  for (int c = 0; c < 4; ++c) {
    EXPECT_FLOAT_EQ(get_extra_light_color_float4(1, 0)[c], default_colour[c]) << c;
    EXPECT_FLOAT_EQ(get_extra_light_color_float4(0, 1)[c], set_colour[c]) << c;
  }
  EXPECT_EQ(get_extra_light_color(0, 0), 0x8C323232u) << "the other light keeps its own";
  EXPECT_EQ(get_extra_light_type(0, 0), 1);
  EXPECT_TRUE(view_is_enabled(0));
  EXPECT_FALSE(view_is_enabled(1));
  EXPECT_EQ(get_camera_mode(0), 1);
  EXPECT_FLOAT_EQ(get_viewport_aspect(0), 640.0f / 480.0f);

  // Every plain default, in both views.
  for (int v = 0; v < kViewCount; ++v) {
    // The lights first: a rebuild fits them to the view.
    for (int l = 0; l < kExtraLightCount; ++l) {
      const Vec3* p = get_extra_light_position(v, l);
      const double light_rows[][2] = {{double(get_extra_light_enable(v, l)), 0},
                                      {double(get_extra_light_type(v, l)), 1},
                                      {get_extra_light_distance(v, l), 30},
                                      {get_extra_light_focus(v, l), 4.8f},
                                      {get_extra_light_radius(v, l), 5},
                                      {get_extra_light_param(v, l), 0.008f},
                                      {std::fabs(p->x) + std::fabs(p->y) + std::fabs(p->z), 0}};
      for (const auto& r : light_rows) EXPECT_EQ(r[0], r[1]) << "view " << v << " extra light " << l;
      expect_vec(*get_extra_light_direction(v, l), k, -k, k);
    }
    const Camera& c = view_state(v)->camera;
    const struct {
      const char* name;
      double got, want;
    } rows[] = {
        {"fog", double(get_fog_enable(v)), 0},
        {"fog start", get_fog_start(v), 0},
        {"fog2", double(get_fog2_enable(v)), 0},
        {"fog2 start", get_fog2_start(v), 0},
        {"fog2 end", get_fog2_end(v), 0},
        {"mode", double(get_camera_mode(v)), 1},
        {"fov", get_camera_fov(v), 0.78539819f},
        {"centre x", get_projection_center_x(v), 0.5f},
        {"centre y", get_projection_center_y(v), 0.5f},
        {"near", get_near(v), 0.1f},
        {"far", get_far(v), 100},
        {"far limit", get_far_limit(v), 100},
        {"eye z", get_camera_eye(v)->z, 5},
        {"clip mode", double(get_clip_plane_mode(v)), 0},
        {"clip point y", get_clip_plane_point(v)->y, 0.1f},
        {"clip normal y", get_clip_plane_normal(v)->y, 1},
        {"shake frames", double(c.shake_frames), 0},
        {"shake priority", double(c.shake_priority), 5},
    };
    for (const auto& r : rows) EXPECT_EQ(r.got, r.want) << "view " << v << " " << r.name;
  }
}

TEST_F(ViewTest, DistancesViewportAndShakeRules) {
  set_near_far(0, 0.1f, 50.0f, 100.0f);
  EXPECT_EQ(get_far_limit(0), 50.0f);
  set_far(0, 200.0f);
  EXPECT_EQ(get_far_limit(0), 50.0f);
  set_far_limit(0, 300.0f);
  EXPECT_EQ(get_far_limit(0), 200.0f);

  set_viewport(0, 3, 4, 0, 0, 1.5f);
  int x = 0, y = 0, w = 0, h = 0;
  get_viewport(0, &x, &y, &w, &h);
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(get_viewport_aspect(0), 1.5f);
  get_viewport(0, nullptr, nullptr, nullptr, nullptr);
  set_viewport_rect(0, 0, 0, 100, 0);  // a height of 0 must not give an infinite aspect
  EXPECT_EQ(get_viewport_aspect(0), 100.0f);

  const Camera& c = view_state(0)->camera;
  start_camera_shake(0, 10, 8.0f, 8.0f, 0.5f, 5);
  start_camera_shake(0, 20, 3.0f, 3.0f, 0.5f, 3);  // stronger claim replaces
  EXPECT_EQ(c.shake_frames, 20);
  start_camera_shake(0, 30, 7.0f, 7.0f, 0.5f, 7);  // weaker claim waits
  EXPECT_EQ(c.shake_frames, 20);
  start_camera_shake(0, 40, 1.0f, 1.0f, 0.5f, 3);  // equal claim replaces
  EXPECT_EQ(c.shake_frames, 40);
  view_state(0)->camera.shake_frames = 0;
  start_camera_shake(0, 5, 7.0f, 7.0f, 0.5f, 7);  // nothing running
  EXPECT_EQ(c.shake_priority, 7);
}

// The settings a second start-up must bring back, named for the messages.
std::vector<std::pair<std::string, double>> view_settings(int v) {
  const ViewState& s = *view_state(v);
  const Camera& c = s.camera;
  const Light& l = s.light;
  std::vector<std::pair<std::string, double>> out = {
      {"enabled", c.enabled}, {"mode", c.mode}, {"fov", c.fov}, {"near", c.near}, {"far", c.far},
      {"far limit", c.far_limit}, {"fog", c.fog_enabled}, {"fog start", c.fog_start}, {"fog end", c.fog_end},
      {"fog colour", c.fog_colour}, {"fog frames", c.fog_frames_remaining}, {"fog2", c.fog2_enabled},
      {"fog2 start", c.fog2_start}, {"fog2 end", c.fog2_end}, {"shake frames", c.shake_frames},
      {"light frames", l.frames_remaining}, {"override frames", l.override_frames}, {"clip mode", s.clip_plane.mode},
  };
  for (int i = 0; i < 4; ++i) out.push_back({"light colour " + std::to_string(i), l.base.colours[i]});
  for (int e = 0; e < kExtraLightCount; ++e) {
    const ExtraLight& x = s.extra_lights[e];
    for (auto [name, value] : {std::pair<const char*, double>{"enabled", x.enabled}, {"type", x.type},
                               {"colour", x.colour}, {"distance", x.distance}, {"parameter", x.parameter}})
      out.push_back({"extra light " + std::to_string(e) + " " + name, value});
  }
  return out;
}

TEST_F(ViewTest, ASecondStartUpBringsEverySettingBack) {
  const auto first0 = view_settings(0), first1 = view_settings(1);
  for (int v = 0; v < kViewCount; ++v) {
    set_view_enabled(v, 1 - v);
    set_camera_mode(v, 0);
    set_camera_fov(v, 0.3f);
    set_near_far(v, 2.0f, 50.0f, 40.0f);
    set_fog_enable(v, 1);
    fog_transition_end(v, 50.0f, 10);
    fog_transition_color(v, 0xFF00FF00u, 10);
    set_fog2_enable(v, 1);
    set_fog2_start(v, 3.0f);
    set_fog2_end(v, 9.0f);
    light_transition_color(v, 2, 0xFF112233u, 8);
    light_override_color(v, 0, 0xFF445566u, 4);
    set_extra_light_enable(v, 1, 1);
    set_extra_light_color(v, 1, 0xFF010203u);
    set_extra_light_type(v, 0, 0);
    set_extra_light_param(v, 0, 0.5f);
    set_clip_plane_mode(v, 1);
    start_camera_shake(v, 30, 2.0f, 2.0f, 0.5f, 1);
  }
  init_view_defaults();
  const auto again0 = view_settings(0), again1 = view_settings(1);
  for (size_t i = 0; i < first0.size(); ++i) {
    EXPECT_EQ(again0[i].second, first0[i].second) << "view 0 " << first0[i].first;
    EXPECT_EQ(again1[i].second, first1[i].second) << "view 1 " << first1[i].first;
  }
}

TEST_F(ViewTest, PlainSettersReadBack) {
  set_fog2_enable(1, 1);
  set_fog2_start(1, 2.0f);
  set_fog2_end(1, 3.0f);
  set_projection_center(1, 0.25f, 0.75f);
  set_camera_fov(1, 0.4f);
  set_near(1, 0.5f);
  set_far(1, 60.0f);
  const float got[] = {get_fog2_start(1), get_fog2_end(1), get_projection_center_x(1), get_projection_center_y(1),
                       get_camera_fov(1), get_near(1),     get_far(1)};
  const float want[] = {2.0f, 3.0f, 0.25f, 0.75f, 0.4f, 0.5f, 60.0f};
  for (size_t i = 0; i < sizeof want / sizeof want[0]; ++i) EXPECT_EQ(got[i], want[i]) << i;
  EXPECT_EQ(get_fog2_enable(1), 1);
  EXPECT_EQ(get_fog2_enable(0), 0) << "the other view keeps its own";

  const Vec3 eye{1, 2, 3}, target{4, 5, 6}, up{0, 2, 0};
  set_camera_look_at(1, &eye, &target, &up);
  expect_vec(*get_camera_look_at_target(1), 4, 5, 6);
  expect_vec(*get_camera_up(1), 0, 2, 0);  // not normalised

  const Vec3 position{7, 8, 9}, direction{0, 0, -3};
  set_extra_light_enable(1, 1, 1);
  set_extra_light_position(1, 1, &position);
  set_extra_light_direction(1, 1, &direction);
  set_extra_light_fit(1, 1, 11.0f, 12.0f, 13.0f);
  set_extra_light_param(1, 1, 0.5f);
  EXPECT_EQ(get_extra_light_enable(1, 1), 1);
  EXPECT_EQ(get_extra_light_enable(1, 0), 0);
  expect_vec(*get_extra_light_position(1, 1), 7, 8, 9);
  expect_vec(*get_extra_light_direction(1, 1), 0, 0, -1);
  EXPECT_EQ(get_extra_light_distance(1, 1), 11.0f);
  EXPECT_EQ(get_extra_light_focus(1, 1), 12.0f);
  EXPECT_EQ(get_extra_light_radius(1, 1), 13.0f);
  EXPECT_EQ(get_extra_light_param(1, 1), 0.5f);
  EXPECT_EQ(get_extra_light_param(1, 0), 0.008f);

  const Vec3 point{0, 2, 0}, normal{0, 0, 5};
  set_clip_plane(1, &point, &normal);
  set_clip_plane_mode(1, 3);
  expect_vec(*get_clip_plane_point(1), 0, 2, 0);
  expect_vec(*get_clip_plane_normal(1), 0, 0, 1);
  EXPECT_EQ(get_clip_plane_mode(1), 3);
  set_clip_plane(1, nullptr, nullptr);
  expect_vec(*get_clip_plane_point(1), 0, 0, 0);
  expect_vec(*get_clip_plane_normal(1), 0, 1, 0);

  set_current_view(1);
  set_current_light_index(1);
  gfx_set_clear_colour(0x01020304u);
  EXPECT_EQ(get_current_view(), 1);
  EXPECT_EQ(get_current_light_index(), 1);
  EXPECT_EQ(gfx_get_clear_colour(), 0x01020304u);
  set_current_view(0);
  set_current_light_index(0);

  // Light setters write the base block, one field each.
  const Vec3 down{0, -2, 0}, side{3, 0, 0};
  set_light_direction(1, &down);
  set_light_axis(1, &side);
  set_light_color2(1, 0xFFABCDEFu);
  const LightBlock& base = view_state(1)->light.base;
  expect_vec(base.direction, 0, -1, 0);
  expect_vec(base.axis, 1, 0, 0);
  EXPECT_EQ(base.colours[2], 0xFFABCDEFu);
  EXPECT_EQ(base.colours[3], 0xFFFFFFFFu);
  light_copy_base_to_target(1);
  EXPECT_EQ(view_state(1)->light.target.colours[2], 0xFFABCDEFu);
  light_override_direction(1, &side, 5);
  expect_vec(view_state(1)->light.override_block.direction, 1, 0, 0);
  EXPECT_EQ(view_state(1)->light.override_frames, 5);
  light_transition_axis(1, nullptr, 4);
  expect_vec(view_state(1)->light.target.axis, 0, 1, 0);
  EXPECT_EQ(view_state(1)->light.total, 4);
}

TEST_F(ViewTest, FogAndLightSettersEndTransitions) {
  const Camera& c = view_state(0)->camera;
  fog_transition_end(0, 50.0f, 10);
  EXPECT_EQ(c.fog_frames_remaining, 10);
  EXPECT_EQ(c.fog_from_end, 100.0f);
  EXPECT_EQ(c.fog_target_end, 50.0f);
  set_fog_start(0, 2.0f);
  EXPECT_EQ(c.fog_frames_remaining, 0);
  fog_transition_color(0, 0xFF00FF00u, 0);  // no frames: at once
  EXPECT_EQ(get_fog_color(0), 0xFF00FF00u);
  EXPECT_EQ(get_fog_color_float4(0)[1], 1.0f);
  // The plain setters make the value where transitions start and end too,
  // so a transition of another value leaves it still.
  set_fog_color(0, 0xFF102030u);
  EXPECT_EQ(c.fog_from_colour, 0xFF102030u);
  EXPECT_EQ(c.fog_target_colour, 0xFF102030u);
  EXPECT_EQ(c.fog_target_start, 2.0f);
  // A transition starts from where the value stands now, say where an
  // earlier one left it.
  view_state(0)->camera.fog_end = 30.0f;
  fog_transition_end(0, 80.0f, 5);
  EXPECT_EQ(c.fog_from_end, 30.0f);
  EXPECT_EQ(c.fog_target_end, 80.0f);
  EXPECT_EQ(c.fog_total, 5);
  view_state(0)->camera.fog_start = 7.0f;
  fog_transition_start(0, 9.0f, 3);
  EXPECT_EQ(c.fog_from_start, 7.0f);
  EXPECT_EQ(c.fog_target_start, 9.0f);
  view_state(0)->camera.fog_colour = 0xFF000001u;
  fog_transition_color(0, 0xFF000009u, 3);
  EXPECT_EQ(c.fog_from_colour, 0xFF000001u);
  EXPECT_EQ(c.fog_target_colour, 0xFF000009u);
  set_fog_enable(0, 0);
  EXPECT_EQ(c.fog_frames_remaining, 0) << "turning the fog off ends the transition";

  const Light& l = view_state(0)->light;
  light_transition_color(0, 2, 0xFF112233u, 8);
  EXPECT_EQ(l.frames_remaining, 8);
  EXPECT_EQ(l.target.colours[2], 0xFF112233u);
  light_transition_color1(0, 0xFF445566u, 0);
  EXPECT_EQ(l.base.colours[1], 0xFF445566u);
  EXPECT_EQ(l.frames_remaining, 0);
  // Directions and axes too: no frames changes the base at once.
  const Vec3 along_z{0.0f, 0.0f, -4.0f};
  light_transition_direction(0, &along_z, 0);
  expect_vec(l.base.direction, 0.0f, 0.0f, -1.0f);
  light_transition_axis(0, &along_z, 0);
  expect_vec(l.base.axis, 0.0f, 0.0f, -1.0f);
  EXPECT_EQ(l.frames_remaining, 0);
  light_transition_direction(0, &along_z, 6);
  expect_vec(l.target.direction, 0.0f, 0.0f, -1.0f);
  EXPECT_EQ(l.frames_remaining, 6);
  EXPECT_EQ(l.total, 6);
  const Vec3 zero{0.0f, 0.0f, 0.0f};
  set_light_direction(0, &zero);
  expect_vec(l.base.direction, 0.0f, 0.0f, 0.0f);
  light_override_color(0, 0, 0xFFFFFFFFu, 4);
  EXPECT_EQ(l.override_frames, 4);
  light_override_axis(0, nullptr);
  EXPECT_EQ(l.override_frames, 0);
  expect_vec(l.override_block.axis, 0.0f, 1.0f, 0.0f);
}

TEST_F(ViewTest, RebuildIsLazyAndDisabledViewsStayZero) {
  const Camera& c0 = view_state(0)->camera;
  EXPECT_EQ(c0.dirty, 1);
  expect_vec(*get_camera_eye(0), 0.0f, 0.0f, 5.0f);
  EXPECT_EQ(c0.dirty, 0);

  set_fog_enable(0, 1);  // fog does not touch the matrices
  EXPECT_EQ(c0.dirty, 0);
  const Vec3 eye{1.0f, 2.0f, 3.0f};
  const Vec3 target{0.0f, 0.0f, 0.0f};
  set_camera_look_at(0, &eye, &target, nullptr);
  EXPECT_EQ(c0.dirty, 1);
  EXPECT_EQ(c0.position.x, 1.0f);  // stored, not yet rebuilt
  const Mat4 before = view_state(0)->matrices.slots[kSlotView];
  const Mat4* v = get_view_matrix(0);
  EXPECT_EQ(c0.dirty, 0);
  EXPECT_NE(v->m[14], before.m[14]);

  // View 1 is disabled: never rebuilt, its matrices stay zero.
  expect_vec(*get_camera_eye(1), 0.0f, 0.0f, 5.0f);
  EXPECT_EQ(view_state(1)->camera.dirty, 1);
  EXPECT_TRUE(all_zero(*get_view_matrix(1)));
  EXPECT_TRUE(all_zero(*get_matrix_slot21(0)));
}

TEST_F(ViewTest, ProjectionOfTheOriginLandsAtTheScreenCentre) {
  float x = -1.0f, y = -1.0f;
  const Vec3 origin{0.0f, 0.0f, 0.0f};
  EXPECT_EQ(project_to_screen(0, &x, &y, &origin), kProjectInFront);
  EXPECT_NEAR(x, 320.0f, 1e-3f);
  EXPECT_NEAR(y, 240.0f, 1e-3f);

  const Vec3 up_right{1.0f, 1.0f, 0.0f};
  EXPECT_EQ(project_to_screen(0, &x, &y, &up_right), kProjectInFront);
  // Left-handed, looking down -z from (0, 0, 5): world +x is on the left;
  // screen y grows downward.
  EXPECT_LT(x, 320.0f);
  EXPECT_LT(y, 240.0f);

  const Vec3 behind{0.0f, 0.0f, 10.0f};
  EXPECT_EQ(project_to_ndc(0, &x, &y, &behind), kProjectBehind);
  const Vec3 aside{1000.0f, 0.0f, 0.0f};
  EXPECT_EQ(project_to_ndc(0, nullptr, nullptr, &aside), kProjectOutside);

  x = 7.0f;
  EXPECT_EQ(project_to_ndc(1, &x, nullptr, &origin), kProjectOutside);
  EXPECT_EQ(x, 7.0f);

  // Rays: the centre of the screen looks at the origin.
  Vec3 dir;
  ASSERT_NE(unproject_viewport(0, &dir, 0.5f, 0.5f), nullptr);
  expect_vec(dir, 0.0f, 0.0f, -1.0f);
  Vec3 point;
  unproject_centred(0, &point, &dir, 0.0f, 0.0f);
  expect_vec(point, 0.0f, 0.0f, 4.9f);
  expect_vec(dir, 0.0f, 0.0f, -1.0f);

  // Off the centre: the ray through each screen fraction leads back to it.
  // (fx, fy) = (0, 0) is the top-left corner, where clip x is -1 and y is 1.
  const struct {
    float fx, fy;
  } fractions[] = {{0.0f, 0.0f}, {1.0f, 0.25f}, {0.25f, 1.0f}, {0.8f, 0.6f}};
  for (const auto& f : fractions) {
    ASSERT_NE(unproject_viewport(0, &dir, f.fx, f.fy), nullptr);
    EXPECT_NEAR(vec3_length(&dir), 1.0f, 1e-5f);
    Vec3 along;
    vec3_madd(&along, get_camera_eye(0), &dir, 7.0f);
    float nx = 0.0f, ny = 0.0f;
    project_to_ndc(0, &nx, &ny, &along);
    EXPECT_NEAR(nx, 2.0f * f.fx - 1.0f, 1e-4f) << f.fx << ", " << f.fy;
    EXPECT_NEAR(ny, 1.0f - 2.0f * f.fy, 1e-4f) << f.fx << ", " << f.fy;
  }
  // Centred coordinates run -1..1 with y up; the point lies on the near plane.
  unproject_centred(0, &point, &dir, 1.0f, -1.0f);
  EXPECT_NEAR(point.z, 4.9f, 1e-5f);
  float nx = 0.0f, ny = 0.0f;
  project_to_ndc(0, &nx, &ny, &point);
  EXPECT_NEAR(nx, 1.0f, 1e-4f);
  EXPECT_NEAR(ny, -1.0f, 1e-4f);
  Vec3 to_point;
  vec3_sub(&to_point, &point, get_camera_eye(0));
  vec3_normalize(&to_point, &to_point);
  expect_vec(dir, to_point.x, to_point.y, to_point.z);
  unproject_centred(0, nullptr, nullptr, 0.5f, 0.5f);

  // Slot 4 (V x P) maps to clip space; slot 3 (P x V) is a different matrix.
  const Mat4* s3 = get_proj_view_matrix(0);
  const Mat4* s4 = get_matrix_slot4(0);
  bool differs = false;
  for (int i = 0; i < 16; ++i) differs |= std::fabs(s3->m[i] - s4->m[i]) > 1e-4f;
  EXPECT_TRUE(differs);
  Mat4 product;
  mat4_multiply(&product, get_view_matrix(0), get_projection_matrix(0));
  expect_mat(*s3, product);
  mat4_multiply(&product, get_projection_matrix(0), get_view_matrix(0));
  expect_mat(*s4, product);
}

TEST_F(ViewTest, CameraModesPlaceTheCamera) {
  // Mode 0: position and angles.
  set_camera_mode(0, 0);
  const Vec3 pos{1.0f, 2.0f, 3.0f};
  const Vec3 angles{0.1f, 0.2f, 0.3f};
  set_camera_position_angles(0, &pos, &angles);
  Mat4 cw;
  mat4_from_position_euler(&cw, &pos, &angles);
  expect_mat(*get_camera_matrix(0), cw);
  expect_mat(*get_camera_world_matrix(0), cw);
  Mat4 identity, product;
  mat4_identity(&identity);
  mat4_multiply(&product, get_view_matrix(0), &cw);
  expect_mat(product, identity);
  expect_vec(*get_camera_eye(0), 1.0f, 2.0f, 3.0f);
  // A quarter turn of yaw looks along +x with its right hand towards -z.
  const Vec3 quarter{0.0f, 1.5707963f, 0.0f};
  set_camera_position_angles(0, &pos, &quarter);
  const Mat4* turned = get_camera_matrix(0);
  expect_vec(Vec3{turned->m[8], turned->m[9], turned->m[10]}, 1.0f, 0.0f, 0.0f);
  expect_vec(Vec3{turned->m[0], turned->m[1], turned->m[2]}, 0.0f, 0.0f, -1.0f);
  const Vec3 ahead{4.0f, 2.0f, 3.0f};
  Vec3 in_view;
  mat4_transform_point(&in_view, get_view_matrix(0), &ahead);
  expect_vec(in_view, 0.0f, 0.0f, 3.0f);

  // Mode 2: the camera-to-world matrix given.
  set_camera_mode(0, 2);
  Mat4 given;
  const Vec3 p2{-4.0f, 0.5f, 2.0f};
  const Vec3 a2{0.0f, 1.0f, 0.0f};
  mat4_from_position_euler(&given, &p2, &a2);
  set_camera_matrix(0, &given);
  expect_mat(*get_camera_matrix(0), given);
  expect_vec(*get_camera_eye(0), -4.0f, 0.5f, 2.0f);
  expect_vec(*get_camera_angles(0), 0.0f, 1.0f, 0.0f);
  mat4_multiply(&product, get_view_matrix(0), &given);
  expect_mat(product, identity);
  // Mode 1: looking from the eye at the target; the view matrix undoes it too.
  set_camera_mode(0, 1);
  const Vec3 eye{3.0f, 4.0f, -5.0f}, target{0.0f, 1.0f, 0.0f};
  set_camera_look_at(0, &eye, &target, nullptr);
  mat4_multiply(&product, get_view_matrix(0), get_camera_matrix(0));
  expect_mat(product, identity);
  Vec3 target_in_view;
  mat4_transform_point(&target_in_view, get_view_matrix(0), &target);
  expect_vec(target_in_view, 0.0f, 0.0f, std::sqrt(9.0f + 9.0f + 25.0f), 1e-4f);

  // Mode 3: the view matrix given; the eye is the inverse's translation.
  set_camera_mode(0, 3);
  Mat4 view_given;
  mat4_invert(&view_given, &given);
  set_camera_matrix(0, &view_given);
  expect_mat(*get_view_matrix(0), view_given);
  expect_mat(*get_camera_matrix(0), given);
  expect_vec(*get_camera_eye(0), -4.0f, 0.5f, 2.0f);
  // Rays leave from the rebuilt camera, not from the view matrix the field
  // holds: the centre looks along the given camera's z axis from its eye.
  Vec3 ray, near_point;
  ASSERT_NE(unproject_viewport(0, &ray, 0.5f, 0.5f), nullptr);
  expect_vec(ray, given.m[8], given.m[9], given.m[10]);
  unproject_centred(0, &near_point, &ray, 0.0f, 0.0f);
  expect_vec(near_point, -4.0f + 0.1f * given.m[8], 0.5f + 0.1f * given.m[9], 2.0f + 0.1f * given.m[10]);

  // Any other mode: identity, for rays too, whatever the field still holds.
  set_camera_mode(0, 9);
  expect_mat(*get_view_matrix(0), identity);
  expect_mat(*get_camera_matrix(0), identity);
  ASSERT_NE(unproject_viewport(0, &ray, 0.5f, 0.5f), nullptr);
  expect_vec(ray, 0.0f, 0.0f, 1.0f);
  unproject_centred(0, &near_point, &ray, 0.0f, 0.0f);
  expect_vec(near_point, 0.0f, 0.0f, 0.1f);
}

TEST_F(ViewTest, ExtraLightsFitTheirSphere) {
  get_view_matrix(0);
  EXPECT_NEAR(get_extra_light_near(0, 0), 25.0f, 1e-4f);
  EXPECT_NEAR(get_extra_light_far(0, 0), 35.0f, 1e-4f);
  EXPECT_NEAR(view_state(0)->extra_lights[0].fov, 2.0f * std::asin(1.0f / 6.0f), 1e-5f);

  for (float distance : {4.0f, 5.0f}) {
    SCOPED_TRACE(distance);
    set_extra_light_fit(0, 1, distance, 4.8f, 5.0f);
    EXPECT_NEAR(get_extra_light_near(0, 1), 0.001f, 1e-4f);
    EXPECT_NEAR(get_extra_light_far(0, 1), 10.001f, 1e-4f);
    const ExtraLight& e = view_state(0)->extra_lights[1];
    EXPECT_NEAR(e.fov, 2.0f * std::asin(5.0f / 5.001f), 1e-3f);
    // The eye still stands `distance` behind the sphere's centre, against
    // the light's direction (1, -1, 1) / sqrt 3: up, left and nearer the camera.
    const float k = distance / std::sqrt(3.0f);
    expect_vec(e.position, -k, k, 0.2f - k, 1e-4f);
    for (float m : get_light_matrix_e(0, 1)->m) EXPECT_TRUE(std::isfinite(m));
  }

  // The fitted light looks at the sphere's centre, 4.8 ahead of the camera
  // along its forward axis, which lands in the middle of its screen.
  set_extra_light_fit(0, 1, 30.0f, 4.8f, 5.0f);
  const Vec3 centre{0.0f, 0.0f, 0.2f};
  const Clip c = clip(*get_light_matrix_e(0, 1), centre);
  EXPECT_NEAR(c.x / c.w, 0.0f, 1e-4f);
  EXPECT_NEAR(c.y / c.w, 0.0f, 1e-4f);
  EXPECT_NEAR(c.w, 30.0f, 1e-3f) << "the centre lies 30 ahead of the light";
  // The sphere's nearest point along the light lies at depth 0, on the
  // projection's near plane; the frustum's near plane is the light's z >= -w.
  const float k = 5.0f / std::sqrt(3.0f);
  const Vec3 nearest{-k, k, 0.2f - k};
  EXPECT_NEAR(clip(*get_light_matrix_e(0, 1), nearest).z, 0.0f, 1e-3f);
  expect_near_plane_of(get_light_frustum(0, 1)[kFrustumNear], *get_light_matrix_e(0, 1), {centre, nearest, Vec3{4, -2, 9}});

  // Type 0 uses its own projection and stands at its own position, turned
  // along its direction.
  set_extra_light_type(0, 0, 0);
  set_extra_light_projection(0, 0, 0.5f, 1.0f, 20.0f);
  const Vec3 at{3.0f, 4.0f, 5.0f}, down{0.0f, -1.0f, 0.0001f};
  set_extra_light_position(0, 0, &at);
  set_extra_light_direction(0, 0, &down);
  EXPECT_EQ(get_extra_light_near(0, 0), 1.0f);
  EXPECT_EQ(get_extra_light_far(0, 0), 20.0f);
  const Mat4* camera = get_light_matrix_b(0, 0);
  expect_vec(Vec3{camera->m[12], camera->m[13], camera->m[14]}, 3.0f, 4.0f, 5.0f);
  expect_vec(Vec3{camera->m[8], camera->m[9], camera->m[10]}, 0.0f, -1.0f, 0.0f, 1e-3f);
  const Vec3 below{3.0f, -6.0f, 5.0f};
  const Clip b = clip(*get_light_matrix_e(0, 0), below);
  EXPECT_NEAR(b.w, 10.0f, 1e-3f) << "10 along the light";
  EXPECT_NEAR(b.x / b.w, 0.0f, 1e-3f);
  Mat4 product;
  mat4_multiply(&product, get_light_matrix_a(0, 0), camera);
  Mat4 identity;
  mat4_identity(&identity);
  expect_mat(product, identity);
  // Each light's products of its view (a) and projection (c): d = c x a, e = a x c.
  for (int l = 0; l < kExtraLightCount; ++l) {
    SCOPED_TRACE(l);
    mat4_multiply(&product, get_light_matrix_a(0, l), get_light_matrix_c(0, l));
    expect_mat(*get_light_matrix_d(0, l), product);
    mat4_multiply(&product, get_light_matrix_c(0, l), get_light_matrix_a(0, l));
    expect_mat(*get_light_matrix_e(0, l), product);
    mat4_multiply(&product, get_light_matrix_a(0, l), get_light_matrix_b(0, l));
    expect_mat(product, identity);
  }
  EXPECT_NE(get_light_matrix_c(0, 0)->m[0], get_light_matrix_c(0, 1)->m[0]) << "the two lights differ here";
}

TEST_F(ViewTest, MirrorSlotsReflectInTheClipPlaneAndClipAtIt) {
  // The plane x = 1 facing the camera; the default camera stands at
  // (0, 0, 5) looking at the origin, so camera x = -world x, y = world y and
  // z = 5 - world z.
  const Vec3 on{1.0f, 0.0f, 0.0f}, normal{-2.0f, 0.0f, 0.0f};
  set_clip_plane(0, &on, &normal);
  const Plane* plane = get_clip_plane(0);
  EXPECT_NEAR(plane->a, -1.0f, 1e-6f);
  EXPECT_NEAR(plane->d, 1.0f, 1e-6f);

  // Slot 16 reflects first, then views: (0.5, 3, -1) -> (1.5, 3, -1) -> (-1.5, 3, 6).
  const Vec3 p{0.5f, 3.0f, -1.0f};
  Vec3 q;
  mat4_transform_point(&q, get_matrix_slot16(0), &p);
  expect_vec(q, -1.5f, 3.0f, 6.0f);
  mat4_transform_point(&q, get_matrix_slot17(0), &q);
  expect_vec(q, 0.5f, 3.0f, -1.0f);

  // Slot 20 (MV x MP) places the mirrored point where the plain projection
  // places its reflection; only depth differs.
  const Vec3 reflected{1.5f, 3.0f, -1.0f};
  const Clip m = clip(*get_matrix_slot20(0), p);
  const Clip r = clip(*get_matrix_slot4(0), reflected);
  EXPECT_NEAR(m.x / m.w, r.x / r.w, 1e-4f);
  EXPECT_NEAR(m.y / m.w, r.y / r.w, 1e-4f);
  EXPECT_NEAR(m.w, 6.0f, 1e-4f);
  // Slot 18's near plane is the clip plane: a point on it has depth 0, the
  // camera's side of the mirror (seen reflected) depth above 0, the far side
  // below.
  const Vec3 on_plane{1.0f, 0.3f, -2.0f}, this_side{0.0f, 0.0f, 0.0f}, far_side{2.0f, 0.0f, 0.0f};
  EXPECT_NEAR(clip(*get_matrix_slot20(0), on_plane).z, 0.0f, 1e-4f);
  EXPECT_GT(clip(*get_matrix_slot20(0), this_side).z, 0.0f);
  EXPECT_LT(clip(*get_matrix_slot20(0), far_side).z, 0.0f);
  expect_near_plane_of(get_view_frustum_4(0)[kFrustumNear], *get_matrix_slot20(0), {this_side, on_plane, far_side});
  EXPECT_GT(plane_distance(get_view_frustum_4(0)[kFrustumNear], this_side), 0.0f);
  // Slot 18 is the projection itself: the mirrored view's point through it
  // gives slot 20's result; slot 19 (MP x MV) applies them the other way.
  const Clip through18 = clip(*get_matrix_slot18(0), Vec3{-1.5f, 3.0f, 6.0f});
  EXPECT_NEAR(through18.z, m.z, 1e-4f);
  EXPECT_NEAR(through18.w, m.w, 1e-4f);
  const Clip other = clip(*get_matrix_slot19(0), p);
  EXPECT_GT(std::fabs(other.w - m.w) + std::fabs(other.x - m.x), 1e-2f);
  EXPECT_TRUE(all_zero(*get_matrix_slot21(0)));
}

TEST_F(ViewTest, PixelsMapToTheVirtualScreen) {
  const int layout[5] = {0, 0, 0, 0, 0};
  view_set_screen(640, 480, layout);
  int x = 0, y = 0;
  pixel_to_virtual_screen(&x, &y, 100, 50);
  EXPECT_EQ(x, 100);
  EXPECT_EQ(y, 50);
  const int mirrored[5] = {0, 0, 0, 0, 1};
  view_set_screen(640, 480, mirrored);
  pixel_to_virtual_screen(&x, &y, 100, 50);
  EXPECT_EQ(x, 540);
  EXPECT_EQ(y, 50);
  pixel_to_virtual_screen(nullptr, nullptr, 1, 1);
  float fx = 0.0f, fy = 0.0f;
  view_set_screen(640, 480, layout);
  pixel_to_normalized_screen(&fx, &fy, 320, 0);
  EXPECT_EQ(fx, 0.0f);
  EXPECT_EQ(fy, 1.0f);

  // Orientations and sizes that differ: {back buffer, virtual, orientation,
  // pixel, expected}. Orientations 3 and 5 swap the axes; a back buffer
  // smaller than the virtual screen scales about the centres.
  const struct {
    int bw, bh, vw, vh, o, x, y, want_x, want_y;
  } cases[] = {
      {640, 480, 640, 480, 2, 100, 50, 100, 430},   // mirrored top to bottom
      {640, 480, 640, 480, 4, 100, 50, 540, 430},   // both
      {480, 640, 640, 480, 3, 100, 50, 590, 100},   // axes swapped, then x mirrored
      {480, 640, 640, 480, 5, 100, 50, 50, 380},    // axes swapped, then y mirrored
      {320, 240, 640, 480, 0, 100, 50, 200, 100},   // half the size: twice the distance
      {320, 480, 640, 480, 0, 100, 50, 200, -140},  // narrower only: the width's scale for both axes
      {640, 240, 640, 480, 0, 100, 50, -120, 100},  // lower only: the height's scale for both
  };
  for (const auto& c : cases) {
    const int l[5] = {0, 0, c.vw, c.vh, c.o};
    view_set_screen(c.bw, c.bh, l);
    int x = -1, y = -1;
    pixel_to_virtual_screen(&x, &y, c.x, c.y);
    EXPECT_EQ(x, c.want_x) << c.bw << "x" << c.bh << " o " << c.o;
    EXPECT_EQ(y, c.want_y) << c.bw << "x" << c.bh << " o " << c.o;
  }
  const int half[5] = {0, 0, 640, 480, 0};
  view_set_screen(320, 240, half);
  pixel_to_normalized_screen(&fx, &fy, 0, 240);
  EXPECT_EQ(fx, -1.0f);
  EXPECT_EQ(fy, -1.0f);
  // Before start-up the sizes are 0: no scale, and no division by them.
  view_set_screen(0, 0, half);
  pixel_to_virtual_screen(&x, &y, 10, 10);
  EXPECT_EQ(x, 330);
  EXPECT_EQ(y, 250);
  view_set_screen(0, 0, nullptr);
  pixel_to_normalized_screen(&fx, &fy, 10, 10);
  EXPECT_EQ(fx, 0.0f);
  EXPECT_EQ(fy, 0.0f);
}

}  // namespace
