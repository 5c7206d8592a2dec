// Ray collision: colliders (a collision mesh or a plain sphere under an
// owner's world matrix) and ray probes (segments kept over frames, tested
// against every collider once a frame, reporting their nearest hit).
//
// Fixed pools, main thread only.
#pragma once

#include <cstdint>

#include "math/mat4.h"
#include "math/vec.h"

struct CollisionRecord;

constexpr int kColliderPoolSize = 1100;
constexpr int kRayProbePoolSize = 128;
constexpr int kRayCandidateLeaves = 128;
constexpr int kRayNodeRing = 256;

enum : uint32_t {
  kColliderInUse = 1u << 0,
  kColliderEnabled = 1u << 1,
  kColliderGround = 1u << 2,
  kColliderProbeHit = 1u << 3,  // sticky: cleared only at creation
  kColliderOffset = 1u << 4,
};

enum : uint32_t {
  kProbeInUse = 1u << 0,
  kProbeHit = 1u << 1,
  kProbeLifetimeShift = 2,
  kProbeLifetimeMask = 3u << 2,
};

constexpr uint32_t kCategoryAll = 0xFFFFFFFFu;
constexpr float kProbeNoHit = 1e7f;

struct Collider {
  uint32_t flags;
  uint16_t serial;
  uintptr_t user_a;  // may carry the collision record's name
  uintptr_t user_b;
  uint32_t hit_count;
  uint32_t category;
  Vec3 centre;
  float radius;
  const Mat4* owner;
  const CollisionRecord* model;  // null for a sphere collider
  Collider* chained;
  Collider* prev;
  Collider* next;
};

// What a probe's callback receives, laid out from the hit point on.
struct RayHit {
  Vec3 point;
  float normal[3];
  uint32_t attribute;
  uint32_t category;
  uintptr_t user_a, user_b;
  uintptr_t hit_user_a, hit_user_b;
};

using RayProbeCallback = void (*)(RayHit* hit, Collider* collider);

struct RayProbe {
  uint32_t flags;
  Vec3 origin;
  Vec3 vector;
  float length;
  RayHit hit;
  float distance;  // t of the nearest hit, kProbeNoHit when none
  uint32_t category_filter;
  Collider* hit_collider;
  RayProbeCallback callback;
  RayProbe* prev;
  RayProbe* next;
};

struct RayCollisionBlock {
  Collider colliders[kColliderPoolSize];
  Collider* collider_free;
  Collider* collider_used;
  uint32_t collider_count;
  uint16_t serial;
  uint32_t candidates[kRayCandidateLeaves];
  uint32_t candidate_count;
  RayProbe probes[kRayProbePoolSize];
  RayProbe* probe_free;
  RayProbe* probe_used;
  uint32_t probe_count;
  uint32_t node_ring[kRayNodeRing];
};

// Graphics start-up, shutdown, component clear and component reset: each
// zeroes the block and links both pools into their free lists in index order.
void raycol_init();
void raycol_release();
void raycol_clear();
void raycol_reset_pools();
// Per frame, after the task updates: ages the probes, tests every live probe
// against every enabled collider and runs the callbacks of the probes hit.
void raycol_update_frame();

// serial + 1 within 1..65535.
uint16_t collider_next_serial();
// A sphere collider placed by its owner matrix (which it must have); the
// offset, when given, is its centre in the owner's space. Null when the pool
// is empty.
Collider* collider_create_sphere(const Vec3* offset, float radius, const Mat4* owner, uint32_t category,
                                 uint16_t serial, uintptr_t user_a, uintptr_t user_b);
// Turns a collider into a sphere (its model cleared).
void collider_set_sphere(Collider* collider, const Vec3* offset, float radius, uint32_t category, uintptr_t user_a,
                         uintptr_t user_b);
// Releases the collider and the colliders chained behind it. Null, or a
// collider already free, is ignored.
void collider_release(Collider* collider);

// A probe kept until released (lifetime 0), or one tested in exactly one
// pass and released by the next step (lifetime 2). Null when the pool is
// empty.
RayProbe* ray_probe_create(const Vec3* origin, const Vec3* vector, float length, uintptr_t user_a,
                           uintptr_t user_b, uint32_t category_filter);
RayProbe* ray_probe_create_timed(const Vec3* origin, const Vec3* vector, float length, uintptr_t user_a,
                                 uintptr_t user_b, RayProbeCallback callback, uint32_t category_filter);
// Null, or a probe already free, is ignored.
void ray_probe_release(RayProbe* probe);
// The n-th probe (from 0, in used-list order) whose nearest hit is the
// collider.
RayProbe* ray_probe_find_of_owner(const Collider* collider, int n);
bool ray_probe_hit(const RayProbe* probe);

// The sphere collider's hit of the segment (origin, vector): t, the point
// and the unit normal there. False when the segment misses.
bool collider_test_sphere(const Collider* collider, const Vec3* origin, const Vec3* vector, float* out_t,
                          Vec3* out_point, Vec3* out_normal);
// The infinite line through origin along vector passes within r of the
// centre; false for a zero vector.
bool ray_passes_within(const Vec3* origin, const Vec3* vector, const Vec3* centre, float r);
// The segment a..b passes within r of c.
bool segment_passes_within(const Vec3* a, const Vec3* b, const Vec3* c, float r);

uint32_t raycol_collider_count();
uint32_t raycol_probe_count();
