#include <gtest/gtest.h>

#include "scene_package_session.h"

#include "assets/model_records.h"
#include "scene3d/animation.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_render.h"

namespace {

class Skinning : public ScenePackageSession {
 protected:
  void SetUp() override {
    start_package_scene("skinning test");
    ASSERT_TRUE(enqueue_package("skin", 0));
    ASSERT_TRUE(load_all());
    mesh = find_mesh("skin", "quads");
    tree = find_bone_tree("skin", "a");
    ASSERT_NE(mesh, 0u);
    ASSERT_NE(tree, 0u);
    ASSERT_EQ(get_mesh_info(mesh)->bone_count, 2u);
    scenepass_apply_view(0, 0);
  }
  // White where a quad is drawn, black elsewhere.
  static bool lit(float x, float y) {
    const int px = kCx + static_cast<int>(x * 6.0f), py = kCy - static_cast<int>(y * 6.0f);
    return pixel(px, py) == 0xFFFFFFu;
  }
  Task* make_part() { return make_part(mesh, tree); }
  static Task* make_part(AssetHandle mesh, AssetHandle tree) {
    Task* t = create_model_part(1, nullptr, mesh, kDrawnLayer);
    if (t == nullptr) return nullptr;
    model_part_set_flag_1(t, 0);  // unlit: the quads show white
    model_part_set_flag_4(t, 0);
    model_part_set_flags_12_14(t, 2);
    model_part_set_motion(t, static_cast<int32_t>(tree), 0);
    return t;
  }
  AssetHandle mesh = 0, tree = 0;
};

TEST_F(Skinning, TurningABoneMovesOnlyTheVerticesWeightedToIt) {
  Task* t = make_part();
  ASSERT_NE(t, nullptr);
  model_part_update_motion(t, 0);
  run_frame(0);
  // The rest pose: both quads where the mesh has them, nothing above.
  EXPECT_TRUE(lit(-2, 0));
  EXPECT_TRUE(lit(2, 0));
  EXPECT_FALSE(lit(0, 2));
  EXPECT_FALSE(lit(0, -2));

  // A quarter turn of bone b about z carries the right quad above or below
  // the middle; the left quad, weighted to bone a, stays.
  Mat4 turn, identity;
  mat4_identity(&identity);
  mat4_rotate_z_local(&turn, &identity, 1.5707964f);
  ASSERT_TRUE(model_part_bone_local_override_by_name(t, "b", &turn, 1.0f, 0));
  model_part_update_motion(t, 0);
  run_frame(0);
  EXPECT_TRUE(lit(-2, 0));
  EXPECT_FALSE(lit(2, 0));
  EXPECT_NE(lit(0, 2), lit(0, -2));

  // Turning the root a carries both quads with it.
  ASSERT_TRUE(model_part_bone_local_override_by_name(t, "a", &turn, 1.0f, 0));
  model_part_update_motion(t, 0);
  run_frame(0);
  EXPECT_FALSE(lit(-2, 0));
  EXPECT_FALSE(lit(2, 0));
  EXPECT_TRUE(lit(0, 2));
  EXPECT_TRUE(lit(0, -2));
}

TEST_F(Skinning, ThePaletteReachesBone127AndClampsBeyondIt) {
  // Bone "b" at a high index of a long bone list. Past the 128 matrices of
  // the palette its vertices take the last matrix (no bone of the tree
  // here), so they stay put while the rest of the mesh still skins.
  const struct {
    const char* package;
    uint32_t bones;
    bool follows_b;
  } cases[] = {
      {"skin128", 128, true},    // b is bone 100
      {"skin128l", 128, true},   // b is bone 127, the palette's last
      {"skin129", 129, false},   // b is bone 128
  };
  Mat4 turn, identity;
  mat4_identity(&identity);
  mat4_rotate_z_local(&turn, &identity, 1.5707964f);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.package);
    ASSERT_TRUE(enqueue_package(c.package, 0));
    ASSERT_TRUE(load_all());
    const AssetHandle long_mesh = find_mesh(c.package, "quads");
    ASSERT_NE(long_mesh, 0u);
    ASSERT_EQ(get_mesh_info(long_mesh)->bone_count, c.bones);
    Task* t = make_part(long_mesh, find_bone_tree(c.package, "a"));
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(model_part_bone_local_override_by_name(t, "b", &turn, 1.0f, 0));
    model_part_update_motion(t, 0);
    run_frame(0);
    EXPECT_TRUE(lit(-2, 0));
    EXPECT_EQ(lit(2, 0), !c.follows_b);
    EXPECT_EQ(lit(0, 2) != lit(0, -2), c.follows_b);

    ASSERT_TRUE(model_part_bone_local_override_by_name(t, "a", &turn, 1.0f, 0));
    model_part_update_motion(t, 0);
    run_frame(0);
    EXPECT_FALSE(lit(-2, 0));
    task_kill(t);
  }
}

TEST_F(Skinning, ARigidDrawAfterASkinnedOneIsNotPosed) {
  // The shader constants outlive a draw: a rigid draw through the shaders
  // must not blend with the palette a skinned draw left behind.
  Task* posed = make_part();
  ASSERT_NE(posed, nullptr);
  Mat4 away;
  mat4_identity(&away);
  away.m[13] = 50.0f;  // bone b far out of sight
  ASSERT_TRUE(model_part_bone_local_override_by_name(posed, "b", &away, 1.0f, 0));
  model_part_update_motion(posed, 0);
  run_frame(0);
  EXPECT_TRUE(lit(-2, 0));
  EXPECT_FALSE(lit(2, 0));
  task_kill(posed);

  Task* rigid = create_model_part(1, nullptr, mesh, kDrawnLayer);
  ASSERT_NE(rigid, nullptr);
  model_part_set_flag_1(rigid, 0);
  model_part_set_flags_12_14(rigid, 2);
  model_part_set_mode_and_params(rigid, 1, nullptr, 0);
  run_frame(0);
  const int right_x = kCx + 12, left_x = kCx - 12;
  EXPECT_NE(pixel(left_x, kCy), 0u);
  EXPECT_NE(pixel(right_x, kCy), 0u);
}

}  // namespace
