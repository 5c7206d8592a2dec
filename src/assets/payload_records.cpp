// Validation and registration of the payload records: bone trees,
// animations, collision meshes, sphere sets and camera paths. Every offset
// of a payload is checked before the payload is copied; the copy keeps its
// offsets and is read back through PayloadView.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "assets/asset_names.h"
#include "assets/model_records.h"
#include "assets/registry_internal.h"

namespace {

AssetRegistry& reg() { return registry_block(); }

// A name of the payload: zero-terminated inside it and not over-long. Mesh,
// bone-tree, animation and collision names lose their option tags; sphere-set
// and camera-path names keep theirs.
bool payload_name(const PayloadView& v, uint64_t offset, std::string* out, bool strip = true) {
  const char* s = v.cstr_at(offset);
  if (!s || std::strlen(s) > kPayloadNameMax) return false;
  if (out && strip) strip_name_tags(out, s);
  if (out && !strip) *out = s;
  return true;
}

// Writes the stripped form of the source's name at offset over the copy's,
// padding with terminators, and returns its hash. The offset was validated.
uint32_t strip_in_place(const PayloadView& source, uint8_t* copy, uint64_t offset) {
  const char* s = source.cstr_at(offset);
  const size_t length = std::strlen(s);
  std::string stripped;
  strip_name_tags(&stripped, s);
  std::memset(copy + offset, 0, length);
  std::memcpy(copy + offset, stripped.data(), std::min(stripped.size(), length));
  return hash_name(std::string_view(stripped));
}

void put_u32(uint8_t* copy, uint64_t offset, uint32_t value) { std::memcpy(copy + offset, &value, 4); }

// Copies the payload into the pool's data buffer for a reserved record; null
// (the reservation undone) when it does not fit.
template <typename Record>
uint8_t* copy_payload(AssetPool<Record>& pool, const Registration& r, const void* payload, uint64_t size) {
  void* copy = size < UINT32_MAX ? buffer_copy_data(&pool.data, payload, static_cast<size_t>(size)) : nullptr;
  if (!copy) abandon_registration(pool, r);
  return static_cast<uint8_t*>(copy);
}

// A payload may place names and hash slots over its own offsets and counts,
// so the copy is checked again after its names were stripped and its hashes
// filled; a copy that no longer holds together is given back (false).
template <typename Record>
bool keep_copy(AssetPool<Record>& pool, const Registration& r, const uint8_t* copy, bool still_valid) {
  if (still_valid) return true;
  buffer_rewind(&pool.data, copy);
  abandon_registration(pool, r);
  return false;
}

// Calls visit(op, offset) for each operation of a validated bone stream up
// to its end operation.
template <typename Visit>
void walk_bone_stream(const PayloadView& v, Visit&& visit) {
  uint64_t at = 0;
  uint32_t op = 0;
  while (v.u32_at(at, &op) && op != BONE_OP_END) {
    if (!visit(op, at)) return;
    if (op == BONE_OP_NODE) at += 12;
    else if (op == BONE_OP_MATRIX) at += 4 + 64;
    else at += 4;
  }
}

}  // namespace

bool validate_bone_stream(PayloadView v, std::string* first_name) {
  if (first_name) first_name->clear();
  bool named = false;
  int32_t depth = 0;
  uint64_t at = 0;
  uint32_t op = 0;
  while (v.u32_at(at, &op)) {
    switch (op) {
      // A stream that ends with levels still pushed is usable: every walker
      // restores its own depth. A pop below the start is not.
      case BONE_OP_END: return true;
      case BONE_OP_NODE: {
        uint32_t name = 0;
        if (!v.span_at(at, 1, 12) || !v.u32_at(at + 4, &name)) return false;
        if (name != 0) {
          if (!payload_name(v, name, named ? nullptr : first_name)) return false;
          named = true;
        }
        at += 12;
        break;
      }
      case BONE_OP_MATRIX:
        if (!v.span_at(at, 1, 4 + 64)) return false;
        at += 4 + 64;
        break;
      case BONE_OP_PUSH:
        if (++depth > kBoneStreamMaxDepth) return false;
        at += 4;
        break;
      case BONE_OP_POP:
        if (--depth < 0) return false;
        at += 4;
        break;
      default: at += 4; break;
    }
  }
  return false;  // no end operation
}

