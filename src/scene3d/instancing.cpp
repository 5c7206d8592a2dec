#include "scene3d/instancing.h"

#include <cstring>
#include <string>

#include "assets/link_pool.h"
#include "assets/matrix_stack.h"
#include "assets/model_records.h"
#include "assets/presets.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_records.h"
#include "scene3d/ray_collision.h"
#include "scene3d/render_flags.h"

namespace {

struct StagePatternRow {
  const char* suffix;
  uint32_t flags;
};
constexpr StagePatternRow kStagePatterns[] = {{"_s", INSTANCE_STATIC | INSTANCE_COLLISION}};

StageInstances stage;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The first row whose pattern matches the node and that has what the mode
// needs; null when none.
const InstancePattern* find_entry(const InstancePattern* table, const char* node, bool static_mode) {
  for (const InstancePattern* e = table; e && e->pattern; ++e) {
    if (static_mode ? !e->static_node : (!e->mesh_part && !e->update && !e->destroy)) continue;
    if (instance_pattern_matches(e->pattern, node)) return e;
  }
  return nullptr;
}

// Walks the bone stream of the copy: calls node(name) at each named node,
// composing matrices on the matrix stack when compose is set.
template <typename NodeFn>
void walk_nodes(PayloadView v, bool compose, NodeFn node) {
  for (uint64_t at = 0; at + 4 <= v.size;) {
    const uint32_t op = payload_u32(v, at);
    if (op == BONE_OP_END) return;
    if (op == BONE_OP_NODE) {
      const uint32_t name = payload_u32(v, at + 4);
      if (name) {
        const char* s = v.cstr_at(name);
        if (s) node(s);
      }
      at += 12;
    } else if (op == BONE_OP_MATRIX) {
      if (compose && v.span_at(at + 4, 16, 4)) {
        Mat4 m;
        std::memcpy(m.m, v.data + at + 4, 64);
        matrix_stack_multiply(&m);
      }
      at += 68;
    } else {
      if (compose && op == BONE_OP_PUSH) matrix_stack_push();
      if (compose && op == BONE_OP_POP) matrix_stack_pop();
      at += 4;
    }
  }
}

bool instantiate_node_part(const char* package, const char* node, uint32_t flags, const InstancePattern* entry,
                           const Mat4* matrix, uint32_t extra) {
  const AssetHandle mesh = find_mesh(package, node);
  const bool hidden = name_has_suffix(node, "_nd");
  if (!hidden && mesh == 0) return false;
  Task* part = create_mesh_part_persistent(stage.owner, matrix, mesh, instance_layer(flags));
  if (!part) return false;
  if (hidden)
    part->flags &= ~kTaskVisible;
  else
    part->flags |= kTaskVisible;
  if (flags & INSTANCE_LAYER_50) {
    mesh_part_set_flag_0(part, 1);
    mesh_part_set_flag_3(part, 0);
  } else if (flags & INSTANCE_LAYER_51) {
    mesh_part_set_flag_0(part, 1);
    mesh_part_set_flags_19_21(part, 3);
  } else {
    mesh_part_set_flags_19_21(part, 2);
  }
  if (flags & INSTANCE_BILLBOARD_1) mesh_part_set_flags_15_17(part, 1);
  if (flags & INSTANCE_CULL_2) mesh_part_set_flags_12_14(part, 2);
  if (!(flags & INSTANCE_SKIP_LIGHTING)) mesh_part_set_flag_1(part, 1);
  if (!(flags & INSTANCE_SKIP_FOG)) mesh_part_set_flag_4(part, 1);
  if (flags & INSTANCE_SHADOW_PASSES) {
    mesh_part_set_flag_5(part, 1);
    mesh_part_set_flag_6(part, 1);
  }
  if (name_has_suffix(node, "_ad")) mesh_part_set_flags_7_11(part, 2);
  if ((flags & INSTANCE_COLLISION) && !hidden) {
    const AssetHandle collision = find_collision(package, node);
    if (collision && mesh_part_attach_collision_mesh(part, collision, extra)) mesh_part_collider_set_flag_2(part);
  }
  if (entry) {
    task_set_update_callback(part, entry->update);
    task_set_destroy_callback(part, entry->destroy);
    if (entry->mesh_part) entry->mesh_part(part, mesh, node);
  }
  return true;
}

bool instantiate_node_static(const char* package, const char* node, const InstancePattern* entry, uint32_t flags) {
  uint32_t word = instance_static_node_flags(flags, node);
  if (entry && entry->static_node) entry->static_node(&word, find_mesh(package, node), node);
  return link_chain_append(package, node, &word);
}

}  // namespace

uint8_t instance_layer(uint32_t flags) {
  if (flags & INSTANCE_LAYER_50) return kInstanceLayer50;
  if (flags & INSTANCE_LAYER_51) return kInstanceLayer51;
  return kInstanceLayerDefault;
}

