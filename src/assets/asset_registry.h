// The asset registry: the one global block in which every loaded asset
// lives, each kind in a fixed-capacity pool addressed by 1-based handles.
// Records are only added at the end of a pool and removed newest first, back
// to a RegistryMark, so names are copied into per-pool buffers that rewind
// with the records and nothing is allocated after start-up.
//
// Every record begins with a RecordHead. The records of each pool and the
// operations on them are in textures.h, crops.h, depth_surfaces.h and
// model_records.h; the matrix stack and the link pool that also live in the
// block are in matrix_stack.h and link_pool.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "assets/asset_handle.h"
#include "assets/link_pool.h"
#include "assets/matrix_stack.h"

struct TextureRecord;
struct CropRecord;
struct DepthSurfaceRecord;
struct MeshRecord;
struct MaterialEntry;
struct ShaderBone;
using BoneEntry = ShaderBone;
struct BoneTreeRecord;
struct AnimationRecord;
struct CollisionRecord;
struct SphereSetRecord;
struct CameraPathRecord;

// The pools, in the order a RegistryMark lists their counts.
enum AssetPoolId {
  ASSET_POOL_PACKAGES,
  ASSET_POOL_TEXTURES,
  ASSET_POOL_CROPS,
  ASSET_POOL_DEPTH_SURFACES,
  ASSET_POOL_MESHES,
  ASSET_POOL_MATERIAL_ENTRIES,
  ASSET_POOL_BONE_ENTRIES,
  ASSET_POOL_BONE_TREES,
  ASSET_POOL_ANIMATIONS,
  ASSET_POOL_COLLISIONS,
  ASSET_POOL_SPHERE_SETS,
  ASSET_POOL_CAMERA_PATHS,
  ASSET_POOL_COUNT
};

struct RecordHead {
  const char* package;    // the package pool's copy; null for none
  uint32_t package_hash;  // 0 for none
  const char* name;       // copied into the pool's name buffer
  uint32_t name_hash;
};

// A package record is the first half of a head only.
struct PackageRecord {
  const char* name;
  uint32_t hash;
};

// A block filled from its start. The last byte is never used.
struct ByteBuffer {
  char* start;
  uint32_t size;
  uint32_t used;  // the cursor, as an offset from start
  uint32_t peak;
};

struct PoolState {
  int32_t count;
  int32_t capacity;
  int32_t peak_count;
  ByteBuffer names;
  ByteBuffer data;  // payload copies; empty for the pools that hold none
};

template <typename Record>
struct AssetPool : PoolState {
  Record* records;
};

struct RegistryMark {
  uint32_t valid;
  int32_t counts[ASSET_POOL_COUNT];
};

struct PoolCapacity {
  int32_t records;
  uint32_t name_bytes;
  uint32_t data_bytes;
};

struct RegistryCapacities {
  PoolCapacity pools[ASSET_POOL_COUNT];
};

// The program's capacities: 16 packages, 50 textures, 100 crops, 16 depth
// surfaces; one record and one byte for each model-data pool.
extern const RegistryCapacities kRegistryCapacities;

enum DefaultTexture {
  DEFAULT_TEXTURE_WHITE,    // "wh"
  DEFAULT_TEXTURE_BLACK,    // "bl"
  DEFAULT_TEXTURE_GREEN,    // "gr"
  DEFAULT_TEXTURE_CYAN,     // "cy"
  DEFAULT_TEXTURE_MAGENTA,  // "mag"
  DEFAULT_TEXTURE_NORMAL,   // "nrm"
  DEFAULT_TEXTURE_COUNT
};

struct AssetRegistry {
  AssetPool<PackageRecord> packages;
  AssetPool<TextureRecord> textures;
  AssetPool<CropRecord> crops;
  AssetPool<DepthSurfaceRecord> depth_surfaces;
  AssetPool<MeshRecord> meshes;               // names: mesh names
  AssetPool<MaterialEntry> material_entries;  // names: material texture names
  AssetPool<BoneEntry> bone_entries;          // names: bone names
  AssetPool<BoneTreeRecord> bone_trees;
  AssetPool<AnimationRecord> animations;
  AssetPool<CollisionRecord> collisions;
  AssetPool<SphereSetRecord> sphere_sets;
  AssetPool<CameraPathRecord> camera_paths;
  LinkPool links;
  MatrixStack matrices;
  int64_t texture_bytes;  // texture and depth-surface memory
  int64_t mesh_bytes;     // vertex and index memory
  AssetHandle default_textures[DEFAULT_TEXTURE_COUNT];
  RegistryMark base_mark;
};

// Allocates every pool with the given capacities (releasing an earlier
// registry first), resets the matrix stack and the link pool, takes the base
// mark and creates the six 1x1 default textures of package "disp". Without a
// graphics device the registry still works; the default handles are then 0.
void init_asset_registry(const RegistryCapacities& capacities = kRegistryCapacities);
// Releases every record, the default textures included, and frees the pools.
void shutdown_asset_registry();
// The block, for statistics and tests.
const AssetRegistry* get_asset_registry();
const PoolState* get_asset_pool(AssetPoolId pool);

// For each character its six low bits, lowest first, go through a CRC
// register (polynomial 0x04C11DB7) starting from 0. Null and "" give 0.
uint32_t hash_name(const char* name);
uint32_t hash_name(std::string_view name);

// The registry's copy of a package name, adding a package record when the
// name is new. Null for a null name, a full package pool or a full package
// name buffer; nothing is added then.
const char* intern_package_name(const char* name);
AssetHandle find_package(const char* name);
// True when a record of an asset pool belongs to the package of this name. A
// package's name alone is no sign that it was loaded: a mesh with normal maps
// names its maps package before that package is loaded, and a refused
// registration still names its package.
bool package_holds_assets(const char* name);
int32_t count_packages();
const PackageRecord* get_package_record(AssetHandle handle);

// Takes the record count of every pool.
void mark_asset_registry(RegistryMark* mark);
// Removes every record added since the mark, newest first, and clears the
// mark. A mark that was never taken (or was already released) changes
// nothing.
void release_asset_registry_to_mark(RegistryMark* mark);

// The default textures (0 for any that could not be made).
AssetHandle get_white_texture();
AssetHandle get_black_texture();
AssetHandle get_green_texture();
AssetHandle get_cyan_texture();
AssetHandle get_magenta_texture();
AssetHandle get_normal_texture();

// Device-lost and device-reset hooks: render-target textures and depth
// surfaces give up their device objects and get them back at their stored
// size and format. Records, handles and names stay.
void release_device_textures();
void restore_device_textures();

int64_t asset_texture_bytes();
int64_t asset_mesh_bytes();

// Walk every record of a pool in handle order through its record getter and
// do nothing else; nothing calls them.
void walk_mesh_pool();
void walk_texture_pool();
void walk_crop_pool();
void walk_bone_tree_pool();
void walk_animation_pool();
void walk_collision_pool();
void walk_sphere_set_pool();
void walk_camera_path_pool();
