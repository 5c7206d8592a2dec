#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "assets/asset_registry.h"
#include "assets/matrix_stack.h"
#include "assets/model_records.h"
#include "math/transform.h"
#include "render/device/shaders.h"
#include "scene3d/animation.h"
#include "scene3d/coll_builder.h"
#include "scene3d/motion_payloads.h"
#include "scene3d/ray_collision.h"

namespace {

void expect_vec(const Vec3& got, const Vec3& want, const char* what, float tol = 1e-5f) {
  EXPECT_NEAR(got.x, want.x, tol) << what;
  EXPECT_NEAR(got.y, want.y, tol) << what;
  EXPECT_NEAR(got.z, want.z, tol) << what;
}

AssetHandle add_tree(const char* name, const Blob& w) {
  return register_bone_tree("pk", name, w.bytes.data(), w.bytes.size());
}
AssetHandle add_anim(const char* name, const Blob& w) {
  return register_animation("pk", name, w.bytes.data(), w.bytes.size());
}

class Motion : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {16, 4096, 1u << 18};
    init_asset_registry(c);
    matrix_stack_reset();
    anim_init();
    raycol_init();
    tree = add_tree("body", chain_tree({"body", "a", "b", "c"}));
    ASSERT_NE(tree, 0u);
    p = motion_create();
    ASSERT_NE(p, nullptr);
  }
  void TearDown() override {
    anim_release();
    EXPECT_EQ(matrix_stack_depth(), 0);
  }
  void update(int32_t frame = -1, uint32_t first = 0) { anim_update_player(p, nullptr, frame, nullptr, 0, first); }
  Vec3 bone(int i) { return pos(bone_chain_nth(p->bones, i)->pose); }

  AssetHandle tree = 0;
  MotionPlayer* p = nullptr;
};

TEST_F(Motion, BindFindsRootTracksAndParents) {
  const AssetHandle anim = add_anim("walk", animation("walk", 4, {{"a", move_x(1)}, {"c", move_x(2)}}));
  EXPECT_EQ(motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim)), 1u);
  EXPECT_EQ(motion_node_count(p), 4u);
  EXPECT_EQ(motion_root_index(p), 0u);
  EXPECT_EQ(motion_length(p), 4u);
  EXPECT_EQ(bone_pose_count(), 4u);
  const BonePose* b = p->bones;
  EXPECT_EQ(b->track, kBoneNoTrack);
  EXPECT_EQ(b->parent, nullptr);
  EXPECT_EQ(b->next->track, 0);
  EXPECT_EQ(b->next->parent, b);
  EXPECT_EQ(b->next->next->next->track, 1);
  EXPECT_EQ(bone_find_by_name(p, "c"), 3);
  EXPECT_EQ(bone_find_by_name(p, "zz"), -1);
  EXPECT_STREQ(bone_name_of(p, 2), "b");
  EXPECT_EQ(bone_name_of(p, 4), nullptr);
  // Rebinding with an animation already there asks for no fresh start.
  EXPECT_EQ(motion_bind(p, -1, -1), 0u);
  // An unknown tree changes nothing.
  EXPECT_EQ(motion_bind(p, 999, 0), 0u);
  EXPECT_EQ(p->bone_tree, tree);
  EXPECT_EQ(motion_bind(p, 0, 0), 0u);
  EXPECT_EQ(p->bones, nullptr);
  EXPECT_EQ(bone_pose_count(), 0u);
  update();  // unbound: nothing happens
}

TEST_F(Motion, SamplesKeysAndBetweenKeys) {
  const AssetHandle anim = add_anim("walk", animation("walk", 6, {{"a", move_x(1)}}));
  motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  struct Case {
    const char* what;
    int32_t frame;       // >= 0 sets, -1 advances
    uint32_t speed;
    uint32_t time;
    float a_x;           // key x + the rest 1.0
  } cases[] = {
      {"frame 0", 0, 0x10000, 0x00000, 1.0f},
      {"advance one", -1, 0x10000, 0x10000, 2.0f},
      {"advance two", -1, 0x10000, 0x20000, 3.0f},
      {"half frame", -1, 0x8000, 0x28000, 3.5f},
      {"quarter", -1, 0x4000, 0x2C000, 3.75f},
      // One and a half frames blend neighbouring keys, not keys two apart.
      {"set frame 1", 1, 0x18000, 0x10000, 2.0f},
      {"speed 1.5", -1, 0x18000, 0x28000, 3.5f},
      {"last key held", 5, 0x10000, 0x50000, 6.0f},
  };
  for (const Case& c : cases) {
    p->speed = c.speed;
    update(c.frame);
    EXPECT_EQ(p->time, c.time) << c.what;
    EXPECT_NEAR(bone(1).x, c.a_x, 1e-5f) << c.what;
    EXPECT_NEAR(bone(2).x, c.a_x + 1.0f, 1e-5f) << c.what;  // the child follows
  }
}

