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
#include "scene3d/coll_builder.h"
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
      {"door", "doo", false},    {"a#b", "a12", false},      {"a#b", "a", false},      {"#", "7", true},
      {"#", "", false},          {"l#m#", "l1m23", true},    {"l#m#", "l1m", false},   {"lamp#x", "lamp12x", true},
      {"lamp#x", "lamp12y", false}, {"*", "x", true},        {"*", "", false},         {"", "", true},
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
  EXPECT_EQ(instance_layer(0x42), 50);
  EXPECT_EQ(instance_layer(0x40), 51);
  EXPECT_EQ(instance_layer(0x1BD), 53);

  const StageTablePair* row = stage_table_first_row();
  ASSERT_NE(stage_table_lookup(row, 32), nullptr);
  EXPECT_EQ(stage_table_lookup(row, 32), &row[5].value);
  EXPECT_EQ(*stage_table_lookup(row, 64), 0u);
  EXPECT_EQ(stage_table_lookup(row, 3), nullptr);

  ASSERT_EQ(model_preset_count(), 2);
  EXPECT_EQ(model_preset_at(2), nullptr);
  EXPECT_EQ(model_preset_at(-1), nullptr);
  const struct {
    const char *name, *package, *animation_package, *mesh, *bone_tree;
    uint32_t colour;
    float value;
    int32_t slots;
  } presets[] = {{"mo", "mo", "mime", "mbody", "By", 0xFFFFFFFFu, 10.0f, 0},
                 {"T", "T", "Tme", "Tdy", "B1", 0x00808080u, 10.0f, 1}};
  for (int32_t i = 0; i < 2; ++i) {
    const ModelPreset* p = model_preset_at(i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(find_model_preset(presets[i].name), p);
    EXPECT_STREQ(p->package, presets[i].package);
    EXPECT_STREQ(p->animation_package, presets[i].animation_package);
    EXPECT_STREQ(p->mesh, presets[i].mesh);
    EXPECT_STREQ(p->bone_tree, presets[i].bone_tree);
    EXPECT_EQ(p->colour, presets[i].colour);
    EXPECT_EQ(p->value, presets[i].value);
    EXPECT_EQ(p->slot_count, presets[i].slots);
  }
  const ModelPresetSlot& slot = find_model_preset("T")->slots[0];
  EXPECT_STREQ(slot.package, "T");
  EXPECT_STREQ(slot.mesh, "s0");
  EXPECT_STREQ(slot.third, "Bd");
  EXPECT_EQ(slot.colour, 0x00FFFFFFu);
  EXPECT_EQ(slot.value, 30.0f);
  const uint32_t slot_flags[4] = {0, 1, 0, 1};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(slot.flags[k], slot_flags[k]) << k;
  EXPECT_EQ(find_model_preset("x"), nullptr);
  EXPECT_EQ(find_model_preset(nullptr), nullptr);
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

// A ray straight down onto the unit floor cell at the origin.
constexpr Vec3 kAbove{0.5f, 1.0f, 0.25f};
constexpr Vec3 kDown{0.0f, -2.0f, 0.0f};

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
  EXPECT_EQ(find_mesh_prefixed("other", "rock", true), 0u);
  const Blob wall = collision_payload("x");
  const AssetHandle plain = register_collision("pkg", "wall", wall.bytes.data(), wall.size());
  ASSERT_NE(plain, 0u);
  EXPECT_EQ(find_collision_prefixed("pkg", "wall", true), plain);
  const AssetHandle prefixed = register_collision("pkg", "CM_wall", wall.bytes.data(), wall.size());
  ASSERT_NE(prefixed, 0u);
  EXPECT_EQ(find_collision_prefixed("pkg", "wall", true), prefixed);
  EXPECT_EQ(find_collision_prefixed("pkg", "wall", false), plain);
  EXPECT_EQ(find_collision_prefixed("pkg", "CM_wall", false), prefixed);

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
  EXPECT_EQ(count_package_animations("c", "x"), 1);
  const char* package = nullptr;
  const char* name = nullptr;
  ASSERT_TRUE(nth_package_animation(&package, &name, "a", "b", 0));
  EXPECT_STREQ(package, "a");
  EXPECT_STREQ(name, "walk");
  ASSERT_TRUE(nth_package_animation(&package, &name, "a", "b", 1));
  EXPECT_STREQ(package, "b");
  EXPECT_STREQ(name, "run");
  EXPECT_FALSE(nth_package_animation(&package, &name, "a", "b", 2));
  EXPECT_FALSE(nth_package_animation(&package, &name, "a", "b", -1));
  // With both packages the same, the second one given is handed back.
  const char first[] = "c", second[] = "c";
  ASSERT_TRUE(nth_package_animation(&package, &name, first, second, 0));
  EXPECT_EQ(package, second);
  EXPECT_STREQ(name, "sit");

  const AssetHandle door = mesh("door_main");
  EXPECT_EQ(find_pad_animation(door), 0u);
  const Blob pad = animation_payload("door_pad", "hip", 2, 2);
  const AssetHandle elsewhere = register_animation("c", "door_pad", pad.bytes.data(), pad.size());
  ASSERT_NE(elsewhere, 0u);
  EXPECT_EQ(find_pad_animation(door), 0u);  // only in the mesh's own package
  const AssetHandle own = register_animation("pkg", "door_pad", pad.bytes.data(), pad.size());
  ASSERT_NE(own, 0u);
  EXPECT_EQ(find_pad_animation(door), own);
  EXPECT_EQ(find_pad_animation(0), 0u);
}