bool validate_animation_payload(PayloadView v, std::string* name) {
  uint32_t tracks = 0, length = 0, name_at = 0, table = 0, extra = 0;
  if (!v.u32_at(0, &tracks) || !v.u32_at(4, &length) || !v.u32_at(8, &name_at) || !v.u32_at(12, &table) ||
      !v.u32_at(16, &extra)) {
    return false;
  }
  if (!payload_name(v, name_at, name) || extra > v.size || !v.span_at(table, tracks, 4)) return false;
  for (uint32_t i = 0; i < tracks; ++i) {
    const uint32_t track = payload_u32(v, uint64_t{table} + 4ull * i);
    uint32_t track_name = 0, keys = 0;
    if (!v.span_at(track, 1, 12) || !v.u32_at(track, &track_name) || !v.u32_at(uint64_t{track} + 8, &keys)) {
      return false;
    }
    // The sampler reads one key per frame without looking at the count.
    if (!payload_name(v, track_name, nullptr) || keys < length ||
        !v.span_at(uint64_t{track} + 12, keys, kAnimationKeyBytes)) {
      return false;
    }
  }
  return true;
}

bool validate_collision_payload(PayloadView v, std::string* name) {
  if (!v.span_at(0, 22, 4) || !payload_name(v, payload_u32(v, 0), name)) return false;
  // The grid's dimensions (words 2 to 4) are read by nothing: only the
  // cells themselves must lie inside the payload.
  const uint32_t cells = payload_u32(v, 4);
  const uint32_t cell_at = payload_u32(v, 64);
  if (!v.span_at(cell_at, cells, kCollisionCellBytes)) return false;
  for (uint32_t c = 0; c < cells; ++c) {
    const uint64_t cell = cell_at + uint64_t{kCollisionCellBytes} * c;
    if (!v.span_at(payload_u32(v, cell + 4), payload_u32(v, cell), kCollisionTriangleBytes)) return false;
  }
  const uint32_t entries = payload_u32(v, 72), entry_count = payload_u32(v, 76);
  if (!v.span_at(entries, entry_count, kCollisionEntryBytes)) return false;
  for (uint32_t e = 0; e < entry_count; ++e) {
    if (payload_u32(v, entries + uint64_t{kCollisionEntryBytes} * e + 76) > v.size) return false;
  }
  const uint32_t links = payload_u32(v, 80), link_count = payload_u32(v, 84);
  if (!v.span_at(links, link_count, kCollisionLinkBytes)) return false;
  for (uint32_t e = 0; e < link_count; ++e) {
    if (payload_u32(v, links + uint64_t{kCollisionLinkBytes} * e + 24) > v.size) return false;
  }
  return true;
}

bool validate_sphere_set_payload(PayloadView v, std::string* name) {
  return v.span_at(0, 3, 4) && payload_name(v, payload_u32(v, 0), name, false) &&
         v.span_at(payload_u32(v, 4), payload_u32(v, 8), kSphereBytes);
}

bool validate_camera_path_payload(PayloadView v, std::string* name) {
  return v.span_at(0, 6, 4) && payload_name(v, payload_u32(v, 0), name, false) &&
         v.span_at(payload_u32(v, 4), payload_u32(v, 8), kCameraKeyBytes);
}

AssetHandle register_bone_tree(const char* package, const char* name, const void* payload, uint64_t size) {
  const PayloadView v{static_cast<const uint8_t*>(payload), size};
  if (!payload || !name || !validate_bone_stream(v, nullptr)) return 0;
  AssetPool<BoneTreeRecord>& pool = reg().bone_trees;
  const Registration r = begin_registration(pool, package, name);
  if (r.index < 0) return r.handle;
  uint8_t* copy = copy_payload(pool, r, payload, size);
  if (!copy) return 0;
  // Offsets come from the validated payload; the writes go to the copy.
  int32_t nodes = 0;
  walk_bone_stream(v, [&](uint32_t op, uint64_t at) {
    const uint32_t name_at = op == BONE_OP_NODE ? payload_u32(v, at + 4) : 0;
    if (name_at != 0) {
      put_u32(copy, at + 8, strip_in_place(v, copy, name_at));
      ++nodes;
    }
    return true;
  });
  if (!keep_copy(pool, r, copy, validate_bone_stream(PayloadView{copy, size}, nullptr))) return 0;
  BoneTreeRecord& rec = pool.records[r.index];
  rec.data = copy;
  rec.size = static_cast<uint32_t>(size);
  rec.node_count = nodes;
  return finish_registration(pool, r);
}

