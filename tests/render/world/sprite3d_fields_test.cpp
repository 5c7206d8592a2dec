#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/textures.h"
#include "render/tasks/task.h"
#include "render/world/sprite3d.h"

namespace {

class Sprite3dFields : public ::testing::Test {
 protected:
  void SetUp() override {
    tasks_init();
    ASSERT_NE(sprite3d_register_type(), 0);
  }
  void TearDown() override { tasks_shutdown(); }
  static const Sprite3d& record(Task* t) { return *task_data<Sprite3d>(t); }
};

TEST_F(Sprite3dFields, CreatorsSetTheirLayoutAndShowTheTask) {
  const Vec3 p{1, 2, 3}, q{4, 5, 6};
  Task* board = sprite3d_create(3, &p, 0.5f, 2.0f, 0, 0xFF112233u, 4);
  ASSERT_NE(board, nullptr);
  EXPECT_EQ(record(board).head.mode, 0);
  EXPECT_EQ(board->layer, kSprite3dLayer);
  EXPECT_TRUE(board->flags & kTaskVisible);
  EXPECT_EQ(board->flags & kTaskLifetimeMask, 0u);
  EXPECT_EQ(sprite3d_get_width(board), 2.0f);
  EXPECT_EQ(sprite3d_get_height(board), 2.0f);
  EXPECT_EQ(sprite3d_get_angle(board), 0.5f);
  EXPECT_EQ(sprite3d_get_colour(board), 0xFF112233u);
  EXPECT_EQ(record(board).head.blend, 4);
  EXPECT_EQ(sprite3d_get_position(board)->z, 3.0f);
  EXPECT_EQ(record(board).head.zfunc, 3);
  EXPECT_EQ(record(board).head.param_a, 1.0f);

  Task* once = sprite3d_create_one_frame(3, nullptr, 0, 1, 0, 0xFFFFFFFFu, 1, -2.0f);
  ASSERT_NE(once, nullptr);
  EXPECT_EQ(once->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame);
  EXPECT_EQ(sprite3d_get_depth_offset(once), -2.0f);
  EXPECT_EQ(record(once).billboard.depth_offset_sq, -4.0f);
  EXPECT_EQ(sprite3d_get_position(once)->x, 0.0f) << "a null position keeps the default";

  Task* beam = sprite3d_create_beam_one_frame(3, &p, &q, 3.0f, 1u, 2u, 0, 2);
  ASSERT_NE(beam, nullptr);
  EXPECT_EQ(record(beam).head.mode, 1);
  EXPECT_EQ(sprite3d_get_side_width(beam), 3.0f);
  EXPECT_EQ(sprite3d_get_end_width(beam), 3.0f);
  EXPECT_EQ(sprite3d_get_start_colour(beam), 1u);
  EXPECT_EQ(sprite3d_get_end_point(beam)->y, 5.0f);
  EXPECT_EQ(beam->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame);

  const Vec3 corners[4] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
  Task* quad = sprite3d_create_quad(3, &corners[0], nullptr, &corners[2], &corners[3], 1u, 2u, 3u, 4u, 0, 5);
  ASSERT_NE(quad, nullptr);
  EXPECT_EQ(record(quad).head.mode, 2);
  EXPECT_EQ(sprite3d_get_corner1(quad)->x, 0.0f) << "a null corner keeps the default";
  EXPECT_EQ(sprite3d_get_corner3(quad)->y, 1.0f);
  EXPECT_EQ(sprite3d_get_corner_colour(quad, 3), 4u);
  EXPECT_EQ(sprite3d_get_quad_scale(quad)->z, 1.0f);
  Task* from_array = sprite3d_create_quad_from_array(3, corners, 0, 1);
  ASSERT_NE(from_array, nullptr);
  EXPECT_EQ(sprite3d_get_corner1(from_array)->x, 1.0f);
  Task* blank = sprite3d_create_quad_blank(3, 0, 1);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(sprite3d_get_quad_uv0_1(blank)[1], 1.0f);
}

TEST_F(Sprite3dFields, CreatorsReturnNullWhenThePoolIsFull) {
  std::vector<Task*> all;
  while (Task* t = task_create(1)) all.push_back(t);
  EXPECT_EQ(sprite3d_create(1, nullptr, 0, 1, 0, 0, 1), nullptr);
  EXPECT_EQ(sprite3d_create_one_frame(1, nullptr, 0, 1, 0, 0, 1, 0), nullptr);
  EXPECT_EQ(sprite3d_create_beam(1, nullptr, nullptr, 1, 0, 0, 0, 1), nullptr);
  EXPECT_EQ(sprite3d_create_quad_blank(1, 0, 1), nullptr);
}

TEST_F(Sprite3dFields, SettersGuardTheirInput) {
  Task* t = sprite3d_create(1, nullptr, 0, 1, 0, 0, 1);
  ASSERT_NE(t, nullptr);
  struct {
    float in, want;
  } clamps[] = {{-1, 0}, {0.25f, 0.25f}, {7, 1}};
  for (const auto& c : clamps) {
    sprite3d_set_param_b_mode2(t, c.in);
    EXPECT_EQ(record(t).head.param_b, c.want);
  }
  unsigned char big[100];
  std::memset(big, 0xAB, sizeof big);
  sprite3d_set_shader(t, 2, big, sizeof big);  // only 40 bytes fit
  EXPECT_EQ(record(t).head.shading_mode, 2);
  EXPECT_EQ(record(t).head.shader_data[39], 0xAB);
  EXPECT_EQ(record(t).head.texture0, 0u) << "the bytes after the shader data are untouched";
  sprite3d_set_shader(t, 1, nullptr, 10);
  EXPECT_EQ(record(t).head.shading_mode, 1);
  unsigned char other[40] = {};
  sprite3d_set_shader(t, 2, other, -1);
  EXPECT_EQ(record(t).head.shader_data[0], 0xAB) << "a negative length copies nothing";

  // A handle that names no crop: no texture and the whole texture.
  sprite3d_set_texture0(t, 9);
  sprite3d_set_uv0(t, 0.1f, 0.2f, 0.3f, 0.4f);
  sprite3d_set_crop(t, 77);
  EXPECT_EQ(sprite3d_get_texture0(t), 0u);
  EXPECT_EQ(sprite3d_get_uv0_u0(t), 0.0f);
  EXPECT_EQ(sprite3d_get_uv0_v1(t), 1.0f);

  sprite3d_init_mode1(t);
  sprite3d_set_beam_uv1(t, 0.1f, 0.2f, 0.3f, 0.4f);
  EXPECT_EQ(sprite3d_get_beam_uv1_u0(t), 0.1f);
  EXPECT_EQ(sprite3d_get_beam_uv1_v0(t), 0.2f);
  EXPECT_EQ(sprite3d_get_beam_uv1_u1(t), 0.3f);
  EXPECT_EQ(sprite3d_get_beam_uv1_v1(t), 0.4f);

  sprite3d_init_mode2(t);
  const Vec3 far{9, 9, 9};
  const Sprite3d before = record(t);
  sprite3d_set_corner(t, 4, &far);
  sprite3d_set_corner(t, -1, &far);
  sprite3d_set_corner_xyz(t, 7, 1, 1, 1);
  sprite3d_set_quad_uv0(t, 5, 5, 4);
  sprite3d_set_quad_uv1(t, 5, 5, -2);
  sprite3d_set_corner_colour(t, 5u, 4);
  EXPECT_EQ(std::memcmp(&before, &record(t), sizeof before), 0) << "indices outside 0..3 change nothing";
  EXPECT_EQ(sprite3d_get_corner_colour(t, 9), 0u);
  sprite3d_set_quad_uv1(t, 0.5f, 0.25f, 2);
  EXPECT_EQ(sprite3d_get_quad_uv1s(t)[4], 0.5f);
  EXPECT_EQ(sprite3d_get_quad_uv1_2(t)[1], 0.25f);
}

TEST_F(Sprite3dFields, EverySetterReadsBackThroughItsGetter) {
  Task* t = sprite3d_create(1, nullptr, 0, 1, 0, 0, 1);
  ASSERT_NE(t, nullptr);
  const Vec3 p{1, 2, 3};
  sprite3d_set_position(t, &p);
  EXPECT_EQ(sprite3d_get_position(t)->y, 2.0f);
  sprite3d_set_position_xyz(t, 4, 5, 6);
  EXPECT_EQ(sprite3d_get_position(t)->z, 6.0f);
  sprite3d_set_size(t, 7, 8);
  sprite3d_set_pivot(t, 0.25f, 0.75f);
  sprite3d_set_scale(t, 2, 3);
  sprite3d_set_angle(t, 0.5f);
  sprite3d_set_colour(t, 0x12345678u);
  sprite3d_set_lit(t, 9);
  const float rect[4] = {0.1f, 0.2f, 0.3f, 0.4f};
  sprite3d_set_uv0(t, rect[0], rect[1], rect[2], rect[3]);
  sprite3d_set_uv1(t, rect[3], rect[2], rect[1], rect[0]);
  const float got[] = {sprite3d_get_width(t),   sprite3d_get_height(t),  sprite3d_get_pivot_x(t),
                       sprite3d_get_pivot_y(t), sprite3d_get_scale_x(t), sprite3d_get_scale_y(t),
                       sprite3d_get_angle(t),   sprite3d_get_uv0_u0(t),  sprite3d_get_uv0_v0(t),
                       sprite3d_get_uv0_u1(t),  sprite3d_get_uv0_v1(t),  sprite3d_get_uv1_u0(t),
                       sprite3d_get_uv1_v0(t),  sprite3d_get_uv1_u1(t),  sprite3d_get_uv1_v1(t)};
  const float want[] = {7, 8, 0.25f, 0.75f, 2, 3, 0.5f, 0.1f, 0.2f, 0.3f, 0.4f, 0.4f, 0.3f, 0.2f, 0.1f};
  for (size_t i = 0; i < sizeof want / sizeof want[0]; ++i) EXPECT_EQ(got[i], want[i]) << i;
  EXPECT_EQ(sprite3d_get_colour(t), 0x12345678u);
  EXPECT_EQ(sprite3d_get_lit(t), 9);
  sprite3d_set_texture0_mode1(t, 11);
  sprite3d_set_texture1_mode2(t, 12);
  EXPECT_EQ(sprite3d_get_texture0_mode2(t), 11u);
  EXPECT_EQ(sprite3d_get_texture1_mode1(t), 12u);
  sprite3d_set_param_a_mode1(t, 0.6f);
  sprite3d_set_param_b(t, 0.7f);
  sprite3d_set_blend_mode1(t, 5);
  sprite3d_set_zfunc_mode2(t, 6);
  sprite3d_set_mirror_mode1(t, 1);
  EXPECT_EQ(record(t).head.param_a, 0.6f);
  EXPECT_EQ(record(t).head.param_b, 0.7f);
  EXPECT_EQ(record(t).head.blend, 5);
  EXPECT_EQ(record(t).head.zfunc, 6);
  EXPECT_EQ(record(t).head.mirror, 1);

  sprite3d_init_mode1(t);
  EXPECT_EQ(sprite3d_get_texture0(t), 0u) << "a layout starts without textures";
  EXPECT_EQ(sprite3d_get_side_width(t), 1.0f);
  EXPECT_EQ(sprite3d_get_end_width(t), 0.0f);
  EXPECT_EQ(sprite3d_get_start_colour(t), 0xFFFFFFFFu);
  EXPECT_EQ(sprite3d_get_beam_uv0_u1(t), 1.0f);
  const Vec3 a{1, 0, 0}, b{0, 1, 0};
  sprite3d_set_start_point(t, &a);
  sprite3d_set_end_point(t, &b);
  EXPECT_EQ(sprite3d_get_start_point(t)->x, 1.0f);
  EXPECT_EQ(sprite3d_get_end_point(t)->y, 1.0f);
  sprite3d_set_start_xyz(t, 3, 4, 5);
  sprite3d_set_end_xyz(t, 6, 7, 8);
  EXPECT_EQ(sprite3d_get_start_point(t)->z, 5.0f);
  EXPECT_EQ(sprite3d_get_end_point(t)->x, 6.0f);
  sprite3d_set_side_width(t, 2);
  sprite3d_set_end_width(t, 3);
  EXPECT_EQ(sprite3d_get_side_width(t), 2.0f);
  EXPECT_EQ(sprite3d_get_end_width(t), 3.0f);
  sprite3d_set_beam_uv0(t, rect[0], rect[1], rect[2], rect[3]);
  EXPECT_EQ(record(t).beam.uv0[1][0], 0.3f) << "vertex 1: (ur, vt)";
  EXPECT_EQ(record(t).beam.uv0[1][1], 0.2f);
  EXPECT_EQ(record(t).beam.uv0[2][0], 0.1f) << "vertex 2: (ul, vb)";
  EXPECT_EQ(record(t).beam.uv0[2][1], 0.4f);
  EXPECT_EQ(sprite3d_get_beam_uv0_u1(t), 0.3f);
  EXPECT_EQ(sprite3d_get_beam_uv0_v1(t), 0.4f);
  sprite3d_set_start_colour(t, 1u);
  sprite3d_set_end_colour(t, 2u);
  EXPECT_EQ(sprite3d_get_start_colour(t), 1u);
  EXPECT_EQ(sprite3d_get_end_colour(t), 2u);
  sprite3d_set_beam_colours(t, 3u, 4u);
  EXPECT_EQ(sprite3d_get_start_colour(t), 3u);
  EXPECT_EQ(sprite3d_get_end_colour(t), 4u);
  sprite3d_set_beam_flag(t, 7);
  EXPECT_EQ(record(t).beam.flag, 7);

  sprite3d_init_mode2(t);
  const Vec3 c[4] = {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}};
  sprite3d_set_corner0(t, &c[3]);
  sprite3d_set_corner1(t, &c[2]);
  sprite3d_set_corner2(t, &c[1]);
  sprite3d_set_corner3(t, &c[0]);
  const Vec3* corners[4] = {sprite3d_get_corner0(t), sprite3d_get_corner1(t), sprite3d_get_corner2(t),
                            sprite3d_get_corner3(t)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(corners[i]->x, float(4 - i)) << i;
  sprite3d_set_corner0_xyz(t, 0, 9, 0);
  sprite3d_set_corner1_xyz(t, 0, 8, 0);
  sprite3d_set_corner2_xyz(t, 0, 7, 0);
  sprite3d_set_corner3_xyz(t, 0, 6, 0);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sprite3d_get_corners(t)[i].y, float(9 - i)) << i;
  sprite3d_set_quad_uv0_0(t, 0.1f, 0.2f);
  sprite3d_set_quad_uv0_1(t, 0.3f, 0.4f);
  sprite3d_set_quad_uv0_2(t, 0.5f, 0.6f);
  sprite3d_set_quad_uv0_3(t, 0.7f, 0.8f);
  sprite3d_set_quad_uv1_0(t, 0.8f, 0.7f);
  sprite3d_set_quad_uv1_1(t, 0.6f, 0.5f);
  sprite3d_set_quad_uv1_2(t, 0.4f, 0.3f);
  sprite3d_set_quad_uv1_3(t, 0.2f, 0.1f);
  const float* uv0[4] = {sprite3d_get_quad_uv0_0(t), sprite3d_get_quad_uv0_1(t), sprite3d_get_quad_uv0_2(t),
                         sprite3d_get_quad_uv0_3(t)};
  const float* uv1[4] = {sprite3d_get_quad_uv1_0(t), sprite3d_get_quad_uv1_1(t), sprite3d_get_quad_uv1_2(t),
                         sprite3d_get_quad_uv1_3(t)};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FLOAT_EQ(uv0[i][0], 0.1f + 0.2f * float(i)) << i;
    EXPECT_FLOAT_EQ(uv0[i][1], 0.2f + 0.2f * float(i)) << i;
    EXPECT_FLOAT_EQ(uv1[i][0], 0.8f - 0.2f * float(i)) << i;
    EXPECT_FLOAT_EQ(sprite3d_get_quad_uv0s(t)[2 * i], uv0[i][0]) << i;
    EXPECT_FLOAT_EQ(sprite3d_get_quad_uv1s(t)[2 * i + 1], uv1[i][1]) << i;
  }
  sprite3d_set_corner_colour0(t, 10u);
  sprite3d_set_corner_colour1(t, 11u);
  sprite3d_set_corner_colour2(t, 12u);
  sprite3d_set_corner_colour3(t, 13u);
  const uint32_t colours[4] = {sprite3d_get_corner_colour0(t), sprite3d_get_corner_colour1(t),
                               sprite3d_get_corner_colour2(t), sprite3d_get_corner_colour3(t)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(colours[i], 10u + uint32_t(i)) << i;
  const Vec3 pos{1, 2, 3}, angles{0.1f, 0.2f, 0.3f}, scale{4, 5, 6};
  sprite3d_set_transform(t, &pos, &angles);
  sprite3d_set_quad_scale(t, &scale);
  sprite3d_set_transform_flag(t, 1);
  EXPECT_EQ(sprite3d_get_quad_position(t)->z, 3.0f);
  EXPECT_EQ(sprite3d_get_quad_angles(t)->y, 0.2f);
  EXPECT_EQ(sprite3d_get_quad_scale(t)->x, 4.0f);
  EXPECT_EQ(sprite3d_get_transform_flag(t), 1);
  sprite3d_set_transform(t, nullptr, nullptr);
  EXPECT_EQ(sprite3d_get_quad_position(t)->x, 1.0f) << "a null vector leaves its field";
}

