#include "render/world/sprite3d.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "assets/crops.h"
#include "render/world/sprite3d_internal.h"

namespace {

Sprite3dType type_record;

Sprite3d* sprite(Task* task) { return sprite3d_of(task); }

void set_pairs(float (*uv)[2], float u0, float v0, float u1, float v1, float u2, float v2, float u3, float v3) {
  const float values[8] = {u0, v0, u1, v1, u2, v2, u3, v3};
  for (int i = 0; i < 4; ++i) {
    uv[i][0] = values[2 * i];
    uv[i][1] = values[2 * i + 1];
  }
}

}  // namespace

int sprite3d_register_type() {
  type_record = Sprite3dType{};
  type_record.type_id = static_cast<uint32_t>(
      task_type_register(sprite3d_draw_batch, sprite3d_on_create, nullptr, nullptr, sizeof(Sprite3d)));
  return static_cast<int>(type_record.type_id);
}

void sprite3d_shutdown() {}

Sprite3dType* sprite3d_type_record() { return &type_record; }

int sprite3d_get_type() { return static_cast<int>(type_record.type_id); }
uint32_t sprite3d_get_drawn_count() { return type_record.sprites_drawn; }
uint32_t sprite3d_get_batch_count() { return type_record.batches_drawn; }

void sprite3d_reset_frame_counters() {
  type_record.sprites_drawn = 0;
  type_record.batches_drawn = 0;
}

void sprite3d_on_create(Task* task) {
  Sprite3d* s = sprite(task);
  std::memset(static_cast<void*>(s), 0, sizeof(*s));
  s->head.blend = 1;
  s->head.zfunc = 3;
  s->head.param_a = 1.0f;
  Sprite3dBillboard& b = s->billboard;
  b.width = b.height = 1.0f;
  b.uv0[2] = b.uv0[3] = 1.0f;
  b.pivot_x = b.pivot_y = 0.5f;
  b.scale_x = b.scale_y = 1.0f;
  b.colour = 0xFFFFFFFFu;
  task_set_layer(task, kSprite3dLayer);
}

void sprite3d_init_mode1(Task* task) {
  Sprite3d* s = sprite(task);
  s->head.mode = 1;
  s->head.texture0 = s->head.texture1 = 0;
  Sprite3dBeam& b = s->beam;
  std::memset(static_cast<void*>(&b), 0, sizeof(b));
  b.side_width = 1.0f;
  set_pairs(b.uv0, 0, 0, 1, 0, 0, 1, 1, 1);
  set_pairs(b.uv1, 0, 0, 1, 0, 0, 1, 1, 1);
  b.start_colour = b.end_colour = 0xFFFFFFFFu;
}

void sprite3d_init_mode2(Task* task) {
  Sprite3d* s = sprite(task);
  s->head.mode = 2;
  s->head.texture0 = s->head.texture1 = 0;
  Sprite3dQuad& q = s->quad;
  std::memset(static_cast<void*>(&q), 0, sizeof(q));
  set_pairs(q.uv0, 0, 0, 0, 1, 1, 0, 1, 1);
  set_pairs(q.uv1, 0, 0, 0, 1, 1, 0, 1, 1);
  for (uint32_t& c : q.colours) c = 0xFFFFFFFFu;
  q.scale = Vec3{1, 1, 1};
}

void sprite3d_show(Task* task) { task_set_visible(task, true); }

// ---------------------------------------------------------------- creators

namespace {

Task* make_sprite(uint32_t owner) {
  if (type_record.type_id == 0) return nullptr;
  Task* task = task_create(owner);
  if (task != nullptr) task_set_type(task, static_cast<int>(type_record.type_id));
  return task;
}

}  // namespace

