#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "render/overlay2d/overlay2d.h"
#include "render/overlay2d/text2d.h"
#include "render/tasks/task.h"

namespace {

class OverlayTypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tasks_init();
    ASSERT_EQ(line2d_register_type(), 1);
    ASSERT_EQ(tri2d_register_type(), 2);
    ASSERT_EQ(overlay2d_register_types(), 4);
  }
  void TearDown() override { tasks_shutdown(); }
};

TEST_F(OverlayTypesTest, TypeIdsFollowTheRegistrationOrder) {
  EXPECT_EQ(line2d_get_type(), 1);
  EXPECT_EQ(tri2d_get_type(), 2);
  EXPECT_EQ(sprite2d_get_type(), 4);
  EXPECT_EQ(text_get_type(), 3);
  // The later types continue at 5.
  EXPECT_EQ(task_type_register(nullptr, nullptr, nullptr, nullptr, 0), 5);
}

TEST_F(OverlayTypesTest, CreatorsSetDefaultsLayerAndLifetime) {
  Task* rect = sprite2d_draw_rect(3, 0x80FF0000u, 10, 20, 30, 40, 0.5f, 0.5f, 2, 1, 27);
  ASSERT_NE(rect, nullptr);
  const SpriteData* s = sprite2d_data(rect);
  EXPECT_EQ(rect->layer, 27);
  EXPECT_EQ(rect->sort_key, (27u << 24) | (7u << 20) | (4u << 16));
  EXPECT_NE(rect->flags & kTaskVisible, 0u);
  EXPECT_EQ(rect->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame);
  EXPECT_EQ(s->blend, 1);
  EXPECT_EQ(s->filter, -1);
  EXPECT_EQ(s->uv0[3].x, 1.0f);
  EXPECT_EQ(s->uv1[1].x, 1.0f);
  EXPECT_EQ(sprite2d_get_width(rect), 30.0f);
  EXPECT_EQ(sprite2d_get_scale_x(rect), 2.0f);

  Task* kept = sprite2d_create_rect(3, 0xFFFFFFFFu, 0, 0, 1, 1, 0, 0, 1, 1, 12);
  EXPECT_EQ(kept->flags & kTaskLifetimeMask, 0u);

  // Lines and triangles are shown by their creators, not their create callback.
  Task* line = line2d_draw(3, 1, 2, 0xFF00FF00u, 3, 4, 0xFF0000FFu, 16);
  ASSERT_NE(line, nullptr);
  const LineData* l = task_data<LineData>(line);
  EXPECT_EQ(l->p1[0], 3.0f);
  EXPECT_EQ(l->p1[2], 0.0f);
  EXPECT_EQ(l->flags & kPrim2dBlendMask, 1u);
  line2d_set_blend(line, 0x23);
  EXPECT_EQ(l->flags & kPrim2dBlendMask, 3u);
  EXPECT_NE(line->flags & kTaskVisible, 0u);

  // Setters of one type leave other types alone.
  sprite2d_set_colour(line, 0);
  line2d_set_colours(rect, 0, 0);
  EXPECT_EQ(l->colour0, 0xFF00FF00u);
  EXPECT_EQ(sprite2d_get_colour(rect), 0x80FF0000u);
  EXPECT_EQ(sprite2d_data(nullptr), nullptr);

  // A texture handle that names nothing leaves the sprite unchanged.
  sprite2d_bind_texture(rect, 999);
  sprite2d_bind_crop(rect, 999);
  EXPECT_EQ(sprite2d_get_texture(rect), 0u);
  EXPECT_EQ(sprite2d_get_width(rect), 30.0f);

  uint8_t params[64];
  for (int i = 0; i < 64; ++i) params[i] = static_cast<uint8_t>(i + 1);
  sprite2d_set_shader(rect, 2, params, 64);
  EXPECT_EQ(s->shader, 2);
  EXPECT_EQ(s->shader_params[39], 40);
}

