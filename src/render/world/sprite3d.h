// The world-space sprite task type: a textured, coloured quad in the 3D
// world on layer 47, as a camera-facing billboard (mode 0), a beam between
// two points turned to face the camera (mode 1) or a free quad of four
// corners with an optional transform (mode 2).
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "math/mat4.h"
#include "math/vec.h"
#include "render/tasks/task.h"

constexpr uint8_t kSprite3dLayer = 47;
constexpr int kSprite3dShaderDataSize = 40;
// The vertex the draw sends: position, colour, UV sets 0 and 1, and
// (param a, param b) as a third pair.
constexpr uint32_t kSprite3dFvf = 0x342;
// Quads per draw call.
constexpr int kSprite3dBatchQuads = 4096;

struct Sprite3dVertex {
  float x, y, z;
  uint32_t diffuse;
  float u0, v0, u1, v1;
  float param_a, param_b;
};
static_assert(sizeof(Sprite3dVertex) == 40);

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

// ---------------------------------------------------------------- life cycle

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

// The draw callback: culls the run against the current view, sorts it far
// to near and draws it in batches of equal states.
void sprite3d_draw_batch(Task* const* entries, int count);

// ---------------------------------------------------------------- creators
// Each returns null when the task pool is full; null vectors leave the
// defaults. Crops name texture 0 and UV set 0.

Task* sprite3d_create(uint32_t owner, const Vec3* position, float angle, float size, AssetHandle crop,
                      uint32_t colour, uint8_t blend);
Task* sprite3d_create_one_frame(uint32_t owner, const Vec3* position, float angle, float size, AssetHandle crop,
                                uint32_t colour, uint8_t blend, float depth_offset);
Task* sprite3d_create_beam(uint32_t owner, const Vec3* start, const Vec3* end, float width, uint32_t start_colour,
                           uint32_t end_colour, AssetHandle crop, uint8_t blend);
Task* sprite3d_create_beam_one_frame(uint32_t owner, const Vec3* start, const Vec3* end, float width,
                                     uint32_t start_colour, uint32_t end_colour, AssetHandle crop, uint8_t blend);
Task* sprite3d_create_quad(uint32_t owner, const Vec3* c0, const Vec3* c1, const Vec3* c2, const Vec3* c3,
                           uint32_t colour0, uint32_t colour1, uint32_t colour2, uint32_t colour3, AssetHandle crop,
                           uint8_t blend);
Task* sprite3d_create_quad_from_array(uint32_t owner, const Vec3* corners, AssetHandle crop, uint8_t blend);
Task* sprite3d_create_quad_blank(uint32_t owner, AssetHandle crop, uint8_t blend);

// ---------------------------------------------------------------- common head
// Accessors take a live sprite task and check neither its type nor its
// layout. The mode1 / mode2 copies behave as the plain ones.

// Stores the mode and, when length is nonzero, min(length, 40) bytes.
void sprite3d_set_shader(Task* task, int32_t mode, const void* data, int length);
void sprite3d_set_shader_mode1(Task* task, int32_t mode, const void* data, int length);
void sprite3d_set_shader_mode2(Task* task, int32_t mode, const void* data, int length);
void sprite3d_set_blend(Task* task, uint8_t index);
void sprite3d_set_blend_mode1(Task* task, uint8_t index);
void sprite3d_set_blend_mode2(Task* task, uint8_t index);
void sprite3d_set_zfunc(Task* task, uint8_t index);
void sprite3d_set_zfunc_mode1(Task* task, uint8_t index);
void sprite3d_set_zfunc_mode2(Task* task, uint8_t index);
void sprite3d_set_mirror(Task* task, uint8_t on);
void sprite3d_set_mirror_mode1(Task* task, uint8_t on);
void sprite3d_set_mirror_mode2(Task* task, uint8_t on);
void sprite3d_set_texture0(Task* task, AssetHandle texture);
void sprite3d_set_texture0_mode1(Task* task, AssetHandle texture);
void sprite3d_set_texture0_mode2(Task* task, AssetHandle texture);
void sprite3d_set_texture1(Task* task, AssetHandle texture);
void sprite3d_set_texture1_mode1(Task* task, AssetHandle texture);
void sprite3d_set_texture1_mode2(Task* task, AssetHandle texture);
AssetHandle sprite3d_get_texture0(Task* task);
AssetHandle sprite3d_get_texture0_mode1(Task* task);
AssetHandle sprite3d_get_texture0_mode2(Task* task);
AssetHandle sprite3d_get_texture1(Task* task);
AssetHandle sprite3d_get_texture1_mode1(Task* task);
AssetHandle sprite3d_get_texture1_mode2(Task* task);
void sprite3d_set_param_a(Task* task, float value);
void sprite3d_set_param_a_mode1(Task* task, float value);
void sprite3d_set_param_a_mode2(Task* task, float value);
// Clamped to 0..1.
void sprite3d_set_param_b(Task* task, float value);
void sprite3d_set_param_b_mode1(Task* task, float value);
void sprite3d_set_param_b_mode2(Task* task, float value);

