#include "render/overlay2d/sprite2d.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "render/overlay2d/overlay_device.h"

namespace {

int sprite_type = 0;

constexpr Vec2 kFullUvs[4] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {0.0f, 1.0f}, {1.0f, 1.0f}};

void sprite2d_on_create(Task* task) {
  SpriteData* s = task_data<SpriteData>(task);
  std::memcpy(s->uv0, kFullUvs, sizeof(kFullUvs));
  std::memcpy(s->uv1, kFullUvs, sizeof(kFullUvs));
  s->scale_x = 1.0f;
  s->scale_y = 1.0f;
  s->colour = 0xFFFFFFFFu;
  s->blend = 1;
  s->filter = -1;
  task_set_layer(task, kSpriteDefaultLayer);
  task_set_visible(task, true);
}

uint32_t sprite2d_sort_key(Task*) { return 0; }

Task* new_sprite(uint32_t owner) {
  Task* task = task_create(owner);
  if (task != nullptr) task_set_type(task, sprite_type);
  return task;
}

void set_uv_rect(Vec2 uv[4], float left, float top, float right, float bottom) {
  uv[0] = Vec2{left, top};
  uv[1] = Vec2{right, top};
  uv[2] = Vec2{left, bottom};
  uv[3] = Vec2{right, bottom};
}

void uvs_from_crop(Vec2 uv[4], const OverlayCrop& crop) {
  set_uv_rect(uv, crop.u, crop.v, crop.u + crop.width, crop.v + crop.height);
}

void copy_corners(Vec2 uv[4], const float in[8]) {
  for (int k = 0; k < 4; ++k) uv[k] = Vec2{in[2 * k], in[2 * k + 1]};
}

}  // namespace

int sprite2d_register_type() {
  sprite_type = task_type_register(sprite2d_draw_batch, sprite2d_on_create, nullptr,
                                   sprite2d_sort_key, sizeof(SpriteData));
  return sprite_type;
}

int sprite2d_get_type() { return sprite_type; }

SpriteData* sprite2d_data(Task* task) {
  if (task == nullptr || sprite_type == 0 || task->type != sprite_type) return nullptr;
  return task_data<SpriteData>(task);
}

// ---------------------------------------------------------------- creators

namespace {

// What every creator shares once the sprite's picture or size is set.
Task* place_sprite(Task* task, uint32_t colour, float x, float y, float pivot_x, float pivot_y, float scale_x,
                   float scale_y, uint8_t layer, bool one_frame) {
  sprite2d_set_position(task, x, y);
  sprite2d_set_pivot(task, pivot_x, pivot_y);
  sprite2d_set_scale(task, scale_x, scale_y);
  sprite2d_set_colour(task, colour);
  sprite2d_show(task);
  if (one_frame) task_set_one_frame(task);
  task_set_layer(task, layer);
  return task;
}

Task* new_texture_sprite(uint32_t owner, AssetHandle texture) {
  Task* task = new_sprite(owner);
  if (task) sprite2d_bind_texture(task, texture);
  return task;
}

Task* new_crop_sprite(uint32_t owner, AssetHandle crop) {
  Task* task = new_sprite(owner);
  if (task) sprite2d_bind_crop(task, crop);
  return task;
}

Task* new_rect_sprite(uint32_t owner, float width, float height) {
  Task* task = new_sprite(owner);
  if (task) sprite2d_set_size(task, width, height);
  return task;
}

}  // namespace

Task* sprite2d_draw_texture(uint32_t owner, AssetHandle texture, uint32_t colour, float x, float y,
                            float pivot_x, float pivot_y, float scale_x, float scale_y,
                            uint8_t layer) {
  Task* task = new_texture_sprite(owner, texture);
  return task ? place_sprite(task, colour, x, y, pivot_x, pivot_y, scale_x, scale_y, layer, true) : nullptr;
}

Task* sprite2d_draw_crop(uint32_t owner, AssetHandle crop, uint32_t colour, float x, float y,
                         float pivot_x, float pivot_y, float scale_x, float scale_y,
                         uint8_t layer) {
  Task* task = new_crop_sprite(owner, crop);
  return task ? place_sprite(task, colour, x, y, pivot_x, pivot_y, scale_x, scale_y, layer, true) : nullptr;
}

Task* sprite2d_draw_rect(uint32_t owner, uint32_t colour, float x, float y, float width,
                         float height, float pivot_x, float pivot_y, float scale_x, float scale_y,
                         uint8_t layer) {
  Task* task = new_rect_sprite(owner, width, height);
  return task ? place_sprite(task, colour, x, y, pivot_x, pivot_y, scale_x, scale_y, layer, true) : nullptr;
}

