#include "assets/asset_registry.h"

#include <algorithm>
#include <cstring>

#include "assets/crops.h"
#include "assets/depth_surfaces.h"
#include "assets/mesh_records.h"
#include "assets/model_records.h"
#include "assets/package_loader.h"
#include "assets/registry_internal.h"
#include "assets/textures.h"

const RegistryCapacities kRegistryCapacities = {{
    {16, 128, 0},    // packages
    {50, 1024, 0},   // textures
    {100, 1024, 0},  // crops
    {16, 384, 0},    // depth surfaces
    {1, 1, 0},       // meshes (mesh names)
    {1, 1, 0},       // material entries (their texture names)
    {1, 1, 0},       // bone entries (bone names)
    {1, 1, 1},       // bone trees
    {1, 1, 1},       // animations
    {1, 1, 1},       // collisions
    {1, 1, 1},       // sphere sets
    {1, 1, 1},       // camera paths
}};

namespace {

// Zero until init_asset_registry: every pool is then empty with capacity 0,
// so marks and releases work, and registrations are refused, before it.
AssetRegistry g_registry;

void buffer_allocate(ByteBuffer* buffer, uint32_t size) {
  buffer->start = size ? new char[size]() : nullptr;
  buffer->size = buffer->start ? size : 0;
  buffer->used = 0;
  buffer->peak = 0;
}

template <typename Record>
void pool_allocate(AssetPool<Record>& pool, const PoolCapacity& capacity) {
  pool.capacity = std::max(capacity.records, 0);
  pool.records = pool.capacity ? new Record[pool.capacity]() : nullptr;
  buffer_allocate(&pool.names, capacity.name_bytes);
  buffer_allocate(&pool.data, capacity.data_bytes);
}

template <typename Record>
void pool_free(AssetPool<Record>& pool) {
  delete[] pool.records;
  delete[] pool.names.start;
  delete[] pool.data.start;
  pool = AssetPool<Record>{};
}

void buffer_note_peak(ByteBuffer* buffer) { buffer->peak = std::max(buffer->peak, buffer->used); }

PoolState* pool_state(AssetPoolId id) {
  AssetRegistry& r = g_registry;
  switch (id) {
    case ASSET_POOL_PACKAGES: return &r.packages;
    case ASSET_POOL_TEXTURES: return &r.textures;
    case ASSET_POOL_CROPS: return &r.crops;
    case ASSET_POOL_DEPTH_SURFACES: return &r.depth_surfaces;
    case ASSET_POOL_MESHES: return &r.meshes;
    case ASSET_POOL_MATERIAL_ENTRIES: return &r.material_entries;
    case ASSET_POOL_BONE_ENTRIES: return &r.bone_entries;
    case ASSET_POOL_BONE_TREES: return &r.bone_trees;
    case ASSET_POOL_ANIMATIONS: return &r.animations;
    case ASSET_POOL_COLLISIONS: return &r.collisions;
    case ASSET_POOL_SPHERE_SETS: return &r.sphere_sets;
    case ASSET_POOL_CAMERA_PATHS: return &r.camera_paths;
    case ASSET_POOL_COUNT: break;
  }
  return nullptr;
}

void package_pool_remove(int32_t index) {
  PackageRecord& p = g_registry.packages.records[index];
  buffer_rewind(&g_registry.packages.names, p.name);
  p = PackageRecord{};
}

// Removes the newest-but-not-yet-removed record at index of one pool.
void pool_remove(AssetPoolId id, int32_t index) {
  switch (id) {
    case ASSET_POOL_PACKAGES: package_pool_remove(index); break;
    case ASSET_POOL_TEXTURES: texture_pool_remove(index); break;
    case ASSET_POOL_CROPS: crop_pool_remove(index); break;
    case ASSET_POOL_DEPTH_SURFACES: depth_surface_pool_remove(index); break;
    case ASSET_POOL_MESHES: unregister_mesh(index); break;
    case ASSET_POOL_BONE_TREES: unregister_bone_tree(index); break;
    case ASSET_POOL_ANIMATIONS: unregister_animation(index); break;
    case ASSET_POOL_COLLISIONS: unregister_collision(index); break;
    case ASSET_POOL_SPHERE_SETS: unregister_sphere_set(index); break;
    case ASSET_POOL_CAMERA_PATHS: unregister_camera_path(index); break;
    // Material and bone entries belong to their meshes, which rewind their names.
    case ASSET_POOL_MATERIAL_ENTRIES:
    case ASSET_POOL_BONE_ENTRIES:
    case ASSET_POOL_COUNT: break;
  }
}

void free_all_pools() {
  AssetRegistry& r = g_registry;
  pool_free(r.camera_paths);
  pool_free(r.sphere_sets);
  pool_free(r.collisions);
  pool_free(r.animations);
  pool_free(r.bone_trees);
  pool_free(r.bone_entries);
  pool_free(r.material_entries);
  pool_free(r.meshes);
  pool_free(r.depth_surfaces);
  pool_free(r.crops);
  pool_free(r.textures);
  pool_free(r.packages);
}

}  // namespace

