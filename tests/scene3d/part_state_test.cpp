#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "assets/asset_registry.h"
#include "assets/model_records.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"
#include "scene3d/animation.h"
#include "scene3d/coll_builder.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
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

TEST(RenderFlags, ColourChannelsAndShifts) {
  const uint32_t c = 0x80FF4020u;
  EXPECT_EQ(argb_float_red(c), 1.0f);
  EXPECT_FLOAT_EQ(argb_float_green(c), 64.0f / 255.0f);
  EXPECT_FLOAT_EQ(argb_float_blue(c), 32.0f / 255.0f);
  EXPECT_FLOAT_EQ(argb_float_alpha(c), 128.0f / 255.0f);
  const struct {
    uint32_t colour;
    int n;
    uint32_t want;
  } shifts[] = {{c, 0, c}, {c, 1, 0x807F2010u}, {c, 4, 0x800F0402u}, {0xFFFFFFFFu, 8, 0xFF000000u}};
  for (const auto& t : shifts) EXPECT_EQ(argb_shift_channels(t.colour, t.n), t.want) << t.n;
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

  // Between them the lists hold 4096 parts, the most a callback is handed.
  tasks.assign(4097, Task{});
  part_lists_begin(&lists);
  for (int k = 0; k < 4097; ++k) part_lists_add(&lists, &tasks[k], k % 3 == 0 ? 0u : kRenderFlagZWrite, true, 1);
  EXPECT_EQ(lists.state_count + lists.front_count + lists.back_count, 4096);
  EXPECT_EQ(part_lists_finish(&lists, true), 4096);
}

class PartApi : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {8, 1024, 1u << 16};
    init_asset_registry(c);
    tasks_init();
    for (int i = 0; i < 7; ++i) task_type_register(nullptr, nullptr, nullptr, nullptr, 16);
    register_part_classes();
    part_slot_pool_reset();
    anim_init();
    raycol_init();
  }
  void TearDown() override {
    part_render_clear_overrides();
    tasks_shutdown();
    anim_release();
    shutdown_asset_registry();
  }
};

Task* new_mesh_part() { return create_mesh_part_persistent(1, nullptr, 0, 30); }
Task* new_model_part() { return create_model_part(1, nullptr, 0, 30); }
Task* new_prim_part() { return create_prim_part_persistent(1, nullptr, nullptr, 0, 30); }
Task* new_static_part() { return create_static_part(1, nullptr, 30); }

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
  // Pairs without a model clear the LODs but leave the shading mode.
  const LodPair none[2] = {{0, 1.0f}, {0, 2.0f}};
  part_set_mode_and_params(t, 1, nullptr, 0);
  Task* model = new_model_part();
  model_part_set_mode_and_params(model, 1, nullptr, 0);
  mesh_part_set_lods(t, none);
  model_part_set_lods(model, none);
  EXPECT_EQ(part->mode, 1);
  EXPECT_EQ(task_data<ModelPart>(model)->mode, 1);
  EXPECT_EQ(mesh_part_lod0_model(t), 0u);
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