TEST_F(Motion, LoopsWrapCountAndHold) {
  const AssetHandle anim = add_anim("walk", animation("walk", 4, {{"a", move_x(1)}}));
  struct Case {
    const char* what;
    uint32_t speed;
    bool reverse;
    uint32_t start, loop_point, limit, time0;  // start, loop point and time0 in frames
    std::vector<uint32_t> frames;  // time >> 16 after each update (in 0.5 steps: x2 when speed is half)
    uint32_t loops;
  } cases[] = {
      {"endless", 0x10000, false, 0, 0, kMotionEndless, 0, {1, 2, 3, 0, 1, 2, 3, 0}, 2},
      {"limit 2 holds", 0x10000, false, 0, 0, 2, 0, {1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 3, 3}, 2},
      {"loop point after start", 0x10000, false, 0, 2, kMotionEndless, 0, {1, 2, 3, 2, 3, 2}, 2},
      {"loop point not after start", 0x10000, false, 1, 1, kMotionEndless, 1, {2, 3, 1}, 1},
      {"reverse from 0 wraps", 0x10000, true, 0, 0, kMotionEndless, 0, {3, 2, 1, 0, 3}, 2},
      {"reverse above start", 0x10000, true, 1, 0, kMotionEndless, 2, {1, 3, 2, 1, 3}, 2},
      // Half speed counts one loop per pass, not one per update in the last frame.
      {"half speed", 0x8000, false, 0, 0, kMotionEndless, 0, {0, 1, 1, 2, 2, 3, 3, 0, 0, 1}, 1},
  };
  for (const Case& c : cases) {
    motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
    p->speed = c.speed;
    p->start = c.start << 16;
    p->loop_point = c.loop_point << 16;
    motion_set_loop_limit(p, c.limit);
    motion_set_reverse(p, c.reverse);
    motion_set_time(p, c.time0 << 16);
    EXPECT_EQ(p->loops_done, 0u) << c.what << ": a bind starts the count again";
    std::vector<uint32_t> got;
    for (size_t i = 0; i < c.frames.size(); ++i) {
      update();
      got.push_back(motion_current_frame(p));
    }
    EXPECT_EQ(got, c.frames) << c.what;
    EXPECT_EQ(p->loops_done, c.loops) << c.what;
    EXPECT_TRUE(motion_is_playing(p, c.loops)) << c.what;
    EXPECT_FALSE(motion_is_playing(p, c.loops - 1)) << c.what;
  }
  // A loop point on the last frame restarts exactly there, whatever part of
  // a frame the step overshot by.
  motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  motion_set_loop_limit(p, kMotionEndless);
  motion_set_reverse(p, 0);
  p->start = 0;
  p->loop_point = 3u << 16;
  p->speed = 0x18000;
  motion_set_time(p, 0);
  const uint32_t times[] = {0x18000, 0x30000, 0x30000, 0x30000};
  for (uint32_t want : times) {
    update();
    EXPECT_EQ(p->time, want);
  }
}

TEST_F(Motion, ManyTracksAreNotAliased) {
  // 300 tracks; bone a's is number 280, which 8-bit indices would take for
  // number 24 (a track that holds the bone still).
  std::vector<Track> tracks;
  for (int i = 0; i < 300; ++i) {
    char name[8] = "a";
    if (i != 280) std::snprintf(name, sizeof name, "t%d", i);
    tracks.push_back({name, i == 280 ? move_x(3) : move_x(0)});
  }
  const AssetHandle anim = add_anim("crowd", animation("crowd", 2, tracks));
  ASSERT_NE(anim, 0u);
  motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  EXPECT_EQ(bone_chain_nth(p->bones, 1)->track, 280);
  update(1, 1);
  EXPECT_NEAR(bone(1).x, 1.0f + 3.0f, 1e-5f);
}

TEST_F(Motion, ClockBoundariesAndQueries) {
  const AssetHandle anim = add_anim("walk", animation("walk", 4, {{"a", move_x(1)}}));
  motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  struct Speed {
    float in;
    uint32_t out;
  } speeds[] = {{1.0f, 0x10000},          {1.5f, 0x18000},     {0.5f, 0x8000},     {0.0f, 0},
                {-3.0f, 0},               {65535.0f, 0xFFFF0000u}, {1e9f, 0xFFFF0000u}, {NAN, 0},
                {1.0f / 65536.0f, 1}};
  for (const Speed& s : speeds) EXPECT_EQ(motion_set_speed(p, s.in), s.out) << s.in;

  motion_set_loop(p, 0);
  struct Clock {
    int32_t frame;
    uint32_t speed, time;
    bool at_start, at_end, playing;
  } clocks[] = {
      {0, 0x10000, 0x00000, true, false, true},   {-1, 0xFFFF, 0x0FFFF, true, false, true},
      {-1, 1, 0x10000, false, false, true},       {2, 0x10000, 0x20000, false, false, true},
      {-1, 0xFFFF, 0x2FFFF, false, false, true},  {-1, 1, 0x30000, false, true, false},
      {-1, 0xFFFF0000u, 0x30000, false, true, false}, {100, 0x10000, 0x30000, false, true, false},
  };
  for (const Clock& c : clocks) {
    p->speed = c.speed;
    update(c.frame);
    EXPECT_EQ(p->time, c.time) << c.frame << " " << c.speed;
    EXPECT_EQ(motion_at_start(p), c.at_start) << c.time;
    EXPECT_EQ(motion_at_end(p), c.at_end) << c.time;
    EXPECT_EQ(motion_is_playing(p, 0), c.playing) << c.time;
  }
  // Looping at the largest speed still lands inside the animation.
  motion_set_loop(p, 1);
  p->speed = 0xFFFF0000u;
  update();
  EXPECT_LT(p->time, p->end);
  EXPECT_GT(p->loops_done, 0u);
  // Without an animation record the clock stays at 0 and bones keep their rest.
  motion_bind(p, -1, 12345);
  EXPECT_EQ(p->end, 0u);
  update();
  EXPECT_EQ(p->time, 0u);
  EXPECT_NEAR(bone(1).x, 1.0f, 1e-6f);
}

TEST_F(Motion, AFirstAnimationNeverFades) {
  // A fade armed on a player without an animation is dropped by the bind.
  const AssetHandle idle = add_anim("idle", animation("idle", 4, {{"a", move_x(1)}}));
  motion_set_crossfade(p, 4);
  motion_arm_crossfade(p);
  EXPECT_EQ(motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(idle)), 1u);
  EXPECT_EQ(p->fade_left, 0u);
  update(0, 1);
  update();
  EXPECT_FALSE(motion_is_fading(p));
  EXPECT_NEAR(bone(1).x, 2.0f, 1e-5f);
}

