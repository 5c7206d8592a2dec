#include "scene3d/mesh_part.h"

#include <cstring>

#include "render/device/gfx_device.h"
#include "render/device/shaders.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/part_draw.h"
#include "scene3d/part_render.h"
#include "scene3d/render_flags.h"

namespace {


Vec3 translation(const Mat4* m) { return Vec3{m->m[12], m->m[13], m->m[14]}; }

void store_float(Task* task, float f) { std::memcpy(&task->user, &f, sizeof(f)); }

// Sphere culling by the mesh's bounds; a part that passes keeps its world
// sphere for the light query.
bool sphere_visible(MeshPart* part, const PartMesh* mesh, const PartEye& eye, float distance_sq) {
  if (distance_sq - mesh->far_bias > eye.far_sq) return false;
  const Vec3 position = translation(&part->world);
  if (!part_sphere_in_frustum(eye.planes, &position, mesh->outer_radius)) return false;
  mat4_transform_point(&part->sphere_centre, &part->world, &mesh->centre);
  if (!part_sphere_in_frustum(eye.planes, &part->sphere_centre, mesh->inner_radius)) return false;
  part->sphere_radius = mesh->inner_radius;
  return true;
}


Task* create(uint32_t owner, const Mat4* matrix, uint32_t model, uint8_t layer, bool one_frame) {
  Task* task = task_create(owner);
  if (task == nullptr) return nullptr;
  task_set_type(task, static_cast<int>(mesh_part_type_id()));
  MeshPart* part = task_data<MeshPart>(task);
  mesh_part_set_model(task, model);
  if (matrix != nullptr) part->world = *matrix;
  task_set_visible(task, true);
  if (one_frame) task_set_one_frame(task);
  task_set_layer(task, layer);
  return task;
}

}  // namespace

uint16_t part_mode_from_model(uint32_t model) {
  PartMesh mesh;
  return part_mesh_get(model, &mesh) && mesh.normal_mapped ? 2 : 0;
}

Task* create_mesh_part(uint32_t owner, const Mat4* matrix, uint32_t model, uint8_t layer) {
  return create(owner, matrix, model, layer, true);
}

Task* create_mesh_part_persistent(uint32_t owner, const Mat4* matrix, uint32_t model, uint8_t layer) {
  return create(owner, matrix, model, layer, false);
}

int part_lods_keep(LodPair out[2], const LodPair* pairs) {
  out[0] = LodPair{};
  out[1] = LodPair{};
  int n = 0;
  for (int k = 0; k < 2; ++k) {
    if (pairs[k].model == 0) continue;
    int at = n++;
    while (at > 0 && out[at - 1].distance_sq > pairs[k].distance_sq) {
      out[at] = out[at - 1];
      --at;
    }
    out[at] = pairs[k];
  }
  return n;
}

void mesh_part_set_lods(Task* task, const LodPair* pairs) {
  if (pairs == nullptr) return;
  MeshPart* part = task_data<MeshPart>(task);
  if (part_lods_keep(part->lods, pairs) > 0) part->mode = part_mode_from_model(part->lods[0].model);
}

void mesh_part_set_model(Task* task, uint32_t model) {
  const LodPair pairs[2] = {{model, 0.0f}, {0, 0.0f}};
  mesh_part_set_lods(task, pairs);
}

uint32_t mesh_part_lod0_model(Task* task) { return task_data<MeshPart>(task)->lods[0].model; }

void mesh_part_set_pass_model(Task* task, uint32_t model) { task_data<MeshPart>(task)->pass_model = model; }

uint32_t mesh_part_choose_model(const MeshPart* part, float distance_sq, bool pass_model_allowed) {
  if (pass_model_allowed && part->pass_model != 0) return part->pass_model;
  uint32_t model = 0;
  for (const LodPair& pair : part->lods) {
    if (pair.model == 0) break;
    if (pair.distance_sq <= distance_sq) model = pair.model;
  }
  return model;
}

