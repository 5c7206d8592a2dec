#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "assets/asset_registry.h"
#include "assets/matrix_stack.h"
#include "assets/model_records.h"
#include "render/tasks/task.h"
#include "render/world/prim3d.h"
#include "scene3d/animation.h"
#include "scene3d/coll_builder.h"
#include "scene3d/motion_payloads.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_render.h"
#include "scene3d/preset_models.h"
#include "scene3d/ray_collision.h"

namespace {

class ModelPartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {16, 4096, 1u << 18};
    init_asset_registry(c);
    matrix_stack_reset();
    tasks_init();
    register_part_classes();
    part_slot_pool_reset();
    anim_init();
    raycol_init();
    const Blob s = chain_tree({"body", "a", "b", "c"}, {1, 0, 0});
    tree = register_bone_tree("pk", "body", s.bytes.data(), s.size());
    ASSERT_NE(tree, 0u);
  }
  void TearDown() override {
    tasks_shutdown();
    anim_release();
    shutdown_asset_registry();
  }
  AssetHandle tree = 0;
};

struct Pairs {
  std::vector<std::string> seen;
  int with_poses = 0;
};

void record_pair(Task*, BonePose* parent, const char* parent_name, BonePose* child, const char* child_name,
                 void* argument) {
  Pairs* pairs = static_cast<Pairs*>(argument);
  pairs->seen.push_back(std::string(parent_name) + ">" + child_name);
  if (parent != nullptr && child != nullptr && std::strcmp(parent->name, parent_name) == 0 &&
      std::strcmp(child->name, child_name) == 0) {
    ++pairs->with_poses;
  }
}

