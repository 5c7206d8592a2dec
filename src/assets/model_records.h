// The model-data pools of the asset registry: meshes with their material and
// bone entries, bone trees, animations, collision meshes, sphere sets and
// camera paths. Payload copies sit in their pool's data buffer; offsets in
// them stay offsets, read through bounds-checked views.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"

struct MeshInfo;

struct MeshRecord {
  RecordHead head;
  const MeshInfo* info;  // bounds and counts of the device mesh
};

struct MaterialEntry {
  uint32_t words[5];
  const char* packages[4];       // package copies per texture slot
  const char* texture_names[4];  // in the material texture-name buffer
  AssetHandle textures[4];
  int32_t slot_count;
};

struct BoneEntry {
  const char* name;  // in the bone-name buffer
};

struct BoneTreeRecord {
  RecordHead head;
  const uint8_t* data;  // the node stream, in the data buffer
  uint32_t size;
  int32_t node_count;  // named nodes only
};

struct AnimationRecord {
  RecordHead head;
  const uint8_t* data;
  uint32_t size;
};

struct CollisionRecord {
  RecordHead head;
  const uint8_t* data;
  uint32_t size;
};

struct SphereSetRecord {
  RecordHead head;
  const uint8_t* data;
  uint32_t size;
  float bounding_radius;
};

struct CameraPathRecord {
  RecordHead head;
  int32_t key_count;
  uint32_t word;
  float values[2];
  const uint8_t* keys;  // key_count x 16 bytes in the data buffer
};

AssetHandle find_mesh(const char* package, const char* name);
AssetHandle find_bone_tree(const char* package, const char* name);
AssetHandle find_animation(const char* package, const char* name);
AssetHandle find_collision(const char* package, const char* name);
AssetHandle find_sphere_set(const char* package, const char* name);
AssetHandle find_camera_path(const char* package, const char* name);

int32_t count_meshes();
int32_t count_bone_trees();
int32_t count_animations();
int32_t count_collisions();
int32_t count_sphere_sets();
int32_t count_camera_paths();

// Null for an invalid handle.
MeshRecord* get_mesh_record(AssetHandle handle);
BoneTreeRecord* get_bone_tree_record(AssetHandle handle);
AnimationRecord* get_animation_record(AssetHandle handle);
CollisionRecord* get_collision_record(AssetHandle handle);
SphereSetRecord* get_sphere_set_record(AssetHandle handle);
CameraPathRecord* get_camera_path_record(AssetHandle handle);

const char* get_mesh_name(AssetHandle handle);
const char* get_mesh_package(AssetHandle handle);
const char* get_bone_tree_name(AssetHandle handle);
const char* get_bone_tree_package(AssetHandle handle);
const char* get_animation_name(AssetHandle handle);
const char* get_animation_package(AssetHandle handle);
const char* get_collision_name(AssetHandle handle);
const char* get_collision_package(AssetHandle handle);
const char* get_sphere_set_name(AssetHandle handle);
const char* get_camera_path_name(AssetHandle handle);