Task* sprite3d_create(uint32_t owner, const Vec3* position, float angle, float size, AssetHandle crop,
                      uint32_t colour, uint8_t blend) {
  Task* task = make_sprite(owner);
  if (task == nullptr) return nullptr;
  if (position != nullptr) sprite3d_set_position(task, position);
  sprite3d_set_angle(task, angle);
  sprite3d_set_size(task, size, size);
  sprite3d_set_colour(task, colour);
  sprite3d_set_crop(task, crop);
  sprite3d_set_blend(task, blend);
  sprite3d_show(task);
  return task;
}

Task* sprite3d_create_one_frame(uint32_t owner, const Vec3* position, float angle, float size, AssetHandle crop,
                                uint32_t colour, uint8_t blend, float depth_offset) {
  Task* task = sprite3d_create(owner, position, angle, size, crop, colour, blend);
  if (task == nullptr) return nullptr;
  sprite3d_set_depth_offset(task, depth_offset);
  task_set_one_frame(task);
  return task;
}

Task* sprite3d_create_beam(uint32_t owner, const Vec3* start, const Vec3* end, float width, uint32_t start_colour,
                           uint32_t end_colour, AssetHandle crop, uint8_t blend) {
  Task* task = make_sprite(owner);
  if (task == nullptr) return nullptr;
  sprite3d_init_mode1(task);
  if (start != nullptr) sprite3d_set_start_point(task, start);
  if (end != nullptr) sprite3d_set_end_point(task, end);
  sprite3d_set_widths(task, width, width);
  sprite3d_set_beam_colours(task, start_colour, end_colour);
  sprite3d_set_crop_mode1(task, crop);
  sprite3d_set_blend_mode1(task, blend);
  sprite3d_show(task);
  return task;
}

Task* sprite3d_create_beam_one_frame(uint32_t owner, const Vec3* start, const Vec3* end, float width,
                                     uint32_t start_colour, uint32_t end_colour, AssetHandle crop, uint8_t blend) {
  Task* task = sprite3d_create_beam(owner, start, end, width, start_colour, end_colour, crop, blend);
  if (task != nullptr) task_set_one_frame(task);
  return task;
}

Task* sprite3d_create_quad(uint32_t owner, const Vec3* c0, const Vec3* c1, const Vec3* c2, const Vec3* c3,
                           uint32_t colour0, uint32_t colour1, uint32_t colour2, uint32_t colour3, AssetHandle crop,
                           uint8_t blend) {
  Task* task = make_sprite(owner);
  if (task == nullptr) return nullptr;
  sprite3d_init_mode2(task);
  const Vec3* corners[4] = {c0, c1, c2, c3};
  for (int i = 0; i < 4; ++i)
    if (corners[i] != nullptr) sprite3d_set_corner(task, i, corners[i]);
  sprite3d_set_corner_colours(task, colour0, colour1, colour2, colour3);
  sprite3d_set_crop_mode2(task, crop);
  sprite3d_set_blend_mode2(task, blend);
  sprite3d_show(task);
  return task;
}

Task* sprite3d_create_quad_from_array(uint32_t owner, const Vec3* corners, AssetHandle crop, uint8_t blend) {
  Task* task = make_sprite(owner);
  if (task == nullptr) return nullptr;
  sprite3d_init_mode2(task);
  if (corners != nullptr)
    for (int i = 0; i < 4; ++i) sprite3d_set_corner(task, i, &corners[i]);
  sprite3d_set_crop_mode2(task, crop);
  sprite3d_set_blend_mode2(task, blend);
  sprite3d_show(task);
  return task;
}

Task* sprite3d_create_quad_blank(uint32_t owner, AssetHandle crop, uint8_t blend) {
  return sprite3d_create_quad_from_array(owner, nullptr, crop, blend);
}

// ---------------------------------------------------------------- common head

