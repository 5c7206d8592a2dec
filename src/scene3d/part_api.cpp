#include "scene3d/part_api.h"

#include <cstring>

#include "assets/model_records.h"
#include "render/core/view_matrices.h"
#include "render/core/view_state.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_render.h"
#include "scene3d/ray_collision.h"

namespace {

template <typename Part>
Part* data(Task* task) {
  return task_data<Part>(task);
}

template <typename Part>
void set_colours(Task* task, const ColourBlock& colours) {
  Part* part = data<Part>(task);
  part->colours = colours;
  part->colour_is_default = colour_block_is_default(&part->colours);
}

template <typename Part, typename Edit>
void edit_colours(Task* task, Edit edit) {
  ColourBlock c = data<Part>(task)->colours;
  edit(&c);
  set_colours<Part>(task, c);
}

template <typename Part>
void set_field(Task* task, int shift, int width, uint32_t value) {
  uint32_t& flags = data<Part>(task)->flags;
  const uint32_t mask = ((1u << width) - 1u) << shift;
  flags = (flags & ~mask) | ((value << shift) & mask);
}

template <typename Part>
void set_mode_and_params(Task* task, uint16_t mode, const void* params, uint32_t size) {
  Part* part = data<Part>(task);
  part->mode = mode;
  if (size != 0 && params != nullptr) {
    std::memcpy(part->shader_data, params, size < kPartShaderDataSize ? size : kPartShaderDataSize);
  }
}

template <typename Part>
void set_lods(Task* task, const LodPair* pairs) {
  if (pairs == nullptr) return;
  Part* part = data<Part>(task);
  if (part_lods_keep(part->lods, pairs) > 0) part->mode = part_mode_from_model(part->lods[0].model);
}

uint32_t chain_count(const Collider* c) {
  uint32_t n = 0;
  for (; c != nullptr; c = c->chained) n += c->hit_count;
  return n;
}

bool chain_hit(const Collider* c, uint32_t n, RayHit* out) {
  uint32_t start = 0;
  for (; c != nullptr; c = c->chained) {
    if (n < start + c->hit_count) {
      const RayProbe* probe = ray_probe_find_of_owner(c, static_cast<int>(n - start));
      if (probe == nullptr) return false;
      if (out != nullptr) *out = probe->hit;
      return true;
    }
    start += c->hit_count;
  }
  return false;
}

template <typename Part>
bool attach_sphere(Task* task, const Vec3* offset, float radius, uint32_t category) {
  Part* part = data<Part>(task);
  if (part->colliders != nullptr) {
    collider_set_sphere(part->colliders, offset, radius, category, 0, 0);
    return true;
  }
  Collider* c = collider_create_sphere(offset, radius, &part->world, category, collider_next_serial(), 0, 0);
  if (c == nullptr) return false;
  c->flags &= ~kColliderGround;
  part->colliders = c;
  return true;
}

template <typename Part>
bool attach_mesh(Task* task, AssetHandle collision, uint32_t category, bool ground) {
  Part* part = data<Part>(task);
  if (get_collision_record(collision) == nullptr) return false;
  if (part->colliders != nullptr) {
    collider_set_model(part->colliders, collision, category, 0, 0);
    return true;
  }
  Collider* c = collider_create_mesh(collision, &part->world, category, collider_next_serial(), 0, 0);
  if (c == nullptr) return false;
  c->flags = ground ? (c->flags | kColliderGround) : (c->flags & ~kColliderGround);
  part->colliders = c;
  return true;
}

}  // namespace

uint32_t model_part_type_id() { return part_render_block()->model_type_id; }
uint32_t static_part_type_id() { return part_render_block()->static_type_id; }
uint32_t prim_part_type_id() { return part_render_block()->prim_type_id; }

bool task_is_model_part(const Task* task) {
  return task != nullptr && model_part_type_id() != 0 && task->type == model_part_type_id();
}
bool task_is_static_part(const Task* task) {
  return task != nullptr && static_part_type_id() != 0 && task->type == static_part_type_id();
}
bool task_is_prim_part(const Task* task) {
  return task != nullptr && prim_part_type_id() != 0 && task->type == prim_part_type_id();
}

