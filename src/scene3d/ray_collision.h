// Ray collision: colliders (a collision mesh or a plain sphere under an
// owner's world matrix) and ray probes (segments kept over frames, tested
// against every collider once a frame, reporting their nearest hit).
//
// Fixed pools, main thread only.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"
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
  uint32_t candidates_dropped;  // leaves found beyond the list in this query
  RayProbe probes[kRayProbePoolSize];
  RayProbe* probe_free;
  RayProbe* probe_used;
  uint32_t probe_count;
  uint32_t node_ring[kRayNodeRing];
  uint32_t ring_head, ring_tail;  // running positions, taken modulo the ring
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
// A model collider for a collision mesh: enabled, ground, its bounding
// sphere from the record. user_a 0 takes the record's name. Null when the
// handle has no collision record or the pool is empty.
Collider* collider_create_mesh(AssetHandle collision, const Mat4* owner, uint32_t category, uint16_t serial,
                               uintptr_t user_a, uintptr_t user_b);
// Where a collider's sphere stands in the world: its centre placed by its
// owner matrix.
Vec3 collider_world_centre(const Collider* collider);
// The bounding sphere a collision mesh's payload records; false for a
// handle without a record or a payload too short to hold it.
bool collision_bounds(AssetHandle collision, Vec3* centre, float* radius);
// Re-targets a collider to another collision mesh, keeping its flags, serial
// and owner; a handle without a record changes nothing.
void collider_set_model(Collider* collider, AssetHandle collision, uint32_t category, uintptr_t user_a,
                        uintptr_t user_b);
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

// Segment casts over every enabled collider whose serial is not the excluded
// one and whose category passes the filter (kCategoryAll = every one); the
// nearest hit wins, the newer collider of equal hits. Model colliders only,
// except ray_cast_segment_t, which also tests sphere colliders. Outputs are
// written through non-null pointers, on a hit only; normals are the record's
// turned by the owner's 3x3, not renormalised.
bool ray_cast_segment(const Vec3* origin, const Vec3* vector, Vec3* out_point, Vec3* out_normal,
                      uint32_t* out_attribute, uint16_t exclude_serial, uint32_t category_filter);
bool ray_cast_segment_t(const Vec3* origin, const Vec3* vector, float* out_t, Vec3* out_normal,
                        uint32_t* out_attribute, uint16_t exclude_serial, uint32_t category_filter);
// Also the hit triangle's vertices and the box (centre, half extents) of the
// leaf that held it, in world space.
bool ray_cast_segment_ex(const Vec3* origin, const Vec3* vector, Vec3* out_point, Vec3* out_normal,
                         uint32_t* out_attribute, Vec3 out_triangle[3], Vec3 out_leaf_box[2],
                         uint16_t exclude_serial, uint32_t category_filter);
// Straight down from the point over the enabled ground model colliders: the
// ground height below (or above, within 10000) it.
bool ray_cast_down(const Vec3* point, float* out_height, Vec3* out_normal, uint32_t* out_attribute,
                   uint16_t exclude_serial, uint32_t category_filter);

// One model under an optional world matrix.
bool ray_cast_model(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin, const Vec3* vector,
                    Vec3* out_point, Vec3* out_normal, uint32_t* out_attribute);
bool ray_cast_model_t(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin, const Vec3* vector,
                      float* out_t, Vec3* out_normal, uint32_t* out_attribute);
// Also the slide point: the segment's end projected onto the hit triangle's
// plane.
bool ray_cast_model_ex(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin, const Vec3* vector,
                       Vec3* out_point, Vec3* out_slide, Vec3* out_normal, uint32_t* out_attribute);
// The sphere against the model's triangles: the contact nearest the centre
// (world space), its depth (r at the plane, falling to 0 at reach r), the
// normal turned by the matrix and the attribute. The radius is not scaled.
bool sphere_cast_model(const CollisionRecord* model, const Mat4* matrix, const Vec3* centre, float radius,
                       Vec3* out_contact, float* out_depth, Vec3* out_normal, uint32_t* out_attribute);

// The model searches behind the casts. t is a fraction of the vector.
struct ModelHit {
  float t;
  Vec3 normal;  // turned by the matrix's 3x3
  uint32_t attribute;
  Vec3 triangle[3];  // world space
  Vec3 leaf_box[2];  // centre and half extents, centre in world space
};
bool ray_intersect_model(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin,
                         const Vec3* vector, ModelHit* out);
// The same search: every hit already carries the triangle and the leaf box.
bool ray_intersect_model_ex(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin,
                            const Vec3* vector, ModelHit* out);
// Straight down (vector (0, -10000, 0)) from the point; an identity (or null)
// matrix searches in the record's own space with vertical-line culling.
bool ray_intersect_model_down(const CollisionRecord* model, const Mat4* matrix, const Vec3* point,
                              ModelHit* out);
// The segment hits the front of the triangle (a, b, c) with normal n, at
// fraction t in [0, 1].
bool ray_triangle_test(const Vec3* a, const Vec3* b, const Vec3* c, const Vec3* n, const Vec3* origin,
                       const Vec3* vector, float* out_t);
// True when any part of the segment lies in the box (centre, half extents).
bool ray_segment_hits_box(const Vec3* origin, const Vec3* vector, const Vec3* centre, const Vec3* half);

uint32_t raycol_collider_count();
uint32_t raycol_probe_count();