AssetRegistry& registry_block() { return g_registry; }

const char* buffer_copy_name(ByteBuffer* buffer, std::string_view name) {
  if (!buffer->start || uint64_t{buffer->used} + name.size() + 1 >= buffer->size) return nullptr;
  char* copy = buffer->start + buffer->used;
  name.copy(copy, name.size());
  copy[name.size()] = '\0';
  buffer->used += static_cast<uint32_t>(name.size() + 1);
  buffer_note_peak(buffer);
  return copy;
}

void* buffer_copy_data(ByteBuffer* buffer, const void* data, size_t size) {
  if (!buffer->start) return nullptr;
  const uint64_t at = (uint64_t{buffer->used} + 3) & ~uint64_t{3};
  if (at + size >= buffer->size) return nullptr;
  char* copy = buffer->start + at;
  if (size) std::memcpy(copy, data, size);
  buffer->used = static_cast<uint32_t>(at + size);
  buffer_note_peak(buffer);
  return copy;
}

void buffer_rewind(ByteBuffer* buffer, const void* p) {
  const char* c = static_cast<const char*>(p);
  if (!c || !buffer->start || c < buffer->start || c >= buffer->start + buffer->size) return;
  buffer->used = static_cast<uint32_t>(c - buffer->start);
}

void init_asset_registry(const RegistryCapacities& capacities) {
  shutdown_asset_registry();
  AssetRegistry& r = g_registry;
  const PoolCapacity* c = capacities.pools;
  pool_allocate(r.packages, c[ASSET_POOL_PACKAGES]);
  pool_allocate(r.textures, c[ASSET_POOL_TEXTURES]);
  pool_allocate(r.crops, c[ASSET_POOL_CROPS]);
  pool_allocate(r.depth_surfaces, c[ASSET_POOL_DEPTH_SURFACES]);
  pool_allocate(r.meshes, c[ASSET_POOL_MESHES]);
  pool_allocate(r.material_entries, c[ASSET_POOL_MATERIAL_ENTRIES]);
  pool_allocate(r.bone_entries, c[ASSET_POOL_BONE_ENTRIES]);
  pool_allocate(r.bone_trees, c[ASSET_POOL_BONE_TREES]);
  pool_allocate(r.animations, c[ASSET_POOL_ANIMATIONS]);
  pool_allocate(r.collisions, c[ASSET_POOL_COLLISIONS]);
  pool_allocate(r.sphere_sets, c[ASSET_POOL_SPHERE_SETS]);
  pool_allocate(r.camera_paths, c[ASSET_POOL_CAMERA_PATHS]);
  matrix_stack_reset();
  link_pool_reset();
  // The base mark comes before the default textures, so that releasing to
  // it removes them too.
  mark_asset_registry(&r.base_mark);
  create_default_textures();
}

void shutdown_asset_registry() {
  RegistryMark everything = {1, {}};
  release_asset_registry_to_mark(&everything);
  free_all_pools();
  g_registry = AssetRegistry{};
}

const AssetRegistry* get_asset_registry() { return &g_registry; }

const PoolState* get_asset_pool(AssetPoolId pool) { return pool_state(pool); }

uint32_t hash_name(std::string_view name) {
  uint32_t h = 0;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    for (int bit = 0; bit < 6; ++bit) {
      const uint32_t top = h & 0x80000000u;
      h = (h << 1) | ((c >> bit) & 1u);
      if (top) h ^= 0x04C11DB7u;
    }
  }
  return h;
}