#define TL_PART_COMMON_DEF(prefix, Part)                                                                         \
  Mat4* prefix##_matrix(Task* part) { return &data<Part>(part)->world; }                                         \
  void prefix##_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular, \
                            float power, float scale) {                                                          \
    set_colours<Part>(part, ColourBlock{ambient, diffuse, emissive, specular, power, scale});                    \
  }                                                                                                              \
  void prefix##_set_ambient(Task* part, uint32_t argb) {                                                         \
    edit_colours<Part>(part, [argb](ColourBlock* c) { c->ambient = argb; });                                     \
  }                                                                                                              \
  void prefix##_set_diffuse(Task* part, uint32_t argb) {                                                         \
    edit_colours<Part>(part, [argb](ColourBlock* c) { c->diffuse = argb; });                                     \
  }                                                                                                              \
  void prefix##_set_diffuse_2(Task* part, uint32_t argb) { prefix##_set_diffuse(part, argb); }                   \
  void prefix##_set_emissive(Task* part, uint32_t argb) {                                                        \
    edit_colours<Part>(part, [argb](ColourBlock* c) { c->emissive = argb; });                                    \
  }                                                                                                              \
  void prefix##_set_colour_c3_w(Task* part, uint32_t specular, float power) {                                    \
    edit_colours<Part>(part, [specular, power](ColourBlock* c) {                                                 \
      c->specular = specular;                                                                                    \
      c->power = power;                                                                                          \
    });                                                                                                          \
  }                                                                                                              \
  void prefix##_set_scale(Task* part, float scale) {                                                             \
    edit_colours<Part>(part, [scale](ColourBlock* c) { c->scale = scale; });                                     \
  }                                                                                                              \
  uint32_t prefix##_diffuse(Task* part) { return data<Part>(part)->colours.diffuse; }                            \
  ColourBlock* prefix##_colour_block(Task* part) { return &data<Part>(part)->colours; }                          \
  void prefix##_detach_colliders(Task* part) {                                                                   \
    collider_release(data<Part>(part)->colliders);                                                               \
    data<Part>(part)->colliders = nullptr;                                                                       \
  }                                                                                                              \
  uint32_t prefix##_collider_count(Task* part) { return chain_count(data<Part>(part)->colliders); }              \
  bool prefix##_collider_hit(Task* part, uint32_t n, RayHit* out) {                                              \
    return chain_hit(data<Part>(part)->colliders, n, out);                                                       \
  }                                                                                                              \
  uint16_t prefix##_collider_serial(Task* part) {                                                                \
    const Collider* c = data<Part>(part)->colliders;                                                             \
    return c != nullptr ? c->serial : 0;                                                                         \
  }

#define TL_PART_FLAGS_DEF(prefix, Part)                                                                                \
  void prefix##_set_alpha(Task* part, float alpha) { data<Part>(part)->alpha = alpha; }                                \
  void prefix##_set_flag_0(Task* part, uint32_t v) { set_field<Part>(part, 0, 1, v); }                                 \
  void prefix##_set_flag_1(Task* part, uint32_t v) { set_field<Part>(part, 1, 1, v); }                                 \
  void prefix##_set_flag_2(Task* part, uint32_t v) { set_field<Part>(part, 2, 1, v); }                                 \
  void prefix##_set_flag_3(Task* part, uint32_t v) { set_field<Part>(part, 3, 1, v); }                                 \
  void prefix##_set_flag_4(Task* part, uint32_t v) { set_field<Part>(part, 4, 1, v); }                                 \
  void prefix##_set_flag_5(Task* part, uint32_t v) { set_field<Part>(part, 5, 1, v); }                                 \
  void prefix##_set_flag_6(Task* part, uint32_t v) { set_field<Part>(part, 6, 1, v); }                                 \
  void prefix##_set_flag_18(Task* part, uint32_t v) { set_field<Part>(part, 18, 1, v); }                               \
  void prefix##_set_flags_7_11(Task* part, uint32_t v) { set_field<Part>(part, 7, 5, v); }                             \
  void prefix##_set_flags_12_14(Task* part, uint32_t v) { set_field<Part>(part, 12, 3, v); }                           \
  void prefix##_set_flags_19_21(Task* part, uint32_t v) { set_field<Part>(part, 19, 3, v); }                           \
  void prefix##_set_flags_22_24(Task* part, uint32_t v) { set_field<Part>(part, 22, 3, v); }                           \
  void prefix##_set_flags_25_26(Task* part, uint32_t v) { set_field<Part>(part, 25, 2, v); }                           \
  void prefix##_set_flags_27_28(Task* part, uint32_t v) { set_field<Part>(part, 27, 2, v); }

#define TL_PART_CHAIN_DEF(prefix, Part)                           \
  void prefix##_collider_set_flag_1(Task* part) {                 \
    Collider* c = data<Part>(part)->colliders;             \
    if (c == nullptr) return;                                     \
    c->flags = (c->flags | kColliderEnabled) & ~kColliderGround;  \
  }                                                               \
  void prefix##_collider_set_flag_2(Task* part) {                 \
    Collider* c = data<Part>(part)->colliders;             \
    if (c != nullptr) c->flags |= kColliderGround;                \
  }                                                               \
  Collider* prefix##_collider(Task* part) { return data<Part>(part)->colliders; }

