// Motion players and bone poses: the pools behind skeletal animation. A
// MotionPlayer plays one animation on one bone tree in 16.16 fixed-point
// time and poses a chain of BonePose records, one per node; spring bones
// take particles from a small pool of their own.
//
// Main thread only.
#pragma once

#include <cstdint>

#include "math/mat4.h"
#include "math/vec.h"

constexpr int kMotionPlayerPoolSize = 256;
constexpr int kBonePosePoolSize = 6400;
constexpr int kSpringParticlePoolSize = 64;
constexpr uint32_t kMotionOneFrame = 0x10000;  // one frame in 16.16
constexpr uint32_t kMotionEndless = 0xFFFFFFFFu;
constexpr uint16_t kBoneNoTrack = 0xFFFF;

// MotionPlayer flags.
enum : uint32_t {
  kMotionNodeCountMask = 0xFFu,
  kMotionRootLockShift = 8,
  kMotionLoop = 1u << 16,
  kMotionFading = 1u << 17,
  kMotionMirrored = 1u << 18,
  kMotionReverse = 1u << 19,
  kMotionSprings = 1u << 20,
  kMotionUpdated = 1u << 21,
  kMotionRootIndexShift = 24,
  kMotionRootNone = 0xFFu << 24,
};

struct SpringParticle {
  Vec3 pos;
  Vec3 prev;
  Vec3 vel;
  float rest_length;
  uint32_t in_use;
  SpringParticle* prev_link;
  SpringParticle* next_link;
};

struct BonePose {
  Mat4 world;
  Mat4 pose;
  Mat4 skin;
  Mat4 snapshot;
  Mat4 override_matrix;
  Vec3 up;
  Vec3 target;
  float weight;
  uint32_t flags;  // bits 0-7 chain length, 8-10 override kind, 11 world valid, 12 no up hint, 13 spring
  // Indices are 16 bits wide so that an animation of more than 255 tracks
  // cannot alias one track onto another.
  uint16_t track;
  uint16_t mirror_track;
  uint16_t mesh_bone;
  const char* name;
  uint32_t name_hash;
  SpringParticle* particle;
  BonePose* parent;
  BonePose* prev;
  BonePose* next;
};

struct MotionPlayer {
  uint32_t bone_tree;
  uint32_t animation;
  uint32_t flags;
  uint32_t speed;  // 16.16 frames per update
  uint32_t start;
  uint32_t loop_point;
  uint32_t time;
  uint32_t loops_done;
  uint32_t loop_limit;
  uint32_t end;
  uint32_t fade_length;
  uint32_t fade_left;
  Vec3 root_pos;
  Vec3 root_pos_prev;
  const float* root_rest;
  BonePose* bones;
  BonePose* bones_last;
  const void* skin_mesh;
  uint32_t in_use;
  MotionPlayer* prev;
  MotionPlayer* next;
};

struct AnimationBlock {
  MotionPlayer players[kMotionPlayerPoolSize];
  MotionPlayer* player_used;
  MotionPlayer* player_free;
  BonePose bones[kBonePosePoolSize];
  BonePose* bone_free;
  uint32_t bone_count;
  SpringParticle particles[kSpringParticlePoolSize];
  SpringParticle* particle_used;
  SpringParticle* particle_free;
  uint32_t particle_count;
};

// Graphics start-up and component reset: the block zeroed, then the three
// pool resets.
void anim_init();
// Graphics shutdown and component clear: the three pool resets.
void anim_release();
// Each links its records into the free list in index order and empties the
// used list.
void motion_pool_reset();
void bone_pool_reset();
void anim_aux_pool_reset();

// A zeroed player with the defaults, at the front of the used list; null
// when all 256 are in use.
MotionPlayer* motion_create();
void motion_set_defaults(MotionPlayer* player);
// Frees the bone chain and zeroes every field but the links.
void motion_clear(MotionPlayer* player);
// Null, or a player already released, is ignored.
void motion_release(MotionPlayer* player);
int motion_player_count();

// The first n free records as one chain (n below 1 takes one); null, taking
// nothing, when fewer are free.
BonePose* bone_chain_alloc(int n, BonePose** out_last);
void bone_chain_free(BonePose* first);
BonePose* bone_chain_nth(BonePose* first, int i);
uint32_t bone_pose_count();

// A zeroed particle on the used list; null when all 64 are in use.
SpringParticle* anim_aux_alloc();
// Null, or a particle already free, is ignored.
void anim_aux_free(SpringParticle* particle);
uint32_t anim_aux_count();
