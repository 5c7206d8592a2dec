#include <cstring>

#include "render/device/gfx_device.h"
#include "render/device/shaders.h"
#include "render/view/view_state.h"
#include "scene3d/animation.h"
#include "scene3d/bone_stream.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_draw.h"
#include "scene3d/part_render.h"
#include "scene3d/render_flags.h"

namespace {

Vec3 translation(const Mat4* m) { return Vec3{m->m[12], m->m[13], m->m[14]}; }

uint32_t choose_model(const ModelPart* part, float distance_sq, bool pass_model_allowed) {
  if (pass_model_allowed && part->pass_model != 0) return part->pass_model;
  uint32_t model = 0;
  for (const LodPair& pair : part->lods) {
    if (pair.model == 0) break;
    if (pair.distance_sq <= distance_sq) model = pair.model;
  }
  return model;
}

PartSlot* slot_at(Task* task, int index) {
  if (index < 0 || index >= kModelPartSlotCount) return nullptr;
  return part_slot_from_index(task_data<ModelPart>(task)->slots[index]);
}

PartSlot* slot_or_alloc(Task* task, int index) {
  if (index < 0 || index >= kModelPartSlotCount) return nullptr;
  PartSlot* slot = slot_at(task, index);
  if (slot != nullptr) return slot;
  slot = part_slot_alloc(task);
  if (slot != nullptr) task_data<ModelPart>(task)->slots[index] = part_slot_index(slot);
  return slot;
}

// The mesh's skinned bit: a mesh with bones is posed by the part's player.
bool store_mesh(PartSlot* slot, uint32_t mesh) {
  const MeshInfo* info = get_mesh_info(mesh);
  if (info == nullptr) return false;
  slot->mesh = mesh;
  if (info->bone_count != 0) {
    slot->slot_flags |= kPartSlotSkinned;
  } else {
    slot->slot_flags &= ~kPartSlotSkinned;
  }
  return true;
}

void set_slot_bit(Task* task, int index, uint32_t bit, uint32_t on) {
  PartSlot* slot = slot_at(task, index);
  if (slot == nullptr) return;
  slot->slot_flags = on ? (slot->slot_flags | bit) : (slot->slot_flags & ~bit);
}

void set_slot_field(Task* task, int index, int shift, int width, uint32_t value) {
  if (PartSlot* slot = slot_at(task, index)) slot->flags = flags_with_field(slot->flags, shift, width, value);
}

void set_slot_render_bit(Task* task, int index, int bit, uint32_t on) { set_slot_field(task, index, bit, 1, on ? 1u : 0u); }

MotionPlayer* player_of(Task* task) { return task_data<ModelPart>(task)->motion; }

// The mesh whose skinning matrices an update builds: the first LOD model of
// a visible part without a pass model.
const ShaderBoneSource* skin_source(Task* task) {
  const ModelPart* part = task_data<ModelPart>(task);
  if (part->pass_model != 0 || (task->flags & kTaskVisible) == 0) return nullptr;
  PartMesh mesh;
  return part_mesh_get(part->lods[0].model, &mesh) ? &mesh.object->bone_source : nullptr;
}

void update_player(Task* task, int32_t frame, uint32_t first) {
  ModelPart* part = task_data<ModelPart>(task);
  anim_update_player(part->motion, &part->world, frame, skin_source(task), model_part_collider_serial(task), first);
}

}  // namespace

Task* create_model_part(uint32_t owner, const Mat4* matrix, uint32_t model, uint8_t layer) {
  Task* task = task_create(owner);
  if (task == nullptr) return nullptr;
  task_set_type(task, static_cast<int>(model_part_type_id()));
  model_part_set_model(task, model);
  if (matrix != nullptr) task_data<ModelPart>(task)->world = *matrix;
  task_set_layer(task, layer);
  return task;
}

// ---------------------------------------------------------------- slots

PartSlot* model_part_slot(Task* task, int index) { return slot_at(task, index); }

void model_part_set_slot(Task* task, int index, uint32_t mesh, const char* bone_name) {
  PartSlot* slot = slot_or_alloc(task, index);
  if (slot == nullptr) return;
  if (store_mesh(slot, mesh) && (slot->slot_flags & kPartSlotSkinned) == 0) {
    ModelPart* part = task_data<ModelPart>(task);
    const MotionPlayer* p = part->motion;
    const int32_t bone = p != nullptr && bone_name != nullptr ? bone_find_by_name(p, bone_name) : -1;
    const BonePose* pose = bone >= 0 ? bone_world_matrix(part->motion, bone, &part->world, 0) : nullptr;
    slot->matrix = pose != nullptr ? &pose->world : nullptr;
  }
  slot->mode = part_mode_from_model(mesh);
}