void sprite3d_set_shader(Task* task, int32_t mode, const void* data, int length) {
  Sprite3dHead& h = sprite(task)->head;
  h.shading_mode = mode;
  if (length > 0 && data != nullptr)
    std::memcpy(h.shader_data, data, static_cast<size_t>(std::min(length, kSprite3dShaderDataSize)));
}
void sprite3d_set_shader_mode1(Task* task, int32_t mode, const void* data, int length) {
  sprite3d_set_shader(task, mode, data, length);
}
void sprite3d_set_shader_mode2(Task* task, int32_t mode, const void* data, int length) {
  sprite3d_set_shader(task, mode, data, length);
}
void sprite3d_set_blend(Task* task, uint8_t index) { sprite(task)->head.blend = index; }
void sprite3d_set_blend_mode1(Task* task, uint8_t index) { sprite3d_set_blend(task, index); }
void sprite3d_set_blend_mode2(Task* task, uint8_t index) { sprite3d_set_blend(task, index); }
void sprite3d_set_zfunc(Task* task, uint8_t index) { sprite(task)->head.zfunc = index; }
void sprite3d_set_zfunc_mode1(Task* task, uint8_t index) { sprite3d_set_zfunc(task, index); }
void sprite3d_set_zfunc_mode2(Task* task, uint8_t index) { sprite3d_set_zfunc(task, index); }
void sprite3d_set_mirror(Task* task, uint8_t on) { sprite(task)->head.mirror = on; }
void sprite3d_set_mirror_mode1(Task* task, uint8_t on) { sprite3d_set_mirror(task, on); }
void sprite3d_set_mirror_mode2(Task* task, uint8_t on) { sprite3d_set_mirror(task, on); }
void sprite3d_set_texture0(Task* task, AssetHandle texture) { sprite(task)->head.texture0 = texture; }
void sprite3d_set_texture0_mode1(Task* task, AssetHandle texture) { sprite3d_set_texture0(task, texture); }
void sprite3d_set_texture0_mode2(Task* task, AssetHandle texture) { sprite3d_set_texture0(task, texture); }
void sprite3d_set_texture1(Task* task, AssetHandle texture) { sprite(task)->head.texture1 = texture; }
void sprite3d_set_texture1_mode1(Task* task, AssetHandle texture) { sprite3d_set_texture1(task, texture); }
void sprite3d_set_texture1_mode2(Task* task, AssetHandle texture) { sprite3d_set_texture1(task, texture); }
AssetHandle sprite3d_get_texture0(Task* task) { return sprite(task)->head.texture0; }
AssetHandle sprite3d_get_texture0_mode1(Task* task) { return sprite3d_get_texture0(task); }
AssetHandle sprite3d_get_texture0_mode2(Task* task) { return sprite3d_get_texture0(task); }
AssetHandle sprite3d_get_texture1(Task* task) { return sprite(task)->head.texture1; }
AssetHandle sprite3d_get_texture1_mode1(Task* task) { return sprite3d_get_texture1(task); }
AssetHandle sprite3d_get_texture1_mode2(Task* task) { return sprite3d_get_texture1(task); }
void sprite3d_set_param_a(Task* task, float value) { sprite(task)->head.param_a = value; }
void sprite3d_set_param_a_mode1(Task* task, float value) { sprite3d_set_param_a(task, value); }
void sprite3d_set_param_a_mode2(Task* task, float value) { sprite3d_set_param_a(task, value); }
void sprite3d_set_param_b(Task* task, float value) { sprite(task)->head.param_b = clamp01_sprite3d(value); }
void sprite3d_set_param_b_mode1(Task* task, float value) { sprite3d_set_param_b(task, value); }
void sprite3d_set_param_b_mode2(Task* task, float value) { sprite3d_set_param_b(task, value); }

// ---------------------------------------------------------------- billboard

namespace {

Sprite3dBillboard& board(Task* task) { return sprite(task)->billboard; }

void set_rect(float* uv, float ul, float vt, float ur, float vb) {
  uv[0] = ul;
  uv[1] = vt;
  uv[2] = ur;
  uv[3] = vb;
}

// The crop's texture and rectangle, or none and the whole texture.
AssetHandle crop_rect(AssetHandle crop, float* ul, float* vt, float* ur, float* vb) {
  const CropRecord* record = crop != 0 ? get_crop_record(crop) : nullptr;
  if (record == nullptr) {
    *ul = *vt = 0.0f;
    *ur = *vb = 1.0f;
    return 0;
  }
  *ul = record->u;
  *vt = record->v;
  *ur = record->u + record->width;
  *vb = record->v + record->height;
  return record->texture;
}

}  // namespace