TEST_F(PartApi, BoundsAreTestedPlacedByTheirMatrix) {
  // |x| <= 1, |y| <= 1, |z| <= 5, normals pointing in.
  const Plane planes[6] = {{1, 0, 0, 1}, {-1, 0, 0, 1}, {0, 1, 0, 1}, {0, -1, 0, 1}, {0, 0, 1, 5}, {0, 0, -1, 5}};
  // A quarter about y (z turns to x), then moved up 0.5, or up 3.
  Mat4 turned, raised;
  mat4_identity(&turned);
  turned.m[0] = 0;
  turned.m[2] = -1;
  turned.m[8] = 1;
  turned.m[10] = 0;
  turned.m[13] = 0.5f;
  raised = turned;
  raised.m[13] = 3.0f;
  const struct {
    const char* what;
    const Mat4* matrix;
    Vec3 centre;
    float inner, outer;
    bool in;
  } cases[] = {
      {"as stored", nullptr, {0, 0, 3}, 0.1f, 0.0f, true},
      {"as stored, touching", nullptr, {1.5f, 0, 0}, 0.5f, 0.0f, true},
      {"as stored, outside", nullptr, {1.5f, 0, 0}, 0.49f, 9.0f, false},
      {"turned onto x", &turned, {0, 0, 3}, 0.1f, 9.0f, false},
      {"turned, reaching back", &turned, {0, 0, 3}, 2.0f, 9.0f, true},
      {"turned, still in", &turned, {0, 0, 0.5f}, 0.1f, 9.0f, true},
      // The part stands 2 above the box: its outer sphere must reach it.
      {"raised, outer sphere touching", &raised, {0, -3, 0}, 0.1f, 2.0f, true},
      {"raised, outer sphere short", &raised, {0, -3, 0}, 0.1f, 1.9f, false},
  };
  for (const auto& c : cases) {
    PartMesh bounds{};
    bounds.centre = c.centre;
    bounds.inner_radius = c.inner;
    bounds.outer_radius = c.outer;
    EXPECT_EQ(part_bounds_in_frustum(planes, c.matrix, &bounds), c.in) << c.what;
  }
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

// The flag families of the three classes with a RenderFlags word.
struct FlagFamily {
  const char* name;
  Task* (*create)();
  uint32_t* (*flags)(Task*);
  void (*bits[8])(Task*, uint32_t);    // bits 0 to 6, then 18
  void (*fields[6])(Task*, uint32_t);  // 7-11, 12-14, 19-21, 22-24, 25-26, 27-28
};

TEST_F(PartApi, EveryClassSetsOnlyItsOwnBitOrField) {
  const FlagFamily families[] = {
      {"mesh", new_mesh_part, [](Task* t) { return &task_data<MeshPart>(t)->flags; },
       {mesh_part_set_flag_0, mesh_part_set_flag_1, mesh_part_set_flag_2, mesh_part_set_flag_3, mesh_part_set_flag_4,
        mesh_part_set_flag_5, mesh_part_set_flag_6, mesh_part_set_flag_18},
       {mesh_part_set_flags_7_11, mesh_part_set_flags_12_14, mesh_part_set_flags_19_21, mesh_part_set_flags_22_24,
        mesh_part_set_flags_25_26, mesh_part_set_flags_27_28}},
      {"model", new_model_part, [](Task* t) { return &task_data<ModelPart>(t)->flags; },
       {model_part_set_flag_0, model_part_set_flag_1, model_part_set_flag_2, model_part_set_flag_3,
        model_part_set_flag_4, model_part_set_flag_5, model_part_set_flag_6, model_part_set_flag_18},
       {model_part_set_flags_7_11, model_part_set_flags_12_14, model_part_set_flags_19_21, model_part_set_flags_22_24,
        model_part_set_flags_25_26, model_part_set_flags_27_28}},
      {"prim", new_prim_part, [](Task* t) { return &task_data<PrimPart>(t)->flags; },
       {prim_part_set_flag_0, prim_part_set_flag_1, prim_part_set_flag_2, prim_part_set_flag_3, prim_part_set_flag_4,
        prim_part_set_flag_5, prim_part_set_flag_6, prim_part_set_flag_18},
       {prim_part_set_flags_7_11, prim_part_set_flags_12_14, prim_part_set_flags_19_21, prim_part_set_flags_22_24,
        prim_part_set_flags_25_26, prim_part_set_flags_27_28}},
  };
  const int bit_of[8] = {0, 1, 2, 3, 4, 5, 6, 18};
  const struct {
    int shift, width;
  } field_of[6] = {{7, 5}, {12, 3}, {19, 3}, {22, 3}, {25, 2}, {27, 2}};
  for (const FlagFamily& f : families) {
    Task* t = f.create();
    ASSERT_NE(t, nullptr) << f.name;
    uint32_t* flags = f.flags(t);
    // From all bits clear and all bits set, so that a setter reaching past
    // its own bits shows either way.
    for (const uint32_t start : {0u, 0xFFFFFFFFu}) {
    *flags = start;
    for (int k = 0; k < 8; ++k) {
      const uint32_t bit = 1u << bit_of[k];
      const uint32_t before = *flags;
      f.bits[k](t, 3);  // the lowest bit of the argument only
      EXPECT_EQ(*flags, before | bit) << f.name << " bit " << bit_of[k];
      f.bits[k](t, 2);
      EXPECT_EQ(*flags, before & ~bit) << f.name << " bit " << bit_of[k];
    }
    for (int k = 0; k < 6; ++k) {
      const uint32_t mask = ((1u << field_of[k].width) - 1u) << field_of[k].shift;
      const uint32_t before = *flags;
      f.fields[k](t, 0xFFFFFFFFu);
      EXPECT_EQ(*flags, before | mask) << f.name << " field at " << field_of[k].shift;
      f.fields[k](t, 1u << field_of[k].width);  // past the width: nothing of it stays
      EXPECT_EQ(*flags, before & ~mask) << f.name << " field at " << field_of[k].shift;
    }
    }
  }
}

// The colour, mode and matrix operations of all four classes, and where
// each class keeps what they set.
struct ColourFamily {
  const char* name;
  Task* (*create)();
  ColourBlock* (*block)(Task*);
  void (*all)(Task*, uint32_t, uint32_t, uint32_t, uint32_t, float, float);
  void (*ambient)(Task*, uint32_t);
  void (*diffuse)(Task*, uint32_t);
  void (*diffuse_2)(Task*, uint32_t);
  void (*emissive)(Task*, uint32_t);
  void (*specular)(Task*, uint32_t, float);
  void (*scale)(Task*, float);
  uint32_t (*diffuse_of)(Task*);
  Mat4* (*matrix)(Task*);
  void (*mode)(Task*, uint16_t, const void*, uint32_t);
  void (*reset_mode)(Task*);
  ColourBlock* (*record)(Task*) = nullptr;
  uint16_t (*is_default)(Task*) = nullptr;
  Mat4* (*world)(Task*) = nullptr;
  uint16_t (*mode_of)(Task*) = nullptr;
  const uint8_t* (*data_of)(Task*) = nullptr;
};

template <typename Part>
ColourFamily in_record(ColourFamily f) {
  f.record = [](Task* t) { return &task_data<Part>(t)->colours; };
  f.is_default = [](Task* t) { return task_data<Part>(t)->colour_is_default; };
  f.world = [](Task* t) { return &task_data<Part>(t)->world; };
  f.mode_of = [](Task* t) { return task_data<Part>(t)->mode; };
  f.data_of = [](Task* t) { return static_cast<const uint8_t*>(task_data<Part>(t)->shader_data); };
  return f;
}

bool same_colours(const ColourBlock& a, const ColourBlock& b) {
  return a.ambient == b.ambient && a.diffuse == b.diffuse && a.emissive == b.emissive && a.specular == b.specular &&
         a.power == b.power && a.scale == b.scale;
}

TEST_F(PartApi, EveryClassSetsItsColoursModesAndMatrix) {
  const ColourFamily families[] = {
      in_record<MeshPart>({"mesh", new_mesh_part, mesh_part_colour_block, mesh_part_set_colours, mesh_part_set_ambient,
                           mesh_part_set_diffuse, mesh_part_set_diffuse_2, mesh_part_set_emissive,
                           mesh_part_set_colour_c3_w, mesh_part_set_scale, mesh_part_diffuse, mesh_part_matrix,
                           part_set_mode_and_params, mesh_part_reset_mode}),
      in_record<ModelPart>({"model", new_model_part, model_part_colour_block, model_part_set_colours,
                            model_part_set_ambient, model_part_set_diffuse, model_part_set_diffuse_2,
                            model_part_set_emissive, model_part_set_colour_c3_w, model_part_set_scale,
                            model_part_diffuse, model_part_matrix, model_part_set_mode_and_params,
                            model_part_reset_mode}),
      in_record<StaticPart>({"static", new_static_part, static_part_colour_block, static_part_set_colours,
                             static_part_set_ambient, static_part_set_diffuse, static_part_set_diffuse_2,
                             static_part_set_emissive, static_part_set_colour_c3_w, static_part_set_scale,
                             static_part_diffuse, static_part_matrix, static_part_set_mode_and_params,
                             static_part_reset_mode}),
      in_record<PrimPart>({"prim", new_prim_part, prim_part_colour_block, prim_part_set_colours, prim_part_set_ambient,
                           prim_part_set_diffuse, prim_part_set_diffuse_2, prim_part_set_emissive,
                           prim_part_set_colour_c3_w, prim_part_set_scale, prim_part_diffuse, prim_part_matrix,
                           prim_part_set_mode_and_params, prim_part_reset_mode}),
  };
  const ColourBlock d = kDefaultColourBlock;
  uint8_t data[64];
  for (int k = 0; k < 64; ++k) data[k] = static_cast<uint8_t>(k + 1);
  for (const ColourFamily& f : families) {
    Task* t = f.create();
    ASSERT_NE(t, nullptr) << f.name;
    EXPECT_EQ(f.block(t), f.record(t)) << f.name;
    EXPECT_EQ(f.matrix(t), f.world(t)) << f.name;
    f.all(t, 0x01020304u, 0x05060708u, 0x090A0B0Cu, 0x0D0E0F10u, 2.5f, 3.5f);
    EXPECT_TRUE(same_colours(*f.record(t), {0x01020304u, 0x05060708u, 0x090A0B0Cu, 0x0D0E0F10u, 2.5f, 3.5f}))
        << f.name;
    EXPECT_EQ(f.is_default(t), 0) << f.name;
    EXPECT_EQ(f.diffuse_of(t), 0x05060708u) << f.name;
    const struct {
      const char* what;
      std::function<void(Task*)> set;
      ColourBlock want;
    } one_field[] = {
        {"ambient", [&](Task* p) { f.ambient(p, 0x11u); }, {0x11u, d.diffuse, 0, 0, 0.0f, 1.0f}},
        {"diffuse", [&](Task* p) { f.diffuse(p, 0x22u); }, {d.ambient, 0x22u, 0, 0, 0.0f, 1.0f}},
        {"second diffuse", [&](Task* p) { f.diffuse_2(p, 0x33u); }, {d.ambient, 0x33u, 0, 0, 0.0f, 1.0f}},
        {"emissive", [&](Task* p) { f.emissive(p, 0x44u); }, {d.ambient, d.diffuse, 0x44u, 0, 0.0f, 1.0f}},
        {"specular", [&](Task* p) { f.specular(p, 0x55u, 7.0f); }, {d.ambient, d.diffuse, 0, 0x55u, 7.0f, 1.0f}},
        {"scale", [&](Task* p) { f.scale(p, 0.5f); }, {d.ambient, d.diffuse, 0, 0, 0.0f, 0.5f}},
    };
    for (const auto& o : one_field) {
      f.all(t, d.ambient, d.diffuse, d.emissive, d.specular, d.power, d.scale);
      EXPECT_EQ(f.is_default(t), 1) << f.name << " " << o.what;
      o.set(t);
      EXPECT_TRUE(same_colours(*f.record(t), o.want)) << f.name << " " << o.what;
      EXPECT_EQ(f.is_default(t), 0) << f.name << " " << o.what;
    }
    f.scale(t, d.scale);
    EXPECT_EQ(f.is_default(t), 1) << f.name << ": back to the defaults";

    f.mode(t, 2, data, 64);
    EXPECT_EQ(f.mode_of(t), 2) << f.name;
    EXPECT_EQ(std::memcmp(f.data_of(t), data, 40), 0) << f.name;
    EXPECT_EQ(f.record(t)->ambient, d.ambient) << f.name << ": nothing past the 40 bytes";
    f.mode(t, 1, nullptr, 0);
    EXPECT_EQ(f.mode_of(t), 1) << f.name;
    EXPECT_EQ(f.data_of(t)[39], 40) << f.name;
    f.reset_mode(t);
    EXPECT_EQ(f.mode_of(t), 0) << f.name;
  }
}

TEST_F(PartApi, ModelPartModesReachItsSlotsAndTexturesTheirParts) {
  Task* model = new_model_part();
  ASSERT_NE(model, nullptr);
  model_part_set_slot_matrix(model, 2, 0, nullptr);
  model_part_set_slot_matrix(model, 19, 0, nullptr);
  ASSERT_NE(model_part_slot(model, 2), nullptr);
  uint8_t data[40];
  for (int k = 0; k < 40; ++k) data[k] = static_cast<uint8_t>(100 + k);
  model_part_set_mode_and_params(model, 2, data, sizeof data);
  for (int index : {2, 19}) {
    EXPECT_EQ(part_slot_mode(model, index), 2) << index;
    EXPECT_EQ(std::memcmp(part_slot_shader_data(model, index), data, 40), 0) << index;
  }
  // A slot's own mode, then the part's copied back into it.
  model_part_slot_set_mode_and_params(model, 2, 1, "xy", 2);
  EXPECT_EQ(part_slot_mode(model, 2), 1);
  EXPECT_EQ(std::memcmp(part_slot_shader_data(model, 2), "xy", 2), 0);
  EXPECT_EQ(static_cast<const uint8_t*>(part_slot_shader_data(model, 2))[2], 102);
  model_part_slot_copy_mode(model, 2);
  EXPECT_EQ(part_slot_mode(model, 2), 2);
  EXPECT_EQ(std::memcmp(part_slot_shader_data(model, 2), data, 40), 0);
  EXPECT_EQ(part_slot_mode(model, 3), 0);
  EXPECT_EQ(part_slot_shader_data(model, 3), nullptr);

  Task* mesh = new_mesh_part();
  Task* prim = new_prim_part();
  mesh_part_set_texture(mesh, 21);
  model_part_set_texture(model, 22);
  prim_part_set_texture(prim, 23);
  EXPECT_EQ(mesh_part_texture(mesh), 21u);
  EXPECT_EQ(model_part_texture(model), 22u);
  EXPECT_EQ(task_data<PrimPart>(prim)->default_texture, 23u);
  mesh_part_set_alpha(mesh, 0.25f);
  model_part_set_alpha(model, 0.5f);
  prim_part_set_alpha(prim, 0.75f);
  EXPECT_EQ(task_data<MeshPart>(mesh)->alpha, 0.25f);
  EXPECT_EQ(task_data<ModelPart>(model)->alpha, 0.5f);
  EXPECT_EQ(task_data<PrimPart>(prim)->alpha, 0.75f);
  model_part_set_pass_model(model, 31);
  EXPECT_EQ(task_data<ModelPart>(model)->pass_model, 31u);
  const LodPair pairs[2] = {{41, 9.0f}, {40, 1.0f}};
  model_part_set_lods(model, pairs);
  EXPECT_EQ(model_part_lod0_model(model), 40u);
  EXPECT_EQ(task_data<ModelPart>(model)->lods[1].model, 41u);
  model_part_set_model(model, 42);
  EXPECT_EQ(model_part_lod0_model(model), 42u);
  EXPECT_EQ(task_data<ModelPart>(model)->lods[1].model, 0u);
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
  c->user_a = c->user_b = 9;
  ASSERT_TRUE(mesh_part_attach_collision_sphere(t, nullptr, 3.0f, 5));
  EXPECT_EQ(mesh_part_collider(t), c);
  EXPECT_EQ(c->radius, 3.0f);
  EXPECT_EQ(c->category, 5u);
  EXPECT_EQ(c->flags & kColliderOffset, 0u);
  EXPECT_EQ(c->user_a + c->user_b, 0u);
  const uint32_t live = raycol_collider_count();
  mesh_part_detach_colliders(t);
  EXPECT_EQ(mesh_part_collider(t), nullptr);
  EXPECT_EQ(raycol_collider_count(), live - 1);
}

TEST_F(PartApi, ColliderHitsAreCountedAcrossTheChain) {
  // Two spheres on the part's chain, 5 and 20 along z; probes along z from
  // beside the origin hit the first, one from z = 10 the second.
  Task* t = new_mesh_part();
  ASSERT_NE(t, nullptr);
  const Vec3 near_offset{0, 0, 5}, far_offset{0, 0, 20};
  ASSERT_TRUE(mesh_part_attach_collision_sphere(t, &near_offset, 1.0f, 0));
  Collider* first = mesh_part_collider(t);
  first->chained = collider_create_sphere(&far_offset, 1.0f, mesh_part_matrix(t), 0, 2, 0, 0);
  ASSERT_NE(first->chained, nullptr);
  const Vec3 along{0, 0, 30};
  const Vec3 origins[3] = {{0, 0, 0}, {0.5f, 0, 0}, {0, 0, 10}};
  for (uintptr_t k = 0; k < 3; ++k) ray_probe_create(&origins[k], &along, 30, 100 + k, 0, kCategoryAll);
  raycol_update_frame();
  EXPECT_EQ(mesh_part_collider_count(t), 3u);
  // Each collider's probes newest first, the first collider's before the
  // second's.
  const struct {
    uint32_t n;
    bool found;
    uintptr_t probe;
  } hits[] = {{0, true, 101}, {1, true, 100}, {2, true, 102}, {3, false, 0}, {0xFFFFFFFFu, false, 0}};
  for (const auto& h : hits) {
    RayHit hit{};
    EXPECT_EQ(mesh_part_collider_hit(t, h.n, &hit), h.found) << h.n;
    if (h.found) {
      EXPECT_EQ(hit.user_a, h.probe) << h.n;
    }
  }
  EXPECT_TRUE(mesh_part_collider_hit(t, 2, nullptr));
  mesh_part_detach_colliders(t);
  EXPECT_EQ(raycol_collider_count(), 0u) << "the chained collider goes with the first";
}

TEST_F(PartApi, CollisionMeshCollidersStandOnTheGroundOnlyForStaticParts) {
  CollBuilder b;
  b.cells.push_back(floor_cell(0, 0, 0, 1, 1));
  const Blob blob = b.build("wall");
  const AssetHandle wall = register_collision("pk", "wall", blob.bytes.data(), blob.size());
  ASSERT_NE(wall, 0u);
  const struct {
    const char* what;
    Task* (*create)();
    bool (*attach)(Task*);
    Collider* (*chain)(Task*);
    uint16_t (*serial)(Task*);
    void (*flag_1)(Task*);
    void (*flag_2)(Task*);
    void (*detach)(Task*);
    bool mesh, ground;
  } cases[] = {
      {"mesh part, collision mesh", new_mesh_part,
       [](Task* t) { return mesh_part_attach_collision_mesh(t, find_collision("pk", "wall"), 4); },
       mesh_part_collider, mesh_part_collider_serial, mesh_part_collider_set_flag_1, mesh_part_collider_set_flag_2,
       mesh_part_detach_colliders, true, false},
      {"static part, collision mesh", new_static_part,
       [](Task* t) { return static_part_attach_collision_mesh(t, find_collision("pk", "wall"), 4); },
       static_part_collider, static_part_collider_serial, static_part_collider_set_flag_1,
       static_part_collider_set_flag_2, static_part_detach_colliders, true, true},
      {"primitive part, sphere", new_prim_part,
       [](Task* t) { return prim_part_attach_collision_sphere(t, nullptr, 1.0f, 4); }, prim_part_collider,
       prim_part_collider_serial, prim_part_collider_set_flag_1, prim_part_collider_set_flag_2,
       prim_part_detach_colliders, false, false},
  };
  for (const auto& c : cases) {
    Task* t = c.create();
    ASSERT_NE(t, nullptr) << c.what;
    EXPECT_EQ(c.serial(t), 0) << c.what;
    c.flag_2(t);  // nothing to act on yet
    ASSERT_TRUE(c.attach(t)) << c.what;
    Collider* col = c.chain(t);
    ASSERT_NE(col, nullptr) << c.what;
    EXPECT_EQ(col->model != nullptr, c.mesh) << c.what;
    EXPECT_EQ(col->category, 4u) << c.what;
    EXPECT_EQ((col->flags & kColliderGround) != 0, c.ground) << c.what;
    EXPECT_NE(col->flags & kColliderEnabled, 0u) << c.what;
    EXPECT_EQ(c.serial(t), col->serial) << c.what;
    EXPECT_NE(col->serial, 0) << c.what;
    col->flags &= ~kColliderEnabled;
    c.flag_2(t);
    EXPECT_EQ(col->flags & (kColliderEnabled | kColliderGround), kColliderGround) << c.what;
    c.flag_1(t);
    EXPECT_EQ(col->flags & (kColliderEnabled | kColliderGround), kColliderEnabled) << c.what;
    // A second attach re-uses the Collider.
    ASSERT_TRUE(c.attach(t)) << c.what;
    EXPECT_EQ(c.chain(t), col) << c.what;
    c.detach(t);
    EXPECT_EQ(c.chain(t), nullptr) << c.what;
  }
  EXPECT_EQ(raycol_collider_count(), 0u);
  EXPECT_FALSE(static_part_attach_collision_mesh(new_static_part(), 0x7FFF, 4));
}

TEST_F(PartApi, CollidersBySizeKeepTheirSizeUntilItCoversTooFewPixels) {
  const int layout[5] = {640, 480, 640, 480, 0};
  view_set_screen(640, 480, layout);
  init_view_defaults();
  const Vec3 zero{0, 0, 0};
  set_camera_position_angles(0, &zero, &zero);  // looking along +z
  CollBuilder b;
  b.cells.push_back(floor_cell(0, 0, 0, 1, 1));
  const Blob blob = b.build("wall");
  const AssetHandle wall = register_collision("pk", "wall", blob.bytes.data(), blob.size());
  ASSERT_NE(wall, 0u);
  Vec3 centre;
  float radius = 0;
  ASSERT_TRUE(collision_bounds(wall, &centre, &radius));
  const float t = 0.714f * radius;
  // At depth z the view is (|left| + |right|) z / near wide, so 16 of its 640
  // pixels take that width times 16 / 640.
  const Frustum f = *get_camera_frustum(0);
  const auto grown = [&](float z) { return (std::fabs(f.left) + std::fabs(f.right)) * z / f.near * 16.0f / 640.0f; };
  ASSERT_LT(grown(2.0f), 0.1f) << "near the camera 16 pixels take less than the mesh's own size";
  ASSERT_GT(grown(200.0f), 1.0f);

  const struct {
    const char* what;
    float z;
    bool by_mesh;  // mesh_part_attach_collider_by_size, else the sphere form with radius 0.25
    bool mesh;
    float sphere_radius;
  } cases[] = {
      {"mesh seen large enough", 2.0f, true, true, 0},
      {"mesh seen too small", 200.0f, true, false, grown(200.0f)},
      {"sphere seen large enough keeps its radius", 2.0f, false, false, 0.25f},
      {"sphere seen too small grows", 200.0f, false, false, grown(200.0f)},
  };
  for (const auto& c : cases) {
    Task* t_part = new_mesh_part();
    Mat4 at;
    mat4_identity(&at);
    at.m[14] = c.z;
    const Vec3 offset{0, 1, 0};
    ASSERT_TRUE(c.by_mesh ? mesh_part_attach_collider_by_size(t_part, 0, &at, wall, &offset, 16.0f, 4)
                          : mesh_part_attach_sphere_by_size(t_part, 0, &at, 0.25f, &offset, 16.0f, 4))
        << c.what;
    const Collider* col = mesh_part_collider(t_part);
    ASSERT_NE(col, nullptr) << c.what;
    EXPECT_EQ(col->model != nullptr, c.mesh) << c.what;
    EXPECT_EQ(col->category, 4u) << c.what;
    if (!c.mesh) {
      EXPECT_NEAR(col->radius, c.sphere_radius, 1e-4f) << c.what;
    }
    mesh_part_detach_colliders(t_part);
  }
  EXPECT_GT(t, 0.1f) << "the mesh's size covers 16 pixels at depth 2";
  Mat4 identity;
  mat4_identity(&identity);
  EXPECT_FALSE(mesh_part_attach_collider_by_size(new_mesh_part(), 0, &identity, 0x7FFF, nullptr, 16.0f, 4))
      << "a handle without a collision mesh";
}

}  // namespace
