#include <cstdio>
#include <cstring>

#include "assets/model_records.h"
#include "scene3d/animation.h"
#include "scene3d/bone_stream.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/ray_collision.h"

namespace {

constexpr size_t kCollisionNameSize = 128;

// "CM_" and the name; false when it does not fit.
bool collision_name(char* out, const char* name) {
  const int n = std::snprintf(out, kCollisionNameSize, "CM_%s", name);
  return n > 0 && static_cast<size_t>(n) < kCollisionNameSize;
}

}  // namespace

BonePose* part_find_pose(MotionPlayer* player, uint32_t hash, const char* name) {
  if (player == nullptr || name == nullptr) return nullptr;
  for (BonePose* b = player->bones; b != nullptr; b = b->next) {
    if (b->name_hash == hash && b->name != nullptr && std::strcmp(b->name, name) == 0) return b;
  }
  return nullptr;
}

uint32_t model_part_collider_total(Task* task) {
  uint32_t n = 0;
  for (const Collider* c = task_data<ModelPart>(task)->colliders; c != nullptr; c = c->chained) ++n;
  return n;
}

Collider* model_part_collider_at(Task* task, uint32_t n) {
  Collider* c = task_data<ModelPart>(task)->colliders;
  for (; c != nullptr && n > 0; --n) c = c->chained;
  return c;
}

void model_part_bind_bone_colliders(Task* task, int32_t tree, uint32_t category) {
  ModelPart* part = task_data<ModelPart>(task);
  const Collider* first = part->colliders;
  const uint32_t kept = first != nullptr ? first->flags & (kColliderEnabled | kColliderGround) : kColliderEnabled;
  collider_release(part->colliders);
  part->colliders = nullptr;
  MotionPlayer* p = part->motion;
  if (p == nullptr) return;
  const AssetHandle tree_handle = static_cast<AssetHandle>(tree < 0 ? p->bone_tree : static_cast<uint32_t>(tree));
  const BoneTreeRecord* record = get_bone_tree_record(tree_handle);
  if (record == nullptr) return;
  const PayloadView stream = bone_tree_view(tree_handle);
  Collider** tail = &part->colliders;
  for (BonePose* b = p->bones; b != nullptr; b = b->next) {
    char a[kCollisionNameSize];
    if (b->name == nullptr || !collision_name(a, b->name)) continue;
    const uint32_t hash_a = part_name_hash(a);
    bone_stream_walk(stream, [&](const BoneStreamOp& op) {
      if (op.op != BONE_OP_NODE) return true;
      uint32_t hash = 0;
      const char* node = bone_node_name(stream, op.at, &hash);
      char name[kCollisionNameSize];
      if (node == nullptr || !collision_name(name, node)) return true;
      if (part_name_hash(name) != hash_a || std::strcmp(a, name) != 0) return true;
      const AssetHandle mesh = find_collision(record->head.package, name);
      if (mesh == 0) return true;
      // The node's operation in the stream is its data: ray hits hand it out,
      // so a caller can tell which bone was hit.
      const uintptr_t node_data = reinterpret_cast<uintptr_t>(stream.data + op.at);
      Collider* c = collider_create_mesh(mesh, &b->world, category, collider_next_serial(), 0, node_data);
      if (c == nullptr) return false;
      c->flags = (c->flags & ~(kColliderEnabled | kColliderGround)) | kept;
      *tail = c;
      tail = &c->chained;
      return true;
    });
  }
}

void model_part_for_each_bone_pair(Task* task, BonePairFn fn, void* argument) {
  if (fn == nullptr) return;
  MotionPlayer* p = task_data<ModelPart>(task)->motion;
  if (p == nullptr) return;
  const PayloadView stream = bone_tree_view(p->bone_tree);
  const char* names[kBonePairLevels] = {};
  uint32_t hashes[kBonePairLevels] = {};
  // Levels past the stack are counted, not recorded, so their pops still
  // pair with their pushes.
  int level = 0;
  bone_stream_walk(stream, [&](const BoneStreamOp& op) {
    switch (op.op) {
      case BONE_OP_NODE:
        if (level < kBonePairLevels) names[level] = bone_node_name(stream, op.at, &hashes[level]);
        break;
      case BONE_OP_PUSH:
        ++level;
        if (level < kBonePairLevels) names[level] = nullptr;
        break;
      case BONE_OP_POP:
        if (level <= 0) return false;
        if (level < kBonePairLevels) {
          const int up = level - 1;
          fn(task, part_find_pose(p, hashes[up], names[up]), names[up], part_find_pose(p, hashes[level], names[level]),
             names[level], argument);
        }
        --level;
        break;
      default: break;
    }
    return true;
  });
}

namespace {

// Flag 1 enables a Collider and clears its ground bit; flag 2 sets the
// ground bit.
void apply_collider_flag(Collider* c, int flag) {
  if (flag == 1) {
    c->flags = (c->flags | kColliderEnabled) & ~kColliderGround;
  } else {
    c->flags |= kColliderGround;
  }
}

bool apply_collider_flag_by_name(Task* task, const char* name, int flag) {
  if (name == nullptr) return false;
  for (Collider* c = task_data<ModelPart>(task)->colliders; c != nullptr; c = c->chained) {
    const char* own = reinterpret_cast<const char*>(c->user_a);
    if (own != nullptr && std::strcmp(own, name) == 0) {
      apply_collider_flag(c, flag);
      return true;
    }
  }
  return false;
}

}  // namespace

void model_part_colliders_set_flag_1(Task* task) {
  for (Collider* c = task_data<ModelPart>(task)->colliders; c != nullptr; c = c->chained) apply_collider_flag(c, 1);
}

void model_part_colliders_set_flag_2(Task* task) {
  for (Collider* c = task_data<ModelPart>(task)->colliders; c != nullptr; c = c->chained) apply_collider_flag(c, 2);
}

bool model_part_collider_set_flag_1_by_name(Task* task, const char* name) {
  return apply_collider_flag_by_name(task, name, 1);
}

bool model_part_collider_set_flag_2_by_name(Task* task, const char* name) {
  return apply_collider_flag_by_name(task, name, 2);
}
