// Queries over the payload records: bone-tree walks, animation tracks and
// collision triangles, all read from the payload copies through PayloadView.
#include <cstring>

#include "assets/matrix_stack.h"
#include "assets/model_records.h"

namespace {

// Calls visit(op, offset, depth) for each operation of a bone stream up to
// its end operation (or its last whole word); visit returns false to stop.
template <typename Visit>
void walk(const PayloadView& v, Visit&& visit) {
  uint64_t at = 0;
  uint32_t op = 0;
  int32_t depth = 0;
  while (v.u32_at(at, &op) && op != BONE_OP_END) {
    if (!visit(op, at, depth)) return;
    if (op == BONE_OP_PUSH) ++depth;
    if (op == BONE_OP_POP) --depth;
    at += op == BONE_OP_NODE ? 12 : op == BONE_OP_MATRIX ? 4 + 64 : 4;
  }
}

const char* node_name(const PayloadView& v, uint64_t at) {
  const uint32_t name = payload_u32(v, at + 4);
  return name ? v.cstr_at(name) : nullptr;
}

bool same_name(const char* stored, const char* name) { return stored && name && std::strcmp(stored, name) == 0; }

bool read_matrix(const PayloadView& v, uint64_t at, Mat4* out) {
  for (int i = 0; i < 16; ++i) {
    if (!v.f32_at(at + 4 + 4u * i, &out->m[i])) return false;
  }
  return true;
}

// Visits the nodes below the named one that the depth limit admits, in
// stream order, until visit returns false.
template <typename Visit>
void walk_children(const PayloadView& v, const char* node, int32_t limit, Visit&& visit) {
  int32_t found_depth = -1;
  walk(v, [&](uint32_t op, uint64_t at, int32_t depth) {
    if (op != BONE_OP_NODE) return true;
    if (found_depth < 0) {
      if (same_name(node_name(v, at), node)) found_depth = depth;
      return true;
    }
    if (depth <= found_depth) return false;
    if (limit > 0 && depth - found_depth > limit) return true;
    return visit(at);
  });
}

// The offset of the named track of a validated animation, 0 when absent.
uint64_t find_track(const PayloadView& v, const char* track) {
  const uint32_t tracks = payload_u32(v, 0), table = payload_u32(v, 12);
  for (uint32_t i = 0; i < tracks; ++i) {
    const uint32_t at = payload_u32(v, table + 4ull * i);
    if (same_name(v.cstr_at(payload_u32(v, at)), track)) return at;
  }
  return 0;
}

}  // namespace

PayloadView bone_tree_view(AssetHandle handle) {
  const BoneTreeRecord* r = get_bone_tree_record(handle);
  return r && r->data ? PayloadView{r->data, r->size} : PayloadView{};
}

PayloadView animation_view(AssetHandle handle) {
  const AnimationRecord* r = get_animation_record(handle);
  return r && r->data ? PayloadView{r->data, r->size} : PayloadView{};
}

PayloadView collision_view(AssetHandle handle) {
  const CollisionRecord* r = get_collision_record(handle);
  return r && r->data ? PayloadView{r->data, r->size} : PayloadView{};
}

int32_t count_child_nodes(AssetHandle handle, const char* node, int32_t depth_limit) {
  int32_t count = 0;
  walk_children(bone_tree_view(handle), node, depth_limit, [&](uint64_t) { return ++count, true; });
  return count;
}

const char* child_node_name(AssetHandle handle, const char* node, int32_t n, int32_t depth_limit) {
  const PayloadView v = bone_tree_view(handle);
  const char* result = nullptr;
  int32_t count = 0;
  walk_children(v, node, depth_limit, [&](uint64_t at) {
    if (count++ < n) return true;
    result = node_name(v, at);
    return false;
  });
  return result;
}

