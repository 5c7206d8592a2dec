#include "scene3d/part_api.h"

#include <cstring>

#include "assets/model_records.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_render.h"
#include "scene3d/ray_collision.h"

namespace {

template <typename Part>
Part* data(Task* task) {
  return task_data<Part>(task);
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

template <typename Part>
bool attach_sphere(Task* task, const Vec3* offset, float radius, uint32_t category) {
  Part* part = data<Part>(task);
  if (part->colliders != nullptr) {
    collider_set_sphere(part->colliders, offset, radius, category, 0, 0);
    return true;
  }
  Collider* c = part_new_sphere_collider(offset, radius, &part->world, category);
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
  Collider* c = part_new_mesh_collider(collision, &part->world, category);
  if (c == nullptr) return false;
  c->flags = ground ? (c->flags | kColliderGround) : (c->flags & ~kColliderGround);
  part->colliders = c;
  return true;
}

}  // namespace

Collider* part_new_sphere_collider(const Vec3* offset, float radius, const Mat4* owner, uint32_t category) {
  return collider_create_sphere(offset, radius, owner, category, collider_next_serial(), 0, 0);
}

Collider* part_new_mesh_collider(AssetHandle collision, const Mat4* owner, uint32_t category) {
  return collider_create_mesh(collision, owner, category, collider_next_serial(), 0, 0);
}

uint32_t part_name_hash(const char* name) { return hash_name(name); }

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