// ---------------------------------------------------------------- billboard (mode 0)

void sprite3d_set_position(Task* task, const Vec3* position);
void sprite3d_set_position_xyz(Task* task, float x, float y, float z);
Vec3* sprite3d_get_position(Task* task);
void sprite3d_set_size(Task* task, float width, float height);
float sprite3d_get_width(Task* task);
float sprite3d_get_height(Task* task);
// Stores d and d x |d| (added to the sort key).
void sprite3d_set_depth_offset(Task* task, float d);
float sprite3d_get_depth_offset(Task* task);
void sprite3d_set_pivot(Task* task, float x, float y);
float sprite3d_get_pivot_x(Task* task);
float sprite3d_get_pivot_y(Task* task);
void sprite3d_set_scale(Task* task, float x, float y);
float sprite3d_get_scale_x(Task* task);
float sprite3d_get_scale_y(Task* task);
void sprite3d_set_angle(Task* task, float angle);
float sprite3d_get_angle(Task* task);
void sprite3d_set_colour(Task* task, uint32_t colour);
uint32_t sprite3d_get_colour(Task* task);
void sprite3d_set_lit(Task* task, int32_t lit);
int32_t sprite3d_get_lit(Task* task);
void sprite3d_set_uv0(Task* task, float ul, float vt, float ur, float vb);
float sprite3d_get_uv0_u0(Task* task);
float sprite3d_get_uv0_v0(Task* task);
float sprite3d_get_uv0_u1(Task* task);
float sprite3d_get_uv0_v1(Task* task);
void sprite3d_set_uv1(Task* task, float ul, float vt, float ur, float vb);
float sprite3d_get_uv1_u0(Task* task);
float sprite3d_get_uv1_v0(Task* task);
float sprite3d_get_uv1_u1(Task* task);
float sprite3d_get_uv1_v1(Task* task);
// Texture and UV set from the crop; a handle naming no crop gives no
// texture and the whole texture.
void sprite3d_set_crop(Task* task, AssetHandle crop);
void sprite3d_set_crop1(Task* task, AssetHandle crop);

// ---------------------------------------------------------------- beam (mode 1)

void sprite3d_set_start_point(Task* task, const Vec3* p);
void sprite3d_set_end_point(Task* task, const Vec3* p);
void sprite3d_set_start_xyz(Task* task, float x, float y, float z);
void sprite3d_set_end_xyz(Task* task, float x, float y, float z);
Vec3* sprite3d_get_start_point(Task* task);
Vec3* sprite3d_get_end_point(Task* task);
void sprite3d_set_widths(Task* task, float side, float end);
void sprite3d_set_side_width(Task* task, float side);
void sprite3d_set_end_width(Task* task, float end);
float sprite3d_get_side_width(Task* task);
float sprite3d_get_end_width(Task* task);
// Vertex 0 (ul, vt), 1 (ur, vt), 2 (ul, vb), 3 (ur, vb).
void sprite3d_set_beam_uv0(Task* task, float ul, float vt, float ur, float vb);
void sprite3d_set_beam_uv1(Task* task, float ul, float vt, float ur, float vb);
// u0 / v0 are vertex 0's pair, u1 / v1 vertex 3's.
float sprite3d_get_beam_uv0_u0(Task* task);
float sprite3d_get_beam_uv0_v0(Task* task);
float sprite3d_get_beam_uv0_u1(Task* task);
float sprite3d_get_beam_uv0_v1(Task* task);
float sprite3d_get_beam_uv1_u0(Task* task);
float sprite3d_get_beam_uv1_v0(Task* task);
float sprite3d_get_beam_uv1_u1(Task* task);
float sprite3d_get_beam_uv1_v1(Task* task);
void sprite3d_set_start_colour(Task* task, uint32_t colour);
void sprite3d_set_end_colour(Task* task, uint32_t colour);
void sprite3d_set_beam_colours(Task* task, uint32_t start, uint32_t end);
uint32_t sprite3d_get_start_colour(Task* task);
uint32_t sprite3d_get_end_colour(Task* task);
void sprite3d_set_beam_flag(Task* task, int32_t flag);
void sprite3d_set_crop_mode1(Task* task, AssetHandle crop);
void sprite3d_set_crop1_mode1(Task* task, AssetHandle crop);