TEST_F(OverlayTypesTest, SettersReachTheirOwnFields) {
  Task* t = sprite2d_create_rect(1, 0xFFFFFFFFu, 0, 0, 1, 1, 0, 0, 1, 1, 20);
  const SpriteData* s = sprite2d_data(t);
  sprite2d_set_position(t, 1, 2);
  sprite2d_set_size(t, 3, 4);
  sprite2d_set_pivot(t, 0.25f, 0.75f);
  sprite2d_set_scale(t, 5, 6);
  sprite2d_set_angle(t, 0.5f);
  sprite2d_set_colour(t, 0x11223344u);
  const float got[] = {sprite2d_get_x(t),       sprite2d_get_y(t),       sprite2d_get_width(t),
                       sprite2d_get_height(t),  sprite2d_get_pivot_x(t), sprite2d_get_pivot_y(t),
                       sprite2d_get_scale_x(t), sprite2d_get_scale_y(t), sprite2d_get_angle(t)};
  const float want[] = {1, 2, 3, 4, 0.25f, 0.75f, 5, 6, 0.5f};
  for (size_t i = 0; i < sizeof want / sizeof want[0]; ++i) EXPECT_EQ(got[i], want[i]) << i;
  EXPECT_EQ(sprite2d_get_colour(t), 0x11223344u);
  sprite2d_set_texture(t, 7);
  sprite2d_set_texture1(t, 8);
  EXPECT_EQ(sprite2d_get_texture(t), 7u);
  EXPECT_EQ(sprite2d_get_texture1(t), 8u);
  EXPECT_EQ(s->width, 3.0f) << "a handle alone leaves the size";
  sprite2d_set_sampler_mode(t, 1);
  sprite2d_set_blend(t, 9);
  sprite2d_set_clip_rect(t, 10, 11, 12, 13);
  EXPECT_EQ(s->filter, 1);
  EXPECT_EQ(s->blend, 9);
  EXPECT_EQ(s->clip_x, 10);
  EXPECT_EQ(s->clip_y, 11);
  EXPECT_EQ(s->clip_width, 12);
  EXPECT_EQ(s->clip_height, 13);
  sprite2d_set_uv_orientation(t, 1, kSpriteFlipLeftRight);
  sprite2d_set_uv1_orientation(t, 3, kSpriteFlipTopBottom);
  EXPECT_EQ(s->uv0_turns, 1);
  EXPECT_EQ(s->uv0_flips, kSpriteFlipLeftRight);
  EXPECT_EQ(s->uv1_turns, 3);
  EXPECT_EQ(s->uv1_flips, kSpriteFlipTopBottom);
  // Rectangles fill the corners (left, top), (right, top), (left, bottom),
  // (right, bottom); corner lists go in as given.
  sprite2d_set_uv_rect(t, 0.1f, 0.2f, 0.3f, 0.4f);
  sprite2d_set_uv_rect1(t, 0.5f, 0.6f, 0.7f, 0.8f);
  const Vec2 rect0[4] = {{0.1f, 0.2f}, {0.3f, 0.2f}, {0.1f, 0.4f}, {0.3f, 0.4f}};
  const Vec2 rect1[4] = {{0.5f, 0.6f}, {0.7f, 0.6f}, {0.5f, 0.8f}, {0.7f, 0.8f}};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(s->uv0[k].x, rect0[k].x) << k;
    EXPECT_EQ(s->uv0[k].y, rect0[k].y) << k;
    EXPECT_EQ(s->uv1[k].x, rect1[k].x) << k;
    EXPECT_EQ(s->uv1[k].y, rect1[k].y) << k;
  }
  const float corners[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  sprite2d_set_uv_corners(t, corners);
  sprite2d_set_uv_corners1(t, corners);
  EXPECT_EQ(s->uv0[2].x, 5.0f);
  EXPECT_EQ(s->uv1[3].y, 8.0f);

  Task* tri = tri2d_draw(1, 1, 2, 0xFF0000FFu, 3, 4, 0xFF00FF00u, 5, 6, 0xFFFF0000u, 16);
  ASSERT_NE(tri, nullptr);
  const TriangleData* d = task_data<TriangleData>(tri);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(d->p[k][0], float(1 + 2 * k)) << k;
    EXPECT_EQ(d->p[k][1], float(2 + 2 * k)) << k;
  }
  EXPECT_EQ(d->colour[0], 0xFF0000FFu);
  EXPECT_EQ(d->colour[2], 0xFFFF0000u);
  EXPECT_NE(tri->flags & kTaskVisible, 0u);
  EXPECT_EQ(tri->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame);
  EXPECT_EQ(tri->layer, 16);
  tri2d_set_blend(tri, 0x25);
  EXPECT_EQ(d->flags & kPrim2dBlendMask, 5u);

  // Sprite calls on another type or on no task read 0 and write nothing.
  const TriangleData before = *d;
  for (Task* other : {tri, static_cast<Task*>(nullptr)}) {
    sprite2d_set_position(other, 9, 9);
    sprite2d_set_size(other, 9, 9);
    sprite2d_set_colour(other, 0x99999999u);
    sprite2d_set_texture(other, 9);
    sprite2d_set_uv_corners(other, corners);
    const float none[] = {sprite2d_get_x(other),       sprite2d_get_y(other),       sprite2d_get_width(other),
                          sprite2d_get_height(other),  sprite2d_get_pivot_x(other), sprite2d_get_pivot_y(other),
                          sprite2d_get_scale_x(other), sprite2d_get_scale_y(other), sprite2d_get_angle(other)};
    for (float v : none) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(sprite2d_get_colour(other), 0u);
    EXPECT_EQ(sprite2d_get_texture(other), 0u);
    EXPECT_EQ(sprite2d_get_texture1(other), 0u);
  }
  EXPECT_EQ(std::memcmp(&before, d, sizeof before), 0);
}