// A node word has the RenderFlags bits one higher behind its enabled bit,
// blend at 8-12, cull at 13-15 and the alpha reference at 16-18.
uint32_t instance_static_node_flags(uint32_t flags, const char* node) {
  uint32_t w = kNodeFlagsDefault;
  if (flags & INSTANCE_LAYER_50) {
    w = (w | kNodeFlagDistanceSorted) & ~kNodeFlagZWrite;
  } else if (flags & INSTANCE_LAYER_51) {
    w = flags_with_field(w | kNodeFlagDistanceSorted, 16, 3, 3);
  } else {
    w = flags_with_field(w, 16, 3, 2);
  }
  if (flags & INSTANCE_CULL_2) w = flags_with_field(w, 13, 3, 2);
  if (!(flags & INSTANCE_SKIP_LIGHTING)) w |= kNodeFlagLighting;
  if (!(flags & INSTANCE_SKIP_FOG)) w |= kNodeFlagFog;
  if (flags & INSTANCE_SHADOW_PASSES) w |= kNodeFlagLightView | kNodeFlagMirror;
  if (name_has_suffix(node, "_ad")) w = flags_with_field(w, 8, 5, 2);
  return w;
}

void init_stage_instances() {
  stage = StageInstances{};
  stage.owner = handle_alloc();
}

void free_stage_instances() {
  if (stage.owner) {
    kill_owner(stage.owner);
    handle_free(stage.owner);
  }
  for (StageInstanceEntry& e : stage.entries)
    if (e.chain) link_chain_free(e.chain);
  stage = StageInstances{};
}

AssetHandle instantiate_stage(const char* package, const char* name, const InstancePattern* table, uint32_t extra) {
  const std::string base = cut_at_last_underscore(name);
  for (size_t i = 0; i < sizeof kStagePatterns / sizeof kStagePatterns[0]; ++i)
    stage.results[i] = instantiate_model(package, (base + kStagePatterns[i].suffix).c_str(), table,
                                         kStagePatterns[i].flags, extra);
  stage.collision = find_collision(package, (base + "_wall").c_str());
  return stage.collision;
}

Task* instantiate_model(const char* package, const char* model, const InstancePattern* table, uint32_t flags,
                        uint32_t extra) {
  const AssetHandle tree = find_bone_tree(package, model);
  if (tree == 0 || stage.entry_count >= kStageInstanceEntries) return nullptr;
  StageInstanceEntry& entry = stage.entries[stage.entry_count++];
  entry = StageInstanceEntry{flags, 0, nullptr};
  const PayloadView stream = bone_tree_view(tree);
  if (flags & INSTANCE_STATIC) {
    link_chain_begin();
    walk_nodes(stream, false, [&](const char* node) {
      if (name_has_suffix(node, "_nd")) return;
      if (instantiate_node_static(package, node, find_entry(table, node, true), flags)) ++entry.part_count;
    });
    link_chain_commit(&entry.chain);
    if (entry.chain == nullptr) return nullptr;
    Task* part = create_static_part(stage.owner, entry.chain, instance_layer(flags));
    if (part == nullptr) return nullptr;  // the entry keeps the chain until the stage is freed
    entry.chain = nullptr;                 // the part frees its chain with itself
    part->flags |= kTaskVisible;
    const AssetHandle collision = (flags & INSTANCE_COLLISION) ? find_collision(package, model) : 0;
    if (collision) static_part_attach_collision_mesh(part, collision, extra);
    return part;
  }
  const int32_t depth = matrix_stack_depth();
  matrix_stack_push();
  matrix_stack_load(nullptr);
  matrix_stack_push();
  walk_nodes(stream, true, [&](const char* node) {
    if (instantiate_node_part(package, node, flags, find_entry(table, node, false), matrix_stack_top(), extra))
      ++entry.part_count;
  });
  while (matrix_stack_depth() > depth) matrix_stack_pop();
  return nullptr;
}

int32_t stage_part_count(uint32_t flags) {
  for (int32_t i = 0; i < stage.entry_count; ++i)
    if ((stage.entries[i].flags & ~INSTANCE_COLLISION) == flags) return stage.entries[i].part_count;
  return 0;
}

Task* find_stage_instance(const char* suffix) {
  for (size_t i = 0; i < sizeof kStagePatterns / sizeof kStagePatterns[0]; ++i)
    if (suffix && std::strcmp(kStagePatterns[i].suffix, suffix) == 0) return stage.results[i];
  return nullptr;
}

uint32_t get_stage_owner() { return stage.owner; }
const StageInstances* get_stage_instances() { return &stage; }

bool stage_ray_cast(const Vec3* origin, const Vec3* vector, Vec3* point, Vec3* normal, uint32_t* attribute) {
  const CollisionRecord* c = get_collision_record(stage.collision);
  return c && ray_cast_model(c, nullptr, origin, vector, point, normal, attribute);
}

bool stage_ray_cast_ex(const Vec3* origin, const Vec3* vector, Vec3* point, Vec3* slide, Vec3* normal,
                       uint32_t* attribute) {
  const CollisionRecord* c = get_collision_record(stage.collision);
  return c && ray_cast_model_ex(c, nullptr, origin, vector, point, slide, normal, attribute);
}

bool name_has_suffix(const char* name, const char* suffix) {
  if (!name || !suffix) return false;
  const char* u = std::strrchr(name, '_');
  return std::strcmp(u ? u : name, suffix) == 0;
}

bool instance_pattern_matches(const char* p, const char* n) {
  if (!p || !n) return false;
  for (;;) {
    if (*p == '#') {
      if (*n == '\0') return false;
      while (is_digit(*n)) ++n;
      if (*n == '\0') return p[1] == '\0';
      ++p;
      continue;
    }
    if (*p == '*') return *n != '\0';
    if (*p == '\0' || *n == '\0') return *p == *n;
    if (*p != *n) return false;
    ++p;
    ++n;
  }
}