TEST_F(Motion, CrossFadeWeightsFollowTheHalfCosine) {
  const AssetHandle idle = add_anim("idle", animation("idle", 4, {{"a", move_x(0)}}));
  const AssetHandle wave = add_anim("wave", animation("wave", 4, {{"a", [](uint32_t) { return translation(10, 0, 0); }}}));
  EXPECT_EQ(motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(idle)), 1u);
  update(-1, 1);
  EXPECT_NEAR(bone(1).x, 1.0f, 1e-6f);
  motion_set_crossfade(p, 4);
  EXPECT_EQ(motion_bind(p, -1, static_cast<int32_t>(wave)), 0u);
  const float weights[] = {0.0f, 0.1464466f, 0.5f, 0.8535534f};
  for (float w : weights) {
    update();
    EXPECT_TRUE(motion_is_fading(p));
    EXPECT_NEAR(bone(1).x, 1.0f + 10.0f * w, 1e-4f) << w;
  }
  update();
  EXPECT_FALSE(motion_is_fading(p));
  EXPECT_NEAR(bone(1).x, 11.0f, 1e-5f);
  // A fade length of 0 stops an armed fade.
  motion_arm_crossfade(p);
  motion_set_crossfade(p, 0);
  EXPECT_EQ(p->fade_left, 0u);
  motion_set_crossfade(p, -5);
  EXPECT_EQ(p->fade_length, 0u);
}

TEST_F(Motion, MirrorNamesAndMatrices) {
  struct Name {
    const char* in;
    int result;
    const char* out;
  } names[] = {{"arm_L_up", 1, "arm_R_up"}, {"arm_R_up", 2, "arm_L_up"}, {"x_L__R_", 1, "x_R__R_"},
               {"leg", 0, ""},              {"_L", 0, ""},              {"_L_", 1, "_R_"}};
  for (const Name& n : names) {
    char out[32] = "";
    EXPECT_EQ(anim_mirror_name(out, sizeof(out), n.in), n.result) << n.in;
    EXPECT_STREQ(out, n.out) << n.in;
  }
  char tiny[3] = "";
  EXPECT_EQ(anim_mirror_name(tiny, sizeof(tiny), "_L_"), 0);

  const AssetHandle t2 = add_tree("hips", chain_tree({"hips", "arm_L_a"}));
  const Vec3 axis{0, 1, 0};
  Mat4 turn;
  mat4_rotation_axis_angle(&turn, nullptr, &axis, 0.5f);
  const AssetHandle anim = add_anim(
      "m", animation("m", 2,
                     {{"hips", [](uint32_t) { return translation(0, 0, 3); }},
                      {"arm_L_a", [](uint32_t) { return translation(0, 2, 0); }},
                      {"arm_R_a", [turn](uint32_t) {
                         Mat4 m = turn;
                         m.m[12] = 0.5f;
                         m.m[13] = 5.0f;
                         return m;
                       }}}));
  motion_bind(p, static_cast<int32_t>(t2), static_cast<int32_t>(anim));
  EXPECT_EQ(p->bones->next->track, 1);
  EXPECT_EQ(p->bones->next->mirror_track, 2);
  EXPECT_EQ(p->bones->mirror_track, p->bones->track);
  update(0, 1);
  EXPECT_NEAR(bone(0).z, 3.0f, 1e-5f);
  EXPECT_NEAR(bone(1).y, 2.0f, 1e-5f);
  motion_set_mirror(p, 1);
  update(0);
  // Top level: across the XY plane; others: across the XZ plane.
  EXPECT_NEAR(bone(0).z, -3.0f, 1e-5f);
  const Mat4& arm = bone_chain_nth(p->bones, 1)->pose;
  EXPECT_NEAR(arm.m[12], 0.5f + 1.0f, 1e-5f);
  EXPECT_NEAR(arm.m[13], -5.0f, 1e-5f);
  EXPECT_NEAR(arm.m[14], -3.0f, 1e-5f);

  // Across the XZ plane a turn about x reverses and a turn about y stays.
  const Vec3 x_axis{1, 0, 0};
  Mat4 turn_x, back, mirrored;
  mat4_rotation_axis_angle(&turn_x, nullptr, &x_axis, 0.5f);
  mat4_rotation_axis_angle(&back, nullptr, &x_axis, -0.5f);
  anim_mirror_matrix(&mirrored, &turn_x, false);
  EXPECT_FALSE(mat4_differs(&mirrored, &back, 1e-5f));
  anim_mirror_matrix(&mirrored, &turn, false);
  EXPECT_FALSE(mat4_differs(&mirrored, &turn, 1e-5f));
}

