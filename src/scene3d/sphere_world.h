// The sphere collision world: objects made of one sphere, or of a sphere set
// of the asset store, attached to owners' world matrices. Once a frame every
// sphere moves to world space, overlapping objects whose groups and masks
// meet are pushed apart by mass, and each object records the groups it
// touched. The world never writes an owner's matrix: owners read the push.
//
// Main thread only.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"
#include "math/mat4.h"
#include "math/vec.h"

struct SphereSetRecord;

constexpr int kSphereWorldObjects = 768;
constexpr int kSphereWorldSpheres = 2304;
constexpr uint32_t kSphereGroupBits = 0x3FFFFFFFu;
constexpr uint32_t kSphereContactOnly = 1u << 30;
constexpr uint32_t kSphereMovable = 1u << 31;
constexpr uint32_t kSphereObjectActive = 1u << 0;
constexpr float kSphereDefaultMass = 50.0f;

struct SphereWorldSphere {
  Vec3 local_centre;
  Vec3 world_centre;
  float radius;
  float reach;  // |local centre| + radius
  const Mat4* matrix;
  const Vec3* offset;  // the object's offset; stored for callers, never read here
  SphereWorldSphere* prev;
  SphereWorldSphere* next;
};

struct SphereWorldObject {
  uint32_t flags;
  uint32_t group;
  uint32_t mask;
  uint32_t contacts;
  const SphereSetRecord* set;
  const Mat4* matrix;  // null: the object stands at the origin
  Vec3 offset;
  Vec3 push;
  float mass;
  float radius;
  uint32_t sphere_count;
  SphereWorldSphere* spheres;
  SphereWorldObject* prev;
  SphereWorldObject* next;
};

struct SphereWorld {
  SphereWorldObject objects[kSphereWorldObjects];
  SphereWorldSphere spheres[kSphereWorldSpheres];
  SphereWorldObject* used;  // newest first
  SphereWorldObject* free_objects;
  SphereWorldSphere* free_spheres;
  uint32_t object_count;
  uint32_t sphere_count;
  uint32_t initialised;
};

// Graphics start-up and the component reset: the block zeroed, both pools
// linked into their free lists in index order.
void sphereworld_init();
void sphereworld_reset();
// Graphics shutdown and the component clear.
void sphereworld_shutdown();
void sphereworld_release_all();
// Per frame, after the task updates; returns at once while no object exists.
void sphereworld_update();

// A single-sphere object (no set) at the matrix's position; null when no
// object is free.
SphereWorldObject* sphereworld_create_object(const SphereSetRecord* set, const Mat4* matrix, uint32_t group,
                                             uint32_t mask, float radius);
// Null, or an object already free, is ignored.
void sphereworld_release_object(SphereWorldObject* object);
// A chain of n zeroed spheres; null when n < 1, the world was never
// initialised or fewer than n are free.
SphereWorldSphere* sphereworld_alloc_spheres(int n);
void sphereworld_free_spheres(SphereWorldSphere* chain);
// True when the object touched anything in the last step; the push and the
// contacts are copied through the non-null outputs.
bool sphereworld_object_contacts(const SphereWorldObject* object, Vec3* out_push, uint32_t* out_contacts);
void sphereworld_set_offset(SphereWorldObject* object, const Vec3* offset);
bool sphereworld_any_contact(uint32_t mask);
uint32_t sphereworld_object_count();
uint32_t sphereworld_sphere_count();

// An object of the sphere set's spheres, created with the set's bounding
// radius; null when the handle names no set or no object is free.
SphereWorldObject* sphereworld_create_object_from_set(uint32_t sphere_set, const Mat4* matrix, uint32_t group,
                                                      uint32_t mask);

// Queries over the objects whose group bits meet the mask, each taken as its
// spheres (per_sphere; a sphere's centre is its world centre of the last
// step, or its local centre without a matrix) or as its own sphere (its
// position and radius). The nearest hit wins, the first of equal ones;
// outputs are written through non-null pointers, on a hit only.
//
// The triangle (normal null: the normalised (b - a) x (c - a)) against each
// sphere: the contact point nearest the sphere's centre and its weight, r on
// the plane falling to 0 at reach r.
bool sphereworld_query_triangle(const Vec3* a, const Vec3* b, const Vec3* c, const Vec3* normal,
                                Vec3* out_point, float* out_weight, uint32_t mask, bool per_sphere);
// The collision mesh under the matrix swept by each sphere: the hit whose
// contact lies nearest its object's position. False at once for a handle
// without a collision record.
bool sphereworld_query_collision_mesh(AssetHandle collision, const Mat4* matrix, Vec3* out_point,
                                      float* out_depth, Vec3* out_normal, uint32_t* out_attribute, uint32_t mask,
                                      bool per_sphere);
// Spheres touching the query sphere (touching counts): the one whose object
// stands nearest the centre, with the point of its surface toward the
// centre. Without an out point, true at the first hit.
bool sphereworld_query_sphere(const Vec3* centre, float radius, Vec3* out_point, uint32_t mask, bool per_sphere);

// The squared distance of p from the infinite line through a and b; 0 when
// a and b coincide; never below 0.
float sphereworld_point_line_distance_sq(const Vec3* p, const Vec3* a, const Vec3* b);
// The segment a..b reaches the sphere (centre p, radius r).
bool sphereworld_segment_hits_sphere(const Vec3* a, const Vec3* b, const Vec3* p, float r);
