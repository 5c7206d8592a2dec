#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "math/plane.h"
#include "render/tasks/task.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/animation.h"
#include "scene3d/collision_world.h"
#include "scene3d/light_spheres.h"
#include "scene3d/part_records.h"
#include "scene3d/part_render.h"
#include "scene3d/ray_collision.h"
#include "scene3d/sphere_world.h"

namespace {

// Graphics start-up's order for the scene: the seven engine types first.
void start_scene() {
  lightsphere_init();
  tasks_init();
  for (int i = 0; i < 7; ++i) task_type_register(nullptr, nullptr, nullptr, nullptr, 16);
  register_part_classes();
  sphereworld_init();
  collworld_init();
  anim_init();
  raycol_init();
  part_slot_pool_reset();
}

class ScenePools : public ::testing::Test {
 protected:
  void SetUp() override { start_scene(); }
  void TearDown() override { tasks_shutdown(); }
};

TEST_F(ScenePools, PartClassesTakeIdsEightToElevenWithOverridesOff) {
  const PartRenderBlock* b = part_render_block();
  EXPECT_EQ(b->mesh_type_id, 10u);
  EXPECT_EQ(b->static_type_id, 11u);
  EXPECT_EQ(b->model_type_id, 9u);
  EXPECT_EQ(b->prim_type_id, 8u);
  EXPECT_EQ(b->pass_index, 0);
  for (int32_t o : b->overrides) EXPECT_EQ(o, -1);
  EXPECT_EQ(b->draw_calls + b->batches + b->primitives, 0u);
  part_render_set_override_6(1);
  part_render_set_override_2(1);
  part_render_clear_overrides();
  for (int32_t o : b->overrides) EXPECT_EQ(o, -1);
  // The getters read the words their setters write.
  part_render_set_override_2(1);
  part_render_set_override_3(5);
  part_render_set_override_5(6);
  part_render_set_override_6(7);
  EXPECT_EQ(part_render_get_override_2(), 1);
  EXPECT_EQ(part_render_get_override_3(), 5);
  EXPECT_EQ(part_render_get_override_5(), 6);
  EXPECT_EQ(part_render_get_override_6(), 7);
  EXPECT_EQ(part_render_set_override_0(0), b);
  EXPECT_EQ(b->overrides[0], 0);
  part_render_set_pass_index(3);
  EXPECT_EQ(part_render_get_pass_index(), 3);
  part_render_clear_overrides();
  part_render_count_draw(5);
  part_render_count_draw(2);
  part_render_count_batch();
  EXPECT_EQ(b->draw_calls, 2u);
  EXPECT_EQ(b->primitives, 7u);
  EXPECT_EQ(b->batches, 1u);
  part_render_reset_counters();
  EXPECT_EQ(b->draw_calls + b->batches + b->primitives, 0u);
}

TEST_F(ScenePools, PartCreateCallbacksSetTheirDefaultsAndReleaseWhatTheyHold) {
  const PartRenderBlock* b = part_render_block();
  Task* mesh = task_create(1);
  task_set_type(mesh, static_cast<int>(b->mesh_type_id));
  EXPECT_TRUE(task_is_mesh_part(mesh));
  EXPECT_EQ(mesh->layer, kPartDefaultLayer);
  EXPECT_TRUE(mesh->flags & kTaskVisible);
  const MeshPart* mp = task_data<MeshPart>(mesh);
  EXPECT_EQ(mp->flags, 0x02C4009Eu);
  EXPECT_EQ(mp->colour_is_default, 1);
  EXPECT_EQ(mp->alpha, 1.0f);

  Task* prim = task_create(1);
  task_set_type(prim, static_cast<int>(b->prim_type_id));
  EXPECT_EQ(task_data<PrimPart>(prim)->flags & kRenderFlagSphereCull, 0u);

  Task* model = task_create(2);
  task_set_type(model, static_cast<int>(b->model_type_id));
  ModelPart* part = task_data<ModelPart>(model);
  ASSERT_NE(part->motion, nullptr);
  EXPECT_EQ(part->motion->start, 2u << 16);
  EXPECT_EQ(motion_player_count(), 1);
  PartSlot* slot = part_slot_alloc(model);
  part->slots[3] = part_slot_index(slot);
  Mat4 owner;
  mat4_identity(&owner);
  part->colliders = collider_create_sphere(nullptr, 1.0f, &owner, 0, 1, 0, 0);
  EXPECT_EQ(raycol_collider_count(), 1u);

  kill_owner(2);
  EXPECT_EQ(motion_player_count(), 0);
  EXPECT_EQ(part_slot_count(), 0);
  EXPECT_EQ(raycol_collider_count(), 0u);

  // Every class gives its Colliders back with itself; the others are
  // created on layer 52 and visible too.
  const uint32_t ids[3] = {b->mesh_type_id, b->static_type_id, b->prim_type_id};
  for (uint32_t id : ids) {
    Task* t = task_create(3);
    task_set_type(t, static_cast<int>(id));
    EXPECT_EQ(t->layer, kPartDefaultLayer) << id;
    EXPECT_TRUE(t->flags & kTaskVisible) << id;
    Collider** chain = id == b->mesh_type_id     ? &task_data<MeshPart>(t)->colliders
                       : id == b->static_type_id ? &task_data<StaticPart>(t)->colliders
                                                 : &task_data<PrimPart>(t)->colliders;
    *chain = collider_create_sphere(nullptr, 1.0f, &owner, 0, 1, 0, 0);
  }
  EXPECT_EQ(raycol_collider_count(), 3u);
  kill_owner(3);
  EXPECT_EQ(raycol_collider_count(), 0u);
  // The primitive part's template: normal up, the diffuse colour.
  Task* prim2 = task_create(1);
  task_set_type(prim2, static_cast<int>(b->prim_type_id));
  const PrimVertex& v = task_data<PrimPart>(prim2)->vertex_template;
  EXPECT_EQ(v.ny, 1.0f);
  EXPECT_EQ(v.diffuse, 0xFFFFFFFFu);
  EXPECT_EQ(task_data<PrimPart>(prim2)->world.m[15], 1.0f);
}

TEST(RenderFlags, DefaultsKeepTheSpareBits) {
  uint32_t f = 0;
  render_flags_default(&f);
  EXPECT_EQ(f, 0x02C4009Eu);
  f = 0xFFFFFFFFu;
  render_flags_default(&f);
  EXPECT_EQ(f, 0xE2C4009Eu);
  uint32_t n = 0;
  part_flags_default_into(&n);
  EXPECT_EQ(n, 0x0058013Du);
  ColourBlock c = kDefaultColourBlock;
  EXPECT_EQ(colour_block_is_default(&c), 1);
  c.power = -0.0f;  // equal as a float
  EXPECT_EQ(colour_block_is_default(&c), 1);
  c.scale = 2.0f;
  EXPECT_EQ(colour_block_is_default(&c), 0);
}

// Each pool takes exactly the capacity it is meant to have, refuses one
// more, and its reset makes it whole again.
TEST_F(ScenePools, EveryPoolHoldsItsCapacityAndResetEmptiesIt) {
  Mat4 m;
  mat4_identity(&m);
  struct Case {
    std::string name;
    int capacity;
    std::function<bool()> take;
    std::function<int()> count;
    std::function<void()> reset;
  };
  const std::vector<Case> cases = {
      {"part slots", 256, [] { return part_slot_alloc(nullptr) != nullptr; }, part_slot_count,
       part_slot_pool_reset},
      {"light spheres", 128, [] { return lightsphere_create(1, nullptr, 1, 0) != nullptr; },
       lightsphere_count, lightsphere_reset_pool},
      {"sphere objects", 768,
       [&] { return sphereworld_create_object(nullptr, &m, 1, 1, 1) != nullptr; },
       [] { return static_cast<int>(sphereworld_object_count()); }, sphereworld_reset},
      {"spheres", 2304, [] { return sphereworld_alloc_spheres(1) != nullptr; },
       [] { return static_cast<int>(sphereworld_sphere_count()); }, sphereworld_release_all},
      {"colliders", 1100,
       [&] { return collider_create_sphere(nullptr, 1, &m, 0, 1, 0, 0) != nullptr; },
       [] { return static_cast<int>(raycol_collider_count()); }, raycol_reset_pools},
      {"probes", 128,
       [] { return ray_probe_create(nullptr, nullptr, 1, 0, 0, kCategoryAll) != nullptr; },
       [] { return static_cast<int>(raycol_probe_count()); }, raycol_reset_pools},
      {"bodies", 128,
       [&] { return collworld_body_create(&m, 1, 1, nullptr, 1, 1) != nullptr; },
       [] { return static_cast<int>(collworld_count()); }, collworld_clear},
      {"players", 256, [] { return motion_create() != nullptr; }, motion_player_count,
       anim_init},
      {"bone poses", 6400, [] { return bone_chain_alloc(1, nullptr) != nullptr; },
       [] { return static_cast<int>(bone_pose_count()); }, anim_release},
      {"particles", 64, [] { return anim_aux_alloc() != nullptr; },
       [] { return static_cast<int>(anim_aux_count()); }, anim_release},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int i = 0; i < c.capacity; ++i) ASSERT_TRUE(c.take()) << i;
    EXPECT_FALSE(c.take());
    EXPECT_EQ(c.count(), c.capacity);
    c.reset();
    EXPECT_EQ(c.count(), 0);
    EXPECT_TRUE(c.take());
    c.reset();
  }
}