void sprite3d_set_position(Task* task, const Vec3* position) { board(task).position = *position; }
void sprite3d_set_position_xyz(Task* task, float x, float y, float z) { board(task).position = Vec3{x, y, z}; }
Vec3* sprite3d_get_position(Task* task) { return &board(task).position; }
void sprite3d_set_size(Task* task, float width, float height) {
  board(task).width = width;
  board(task).height = height;
}
float sprite3d_get_width(Task* task) { return board(task).width; }
float sprite3d_get_height(Task* task) { return board(task).height; }
void sprite3d_set_depth_offset(Task* task, float d) {
  board(task).depth_offset = d;
  board(task).depth_offset_sq = d * std::fabs(d);
}
float sprite3d_get_depth_offset(Task* task) { return board(task).depth_offset; }
void sprite3d_set_pivot(Task* task, float x, float y) {
  board(task).pivot_x = x;
  board(task).pivot_y = y;
}
float sprite3d_get_pivot_x(Task* task) { return board(task).pivot_x; }
float sprite3d_get_pivot_y(Task* task) { return board(task).pivot_y; }
void sprite3d_set_scale(Task* task, float x, float y) {
  board(task).scale_x = x;
  board(task).scale_y = y;
}
float sprite3d_get_scale_x(Task* task) { return board(task).scale_x; }
float sprite3d_get_scale_y(Task* task) { return board(task).scale_y; }
void sprite3d_set_angle(Task* task, float angle) { board(task).angle = angle; }
float sprite3d_get_angle(Task* task) { return board(task).angle; }
void sprite3d_set_colour(Task* task, uint32_t colour) { board(task).colour = colour; }
uint32_t sprite3d_get_colour(Task* task) { return board(task).colour; }
void sprite3d_set_lit(Task* task, int32_t lit) { board(task).lit = lit; }
int32_t sprite3d_get_lit(Task* task) { return board(task).lit; }
void sprite3d_set_uv0(Task* task, float ul, float vt, float ur, float vb) { set_rect(board(task).uv0, ul, vt, ur, vb); }
float sprite3d_get_uv0_u0(Task* task) { return board(task).uv0[0]; }
float sprite3d_get_uv0_v0(Task* task) { return board(task).uv0[1]; }
float sprite3d_get_uv0_u1(Task* task) { return board(task).uv0[2]; }
float sprite3d_get_uv0_v1(Task* task) { return board(task).uv0[3]; }
void sprite3d_set_uv1(Task* task, float ul, float vt, float ur, float vb) { set_rect(board(task).uv1, ul, vt, ur, vb); }
float sprite3d_get_uv1_u0(Task* task) { return board(task).uv1[0]; }
float sprite3d_get_uv1_v0(Task* task) { return board(task).uv1[1]; }
float sprite3d_get_uv1_u1(Task* task) { return board(task).uv1[2]; }
float sprite3d_get_uv1_v1(Task* task) { return board(task).uv1[3]; }

void sprite3d_set_crop(Task* task, AssetHandle crop) {
  float r[4];
  sprite3d_set_texture0(task, crop_rect(crop, &r[0], &r[1], &r[2], &r[3]));
  sprite3d_set_uv0(task, r[0], r[1], r[2], r[3]);
}

void sprite3d_set_crop1(Task* task, AssetHandle crop) {
  float r[4];
  sprite3d_set_texture1(task, crop_rect(crop, &r[0], &r[1], &r[2], &r[3]));
  sprite3d_set_uv1(task, r[0], r[1], r[2], r[3]);
}

// ---------------------------------------------------------------- beam

namespace {

Sprite3dBeam& beam(Task* task) { return sprite(task)->beam; }

}  // namespace

