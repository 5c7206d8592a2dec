// Light spheres: coloured spheres in world space that light the 3D parts
// near them as point lights. Up to 128 live at once, each with an owner of
// the task system. Once a frame they run their update callbacks, once a
// rendered frame they are culled into each view's visible list, and the part
// draws ask for the nearest visible ones.
//
// Main thread only.
#pragma once

#include <cstdint>

#include "math/vec.h"

constexpr int kLightSpherePoolSize = 128;

enum : uint32_t {
  kLightSphereInUse = 1u << 0,
  kLightSphereColoured = 1u << 1,
  kLightSphereReap = 1u << 2,  // released at the end of this frame
  kLightSpherePending = 1u << 3,  // not yet visited by the running update pass
};

struct LightSphere;
// Non-zero: done (the finish callback runs, then the record is released).
using LightSphereUpdateFn = int (*)(LightSphere* sphere);
using LightSphereFinishFn = void (*)(LightSphere* sphere);

struct LightSphere {
  uint32_t flags;
  uint32_t owner;
  Vec3 centre;
  float radius;
  float parameter;  // second light parameter, 1.0 at creation
  float radius_sq;  // refreshed by the cull
  float sort_value;
  float colour_float4[4];  // red, green, blue, alpha; refreshed by the update pass
  uint32_t colour;         // ARGB
  LightSphereUpdateFn update;
  LightSphereFinishFn finish;
  LightSphere* prev;
  LightSphere* next;
};

struct LightSphereList {
  LightSphere spheres[kLightSpherePoolSize];
  LightSphere* used;  // newest first
  LightSphere* free;
  LightSphere* visible[2][kLightSpherePoolSize];
  int32_t visible_count[2];
  LightSphere* scratch[kLightSpherePoolSize];
  int32_t count;
  uint32_t debug;
};

// Puts the pool into the task system's reset and owner kill, and resets it.
// Graphics start-up calls it before the task system starts.
void lightsphere_init();
// Every record free in index order, lists and the debug switch cleared; no
// callback runs.
void lightsphere_reset_pool();

// Null when the pool is full. The centre may be null (the origin).
LightSphere* lightsphere_create(uint32_t owner, const Vec3* centre, float radius, uint32_t colour);
LightSphere* lightsphere_create_one_frame(uint32_t owner, const Vec3* centre, float radius, uint32_t colour);
void lightsphere_mark_for_reap(LightSphere* sphere);
// Null, or a record already free, is ignored.
void lightsphere_release(LightSphere* sphere);
// Owner 0 does nothing.
void lightsphere_release_of_owner(uint32_t owner);

// Per rendered frame, before the render: update callbacks and float colours.
void lightsphere_update_frame();
// Frame render, after the draw list is built: the per-view visible lists.
void lightsphere_cull_views();
// Up to n of the view's visible light spheres that reach the sphere (point,
// radius), nearest first by the sum of the squared distances to the point and
// to the eye. Returns how many were written.
int lightsphere_query_near(LightSphere** out, int n, uint32_t view, const Vec3* point, float radius);
// After the render, every frame: releases the records marked for it.
void lightsphere_reap();
int lightsphere_count();
// The debug view: F9 (pressed this frame) switches it; while it is on, each
// live light sphere gets a one-frame ring part of its owner on layer 45, in
// its colour at half alpha (red when not coloured). Nothing calls the pass
// in the running program.
void lightsphere_debug_pass();
void lightsphere_set_debug(uint32_t on);
struct Task;
// A one-frame primitive part drawing the ring; null when no task is free.
Task* lightsphere_debug_ring(uint32_t owner, const Vec3* centre, float radius, uint32_t colour);
// The ring's draw hook: a heptagon facing view 0's camera, as five
// triangles of a fan.
void lightsphere_debug_ring_draw(Task* part, uintptr_t argument);

// The six planes of a frustum, normals pointing in.
struct Plane;
bool lightsphere_in_frustum(const Plane* planes, const Vec3* centre, float radius);
const LightSphereList* lightsphere_list();