Task* sprite2d_create_texture(uint32_t owner, AssetHandle texture, uint32_t colour, float x,
                              float y, float pivot_x, float pivot_y, float scale_x, float scale_y,
                              uint8_t layer) {
  Task* task = new_texture_sprite(owner, texture);
  return task ? place_sprite(task, colour, x, y, pivot_x, pivot_y, scale_x, scale_y, layer, false) : nullptr;
}

Task* sprite2d_create_crop(uint32_t owner, AssetHandle crop, uint32_t colour, float x, float y,
                           float pivot_x, float pivot_y, float scale_x, float scale_y,
                           uint8_t layer) {
  Task* task = new_crop_sprite(owner, crop);
  return task ? place_sprite(task, colour, x, y, pivot_x, pivot_y, scale_x, scale_y, layer, false) : nullptr;
}

Task* sprite2d_create_rect(uint32_t owner, uint32_t colour, float x, float y, float width,
                           float height, float pivot_x, float pivot_y, float scale_x,
                           float scale_y, uint8_t layer) {
  Task* task = new_rect_sprite(owner, width, height);
  return task ? place_sprite(task, colour, x, y, pivot_x, pivot_y, scale_x, scale_y, layer, false) : nullptr;
}

// ---------------------------------------------------------------- setters

void sprite2d_set_position(Task* task, float x, float y) {
  if (SpriteData* s = sprite2d_data(task)) {
    s->x = x;
    s->y = y;
  }
}

void sprite2d_set_size(Task* task, float width, float height) {
  if (SpriteData* s = sprite2d_data(task)) {
    s->width = width;
    s->height = height;
  }
}

void sprite2d_set_pivot(Task* task, float x, float y) {
  if (SpriteData* s = sprite2d_data(task)) {
    s->pivot_x = x;
    s->pivot_y = y;
  }
}

void sprite2d_set_scale(Task* task, float x, float y) {
  if (SpriteData* s = sprite2d_data(task)) {
    s->scale_x = x;
    s->scale_y = y;
  }
}

void sprite2d_set_angle(Task* task, float angle) {
  if (SpriteData* s = sprite2d_data(task)) s->angle = angle;
}

void sprite2d_set_colour(Task* task, uint32_t colour) {
  if (SpriteData* s = sprite2d_data(task)) s->colour = colour;
}

void sprite2d_set_sampler_mode(Task* task, int32_t filter) {
  if (SpriteData* s = sprite2d_data(task)) s->filter = filter;
}

void sprite2d_set_texture(Task* task, AssetHandle texture) {
  if (SpriteData* s = sprite2d_data(task)) s->texture0 = texture;
}

void sprite2d_set_texture1(Task* task, AssetHandle texture) {
  if (SpriteData* s = sprite2d_data(task)) s->texture1 = texture;
}

void sprite2d_bind_texture(Task* task, AssetHandle texture) {
  SpriteData* s = sprite2d_data(task);
  int width = 0, height = 0;
  if (s == nullptr || !overlay_texture_size(texture, &width, &height)) return;
  s->width = static_cast<float>(width);
  s->height = static_cast<float>(height);
  std::memcpy(s->uv0, kFullUvs, sizeof(kFullUvs));
  s->texture0 = texture;
}

void sprite2d_bind_texture1(Task* task, AssetHandle texture) {
  SpriteData* s = sprite2d_data(task);
  int width = 0, height = 0;
  if (s == nullptr || !overlay_texture_size(texture, &width, &height)) return;
  std::memcpy(s->uv1, kFullUvs, sizeof(kFullUvs));
  s->texture1 = texture;
}

void sprite2d_bind_crop(Task* task, AssetHandle crop) {
  SpriteData* s = sprite2d_data(task);
  OverlayCrop c;
  if (s == nullptr || !overlay_crop(crop, &c)) return;
  s->width = std::fabs(c.width) * static_cast<float>(c.texture_width);
  s->height = std::fabs(c.height) * static_cast<float>(c.texture_height);
  uvs_from_crop(s->uv0, c);
  s->texture0 = c.texture;
}

void sprite2d_bind_crop1(Task* task, AssetHandle crop) {
  SpriteData* s = sprite2d_data(task);
  OverlayCrop c;
  if (s == nullptr || !overlay_crop(crop, &c)) return;
  uvs_from_crop(s->uv1, c);
  s->texture1 = c.texture;
}

void sprite2d_set_uv_rect(Task* task, float left, float top, float right, float bottom) {
  if (SpriteData* s = sprite2d_data(task)) set_uv_rect(s->uv0, left, top, right, bottom);
}