TEST_F(ScenePools, PartSlotIndicesCoverTheWholePoolAndNothingBeyond) {
  std::vector<PartSlot*> slots;
  for (int i = 0; i < kPartSlotPoolSize; ++i) slots.push_back(part_slot_alloc(nullptr));
  ASSERT_NE(slots.back(), nullptr);
  // Indices count from 1; 0 stands for no slot.
  std::vector<uint16_t> seen;
  for (PartSlot* s : slots) seen.push_back(part_slot_index(s));
  std::sort(seen.begin(), seen.end());
  for (int i = 0; i < kPartSlotPoolSize; ++i) ASSERT_EQ(seen[i], i + 1);
  struct {
    uint16_t index;
    bool valid;
  } cases[] = {{0, false}, {1, true}, {kPartSlotPoolSize - 1, true}, {kPartSlotPoolSize, true},
               {kPartSlotPoolSize + 1, false}, {0xFFFF, false}};
  for (const auto& c : cases) {
    PartSlot* s = part_slot_from_index(c.index);
    EXPECT_EQ(s != nullptr, c.valid) << c.index;
    if (s) {
      EXPECT_EQ(part_slot_index(s), c.index);
    }
  }
  const PartSlot* last = part_slot_from_index(kPartSlotPoolSize);
  EXPECT_EQ(part_slot_index(last + 1), 0) << "one past the pool";
  EXPECT_EQ(part_slot_index(nullptr), 0);
  // A slot taken again starts from its defaults.
  part_slot_pool_reset();
  PartSlot* used = part_slot_alloc(nullptr);
  used->mesh = 9;
  used->colours.diffuse = 0;
  used->slot_flags = 0;
  static const Mat4 somewhere{};
  used->matrix = &somewhere;
  part_slot_free(used);
  PartSlot* again = part_slot_alloc(nullptr);
  ASSERT_EQ(again, used);
  EXPECT_EQ(again->mesh, 0u);
  EXPECT_EQ(again->colours.diffuse, 0xFFFFFFFFu);
  EXPECT_EQ(again->slot_flags, kPartSlotEnabled | kPartSlotAllPasses);
  EXPECT_EQ(again->matrix, nullptr);
  EXPECT_EQ(again->flags, 0x02C4009Eu);
  EXPECT_EQ(again->alpha, 1.0f);
}