TEST_F(Motion, RootMotionAndRootLock) {
  const AssetHandle anim = add_anim("run", animation("run", 8, {{"body", [](uint32_t f) {
                                                                  return translation(2.0f * f, 0.5f, 3.0f * f);
                                                                }}}));
  motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  struct Case {
    uint32_t lock;
    Vec3 root_pose;  // at frame 2
  } cases[] = {{0, {4, 0.5f, 6}}, {1, {0, 0.5f, 0}}, {2, {0, 0, 0}}, {3, {4, 0.5f, 6}}, {4, {0, 0, 0}}};
  for (const Case& c : cases) {
    motion_set_root_lock(p, c.lock);
    motion_set_time(p, 0);
    update();  // 0 -> 1: the first update after a time set resets the travel
    Vec3 d;
    motion_root_delta(p, &d);
    EXPECT_EQ(d.x, 0.0f);
    update();  // 1 -> 2
    motion_root_delta(p, &d);
    EXPECT_NEAR(d.x, 2.0f, 1e-5f) << c.lock;  // root motion ignores the lock
    EXPECT_NEAR(d.z, 3.0f, 1e-5f) << c.lock;
    const Vec3 r = bone(0);
    EXPECT_NEAR(r.x, c.root_pose.x, 1e-5f) << c.lock;
    EXPECT_NEAR(r.y, c.root_pose.y, 1e-5f) << c.lock;
    EXPECT_NEAR(r.z, c.root_pose.z, 1e-5f) << c.lock;
  }
  // Travel restarts after a time set (even to a later frame), after a wrap
  // back to the start, and while the time is within one step of the start.
  motion_set_root_lock(p, 0);
  motion_set_time(p, 0);
  const struct {
    int32_t frame;  // -1 advances by one
    uint32_t time;
    float dx;
  } steps[] = {{5, 5, 0.0f}, {-1, 6, 2.0f}, {-1, 7, 2.0f}, {-1, 0, 0.0f}, {-1, 1, 0.0f}, {-1, 2, 2.0f}};
  for (const auto& st : steps) {
    update(st.frame);
    ASSERT_EQ(motion_current_frame(p), st.time);
    Vec3 d;
    motion_root_delta(p, &d);
    EXPECT_NEAR(d.x, st.dx, 1e-5f) << "to frame " << st.time;
    EXPECT_NEAR(d.z, st.dx * 1.5f, 1e-5f) << "to frame " << st.time;
  }
  // After a bind the first update starts the travel afresh.
  motion_bind(p, -1, -1);
  update(4);
  Vec3 after_bind;
  motion_root_delta(p, &after_bind);
  EXPECT_EQ(after_bind.x, 0.0f);

  // A tree without a node of its own name has no root: no travel.
  const AssetHandle other = add_tree("nameless", chain_tree({"x", "y"}));
  motion_bind(p, static_cast<int32_t>(other), static_cast<int32_t>(anim));
  EXPECT_EQ(motion_root_index(p), 255u);
  update();
  update();
  Mat4 m;
  EXPECT_EQ(motion_root_matrix(p, &m), nullptr);
  Vec3 d;
  motion_root_delta(p, &d);
  EXPECT_EQ(d.x, 0.0f);
}

TEST_F(Motion, SkinWorldAndMatrixOverrides) {
  const AssetHandle anim = add_anim("walk", animation("walk", 4, {{"a", move_x(1)}}));
  motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  // Bone b stands at x = 2. Its offset turns a quarter about z and then
  // moves back to the origin: offset x pose turns in place.
  ShaderBone entries[1];
  entries[0].name = "b";
  entries[0].name_hash = hash_name("b");
  entries[0].offset = quarter_z(-2, 0, 0);
  const ShaderBoneSource mesh{entries, 1};
  // The part turned a quarter about y and moved 7 along z.
  const Mat4 world = quarter_y(0, 0, 7);
  anim_update_player(p, &world, 0, &mesh, 0, 1);
  const BonePose* b = bone_chain_nth(p->bones, 2);
  EXPECT_EQ(b->mesh_bone, 0);
  expect_vec(pos(b->skin), {0, 0, 0}, "skin: offset first, then the pose");
  expect_vec(row(b->skin, 0), {0, 1, 0}, "skin turns x to y");
  expect_vec(pos(b->world), {0, 0, 5}, "world: the pose, then the part's matrix");
  expect_vec(row(b->world, 0), {0, 0, -1}, "world turns x to -z");
  EXPECT_EQ(p->skin_mesh, &mesh);
  EXPECT_EQ(bone_chain_nth(p->bones, 1)->mesh_bone, kBoneNoTrack);
  expect_vec(pos(bone_chain_nth(p->bones, 1)->skin), {1, 0, 0}, "other bones keep the stack's pose");

  // Local override: one-shot, applied in the bone's frame, weighted.
  const Mat4 lift = translation(0, 4, 0);
  EXPECT_TRUE(bone_set_local_override(p, 1, &lift, 0.5f, 0));
  anim_update_player(p, &world, 0, nullptr, 0, 0);
  EXPECT_NEAR(bone(1).y, 2.0f, 1e-5f);
  EXPECT_NEAR(bone(2).y, 2.0f, 1e-5f);  // children follow a local override
  anim_update_player(p, &world, 0, nullptr, 0, 0);
  EXPECT_NEAR(bone(1).y, 0.0f, 1e-5f);
  // A turning override turns the bone where it stands: its child swings
  // round it.
  const Mat4 turn = quarter_z();
  EXPECT_TRUE(bone_set_local_override(p, 1, &turn, 1.0f, 0));
  anim_update_player(p, &world, 0, nullptr, 0, 0);
  expect_vec(bone(1), {1, 0, 0}, "the turned bone stays");
  expect_vec(row(bone_chain_nth(p->bones, 1)->pose, 0), {0, 1, 0}, "and turns");
  expect_vec(bone(2), {1, 1, 0}, "its child swings round it");
  // World override: the given world matrix brought into model space.
  const Mat4 there = translation(5, 5, 12);
  EXPECT_TRUE(bone_set_world_override(p, 3, &there, 1.0f, 0));
  anim_update_player(p, &world, 0, nullptr, 0, 0);
  expect_vec(bone(3), {-5, 5, 5}, "world override in model space");
  expect_vec(pos(bone_world_matrix(p, 3, &world, 0)->world), {5, 5, 12}, "and back in the world");
  // Missing records.
  EXPECT_FALSE(bone_set_local_override(p, 4, &lift, 1.0f, 0));
  EXPECT_FALSE(bone_set_world_override(p, -1, &lift, 1.0f, 0));
  const Vec3 goal{0, 0, 0};
  EXPECT_FALSE(bone_set_ik_target(p, 9, &goal, 1.0f, 3));
  EXPECT_EQ(bone_world_matrix(p, 4, &world, 1), nullptr);
  EXPECT_EQ(motion_skin_matrix(p, 4), nullptr);
  EXPECT_EQ(motion_skin_matrix(p, 2), &b->skin);
  // A null matrix or zero weight clears a pending override.
  EXPECT_TRUE(bone_set_local_override(p, 1, &lift, 1.0f, 0));
  EXPECT_TRUE(bone_set_local_override(p, 1, nullptr, 1.0f, 0));
  anim_update_player(p, &world, 0, nullptr, 0, 0);
  EXPECT_NEAR(bone(1).y, 0.0f, 1e-6f);
  EXPECT_TRUE(bone_set_local_override(p, 1, &lift, 1.0f, 0));
  EXPECT_TRUE(bone_set_local_override(p, 1, &lift, 0.0f, 0));
  anim_update_player(p, &world, 0, nullptr, 0, 0);
  EXPECT_NEAR(bone(1).y, 0.0f, 1e-6f);
  // A world matrix kept valid is not recomputed unless forced.
  BonePose* c = bone_chain_nth(p->bones, 3);
  c->world.m[12] = 99.0f;
  EXPECT_EQ(bone_world_matrix(p, 3, &world, 0)->world.m[12], 99.0f);
  EXPECT_NE(bone_world_matrix(p, 3, &world, 1)->world.m[12], 99.0f);
}

