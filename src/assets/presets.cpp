#include "assets/presets.h"

#include <cstring>

#include "assets/mesh_records.h"
#include "assets/model_records.h"
#include "assets/package_loader.h"
#include "assets/textures.h"

namespace {

constexpr ModelPresetSlot kTSlots[] = {{"T", "s0", "Bd", 0x00FFFFFF, 30.0f, {0, 1, 0, 1}}};

constexpr ModelPreset kModelPresets[] = {
    {"mo", "mo", "mime", "mbody", "By", 0xFFFFFFFF, 10.0f, nullptr, 0},
    {"T", "T", "Tme", "Tdy", "B1", 0x00808080, 10.0f, kTSlots, 1},
};

constexpr StageTablePair kStageFirstRow[STAGE_TABLE_ROW_PAIRS] = {{0, 0}, {1, 0},  {2, 0},  {4, 0},
                                                                   {8, 0}, {32, 0}, {16, 0}, {64, 0}};

bool same(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

// The mesh named after h's base and suffix in h's package; 0 when none.
AssetHandle sibling_mesh(AssetHandle h, const char* suffix) {
  const char* name = get_mesh_name(h);
  if (!name) return 0;
  return find_mesh(get_mesh_package(h), (cut_at_first_underscore(name) + suffix).c_str());
}

bool node_position(AssetHandle node, Vec3* position) {
  const MeshInfo* info = get_mesh_info(node);
  if (!info) return false;
  *position = Vec3{info->centre[0], info->centre[1], info->centre[2]};
  return true;
}

}  // namespace

bool load_package_with_maps(const char* name, uint32_t flags) {
  if (!name) return false;
  bool ok = true;
  const std::string maps = std::string(name) + "_NRM";
  if (package_file_exists(maps.c_str())) ok = enqueue_package(maps.c_str(), flags);
  return enqueue_package(name, flags) && ok;
}

void load_packages(const char* const* names, int32_t count) {
  for (int32_t i = 0; names && i < count; ++i)
    if (names[i]) enqueue_package(names[i], 0);
}

AssetHandle find_collision_prefixed(const char* package, const char* name, bool prefixed) {
  if (prefixed && name) {
    const AssetHandle h = find_collision(package, (std::string("CM_") + name).c_str());
    if (h) return h;
  }
  return find_collision(package, name);
}

AssetHandle find_mesh_prefixed(const char* package, const char* name, bool prefixed) {
  if (prefixed && name) {
    const AssetHandle h = find_mesh(package, (std::string("CM_") + name).c_str());
    if (h) return h;
  }
  return find_mesh(package, name);
}

const ModelPreset* find_model_preset(const char* name) {
  for (const ModelPreset& p : kModelPresets)
    if (same(p.name, name)) return &p;
  return nullptr;
}

const ModelPreset* model_preset_at(int32_t i) {
  return i >= 0 && i < model_preset_count() ? &kModelPresets[i] : nullptr;
}

int32_t model_preset_count() { return int32_t(sizeof kModelPresets / sizeof kModelPresets[0]); }

bool find_preset_model_assets(const char* name, PresetModelAssets* out) {
  *out = PresetModelAssets{};
  const ModelPreset* p = find_model_preset(name);
  if (!p) return false;
  out->mesh = find_mesh(p->package, p->mesh);
  out->bone_tree = find_bone_tree(p->package, p->bone_tree);
  const char* package = nullptr;
  const char* animation = nullptr;
  if (nth_package_animation(&package, &animation, p->package, p->animation_package, 0))
    out->animation = find_animation(package, animation);
  for (int32_t i = 0; i < p->slot_count && i < 4; ++i)
    if (p->slots[i].package && p->slots[i].mesh) out->slot_meshes[i] = find_mesh(p->slots[i].package, p->slots[i].mesh);
  return true;
}

int32_t count_package_animations(const char* a, const char* b) {
  int32_t n = 0;
  for (AssetHandle h = 1; h <= AssetHandle(count_animations()); ++h) {
    const char* p = get_animation_package(h);
    if (same(p, a) || same(p, b)) ++n;
  }
  return n;
}

bool nth_package_animation(const char** package, const char** name, const char* a, const char* b, int32_t n) {
  for (AssetHandle h = 1; n >= 0 && h <= AssetHandle(count_animations()); ++h) {
    const char* p = get_animation_package(h);
    const bool in_b = same(p, b);
    if (!in_b && !same(p, a)) continue;
    if (n-- > 0) continue;
    *package = in_b ? b : a;
    *name = get_animation_name(h);
    return true;
  }
  return false;
}

void clamp_named_textures(const char* package, const char* const* names, int32_t count) {
  for (int32_t i = 0; names && i < count; ++i) {
    const AssetHandle h = find_texture(package, names[i]);
    if (h) set_texture_address_modes(h, 1, 1);
  }
}

bool find_swnod_node(AssetHandle mesh, Vec3* position, float* value) {
  const AssetHandle node = sibling_mesh(mesh, "_swnod");
  if (!node_position(node, position)) return false;
  *value = get_mesh_info(node)->value;
  return true;
}

bool find_tnd_node(AssetHandle mesh, Vec3* position) { return node_position(sibling_mesh(mesh, "_tnd"), position); }

bool get_lnd_matrix(AssetHandle mesh, Mat4* out, const Vec3* p, int32_t mode) {
  Vec3 node;
  if (!node_position(sibling_mesh(mesh, "_lnd"), &node)) {
    mat4_translation(out, p);
    return false;
  }
  // A node at p gives no direction to turn towards.
  if (node.x == p->x && node.y == p->y && node.z == p->z) {
    mat4_translation(out, p);
    return true;
  }
  if (mode == 0) {
    mat4_look_at(out, p, &node, nullptr, 0);
  } else {
    Vec3 angles;
    vec3_angles_between(&angles, p, &node);
    angles.x = 0.0f;
    mat4_from_position_euler(out, p, &angles);
  }
  return true;
}

AssetHandle find_pad_animation(AssetHandle mesh) {
  const char* name = get_mesh_name(mesh);
  if (!name) return 0;
  return find_animation(get_mesh_package(mesh), (cut_at_first_underscore(name) + "_pad").c_str());
}

std::string cut_at_first_underscore(const char* name) {
  if (!name) return std::string();
  const char* u = std::strchr(name, '_');
  return u ? std::string(name, size_t(u - name)) : std::string(name);
}

std::string cut_at_last_underscore(const char* name) {
  if (!name) return std::string();
  const char* u = std::strrchr(name, '_');
  return u ? std::string(name, size_t(u - name)) : std::string(name);
}

const uint32_t* stage_table_lookup(const StageTablePair* row, uint32_t key) {
  for (int i = 0; row && i < STAGE_TABLE_ROW_PAIRS; ++i)
    if (row[i].key == key) return &row[i].value;
  return nullptr;
}

const StageTablePair* stage_table_first_row() { return kStageFirstRow; }