void model_part_set_slot_matrix(Task* task, int index, uint32_t mesh, const Mat4* matrix) {
  PartSlot* slot = slot_or_alloc(task, index);
  if (slot == nullptr) return;
  store_mesh(slot, mesh);
  slot->matrix = matrix;
  slot->mode = part_mode_from_model(mesh);
}

void model_part_set_slot_mesh(Task* task, int index, uint32_t mesh) {
  PartSlot* slot = slot_at(task, index);
  if (slot != nullptr) store_mesh(slot, mesh);
}

void model_part_slot_enable(Task* task, int index, uint32_t on) { set_slot_bit(task, index, kPartSlotEnabled, on); }
void part_slot_set_flag2_bit2(Task* task, int index, uint32_t on) { set_slot_bit(task, index, kPartSlotAllPasses, on); }

void model_part_release_slot(Task* task, int index) {
  PartSlot* slot = slot_at(task, index);
  if (slot == nullptr) return;
  part_slot_free(slot);
  task_data<ModelPart>(task)->slots[index] = 0;
}

void part_slot_set_diffuse(Task* task, int index, uint32_t argb) {
  PartSlot* slot = slot_at(task, index);
  if (slot == nullptr) return;
  slot->colours.diffuse = argb;
  slot->colour_is_default = colour_block_is_default(&slot->colours);
}

void part_slot_set_flag_0(Task* task, int index, uint32_t on) { set_slot_render_bit(task, index, 0, on); }
void part_slot_set_flag_1(Task* task, int index, uint32_t on) { set_slot_render_bit(task, index, 1, on); }
void part_slot_set_flag_2(Task* task, int index, uint32_t on) { set_slot_render_bit(task, index, 2, on); }
void part_slot_set_flag_3(Task* task, int index, uint32_t on) { set_slot_render_bit(task, index, 3, on); }
void part_slot_set_flag_4(Task* task, int index, uint32_t on) { set_slot_render_bit(task, index, 4, on); }

void part_slot_set_ambient(Task* task, int index, uint32_t argb) {
  if (PartSlot* slot = slot_at(task, index)) {
    slot->colours.ambient = argb;
    slot->colour_is_default = colour_block_is_default(&slot->colours);
  }
}

void part_slot_set_emissive(Task* task, int index, uint32_t argb) {
  if (PartSlot* slot = slot_at(task, index)) {
    slot->colours.emissive = argb;
    slot->colour_is_default = colour_block_is_default(&slot->colours);
  }
}

void part_slot_set_colour_c3_w(Task* task, int index, uint32_t specular, float power) {
  if (PartSlot* slot = slot_at(task, index)) {
    slot->colours.specular = specular;
    slot->colours.power = power;
    slot->colour_is_default = colour_block_is_default(&slot->colours);
  }
}

void part_slot_set_scale(Task* task, int index, float scale) {
  if (PartSlot* slot = slot_at(task, index)) {
    slot->colours.scale = scale;
    slot->colour_is_default = colour_block_is_default(&slot->colours);
  }
}

void part_slot_set_flags_7_11(Task* task, int index, uint32_t v) { set_slot_field(task, index, 7, 5, v); }
void part_slot_set_flags_12_14(Task* task, int index, uint32_t v) { set_slot_field(task, index, 12, 3, v); }
void part_slot_set_flags_19_21(Task* task, int index, uint32_t v) { set_slot_field(task, index, 19, 3, v); }
void part_slot_set_flags_22_24(Task* task, int index, uint32_t v) { set_slot_field(task, index, 22, 3, v); }
void part_slot_set_flags_25_26(Task* task, int index, uint32_t v) { set_slot_field(task, index, 25, 2, v); }
void part_slot_set_flags_27_28(Task* task, int index, uint32_t v) { set_slot_field(task, index, 27, 2, v); }

void model_part_slot_set_mode_and_params(Task* task, int index, uint16_t mode, const void* data, uint32_t size) {
  PartSlot* slot = slot_at(task, index);
  if (slot == nullptr) return;
  slot->mode = mode;
  if (data != nullptr && size != 0) {
    std::memcpy(slot->shader_data, data, size < kPartShaderDataSize ? size : kPartShaderDataSize);
  }
}

