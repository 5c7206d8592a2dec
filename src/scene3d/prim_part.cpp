#include <cstring>

#include "assets/textures.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/view/view_state.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_draw.h"
#include "scene3d/part_render.h"
#include "scene3d/render_flags.h"

namespace {

constexpr uint32_t kPrimVertexFvf = 0x152;

GpuPrimitive primitive_of(int type) {
  return type == 0 ? GPU_PT_TRIANGLELIST : type == 1 ? GPU_PT_LINELIST : GPU_PT_POINTLIST;
}

int vertices_per_primitive(int type) { return type == 0 ? 3 : type == 1 ? 2 : 1; }

void bind_texture(const PrimPart* part, uint32_t texture) {
  GpuDevice* device = gfx_device();
  if (device == nullptr) return;
  const uint32_t handle = texture != 0 ? texture : part->default_texture;
  const int filter = static_cast<int>(render_flags_filter(part->flags));
  gfx_bind_texture(device, 0, handle >= 1 ? get_texture_object(handle) : nullptr, filter);
}

void draw_up(int type, uint32_t primitives, const void* vertices) {
  GpuDevice* device = gfx_device();
  if (device != nullptr) gpu_draw_primitive_up(device, primitive_of(type), primitives, vertices, sizeof(PrimVertex));
  part_render_count_draw(primitives);
}

Task* create(uint32_t owner, const Mat4* matrix, PrimDrawHook hook, uintptr_t argument, uint8_t layer, bool one_frame) {
  Task* task = task_create(owner);
  if (task == nullptr) return nullptr;
  task_set_type(task, static_cast<int>(prim_part_type_id()));
  PrimPart* part = task_data<PrimPart>(task);
  if (matrix != nullptr) part->world = *matrix;
  prim_part_set_draw_hook(task, hook, argument);
  if (one_frame) task_set_one_frame(task);
  task_set_layer(task, layer);
  return task;
}

Vec3 world_centre(const PrimPart* part) {
  if (part->has_local_centre) {
    Vec3 c;
    mat4_transform_point(&c, &part->world, &part->local_centre);
    return c;
  }
  return Vec3{part->world.m[12], part->world.m[13], part->world.m[14]};
}

}  // namespace

Task* create_prim_part(uint32_t owner, const Mat4* matrix, PrimDrawHook hook, uintptr_t argument, uint8_t layer) {
  return create(owner, matrix, hook, argument, layer, true);
}

Task* create_prim_part_persistent(uint32_t owner, const Mat4* matrix, PrimDrawHook hook, uintptr_t argument,
                                  uint8_t layer) {
  return create(owner, matrix, hook, argument, layer, false);
}

void prim_part_set_draw_hook(Task* task, PrimDrawHook hook, uintptr_t argument) {
  PrimPart* part = task_data<PrimPart>(task);
  part->draw_hook = hook;
  part->hook_argument = argument;
}

void prim_part_set_bounds(Task* task, const Vec3* local_centre, float radius) {
  PrimPart* part = task_data<PrimPart>(task);
  part->has_local_centre = local_centre != nullptr ? 1 : 0;
  part->local_centre = local_centre != nullptr ? *local_centre : Vec3{0.0f, 0.0f, 0.0f};
  part->radius = radius;
}

uint32_t prim_count_from_vertices(int type, uint32_t n) { return n / static_cast<uint32_t>(vertices_per_primitive(type)); }

void prim_batch_begin(Task* task, int type, uint32_t texture) {
  PrimPart* part = task_data<PrimPart>(task);
  const uint32_t colour = (part->flags & (1u << 1)) ? 0xFFFFFFFFu : part->colours.diffuse;
  part->batch_type = static_cast<uint16_t>(type);
  part->vertex_count = 0;
  part->primitive_count = 0;
  part->vertex_in_primitive = 0;
  part->vertices_per_primitive = static_cast<uint16_t>(vertices_per_primitive(type));
  part->primitives_per_batch = static_cast<uint16_t>(kPrimBatchVertices / part->vertices_per_primitive);
  part->vertex_buffer = reinterpret_cast<PrimVertex*>(gfx_scratch_array());
  prim_batch_reset_template(task, colour);
  bind_texture(part, texture);
}

void prim_batch_reset_template(Task* task, uint32_t colour) {
  task_data<PrimPart>(task)->vertex_template = PrimVertex{0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, colour, 0.0f, 0.0f};
}

void prim_batch_add_vertex(Task* task, const Vec3* position) {
  PrimPart* part = task_data<PrimPart>(task);
  PrimVertex v = part->vertex_template;
  v.x = position->x;
  v.y = position->y;
  v.z = position->z;
  part->vertex_buffer[part->vertex_count++] = v;
  if (++part->vertex_in_primitive < part->vertices_per_primitive) return;
  part->vertex_in_primitive = 0;
  if (++part->primitive_count < part->primitives_per_batch) return;
  prim_batch_flush(task);
  part->vertex_count = 0;
  part->primitive_count = 0;
}

void prim_batch_add_xyz(Task* task, float x, float y, float z) {
  const Vec3 p{x, y, z};
  prim_batch_add_vertex(task, &p);
}

void prim_batch_set_normal(Task* task, const Vec3* normal) {
  PrimVertex& t = task_data<PrimPart>(task)->vertex_template;
  t.nx = normal->x;
  t.ny = normal->y;
  t.nz = normal->z;
}