TL_PART_COMMON_DEF(mesh_part, MeshPart)
TL_PART_COMMON_DEF(model_part, ModelPart)
TL_PART_COMMON_DEF(static_part, StaticPart)
TL_PART_COMMON_DEF(prim_part, PrimPart)
TL_PART_FLAGS_DEF(mesh_part, MeshPart)
TL_PART_FLAGS_DEF(model_part, ModelPart)
TL_PART_FLAGS_DEF(prim_part, PrimPart)
TL_PART_CHAIN_DEF(mesh_part, MeshPart)
TL_PART_CHAIN_DEF(static_part, StaticPart)
TL_PART_CHAIN_DEF(prim_part, PrimPart)

void mesh_part_set_flags_15_17(Task* part, uint32_t v) { set_field<MeshPart>(part, 15, 3, v); }

void mesh_part_set_texture(Task* part, uint32_t texture) { data<MeshPart>(part)->texture_override = texture; }
uint32_t mesh_part_texture(Task* part) { return data<MeshPart>(part)->texture_override; }
void model_part_set_texture(Task* part, uint32_t texture) { data<ModelPart>(part)->texture_override = texture; }
uint32_t model_part_texture(Task* part) { return data<ModelPart>(part)->texture_override; }
void prim_part_set_texture(Task* part, uint32_t texture) { data<PrimPart>(part)->default_texture = texture; }

void part_set_mode_and_params(Task* part, uint16_t mode, const void* params, uint32_t size) {
  set_mode_and_params<MeshPart>(part, mode, params, size);
}

void model_part_set_mode_and_params(Task* task, uint16_t mode, const void* params, uint32_t size) {
  set_mode_and_params<ModelPart>(task, mode, params, size);
  const ModelPart* part = data<ModelPart>(task);
  for (uint16_t index : part->slots) {
    PartSlot* slot = part_slot_from_index(index);
    if (slot == nullptr || slot->owner != task) continue;
    slot->mode = mode;
    std::memcpy(slot->shader_data, part->shader_data, kPartShaderDataSize);
  }
}

void static_part_set_mode_and_params(Task* part, uint16_t mode, const void* params, uint32_t size) {
  set_mode_and_params<StaticPart>(part, mode, params, size);
}

void prim_part_set_mode_and_params(Task* part, uint16_t mode, const void* params, uint32_t size) {
  set_mode_and_params<PrimPart>(part, mode, params, size);
}

void mesh_part_reset_mode(Task* part) {
  data<MeshPart>(part)->mode = part_mode_from_model(data<MeshPart>(part)->lods[0].model);
}
void model_part_reset_mode(Task* part) {
  data<ModelPart>(part)->mode = part_mode_from_model(data<ModelPart>(part)->lods[0].model);
}
void static_part_reset_mode(Task* part) { data<StaticPart>(part)->mode = 0; }
void prim_part_reset_mode(Task* part) { data<PrimPart>(part)->mode = 0; }

void model_part_set_lods(Task* part, const LodPair* pairs) { set_lods<ModelPart>(part, pairs); }
void model_part_set_model(Task* part, uint32_t model) {
  const LodPair pairs[2] = {{model, 0.0f}, {0, 0.0f}};
  set_lods<ModelPart>(part, pairs);
}
uint32_t model_part_lod0_model(Task* part) { return data<ModelPart>(part)->lods[0].model; }
void model_part_set_pass_model(Task* part, uint32_t model) { data<ModelPart>(part)->pass_model = model; }

bool mesh_part_attach_collision_sphere(Task* part, const Vec3* offset, float radius, uint32_t category) {
  return attach_sphere<MeshPart>(part, offset, radius, category);
}

bool mesh_part_attach_collision_mesh(Task* part, AssetHandle collision, uint32_t category) {
  return attach_mesh<MeshPart>(part, collision, category, false);
}

bool static_part_attach_collision_mesh(Task* part, AssetHandle collision, uint32_t category) {
  return attach_mesh<StaticPart>(part, collision, category, true);
}

bool mesh_part_attach_sphere_by_size(Task* part, int view, const Mat4* matrix, float radius, const Vec3* offset,
                                     float min_pixels, uint32_t category) {
  const Vec3 position{matrix->m[12], matrix->m[13], matrix->m[14]};
  const float size = projected_size_at_point(get_camera_frustum(view), get_view_matrix(view), &position, radius,
                                             static_cast<float>(get_virtual_screen_width()), min_pixels);
  return attach_sphere<MeshPart>(part, offset, size, category);
}

bool prim_part_attach_collision_sphere(Task* part, const Vec3* offset, float radius, uint32_t category) {
  return attach_sphere<PrimPart>(part, offset, radius, category);
}

bool prim_part_is_culled(Task* task, int view, const Frustum* frustum, bool use_radius) {
  PrimPart* part = data<PrimPart>(task);
  Plane scratch[6];
  const Plane* planes = part_query_planes(scratch, view, frustum);
  Vec3 centre{part->world.m[12], part->world.m[13], part->world.m[14]};
  if (part->has_local_centre) mat4_transform_point(&centre, &part->world, &part->local_centre);
  return !part_sphere_in_frustum(planes, &centre, use_radius ? part->radius : 0.0f);
}