void model_part_slot_copy_mode(Task* task, int index) {
  PartSlot* slot = slot_at(task, index);
  if (slot == nullptr) return;
  const ModelPart* part = task_data<ModelPart>(task);
  slot->mode = part->mode;
  std::memcpy(slot->shader_data, part->shader_data, kPartShaderDataSize);
}

const ColourBlock* part_slot_colour_block(Task* task, int index) {
  const PartSlot* slot = slot_at(task, index);
  return slot != nullptr ? &slot->colours : nullptr;
}

uint16_t part_slot_mode(Task* task, int index) {
  const PartSlot* slot = slot_at(task, index);
  return slot != nullptr ? slot->mode : 0;
}

const void* part_slot_shader_data(Task* task, int index) {
  const PartSlot* slot = slot_at(task, index);
  return slot != nullptr ? slot->shader_data : nullptr;
}

uint32_t part_slot_mesh(Task* task, int index) {
  const PartSlot* slot = slot_at(task, index);
  return slot != nullptr ? slot->mesh : 0;
}

const Mat4* part_slot_matrix(Task* task, int index) {
  const PartSlot* slot = slot_at(task, index);
  return slot != nullptr ? slot->matrix : nullptr;
}

uint32_t part_slot_diffuse(Task* task, int index) {
  const PartSlot* slot = slot_at(task, index);
  return slot != nullptr ? slot->colours.diffuse : 0xFFFFFFFFu;
}

// ---------------------------------------------------------------- motion

void model_part_set_motion(Task* task, int32_t tree, int32_t animation) {
  MotionPlayer* p = player_of(task);
  if (p == nullptr) return;
  const uint32_t first = motion_bind(p, tree, animation);
  if (animation != 0) update_player(task, static_cast<int32_t>(motion_current_frame(p)), first);
  if (animation > 0 && task_data<ModelPart>(task)->colliders != nullptr) model_part_bind_bone_colliders(task, -1, 0);
}

void model_part_update_motion(Task* task, int32_t frame) {
  if (player_of(task) != nullptr) update_player(task, frame, 0);
}

uint32_t model_part_frame(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? motion_current_frame(p) : 0;
}

uint32_t model_part_length(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? motion_length(p) : 0;
}

uint32_t model_part_loops_done(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? p->loops_done : 0;
}

uint32_t model_part_frames_played(Task* task) {
  return model_part_frame(task) + model_part_length(task) * model_part_loops_done(task);
}

bool model_part_is_playing(Task* task, uint32_t limit) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr && motion_is_playing(p, limit);
}

bool model_part_at_end(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr && motion_at_end(p);
}

void model_part_set_frame(Task* task, int32_t frame) {
  MotionPlayer* p = player_of(task);
  if (p == nullptr) return;
  const int32_t lo = static_cast<int32_t>(p->start >> 16);
  const int32_t hi = static_cast<int32_t>(motion_length(p)) - 1;
  int32_t f = frame < lo ? lo : frame;
  if (f > hi) f = hi < lo ? lo : hi;
  motion_set_time(p, static_cast<uint32_t>(f) << 16);
}

void model_part_set_loop(Task* task, uint32_t on) {
  if (MotionPlayer* p = player_of(task)) motion_set_loop(p, on);
}

void model_part_set_speed(Task* task, float frames_per_update) {
  if (MotionPlayer* p = player_of(task)) motion_set_speed(p, frames_per_update);
}

uint32_t model_part_bone_tree(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? p->bone_tree : 0;
}

int32_t model_part_find_bone(Task* task, const char* name) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr && name != nullptr ? bone_find_by_name(p, name) : -1;
}

BonePose* model_part_bone_matrix(Task* task, int32_t index, uint32_t force) {
  ModelPart* part = task_data<ModelPart>(task);
  return part->motion != nullptr ? bone_world_matrix(part->motion, index, &part->world, force) : nullptr;
}

MotionPlayer* model_part_player(Task* task) { return player_of(task); }