TEST_F(ScenePools, ReleasedRecordsAreReusedFirstAndDoubleReleaseIsHarmless) {
  LightSphere* a = lightsphere_create(1, nullptr, 1, 0);
  lightsphere_create(1, nullptr, 1, 0);
  lightsphere_release(a);
  lightsphere_release(a);
  EXPECT_EQ(lightsphere_count(), 1);
  EXPECT_EQ(lightsphere_create(1, nullptr, 1, 0), a);

  BonePose* last = nullptr;
  BonePose* chain = bone_chain_alloc(3, &last);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(bone_chain_nth(chain, 2), last);
  EXPECT_EQ(bone_chain_nth(chain, 3), nullptr);
  chain->particle = anim_aux_alloc();
  EXPECT_EQ(anim_aux_count(), 1u);
  // Whatever a chain held, handed out again its records start over.
  for (BonePose* b = chain; b != nullptr; b = b->next) {
    std::memset(static_cast<void*>(&b->world), 0x3F, offsetof(BonePose, particle));
    b->parent = chain;
  }
  bone_chain_free(chain);
  EXPECT_EQ(bone_pose_count(), 0u);
  EXPECT_EQ(anim_aux_count(), 0u);
  EXPECT_EQ(bone_chain_alloc(3, nullptr), last);
  for (BonePose* b = last; b != nullptr; b = b->next) {
    for (const Mat4* m : {&b->world, &b->pose, &b->skin, &b->snapshot, &b->override_matrix}) {
      for (int i = 0; i < 16; ++i) EXPECT_EQ(m->m[i], i % 5 == 0 ? 1.0f : 0.0f);
    }
    EXPECT_TRUE(b->up.x == 0.0f && b->up.y == 0.0f && b->up.z == 0.0f);
    EXPECT_TRUE(b->target.x == 0.0f && b->target.y == 0.0f && b->target.z == 0.0f);
    EXPECT_EQ(b->weight, 0.0f);
    EXPECT_EQ(b->flags, 0u);
    EXPECT_EQ(b->track + b->mirror_track, 0);
    EXPECT_EQ(b->mesh_bone, kBoneNoTrack);
    EXPECT_EQ(b->name, nullptr);
    EXPECT_EQ(b->name_hash, 0u);
    EXPECT_EQ(b->particle, nullptr);
    EXPECT_EQ(b->parent, nullptr);
  }
  bone_chain_free(last);
  EXPECT_EQ(bone_chain_alloc(kBonePosePoolSize + 1, nullptr), nullptr);
  EXPECT_EQ(bone_pose_count(), 0u);

  // Released from the middle and the end, players come back one by one.
  MotionPlayer* three[3] = {motion_create(), motion_create(), motion_create()};
  motion_release(three[1]);
  motion_release(three[2]);
  EXPECT_EQ(motion_create(), three[2]);
  EXPECT_EQ(motion_create(), three[1]);
  MotionPlayer* fourth = motion_create();
  ASSERT_NE(fourth, nullptr);
  EXPECT_EQ(motion_player_count(), 4);
  anim_init();
  MotionPlayer* p = motion_create();
  EXPECT_EQ(p->speed, 0x10000u);
  EXPECT_EQ(p->loop_limit, 0xFFFFFFFFu);
  EXPECT_EQ(p->flags, kMotionLoop | kMotionRootNone);
  EXPECT_EQ(p->bone_tree + p->animation + p->time + p->start + p->loop_point + p->end + p->loops_done, 0u);
  EXPECT_EQ(p->fade_length + p->fade_left + p->root_rest, 0u);
  EXPECT_EQ(p->bones, nullptr);
  motion_release(p);
  motion_release(p);
  EXPECT_EQ(motion_player_count(), 0);
}

