// Presets, node lookup and model instancing over meshes on the engine's
// headless device.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "assets/asset_registry.h"
#include "assets/link_pool.h"
#include "assets/matrix_stack.h"
#include "assets/mdl_builder.h"
#include "assets/mesh_decoder.h"
#include "assets/mesh_records.h"
#include "assets/model_records.h"
#include "assets/presets.h"
#include "graphics_session.h"
#include "render/device/gfx_device.h"
#include "render/tasks/task.h"
#include "scene3d/instancing.h"
#include "scene3d/part_api.h"
#include "scene3d/part_records.h"
#include "scene3d/part_render.h"
#include "scene3d/ray_collision.h"

namespace {

TEST(InstancePatterns, MatchLikeTheNodeNamesNeed) {
  const struct {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"lamp#", "lamp1", true},  {"lamp#", "lamp12", true}, {"lamp#", "lamp", false}, {"lamp#", "lampA", false},
      {"rock*", "rocky", true},  {"rock*", "rock_01", true}, {"rock*", "rock", false}, {"a#b", "ab", true},
      {"a#b", "a12b", true},     {"a#", "a1b", false},       {"door", "door", true},   {"door", "doors", false},
      {"door", "doo", false},
  };
  for (const auto& c : cases) EXPECT_EQ(instance_pattern_matches(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(InstanceNames, SuffixesCutsAndTables) {
  EXPECT_TRUE(name_has_suffix("tree_nd", "_nd"));
  EXPECT_TRUE(name_has_suffix("a_b_nd", "_nd"));
  EXPECT_FALSE(name_has_suffix("tree_nd_x", "_nd"));
  EXPECT_FALSE(name_has_suffix("tree", "_nd"));
  EXPECT_EQ(cut_at_first_underscore("door_main_x"), "door");
  EXPECT_EQ(cut_at_last_underscore("door_main_x"), "door_main");
  EXPECT_EQ(cut_at_last_underscore("door"), "door");
  EXPECT_EQ(instance_layer(INSTANCE_LAYER_50 | INSTANCE_LAYER_51), kInstanceLayer50);
  EXPECT_EQ(instance_layer(INSTANCE_LAYER_51), kInstanceLayer51);
  EXPECT_EQ(instance_layer(0), kInstanceLayerDefault);

  const StageTablePair* row = stage_table_first_row();
  ASSERT_NE(stage_table_lookup(row, 32), nullptr);
  EXPECT_EQ(stage_table_lookup(row, 32), &row[5].value);
  EXPECT_EQ(*stage_table_lookup(row, 64), 0u);
  EXPECT_EQ(stage_table_lookup(row, 3), nullptr);

  ASSERT_EQ(model_preset_count(), 2);
  EXPECT_EQ(model_preset_at(2), nullptr);
  EXPECT_EQ(model_preset_at(-1), nullptr);
  const ModelPreset* t = find_model_preset("T");
  ASSERT_NE(t, nullptr);
  EXPECT_STREQ(t->animation_package, "Tme");
  EXPECT_EQ(t->colour, 0x00808080u);
  ASSERT_EQ(t->slot_count, 1);
  EXPECT_STREQ(t->slots[0].third, "Bd");
  EXPECT_EQ(t->slots[0].value, 30.0f);
  EXPECT_EQ(find_model_preset("x"), nullptr);
  EXPECT_STREQ(model_preset_at(0)->mesh, "mbody");
}

// A bone stream of nodes at depth 0, each after a translation along x.
Blob node_stream(const std::vector<std::pair<const char*, float>>& nodes) {
  Blob b;
  std::vector<std::pair<uint32_t, const char*>> names;
  for (const auto& [name, x] : nodes) {
    b.u32(2);
    for (int i = 0; i < 16; ++i) b.f32(i % 5 == 0 ? 1.0f : (i == 12 ? x : 0.0f));
    b.u32(1);
    names.emplace_back(b.u32(0), name);
    b.u32(0);
  }
  b.u32(5);
  for (const auto& [at, name] : names) b.set(at, b.str(name));
  return b;
}

class Instancing : public GraphicsSession {
 protected:
  void SetUp() override {
    start_device(32, 32, "instancing test");
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {24, 1024, 1u << 14};
    init_asset_registry(c);
    tasks_init();
    register_part_classes();
    raycol_init();
  }
  void TearDown() override {
    tasks_reset();
    shutdown_asset_registry();
    GraphicsSession::TearDown();
  }
  // A cube mesh whose bounding-sphere centre is (x, y, z) and fourth value w.
  AssetHandle mesh(const char* name, float x = 0, float y = 0, float z = 0, float w = 0) {
    MdlBuilder m = mdl_cube();
    m.materials.clear();
    m.sphere[0] = x;
    m.sphere[1] = y;
    m.sphere[2] = z;
    m.sphere[3] = w;
    const Blob b = m.build();
    DecodedMesh d{};
    EXPECT_TRUE(decode_mesh(&d, "pkg", b.view(), 0, 0));
    const AssetHandle h = register_mesh("pkg", name, d, 0);
    EXPECT_NE(h, 0u) << name;
    return h;
  }
};

TEST_F(Instancing, PrefixedFindsAndNodeLookups) {
  const AssetHandle rock = mesh("rock");
  EXPECT_EQ(find_mesh_prefixed("pkg", "rock", true), rock);
  const AssetHandle cm = mesh("CM_rock");
  EXPECT_EQ(find_mesh_prefixed("pkg", "rock", true), cm);
  EXPECT_EQ(find_mesh_prefixed("pkg", "rock", false), rock);

  const AssetHandle door = mesh("door_main");
  Vec3 at{};
  float value = 0;
  EXPECT_FALSE(find_tnd_node(door, &at));
  EXPECT_FALSE(find_swnod_node(door, &at, &value));
  mesh("door_tnd", 1, 2, 3);
  ASSERT_TRUE(find_tnd_node(door, &at));
  EXPECT_EQ(at.x, 1.0f);
  EXPECT_EQ(at.z, 3.0f);
  mesh("door_swnod", 4, 5, 6, 7);
  ASSERT_TRUE(find_swnod_node(door, &at, &value));
  EXPECT_EQ(at.y, 5.0f);
  EXPECT_EQ(value, 7.0f);

  // Without the node a pure translation.
  const Vec3 p{1, 0, 0};
  Mat4 m;
  EXPECT_FALSE(get_lnd_matrix(door, &m, &p, 0));
  Mat4 t;
  mat4_translation(&t, &p);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(m.m[k], t.m[k]);

  // With the node at (3, 4, 5): mode 0 is the look-at frame from p, rows
  // right, up, forward; mode 1 turns about the vertical only.
  mesh("door_lnd", 3, 4, 5);
  const float h = 0.70710678f, a = 0.23570226f, b = 0.94280904f, third = 1.0f / 3.0f;
  const struct {
    const char* what;
    int32_t mode;
    Vec3 p;
    float rows[3][3];
  } cases[] = {
      {"look along (2, 1, 2)", 0, {1, 3, 3}, {{h, 0, -h}, {-a, b, -a}, {2 * third, third, 2 * third}}},
      {"look straight up", 0, {3, -1, 5}, {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}}},
      {"look straight down", 0, {3, 9, 5}, {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}}},
      {"look from the node itself", 0, {3, 4, 5}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
      {"turn 45 degrees, pitch dropped", 1, {1, 3, 3}, {{h, 0, -h}, {0, 1, 0}, {h, 0, h}}},
      {"turn towards -x", 1, {5, 4, 5}, {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}},
      {"turn with the node straight above", 1, {3, -1, 5}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(get_lnd_matrix(door, &m, &c.p, c.mode));
    for (int r = 0; r < 3; ++r) {
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(m.m[r * 4 + k], c.rows[r][k], 1e-5f) << r << "," << k;
      EXPECT_EQ(m.m[r * 4 + 3], 0.0f);
    }
    EXPECT_EQ(m.m[12], c.p.x);
    EXPECT_EQ(m.m[13], c.p.y);
    EXPECT_EQ(m.m[14], c.p.z);
    EXPECT_EQ(m.m[15], 1.0f);
  }
}

TEST_F(Instancing, AnimationsOfTwoPackages) {
  ASSERT_NE(register_animation("a", "walk", animation_payload("walk", "hip", 2, 2).bytes.data(),
                               animation_payload("walk", "hip", 2, 2).size()),
            0u);
  ASSERT_NE(register_animation("b", "run", animation_payload("run", "hip", 2, 2).bytes.data(),
                               animation_payload("run", "hip", 2, 2).size()),
            0u);
  ASSERT_NE(register_animation("c", "sit", animation_payload("sit", "hip", 2, 2).bytes.data(),
                               animation_payload("sit", "hip", 2, 2).size()),
            0u);
  EXPECT_EQ(count_package_animations("a", "b"), 2);
  const char* package = nullptr;
  const char* name = nullptr;
  ASSERT_TRUE(nth_package_animation(&package, &name, "a", "b", 1));
  EXPECT_STREQ(package, "b");
  EXPECT_STREQ(name, "run");
  EXPECT_FALSE(nth_package_animation(&package, &name, "a", "b", 2));
  EXPECT_FALSE(nth_package_animation(&package, &name, "a", "b", -1));

  const AssetHandle door = mesh("door_main");
  EXPECT_EQ(find_pad_animation(door), 0u);
}

TEST_F(Instancing, StageAndModels) {
  mesh("house");
  mesh("lamp1");
  const Blob town = node_stream({{"house", 1.0f}, {"tree_nd", 2.0f}, {"lamp1", 4.0f}, {"bush", 8.0f}});
  ASSERT_NE(register_bone_tree("pkg", "town_s", town.bytes.data(), town.size()), 0u);

  init_stage_instances();
  ASSERT_NE(get_stage_owner(), 0u);
  // Static mode: house and lamp1 join the chain; tree_nd is skipped and
  // bush has no mesh.
  static int static_calls = 0;
  static_calls = 0;
  const InstancePattern table[] = {
      {"lamp#", nullptr, nullptr, nullptr,
       [](uint32_t* flags, AssetHandle, const char*) {
         ++static_calls;
         *flags |= 1u << 30;
       }},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  EXPECT_EQ(instantiate_stage("pkg", "town_day", table, 0), 0u);  // no town_wall
  const StageInstances* s = get_stage_instances();
  ASSERT_EQ(s->entry_count, 1);
  EXPECT_EQ(s->entries[0].part_count, 2);
  EXPECT_EQ(stage_part_count(INSTANCE_STATIC), 2);
  EXPECT_EQ(static_calls, 1);
  // One static part on the stage's owner draws the chain and owns it.
  Task* town_part = s->results[0];
  ASSERT_NE(town_part, nullptr);
  EXPECT_EQ(s->entries[0].chain, nullptr);
  const LinkNode* chain = task_data<StaticPart>(town_part)->nodes;
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(get_mesh_name(chain->mesh), std::string("house"));
  ASSERT_NE(chain->next, nullptr);
  EXPECT_EQ(chain->next->word & (1u << 30), 1u << 30);
  EXPECT_EQ(link_pool_in_use(), 2);

  // Per-node mode: house, a hidden tree_nd and lamp1, at their composed
  // positions.
  static std::vector<Task*> made;
  made.clear();
  const InstancePattern parts[] = {
      {"*", [](Task* part, AssetHandle, const char*) { made.push_back(part); }, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  const Blob wall = collision_payload("house");
  ASSERT_NE(register_collision("pkg", "house", wall.bytes.data(), wall.size()), 0u);
  const int32_t depth = matrix_stack_depth();
  EXPECT_EQ(instantiate_model("pkg", "town_s", parts, INSTANCE_LAYER_50 | INSTANCE_COLLISION, 0), nullptr);
  EXPECT_EQ(matrix_stack_depth(), depth);
  EXPECT_EQ(stage_part_count(INSTANCE_LAYER_50), 3);
  ASSERT_EQ(made.size(), 3u);
  EXPECT_EQ(made[0]->layer, kInstanceLayer50);
  EXPECT_NE(made[0]->flags & kTaskVisible, 0u);
  EXPECT_EQ(made[1]->flags & kTaskVisible, 0u);
  EXPECT_EQ(made[0]->owner, get_stage_owner());
  // Only house has a collision mesh of its name; it becomes ground.
  const Collider* wall_collider = mesh_part_collider(made[0]);
  ASSERT_NE(wall_collider, nullptr);
  EXPECT_NE(wall_collider->flags & kColliderGround, 0u);
  EXPECT_EQ(mesh_part_collider(made[2]), nullptr);

  // Sixteen entries at most.
  for (int i = 2; i < kStageInstanceEntries; ++i) instantiate_model("pkg", "town_s", nullptr, INSTANCE_STATIC, 0);
  EXPECT_EQ(s->entry_count, kStageInstanceEntries);
  EXPECT_EQ(instantiate_model("pkg", "town_s", nullptr, INSTANCE_STATIC, 0), nullptr);
  EXPECT_EQ(s->entry_count, kStageInstanceEntries);
  EXPECT_EQ(instantiate_model("pkg", "nothing", nullptr, 0, 0), nullptr);

  free_stage_instances();
  EXPECT_EQ(link_pool_in_use(), 0);
  EXPECT_EQ(get_stage_owner(), 0u);
}

}  // namespace