// What the instance flags and the "_ad" suffix make of a node, as a mesh
// part (its RenderFlags word and layer) and as a static node (its NodeFlags
// word), over the defaults 0x02C4009E and 0x0058013D.
TEST_F(Instancing, InstanceFlagTable) {
  mesh("post");
  mesh("post_ad");
  const Blob model = node_stream({{"post", 1.0f}, {"post_ad", 2.0f}});
  ASSERT_NE(register_bone_tree("pkg", "m", model.bytes.data(), model.size()), 0u);
  static std::vector<Task*> parts;
  static std::vector<uint32_t> words;
  const InstancePattern table[] = {
      {"*", [](Task* part, AssetHandle, const char*) { parts.push_back(part); }, nullptr, nullptr,
       [](uint32_t* word, AssetHandle, const char*) { words.push_back(*word); }},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  const struct {
    const char* what;
    uint32_t flags;
    uint8_t layer;
    uint32_t mesh_flags, mesh_flags_ad;
    uint32_t node_flags, node_flags_ad;
  } cases[] = {
      {"none: alpha reference 2", 0, 53, 0x02D4009Eu, 0x02D4011Eu, 0x005A013Du, 0x005A023Du},
      {"layer 50: sorted, no z writes", 0x2, 50, 0x02C40097u, 0x02C40117u, 0x0058012Fu, 0x0058022Fu},
      {"layer 51: sorted, alpha reference 3", 0x40, 51, 0x02DC009Fu, 0x02DC011Fu, 0x005B013Fu, 0x005B023Fu},
      {"layer 50 wins over 51", 0x42, 50, 0x02C40097u, 0x02C40117u, 0x0058012Fu, 0x0058022Fu},
      {"billboard field 1", 0x4, 53, 0x02D4809Eu, 0x02D4811Eu, 0x005A013Du, 0x005A023Du},
      {"cull field 2", 0x8, 53, 0x02D4209Eu, 0x02D4211Eu, 0x005A413Du, 0x005A423Du},
      {"without lighting and fog: the defaults stay", 0x30, 53, 0x02D4009Eu, 0x02D4011Eu, 0x005A013Du, 0x005A023Du},
      {"light-view and mirror passes", 0x100, 53, 0x02D400FEu, 0x02D4017Eu, 0x005A01FDu, 0x005A02FDu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    init_stage_instances();
    parts.clear();
    words.clear();
    EXPECT_EQ(instantiate_model("pkg", "m", table, c.flags, 0), nullptr);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0]->layer, c.layer);
    EXPECT_EQ(task_data<MeshPart>(parts[0])->flags, c.mesh_flags);
    EXPECT_EQ(task_data<MeshPart>(parts[1])->flags, c.mesh_flags_ad);
    Task* part = instantiate_model("pkg", "m", table, c.flags | INSTANCE_STATIC, 0);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->layer, c.layer);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[0], c.node_flags);
    EXPECT_EQ(words[1], c.node_flags_ad);
    const LinkNode* chain = task_data<StaticPart>(part)->nodes;
    ASSERT_NE(chain, nullptr);
    ASSERT_NE(chain->next, nullptr);
    EXPECT_EQ(chain->word, c.node_flags);
    EXPECT_EQ(chain->next->word, c.node_flags_ad);
    EXPECT_EQ(task_data<StaticPart>(part)->colliders, nullptr);
    free_stage_instances();
  }
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
  EXPECT_FALSE(stage_ray_cast(&kAbove, &kDown, nullptr, nullptr, nullptr));
  const StageInstances* s = get_stage_instances();
  ASSERT_EQ(s->entry_count, 1);
  EXPECT_EQ(s->entries[0].part_count, 2);
  EXPECT_EQ(stage_part_count(INSTANCE_STATIC), 2);
  EXPECT_EQ(stage_part_count(0x6), 0);
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
  EXPECT_EQ(made[0]->layer, 50);
  EXPECT_NE(made[0]->flags & kTaskVisible, 0u);
  EXPECT_EQ(made[1]->flags & kTaskVisible, 0u);
  EXPECT_EQ(made[0]->owner, get_stage_owner());
  // Each node's matrix composes onto those before it: x = 1, 1 + 2, 1 + 2 + 4.
  const float xs[] = {1.0f, 3.0f, 7.0f};
  for (size_t i = 0; i < 3; ++i) {
    const Mat4& w = task_data<MeshPart>(made[i])->world;
    for (int k = 0; k < 16; ++k) EXPECT_EQ(w.m[k], k == 12 ? xs[i] : (k % 5 == 0 ? 1.0f : 0.0f)) << i << " " << k;
  }
  // Only house has a collision mesh of its name; it becomes ground.
  const Collider* wall_collider = mesh_part_collider(made[0]);
  ASSERT_NE(wall_collider, nullptr);
  EXPECT_NE(wall_collider->flags & kColliderGround, 0u);
  EXPECT_EQ(mesh_part_collider(made[2]), nullptr);

  // Sixteen entries at most.
  for (int i = 2; i < 16; ++i) instantiate_model("pkg", "town_s", nullptr, INSTANCE_STATIC, 0);
  EXPECT_EQ(s->entry_count, 16);
  EXPECT_EQ(instantiate_model("pkg", "town_s", nullptr, INSTANCE_STATIC, 0), nullptr);
  EXPECT_EQ(s->entry_count, 16);
  EXPECT_EQ(instantiate_model("pkg", "nothing", nullptr, 0, 0), nullptr);

  free_stage_instances();
  EXPECT_EQ(link_pool_in_use(), 0);
  EXPECT_EQ(get_stage_owner(), 0u);

  // A stage with its wall and a collision mesh of its model: the static part
  // stands on the model's collision mesh, and rays meet the wall.
  CollBuilder floor;
  floor.cells.push_back(floor_cell(0, 0, 0.0f, 1.0f, 7));
  const Blob ground = floor.build("town_wall");
  const AssetHandle wall_handle = register_collision("pkg", "town_wall", ground.bytes.data(), ground.size());
  ASSERT_NE(wall_handle, 0u);
  const AssetHandle model_collision = register_collision("pkg", "town_s", ground.bytes.data(), ground.size());
  ASSERT_NE(model_collision, 0u);
  init_stage_instances();
  EXPECT_EQ(instantiate_stage("pkg", "town_night", table, 9), wall_handle);
  Task* stage_part = find_stage_instance("_s");
  ASSERT_NE(stage_part, nullptr);
  EXPECT_EQ(stage_part, get_stage_instances()->results[0]);
  EXPECT_EQ(find_stage_instance("_x"), nullptr);
  EXPECT_EQ(stage_part->layer, 53);
  const Collider* stands_on = task_data<StaticPart>(stage_part)->colliders;
  ASSERT_NE(stands_on, nullptr);
  EXPECT_EQ(stands_on->model, get_collision_record(model_collision));
  EXPECT_EQ(stands_on->category, 9u);
  Vec3 point{}, normal{};
  uint32_t attribute = 0;
  ASSERT_TRUE(stage_ray_cast(&kAbove, &kDown, &point, &normal, &attribute));
  EXPECT_NEAR(point.y, 0.0f, 1e-5f);
  EXPECT_NEAR(normal.y, 1.0f, 1e-5f);
  EXPECT_EQ(attribute, 7u);
  Vec3 slide{};
  EXPECT_TRUE(stage_ray_cast_ex(&kAbove, &kDown, &point, &slide, &normal, &attribute));
  const Vec3 beside{5, 1, 5};
  EXPECT_FALSE(stage_ray_cast(&beside, &kDown, &point, &normal, &attribute));
  free_stage_instances();
}

}  // namespace