// ---------------------------------------------------------------- free quad (mode 2)
// Corner, UV and colour indices outside 0..3 are ignored (getters give
// null or 0).

void sprite3d_set_corner0(Task* task, const Vec3* p);
void sprite3d_set_corner1(Task* task, const Vec3* p);
void sprite3d_set_corner2(Task* task, const Vec3* p);
void sprite3d_set_corner3(Task* task, const Vec3* p);
void sprite3d_set_corner(Task* task, int index, const Vec3* p);
void sprite3d_set_corner_xyz(Task* task, int index, float x, float y, float z);
void sprite3d_set_corner0_xyz(Task* task, float x, float y, float z);
void sprite3d_set_corner1_xyz(Task* task, float x, float y, float z);
void sprite3d_set_corner2_xyz(Task* task, float x, float y, float z);
void sprite3d_set_corner3_xyz(Task* task, float x, float y, float z);
Vec3* sprite3d_get_corner0(Task* task);
Vec3* sprite3d_get_corner1(Task* task);
Vec3* sprite3d_get_corner2(Task* task);
Vec3* sprite3d_get_corner3(Task* task);
Vec3* sprite3d_get_corners(Task* task);
void sprite3d_set_quad_uv0_0(Task* task, float u, float v);
void sprite3d_set_quad_uv0_1(Task* task, float u, float v);
void sprite3d_set_quad_uv0_2(Task* task, float u, float v);
void sprite3d_set_quad_uv0_3(Task* task, float u, float v);
void sprite3d_set_quad_uv0(Task* task, float u, float v, int index);
float* sprite3d_get_quad_uv0_0(Task* task);
float* sprite3d_get_quad_uv0_1(Task* task);
float* sprite3d_get_quad_uv0_2(Task* task);
float* sprite3d_get_quad_uv0_3(Task* task);
float* sprite3d_get_quad_uv0s(Task* task);  // four (u, v) pairs
void sprite3d_set_quad_uv1_0(Task* task, float u, float v);
void sprite3d_set_quad_uv1_1(Task* task, float u, float v);
void sprite3d_set_quad_uv1_2(Task* task, float u, float v);
void sprite3d_set_quad_uv1_3(Task* task, float u, float v);
void sprite3d_set_quad_uv1(Task* task, float u, float v, int index);
float* sprite3d_get_quad_uv1_0(Task* task);
float* sprite3d_get_quad_uv1_1(Task* task);
float* sprite3d_get_quad_uv1_2(Task* task);
float* sprite3d_get_quad_uv1_3(Task* task);
float* sprite3d_get_quad_uv1s(Task* task);
void sprite3d_set_corner_colour0(Task* task, uint32_t colour);
void sprite3d_set_corner_colour1(Task* task, uint32_t colour);
void sprite3d_set_corner_colour2(Task* task, uint32_t colour);
void sprite3d_set_corner_colour3(Task* task, uint32_t colour);
void sprite3d_set_corner_colour(Task* task, uint32_t colour, int index);
void sprite3d_set_corner_colours(Task* task, uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3);
uint32_t sprite3d_get_corner_colour0(Task* task);
uint32_t sprite3d_get_corner_colour1(Task* task);
uint32_t sprite3d_get_corner_colour2(Task* task);
uint32_t sprite3d_get_corner_colour3(Task* task);
uint32_t sprite3d_get_corner_colour(Task* task, int index);
// A null vector leaves its field.
void sprite3d_set_transform(Task* task, const Vec3* position, const Vec3* angles);
void sprite3d_set_quad_position(Task* task, const Vec3* position);
void sprite3d_set_quad_angles(Task* task, const Vec3* angles);
void sprite3d_set_quad_scale(Task* task, const Vec3* scale);
void sprite3d_set_transform_flag(Task* task, int32_t flag);
Vec3* sprite3d_get_quad_position(Task* task);
Vec3* sprite3d_get_quad_angles(Task* task);
Vec3* sprite3d_get_quad_scale(Task* task);
int32_t sprite3d_get_transform_flag(Task* task);
// UV corner 0 (x, y), 1 (x, y + h), 2 (x + w, y), 3 (x + w, y + h).
void sprite3d_set_crop_mode2(Task* task, AssetHandle crop);
void sprite3d_set_crop1_mode2(Task* task, AssetHandle crop);

