#include "scene3d/animation.h"

#include <cstring>

namespace {

AnimationBlock block;

void bone_defaults(BonePose* b) {
  mat4_identity(&b->world);
  mat4_identity(&b->pose);
  mat4_identity(&b->skin);
  mat4_identity(&b->snapshot);
  mat4_identity(&b->override_matrix);
  b->up = Vec3{0, 0, 0};
  b->target = Vec3{0, 0, 0};
  b->weight = 0.0f;
  b->flags = 0;
  b->track = 0;
  b->mirror_track = 0;
  b->mesh_bone = kBoneNoTrack;
  b->name = nullptr;
  b->name_hash = 0;
  if (b->particle != nullptr) anim_aux_free(b->particle);
  b->particle = nullptr;
  b->parent = nullptr;
}

}  // namespace

void anim_init() {
  std::memset(static_cast<void*>(&block), 0, sizeof(block));
  motion_pool_reset();
  bone_pool_reset();
  anim_aux_pool_reset();
}

void anim_release() {
  motion_pool_reset();
  bone_pool_reset();
  anim_aux_pool_reset();
}

void motion_pool_reset() {
  for (int i = 0; i < kMotionPlayerPoolSize; ++i) {
    MotionPlayer& p = block.players[i];
    p.in_use = 0;
    p.prev = i > 0 ? &block.players[i - 1] : nullptr;
    p.next = i + 1 < kMotionPlayerPoolSize ? &block.players[i + 1] : nullptr;
  }
  block.player_free = &block.players[0];
  block.player_used = nullptr;
}

void bone_pool_reset() {
  for (int i = 0; i < kBonePosePoolSize; ++i) {
    BonePose& b = block.bones[i];
    b.particle = nullptr;
    b.prev = i > 0 ? &block.bones[i - 1] : nullptr;
    b.next = i + 1 < kBonePosePoolSize ? &block.bones[i + 1] : nullptr;
  }
  block.bone_free = &block.bones[0];
  block.bone_count = 0;
}

void anim_aux_pool_reset() {
  for (int i = 0; i < kSpringParticlePoolSize; ++i) {
    SpringParticle& s = block.particles[i];
    s.in_use = 0;
    s.prev_link = i > 0 ? &block.particles[i - 1] : nullptr;
    s.next_link = i + 1 < kSpringParticlePoolSize ? &block.particles[i + 1] : nullptr;
  }
  block.particle_free = &block.particles[0];
  block.particle_used = nullptr;
  block.particle_count = 0;
}

void motion_set_defaults(MotionPlayer* p) {
  if (p == nullptr) return;
  p->bone_tree = 0;
  p->animation = 0;
  p->speed = kMotionOneFrame;
  p->time = p->start = p->loop_point = p->end = 0;
  p->loops_done = 0;
  p->loop_limit = kMotionEndless;
  p->flags = kMotionLoop | kMotionRootNone;
  p->fade_length = p->fade_left = 0;
  p->root_rest = 0;
}

MotionPlayer* motion_create() {
  MotionPlayer* p = block.player_free;
  if (p == nullptr) return nullptr;
  block.player_free = p->next;
  if (block.player_free != nullptr) block.player_free->prev = nullptr;
  std::memset(static_cast<void*>(p), 0, sizeof(*p));
  p->in_use = 1;
  p->next = block.player_used;
  if (block.player_used != nullptr) block.player_used->prev = p;
  block.player_used = p;
  motion_set_defaults(p);
  return p;
}

void motion_clear(MotionPlayer* p) {
  if (p == nullptr) return;
  bone_chain_free(p->bones);
  MotionPlayer* prev = p->prev;
  MotionPlayer* next = p->next;
  const uint32_t in_use = p->in_use;
  std::memset(static_cast<void*>(p), 0, sizeof(*p));
  p->prev = prev;
  p->next = next;
  p->in_use = in_use;
}

void motion_release(MotionPlayer* p) {
  if (p == nullptr || !p->in_use) return;
  motion_clear(p);
  if (p->prev != nullptr) p->prev->next = p->next;
  else block.player_used = p->next;
  if (p->next != nullptr) p->next->prev = p->prev;
  p->in_use = 0;
  p->prev = nullptr;
  p->next = block.player_free;
  if (block.player_free != nullptr) block.player_free->prev = p;
  block.player_free = p;
}

int motion_player_count() {
  int n = 0;
  for (const MotionPlayer* p = block.player_used; p != nullptr; p = p->next) ++n;
  return n;
}

BonePose* bone_chain_alloc(int n, BonePose** out_last) {
  if (n < 1) n = 1;
  if (block.bone_count + static_cast<uint32_t>(n) > kBonePosePoolSize) return nullptr;
  BonePose* first = block.bone_free;
  BonePose* last = first;
  for (int i = 1; i < n && last != nullptr; ++i) last = last->next;
  if (first == nullptr || last == nullptr) return nullptr;
  block.bone_free = last->next;
  if (block.bone_free != nullptr) block.bone_free->prev = nullptr;
  last->next = nullptr;
  first->prev = nullptr;
  for (BonePose* b = first; b != nullptr; b = b->next) bone_defaults(b);
  block.bone_count += static_cast<uint32_t>(n);
  if (out_last != nullptr) *out_last = last;
  return first;
}

void bone_chain_free(BonePose* first) {
  while (first != nullptr) {
    BonePose* next = first->next;
    if (first->particle != nullptr) anim_aux_free(first->particle);
    first->particle = nullptr;
    first->prev = nullptr;
    first->next = block.bone_free;
    if (block.bone_free != nullptr) block.bone_free->prev = first;
    block.bone_free = first;
    --block.bone_count;
    first = next;
  }
}

BonePose* bone_chain_nth(BonePose* first, int i) {
  if (i < 0) return nullptr;
  while (first != nullptr && i-- > 0) first = first->next;
  return first;
}

uint32_t bone_pose_count() { return block.bone_count; }

SpringParticle* anim_aux_alloc() {
  SpringParticle* s = block.particle_free;
  if (s == nullptr) return nullptr;
  block.particle_free = s->next_link;
  if (block.particle_free != nullptr) block.particle_free->prev_link = nullptr;
  std::memset(static_cast<void*>(s), 0, sizeof(*s));
  s->in_use = 1;
  s->next_link = block.particle_used;
  if (block.particle_used != nullptr) block.particle_used->prev_link = s;
  block.particle_used = s;
  ++block.particle_count;
  return s;
}

void anim_aux_free(SpringParticle* s) {
  if (s == nullptr || !s->in_use) return;
  s->in_use = 0;
  if (s->prev_link != nullptr) s->prev_link->next_link = s->next_link;
  else block.particle_used = s->next_link;
  if (s->next_link != nullptr) s->next_link->prev_link = s->prev_link;
  s->prev_link = nullptr;
  s->next_link = block.particle_free;
  if (block.particle_free != nullptr) block.particle_free->prev_link = s;
  block.particle_free = s;
  --block.particle_count;
}

uint32_t anim_aux_count() { return block.particle_count; }