TEST_F(Motion, KeysTurnTheBoneBeforeItsRestAndTheChildrenAfterIt) {
  // The root's rest stands 5 along z; its key turns a quarter about y and
  // moves 1 along x. Bone a's key turns a quarter about z.
  const AssetHandle rested = add_tree("trunk", chain_tree({"trunk", "a", "b", "c"}, {0, 0, 5}));
  ASSERT_NE(rested, 0u);
  const AssetHandle anim = add_anim(
      "turns", animation("turns", 2, {{"trunk", [](uint32_t) { return quarter_y(1, 0, 0); }},
                                      {"a", [](uint32_t) { return quarter_z(); }}}));
  motion_bind(p, static_cast<int32_t>(rested), static_cast<int32_t>(anim));
  update(0, 1);
  // key x rest: turned and moved by the key, then placed by the rest.
  expect_vec(bone(0), {1, 0, 5}, "the root");
  Mat4 root;
  ASSERT_NE(motion_root_matrix(p, &root), nullptr);
  expect_vec(pos(root), {1, 0, 5}, "the root's sampled transform");
  expect_vec(row(root, 0), {0, 0, -1}, "the root's sampled turn");
  // Bone a: its rest (1 along x) in the root's turned frame.
  expect_vec(bone(1), {1, 0, 4}, "a");
  // Bone b: one along x in a's frame, which a's key turned onto y first.
  expect_vec(bone(2), {1, 1, 4}, "b");
}

TEST_F(Motion, ARootWithoutARestMatrixStandsWhereItsKeyPutsIt) {
  // The root node comes first, with no rest matrix before it: its rest is
  // the identity, not the 16 words the stream holds at its start.
  Blob w;
  w.u32(BONE_OP_NODE);
  const uint32_t name_at = w.u32(0);
  w.u32(0);
  w.u32(BONE_OP_PUSH);
  w.u32(BONE_OP_MATRIX);
  put_mat(&w, translation(0, 2, 0));
  w.u32(BONE_OP_NODE);
  const uint32_t leaf_at = w.u32(0);
  w.u32(0);
  w.u32(BONE_OP_POP);
  w.u32(BONE_OP_END);
  w.set(name_at, w.str("bare"));
  w.set(leaf_at, w.str("leaf"));
  const AssetHandle bare = add_tree("bare", w);
  ASSERT_NE(bare, 0u);
  const AssetHandle anim = add_anim("turn", animation("turn", 2, {{"bare", [](uint32_t) { return quarter_y(1, 0, 0); }}}));
  motion_bind(p, static_cast<int32_t>(bare), static_cast<int32_t>(anim));
  update(0, 1);
  Mat4 root;
  ASSERT_NE(motion_root_matrix(p, &root), nullptr);
  expect_vec(pos(root), {1, 0, 0}, "the root's key alone");
  expect_vec(row(root, 0), {0, 0, -1}, "the key's turn alone");
}

bool finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

TEST_F(Motion, InverseKinematicsReachesOrClamps) {
  const AssetHandle anim = add_anim("still", animation("still", 2, {{"a", move_x(0)}}));
  const Mat4 world = translation(0, 0, 5);
  struct Case {
    const char* what;
    int32_t chain;
    Vec3 target;  // world space
    Vec3 expect;  // model space, end of the chain
    float tol;
  } cases[] = {
      {"two bone reach", 3, {2.0f, 1.2f, 5.0f}, {2.0f, 1.2f, 0.0f}, 1e-3f},
      {"two bone bent close", 3, {1.5f, 0.0f, 5.5f}, {1.5f, 0.0f, 0.5f}, 1e-3f},
      {"two bone out of reach", 3, {10.0f, 0.0f, 5.0f}, {1.0f + 1.998f, 0.0f, 0.0f}, 1e-3f},
      {"ccd reach", 4, {1.0f, 2.0f, 5.0f}, {1.0f, 2.0f, 0.0f}, 0.05f},
  };
  for (const Case& c : cases) {
    motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
    anim_update_player(p, &world, 0, nullptr, 0, 1);
    EXPECT_TRUE(bone_set_ik_target(p, 3, &c.target, 1.0f, c.chain));
    anim_update_player(p, &world, 0, nullptr, 0, 0);
    const Vec3 a = bone(1), b = bone(2), e = bone(3);
    EXPECT_NEAR(e.x, c.expect.x, c.tol) << c.what;
    EXPECT_NEAR(e.y, c.expect.y, c.tol) << c.what;
    EXPECT_NEAR(e.z, c.expect.z, c.tol) << c.what;
    EXPECT_NEAR(std::sqrt(vec3_distance_sq(&a, &b)), 1.0f, 1e-4f) << c.what;
    EXPECT_NEAR(std::sqrt(vec3_distance_sq(&b, &e)), 1.0f, 1e-4f) << c.what;
  }
  // A goal on the chain root and one next to it give finite poses.
  for (const Vec3 target : {Vec3{1, 0, 5}, Vec3{1.0f, 1e-4f, 5.0f}, Vec3{1, 0, 5.00001f}}) {
    motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
    anim_update_player(p, &world, 0, nullptr, 0, 1);
    bone_set_ik_target(p, 3, &target, 1.0f, 3);
    anim_update_player(p, &world, 0, nullptr, 0, 0);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(finite(bone(i))) << i;
  }
}

