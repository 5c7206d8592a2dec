// The 2D line and 2D triangle task types: unfilled and filled screen-space
// primitives with per-vertex colours. Each draw batches a draw-list run into
// one unindexed line or triangle list, breaking only where the blend index
// changes or 4096 primitives are pending.
#pragma once

#include <cstdint>

#include "render/tasks/task.h"

constexpr int kPrim2dBatch = 4096;
constexpr int kPrim2dDefaultLayer = 20;
// Bits 0-4 of the flags: blend index 0..31 (above 11 draws with pair 0 but
// still counts as its own index for batching).
constexpr uint32_t kPrim2dBlendMask = 0x1F;

struct LineData {
  float p0[3];  // x, y, z; z is stored (0) and never drawn
  float p1[3];
  uint32_t colour0, colour1;
  uint32_t flags;
};

struct TriangleData {
  float p[3][3];
  uint32_t colour[3];
  uint32_t flags;
};

int line2d_register_type();
int tri2d_register_type();
int line2d_get_type();
int tri2d_get_type();
// Graphics shutdown hooks; the types hold nothing of their own.
void line2d_shutdown();
void tri2d_shutdown();

// One-frame primitives; null when the pool is full.
Task* line2d_draw(uint32_t owner, float x0, float y0, uint32_t colour0, float x1, float y1,
                  uint32_t colour1, uint8_t layer);
Task* tri2d_draw(uint32_t owner, float x0, float y0, uint32_t colour0, float x1, float y1,
                 uint32_t colour1, float x2, float y2, uint32_t colour2, uint8_t layer);

// Setters; a null task or one of another type is ignored.
void line2d_set_points(Task* task, float x0, float y0, float x1, float y1);
void tri2d_set_points(Task* task, float x0, float y0, float x1, float y1, float x2, float y2);
void line2d_set_colours(Task* task, uint32_t colour0, uint32_t colour1);
void tri2d_set_colours(Task* task, uint32_t colour0, uint32_t colour1, uint32_t colour2);
void line2d_set_blend(Task* task, uint32_t blend);
void tri2d_set_blend(Task* task, uint32_t blend);
// Makes a line or a triangle visible.
void line2d_show(Task* task);

// The draw callbacks of the two types.
void line2d_draw_batch(Task* const* entries, int count);
void tri2d_draw_batch(Task* const* entries, int count);