TEST_F(ScenePools, LightSpheresFollowTheTaskSystemsResetAndOwnerKill) {
  lightsphere_create(5, nullptr, 1, 0);
  lightsphere_create(6, nullptr, 1, 0);
  kill_owner(5);
  EXPECT_EQ(lightsphere_count(), 1);
  kill_owner(0);
  EXPECT_EQ(lightsphere_count(), 1);
  tasks_reset();
  EXPECT_EQ(lightsphere_count(), 0);
}

int finishes = 0;
int done_at_once(LightSphere*) { return 1; }
void count_finish(LightSphere*) { ++finishes; }

TEST_F(ScenePools, LightSphereFrameWalks) {
  finishes = 0;
  const Vec3 at{1, 2, 3};
  LightSphere* kept = lightsphere_create(9, &at, 2.5f, 0x80FF4020u);
  EXPECT_EQ(kept->flags, kLightSphereInUse | kLightSphereColoured);
  EXPECT_EQ(kept->owner, 9u);
  EXPECT_EQ(kept->centre.y, 2.0f);
  EXPECT_EQ(kept->centre.z, 3.0f);
  EXPECT_EQ(kept->radius, 2.5f);
  EXPECT_EQ(kept->parameter, 1.0f);
  EXPECT_EQ(kept->colour, 0x80FF4020u);
  EXPECT_EQ(kept->colour_float4[0], 0.0f) << "refreshed by the update pass only";
  LightSphere* done = lightsphere_create(1, nullptr, 1, 0);
  done->update = done_at_once;
  done->finish = count_finish;
  LightSphere* one_frame = lightsphere_create_one_frame(1, nullptr, 1, 0);
  EXPECT_EQ(one_frame->flags, kLightSphereInUse | kLightSphereColoured | kLightSphereReap);
  lightsphere_update_frame();
  EXPECT_EQ(finishes, 1);
  EXPECT_EQ(lightsphere_count(), 2);
  const float rgba[4] = {1.0f, 64.0f / 255.0f, 32.0f / 255.0f, 128.0f / 255.0f};
  for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(kept->colour_float4[c], rgba[c]) << c;
  lightsphere_reap();
  EXPECT_EQ(lightsphere_count(), 1);
  EXPECT_EQ(lightsphere_list()->used, kept);
}