uint32_t hash_name(const char* name) { return name ? hash_name(std::string_view(name)) : 0; }

AssetHandle find_package(const char* name) {
  if (!name) return 0;
  const AssetPool<PackageRecord>& pool = g_registry.packages;
  const std::string_view n(name);
  const uint32_t h = hash_name(n);
  for (int32_t i = 0; i < pool.count; ++i) {
    if (pool.records[i].hash == h && names_equal(pool.records[i].name, n)) return handle_from_index(i);
  }
  return 0;
}

const char* intern_package_name(const char* name) {
  if (!name) return nullptr;
  AssetPool<PackageRecord>& pool = g_registry.packages;
  if (const AssetHandle found = find_package(name)) return pool.records[found - 1].name;
  if (pool.count >= pool.capacity || !pool.records) return nullptr;
  // A name that does not fit adds no record: a nameless package would
  // match the wrong finds.
  const char* copy = buffer_copy_name(&pool.names, name);
  if (!copy) return nullptr;
  pool.records[pool.count++] = PackageRecord{copy, hash_name(copy)};
  pool.peak_count = std::max(pool.peak_count, pool.count);
  return copy;
}

bool package_holds_assets(const char* name) {
  const PackageRecord* p = get_package_record(find_package(name));
  if (!p || !p->name) return false;
  // Every record's package is the package pool's own copy.
  const auto holds = [copy = p->name](const auto& pool) {
    for (int32_t i = 0; i < pool.count; ++i)
      if (pool.records[i].head.package == copy) return true;
    return false;
  };
  const AssetRegistry& r = g_registry;
  return holds(r.textures) || holds(r.crops) || holds(r.depth_surfaces) || holds(r.meshes) || holds(r.bone_trees) ||
         holds(r.animations) || holds(r.collisions) || holds(r.sphere_sets) || holds(r.camera_paths);
}

int32_t count_packages() { return g_registry.packages.count; }

const PackageRecord* get_package_record(AssetHandle handle) { return record_in_pool(g_registry.packages, handle); }

void mark_asset_registry(RegistryMark* mark) {
  if (!mark) return;
  mark->valid = 1;
  for (int id = 0; id < ASSET_POOL_COUNT; ++id) {
    PoolState* p = pool_state(static_cast<AssetPoolId>(id));
    if (p->count < 0) p->count = 0;
    mark->counts[id] = p->count;
  }
}

void release_asset_registry_to_mark(RegistryMark* mark) {
  // A mark never taken, or already released, would otherwise empty the
  // whole registry.
  if (!mark || !mark->valid) return;
  mark->valid = 0;
  // Newest kinds first, so that no record outlives a package or texture it
  // names.
  bool textures_released = false;
  for (int id = ASSET_POOL_COUNT - 1; id >= 0; --id) {
    PoolState* p = pool_state(static_cast<AssetPoolId>(id));
    const int32_t keep = std::max(mark->counts[id], 0);
    if (keep >= p->count) continue;
    for (int32_t i = p->count - 1; i >= keep; --i) pool_remove(static_cast<AssetPoolId>(id), i);
    p->count = keep;
    textures_released = textures_released || id == ASSET_POOL_TEXTURES;
  }
  // A mesh kept may name a texture just released; its handle would come to
  // mean whatever texture takes the slot next.
  if (textures_released) resolve_mesh_textures();
  // A package half loaded would fill records the release just took away.
  reset_package_loader();
}

AssetHandle get_white_texture() { return g_registry.default_textures[DEFAULT_TEXTURE_WHITE]; }
AssetHandle get_black_texture() { return g_registry.default_textures[DEFAULT_TEXTURE_BLACK]; }
AssetHandle get_green_texture() { return g_registry.default_textures[DEFAULT_TEXTURE_GREEN]; }
AssetHandle get_cyan_texture() { return g_registry.default_textures[DEFAULT_TEXTURE_CYAN]; }
AssetHandle get_magenta_texture() { return g_registry.default_textures[DEFAULT_TEXTURE_MAGENTA]; }
AssetHandle get_normal_texture() { return g_registry.default_textures[DEFAULT_TEXTURE_NORMAL]; }

int64_t asset_texture_bytes() { return g_registry.texture_bytes; }
int64_t asset_mesh_bytes() { return g_registry.mesh_bytes; }