void sprite3d_set_start_point(Task* task, const Vec3* p) { beam(task).start = *p; }
void sprite3d_set_end_point(Task* task, const Vec3* p) { beam(task).end = *p; }
void sprite3d_set_start_xyz(Task* task, float x, float y, float z) { beam(task).start = Vec3{x, y, z}; }
void sprite3d_set_end_xyz(Task* task, float x, float y, float z) { beam(task).end = Vec3{x, y, z}; }
Vec3* sprite3d_get_start_point(Task* task) { return &beam(task).start; }
Vec3* sprite3d_get_end_point(Task* task) { return &beam(task).end; }
void sprite3d_set_widths(Task* task, float side, float end) {
  beam(task).side_width = side;
  beam(task).end_width = end;
}
void sprite3d_set_side_width(Task* task, float side) { beam(task).side_width = side; }
void sprite3d_set_end_width(Task* task, float end) { beam(task).end_width = end; }
float sprite3d_get_side_width(Task* task) { return beam(task).side_width; }
float sprite3d_get_end_width(Task* task) { return beam(task).end_width; }
void sprite3d_set_beam_uv0(Task* task, float ul, float vt, float ur, float vb) {
  set_pairs(beam(task).uv0, ul, vt, ur, vt, ul, vb, ur, vb);
}
void sprite3d_set_beam_uv1(Task* task, float ul, float vt, float ur, float vb) {
  set_pairs(beam(task).uv1, ul, vt, ur, vt, ul, vb, ur, vb);
}
float sprite3d_get_beam_uv0_u0(Task* task) { return beam(task).uv0[0][0]; }
float sprite3d_get_beam_uv0_v0(Task* task) { return beam(task).uv0[0][1]; }
float sprite3d_get_beam_uv0_u1(Task* task) { return beam(task).uv0[3][0]; }
float sprite3d_get_beam_uv0_v1(Task* task) { return beam(task).uv0[3][1]; }
float sprite3d_get_beam_uv1_u0(Task* task) { return beam(task).uv1[0][0]; }
float sprite3d_get_beam_uv1_v0(Task* task) { return beam(task).uv1[0][1]; }
float sprite3d_get_beam_uv1_u1(Task* task) { return beam(task).uv1[3][0]; }
float sprite3d_get_beam_uv1_v1(Task* task) { return beam(task).uv1[3][1]; }
void sprite3d_set_start_colour(Task* task, uint32_t colour) { beam(task).start_colour = colour; }
void sprite3d_set_end_colour(Task* task, uint32_t colour) { beam(task).end_colour = colour; }
void sprite3d_set_beam_colours(Task* task, uint32_t start, uint32_t end) {
  beam(task).start_colour = start;
  beam(task).end_colour = end;
}
uint32_t sprite3d_get_start_colour(Task* task) { return beam(task).start_colour; }
uint32_t sprite3d_get_end_colour(Task* task) { return beam(task).end_colour; }
void sprite3d_set_beam_flag(Task* task, int32_t flag) { beam(task).flag = flag; }

void sprite3d_set_crop_mode1(Task* task, AssetHandle crop) {
  float r[4];
  sprite3d_set_texture0(task, crop_rect(crop, &r[0], &r[1], &r[2], &r[3]));
  sprite3d_set_beam_uv0(task, r[0], r[1], r[2], r[3]);
}

void sprite3d_set_crop1_mode1(Task* task, AssetHandle crop) {
  float r[4];
  sprite3d_set_texture1(task, crop_rect(crop, &r[0], &r[1], &r[2], &r[3]));
  sprite3d_set_beam_uv1(task, r[0], r[1], r[2], r[3]);
}

// ---------------------------------------------------------------- free quad

namespace {

Sprite3dQuad& quad(Task* task) { return sprite(task)->quad; }
bool corner_index(int index) { return index >= 0 && index < 4; }

// Corner 0 (ul, vt), 1 (ul, vb), 2 (ur, vt), 3 (ur, vb).
void set_quad_rect(float (*uv)[2], float ul, float vt, float ur, float vb) {
  set_pairs(uv, ul, vt, ul, vb, ur, vt, ur, vb);
}

}  // namespace

