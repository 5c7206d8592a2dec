// Bone records of a motion player: lookup by index and name, world and skin
// matrices, and the one-shot override setters the next update applies.
#include <algorithm>
#include <cstring>

#include "assets/asset_registry.h"
#include "scene3d/animation.h"

namespace {

BonePose* bone_at(const MotionPlayer* p, int32_t index) {
  if (p == nullptr || index < 0) return nullptr;
  return bone_chain_nth(p->bones, index);
}

void mark_override(MotionPlayer* p, uint32_t kind) { p->flags |= 1u << (10 + kind); }

void set_kind(BonePose* b, uint32_t kind) { b->flags = (b->flags & ~kBoneKindMask) | (kind << kBoneKindShift); }

bool set_matrix_override(MotionPlayer* p, int32_t index, const Mat4* m, float weight, uint32_t remap,
                         uint32_t kind) {
  if (p == nullptr) return false;
  mark_override(p, kind);
  BonePose* b = bone_at(p, index);
  if (b == nullptr) return false;
  if (m != nullptr && weight != 0.0f) {
    if (remap) mat4_remap_axes(&b->override_matrix, m);
    else b->override_matrix = *m;
    b->weight = weight;
    set_kind(b, kind);
  } else {
    mat4_identity(&b->override_matrix);
    b->weight = 0.0f;
    set_kind(b, kBoneOverrideNone);
  }
  return true;
}

}  // namespace

int32_t bone_find_by_name(const MotionPlayer* p, const char* name) {
  if (p == nullptr || name == nullptr) return -1;
  const uint32_t hash = hash_name(name);
  int32_t i = 0;
  for (const BonePose* b = p->bones; b != nullptr; b = b->next, ++i) {
    if (b->name != nullptr && b->name_hash == hash && std::strcmp(b->name, name) == 0) return i;
  }
  return -1;
}

const char* bone_name_of(const MotionPlayer* p, int32_t index) {
  const BonePose* b = bone_at(p, index);
  return b != nullptr ? b->name : nullptr;
}

BonePose* bone_world_matrix(MotionPlayer* p, int32_t index, const Mat4* world, uint32_t force) {
  BonePose* b = bone_at(p, index);
  if (b == nullptr) return nullptr;
  if (force || !(b->flags & kBoneWorldValid)) {
    if (world != nullptr) mat4_multiply(&b->world, world, &b->pose);
    else b->world = b->pose;
    b->flags |= kBoneWorldValid;
  }
  return b;
}

const Mat4* motion_skin_matrix(const MotionPlayer* p, int32_t index) {
  const BonePose* b = bone_at(p, index);
  return b != nullptr ? &b->skin : nullptr;
}

bool bone_set_ik_target(MotionPlayer* p, int32_t index, const Vec3* target, float weight, int32_t chain) {
  if (p == nullptr) return false;
  mark_override(p, kBoneOverrideIk);
  BonePose* b = bone_at(p, index);
  if (b == nullptr || target == nullptr) return false;
  b->target = *target;
  b->weight = weight;
  const uint32_t length = static_cast<uint32_t>(std::clamp(chain, 3, 255));
  b->flags = (b->flags & ~kBoneChainMask) | length;
  set_kind(b, kBoneOverrideIk);
  return true;
}

bool bone_set_look_at(MotionPlayer* p, int32_t index, const Vec3* target, const Vec3* up, float weight) {
  if (p == nullptr) return false;
  mark_override(p, kBoneOverrideLookAt);
  BonePose* b = bone_at(p, index);
  if (b == nullptr || target == nullptr) return false;
  b->target = *target;
  if (up != nullptr) {
    b->up = *up;
    b->flags &= ~kBoneNoUpHint;
  } else {
    b->up = Vec3{1.0f, 0.0f, 0.0f};
    b->flags |= kBoneNoUpHint;
  }
  b->weight = weight;
  set_kind(b, kBoneOverrideLookAt);
  return true;
}

bool bone_set_local_override(MotionPlayer* p, int32_t index, const Mat4* m, float weight, uint32_t remap) {
  return set_matrix_override(p, index, m, weight, remap, kBoneOverrideLocal);
}

bool bone_set_world_override(MotionPlayer* p, int32_t index, const Mat4* m, float weight, uint32_t remap) {
  return set_matrix_override(p, index, m, weight, remap, kBoneOverrideWorld);
}
