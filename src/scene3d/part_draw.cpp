#include "scene3d/part_draw.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "assets/asset_names.h"
#include "assets/model_records.h"
#include "assets/textures.h"
#include "render/device/gfx_device.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/animation.h"
#include "scene3d/light_spheres.h"
#include "scene3d/part_records.h"
#include "scene3d/part_render.h"
#include "scene3d/render_flags.h"

static_assert(sizeof(ShaderMaterial) == sizeof(ColourBlock));

namespace {

// Mesh vertex formats: position, normal, one texture-coordinate pair; and
// the primitive parts' format with a diffuse colour.
constexpr uint32_t kMeshFvf = GPU_FVF_XYZ | GPU_FVF_NORMAL | gpu_fvf_tex(1);

struct PartDrawState {
  ShaderSkeletonNode skeleton[kMotionNodeCountMask + 1];
  Task* state_list[kPartListCapacity];
  Task* distance_list[kPartListCapacity];
  int32_t stack_lo[kPartSortStackSize];
  int32_t stack_hi[kPartSortStackSize];
  int32_t last_model;
};

PartDrawState state;

float user_float(const Task* t) {
  float f;
  std::memcpy(&f, &t->user, sizeof(f));
  return f;
}

const ShaderMaterial* as_material(const ColourBlock* colours) {
  return reinterpret_cast<const ShaderMaterial*>(colours);
}

void rs(GpuDevice* device, GpuRenderState s, uint32_t value) { gpu_set_render_state(device, s, value); }

void apply_billboard(Mat4* world, uint32_t billboard, int mode, GpuDevice* device) {
  const Mat4* camera = get_current_camera_matrix();
  if (billboard == 1) {
    std::memcpy(world->m, camera->m, 12 * sizeof(float));
    if (mode == 0) gpu_set_transform(device, GPU_TS_WORLD, world->m);
    return;
  }
  Vec3 pos, angles, scale;
  mat4_decompose_euler(&pos, &angles, &scale, world);
  angles.y = std::atan2(pos.x - camera->m[12], pos.z - camera->m[14]);
  mat4_from_position_euler(world, &pos, &angles);
  for (int c = 0; c < 3; ++c) {
    world->m[c] *= scale.x;
    world->m[4 + c] *= scale.y;
    world->m[8 + c] *= scale.z;
  }
}

// The player's poses as the shaders' skeleton: built for the mesh the
// player last made skinning matrices for, so that mesh takes them ready
// and any other matches its bones by name.
const ShaderSkeleton* skeleton_of(const MotionPlayer* player, ShaderSkeleton* out) {
  int n = 0;
  for (const BonePose* b = player->bones; b != nullptr && n <= static_cast<int>(kMotionNodeCountMask); b = b->next) {
    ShaderSkeletonNode& node = state.skeleton[n++];
    node.name_hash = b->name_hash;
    node.name = b->name;
    node.bone_index = b->mesh_bone == kBoneNoTrack ? -1 : b->mesh_bone;
    node.pose = b->pose;
    node.skin = b->skin;
  }
  *out = ShaderSkeleton{player->skin_mesh, state.skeleton, n};
  return out;
}

}  // namespace

bool part_mesh_get(uint32_t model, PartMesh* out) {
  const MeshObject* object = model != 0 ? get_mesh_object(model) : nullptr;
  if (object == nullptr || object->buffers.vertex_buffer == nullptr) return false;
  const MeshInfo& info = object->info;
  out->object = object;
  out->unlit = (object->buffers.fvf & GPU_FVF_NORMAL) == 0;
  out->normal_mapped = (info.tag_flags & NAME_TAG_NORMAL_MAP) != 0;
  out->centre = Vec3{info.centre[0], info.centre[1], info.centre[2]};
  out->inner_radius = info.radius;
  out->outer_radius = vec3_length(&out->centre) + info.radius;
  // Mesh data carries no far bias: the far test uses the plain distance.
  out->far_bias = 0.0f;
  return true;
}