TEST_F(OverlayTypesTest, CornersFollowPivotScaleAndRotation) {
  Task* t = sprite2d_create_rect(1, 0xFFFFFFFFu, 200, 100, 100, 50, 0.5f, 0.5f, 1, 1, 20);
  const SpriteData* s = sprite2d_data(t);
  Vec2 c[4];
  EXPECT_EQ(sprite2d_corners(c, s, 1, 1, 0.5f), 0);
  EXPECT_EQ(c[0].x, 149.5f);
  EXPECT_EQ(c[0].y, 74.5f);
  EXPECT_EQ(c[3].x, 249.5f);
  EXPECT_EQ(c[3].y, 124.5f);

  // A quarter turn: (dx, dy) -> (dx c + dy s, dy c - dx s).
  sprite2d_set_angle(t, 1.5707964f);
  EXPECT_EQ(sprite2d_corners(c, s, 1, 1, 0.5f), 1);
  EXPECT_NEAR(c[0].x, 199.5f - 25.0f, 1e-3f);  // top-left offset (-50, -25)
  EXPECT_NEAR(c[0].y, 99.5f + 50.0f, 1e-3f);
  EXPECT_NEAR(c[3].x, 199.5f + 25.0f, 1e-3f);
  EXPECT_NEAR(c[3].y, 99.5f - 50.0f, 1e-3f);

  // Hit tests use the position without the half-pixel offset.
  sprite2d_set_angle(t, 0.0f);
  EXPECT_TRUE(sprite2d_hit_point(t, 1, 1, 150, 75));
  EXPECT_FALSE(sprite2d_hit_point(t, 1, 1, 149, 75));
  EXPECT_TRUE(sprite2d_hit_point(t, 2, 1, 110, 75));  // the factor widens the quad
  EXPECT_TRUE(sprite2d_hit_point(t, 1, 1, 245, 100));
  EXPECT_FALSE(sprite2d_hit_point(t, 1, 1, 230, 70));
  // Turned an eighth: (45, 0) from the centre is off the narrow side now,
  // (30, -30) lies along the turned long axis.
  sprite2d_set_angle(t, 0.78539816f);
  EXPECT_FALSE(sprite2d_hit_point(t, 1, 1, 245, 100));
  EXPECT_TRUE(sprite2d_hit_point(t, 1, 1, 230, 70));
  EXPECT_FALSE(sprite2d_hit_point(t, 1, 1, 230, 130));
  const Vec2 along{230, 70}, across{230, 130}, centre{400, 100};
  EXPECT_TRUE(sprite2d_hit_circle(t, 1, 1, &along, 1));
  EXPECT_FALSE(sprite2d_hit_circle(t, 1, 1, &across, 1));
  EXPECT_FALSE(sprite2d_hit_circle(t, 1, 1, &centre, 10));
  EXPECT_FALSE(sprite2d_hit_point(nullptr, 1, 1, 0, 0));

  // The quad of a task: no offset, the factors applied; other tasks have none.
  Quad2D quad{};
  EXPECT_EQ(quad2d_compute_corners(&quad, t, 2, 1), 1);
  EXPECT_NEAR(quad.corner[0].x, 200.0f - 70.7107f - 17.6777f, 1e-3f);
  sprite2d_set_angle(t, 0.0f);
  EXPECT_EQ(quad2d_compute_corners(&quad, t, 2, 1), 0);
  EXPECT_EQ(quad.corner[0].x, 100.0f);
  EXPECT_EQ(quad.corner[3].y, 125.0f);
  Task* line = line2d_draw(1, 0, 0, 0xFFFFFFFFu, 5, 5, 0xFFFFFFFFu, 20);
  for (Task* none : {line, static_cast<Task*>(nullptr)}) {
    Quad2D untouched{};
    EXPECT_EQ(quad2d_compute_corners(&untouched, none, 1, 1), 0);
    EXPECT_EQ(untouched.corner[3].x, 0.0f);
  }

  // Segments and other sprites, the factors widening each quad.
  sprite2d_set_angle(t, 0.0f);
  const Vec2 a{100, 100}, b{300, 100}, p{0, 0}, q{10, 0}, e{260, 60}, f{260, 140};
  EXPECT_TRUE(sprite2d_hit_segment(t, 1, 1, &a, &b));
  EXPECT_FALSE(sprite2d_hit_segment(t, 1, 1, &p, &q));
  EXPECT_FALSE(sprite2d_hit_segment(t, 1, 1, &e, &f)) << "passes right of the quad";
  EXPECT_TRUE(sprite2d_hit_segment(t, 1.5f, 1, &e, &f)) << "one and a half times as wide reaches it";
  Task* other = sprite2d_create_rect(1, 0xFFFFFFFFu, 320, 100, 100, 50, 0.5f, 0.5f, 1, 1, 20);
  EXPECT_FALSE(sprite2d_hit_sprite(t, 1, 1, other, 1, 1));
  EXPECT_TRUE(sprite2d_hit_sprite(t, 1.5f, 1, other, 1, 1));
  EXPECT_TRUE(sprite2d_hit_sprite(t, 1, 1, other, 1.5f, 1));
  EXPECT_FALSE(sprite2d_hit_sprite(t, 1, 2, other, 1, 2)) << "taller, not wider";
  EXPECT_FALSE(sprite2d_hit_sprite(t, 1, 1, nullptr, 1, 1));
}