void prim_batch_set_normal_xyz(Task* task, float x, float y, float z) {
  const Vec3 n{x, y, z};
  prim_batch_set_normal(task, &n);
}

void prim_batch_set_uv(Task* task, const float* uv) { prim_batch_set_uv_xy(task, uv[0], uv[1]); }

void prim_batch_set_colour(Task* task, uint32_t argb) { task_data<PrimPart>(task)->vertex_template.diffuse = argb; }

void prim_batch_set_uv_xy(Task* task, float u, float v) {
  PrimVertex& t = task_data<PrimPart>(task)->vertex_template;
  t.u = u;
  t.v = v;
}

void prim_batch_flush(Task* task) {
  PrimPart* part = task_data<PrimPart>(task);
  if (part->primitive_count == 0) return;
  draw_up(part->batch_type, part->primitive_count, part->vertex_buffer);
}

void prim_batch_end(Task* task) {
  prim_batch_flush(task);
  part_render_count_batch();
}

void prim_draw_vertices(Task* task, int type, uint32_t texture, const PrimVertex* vertices, uint32_t count) {
  bind_texture(task_data<PrimPart>(task), texture);
  draw_up(type, prim_count_from_vertices(type, count), vertices);
  part_render_count_batch();
}

void prim_draw_indexed_vertices(Task* task, int type, uint32_t texture, const PrimVertex* vertices,
                                uint32_t vertex_count, const uint16_t* indices, uint32_t index_count) {
  bind_texture(task_data<PrimPart>(task), texture);
  const uint16_t* list = indices;
  if (list == nullptr) {
    // The quad index list holds 4096 quads; reading past it would draw
    // whatever follows it in memory.
    list = gfx_index_scratch();
    if (index_count > GFX_QUAD_CAPACITY * 6u) index_count = GFX_QUAD_CAPACITY * 6u;
  }
  const uint32_t primitives = prim_count_from_vertices(type, index_count);
  GpuDevice* device = gfx_device();
  if (device != nullptr && primitives > 0) {
    gpu_draw_indexed_primitive_up(device, primitive_of(type), 0, vertex_count, primitives, list, GPU_FMT_INDEX16,
                                  vertices, sizeof(PrimVertex));
  }
  part_render_count_draw(primitives);
  part_render_count_batch();
}

void prim_part_draw(Task* const* tasks, int count) {
  const PartPassFlags pass = part_pass_flags();
  const int view = get_current_view();
  const PartEye eye = part_pass_eye(view, pass);

  PartLists lists;
  part_lists_begin(&lists);
  for (int k = 0; k < count; ++k) {
    Task* task = tasks[k];
    PrimPart* part = task_data<PrimPart>(task);
    const Vec3 position{part->world.m[12], part->world.m[13], part->world.m[14]};
    const float d2 = part_distance_sq(&eye.position, &position);
    std::memcpy(&task->user, &d2, sizeof(d2));
    part->world_centre = world_centre(part);
    if ((part->flags & kRenderFlagSphereCull) &&
        !part_sphere_in_frustum(eye.planes, &part->world_centre, part->radius)) {
      continue;
    }
    part_lists_add(&lists, task, part->flags, false, 0);
  }
  // The batch states are set even when every part was culled.
  const int n = part_lists_finish(&lists, false);
  Task** order = part_sort_scratch();
  part_batch_begin(kPartBatchPrim, view);
  GpuDevice* device = gfx_device();
  const PartRenderBlock* b = part_render_block();
  const int fvf_index = find_fvf_index(kPrimVertexFvf);
  for (int k = 0; k < n; ++k) {
    Task* task = order[k];
    PrimPart* part = task_data<PrimPart>(task);
    if (part->draw_hook == nullptr) continue;
    if (pass.light_view && (part->flags & kRenderFlagLightView) == 0) continue;
    if (pass.mirror && (part->flags & kRenderFlagMirror) == 0) continue;
    if (part->mode == 0 && device != nullptr) gpu_set_transform(device, GPU_TS_WORLD, part->world.m);
    const uint32_t f = part->flags;
    const int fog = pass.fog_override ? b->overrides[1] : static_cast<int>((f >> 4) & 1u);
    const int cull = pass.cull_override ? b->overrides[0] : static_cast<int>(render_flags_cull(f));
    const int alpha_ref = pass.alpha_override ? 4 : static_cast<int>(render_flags_alpha_ref(f));
    const int changed = gfx_set_render_preset(static_cast<int>((f >> 1) & 1u), static_cast<int>((f >> 3) & 1u),
                                              static_cast<int>(render_flags_zfunc(f)), fog,
                                              static_cast<int>(render_flags_blend(f)), cull,
                                              static_cast<int>(render_flags_fill(f)), alpha_ref, part->mode);
    ShaderPointLight lights[kPartLightCount];
    const int light_count =
        (f & kRenderFlagLightSpheres) ? part_query_lights(lights, view, &part->world_centre, part->radius) : 0;
    part_begin_draw_lit(changed ? part->mode : -1, part->shader_data, b->pass_index, fvf_index, &part->world,
                        &part->colours, light_count > 0 ? lights : nullptr, light_count);
    part->draw_hook(task, part->hook_argument);
  }
  part_batch_end();
}
