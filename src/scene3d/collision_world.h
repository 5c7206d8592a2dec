// The collision world: up to 128 upright cylinders (characters and props)
// kept apart from each other in the horizontal plane and, when bounded,
// inside the six planes of view 0's frustum (or a custom one). Once a frame
// each body is placed from its owner's matrix, overlapping pairs are pushed
// apart in x and z by weight, and each body records the groups it touched.
//
// Main thread only.
#pragma once

#include <cstdint>

#include "math/mat4.h"
#include "math/plane.h"
#include "math/vec.h"

constexpr int kCollisionBodies = 128;
constexpr uint32_t kBodyInUse = 1u << 0;
constexpr uint32_t kBodyBounded = 1u << 1;
constexpr uint32_t kBodyGroupBits = 0x3FFFFFFFu;
constexpr uint32_t kBodyFixedPair = 1u << 30;
constexpr uint32_t kBodyMovable = 1u << 31;
constexpr float kBodyDefaultWeight = 50.0f;

struct CollisionBody {
  uint32_t flags;
  uint32_t group;
  uint32_t mask;
  uint32_t contacts;
  const Mat4* owner;  // null: the local position is in world space
  Vec3 position;
  Vec3 push;
  Vec3 local;
  float radius;
  float height;  // half height
  float weight;
  CollisionBody* prev;
  CollisionBody* next;
};

struct CollisionWorld {
  CollisionBody bodies[kCollisionBodies];
  CollisionBody* used;  // newest first
  CollisionBody* free;
  uint32_t count;
  uint32_t custom_frustum;
  Frustum frustum;
  Plane planes[kFrustumPlaneCount];
};

// Graphics start-up, shutdown and the component clear; each runs
// collworld_clear.
void collworld_init();
void collworld_shutdown();
void collworld_reset();
// The block zeroed, the bodies in the free list in index order, the custom
// frustum off (the component reset calls this directly).
void collworld_clear();
// Per frame, after the sphere world; returns at once while no body exists.
void collworld_step();
// A custom frustum (combined with view 0's view matrix) from now on; null
// goes back to view 0's frustum.
void collworld_set_frustum(const Frustum* frustum);

CollisionBody* collworld_body_create(const Mat4* owner, float radius, float half_height, const Vec3* local,
                                     uint32_t group, uint32_t mask);
// Null, or a body already free, is ignored.
void collworld_body_release(CollisionBody* body);
// True when the body touched anything in the last step; the push is copied
// through the non-null output.
bool collworld_body_push(const CollisionBody* body, Vec3* out_push);
uint32_t collworld_count();