AssetHandle register_animation(const char* package, const char* name, const void* payload, uint64_t size) {
  const PayloadView v{static_cast<const uint8_t*>(payload), size};
  if (!payload || !name || !validate_animation_payload(v, nullptr)) return 0;
  AssetPool<AnimationRecord>& pool = reg().animations;
  const Registration r = begin_registration(pool, package, name);
  if (r.index < 0) return r.handle;
  uint8_t* copy = copy_payload(pool, r, payload, size);
  if (!copy) return 0;
  const uint32_t tracks = payload_u32(v, 0), table = payload_u32(v, 12);
  for (uint32_t i = 0; i < tracks; ++i) {
    const uint32_t track = payload_u32(v, table + 4ull * i);
    put_u32(copy, track + 4ull, strip_in_place(v, copy, payload_u32(v, track)));
  }
  if (!keep_copy(pool, r, copy, validate_animation_payload(PayloadView{copy, size}, nullptr))) return 0;
  pool.records[r.index].data = copy;
  pool.records[r.index].size = static_cast<uint32_t>(size);
  return finish_registration(pool, r);
}

AssetHandle register_collision(const char* package, const char* name, const void* payload, uint64_t size) {
  const PayloadView v{static_cast<const uint8_t*>(payload), size};
  if (!payload || !name || !validate_collision_payload(v, nullptr)) return 0;
  AssetPool<CollisionRecord>& pool = reg().collisions;
  const Registration r = begin_registration(pool, package, name);
  if (r.index < 0) return r.handle;
  uint8_t* copy = copy_payload(pool, r, payload, size);
  if (!copy) return 0;
  pool.records[r.index].data = copy;
  pool.records[r.index].size = static_cast<uint32_t>(size);
  return finish_registration(pool, r);
}

AssetHandle register_sphere_set(const char* package, const char* name, const void* payload, uint64_t size) {
  const PayloadView v{static_cast<const uint8_t*>(payload), size};
  std::string own_name;
  if (!payload || !name || !validate_sphere_set_payload(v, &own_name)) return 0;
  AssetPool<SphereSetRecord>& pool = reg().sphere_sets;
  const char* package_copy = intern_package_name(package);
  if (package && !package_copy) return 0;
  if (const AssetHandle found = find_in_pool(pool, package_copy, name)) return found;
  const Registration r = begin_registration(pool, package, own_name);
  if (r.index < 0) return r.handle;
  uint8_t* copy = copy_payload(pool, r, payload, size);
  if (!copy) return 0;
  const PayloadView c{copy, size};
  float radius = 0.0f;
  const uint32_t table = payload_u32(c, 4), count = payload_u32(c, 8);
  for (uint32_t i = 0; i < count; ++i) {
    float s[4] = {};
    for (int k = 0; k < 4; ++k) c.f32_at(table + uint64_t{kSphereBytes} * i + 4u * k, &s[k]);
    const float square = s[1] * s[1] + s[2] * s[2] + s[3] * s[3];
    const float reach = (square < 1e-10f ? 0.0f : std::sqrt(square)) + s[0];
    if (reach > radius) radius = reach;
  }
  SphereSetRecord& rec = pool.records[r.index];
  rec.data = copy;
  rec.size = static_cast<uint32_t>(size);
  rec.bounding_radius = radius;
  return finish_registration(pool, r);
}

AssetHandle register_camera_path(const char* package, const char* name, const void* payload, uint64_t size) {
  const PayloadView v{static_cast<const uint8_t*>(payload), size};
  if (!payload || !name || !validate_camera_path_payload(v, nullptr)) return 0;
  AssetPool<CameraPathRecord>& pool = reg().camera_paths;
  const Registration r = begin_registration(pool, package, name);
  if (r.index < 0) return r.handle;
  const uint32_t keys = payload_u32(v, 4), count = payload_u32(v, 8);
  uint8_t* copy = copy_payload(pool, r, v.data + keys, uint64_t{count} * kCameraKeyBytes);
  if (!copy) return 0;
  CameraPathRecord& rec = pool.records[r.index];
  rec.key_count = static_cast<int32_t>(count);
  rec.word = payload_u32(v, 12);
  v.f32_at(16, &rec.values[0]);
  v.f32_at(20, &rec.values[1]);
  rec.keys = copy;
  return finish_registration(pool, r);
}