void sprite3d_set_corner(Task* task, int index, const Vec3* p) {
  if (corner_index(index)) quad(task).corners[index] = *p;
}
void sprite3d_set_corner_xyz(Task* task, int index, float x, float y, float z) {
  if (corner_index(index)) quad(task).corners[index] = Vec3{x, y, z};
}
void sprite3d_set_corner0(Task* task, const Vec3* p) { sprite3d_set_corner(task, 0, p); }
void sprite3d_set_corner1(Task* task, const Vec3* p) { sprite3d_set_corner(task, 1, p); }
void sprite3d_set_corner2(Task* task, const Vec3* p) { sprite3d_set_corner(task, 2, p); }
void sprite3d_set_corner3(Task* task, const Vec3* p) { sprite3d_set_corner(task, 3, p); }
void sprite3d_set_corner0_xyz(Task* task, float x, float y, float z) { sprite3d_set_corner_xyz(task, 0, x, y, z); }
void sprite3d_set_corner1_xyz(Task* task, float x, float y, float z) { sprite3d_set_corner_xyz(task, 1, x, y, z); }
void sprite3d_set_corner2_xyz(Task* task, float x, float y, float z) { sprite3d_set_corner_xyz(task, 2, x, y, z); }
void sprite3d_set_corner3_xyz(Task* task, float x, float y, float z) { sprite3d_set_corner_xyz(task, 3, x, y, z); }
Vec3* sprite3d_get_corner0(Task* task) { return &quad(task).corners[0]; }
Vec3* sprite3d_get_corner1(Task* task) { return &quad(task).corners[1]; }
Vec3* sprite3d_get_corner2(Task* task) { return &quad(task).corners[2]; }
Vec3* sprite3d_get_corner3(Task* task) { return &quad(task).corners[3]; }
Vec3* sprite3d_get_corners(Task* task) { return quad(task).corners; }

void sprite3d_set_quad_uv0(Task* task, float u, float v, int index) {
  if (!corner_index(index)) return;
  quad(task).uv0[index][0] = u;
  quad(task).uv0[index][1] = v;
}
void sprite3d_set_quad_uv1(Task* task, float u, float v, int index) {
  if (!corner_index(index)) return;
  quad(task).uv1[index][0] = u;
  quad(task).uv1[index][1] = v;
}
void sprite3d_set_quad_uv0_0(Task* task, float u, float v) { sprite3d_set_quad_uv0(task, u, v, 0); }
void sprite3d_set_quad_uv0_1(Task* task, float u, float v) { sprite3d_set_quad_uv0(task, u, v, 1); }
void sprite3d_set_quad_uv0_2(Task* task, float u, float v) { sprite3d_set_quad_uv0(task, u, v, 2); }
void sprite3d_set_quad_uv0_3(Task* task, float u, float v) { sprite3d_set_quad_uv0(task, u, v, 3); }
void sprite3d_set_quad_uv1_0(Task* task, float u, float v) { sprite3d_set_quad_uv1(task, u, v, 0); }
void sprite3d_set_quad_uv1_1(Task* task, float u, float v) { sprite3d_set_quad_uv1(task, u, v, 1); }
void sprite3d_set_quad_uv1_2(Task* task, float u, float v) { sprite3d_set_quad_uv1(task, u, v, 2); }
void sprite3d_set_quad_uv1_3(Task* task, float u, float v) { sprite3d_set_quad_uv1(task, u, v, 3); }
float* sprite3d_get_quad_uv0_0(Task* task) { return quad(task).uv0[0]; }
float* sprite3d_get_quad_uv0_1(Task* task) { return quad(task).uv0[1]; }
float* sprite3d_get_quad_uv0_2(Task* task) { return quad(task).uv0[2]; }
float* sprite3d_get_quad_uv0_3(Task* task) { return quad(task).uv0[3]; }
float* sprite3d_get_quad_uv0s(Task* task) { return quad(task).uv0[0]; }
float* sprite3d_get_quad_uv1_0(Task* task) { return quad(task).uv1[0]; }
float* sprite3d_get_quad_uv1_1(Task* task) { return quad(task).uv1[1]; }
float* sprite3d_get_quad_uv1_2(Task* task) { return quad(task).uv1[2]; }
float* sprite3d_get_quad_uv1_3(Task* task) { return quad(task).uv1[3]; }
float* sprite3d_get_quad_uv1s(Task* task) { return quad(task).uv1[0]; }

