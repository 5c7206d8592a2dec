#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "render/tasks/task.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_draw.h"
#include "scene3d/part_records.h"
#include "scene3d/part_render.h"
#include "scene3d/ray_collision.h"
#include "scene3d/render_flags.h"

namespace {

uint32_t float_word(float f) {
  uint32_t w;
  std::memcpy(&w, &f, sizeof(w));
  return w;
}

float word_float(uint32_t w) {
  float f;
  std::memcpy(&f, &w, sizeof(f));
  return f;
}

TEST(RenderFlags, DefaultsKeepTheSpareBitsAndNodeWordsMapOntoPartWords) {
  struct {
    uint32_t before, part, node;
  } cases[] = {
      {0, 0x02C4009Eu, 0x0058013Du},
      {0xFFFFFFFFu, 0xE2C4009Eu, 0xFC58013Du},
      {0xA0000000u, 0xA2C4009Eu, 0xA058013Du},
      {0x1FFFFFFFu, 0x02C4009Eu, 0x1C58013Du},  // node spare bits start at 26
  };
  for (const auto& c : cases) {
    uint32_t part = c.before, node = c.before;
    render_flags_default(&part);
    part_flags_default_into(&node);
    EXPECT_EQ(part, c.part) << std::hex << c.before;
    EXPECT_EQ(node, c.node) << std::hex << c.before;
  }
  // The node default is the part default without sphere culling.
  EXPECT_EQ(node_flags_as_render_flags(0x0058013Du), 0x02C4009Eu & ~kRenderFlagSphereCull);
  // Every field of a node lands on the same part field.
  const uint32_t node = 1u | 0xFEu | (31u << 8) | (7u << 13) | (7u << 16) | (7u << 19) | (3u << 22) | (3u << 24);
  const uint32_t part = node_flags_as_render_flags(node);
  EXPECT_EQ(part & 0x7Fu, 0x7Fu);
  EXPECT_EQ(render_flags_blend(part), 31u);
  EXPECT_EQ(render_flags_cull(part), 7u);
  EXPECT_EQ(render_flags_billboard(part), 0u);
  EXPECT_EQ(part & kRenderFlagSphereCull, 0u);
  EXPECT_EQ(render_flags_alpha_ref(part), 7u);
  EXPECT_EQ(render_flags_zfunc(part), 7u);
  EXPECT_EQ(render_flags_filter(part), 3u);
  EXPECT_EQ(render_flags_fill(part), 3u);
}

TEST(RenderFlags, StateKeyFields) {
  struct {
    uint32_t flags, tag, key;
  } cases[] = {
      {kRenderFlagLighting, 0, 1u << 0},
      {kRenderFlagFog, 0, 1u << 1},
      {31u << 7, 0, 31u << 2},
      {7u << 12, 0, 7u << 7},
      {7u << 19, 0, 7u << 10},
      {kRenderFlagZWrite, 0, 1u << 13},
      {7u << 22, 0, 7u << 14},
      {kRenderFlagLightSpheres, 0, 1u << 17},
      {0, 0x3FFFu, 0x3FFFu << 18},
      {0, 0x4001u, 1u << 18},  // only the low 14 bits of the tag
      // Billboard, sphere cull, filter, fill, pass bits and distance sort
      // do not split batches.
      {(7u << 15) | kRenderFlagSphereCull | (3u << 25) | (3u << 27) | 0x61u, 0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(part_state_key(c.flags, c.tag), c.key) << std::hex << c.flags;
}

// Sorting task pointers by their user word.
class PartSort : public ::testing::Test {
 protected:
  void fill(const std::vector<uint32_t>& keys) {
    tasks.assign(keys.size(), Task{});
    pointers.clear();
    for (size_t k = 0; k < keys.size(); ++k) {
      tasks[k].user = keys[k];
      pointers.push_back(&tasks[k]);
    }
  }
  std::vector<Task> tasks;
  std::vector<Task*> pointers;
};

std::vector<uint32_t> pattern(int kind, int n, std::mt19937* rng) {
  std::vector<uint32_t> v(n);
  for (int k = 0; k < n; ++k) {
    switch (kind) {
      case 0: v[k] = static_cast<uint32_t>(k); break;
      case 1: v[k] = static_cast<uint32_t>(n - k); break;
      case 2: v[k] = 7; break;
      case 3: v[k] = static_cast<uint32_t>(std::min(k, n - k)); break;
      default: v[k] = (*rng)() % 64; break;
    }
  }
  return v;
}

TEST_F(PartSort, EveryPatternAndCountSortsCompletelyBothWays) {
  std::mt19937 rng(5);
  const int counts[] = {0, 1, 2, 10, 11, 12, 13, 64, 100, 1000, 2000, 4095, 4096};
  for (int n : counts) {
    for (int kind = 0; kind < 5; ++kind) {
      const std::vector<uint32_t> keys = pattern(kind, n, &rng);
      fill(keys);
      part_sort_by_state_key(pointers.data(), n);
      for (int k = 1; k < n; ++k) ASSERT_GE(pointers[k - 1]->user, pointers[k]->user) << n << " " << kind;

      // Distances as floats: mesh parts farthest first, model parts nearest first.
      std::vector<uint32_t> distances;
      for (uint32_t key : keys) distances.push_back(float_word(static_cast<float>(key) * 0.5f));
      fill(distances);
      mesh_part_sort_by_distance(pointers.data(), n);
      for (int k = 1; k < n; ++k)
        ASSERT_GE(word_float(pointers[k - 1]->user), word_float(pointers[k]->user)) << n << " " << kind;
      model_part_sort_by_distance(pointers.data(), n);
      for (int k = 1; k < n; ++k)
        ASSERT_LE(word_float(pointers[k - 1]->user), word_float(pointers[k]->user)) << n << " " << kind;
    }
  }
}

TEST_F(PartSort, ShortArraysAreLeftOrSortedByInsertionAlone) {
  fill({3, 9});
  part_sort_by_state_key(pointers.data(), 0);
  part_sort_by_state_key(pointers.data(), 1);
  EXPECT_EQ(pointers[0]->user, 3u);
  EXPECT_EQ(pointers[1]->user, 9u);
  fill({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  part_sort_by_state_key(pointers.data(), 11);
  for (int k = 0; k < 11; ++k) EXPECT_EQ(pointers[k]->user, static_cast<uint32_t>(10 - k));
}

// The draw lists need tasks with flags; the users of the words are the
// classes, so plain tasks are enough.
TEST_F(PartSort, ListsMergeOpaqueThenDistanceSortedThenNonWriting) {
  struct Entry {
    uint32_t flags;
    float distance;
    uint32_t key;
  } entries[] = {
      {kRenderFlagZWrite, 1.0f, 5},                              // opaque, key 5
      {kRenderFlagZWrite | kRenderFlagDistanceSorted, 2.0f, 0},  // front
      {kRenderFlagDistanceSorted, 3.0f, 0},                      // no z write: back, bit 0 ignored
      {kRenderFlagZWrite, 4.0f, 9},                              // opaque, key 9
      {0, 9.0f, 0},                                              // back
      {kRenderFlagZWrite | kRenderFlagDistanceSorted, 8.0f, 0},  // front
  };
  tasks.assign(6, Task{});
  PartLists lists;
  part_lists_begin(&lists);
  for (int k = 0; k < 6; ++k) {
    tasks[k].user = float_word(entries[k].distance);
    part_lists_add(&lists, &tasks[k], entries[k].flags, true, entries[k].key);
  }
  EXPECT_EQ(lists.state_count, 2);
  EXPECT_EQ(lists.front_count, 2);
  EXPECT_EQ(lists.back_count, 2);
  ASSERT_EQ(part_lists_finish(&lists, true), 6);
  Task** order = part_sort_scratch();
  const int want[] = {3, 0, 5, 1, 4, 2};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(order[k], &tasks[want[k]]) << k;
  // The opaque parts carry their state keys; the others their distances.
  EXPECT_EQ(tasks[3].user, 9u);
  EXPECT_EQ(word_float(tasks[5].user), 8.0f);

  // Model and primitive parts: the opaque list by distance, nearest first.
  for (int k = 0; k < 6; ++k) tasks[k].user = float_word(entries[k].distance);
  part_lists_begin(&lists);
  for (int k = 0; k < 6; ++k) part_lists_add(&lists, &tasks[k], entries[k].flags, false, 0);
  ASSERT_EQ(part_lists_finish(&lists, false), 6);
  EXPECT_EQ(order[0], &tasks[0]);
  EXPECT_EQ(order[1], &tasks[3]);
}

class PartApi : public ::testing::Test {
 protected:
  void SetUp() override {
    tasks_init();
    for (int i = 0; i < 7; ++i) task_type_register(nullptr, nullptr, nullptr, nullptr, 16);
    register_part_classes();
    part_slot_pool_reset();
    raycol_init();
  }
  void TearDown() override {
    part_render_clear_overrides();
    tasks_shutdown();
  }
};

TEST_F(PartApi, OverridesInForce) {
  struct {
    int index;
    int32_t value;
    bool in_force;
  } cases[] = {
      {0, -1, false}, {0, 0, true}, {0, 2, true}, {1, -1, false}, {1, 0, true},  {1, 1, true},
      {2, 0, false},  {2, 1, true}, {4, 0, false}, {4, 1, true},  {5, 2, false}, {5, 1, true},
      {6, 0, false},  {6, 1, true},
  };
  PartRenderBlock* (*setters[])(int32_t) = {part_render_set_override_0, part_render_set_override_1,
                                           part_render_set_override_2, part_render_set_override_3,
                                           part_render_set_override_4, part_render_set_override_5,
                                           part_render_set_override_6};
  for (const auto& c : cases) {
    part_render_clear_overrides();
    setters[c.index](c.value);
    const PartPassFlags f = part_pass_flags();
    const bool got[] = {f.cull_override, f.fog_override, f.alpha_override, false, f.single_stage, f.light_view,
                        f.mirror};
    EXPECT_EQ(got[c.index], c.in_force) << c.index << " = " << c.value;
  }
}

TEST_F(PartApi, LodChoice) {
  Task* t = create_mesh_part_persistent(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  MeshPart* part = task_data<MeshPart>(t);
  const LodPair pairs[2] = {{20, 100.0f}, {10, 0.0f}};
  mesh_part_set_lods(t, pairs);
  EXPECT_EQ(part->lods[0].model, 10u);  // sorted by distance
  struct {
    float distance_sq;
    bool pass;
    uint32_t model;
  } cases[] = {{0.0f, false, 10}, {99.0f, false, 10}, {100.0f, false, 20}, {1e9f, false, 20}};
  for (const auto& c : cases) EXPECT_EQ(mesh_part_choose_model(part, c.distance_sq, c.pass), c.model);

  const LodPair only_b[2] = {{0, 5.0f}, {30, 1.0f}};
  mesh_part_set_lods(t, only_b);
  EXPECT_EQ(part->lods[0].model, 30u);
  EXPECT_EQ(part->lods[1].model, 0u);
  EXPECT_EQ(mesh_part_choose_model(part, 0.5f, false), 0u);
  EXPECT_EQ(mesh_part_choose_model(part, 1.0f, false), 30u);

  mesh_part_set_pass_model(t, 40);
  EXPECT_EQ(mesh_part_choose_model(part, 0.5f, true), 40u);
  EXPECT_EQ(mesh_part_choose_model(part, 0.5f, false), 0u);
  mesh_part_set_lods(t, nullptr);
  EXPECT_EQ(mesh_part_lod0_model(t), 30u);
  mesh_part_set_model(t, 50);
  EXPECT_EQ(mesh_part_lod0_model(t), 50u);
  EXPECT_EQ(part->lods[1].model, 0u);
}

TEST_F(PartApi, SpheresTouchingAPlaneFromOutsideAreIn) {
  // A box of planes with normals pointing in, |x|, |y|, |z| <= 1.
  const Plane planes[6] = {{1, 0, 0, 1}, {-1, 0, 0, 1}, {0, 1, 0, 1}, {0, -1, 0, 1}, {0, 0, 1, 1}, {0, 0, -1, 1}};
  struct {
    Vec3 centre;
    float radius;
    bool in;
  } cases[] = {{{0, 0, 0}, 0.0f, true},  {{2, 0, 0}, 1.0f, true},   {{2, 0, 0}, 0.99f, false},
               {{0, -3, 0}, 2.0f, true}, {{0, 0, 3.5f}, 2.0f, false}};
  for (const auto& c : cases) EXPECT_EQ(part_sphere_in_frustum(planes, &c.centre, c.radius), c.in);
}

TEST_F(PartApi, FlagAndFieldSettersStoreOnlyTheirWidth) {
  Task* t = create_mesh_part_persistent(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  uint32_t& flags = task_data<MeshPart>(t)->flags;
  struct {
    void (*set)(Task*, uint32_t);
    uint32_t value;
    uint32_t mask;
    uint32_t want;
  } cases[] = {
      {mesh_part_set_flag_0, 3, 1u << 0, 1u << 0},          {mesh_part_set_flag_1, 2, 1u << 1, 0},
      {mesh_part_set_flag_6, 0xFF, 1u << 6, 1u << 6},       {mesh_part_set_flag_18, 0, 1u << 18, 0},
      {mesh_part_set_flags_7_11, 0x3F, 31u << 7, 31u << 7}, {mesh_part_set_flags_12_14, 9, 7u << 12, 1u << 12},
      {mesh_part_set_flags_15_17, 2, 7u << 15, 2u << 15},   {mesh_part_set_flags_19_21, 4, 7u << 19, 4u << 19},
      {mesh_part_set_flags_22_24, 8, 7u << 22, 0},          {mesh_part_set_flags_25_26, 7, 3u << 25, 3u << 25},
      {mesh_part_set_flags_27_28, 1, 3u << 27, 1u << 27},
  };
  for (const auto& c : cases) {
    const uint32_t before = flags;
    c.set(t, c.value);
    EXPECT_EQ(flags & c.mask, c.want) << std::hex << c.mask;
    EXPECT_EQ(flags & ~c.mask, before & ~c.mask) << "other bits kept, " << std::hex << c.mask;
  }
}

TEST_F(PartApi, ColourSettersKeepTheDefaultFlagAndModesCopyAtMost40Bytes) {
  Task* t = create_mesh_part_persistent(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  MeshPart* part = task_data<MeshPart>(t);
  EXPECT_EQ(part->colour_is_default, 1);
  mesh_part_set_diffuse(t, 0xFF00FF00u);
  EXPECT_EQ(part->colour_is_default, 0);
  EXPECT_EQ(mesh_part_diffuse(t), 0xFF00FF00u);
  mesh_part_set_diffuse_2(t, 0xFFFFFFFFu);
  EXPECT_EQ(part->colour_is_default, 1);
  mesh_part_set_colour_c3_w(t, 0, 0.5f);
  EXPECT_EQ(part->colour_is_default, 0);
  mesh_part_set_colours(t, 0x00FFFFFFu, 0xFFFFFFFFu, 0, 0, 0.0f, 1.0f);
  EXPECT_EQ(part->colour_is_default, 1);
  mesh_part_set_scale(t, 2.0f);
  EXPECT_EQ(mesh_part_colour_block(t)->scale, 2.0f);
  EXPECT_EQ(part->colour_is_default, 0);

  uint8_t data[64];
  for (int k = 0; k < 64; ++k) data[k] = static_cast<uint8_t>(k + 1);
  part_set_mode_and_params(t, 2, data, 64);
  EXPECT_EQ(part->mode, 2);
  EXPECT_EQ(std::memcmp(part->shader_data, data, 40), 0);
  EXPECT_EQ(part->colours.ambient, 0x00FFFFFFu) << "the colours behind the data are untouched";
  part_set_mode_and_params(t, 1, nullptr, 0);
  EXPECT_EQ(part->mode, 1);
  EXPECT_EQ(part->shader_data[0], 1);
  mesh_part_reset_mode(t);
  EXPECT_EQ(part->mode, 0);  // no mesh has a normal map here
}

TEST_F(PartApi, TypeTestsAndCreators) {
  Task* mesh = create_mesh_part(1, nullptr, 7, 30);
  ASSERT_NE(mesh, nullptr);
  EXPECT_TRUE(task_is_mesh_part(mesh));
  EXPECT_FALSE(task_is_model_part(mesh));
  EXPECT_FALSE(task_is_prim_part(mesh));
  EXPECT_FALSE(task_is_static_part(mesh));
  EXPECT_EQ(mesh->layer, 30);
  EXPECT_EQ(mesh->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame);
  EXPECT_EQ(mesh_part_lod0_model(mesh), 7u);
  Mat4 m;
  mat4_identity(&m);
  m.m[12] = 5.0f;
  Task* kept = create_mesh_part_persistent(1, &m, 7, 12);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->flags & kTaskLifetimeMask, 0u);
  EXPECT_EQ(mesh_part_matrix(kept)->m[12], 5.0f);
  EXPECT_EQ(model_part_type_id(), 9u);
  EXPECT_EQ(prim_part_type_id(), 8u);
  EXPECT_EQ(static_part_type_id(), 11u);
  EXPECT_FALSE(task_is_mesh_part(nullptr));
}

TEST_F(PartApi, ColliderChains) {
  Task* t = create_mesh_part_persistent(1, nullptr, 0, 30);
  ASSERT_NE(t, nullptr);
  // Nothing to act on without a chain.
  mesh_part_collider_set_flag_1(t);
  EXPECT_EQ(mesh_part_collider_serial(t), 0);
  EXPECT_EQ(mesh_part_collider_count(t), 0u);
  EXPECT_FALSE(mesh_part_collider_hit(t, 0, nullptr));
  EXPECT_FALSE(mesh_part_attach_collision_mesh(t, 0, kCategoryAll));
  EXPECT_EQ(mesh_part_collider(t), nullptr);

  const Vec3 offset{0, 1, 0};
  ASSERT_TRUE(mesh_part_attach_collision_sphere(t, &offset, 2.0f, 4));
  Collider* c = mesh_part_collider(t);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->owner, mesh_part_matrix(t)) << "moves with the part";
  EXPECT_EQ(c->flags & kColliderGround, 0u);
  EXPECT_NE(mesh_part_collider_serial(t), 0);
  mesh_part_collider_set_flag_2(t);
  EXPECT_NE(c->flags & kColliderGround, 0u);
  mesh_part_collider_set_flag_1(t);
  EXPECT_EQ(c->flags & kColliderGround, 0u);
  EXPECT_NE(c->flags & kColliderEnabled, 0u);
  // A second attach re-shapes the same Collider.
  ASSERT_TRUE(mesh_part_attach_collision_sphere(t, nullptr, 3.0f, 4));
  EXPECT_EQ(mesh_part_collider(t), c);
  EXPECT_EQ(c->radius, 3.0f);
  const uint32_t live = raycol_collider_count();
  mesh_part_detach_colliders(t);
  EXPECT_EQ(mesh_part_collider(t), nullptr);
  EXPECT_EQ(raycol_collider_count(), live - 1);
}

}  // namespace
