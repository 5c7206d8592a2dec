// Motion players and bone poses: the pools behind skeletal animation. A
// MotionPlayer plays one animation on one bone tree in 16.16 fixed-point
// time and poses a chain of BonePose records, one per node; spring bones
// take particles from a small pool of their own.
//
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>

#include "math/mat4.h"
#include "math/vec.h"

struct ShaderBoneSource;

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
  kMotionRootLockMask = 7u << 8,
  kMotionOverrideMask = 0x1Fu << 11,
  kMotionRootIndexMask = 0xFFu << 24,
};

// BonePose flags.
enum : uint32_t {
  kBoneChainMask = 0xFFu,
  kBoneKindShift = 8,
  kBoneKindMask = 7u << 8,
  kBoneWorldValid = 1u << 11,
  kBoneNoUpHint = 1u << 12,
  kBoneSpring = 1u << 13,
};

// One-shot override kinds. The player's override mask holds bit 10 + kind.
enum BoneOverrideKind : uint32_t {
  kBoneOverrideNone = 0,
  kBoneOverrideIk = 1,
  kBoneOverrideLookAt = 2,
  kBoneOverrideLocal = 3,
  kBoneOverrideWorld = 4,
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
  // Offset of the root bone's rest matrix (16 floats) in the bone tree's node
  // stream; 0 = none (a matrix never starts at offset 0).
  uint32_t root_rest;
  BonePose* bones;
  BonePose* bones_last;
  const ShaderBoneSource* skin_mesh;
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

// ---------------------------------------------------------------- players
//
// Time is 16.16 fixed point: 0x10000 is one frame. A player is bound to a
// bone tree and an animation of the asset registry by handle, then updated
// once per frame by its owner:
//
//   motion_bind(p, tree, anim);              // 1: first animation, no fade
//   anim_update_player(p, &world, -1, bones, serial, first);
//   motion_skin_matrix(p, i) / bone_world_matrix(p, i, &world, 0)
//
// frame < 0 advances by the speed, frame >= 0 jumps to that frame.

// Binds a bone tree and an animation. tree < 0 keeps the current tree,
// anim < 0 restarts the current animation; (0, 0) unbinds. Returns 1 when
// the player had no animation before (the caller passes it as first to the
// next update: no cross-fade), else 0; 0 also for an unknown tree handle,
// which changes nothing.
uint32_t motion_bind(MotionPlayer* p, int32_t tree, int32_t anim);
// One update: time, sampling, cross-fade, overrides, world matrices (pose x
// world; null world = identity), spring bones, root motion and, with a mesh's
// bone list, its skinning matrices (offset x pose). exclude is the collider
// serial the spring bones' ground test skips.
void anim_update_player(MotionPlayer* p, const Mat4* world, int32_t frame, const ShaderBoneSource* mesh,
                        uint16_t exclude, uint32_t first);

// Looping: loops done <= count; otherwise time before the last frame.
bool motion_is_playing(const MotionPlayer* p, uint32_t count);
bool motion_is_playing_to_limit(const MotionPlayer* p);
bool motion_at_start(const MotionPlayer* p);
bool motion_at_end(const MotionPlayer* p);
void motion_set_loop(MotionPlayer* p, uint32_t on);
void motion_set_mirror(MotionPlayer* p, uint32_t on);
void motion_set_reverse(MotionPlayer* p, uint32_t on);
void motion_set_loop_limit(MotionPlayer* p, uint32_t count);
// Root lock 0 to 7: 0 free, 1 no x/z travel, 2 no travel, 3 no turn, 4-7 the
// root's animation is not applied.
void motion_set_root_lock(MotionPlayer* p, uint32_t mode);
// Frames per update, clamped to 0..65535; returns the 16.16 speed.
uint32_t motion_set_speed(MotionPlayer* p, float frames_per_update);
// Updates of cross-fade after the next bind; 0 also stops a running fade.
void motion_set_crossfade(MotionPlayer* p, int32_t updates);
// Starts a cross-fade from the current pose now.
void motion_arm_crossfade(MotionPlayer* p);
void motion_set_time(MotionPlayer* p, uint32_t time);
uint32_t motion_current_frame(const MotionPlayer* p);  // time >> 16
uint32_t motion_length(const MotionPlayer* p);         // end >> 16
uint32_t motion_node_count(const MotionPlayer* p);
uint32_t motion_root_index(const MotionPlayer* p);     // 255 = none
bool motion_is_fading(const MotionPlayer* p);
// The root bone's sampled transform at the current time (sample x rest);
// null without a root bone.
Mat4* motion_root_matrix(const MotionPlayer* p, Mat4* out);
// Root travel of the last update (root_pos - root_pos_prev).
Vec3* motion_root_delta(const MotionPlayer* p, Vec3* out);

// Replaces, in out (cap bytes), the side mark of the name: the first "_L_"
// becomes "_R_" (result 1), else the first "_R_" becomes "_L_" (result 2);
// 0 and out untouched when the name has neither or out is too small.
int anim_mirror_name(char* out, size_t cap, const char* name);
// m reflected across the XY plane (top-level node) or the XZ plane (others).
Mat4* anim_mirror_matrix(Mat4* out, const Mat4* m, bool top_level);

// ---------------------------------------------------------------- bones
// Indices count records in node-stream order from 0.

int32_t bone_find_by_name(const MotionPlayer* p, const char* name);
const char* bone_name_of(const MotionPlayer* p, int32_t index);
// The record, its world matrix recomputed (pose x world) when force is set or
// it is not valid yet; null for a missing record.
BonePose* bone_world_matrix(MotionPlayer* p, int32_t index, const Mat4* world, uint32_t force);
// The skinning matrix of the record (offset x pose for a mesh bone); null
// for a missing record.
const Mat4* motion_skin_matrix(const MotionPlayer* p, int32_t index);
// One-shot overrides, applied by the next update. False for a missing record.
bool bone_set_ik_target(MotionPlayer* p, int32_t index, const Vec3* target, float weight, int32_t chain);
bool bone_set_look_at(MotionPlayer* p, int32_t index, const Vec3* target, const Vec3* up, float weight);
bool bone_set_local_override(MotionPlayer* p, int32_t index, const Mat4* m, float weight, uint32_t remap);
bool bone_set_world_override(MotionPlayer* p, int32_t index, const Mat4* m, float weight, uint32_t remap);

// Solvers run by the update for override kinds 1 and 2; inverse_world takes
// world-space targets into model space.
void bone_solve_ik(BonePose* bone, const Mat4* inverse_world);
void bone_solve_look_at(BonePose* bone, const Mat4* inverse_world);
// The analytic solver for a chain root -> middle -> end, goal in model space.
void ik_solve_two_bone(BonePose* root, BonePose* middle, BonePose* end, const Vec3* goal);
// The two-bone solver on a chain of three records ordered from the root.
void ik_apply_two_bone(BonePose** chain, const Vec3* goal);
// Cyclic coordinate descent over n records ordered from the chain root.
void ik_solve_chain(BonePose** chain, int n, const Vec3* goal, int extra_passes);

// ---------------------------------------------------------------- springs

// Turns spring bones on or off for every descendant of the named node (node
// 0 when name is null). False without a tree or when the named subtree ends
// before the stream does.
bool bone_set_springs(MotionPlayer* p, const char* name, uint32_t on);
// Moves the particles one frame, resting them on the ground colliders below
// (skipping serial exclude); run by the update when springs are on.
void spring_bones_step(MotionPlayer* p, const Mat4* inverse_world, uint16_t exclude);
// Rows of a bone frame whose x axis runs from origin to point; translation
// point when use_point, else in's.
Mat4* spring_orient_bone(Mat4* out, const Mat4* in, const Vec3* origin, const Vec3* point, bool use_point);