void sprite3d_set_corner_colour(Task* task, uint32_t colour, int index) {
  if (corner_index(index)) quad(task).colours[index] = colour;
}
void sprite3d_set_corner_colour0(Task* task, uint32_t colour) { sprite3d_set_corner_colour(task, colour, 0); }
void sprite3d_set_corner_colour1(Task* task, uint32_t colour) { sprite3d_set_corner_colour(task, colour, 1); }
void sprite3d_set_corner_colour2(Task* task, uint32_t colour) { sprite3d_set_corner_colour(task, colour, 2); }
void sprite3d_set_corner_colour3(Task* task, uint32_t colour) { sprite3d_set_corner_colour(task, colour, 3); }
void sprite3d_set_corner_colours(Task* task, uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3) {
  uint32_t* c = quad(task).colours;
  c[0] = c0;
  c[1] = c1;
  c[2] = c2;
  c[3] = c3;
}
uint32_t sprite3d_get_corner_colour(Task* task, int index) {
  return corner_index(index) ? quad(task).colours[index] : 0u;
}
uint32_t sprite3d_get_corner_colour0(Task* task) { return quad(task).colours[0]; }
uint32_t sprite3d_get_corner_colour1(Task* task) { return quad(task).colours[1]; }
uint32_t sprite3d_get_corner_colour2(Task* task) { return quad(task).colours[2]; }
uint32_t sprite3d_get_corner_colour3(Task* task) { return quad(task).colours[3]; }

void sprite3d_set_transform(Task* task, const Vec3* position, const Vec3* angles) {
  sprite3d_set_quad_position(task, position);
  sprite3d_set_quad_angles(task, angles);
}
void sprite3d_set_quad_position(Task* task, const Vec3* position) {
  if (position != nullptr) quad(task).position = *position;
}
void sprite3d_set_quad_angles(Task* task, const Vec3* angles) {
  if (angles != nullptr) quad(task).angles = *angles;
}
void sprite3d_set_quad_scale(Task* task, const Vec3* scale) {
  if (scale != nullptr) quad(task).scale = *scale;
}
void sprite3d_set_transform_flag(Task* task, int32_t flag) { quad(task).transform = flag; }
Vec3* sprite3d_get_quad_position(Task* task) { return &quad(task).position; }
Vec3* sprite3d_get_quad_angles(Task* task) { return &quad(task).angles; }
Vec3* sprite3d_get_quad_scale(Task* task) { return &quad(task).scale; }
int32_t sprite3d_get_transform_flag(Task* task) { return quad(task).transform; }

void sprite3d_set_crop_mode2(Task* task, AssetHandle crop) {
  float r[4];
  const AssetHandle texture = crop_rect(crop, &r[0], &r[1], &r[2], &r[3]);
  sprite3d_set_texture0(task, texture);
  // No crop gives (0, 0, 1, 1): the layout's default pairs.
  set_quad_rect(quad(task).uv0, r[0], r[1], r[2], r[3]);
}

void sprite3d_set_crop1_mode2(Task* task, AssetHandle crop) {
  float r[4];
  const AssetHandle texture = crop_rect(crop, &r[0], &r[1], &r[2], &r[3]);
  sprite3d_set_texture1(task, texture);
  set_quad_rect(quad(task).uv1, r[0], r[1], r[2], r[3]);
}