TEST_F(Motion, InverseKinematicsLeavesAJointTooCloseToTheEffectorOrGoalUnturned) {
  // Joints 1 apart along x; the effector (the fourth record) just past the
  // third joint. Over one pass the third joint turns towards a goal above it
  // unless the effector or the goal lies within 0.001 of it.
  const struct {
    const char* what;
    float effector;  // past the third joint, along x
    Vec3 goal;
    bool turns;
  } cases[] = {
      {"both well away", 0.002f, {2, 1, 0}, true},
      {"the effector on the joint", 0.0005f, {2, 1, 0}, false},
      {"the goal on the joint", 1.0f, {2, 0.0005f, 0}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BonePose poses[4] = {};
    BonePose* chain[4];
    for (int i = 0; i < 4; ++i) {
      const Vec3 at{i < 3 ? static_cast<float>(i) : 2.0f + c.effector, 0, 0};
      mat4_translation(&poses[i].pose, &at);
      chain[i] = &poses[i];
    }
    ik_solve_chain(chain, 4, &c.goal, 0);
    // The third joint's pose relative to the second: still unturned or not.
    Mat4 inverse, local;
    mat4_invert(&inverse, &poses[1].pose);
    mat4_multiply(&local, &inverse, &poses[2].pose);
    EXPECT_EQ(std::fabs(local.m[0] - 1.0f) > 0.1f, c.turns) << local.m[0];
  }
}

TEST_F(Motion, LookAtTurnsTheBoneTowardsTheTarget) {
  const AssetHandle anim = add_anim("still", animation("still", 2, {{"a", move_x(0)}}));
  motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  update(0, 1);
  const Vec3 target{1, 0, 10};
  EXPECT_TRUE(bone_set_look_at(p, 1, &target, nullptr, 1.0f));
  EXPECT_TRUE(bone_chain_nth(p->bones, 1)->flags & kBoneNoUpHint);
  update(0);
  const Mat4& m = bone_chain_nth(p->bones, 1)->pose;
  // The forward row points at the target.
  EXPECT_NEAR(m.m[8], 0.0f, 1e-4f);
  EXPECT_NEAR(m.m[9], 0.0f, 1e-4f);
  EXPECT_NEAR(m.m[10], 1.0f, 1e-4f);
  EXPECT_NEAR(m.m[12], 1.0f, 1e-5f);
  expect_vec(row(m, 1), {0, 1, 0}, "up across the bone's own x", 1e-4f);
  // A target 45 degrees to the side with an up hint, at half weight: the
  // bone turns half way, 22.5 degrees.
  const Vec3 side{11, 0, 10}, up{0, 1, 0};
  EXPECT_TRUE(bone_set_look_at(p, 1, &side, &up, 0.5f));
  EXPECT_FALSE(bone_chain_nth(p->bones, 1)->flags & kBoneNoUpHint);
  update(0);
  expect_vec(row(m, 2), {0.3826834f, 0, 0.9238795f}, "forward, half way", 1e-4f);
  expect_vec(row(m, 1), {0, 1, 0}, "up", 1e-4f);
  expect_vec(pos(m), {1, 0, 0}, "where it stands");
  // One-shot: the next update poses it as the animation says.
  update(0);
  expect_vec(row(m, 2), {0, 0, 1}, "back", 1e-5f);
  // An override cleared by a zero weight leaves nothing of itself behind.
  const Mat4 lift = translation(0, 1, 0);
  EXPECT_TRUE(bone_set_local_override(p, 1, &lift, 1.0f, 0));
  EXPECT_TRUE(bone_set_local_override(p, 1, &lift, 0.0f, 0));
  const BonePose* cleared = bone_chain_nth(p->bones, 1);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(cleared->override_matrix.m[k], k % 5 == 0 ? 1.0f : 0.0f) << k;
  EXPECT_EQ(cleared->weight, 0.0f);
  EXPECT_EQ(cleared->flags & kBoneKindMask, 0u);
}

TEST_F(Motion, SpringBonesHangAndSettle) {
  const AssetHandle anim = add_anim("still", animation("still", 2, {{"a", move_x(0)}}));
  motion_bind(p, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
  const Mat4 world = translation(0, 20, 0);
  anim_update_player(p, &world, 0, nullptr, 0, 1);
  EXPECT_TRUE(bone_set_springs(p, "b", 1));
  EXPECT_EQ(anim_aux_count(), 1u);  // only c hangs below b
  const SpringParticle* s = bone_chain_nth(p->bones, 3)->particle;
  ASSERT_NE(s, nullptr);
  EXPECT_NEAR(s->rest_length, 1.0f, 1e-6f);
  anim_update_player(p, &world, 0, nullptr, 0, 0);
  // Started level with its parent, the particle falls freely at first: the
  // constraint only pulls it back along the bone.
  EXPECT_NEAR(s->vel.y, -0.01f * 0.97f, 1e-4f);
  for (int i = 0; i < 600; ++i) anim_update_player(p, &world, 0, nullptr, 0, 0);
  const Vec3 anchor{2, 20, 0};
  EXPECT_NEAR(std::sqrt(vec3_distance_sq(&s->pos, &anchor)), 1.0f, 0.01f);
  EXPECT_NEAR(s->pos.x, 2.0f, 0.05f);
  EXPECT_NEAR(s->pos.y, 19.0f, 0.01f);
  // The bone follows its particle, and its parent points at it.
  EXPECT_NEAR(pos(bone_chain_nth(p->bones, 3)->world).y, s->pos.y, 1e-5f);
  const Mat4& parent = bone_chain_nth(p->bones, 2)->world;
  EXPECT_NEAR(parent.m[1], -1.0f, 0.05f);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(parent.m[i]));

  // A ground collider just under the cast's start but above the hanging
  // particle: lifted to ground + 0.2 rest.
  CollBuilder floor;
  floor.cells.push_back(floor_cell(0.0f, -2.0f, 19.5f, 4.0f, 1));
  const Blob blob = floor.build("floor");
  const AssetHandle ground = register_collision("pk", "floor", blob.bytes.data(), blob.size());
  ASSERT_NE(ground, 0u);
  Mat4 identity;
  mat4_identity(&identity);
  Collider* collider = collider_create_mesh(ground, &identity, 0, 1, 0, 0);
  ASSERT_NE(collider, nullptr);
  anim_update_player(p, &world, 0, nullptr, 0, 0);
  EXPECT_NEAR(s->pos.y, 19.7f, 1e-4f);
  collider_release(collider);

  EXPECT_TRUE(bone_set_springs(p, "b", 0));
  EXPECT_EQ(anim_aux_count(), 0u);
  EXPECT_TRUE(bone_set_springs(p, nullptr, 1));
  EXPECT_EQ(anim_aux_count(), 3u);  // every node but node 0
  EXPECT_TRUE(bone_set_springs(p, nullptr, 0));
  EXPECT_EQ(anim_aux_count(), 0u);
  EXPECT_TRUE(bone_set_springs(p, "absent", 1));  // the stream's end, name or not
}

// Two spring particles b and c hanging straight down from bone a, all on
// one vertical line: one step worked out by hand. Gravity 0.01 a frame,
// ten passes that move each end by 0.75 of the error, damping 0.97.
struct Hang {
  float y[2], prev[2], vel[2];
};
void hang_step(float anchor, Hang* h) {
  for (int i = 0; i < 2; ++i) h->y[i] += h->vel[i] - 0.01f;
  auto toward = [](float from, float to) { return to < from ? -1.0f : 1.0f; };
  for (int pass = 0; pass < 10; ++pass) {
    float d = std::fabs(h->y[0] - anchor);
    h->y[0] += toward(anchor, h->y[0]) * (1.0f - d) * 0.75f;
    d = std::fabs(h->y[1] - h->y[0]);
    const float n = toward(h->y[0], h->y[1]), c = (1.0f - d) * 0.75f;
    h->y[0] -= n * c;
    h->y[1] += n * c;
  }
  for (int i = 0; i < 2; ++i) {
    h->vel[i] = (h->y[i] - h->prev[i]) * 0.97f;
    h->prev[i] = h->y[i];
  }
}

TEST_F(Motion, SpringStepsPullBothEndsFallAndBounceOffTheGround) {
  // hang -> a -> b -> c, each 1 below its parent; b and c hang from a.
  const Blob w = chain_tree({"hang", "a", "b", "c"}, {0, 0, 0}, {0, -1, 0});
  const AssetHandle hang = add_tree("hang", w);
  ASSERT_NE(hang, 0u);
  // A ground collider (serial 5) whose top lies at `ground`.
  CollBuilder floor;
  const float ground = 16.9f;
  floor.cells.push_back(floor_cell(-2.0f, -2.0f, ground, 4.0f, 1));
  const Blob blob = floor.build("step_floor");
  const AssetHandle floor_handle = register_collision("pk", "step_floor", blob.bytes.data(), blob.size());
  ASSERT_NE(floor_handle, 0u);
  Mat4 identity;
  mat4_identity(&identity);
  const struct {
    const char* what;
    float lift;     // the part moves by this along y before the step
    bool floor;     // the ground collider is there
    uint16_t skip;  // the serial the ground cast leaves out
    bool bounces;
  } cases[] = {
      {"pulled up", 0.5f, false, 0, false},
      {"pushed down", -0.5f, false, 0, false},
      {"pushed down onto the ground", -0.5f, true, 0, true},
      {"the ground is its own body", -0.5f, true, 5, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    raycol_init();
    if (c.floor) {
      ASSERT_NE(collider_create_mesh(floor_handle, &identity, 0, 5, 0, 0), nullptr);
    }
    motion_bind(p, static_cast<int32_t>(hang), 0);
    const Mat4 start = translation(0, 20, 0);
    anim_update_player(p, &start, 0, nullptr, 0, 1);
    ASSERT_TRUE(bone_set_springs(p, "a", 1));
    const SpringParticle* b = bone_chain_nth(p->bones, 2)->particle;
    const SpringParticle* cp = bone_chain_nth(p->bones, 3)->particle;
    ASSERT_TRUE(b != nullptr && cp != nullptr);
    EXPECT_FLOAT_EQ(b->pos.y, 18.0f);
    EXPECT_FLOAT_EQ(cp->rest_length, 1.0f);
    Hang want{{18.0f, 17.0f}, {18.0f, 17.0f}, {0.0f, 0.0f}};
    hang_step(19.0f + c.lift, &want);
    const Mat4 moved = translation(0, 20 + c.lift, 0);
    anim_update_player(p, &moved, 0, nullptr, c.skip, 0);
    EXPECT_NEAR(b->pos.y, want.y[0], 1e-5f);
    EXPECT_NEAR(b->vel.y, want.vel[0], 1e-5f);
    if (c.bounces) {
      // Below the ground plus 0.2 of its rest length: set on it, its fall
      // turned into a rise a quarter as fast.
      ASSERT_LT(want.y[1], ground + 0.2f);
      EXPECT_NEAR(cp->pos.y, ground + 0.2f, 1e-5f);
      EXPECT_NEAR(cp->vel.y, want.vel[1] * -0.25f, 1e-5f);
      EXPECT_GT(cp->vel.y, 0.0f);
    } else {
      EXPECT_NEAR(cp->pos.y, want.y[1], 1e-5f);
      EXPECT_NEAR(cp->vel.y, want.vel[1], 1e-5f);
    }
    EXPECT_EQ(cp->pos.x, 0.0f);
    EXPECT_EQ(cp->prev.y, cp->pos.y);
    // The bones follow their particles.
    EXPECT_NEAR(pos(bone_chain_nth(p->bones, 3)->world).y, cp->pos.y, 1e-5f);
    bone_set_springs(p, "a", 0);
  }
  // Thrown sideways as much along x as along z, the last particle swings
  // out equally along both.
  raycol_init();
  motion_bind(p, static_cast<int32_t>(hang), 0);
  const Mat4 start = translation(0, 20, 0);
  anim_update_player(p, &start, 0, nullptr, 0, 1);
  ASSERT_TRUE(bone_set_springs(p, "a", 1));
  SpringParticle* thrown = bone_chain_nth(p->bones, 3)->particle;
  thrown->vel = Vec3{0.25f, 0.0f, 0.25f};
  anim_update_player(p, &start, 0, nullptr, 0, 0);
  EXPECT_GT(thrown->pos.x, 0.05f);
  EXPECT_FLOAT_EQ(thrown->pos.z, thrown->pos.x);
  EXPECT_GT(thrown->vel.x, 0.0f);
  EXPECT_FLOAT_EQ(thrown->vel.z, thrown->vel.x);
  bone_set_springs(p, "a", 0);
  raycol_init();
}

TEST_F(Motion, SpringsStopWhereTheSubtreeEnds) {
  // body { a { b } c }: c is a's sibling, so the walk for a stops there.
  Blob w;
  std::vector<std::pair<uint32_t, std::string>> fix;
  auto node = [&](const char* name) {
    w.u32(BONE_OP_MATRIX);
    put_mat(&w, translation(1, 0, 0));
    w.u32(BONE_OP_NODE);
    fix.emplace_back(w.u32(0), name);
    w.u32(0);
  };
  node("body");
  w.u32(BONE_OP_PUSH);
  node("a");
  w.u32(BONE_OP_PUSH);
  node("b");
  w.u32(BONE_OP_POP);
  node("c");
  w.u32(BONE_OP_POP);
  w.u32(BONE_OP_END);
  for (auto& [at, name] : fix) w.set(at, w.str(name.c_str()));
  const AssetHandle t2 = add_tree("body2", w);
  motion_bind(p, static_cast<int32_t>(t2), 0);
  EXPECT_FALSE(bone_set_springs(p, "a", 1));
  EXPECT_EQ(anim_aux_count(), 1u);
  EXPECT_NE(bone_chain_nth(p->bones, 2)->particle, nullptr);
  EXPECT_EQ(bone_chain_nth(p->bones, 3)->particle, nullptr);
  EXPECT_EQ(bone_chain_nth(p->bones, 3)->parent, p->bones);
  motion_clear(p);
  EXPECT_EQ(anim_aux_count(), 0u);
  EXPECT_FALSE(bone_set_springs(p, "a", 1));  // no tree
}

TEST_F(Motion, SpringParticlesRunOutQuietly) {
  const AssetHandle anim = add_anim("still", animation("still", 2, {{"a", move_x(0)}}));
  std::vector<MotionPlayer*> players;
  for (int i = 0; i < 22; ++i) {
    MotionPlayer* q = i == 0 ? p : motion_create();
    motion_bind(q, static_cast<int32_t>(tree), static_cast<int32_t>(anim));
    anim_update_player(q, nullptr, 0, nullptr, 0, 1);
    bone_set_springs(q, nullptr, 1);
    players.push_back(q);
  }
  EXPECT_EQ(anim_aux_count(), 64u);
  const BonePose* last = bone_chain_nth(players.back()->bones, 3);
  EXPECT_EQ(last->particle, nullptr);
  EXPECT_TRUE(last->flags & kBoneSpring);
  for (MotionPlayer* q : players) anim_update_player(q, nullptr, 0, nullptr, 0, 0);
  motion_release(players[0]);
  EXPECT_EQ(anim_aux_count(), 64u - 3u);
}

TEST(SpringOrient, DegenerateDirectionsKeepAFrame) {
  Mat4 in = translation(1, 2, 3);
  struct Case {
    Vec3 point;
  } cases[] = {{{1, 2, 3}}, {{1, 2, 9}}, {{1, 2, -9}}, {{4, 2, 3}}, {{1, -5, 3}}};
  const Vec3 origin{1, 2, 3};
  for (const Case& c : cases) {
    Mat4 out;
    spring_orient_bone(&out, &in, &origin, &c.point, true);
    Vec3 scale;
    mat4_axis_scales(&scale, &out);
    EXPECT_NEAR(scale.x, 1.0f, 1e-5f);
    EXPECT_NEAR(scale.y, 1.0f, 1e-5f);
    EXPECT_NEAR(scale.z, 1.0f, 1e-5f);
    EXPECT_EQ(pos(out).z, c.point.z);
  }
}

}  // namespace