bool model_part_is_culled(Task* task, int view, const Frustum* frustum, bool use_bounds) {
  ModelPart* part = task_data<ModelPart>(task);
  Plane scratch[6];
  const Plane* planes = part_query_planes(scratch, view, frustum);
  Vec3 position = translation(&part->world);
  Mat4 rest;
  const MotionPlayer* p = part->motion;
  if (p != nullptr && payload_mat4(bone_tree_view(p->bone_tree), p->root_rest, &rest)) {
    // The root's rest transform first, then the part's world matrix.
    Mat4 placed;
    mat4_multiply(&placed, &part->world, &rest);
    position = translation(&placed);
  }
  PartMesh mesh;
  const float radius = use_bounds && part_mesh_get(part->model_this_frame, &mesh) ? mesh.inner_radius : 0.0f;
  return !part_sphere_in_frustum(planes, &position, radius);
}

// ---------------------------------------------------------------- drawing

void model_part_draw(Task* const* tasks, int count) {
  const PartPassFlags pass = part_pass_flags();
  const int view = get_current_view();
  const PartEye eye = part_pass_eye(view, pass);
  const bool pass_model_allowed = pass.light_view || pass.mirror;

  PartLists lists;
  part_lists_begin(&lists);
  for (int k = 0; k < count; ++k) {
    Task* task = tasks[k];
    ModelPart* part = task_data<ModelPart>(task);
    const MotionPlayer* p = part->motion;
    const Vec3 position = p != nullptr && p->bones != nullptr ? translation(&p->bones->world) : translation(&part->world);
    const float d2 = part_distance_sq(&eye.position, &position);
    std::memcpy(&task->user, &d2, sizeof(d2));
    part->model_this_frame = choose_model(part, d2, pass_model_allowed);
    PartMesh mesh;
    if (part_mesh_get(part->model_this_frame, &mesh) && (part->flags & kRenderFlagSphereCull) &&
        (d2 - mesh.far_bias > eye.far_sq || !part_sphere_in_frustum(eye.planes, &position, mesh.outer_radius))) {
      continue;
    }
    part_lists_add(&lists, task, part->flags, false, 0);
  }
  // The batch states are set even when every part was culled, so a batch
  // always leaves the device as its end says.
  const int n = part_lists_finish(&lists, false);
  Task** order = part_sort_scratch();
  part_batch_begin(kPartBatchModel, view);
  GpuDevice* device = gfx_device();
  int32_t* last_model = part_batch_last_model();
  const int32_t pass_index = part_render_block()->pass_index;
  for (int k = 0; k < n; ++k) {
    Task* task = order[k];
    ModelPart* part = task_data<ModelPart>(task);
    PartMesh mesh;
    const bool has_mesh = part_mesh_get(part->model_this_frame, &mesh);
    ShaderPointLight lights[kPartLightCount];
    int light_count = 0;
    if (part->flags & kRenderFlagLightSpheres) {
      const MotionPlayer* p = part->motion;
      const Vec3 position =
          p != nullptr && p->bones != nullptr ? translation(&p->bones->world) : translation(&part->world);
      light_count = part_query_lights(lights, view, &position, has_mesh ? mesh.outer_radius : 0.0f);
    }
    const ShaderPointLight* light_list = light_count > 0 ? lights : nullptr;
    part_draw_mesh(device, task, part->model_this_frame, part->texture_override, &part->world, part->motion,
                   &part->colours, &part->flags, pass, part->mode, part->shader_data, last_model, part->alpha,
                   light_list, light_count);
    // Slots with RenderFlags bit 0 clear first, then those with it set.
    for (uint32_t p = 0; p < 2; ++p) {
      for (uint16_t index : part->slots) {
        PartSlot* slot = part_slot_from_index(index);
        if (slot == nullptr || (slot->slot_flags & kPartSlotEnabled) == 0 || slot->mesh == 0) continue;
        if ((slot->slot_flags & kPartSlotAllPasses) == 0 && pass_index != 0) continue;
        if ((slot->flags & 1u) != p) continue;
        // A skinned slot is posed by the part's player over the part's world
        // matrix.
        const bool skinned = (slot->slot_flags & kPartSlotSkinned) != 0;
        Mat4 world = slot->matrix != nullptr && !skinned ? *slot->matrix : part->world;
        part_draw_mesh(device, task, slot->mesh, 0, &world, skinned ? part->motion : nullptr, &slot->colours,
                       &slot->flags, pass, slot->mode, slot->shader_data, last_model, slot->alpha, light_list,
                       light_count);
      }
    }
  }
  part_batch_end();
}
