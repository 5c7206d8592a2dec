// The 3D line and 3D triangle task types: world-space primitives with
// per-vertex colours for debugging displays. Both share a flags word of
// blend index, depth write and depth compare; both stay on layer 48, which
// the frame render leaves out. Triangles sort within their layer farthest
// first by the camera distance of their centroid.
#pragma once

#include <cstdint>

#include "math/vec.h"
#include "render/tasks/task.h"

constexpr uint8_t kPrim3dLayer = 48;
constexpr int kPrim3dBatch = 4096;
constexpr uint32_t kPrim3dBlendMask = 0x1Fu;          // bits 0-4
constexpr uint32_t kPrim3dDepthWrite = 1u << 5;       // bit 5
constexpr int kPrim3dDepthFuncShift = 6;              // bits 6-8: compare index
constexpr uint32_t kPrim3dDepthFuncMask = 7u << 6;
constexpr uint32_t kPrim3dFvf = 0x342;  // position, diffuse, three texture pairs

// 40 bytes.
struct Prim3dVertex {
  float x, y, z;
  uint32_t diffuse;
  float uv[3][2];
};
static_assert(sizeof(Prim3dVertex) == 40);

struct Line3D {
  Vec3 p0, p1;
  uint32_t colour0, colour1;
  uint32_t flags;
};

struct Tri3D {
  Vec3 p[3];
  uint32_t colour[3];
  uint32_t flags;
};

int line3d_register_type();
int tri3d_register_type();
int line3d_get_type();
int tri3d_get_type();
// Graphics shutdown hooks; the types hold nothing of their own.
void line3d_shutdown();
void tri3d_shutdown();
void line3d_on_create(Task* task);
void tri3d_on_create(Task* task);

// One-frame primitives; null when the task pool is full.
Task* line3d_draw(uint32_t owner, const Vec3* p0, uint32_t colour0, const Vec3* p1, uint32_t colour1);
Task* tri3d_draw(uint32_t owner, const Vec3* p0, uint32_t colour0, const Vec3* p1, uint32_t colour1,
                 const Vec3* p2, uint32_t colour2);

// Setters; a null task or one of another type is ignored.
void line3d_set_points(Task* task, const Vec3* p0, const Vec3* p1);
void tri3d_set_points(Task* task, const Vec3* p0, const Vec3* p1, const Vec3* p2);
void line3d_set_colours(Task* task, uint32_t colour0, uint32_t colour1);
void tri3d_set_colours(Task* task, uint32_t colour0, uint32_t colour1, uint32_t colour2);
void line3d_set_blend(Task* task, uint32_t index);
void tri3d_set_blend(Task* task, uint32_t index);
void line3d_set_depth_write(Task* task, uint32_t on);
void tri3d_set_depth_write(Task* task, uint32_t on);
void line3d_set_depth_func(Task* task, uint32_t index);
void tri3d_set_depth_func(Task* task, uint32_t index);
// Makes a 3D line or triangle visible.
void line3d_show(Task* task);

// Key of a triangle within its layer: its centroid's distance from the
// current view's camera over the view's far distance, 0..65535.
uint32_t tri3d_sort_key(Task* task);

void line3d_draw_batch(Task* const* entries, int count);
void tri3d_draw_batch(Task* const* entries, int count);
