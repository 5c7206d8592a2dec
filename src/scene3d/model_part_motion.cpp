// The rest of the model part's forwarders to its player. Without a player
// (the pool was full when the part was made) each does nothing and answers
// its neutral value.
#include <cmath>

#include "scene3d/animation.h"
#include "scene3d/part_classes.h"

namespace {

MotionPlayer* player_of(Task* task) { return task_data<ModelPart>(task)->motion; }
const Mat4* world_of(Task* task) { return &task_data<ModelPart>(task)->world; }

}  // namespace

bool model_part_is_playing_to_limit(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr && motion_is_playing_to_limit(p);
}

bool model_part_was_fading(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr && (p->flags & kMotionFading) != 0;
}

bool model_part_at_start(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr && motion_at_start(p);
}

uint32_t model_part_start_frame(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? p->start >> 16 : 0;
}

void model_part_set_start_frame(Task* task, uint32_t frame) {
  if (MotionPlayer* p = player_of(task)) p->start = frame << 16;
}

uint32_t model_part_loop_frame(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? p->loop_point >> 16 : 0;
}

void model_part_set_loop_frame(Task* task, uint32_t frame) {
  if (MotionPlayer* p = player_of(task)) p->loop_point = frame << 16;
}

uint32_t model_part_motion_id(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? p->animation : 0;
}

void model_part_set_loop_limit(Task* task, uint32_t count) {
  if (MotionPlayer* p = player_of(task)) motion_set_loop_limit(p, count);
}

void model_part_set_mirror(Task* task, uint32_t on, uint32_t fade) {
  MotionPlayer* p = player_of(task);
  if (p == nullptr) return;
  if (fade) motion_arm_crossfade(p);
  motion_set_mirror(p, on);
}

void model_part_set_reverse(Task* task, uint32_t on) {
  if (MotionPlayer* p = player_of(task)) motion_set_reverse(p, on);
}

void model_part_set_crossfade(Task* task, int32_t updates) {
  if (MotionPlayer* p = player_of(task)) motion_set_crossfade(p, updates);
}

void model_part_arm_crossfade(Task* task) {
  if (MotionPlayer* p = player_of(task)) motion_arm_crossfade(p);
}

void model_part_set_root_lock(Task* task, uint32_t mode) {
  if (MotionPlayer* p = player_of(task)) motion_set_root_lock(p, mode);
}

Mat4* model_part_root_matrix(Task* task, Mat4* out) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? motion_root_matrix(p, out) : nullptr;
}

bool model_part_root_xyz(Task* task, Vec3* out) {
  Mat4 m;
  if (model_part_root_matrix(task, &m) == nullptr) return false;
  *out = Vec3{m.m[12], m.m[13], m.m[14]};
  return true;
}

bool model_part_root_xz(Task* task, float* out_x, float* out_z) {
  Vec3 v;
  if (!model_part_root_xyz(task, &v)) return false;
  *out_x = v.x;
  *out_z = v.z;
  return true;
}

bool model_part_root_angles(Task* task, Vec3* out) {
  Mat4 m;
  if (model_part_root_matrix(task, &m) == nullptr) return false;
  mat4_to_euler_yxz(out, &m);
  return true;
}

Vec3* model_part_root_delta(Task* task, Vec3* out) {
  const MotionPlayer* p = player_of(task);
  if (p == nullptr) {
    *out = Vec3{0.0f, 0.0f, 0.0f};
    return out;
  }
  return motion_root_delta(p, out);
}

Vec3* model_part_root_delta_world(Task* task, Vec3* out) {
  Vec3 local;
  model_part_root_delta(task, &local);
  return mat4_transform_direction(out, world_of(task), &local);
}

Vec3* model_part_root_delta_flat(Task* task, Vec3* out) {
  model_part_root_delta(task, out);
  out->y = 0.0f;
  return out;
}

Vec3* model_part_root_delta_flat_world(Task* task, Vec3* out) {
  model_part_root_delta_world(task, out);
  out->y = 0.0f;
  return out;
}

float model_part_root_step(Task* task) {
  Vec3 d;
  model_part_root_delta(task, &d);
  const float sq = vec3_length_sq(&d);
  return sq < 1e-10f ? 0.0f : std::sqrt(sq);
}

float model_part_root_step_flat(Task* task) {
  Vec3 d;
  model_part_root_delta(task, &d);
  return std::sqrt(d.x * d.x + d.z * d.z);
}

uint32_t model_part_node_count(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? motion_node_count(p) : 0;
}

const char* model_part_bone_name(Task* task, int32_t index) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? bone_name_of(p, index) : nullptr;
}

uint32_t model_part_root_bone(Task* task) {
  const MotionPlayer* p = player_of(task);
  return p != nullptr ? motion_root_index(p) : 0xFFu;
}

BonePose* model_part_bone_matrix_by_name(Task* task, const char* name) {
  return model_part_bone_matrix(task, model_part_find_bone(task, name), 0);
}

bool model_part_bone_ik(Task* task, int32_t index, const Vec3* target, float weight, int32_t chain) {
  MotionPlayer* p = player_of(task);
  return p != nullptr && bone_set_ik_target(p, index, target, weight, chain);
}

bool model_part_bone_look_at(Task* task, int32_t index, const Vec3* target, const Vec3* up, float weight) {
  MotionPlayer* p = player_of(task);
  return p != nullptr && bone_set_look_at(p, index, target, up, weight);
}

bool model_part_bone_local_override(Task* task, int32_t index, const Mat4* m, float weight, uint32_t remap) {
  MotionPlayer* p = player_of(task);
  return p != nullptr && bone_set_local_override(p, index, m, weight, remap);
}

bool model_part_bone_world_override(Task* task, int32_t index, const Mat4* m, float weight, uint32_t remap) {
  MotionPlayer* p = player_of(task);
  return p != nullptr && bone_set_world_override(p, index, m, weight, remap);
}

bool model_part_bone_ik_by_name(Task* task, const char* name, const Vec3* target, float weight, int32_t chain) {
  return model_part_bone_ik(task, model_part_find_bone(task, name), target, weight, chain);
}

bool model_part_bone_look_at_by_name(Task* task, const char* name, const Vec3* target, const Vec3* up, float weight) {
  return model_part_bone_look_at(task, model_part_find_bone(task, name), target, up, weight);
}

bool model_part_bone_local_override_by_name(Task* task, const char* name, const Mat4* m, float weight,
                                            uint32_t remap) {
  return model_part_bone_local_override(task, model_part_find_bone(task, name), m, weight, remap);
}

bool model_part_bone_world_override_by_name(Task* task, const char* name, const Mat4* m, float weight,
                                            uint32_t remap) {
  return model_part_bone_world_override(task, model_part_find_bone(task, name), m, weight, remap);
}

bool model_part_set_springs(Task* task, const char* name, uint32_t on) {
  MotionPlayer* p = player_of(task);
  return p != nullptr && bone_set_springs(p, name, on);
}