TEST_F(OverlayTypesTest, UvOrientationTurnsAndFlips) {
  const Vec2 uv[4] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  struct Case {
    uint8_t turns, flips;
    Vec2 expected[4];
  };
  const Case cases[] = {
      {0, 0, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}},
      {1, 0, {{1, 0}, {1, 1}, {0, 0}, {0, 1}}},
      {2, 0, {{1, 1}, {0, 1}, {1, 0}, {0, 0}}},
      {3, 0, {{0, 1}, {0, 0}, {1, 1}, {1, 0}}},
      {0, kSpriteFlipLeftRight, {{1, 0}, {0, 0}, {1, 1}, {0, 1}}},
      {0, kSpriteFlipTopBottom, {{0, 1}, {1, 1}, {0, 0}, {1, 0}}},
      // Odd turns: left-right swaps v across the top and bottom pairs.
      {1, kSpriteFlipLeftRight, {{1, 1}, {1, 0}, {0, 1}, {0, 0}}},
      {1, kSpriteFlipTopBottom, {{0, 0}, {0, 1}, {1, 0}, {1, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.turns) << "/" << int(c.flips));
    Vec2 out[4];
    sprite2d_orient_uvs(out, uv, c.turns, c.flips);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(out[k].x, c.expected[k].x) << k;
      EXPECT_EQ(out[k].y, c.expected[k].y) << k;
    }
  }
}

}  // namespace

