#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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

}  // namespace