bool part_sphere_in_frustum(const Plane* planes, const Vec3* centre, float radius) {
  for (int k = 0; k < 6; ++k) {
    if (plane_dot_point(&planes[k], centre) < -radius) return false;
  }
  return true;
}

bool part_bounds_in_frustum(const Plane* planes, const Mat4* matrix, const PartMesh* bounds) {
  if (matrix == nullptr) return part_sphere_in_frustum(planes, &bounds->centre, bounds->inner_radius);
  const Vec3 position = translation(matrix);
  if (!part_sphere_in_frustum(planes, &position, bounds->outer_radius)) return false;
  Vec3 centre;
  mat4_transform_point(&centre, matrix, &bounds->centre);
  return part_sphere_in_frustum(planes, &centre, bounds->inner_radius);
}

const Plane* part_query_planes(Plane* scratch, int view, const Frustum* frustum) {
  if (frustum == nullptr) return get_view_frustum_1(view);
  Mat4 projection, view_projection;
  mat4_perspective_from_frustum(&projection, frustum);
  mat4_multiply(&view_projection, &projection, get_view_matrix(view));
  return frustum_planes_from_matrix(scratch, &view_projection);
}

bool mesh_part_is_culled(Task* task, int view, const Frustum* frustum, bool use_bounds) {
  MeshPart* part = task_data<MeshPart>(task);
  Plane scratch[6];
  const Plane* planes = part_query_planes(scratch, view, frustum);
  PartMesh mesh;
  if (use_bounds && part_mesh_get(part->model_this_frame, &mesh)) return !part_bounds_in_frustum(planes, &part->world, &mesh);
  const Vec3 position = translation(&part->world);
  return !part_sphere_in_frustum(planes, &position, 0.0f);
}

void mesh_part_draw(Task* const* tasks, int count) {
  const PartPassFlags pass = part_pass_flags();
  const int view = get_current_view();
  const PartEye eye = part_pass_eye(view, pass);
  const bool pass_model_allowed = pass.light_view || pass.mirror;

  PartLists lists;
  part_lists_begin(&lists);
  for (int k = 0; k < count; ++k) {
    Task* task = tasks[k];
    MeshPart* part = task_data<MeshPart>(task);
    const Vec3 position = translation(&part->world);
    const float distance_sq = part_distance_sq(&eye.position, &position);
    store_float(task, distance_sq);
    part->model_this_frame = mesh_part_choose_model(part, distance_sq, pass_model_allowed);
    PartMesh mesh;
    if (!part_mesh_get(part->model_this_frame, &mesh)) continue;
    if (part->flags & kRenderFlagSphereCull) {
      if (!sphere_visible(part, &mesh, eye, distance_sq)) continue;
    } else if (part->flags & kRenderFlagLightSpheres) {
      // Without sphere culling the light query still needs where the mesh is
      // now, not where it was when culling last ran.
      mat4_transform_point(&part->sphere_centre, &part->world, &mesh.centre);
      part->sphere_radius = mesh.inner_radius;
    }
    part_lists_add(&lists, task, part->flags, true, part_state_key(part->flags, part->mode));
  }
  const int n = part_lists_finish(&lists, true);
  if (n == 0) return;

  Task** order = part_sort_scratch();
  part_batch_begin(kPartBatchMesh, view);
  GpuDevice* device = gfx_device();
  int32_t* last_model = part_batch_last_model();
  for (int k = 0; k < n; ++k) {
    MeshPart* part = task_data<MeshPart>(order[k]);
    ShaderPointLight lights[kPartLightCount];
    const int light_count = (part->flags & kRenderFlagLightSpheres)
                                ? part_query_lights(lights, view, &part->sphere_centre, part->sphere_radius)
                                : 0;
    part_draw_mesh(device, order[k], part->model_this_frame, part->texture_override, &part->world, nullptr,
                   &part->colours, &part->flags, pass, part->mode, part->shader_data, last_model, part->alpha,
                   light_count > 0 ? lights : nullptr, light_count);
  }
  part_batch_end();
}