bool get_node_model_matrix(AssetHandle handle, const char* node, Mat4* out) {
  const PayloadView v = bone_tree_view(handle);
  if (!v.data || !out) return false;
  const int32_t base = matrix_stack_depth();
  matrix_stack_push();
  matrix_stack_load(nullptr);
  matrix_stack_push();
  bool found = false;
  walk(v, [&](uint32_t op, uint64_t at, int32_t) {
    Mat4 m;
    if (op == BONE_OP_MATRIX && read_matrix(v, at, &m)) matrix_stack_multiply(&m);
    if (op == BONE_OP_PUSH) matrix_stack_push();
    if (op == BONE_OP_POP) matrix_stack_pop();
    if (op == BONE_OP_NODE && same_name(node_name(v, at), node)) {
      *out = *matrix_stack_top();
      found = true;
      return false;
    }
    return true;
  });
  while (matrix_stack_depth() > base) matrix_stack_pop();
  return found;
}

bool get_node_local_matrix(AssetHandle handle, const char* node, Mat4* out) {
  const PayloadView v = bone_tree_view(handle);
  uint64_t matrix_at = 0;
  bool have = false, found = false;
  walk(v, [&](uint32_t op, uint64_t at, int32_t) {
    if (op == BONE_OP_MATRIX) matrix_at = at, have = true;
    if (op == BONE_OP_PUSH || op == BONE_OP_POP) have = false;
    if (op == BONE_OP_NODE && same_name(node_name(v, at), node)) {
      found = true;
      return false;
    }
    return true;
  });
  return found && have && out && read_matrix(v, matrix_at, out);
}

int32_t get_animation_track_count(AssetHandle handle) {
  return static_cast<int32_t>(payload_u32(animation_view(handle), 0));
}

const char* get_animation_track_name(AssetHandle handle, int32_t i) {
  const PayloadView v = animation_view(handle);
  if (i < 0 || static_cast<uint32_t>(i) >= payload_u32(v, 0)) return nullptr;
  const uint32_t track = payload_u32(v, payload_u32(v, 12) + 4ull * static_cast<uint32_t>(i));
  return v.cstr_at(payload_u32(v, track));
}

int32_t get_animation_track_keys(AssetHandle handle, const char* track) {
  const PayloadView v = animation_view(handle);
  const uint64_t at = find_track(v, track);
  return at ? static_cast<int32_t>(payload_u32(v, at + 8)) : 0;
}

const uint8_t* get_animation_track_data(AssetHandle handle, const char* track) {
  const PayloadView v = animation_view(handle);
  const uint64_t at = find_track(v, track);
  return at && payload_u32(v, at + 8) > 0 ? v.data + at + 12 : nullptr;
}

uint32_t get_animation_word1(AssetHandle handle) { return payload_u32(animation_view(handle), 4); }

int32_t count_collision_triangles(AssetHandle handle) {
  const PayloadView v = collision_view(handle);
  const uint32_t cells = payload_u32(v, 4), cell_at = payload_u32(v, 64);
  int64_t total = 0;
  for (uint32_t c = 0; c < cells; ++c) total += payload_u32(v, cell_at + uint64_t{kCollisionCellBytes} * c);
  return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}

bool get_collision_triangle(AssetHandle handle, int32_t i, CollisionTriangle* out) {
  const PayloadView v = collision_view(handle);
  if (!v.data || i < 0 || !out) return false;
  const uint32_t cells = payload_u32(v, 4), cell_at = payload_u32(v, 64);
  uint64_t first = 0;
  for (uint32_t c = 0; c < cells; ++c) {
    const uint64_t cell = cell_at + uint64_t{kCollisionCellBytes} * c;
    const uint32_t count = payload_u32(v, cell);
    if (static_cast<uint64_t>(i) < first + count) {
      const uint64_t t = payload_u32(v, cell + 4) + (static_cast<uint64_t>(i) - first) * kCollisionTriangleBytes;
      float f[16] = {};
      for (int k = 0; k < 16; ++k) v.f32_at(t + 4u * k, &f[k]);
      for (int k = 0; k < 3; ++k) {
        out->v0[k] = f[k];
        out->v1[k] = f[3 + k];
        out->v2[k] = f[6 + k];
        out->vector1[k] = f[9 + k];
        out->centroid[k] = (f[k] + f[3 + k] + f[6 + k]) * 0.33333334f;
        out->vector2[k] = f[12 + k];
      }
      out->value = f[15];
      return true;
    }
    first += count;
  }
  return false;
}
