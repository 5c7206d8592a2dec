// The model-data pools of the asset registry: meshes with their material and
// bone entries, bone trees, animations, collision meshes, sphere sets and
// camera paths. Payload copies sit in their pool's data buffer; offsets in
// them stay offsets, read through bounds-checked views.
#pragma once

#include <cstdint>
#include <string>

#include "assets/asset_registry.h"
#include "assets/mesh_records.h"
#include "assets/payload_view.h"
#include "math/mat4.h"

struct MeshRecord {
  RecordHead head;
  const MeshInfo* info;  // bounds and counts of the device mesh
  MeshObject object;
};

struct MaterialEntry {
  uint32_t words[5];
  const char* packages[4];       // package copies per texture slot
  const char* texture_names[4];  // in the material texture-name buffer
  AssetHandle textures[4];
  int32_t slot_count;
};

// A mesh's bone entry is the shaders' bone record (name in the bone-name
// buffer, its hash, the offset matrix), so the entries of a mesh are its
// bone source for skinned draws as they stand.

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

// Payload layouts (little-endian u32 words, offsets from the payload start).
// Bone stream operations.
enum : uint32_t { BONE_OP_NODE = 1, BONE_OP_MATRIX = 2, BONE_OP_PUSH = 3, BONE_OP_POP = 4, BONE_OP_END = 5 };
// Deepest nesting a bone stream may have; the matrix stack has 64 levels and
// a walk takes two of them for itself.
constexpr int32_t kBoneStreamMaxDepth = 60;
// Longest node, track or record name a payload may carry.
constexpr size_t kPayloadNameMax = 255;
constexpr uint32_t kAnimationKeyBytes = 64;  // one Mat4 per frame
constexpr uint32_t kCollisionCellBytes = 48;
constexpr uint32_t kCollisionTriangleBytes = 72;
constexpr uint32_t kCollisionEntryBytes = 80;
constexpr uint32_t kCollisionLinkBytes = 28;
constexpr uint32_t kSphereBytes = 16;
constexpr uint32_t kCameraKeyBytes = 16;

// The checks every registrar makes before it copies a payload: every offset,
// count and name of the layout lies inside the payload. The name out
// parameter receives the name the chunk is registered under, tags stripped
// ("" for a bone stream without a named node). False for a malformed payload.
bool validate_bone_stream(PayloadView payload, std::string* first_name);
bool validate_animation_payload(PayloadView payload, std::string* name);
bool validate_collision_payload(PayloadView payload, std::string* name);
bool validate_sphere_set_payload(PayloadView payload, std::string* name);
bool validate_camera_path_payload(PayloadView payload, std::string* name);

// Registrars: validate, copy the payload into the pool's data buffer and add
// the record. The handle of an existing record of this package and name, or
// 0 when the payload is malformed or the pool or its buffers are full
// (nothing changes then). Node and track names in the copy get their tags
// stripped and their hash slots filled.
AssetHandle register_bone_tree(const char* package, const char* name, const void* payload, uint64_t size);
AssetHandle register_animation(const char* package, const char* name, const void* payload, uint64_t size);
AssetHandle register_collision(const char* package, const char* name, const void* payload, uint64_t size);
// The record is stored under the payload's own name; name is used for the find.
AssetHandle register_sphere_set(const char* package, const char* name, const void* payload, uint64_t size);
// Only the keys are copied; the header's count, word and two values are kept
// in the record.
AssetHandle register_camera_path(const char* package, const char* name, const void* payload, uint64_t size);

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

// The payload copy of a record as a view; empty for an invalid handle.
PayloadView bone_tree_view(AssetHandle handle);
PayloadView animation_view(AssetHandle handle);
PayloadView collision_view(AssetHandle handle);

// Bone trees. The walks start at the first operation at depth 0 and stop at
// the end operation.
// Nodes below the first node of this name, counted to depth limit (0 = all
// depths); 0 when the name is absent.
int32_t count_child_nodes(AssetHandle handle, const char* node, int32_t depth_limit);
// The name of the (n+1)th node that count_child_nodes counts; null past the
// end or for an unnamed node.
const char* child_node_name(AssetHandle handle, const char* node, int32_t n, int32_t depth_limit);
// The matrices met before the node composed on the matrix stack, which is
// left at the depth it had; false when the node is absent.
bool get_node_model_matrix(AssetHandle handle, const char* node, Mat4* out);
// The last matrix before the node, when no push or pop came between them.
bool get_node_local_matrix(AssetHandle handle, const char* node, Mat4* out);

// Animations.
int32_t get_animation_track_count(AssetHandle handle);
// Null past the end.
const char* get_animation_track_name(AssetHandle handle, int32_t i);
// The key count of the named track; 0 when absent.
int32_t get_animation_track_keys(AssetHandle handle, const char* track);
// The first key of the named track; null when absent or without keys.
const uint8_t* get_animation_track_data(AssetHandle handle, const char* track);
uint32_t get_animation_word1(AssetHandle handle);

// Collision meshes.
struct CollisionTriangle {
  float v0[3], v1[3], v2[3];
  float vector1[3];
  float centroid[3];
  float vector2[3];
  float value;
};
int32_t count_collision_triangles(AssetHandle handle);
// False for an invalid handle or an index past the end.
bool get_collision_triangle(AssetHandle handle, int32_t i, CollisionTriangle* out);