TEST_F(ModelPartTest, BonePairsAreWalkedDeepestFirst) {
  Task* t = create_model_part(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  motion_bind(model_part_player(t), static_cast<int32_t>(tree), 0);
  Pairs pairs;
  model_part_for_each_bone_pair(t, record_pair, &pairs);
  const std::vector<std::string> want = {"b>c", "a>b", "body>a"};
  EXPECT_EQ(pairs.seen, want);
  EXPECT_EQ(pairs.with_poses, 3);
  // A null callback does nothing.
  model_part_for_each_bone_pair(t, nullptr, &pairs);
  EXPECT_EQ(pairs.seen.size(), 3u);
}

TEST_F(ModelPartTest, PartWithoutPlayerAnswersNeutrally) {
  std::vector<MotionPlayer*> taken;
  while (MotionPlayer* p = motion_create()) taken.push_back(p);
  Task* t = create_model_part(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(model_part_player(t), nullptr);
  model_part_set_motion(t, static_cast<int32_t>(tree), 1);
  model_part_update_motion(t, 3);
  model_part_set_frame(t, 5);
  model_part_set_loop(t, 1);
  model_part_set_speed(t, 2.0f);
  EXPECT_EQ(model_part_frame(t), 0u);
  EXPECT_EQ(model_part_length(t), 0u);
  EXPECT_EQ(model_part_frames_played(t), 0u);
  EXPECT_FALSE(model_part_is_playing(t, 0));
  EXPECT_FALSE(model_part_is_playing_to_limit(t));
  EXPECT_FALSE(model_part_was_fading(t));
  EXPECT_FALSE(model_part_at_start(t));
  EXPECT_FALSE(model_part_at_end(t));
  EXPECT_EQ(model_part_bone_tree(t), 0u);
  EXPECT_EQ(model_part_find_bone(t, "a"), -1);
  EXPECT_EQ(model_part_bone_matrix(t, 0, 1), nullptr);
  model_part_set_mirror(t, 1, 1);
  model_part_set_start_frame(t, 4);
  EXPECT_EQ(model_part_start_frame(t), 0u);
  EXPECT_EQ(model_part_node_count(t), 0u);
  EXPECT_EQ(model_part_root_bone(t), 0xFFu);
  EXPECT_EQ(model_part_root_step(t), 0.0f);
  Vec3 v{1, 1, 1};
  EXPECT_FALSE(model_part_root_xyz(t, &v));
  model_part_root_delta_world(t, &v);
  EXPECT_EQ(v.x, 0.0f);
  EXPECT_FALSE(model_part_bone_ik_by_name(t, "a", &v, 1.0f, 2));
  EXPECT_FALSE(model_part_set_springs(t, nullptr, 1));
  Pairs pairs;
  model_part_for_each_bone_pair(t, record_pair, &pairs);
  EXPECT_TRUE(pairs.seen.empty());
  model_part_bind_bone_colliders(t, -1, 0);
  EXPECT_EQ(model_part_collider_total(t), 0u);
  task_kill(t);
  for (MotionPlayer* p : taken) motion_release(p);
}

TEST_F(ModelPartTest, BoneCollidersFollowTheirBones) {
  CollBuilder b;
  b.cells.push_back(floor_cell(0, 0, 0.0f, 1.0f, 7));
  const Blob blob = b.build("CM_b");
  ASSERT_NE(register_collision("pk", "CM_b", blob.bytes.data(), blob.size()), 0u);
  Task* t = create_model_part(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  MotionPlayer* p = model_part_player(t);
  motion_bind(p, static_cast<int32_t>(tree), 0);
  model_part_bind_bone_colliders(t, -1, 5);
  ASSERT_EQ(model_part_collider_total(t), 1u);
  const Collider* c = model_part_collider_at(t, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->owner, &bone_chain_nth(p->bones, 2)->world);
  EXPECT_EQ(c->category, 5u);
  EXPECT_NE(c->flags & kColliderEnabled, 0u);
  EXPECT_EQ(c->flags & kColliderGround, 0u);
  EXPECT_EQ(model_part_collider_at(t, 1), nullptr);
  // The node's data rides with the Collider: its operation in the stream.
  uint32_t op = 0;
  std::memcpy(&op, reinterpret_cast<const void*>(c->user_b), 4);
  EXPECT_EQ(op, static_cast<uint32_t>(BONE_OP_NODE));
  uint32_t name_at = 0;
  std::memcpy(&name_at, reinterpret_cast<const uint8_t*>(c->user_b) + 4, 4);
  EXPECT_STREQ(bone_tree_view(tree).cstr_at(name_at), "b");
  // Binding again keeps one Collider per bone, and the first one's bits.
  model_part_collider_at(t, 0)->flags |= kColliderGround;
  model_part_bind_bone_colliders(t, -1, 5);
  ASSERT_EQ(model_part_collider_total(t), 1u);
  EXPECT_NE(model_part_collider_at(t, 0)->flags & kColliderGround, 0u);
  // By the collision mesh's name only.
  EXPECT_FALSE(model_part_collider_set_flag_1_by_name(t, "CM_a"));
  EXPECT_FALSE(model_part_collider_set_flag_1_by_name(t, nullptr));
  EXPECT_NE(model_part_collider_at(t, 0)->flags & kColliderGround, 0u);
  EXPECT_TRUE(model_part_collider_set_flag_1_by_name(t, "CM_b"));
  EXPECT_EQ(model_part_collider_at(t, 0)->flags & kColliderGround, 0u);
  model_part_colliders_set_flag_2(t);
  EXPECT_NE(model_part_collider_at(t, 0)->flags & kColliderGround, 0u);
  task_kill(t);
}

TEST_F(ModelPartTest, SettingAMotionRebindsTheBoneColliders) {
  CollBuilder b;
  b.cells.push_back(floor_cell(0, 0, 0.0f, 1.0f, 7));
  const Blob blob = b.build("CM_b");
  ASSERT_NE(register_collision("pk", "CM_b", blob.bytes.data(), blob.size()), 0u);
  // A second tree with its own bone "b", and an animation for it.
  const Blob other = chain_tree({"other", "x", "b"}, {0, 0, 0});
  const AssetHandle other_tree = register_bone_tree("pk", "other", other.bytes.data(), other.size());
  const Blob wave = animation("wave", 4, {{"x", move_x(1)}});
  const AssetHandle anim = register_animation("pk", "wave", wave.bytes.data(), wave.size());
  ASSERT_NE(other_tree, 0u);
  ASSERT_NE(anim, 0u);

  Task* t = create_model_part(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  *model_part_matrix(t) = translation(0, 0, 7);
  model_part_set_motion(t, static_cast<int32_t>(tree), 0);
  model_part_bind_bone_colliders(t, -1, 5);
  ASSERT_EQ(model_part_collider_total(t), 1u);
  model_part_collider_at(t, 0)->flags |= kColliderGround;
  const Collider* before = model_part_collider_at(t, 0);

  // A motion without an animation leaves the Colliders alone.
  model_part_set_motion(t, -1, 0);
  EXPECT_EQ(model_part_collider_at(t, 0), before);
  EXPECT_EQ(model_part_collider_at(t, 0)->category, 5u);

  // A new tree with an animation: one Collider per bone of the new chain,
  // of category 0, keeping the old first one's bits; posed at once.
  model_part_set_motion(t, static_cast<int32_t>(other_tree), static_cast<int32_t>(anim));
  MotionPlayer* p = model_part_player(t);
  EXPECT_EQ(model_part_bone_tree(t), other_tree);
  EXPECT_EQ(model_part_motion_id(t), anim);
  ASSERT_EQ(model_part_collider_total(t), 1u);
  const Collider* c = model_part_collider_at(t, 0);
  EXPECT_EQ(c->owner, &bone_chain_nth(p->bones, 2)->world);
  EXPECT_EQ(c->category, 0u);
  EXPECT_NE(c->flags & kColliderGround, 0u);
  EXPECT_NE(c->flags & kColliderEnabled, 0u);
  EXPECT_EQ(pos(bone_chain_nth(p->bones, 2)->world).z, 7.0f) << "posed with the part's world matrix";
  EXPECT_EQ(motion_current_frame(p), 2u) << "from the part's start frame";
  task_kill(t);
  EXPECT_EQ(raycol_collider_count(), 0u);
}

TEST_F(ModelPartTest, MotionOperationsForwardToThePlayer) {
  // The root bone "body" (rest 1 along x) travels (2, 1, 3) a frame; the
  // part is turned a quarter about y (x to -z, z to x).
  const Blob run = animation("run", 8, {{"body", [](uint32_t f) {
                                           return translation(2.0f * f, 1.0f * f, 3.0f * f);
                                         }}});
  const AssetHandle anim = register_animation("pk", "run", run.bytes.data(), run.size());
  ASSERT_NE(anim, 0u);
  Task* t = create_model_part(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  *model_part_matrix(t) = quarter_y(0, 0, 7);
  MotionPlayer* p = model_part_player(t);
  model_part_set_motion(t, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  EXPECT_EQ(model_part_frame(t), 2u) << "the part's start frame";
  model_part_update_motion(t, -1);  // within a step of the start: no travel yet
  model_part_update_motion(t, -1);
  EXPECT_EQ(model_part_frame(t), 4u);
  EXPECT_EQ(model_part_length(t), 8u);
  Vec3 v;
  model_part_root_delta(t, &v);
  EXPECT_EQ(v.x, 2.0f);
  EXPECT_EQ(v.y, 1.0f);
  EXPECT_EQ(v.z, 3.0f);
  model_part_root_delta_world(t, &v);
  EXPECT_NEAR(v.x, 3.0f, 1e-6f);
  EXPECT_NEAR(v.y, 1.0f, 1e-6f);
  EXPECT_NEAR(v.z, -2.0f, 1e-6f);
  model_part_root_delta_flat(t, &v);
  EXPECT_EQ(v.x, 2.0f);
  EXPECT_EQ(v.y, 0.0f);
  model_part_root_delta_flat_world(t, &v);
  EXPECT_NEAR(v.x, 3.0f, 1e-6f);
  EXPECT_EQ(v.y, 0.0f);
  EXPECT_NEAR(v.z, -2.0f, 1e-6f);
  EXPECT_FLOAT_EQ(model_part_root_step(t), std::sqrt(14.0f));
  EXPECT_FLOAT_EQ(model_part_root_step_flat(t), std::sqrt(13.0f));
  ASSERT_TRUE(model_part_root_xyz(t, &v));
  EXPECT_EQ(v.x, 9.0f);
  EXPECT_EQ(v.y, 4.0f);
  EXPECT_EQ(v.z, 12.0f);
  float x = 0, z = 0;
  ASSERT_TRUE(model_part_root_xz(t, &x, &z));
  EXPECT_EQ(x, 9.0f);
  EXPECT_EQ(z, 12.0f);
  Mat4 root;
  ASSERT_NE(model_part_root_matrix(t, &root), nullptr);
  EXPECT_EQ(root.m[13], 4.0f);
  ASSERT_TRUE(model_part_root_angles(t, &v));
  EXPECT_EQ(v.y, 0.0f);

  // Bones by index and name.
  EXPECT_EQ(model_part_node_count(t), 4u);
  EXPECT_EQ(model_part_root_bone(t), 0u);
  EXPECT_STREQ(model_part_bone_name(t, 2), "b");
  EXPECT_EQ(model_part_find_bone(t, "c"), 3);
  const BonePose* b = model_part_bone_matrix_by_name(t, "b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b, bone_chain_nth(p->bones, 2));
  EXPECT_EQ(model_part_bone_matrix(t, 2, 0), b);
  const Vec3 target{1, 2, 3};
  EXPECT_TRUE(model_part_bone_look_at_by_name(t, "b", &target, nullptr, 0.5f));
  EXPECT_EQ((b->flags & kBoneKindMask) >> kBoneKindShift, uint32_t{kBoneOverrideLookAt});
  EXPECT_EQ(b->weight, 0.5f);
  EXPECT_TRUE(model_part_bone_ik_by_name(t, "c", &target, 1.0f, 4));
  EXPECT_EQ(bone_chain_nth(p->bones, 3)->flags & kBoneChainMask, 4u);
  const Mat4 m = translation(0, 1, 0);
  EXPECT_TRUE(model_part_bone_local_override_by_name(t, "a", &m, 1.0f, 0));
  EXPECT_EQ((bone_chain_nth(p->bones, 1)->flags & kBoneKindMask) >> kBoneKindShift, uint32_t{kBoneOverrideLocal});
  EXPECT_TRUE(model_part_bone_world_override_by_name(t, "body", &m, 1.0f, 0));
  EXPECT_EQ((p->bones->flags & kBoneKindMask) >> kBoneKindShift, uint32_t{kBoneOverrideWorld});
  EXPECT_FALSE(model_part_bone_local_override_by_name(t, "none", &m, 1.0f, 0));
  EXPECT_TRUE(model_part_set_springs(t, "a", 1));
  EXPECT_EQ(anim_aux_count(), 2u);
  EXPECT_TRUE(model_part_set_springs(t, "a", 0));

  // The clock's setters and the loops.
  model_part_set_speed(t, 1.5f);
  EXPECT_EQ(p->speed, 0x18000u);
  model_part_set_reverse(t, 1);
  EXPECT_NE(p->flags & kMotionReverse, 0u);
  model_part_set_reverse(t, 0);
  model_part_set_root_lock(t, 3);
  EXPECT_EQ((p->flags & kMotionRootLockMask) >> kMotionRootLockShift, 3u);
  model_part_set_loop_limit(t, 2);
  EXPECT_EQ(p->loop_limit, 2u);
  model_part_set_crossfade(t, 4);
  EXPECT_EQ(p->fade_length, 4u);
  model_part_set_mirror(t, 1, 0);
  EXPECT_NE(p->flags & kMotionMirrored, 0u);
  EXPECT_EQ(p->fade_left, 0u);
  model_part_set_mirror(t, 0, 1);
  EXPECT_EQ(p->flags & kMotionMirrored, 0u);
  EXPECT_EQ(p->fade_left, 4u) << "with fade a cross-fade starts";
  model_part_arm_crossfade(t);
  model_part_update_motion(t, -1);
  EXPECT_TRUE(model_part_was_fading(t));
  model_part_set_start_frame(t, 1);
  EXPECT_EQ(p->start, 1u << 16);
  EXPECT_EQ(model_part_start_frame(t), 1u);
  model_part_set_loop_frame(t, 5);
  EXPECT_EQ(p->loop_point, 5u << 16);
  EXPECT_EQ(model_part_loop_frame(t), 5u);
  model_part_set_loop(t, 0);
  EXPECT_EQ(p->flags & kMotionLoop, 0u);
  model_part_set_loop(t, 1);
  model_part_set_speed(t, 1.0f);
  model_part_set_frame(t, 7);
  EXPECT_TRUE(model_part_at_end(t));
  EXPECT_FALSE(model_part_at_start(t));
  // Past the end: a loop, back from the loop frame.
  model_part_update_motion(t, -1);
  EXPECT_EQ(model_part_loops_done(t), 1u);
  EXPECT_EQ(model_part_frame(t), 5u);
  EXPECT_EQ(model_part_frames_played(t), 5u + 8u);
  EXPECT_TRUE(model_part_is_playing(t, 1));
  EXPECT_FALSE(model_part_is_playing(t, 0));
  EXPECT_TRUE(model_part_is_playing_to_limit(t));
  model_part_set_loop_limit(t, 0);
  EXPECT_FALSE(model_part_is_playing_to_limit(t)) << "one loop done, none allowed";
  model_part_set_frame(t, 1);
  EXPECT_TRUE(model_part_at_start(t));
  task_kill(t);
}

TEST_F(ModelPartTest, SetFrameClampsToThePlayedRange) {
  Task* t = create_model_part(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  MotionPlayer* p = model_part_player(t);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->start, 2u << 16);
  p->end = 10u << 16;
  const struct {
    int32_t frame;
    uint32_t want;
  } cases[] = {{0, 2}, {2, 2}, {5, 5}, {9, 9}, {10, 9}, {-4, 2}};
  for (const auto& c : cases) {
    model_part_set_frame(t, c.frame);
    EXPECT_EQ(model_part_frame(t), c.want) << c.frame;
  }
  task_kill(t);
}

// The one-frame 3D lines alive now, oldest first.
std::vector<Line3D> live_lines() {
  static std::vector<Line3D> lines;
  lines.clear();
  tasks_for_each([](Task* t) {
    if (t->type == line3d_get_type()) lines.insert(lines.begin(), *task_data<Line3D>(t));
  });
  return lines;
}

TEST_F(ModelPartTest, BoneTreeLinesFromStoredMatricesOrPoses) {
  if (line3d_get_type() == 0) line3d_register_type();
  // body -> a -> b -> c, each 1 along x from its parent: three bones.
  Mat4 base;
  mat4_identity(&base);
  base.m[13] = 10.0f;
  const struct {
    const char* what;
    uint32_t label;
    bool posed;
    size_t lines;
    float first_bone_end_y;
  } cases[] = {
      {"stored", 0, false, 12, 10.0f},
      {"label only", 1, false, 0, 0.0f},
      {"posed", 0, true, 12, 20.0f},
  };
  for (const auto& c : cases) {
    kill_owner(4);
    Task* part = create_model_part(5, nullptr, 0, 30);
    ASSERT_NE(part, nullptr);
    model_part_set_motion(part, static_cast<int32_t>(tree), 0);
    model_part_matrix(part)->m[13] = 20.0f;
    model_part_update_motion(part, 0);
    draw_bone_tree_lines(4, tree, &base, c.label, c.posed ? model_part_player(part) : nullptr);
    const std::vector<Line3D> lines = live_lines();
    ASSERT_EQ(lines.size(), c.lines) << c.what;
    task_kill(part);
    if (lines.empty()) continue;
    // The deepest bone closes first: from b (x 3) to c (x 4), then its axes.
    EXPECT_EQ(lines[0].p0.x, 3.0f) << c.what;
    EXPECT_EQ(lines[0].p1.x, 4.0f) << c.what;
    EXPECT_EQ(lines[0].p1.y, c.first_bone_end_y) << c.what;
    EXPECT_EQ(lines[0].colour0, 0xFFFF0000u) << c.what;
    EXPECT_EQ(lines[0].colour1, 0xFF00FF00u) << c.what;
    EXPECT_NEAR(lines[1].p1.x - lines[1].p0.x, 0.1f, 1e-6f) << c.what;  // the x axis
    EXPECT_EQ(lines[3].colour0, 0xFF0000FFu) << c.what;
    EXPECT_EQ(lines[0].flags & kPrim3dDepthWrite, 0u) << c.what;
  }
  kill_owner(4);
  // A tree handle without a record draws nothing.
  draw_bone_tree_lines(4, 0x7FFF, nullptr, 0, nullptr);
  EXPECT_TRUE(live_lines().empty());
}

TEST_F(ModelPartTest, PresetModelsAndMotionByName) {
  // Preset "mo": bone tree "By" of package "mo", animations from "mo" or
  // "mime".
  const Blob s = chain_tree({"By", "arm"}, {1, 0, 0});
  const AssetHandle by = register_bone_tree("mo", "By", s.bytes.data(), s.size());
  const Blob walk = animation_payload("walk", "arm", 4, 4);
  const Blob run = animation_payload("run", "arm", 6, 6);
  const AssetHandle walk_h = register_animation("mime", "walk", walk.bytes.data(), walk.size());
  const AssetHandle run_h = register_animation("mime", "run", run.bytes.data(), run.size());
  ASSERT_NE(by, 0u);
  ASSERT_NE(walk_h, 0u);
  ASSERT_NE(run_h, 0u);

  EXPECT_EQ(create_preset_model(1, nullptr, "nobody", 30), nullptr);
  Task* mo = create_preset_model(1, nullptr, "mo", 31);
  ASSERT_NE(mo, nullptr);
  EXPECT_EQ(mo->layer, 31);
  EXPECT_EQ(model_part_bone_tree(mo), by);
  EXPECT_EQ(model_part_motion_id(mo), walk_h);  // the first animation
  EXPECT_EQ(model_part_colour_block(mo)->specular, 0xFFFFFFFFu);
  EXPECT_EQ(model_part_colour_block(mo)->power, 10.0f);
  EXPECT_NE(task_data<ModelPart>(mo)->flags & (1u << 5), 0u);

  EXPECT_TRUE(set_part_motion_by_name(mo, "run"));
  EXPECT_EQ(model_part_motion_id(mo), run_h);
  EXPECT_EQ(model_part_bone_tree(mo), by);
  EXPECT_FALSE(set_part_motion_by_name(mo, "swim"));
  EXPECT_FALSE(set_part_motion_by_name(mo, nullptr));
  EXPECT_EQ(model_part_motion_id(mo), run_h);

  // Preset "T" fills slot 0 from its sub-entry: flags 0, 1, 0, 1.
  Task* t = create_preset_model(1, nullptr, "T", 30);
  ASSERT_NE(t, nullptr);
  const PartSlot* slot = model_part_slot(t, 0);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->colours.specular, 0x00FFFFFFu);
  EXPECT_EQ(slot->colours.power, 30.0f);
  EXPECT_EQ(slot->flags & 1u, 0u);
  EXPECT_NE(slot->flags & (1u << 3), 0u);
  EXPECT_EQ((slot->flags >> 12) & 7u, 0u);
  EXPECT_NE(slot->slot_flags & kPartSlotAllPasses, 0u);
  EXPECT_EQ(model_part_slot(t, 1), nullptr);
  // Without any animation of its packages the part has no motion to switch.
  EXPECT_FALSE(set_part_motion_by_name(t, "run"));
  task_kill(t);
  task_kill(mo);
}

}  // namespace