Task** part_sort_scratch() { return state.state_list; }
int32_t* part_sort_stack_lo() { return state.stack_lo; }
int32_t* part_sort_stack_hi() { return state.stack_hi; }

void part_sort_by_state_key(Task** tasks, int count) {
  part_quicksort(tasks, count, [](const Task* a, const Task* b) { return a->user > b->user; });
}

void mesh_part_sort_by_distance(Task** tasks, int count) {
  part_quicksort(tasks, count, [](const Task* a, const Task* b) { return user_float(a) > user_float(b); });
}

void model_part_sort_by_distance(Task** tasks, int count) {
  part_quicksort(tasks, count, [](const Task* a, const Task* b) { return user_float(a) < user_float(b); });
}

void part_lists_begin(PartLists* lists) { *lists = PartLists{}; }

void part_lists_add(PartLists* lists, Task* task, uint32_t flags, bool use_state_key, uint32_t state_key) {
  // A draw callback is handed at most one task per list entry, so the lists
  // cannot overflow; the checks keep a misuse from writing past them.
  const int used = lists->state_count + lists->front_count + lists->back_count;
  if (used >= kPartListCapacity) return;
  if ((flags & kRenderFlagZWrite) == 0) {
    state.distance_list[kPartListCapacity - 1 - lists->back_count++] = task;
  } else if (flags & kRenderFlagDistanceSorted) {
    state.distance_list[lists->front_count++] = task;
  } else {
    if (use_state_key) task->user = state_key;
    state.state_list[lists->state_count++] = task;
  }
}

int part_lists_finish(PartLists* lists, bool by_state_key) {
  Task** out = state.state_list;
  if (by_state_key) part_sort_by_state_key(out, lists->state_count);
  else model_part_sort_by_distance(out, lists->state_count);
  mesh_part_sort_by_distance(state.distance_list, lists->front_count);
  Task** back = state.distance_list + kPartListCapacity - lists->back_count;
  mesh_part_sort_by_distance(back, lists->back_count);
  int n = lists->state_count;
  for (int k = 0; k < lists->front_count; ++k) out[n++] = state.distance_list[k];
  for (int k = 0; k < lists->back_count; ++k) out[n++] = back[k];
  return n;
}

PartPassFlags part_pass_flags() {
  const PartRenderBlock* b = part_render_block();
  PartPassFlags f{};
  f.cull_override = b->overrides[0] != -1;
  f.fog_override = b->overrides[1] != -1;
  f.alpha_override = b->overrides[2] == 1;
  f.single_stage = b->overrides[4] == 1;
  f.light_view = b->overrides[5] == 1;
  f.mirror = b->overrides[6] == 1;
  return f;
}

