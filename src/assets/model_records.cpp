#include "assets/model_records.h"

#include "assets/registry_internal.h"

namespace {

// Gives back the record's name and payload copy and clears it.
template <typename Record>
void remove_with_copy(AssetPool<Record>& pool, int32_t index, const void* copy) {
  Record& r = pool.records[index];
  buffer_rewind(&pool.data, copy);
  buffer_rewind(&pool.names, r.head.name);
  r = Record{};
}

template <typename Record>
const char* name_of(const AssetPool<Record>& pool, AssetHandle handle) {
  const Record* r = record_in_pool(pool, handle);
  return r ? r->head.name : nullptr;
}

template <typename Record>
const char* package_of(const AssetPool<Record>& pool, AssetHandle handle) {
  const Record* r = record_in_pool(pool, handle);
  return r ? r->head.package : nullptr;
}

AssetRegistry& reg() { return registry_block(); }

std::string_view view(const char* name) { return name ? std::string_view(name) : std::string_view(); }

}  // namespace

void unregister_bone_tree(int32_t index) {
  remove_with_copy(reg().bone_trees, index, reg().bone_trees.records[index].data);
}

void unregister_animation(int32_t index) {
  remove_with_copy(reg().animations, index, reg().animations.records[index].data);
}

void unregister_collision(int32_t index) {
  remove_with_copy(reg().collisions, index, reg().collisions.records[index].data);
}

void unregister_sphere_set(int32_t index) {
  remove_with_copy(reg().sphere_sets, index, reg().sphere_sets.records[index].data);
}

void unregister_camera_path(int32_t index) {
  remove_with_copy(reg().camera_paths, index, reg().camera_paths.records[index].keys);
}

AssetHandle find_mesh(const char* package, const char* name) { return find_in_pool(reg().meshes, package, view(name)); }
AssetHandle find_bone_tree(const char* package, const char* name) {
  return find_in_pool(reg().bone_trees, package, view(name));
}
AssetHandle find_animation(const char* package, const char* name) {
  return find_in_pool(reg().animations, package, view(name));
}
AssetHandle find_collision(const char* package, const char* name) {
  return find_in_pool(reg().collisions, package, view(name));
}
AssetHandle find_sphere_set(const char* package, const char* name) {
  return find_in_pool(reg().sphere_sets, package, view(name));
}
AssetHandle find_camera_path(const char* package, const char* name) {
  return find_in_pool(reg().camera_paths, package, view(name));
}

int32_t count_meshes() { return reg().meshes.count; }
int32_t count_bone_trees() { return reg().bone_trees.count; }
int32_t count_animations() { return reg().animations.count; }
int32_t count_collisions() { return reg().collisions.count; }
int32_t count_sphere_sets() { return reg().sphere_sets.count; }
int32_t count_camera_paths() { return reg().camera_paths.count; }

MeshRecord* get_mesh_record(AssetHandle handle) { return record_in_pool(reg().meshes, handle); }
BoneTreeRecord* get_bone_tree_record(AssetHandle handle) { return record_in_pool(reg().bone_trees, handle); }
AnimationRecord* get_animation_record(AssetHandle handle) { return record_in_pool(reg().animations, handle); }
CollisionRecord* get_collision_record(AssetHandle handle) { return record_in_pool(reg().collisions, handle); }
SphereSetRecord* get_sphere_set_record(AssetHandle handle) { return record_in_pool(reg().sphere_sets, handle); }
CameraPathRecord* get_camera_path_record(AssetHandle handle) { return record_in_pool(reg().camera_paths, handle); }

const char* get_mesh_name(AssetHandle handle) { return name_of(reg().meshes, handle); }
const char* get_mesh_package(AssetHandle handle) { return package_of(reg().meshes, handle); }
const char* get_bone_tree_name(AssetHandle handle) { return name_of(reg().bone_trees, handle); }
const char* get_bone_tree_package(AssetHandle handle) { return package_of(reg().bone_trees, handle); }
const char* get_animation_name(AssetHandle handle) { return name_of(reg().animations, handle); }
const char* get_animation_package(AssetHandle handle) { return package_of(reg().animations, handle); }
const char* get_collision_name(AssetHandle handle) { return name_of(reg().collisions, handle); }
const char* get_collision_package(AssetHandle handle) { return package_of(reg().collisions, handle); }
const char* get_sphere_set_name(AssetHandle handle) { return name_of(reg().sphere_sets, handle); }
const char* get_camera_path_name(AssetHandle handle) { return name_of(reg().camera_paths, handle); }