// ---------------------------------------------------------------- geometry
// Screen fractions run from 0 at the left and top to 1 at the right and
// bottom.

// VP (world to clip) and CAM (camera to world) of the current view, or of
// its mirror pass while one runs. Null outputs are skipped.
void sprite3d_get_view_projection(Mat4* view_projection, Mat4* camera);
// The model matrix of a free quad: position and angles, scale applied first
// when it is not exactly (1, 1, 1).
void sprite3d_quad_matrix(Mat4* out, const Sprite3dQuad& quad);
// The beam's four world vertices facing the camera; d falls back to (1, 0)
// when the projected start-to-end vector's squared length is at most
// min_length_sq or is not finite.
void sprite3d_beam_vertices(const Sprite3dBeam& beam, const Mat4* view_projection, const Mat4* camera,
                            float min_length_sq, Vec3 out[4]);

// A billboard's screen rectangle; offsets in clip units (-1..1 across),
// scale about its centre, flips swap the edges.
void sprite3d_screen_rect(Task* task, float offset_x, float offset_y, float scale, int flip_x, int flip_y,
                          float* ul, float* vt, float* ur, float* vb);
void sprite3d_uv0_from_screen_rect(Task* task, float offset_x, float offset_y, float scale, int flip_x,
                                   int flip_y);
void sprite3d_uv1_from_screen_rect(Task* task, float offset_x, float offset_y, float scale, int flip_x,
                                   int flip_y);
// A beam's four vertices as screen fractions (z: projected depth); offsets
// in screen fractions, scale about the quad's centre.
void sprite3d_build_beam_quad(Task* task, Vec3 out[4], float offset_x, float offset_y, float scale);
void sprite3d_beam_uv0_from_screen(Task* task, float offset_x, float offset_y, float scale);
void sprite3d_beam_uv1_from_screen(Task* task, float offset_x, float offset_y, float scale);
// Free-quad corners of a ribbon segment 2 x width wide at each end.
void sprite3d_corners_from_segment(Task* task, const Vec3* p0, const Vec3* up0, float width0, float extension0,
                                   float lift0, const Vec3* p1, const Vec3* up1, float width1, float extension1,
                                   float lift1, int flag);
// Free-quad corners of a one-sided ribbon segment.
void sprite3d_corners_from_segment_flat(Task* task, const Vec3* p0, const Vec3* side0, float length0,
                                        float extension0, const Vec3* p1, const Vec3* side1, float length1,
                                        float extension1, int flag);
// A width x height rectangle in the local x-z plane placed by position and
// angles (translation only when angles is null).
void sprite3d_corners_from_rect(Task* task, const Vec3* position, const Vec3* angles, float width, float height);
// Applies the free quad's transform to its corners and clears the
// transform flag, so the draw does not apply it a second time.
void sprite3d_bake_transform(Task* task);

// Colour and scalar helpers.
float clamp01_sprite3d(float x);
float clamp_sprite3d(float x, float lo, float hi);
float lerp_sprite3d(float a, float b, float t);
uint32_t sprite3d_argb_alpha(uint32_t argb);
uint32_t sprite3d_argb_red(uint32_t argb);
uint32_t sprite3d_argb_green(uint32_t argb);
uint32_t sprite3d_argb_blue(uint32_t argb);
float sprite3d_argb_alpha_unit(uint32_t argb);
float sprite3d_argb_red_unit(uint32_t argb);
float sprite3d_argb_green_unit(uint32_t argb);
float sprite3d_argb_blue_unit(uint32_t argb);
uint32_t sprite3d_argb_pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b);
uint32_t sprite3d_argb_from_units(float a, float r, float g, float b);
uint32_t sprite3d_argb_lerp(uint32_t from, uint32_t to, float t);
// Red, green and blue shifted right by n bits; alpha kept.
uint32_t sprite3d_argb_shift(uint32_t argb, int n);
