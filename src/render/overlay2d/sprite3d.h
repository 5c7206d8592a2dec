// The world-space sprite task type: a textured, coloured quad in the 3D
// world on layer 47, as a camera-facing billboard (mode 0), a beam between
// two points turned to face the camera (mode 1) or a free quad of four
// corners with an optional transform (mode 2).
#pragma once

#include <cstdint>

#include "math/vec.h"
#include "render/tasks/task.h"

constexpr uint8_t kSprite3dLayer = 47;
constexpr int kSprite3dShaderDataSize = 40;

struct Sprite3dHead {
  uint8_t mode;
  uint8_t mirror;  // nonzero: also drawn in a mirror pass
  uint8_t blend;
  uint8_t zfunc;
  uint32_t reserved;
  int32_t shading_mode;
  uint8_t shader_data[kSprite3dShaderDataSize];
  uint32_t texture0, texture1;
  float param_a;
  float param_b;  // 0..1
};

struct Sprite3dBillboard {
  Vec3 position;
  float width, height;
  float depth_offset;
  float depth_offset_sq;  // depth offset x |depth offset|
  float uv0[4];           // left u, top v, right u, bottom v
  float uv1[4];
  float pivot_x, pivot_y;
  float scale_x, scale_y;
  float angle;
  uint32_t colour;
  int32_t lit;
};

struct Sprite3dBeam {
  Vec3 start, end;
  float side_width, end_width;
  float uv0[4][2];
  float uv1[4][2];
  uint32_t start_colour, end_colour;
  int32_t flag;
};

struct Sprite3dQuad {
  Vec3 corners[4];
  float uv0[4][2];
  float uv1[4][2];
  uint32_t colours[4];
  Vec3 position;
  Vec3 angles;
  Vec3 scale;
  int32_t transform;
};

struct Sprite3d {
  Sprite3dHead head;
  union {
    Sprite3dBillboard billboard;
    Sprite3dBeam beam;
    Sprite3dQuad quad;
  };
};
static_assert(sizeof(Sprite3d) == 236);

struct Sprite3dType {
  uint32_t type_id;
  uint32_t sprites_drawn;  // this frame
  uint32_t batches_drawn;
};

// Graphics start-up: registers the type (id 7 after the six types before it).
int sprite3d_register_type();
void sprite3d_shutdown();
int sprite3d_get_type();
uint32_t sprite3d_get_drawn_count();
uint32_t sprite3d_get_batch_count();
// Zeroed before the draw list is built each frame.
void sprite3d_reset_frame_counters();

// The create callback: head and billboard defaults, layer 47.
void sprite3d_on_create(Task* task);
// Switch a sprite to the beam or free-quad layout with its defaults.
void sprite3d_init_mode1(Task* task);
void sprite3d_init_mode2(Task* task);
void sprite3d_show(Task* task);