void sprite2d_set_uv_rect1(Task* task, float left, float top, float right, float bottom) {
  if (SpriteData* s = sprite2d_data(task)) set_uv_rect(s->uv1, left, top, right, bottom);
}

void sprite2d_set_uv_corners(Task* task, const float uv[8]) {
  if (SpriteData* s = sprite2d_data(task)) copy_corners(s->uv0, uv);
}

void sprite2d_set_uv_corners1(Task* task, const float uv[8]) {
  if (SpriteData* s = sprite2d_data(task)) copy_corners(s->uv1, uv);
}

void sprite2d_set_uv_orientation(Task* task, uint8_t quarter_turns, uint8_t flips) {
  if (SpriteData* s = sprite2d_data(task)) {
    s->uv0_turns = quarter_turns;
    s->uv0_flips = flips;
  }
}

void sprite2d_set_uv1_orientation(Task* task, uint8_t quarter_turns, uint8_t flips) {
  if (SpriteData* s = sprite2d_data(task)) {
    s->uv1_turns = quarter_turns;
    s->uv1_flips = flips;
  }
}

void sprite2d_set_shader(Task* task, uint16_t selector, const void* params, int length) {
  SpriteData* s = sprite2d_data(task);
  if (s == nullptr) return;
  s->shader = selector;
  if (params != nullptr && length >= 1) {
    const size_t n = length < kSpriteShaderParamBytes ? static_cast<size_t>(length)
                                                      : static_cast<size_t>(kSpriteShaderParamBytes);
    std::memcpy(s->shader_params, params, n);
  }
}

void sprite2d_set_blend(Task* task, uint16_t blend) {
  if (SpriteData* s = sprite2d_data(task)) s->blend = blend;
}

void sprite2d_set_clip_rect(Task* task, int16_t x, int16_t y, int16_t width, int16_t height) {
  if (SpriteData* s = sprite2d_data(task)) {
    s->clip_x = x;
    s->clip_y = y;
    s->clip_width = width;
    s->clip_height = height;
  }
}

void sprite2d_show(Task* task) {
  if (sprite2d_data(task) != nullptr) task_set_visible(task, true);
}

// ---------------------------------------------------------------- getters

AssetHandle sprite2d_get_texture(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->texture0 : 0; }
AssetHandle sprite2d_get_texture1(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->texture1 : 0; }
float sprite2d_get_x(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->x : 0.0f; }
float sprite2d_get_y(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->y : 0.0f; }
float sprite2d_get_angle(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->angle : 0.0f; }
float sprite2d_get_width(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->width : 0.0f; }
float sprite2d_get_height(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->height : 0.0f; }
float sprite2d_get_pivot_x(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->pivot_x : 0.0f; }
float sprite2d_get_pivot_y(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->pivot_y : 0.0f; }
float sprite2d_get_scale_x(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->scale_x : 0.0f; }
float sprite2d_get_scale_y(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->scale_y : 0.0f; }
uint32_t sprite2d_get_colour(Task* t) { return sprite2d_data(t) ? sprite2d_data(t)->colour : 0u; }

// ---------------------------------------------------------------- geometry

int sprite2d_corners(Vec2 out[4], const SpriteData* s, float factor_x, float factor_y,
                     float pixel_offset) {
  const float x0 = s->x - pixel_offset;
  const float y0 = s->y - pixel_offset;
  const float sx = s->scale_x * factor_x;
  const float sy = s->scale_y * factor_y;
  const float left = s->width * s->pivot_x * sx;
  const float right = (1.0f - s->pivot_x) * s->width * sx;
  const float top = s->height * s->pivot_y * sy;
  const float bottom = (1.0f - s->pivot_y) * s->height * sy;
  const Vec2 offsets[4] = {{-left, -top}, {right, -top}, {-left, bottom}, {right, bottom}};
  if (s->angle == 0.0f) {
    for (int k = 0; k < 4; ++k) out[k] = Vec2{x0 + offsets[k].x, y0 + offsets[k].y};
    return 0;
  }
  const float sn = std::sin(s->angle);
  const float cs = std::cos(s->angle);
  for (int k = 0; k < 4; ++k) {
    const Vec2 d = offsets[k];
    out[k] = Vec2{x0 + d.x * cs + d.y * sn, y0 + d.y * cs - d.x * sn};
  }
  return 1;
}

int quad2d_compute_corners(Quad2D* out, Task* task, float factor_x, float factor_y) {
  const SpriteData* s = sprite2d_data(task);
  if (s == nullptr) return 0;
  return sprite2d_corners(out->corner, s, factor_x, factor_y, 0.0f);
}

