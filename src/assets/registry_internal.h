// What the registry's own source files share: the mutable block, name and
// data buffers, the find over record heads and the common first steps of a
// registration. Not for use outside src/assets.
#pragma once

#include <string_view>

#include "assets/asset_registry.h"

AssetRegistry& registry_block();

// Copies name and a terminator at the cursor when they fit before the last
// byte; null when they do not (the cursor stays).
const char* buffer_copy_name(ByteBuffer* buffer, std::string_view name);
// Copies size bytes at the first 4-byte boundary at or after the cursor; null
// when they do not fit before the last byte.
void* buffer_copy_data(ByteBuffer* buffer, const void* data, size_t size);
// Sets the cursor back to p when p lies inside the buffer.
void buffer_rewind(ByteBuffer* buffer, const void* p);

inline bool names_equal(const char* stored, std::string_view name) {
  return stored && std::string_view(stored) == name;
}

// True when a record of package hash/name belongs to the package asked for.
inline bool same_package(const char* stored, std::string_view package) {
  return stored ? std::string_view(stored) == package : package.empty();
}

// The first record, in handle order, with this name in this package (any
// package when package is null); 0 when none.
template <typename Record>
AssetHandle find_in_pool(const AssetPool<Record>& pool, const char* package, std::string_view name) {
  const uint32_t hn = hash_name(name);
  if (!package) {
    for (int32_t i = 0; i < pool.count; ++i) {
      const RecordHead& h = pool.records[i].head;
      if (h.name_hash == hn && names_equal(h.name, name)) return handle_from_index(i);
    }
    return 0;
  }
  const uint32_t hp = hash_name(package);
  for (int32_t i = 0; i < pool.count; ++i) {
    const RecordHead& h = pool.records[i].head;
    if (h.package_hash == hp && h.name_hash == hn && names_equal(h.name, name) && same_package(h.package, package)) {
      return handle_from_index(i);
    }
  }
  return 0;
}

template <typename Record>
Record* record_in_pool(const AssetPool<Record>& pool, AssetHandle handle) {
  const int32_t i = index_from_handle(handle, pool.count);
  return i < 0 ? nullptr : &pool.records[i];
}

// The outcome of the common first steps of a registration.
struct Registration {
  AssetHandle handle;   // the found record's handle, or 0
  int32_t index;        // the new record's index, -1 when refused or found
  const char* package;  // the package copy
  const char* name;     // the interned name
};

// Finds an existing record of this package and name, else reserves the next
// record: the package is interned, the name copied and the count raised.
// Refused (handle 0, index -1, nothing changed but a new package record)
// when the package or the name cannot be stored or the pool is full.
template <typename Record>
Registration begin_registration(AssetPool<Record>& pool, const char* package, std::string_view name) {
  Registration r{0, -1, nullptr, nullptr};
  r.package = intern_package_name(package);
  if (package && !r.package) return r;
  r.handle = find_in_pool(pool, r.package, name);
  if (r.handle != 0 || pool.count >= pool.capacity || !pool.records) return r;
  r.name = buffer_copy_name(&pool.names, name);
  if (!r.name) return r;
  r.index = pool.count++;
  pool.records[r.index] = Record{};
  return r;
}

// Undoes begin_registration after the device object or copy failed.
template <typename Record>
void abandon_registration(AssetPool<Record>& pool, const Registration& r) {
  buffer_rewind(&pool.names, r.name);
  --pool.count;
}

// Fills the head of the reserved record and raises the peak; returns its handle.
template <typename Record>
AssetHandle finish_registration(AssetPool<Record>& pool, const Registration& r) {
  RecordHead& h = pool.records[r.index].head;
  h.package = r.package;
  h.package_hash = hash_name(r.package);
  h.name = r.name;
  h.name_hash = hash_name(std::string_view(r.name));
  if (pool.count > pool.peak_count) pool.peak_count = pool.count;
  return handle_from_index(r.index);
}

// Removes the record at index, which the registry's release has made the
// newest: device object, bytes and name. The count is left to the caller.
void texture_pool_remove(int32_t index);
void crop_pool_remove(int32_t index);
void depth_surface_pool_remove(int32_t index);
void unregister_mesh(int32_t index);
void unregister_bone_tree(int32_t index);
void unregister_animation(int32_t index);
void unregister_collision(int32_t index);
void unregister_sphere_set(int32_t index);
void unregister_camera_path(int32_t index);

// Creates the six 1x1 default textures of package "disp"; a handle stays 0
// when its texture cannot be made (no device).
void create_default_textures();