void part_batch_begin(PartBatchKind kind, int view) {
  GpuDevice* device = gfx_device();
  const PartRenderBlock* b = part_render_block();
  rs(device, GPU_RS_LIGHTING, 1);
  rs(device, GPU_RS_ZENABLE, 1);
  rs(device, GPU_RS_ZWRITEENABLE, 1);
  rs(device, GPU_RS_ALPHAREF, 1);
  rs(device, GPU_RS_ALPHAFUNC, GPU_CMP_GREATEREQUAL);
  rs(device, GPU_RS_ALPHABLENDENABLE, 1);
  rs(device, GPU_RS_ALPHATESTENABLE, 1);
  const int32_t fog = b->overrides[1];
  rs(device, GPU_RS_FOGENABLE, fog != -1 ? static_cast<uint32_t>(fog) : (get_fog_enable(view) ? 1u : 0u));
  const int32_t cull = b->overrides[0];
  if (kind != kPartBatchMesh || cull != -1) rs(device, GPU_RS_CULLMODE, gfx_cull_mode_by_index(cull != -1 ? cull : 0));
  gpu_set_stage_state(device, 0, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  gpu_set_stage_state(device, 0, GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
  gpu_set_stage_state(device, 0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
  gpu_set_stage_state(device, 0, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  gpu_set_stage_state(device, 0, GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE);
  gpu_set_stage_state(device, 0, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
  const int stages = (kind == kPartBatchMesh || kind == kPartBatchStatic) ? 3 : 1;
  for (int s = 0; s < stages; ++s) {
    gpu_set_sampler_state(device, s, GPU_SAMP_MAGFILTER, GPU_FILTER_LINEAR);
    gpu_set_sampler_state(device, s, GPU_SAMP_MINFILTER, GPU_FILTER_LINEAR);
  }
  // The filters were set past the texture binding's cache; mark it stale so
  // a later point-filtered binding is not skipped.
  gfx_invalidate_stage_cache();
  gfx_invalidate_render_cache();
  state.last_model = -1;
  if (kind == kPartBatchPrim) {
    part_begin_draw_unlit(0, nullptr, b->pass_index,
                          find_fvf_index(GPU_FVF_XYZ | GPU_FVF_NORMAL | GPU_FVF_DIFFUSE | gpu_fvf_tex(1)), nullptr);
  } else if (kind == kPartBatchStatic) {
    Mat4 identity;
    mat4_identity(&identity);
    gpu_set_transform(device, GPU_TS_WORLD, identity.m);
  }
}

void part_batch_end() {
  GpuDevice* device = gfx_device();
  for (int s = 0; s < GFX_STAGE_COUNT; ++s) gfx_bind_texture(device, s, nullptr, 1);
  part_begin_draw_unlit(0, nullptr, part_render_get_pass_index(), find_fvf_index(kMeshFvf), nullptr);
  rs(device, GPU_RS_ALPHATESTENABLE, 0);
}

int32_t* part_batch_last_model() { return &state.last_model; }

int part_begin_draw_unlit(int mode, const void* shader_data, int pass_index, int fvf_index, const Mat4* world) {
  return begin_mesh_draw(mode, shader_data, pass_index, fvf_index, world, nullptr, nullptr, nullptr, 1.0f, nullptr,
                         0);
}

int part_begin_draw_lit(int mode, const void* shader_data, int pass_index, int fvf_index, const Mat4* world,
                        const ColourBlock* colours, const ShaderPointLight* lights, int light_count) {
  return begin_mesh_draw(mode, shader_data, pass_index, fvf_index, world, as_material(colours), nullptr, nullptr,
                         1.0f, lights, light_count);
}

void part_draw_mesh(GpuDevice* device, Task*, uint32_t model, uint32_t texture_override, Mat4* world,
                    const MotionPlayer* bones, const ColourBlock* colours, const uint32_t* flags_word,
                    const PartPassFlags& pass, int mode, const void* shader_data, int32_t* last_model, float alpha,
                    const ShaderPointLight* lights, int light_count) {
  PartMesh mesh;
  if (!part_mesh_get(model, &mesh)) return;
  const uint32_t flags = *flags_word;
  if (pass.light_view && (flags & kRenderFlagLightView) == 0) return;
  if (pass.mirror && (flags & kRenderFlagMirror) == 0) return;

  const uint32_t billboard = render_flags_billboard(flags);
  if (billboard != 0) apply_billboard(world, billboard, mode, device);
  if (mode == 0) gpu_set_transform(device, GPU_TS_WORLD, world->m);

  const PartRenderBlock* b = part_render_block();
  const int lighting = mesh.unlit ? 0 : static_cast<int>((flags >> 1) & 1u);
  const int fog = pass.fog_override ? b->overrides[1] : static_cast<int>((flags >> 4) & 1u);
  const int cull = pass.cull_override ? b->overrides[0] : static_cast<int>(render_flags_cull(flags));
  const int alpha_ref = pass.alpha_override ? 4 : static_cast<int>(render_flags_alpha_ref(flags));
  const int changed = gfx_set_render_preset(lighting, static_cast<int>((flags >> 3) & 1u),
                                            static_cast<int>(render_flags_zfunc(flags)), fog,
                                            static_cast<int>(render_flags_blend(flags)), cull,
                                            static_cast<int>(render_flags_fill(flags)), alpha_ref, mode);
  const MeshBuffers* buffers = &mesh.object->buffers;
  // A mesh with bones drawn with a posed player takes the skinned slot of
  // its shading mode, with the palette of its own bones.
  const ShaderBoneSource* source = &mesh.object->bone_source;
  ShaderSkeleton skeleton;
  const ShaderSkeleton* posed =
      bones != nullptr && bones->bones != nullptr && source->count > 0 ? skeleton_of(bones, &skeleton) : nullptr;
  begin_mesh_draw(changed ? mode : -1, shader_data, b->pass_index, buffers->fvf_index, world, as_material(colours),
                  posed != nullptr ? source : nullptr, posed, alpha, lights, light_count);

  if (changed || static_cast<int64_t>(model) != *last_model) {
    if (buffers->index_buffer != nullptr) gpu_set_indices(device, buffers->index_buffer);
    gpu_set_stream_source(device, 0, buffers->vertex_buffer, 0, buffers->stride);
    *last_model = static_cast<int32_t>(model);
  }

  const int filter = render_flags_filter(flags) != 0 ? 1 : 0;
  const bool indexed = buffers->index_buffer != nullptr;
  const uint32_t triangles = (indexed ? buffers->index_count : buffers->vertex_count) / 3;
  for (uint32_t m = 0; m < mesh.object->info.material_count && mesh.object->materials != nullptr; ++m) {
    const MaterialEntry& material = mesh.object->materials[m];
    int n = material.slot_count < 0 ? 0 : (material.slot_count > 4 ? 4 : material.slot_count);
    if (n == 0) gfx_bind_texture(device, 0, nullptr, filter);
    if (pass.single_stage && n > 1) n = 1;
    for (int s = 0; s < n; ++s) {
      const AssetHandle handle = (m == 0 && s == 0 && texture_override != 0) ? texture_override : material.textures[s];
      const TextureObject* object = handle >= 1 ? get_texture_object(handle) : nullptr;
      gfx_bind_texture(device, s, object, filter);
    }
    // A range past the mesh's triangles is cut to them.
    const uint32_t first = material.words[0];
    const uint32_t count = first < triangles ? std::min(material.words[1], triangles - first) : 0;
    if (count > 0 && !indexed) {
      gpu_draw_primitive(device, GPU_PT_TRIANGLELIST, first * 3, count);
    } else if (count > 0) {
      gpu_draw_indexed_primitive(device, GPU_PT_TRIANGLELIST, 0, 0, buffers->vertex_count, first * 3, count);
    }
    for (int s = n - 1; s >= 1; --s) gfx_bind_texture(device, s, nullptr, filter);
  }
}

PartEye part_pass_eye(int view, const PartPassFlags& pass) {
  PartEye eye{};
  const Mat4* m;
  if (pass.light_view) {
    const int light = get_current_light_index();
    m = get_light_matrix_b(view, light);
    eye.planes = get_light_frustum(view, light);
    const float far = get_extra_light_far(view, light);
    eye.far_sq = far * far;
  } else if (pass.mirror) {
    m = get_matrix_slot17(view);
    eye.planes = get_view_frustum_4(view);
    eye.far_sq = get_far_limit(view) * get_far_limit(view);
  } else {
    m = get_camera_matrix(view);
    eye.planes = get_view_frustum_1(view);
    eye.far_sq = get_far_limit(view) * get_far_limit(view);
  }
  vec3_set(&eye.position, m->m[12], m->m[13], m->m[14]);
  return eye;
}

int part_query_lights(ShaderPointLight* out, int view, const Vec3* centre, float radius) {
  LightSphere* near[kPartLightCount];
  const int n = lightsphere_query_near(near, kPartLightCount, static_cast<uint32_t>(view), centre, radius);
  for (int k = 0; k < n; ++k) {
    out[k].position = near[k]->centre;
    out[k].first = near[k]->radius;
    out[k].second = near[k]->parameter;
    for (int c = 0; c < 4; ++c) out[k].colour[c] = near[k]->colour_float4[c];
  }
  return n;
}