namespace {

TEST_F(OverlayTypesTest, UvFromScreenGivesTheTextureCoordinatesUnderTheSprite) {
  // 100 x 50 at (200, 100) with pivot (0.5, 0.5): the screen rectangle
  // 150..250 x 75..125, looked up in a 400 x 200 texture.
  struct Case {
    int set;
    float a, b, z;
    float u0, v0, u3, v3;  // top-left and bottom-right corners
  } cases[] = {
      {0, 0, 0, 1.0f, 0.375f, 0.375f, 0.625f, 0.625f},
      {1, 0, 0, 1.0f, 0.375f, 0.375f, 0.625f, 0.625f},
      {0, 50, -75, 1.0f, 0.5f, 0.0f, 0.75f, 0.25f},  // offsets in pixels
      {0, 0, 0, 0.5f, 0.4375f, 0.4375f, 0.5625f, 0.5625f},
      {0, 0, 0, 2.0f, 0.25f, 0.25f, 0.75f, 0.75f},
  };
  for (const Case& c : cases) {
    Task* t = sprite2d_draw_rect(3, 0xFFFFFFFFu, 200, 100, 100, 50, 0.5f, 0.5f, 1, 1, 20);
    sprite2d_uv_from_screen(t, c.set, 400, 200, c.a, c.b, c.z);
    const SpriteData* s = sprite2d_data(t);
    const Vec2* uv = c.set == 0 ? s->uv0 : s->uv1;
    const Vec2* other = c.set == 0 ? s->uv1 : s->uv0;
    EXPECT_FLOAT_EQ(uv[0].x, c.u0) << "set " << c.set << " z " << c.z;
    EXPECT_FLOAT_EQ(uv[0].y, c.v0);
    EXPECT_FLOAT_EQ(uv[3].x, c.u3);
    EXPECT_FLOAT_EQ(uv[3].y, c.v3);
    EXPECT_FLOAT_EQ(uv[1].x, c.u3) << "top-right";
    EXPECT_FLOAT_EQ(uv[1].y, c.v0);
    EXPECT_FLOAT_EQ(uv[2].x, c.u0) << "bottom-left";
    EXPECT_FLOAT_EQ(uv[2].y, c.v3);
    EXPECT_FLOAT_EQ(other[3].x, 1.0f) << "the other set is left alone";
  }
  // A size of 0, and textures that do not exist, change nothing.
  Task* t = sprite2d_draw_rect(3, 0xFFFFFFFFu, 200, 100, 100, 50, 0.5f, 0.5f, 1, 1, 20);
  for (float w : {0.0f, -1.0f}) {
    sprite2d_uv_from_screen(t, 0, w, 200, 0, 0, 1);
    sprite2d_uv_from_screen(t, 1, 400, w, 0, 0, 1);
  }
  sprite2d_uv_from_screen_texture(t, 0, 0, 1);
  sprite2d_set_texture1(t, 77);
  sprite2d_uv1_from_screen_texture(t, 0, 0, 1);
  sprite2d_uv_from_screen(nullptr, 0, 400, 200, 0, 0, 1);
  EXPECT_FLOAT_EQ(sprite2d_data(t)->uv0[3].x, 1.0f);
  EXPECT_FLOAT_EQ(sprite2d_data(t)->uv1[3].y, 1.0f);
}

}  // namespace