// The update walk runs newest first: created c, b, a, the list is a, b, c.
// Each case's callback on `actor` releases `victim` or makes a new light.
LightSphere* victim_of_callback = nullptr;
int visits = 0;
int release_victim(LightSphere*) {
  ++visits;
  lightsphere_release(victim_of_callback);
  victim_of_callback = nullptr;
  return 0;
}
int create_another(LightSphere*) {
  ++visits;
  lightsphere_create(2, nullptr, 1, 0xFF00FF00u);
  return 0;
}
int count_visit(LightSphere*) {
  ++visits;
  return 0;
}

TEST_F(ScenePools, LightSphereUpdateVisitsEveryLiveLightOnce) {
  enum { kA, kB, kC, kNone };
  const struct {
    const char* what;
    int actor;
    int victim;  // kNone: the callback makes a new light instead
    int visits;  // callbacks run, the actor's included
    int count_after;
  } cases[] = {
      {"releases the next", kA, kB, 2, 2},
      {"releases the last", kA, kC, 1 + 1, 2},
      {"releases one already visited", kB, kA, 3, 2},
      {"releases itself", kB, kB, 3, 2},
      {"makes a new light", kA, kNone, 3, 4},
  };
  for (const auto& c : cases) {
    lightsphere_reset_pool();
    LightSphere* s[3];
    s[kC] = lightsphere_create(1, nullptr, 1, 0xFFFFFFFFu);
    s[kB] = lightsphere_create(1, nullptr, 1, 0xFFFFFFFFu);
    s[kA] = lightsphere_create(1, nullptr, 1, 0xFFFFFFFFu);
    for (LightSphere* l : s) l->update = count_visit;
    s[c.actor]->update = c.victim == kNone ? create_another : release_victim;
    victim_of_callback = c.victim == kNone ? nullptr : s[c.victim];
    visits = 0;
    lightsphere_update_frame();
    EXPECT_EQ(visits, c.visits) << c.what;
    EXPECT_EQ(lightsphere_count(), c.count_after) << c.what;
    // Every light still live got its colour this frame; the new one did not.
    for (const LightSphere* l = lightsphere_list()->used; l != nullptr; l = l->next) {
      const bool made_now = l->owner == 2;
      EXPECT_EQ(l->colour_float4[0], made_now ? 0.0f : 1.0f) << c.what;
      EXPECT_EQ(l->flags & kLightSpherePending, 0u) << c.what;
    }
  }
}

TEST_F(ScenePools, NearestLightsQueryTakesTheSmallestSumsAndAnInclusiveReach) {
  init_view_defaults();
  // View 1 is disabled: its planes are all zero, so every sphere is visible
  // there, and its stored eye is where the query measures from.
  const Vec3 eye = *get_camera_eye(1);
  const float xs[5] = {5, 1, 4, 2, 3};
  for (float x : xs) {
    const Vec3 c{eye.x + x, eye.y, eye.z};
    lightsphere_create(1, &c, 1.0f, 0);
  }
  lightsphere_cull_views();
  ASSERT_EQ(lightsphere_list()->visible_count[1], 5);
  LightSphere* out[5] = {};
  EXPECT_EQ(lightsphere_query_near(out, 3, 1, &eye, 10.0f), 3);
  EXPECT_FLOAT_EQ(out[0]->centre.x, eye.x + 1);
  EXPECT_FLOAT_EQ(out[1]->centre.x, eye.x + 2);
  EXPECT_FLOAT_EQ(out[2]->centre.x, eye.x + 3);
  // Reach: d^2 <= r^2 + R^2, inclusive. From q the spheres at +1 and +3 lie
  // at d^2 = 2 = 1 + 1.
  const Vec3 q{eye.x + 2, eye.y + 1, eye.z};
  LightSphere* near[5] = {};
  EXPECT_EQ(lightsphere_query_near(near, 5, 1, &q, 1.0f), 3);
  EXPECT_EQ(lightsphere_query_near(near, 5, 1, &q, 0.99f), 1);
}