void sprite2d_uv_from_screen(Task* task, int set, float texture_width, float texture_height, float a, float b,
                             float z) {
  SpriteData* s = sprite2d_data(task);
  if (s == nullptr || texture_width <= 0.0f || texture_height <= 0.0f) return;
  Vec2 corners[4];
  sprite2d_corners(corners, s, 1.0f, 1.0f, 0.0f);
  Vec2* uv = set == 0 ? s->uv0 : s->uv1;
  for (int k = 0; k < 4; ++k)
    uv[k] = Vec2{(corners[k].x + a) / texture_width, (corners[k].y + b) / texture_height};
  if (z == 1.0f) return;
  // The centre is the midpoint of the two diagonals' midpoints.
  const Vec2 centre{(uv[0].x + uv[3].x + uv[1].x + uv[2].x) * 0.25f, (uv[0].y + uv[3].y + uv[1].y + uv[2].y) * 0.25f};
  for (int k = 0; k < 4; ++k)
    uv[k] = Vec2{centre.x + (uv[k].x - centre.x) * z, centre.y + (uv[k].y - centre.y) * z};
}

void sprite2d_uv_from_screen_texture(Task* task, float a, float b, float z) {
  const SpriteData* s = sprite2d_data(task);
  int width = 0, height = 0;
  if (s == nullptr || !overlay_texture_size(s->texture0, &width, &height)) return;
  sprite2d_uv_from_screen(task, 0, static_cast<float>(width), static_cast<float>(height), a, b, z);
}

void sprite2d_uv1_from_screen_texture(Task* task, float a, float b, float z) {
  const SpriteData* s = sprite2d_data(task);
  int width = 0, height = 0;
  if (s == nullptr || !overlay_texture_size(s->texture1, &width, &height)) return;
  sprite2d_uv_from_screen(task, 1, static_cast<float>(width), static_cast<float>(height), a, b, z);
}

void sprite2d_orient_uvs(Vec2 out[4], const Vec2 in[4], uint8_t quarter_turns, uint8_t flips) {
  static constexpr int kPick[4][4] = {{0, 1, 2, 3}, {1, 3, 0, 2}, {3, 2, 1, 0}, {2, 0, 3, 1}};
  const int turns = quarter_turns & 3;
  for (int k = 0; k < 4; ++k) out[k] = in[kPick[turns][k]];
  const bool odd = (turns & 1) != 0;
  if ((flips & kSpriteFlipLeftRight) != 0) {
    if (odd) {
      std::swap(out[0].y, out[1].y);
      std::swap(out[2].y, out[3].y);
    } else {
      std::swap(out[0].x, out[1].x);
      std::swap(out[2].x, out[3].x);
    }
  }
  if ((flips & kSpriteFlipTopBottom) != 0) {
    if (odd) {
      std::swap(out[0].x, out[2].x);
      std::swap(out[1].x, out[3].x);
    } else {
      std::swap(out[0].y, out[2].y);
      std::swap(out[1].y, out[3].y);
    }
  }
}

// ---------------------------------------------------------------- hit tests

int sprite2d_hit_point(Task* task, float factor_x, float factor_y, float px, float py) {
  Quad2D q;
  if (sprite2d_data(task) == nullptr) return 0;
  if (quad2d_compute_corners(&q, task, factor_x, factor_y) == 0) {
    return q.corner[0].x <= px && px <= q.corner[3].x && q.corner[0].y <= py &&
           py <= q.corner[3].y;
  }
  const Vec2 p{px, py};
  return quad2d_contains_point(&q, &p);
}

int sprite2d_hit_circle(Task* task, float factor_x, float factor_y, const Vec2* centre,
                        float radius) {
  Quad2D q;
  if (sprite2d_data(task) == nullptr) return 0;
  quad2d_compute_corners(&q, task, factor_x, factor_y);
  return quad2d_overlaps_circle(&q, centre, radius);
}

int sprite2d_hit_segment(Task* task, float factor_x, float factor_y, const Vec2* p0,
                         const Vec2* p1) {
  Quad2D q;
  if (sprite2d_data(task) == nullptr) return 0;
  quad2d_compute_corners(&q, task, factor_x, factor_y);
  return quad2d_overlaps_segment(&q, p0, p1);
}

int sprite2d_hit_sprite(Task* a, float factor_ax, float factor_ay, Task* b, float factor_bx,
                        float factor_by) {
  Quad2D qa, qb;
  if (sprite2d_data(a) == nullptr || sprite2d_data(b) == nullptr) return 0;
  quad2d_compute_corners(&qa, a, factor_ax, factor_ay);
  quad2d_compute_corners(&qb, b, factor_bx, factor_by);
  return quad2d_overlaps_quad(&qa, &qb);
}