TEST_F(Sprite3dFields, CropsGiveTheirTextureAndRectangleToEachLayout) {
  init_asset_registry();
  const AssetHandle tex = create_texture("s3d", "sheet", 0, 0, 0);
  ASSERT_NE(tex, 0u);
  const AssetHandle crop = register_crop("s3d", "part", 0.25f, 0.5f, 0.5f, 0.25f, "sheet");
  ASSERT_NE(crop, 0u);
  Task* t = sprite3d_create(1, nullptr, 0, 1, crop, 0, 1);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(sprite3d_get_texture0(t), tex);
  const float billboard[4] = {sprite3d_get_uv0_u0(t), sprite3d_get_uv0_v0(t), sprite3d_get_uv0_u1(t),
                              sprite3d_get_uv0_v1(t)};
  const float want[4] = {0.25f, 0.5f, 0.75f, 0.75f};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(billboard[i], want[i]) << i;
  sprite3d_set_crop1(t, crop);
  EXPECT_EQ(sprite3d_get_texture1(t), tex);
  EXPECT_EQ(sprite3d_get_uv1_u1(t), 0.75f);

  sprite3d_init_mode1(t);
  sprite3d_set_crop1_mode1(t, crop);
  EXPECT_EQ(sprite3d_get_texture1_mode1(t), tex);
  EXPECT_EQ(sprite3d_get_beam_uv1_u0(t), 0.25f);
  EXPECT_EQ(sprite3d_get_beam_uv1_v1(t), 0.75f);
  EXPECT_EQ(sprite3d_get_texture0_mode1(t), 0u);

  sprite3d_init_mode2(t);
  sprite3d_set_crop_mode2(t, crop);
  sprite3d_set_crop1_mode2(t, crop);
  // Corners 0 (ul, vt), 1 (ul, vb), 2 (ur, vt), 3 (ur, vb).
  const float pairs[4][2] = {{0.25f, 0.5f}, {0.25f, 0.75f}, {0.75f, 0.5f}, {0.75f, 0.75f}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(record(t).quad.uv0[i][0], pairs[i][0]) << i;
    EXPECT_EQ(record(t).quad.uv0[i][1], pairs[i][1]) << i;
    EXPECT_EQ(record(t).quad.uv1[i][1], pairs[i][1]) << i;
  }
  EXPECT_EQ(sprite3d_get_texture1_mode2(t), tex);
  shutdown_asset_registry();
}

}  // namespace