TEST_F(ScenePools, LightSpheresAreCulledByTheViewsOwnPlanes) {
  init_view_defaults();
  set_view_enabled(0, 1);
  const Vec3 eye{0, 0, -10}, target{0, 0, 0}, up{0, 1, 0};
  set_camera_look_at(0, &eye, &target, &up);
  set_camera_fov(0, 1.57079633f);
  set_near_far(0, 1.0f, 200.0f, 200.0f);
  const Plane* planes = get_view_frustum_1(0);
  // Far to the left, with a radius that reaches exactly to the plane that
  // binds it and one a little short of it.
  const Vec3 left{-30, 0, 0};
  float touch = 0.0f;
  for (int k = 0; k < 6; ++k) touch = std::max(touch, -plane_dot_point(&planes[k], &left));
  ASSERT_GT(touch, 5.0f);
  const struct {
    const char* what;
    Vec3 centre;
    float radius;
    bool visible;
  } cases[] = {
      {"in front", {0, 0, 0}, 1.0f, true},
      {"behind the eye", {0, 0, -20}, 1.0f, false},
      {"beyond the far plane", {0, 0, 300}, 1.0f, false},
      {"touching a side plane", left, touch, true},
      {"just short of it", left, touch * 0.99f, false},
  };
  std::vector<LightSphere*> spheres;
  for (const auto& c : cases) spheres.push_back(lightsphere_create(1, &c.centre, c.radius, 0));
  lightsphere_cull_views();
  const LightSphereList* list = lightsphere_list();
  for (size_t i = 0; i < spheres.size(); ++i) {
    const LightSphere* const* begin = list->visible[0];
    const bool listed = std::find(begin, begin + list->visible_count[0], spheres[i]) != begin + list->visible_count[0];
    EXPECT_EQ(listed, cases[i].visible) << cases[i].what;
    if (cases[i].visible) {
      EXPECT_EQ(spheres[i]->radius_sq, cases[i].radius * cases[i].radius) << cases[i].what;
    }
  }
  // Two lights equally near the query point: the one nearer the eye first.
  lightsphere_reset_pool();
  const Vec3 behind{0, 0, 2}, before{0, 0, -2};
  LightSphere* near_one = lightsphere_create(1, &before, 1.0f, 0);
  LightSphere* far_one = lightsphere_create(1, &behind, 1.0f, 0);  // listed first
  lightsphere_cull_views();
  lightsphere_cull_views();  // a second cull lists them afresh, not twice
  EXPECT_EQ(lightsphere_list()->visible_count[0], 2);
  LightSphere* out[2] = {};
  EXPECT_EQ(lightsphere_query_near(out, 2, 0, &target, 5.0f), 2);
  EXPECT_EQ(out[0], near_one);
  EXPECT_EQ(out[1], far_one);
  EXPECT_EQ(lightsphere_query_near(out, 1, 0, &target, 5.0f), 1);
  EXPECT_EQ(out[0], near_one);
  EXPECT_EQ(lightsphere_query_near(out, 0, 0, &target, 5.0f), 0);
  // With none left the lists empty.
  lightsphere_reset_pool();
  lightsphere_create(1, &target, 1.0f, 0);
  lightsphere_cull_views();
  lightsphere_reset_pool();
  lightsphere_cull_views();
  EXPECT_EQ(lightsphere_list()->visible_count[0], 0);
  EXPECT_EQ(lightsphere_list()->visible_count[1], 0);
}

}  // namespace
