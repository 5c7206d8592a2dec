// The 2D sprite task type: every screen-space quad. A sprite shows a whole
// texture, a crop of one, or no texture at all (a coloured rectangle); it is
// placed in back-buffer pixels with a pivot, scale and rotation, carries two
// texture stages with their own UV sets, a blend mode, an optional clip
// rectangle and an optional shader. The draw batches consecutive sprites of
// a draw-list run into indexed triangle lists of up to 4096 quads, breaking
// a batch only where a state changes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "assets/asset_handle.h"
#include "math/quad2d.h"
#include "render/tasks/task.h"

constexpr int kSpriteBatchQuads = 4096;
constexpr int kSpriteShaderParamBytes = 40;
constexpr int kSpriteDefaultLayer = 20;

// Flip flags of a UV set.
constexpr uint8_t kSpriteFlipLeftRight = 4;
constexpr uint8_t kSpriteFlipTopBottom = 8;

// Corner order of UV sets and vertices: top-left, top-right, bottom-left,
// bottom-right.
struct SpriteData {
  float x, y;           // back-buffer pixels of the pivot point
  float width, height;  // pixels before scaling
  Vec2 uv0[4];
  Vec2 uv1[4];
  float pivot_x, pivot_y;  // fractions of the size; (0, 0) = top-left
  float scale_x, scale_y;
  float angle;  // radians
  uint32_t colour;
  AssetHandle texture0;  // 0 = untextured
  AssetHandle texture1;  // 0 = none
  uint16_t shader;       // 0 = no shader of its own
  uint16_t blend;        // blend-pair index; 1 = source alpha, inverse source alpha
  uint8_t uv0_turns, uv1_turns;
  uint8_t uv0_flips, uv1_flips;
  int32_t filter;  // -1 automatic, 0 point, 1 linear
  uint8_t shader_params[kSpriteShaderParamBytes];
  int16_t clip_x, clip_y, clip_width, clip_height;  // width 0 or less: no clip
};

// Registration (through overlay2d_register_types) and the type's id.
int sprite2d_register_type();
int sprite2d_get_type();

// One-frame creators; each returns the task, or null when the pool is full.
Task* sprite2d_draw_texture(uint32_t owner, AssetHandle texture, uint32_t colour, float x, float y,
                            float pivot_x, float pivot_y, float scale_x, float scale_y,
                            uint8_t layer);
Task* sprite2d_draw_crop(uint32_t owner, AssetHandle crop, uint32_t colour, float x, float y,
                         float pivot_x, float pivot_y, float scale_x, float scale_y, uint8_t layer);
Task* sprite2d_draw_rect(uint32_t owner, uint32_t colour, float x, float y, float width,
                         float height, float pivot_x, float pivot_y, float scale_x, float scale_y,
                         uint8_t layer);
// Persistent creators.
Task* sprite2d_create_texture(uint32_t owner, AssetHandle texture, uint32_t colour, float x,
                              float y, float pivot_x, float pivot_y, float scale_x, float scale_y,
                              uint8_t layer);
Task* sprite2d_create_crop(uint32_t owner, AssetHandle crop, uint32_t colour, float x, float y,
                           float pivot_x, float pivot_y, float scale_x, float scale_y,
                           uint8_t layer);
Task* sprite2d_create_rect(uint32_t owner, uint32_t colour, float x, float y, float width,
                           float height, float pivot_x, float pivot_y, float scale_x,
                           float scale_y, uint8_t layer);

// Setters (a null task, or one of another type, is ignored).
void sprite2d_set_position(Task* task, float x, float y);
void sprite2d_set_size(Task* task, float width, float height);
void sprite2d_set_pivot(Task* task, float x, float y);
void sprite2d_set_scale(Task* task, float x, float y);
void sprite2d_set_angle(Task* task, float angle);
void sprite2d_set_colour(Task* task, uint32_t colour);
void sprite2d_set_sampler_mode(Task* task, int32_t filter);
// The handle only; size and UVs stay.
void sprite2d_set_texture(Task* task, AssetHandle texture);
void sprite2d_set_texture1(Task* task, AssetHandle texture);
// Size and full UVs from the texture; nothing when it does not exist.
void sprite2d_bind_texture(Task* task, AssetHandle texture);
void sprite2d_bind_texture1(Task* task, AssetHandle texture);
// Size and UVs from the crop (a negative crop size mirrors); nothing when
// the crop or its texture does not exist.
void sprite2d_bind_crop(Task* task, AssetHandle crop);
void sprite2d_bind_crop1(Task* task, AssetHandle crop);
void sprite2d_set_uv_rect(Task* task, float left, float top, float right, float bottom);
void sprite2d_set_uv_rect1(Task* task, float left, float top, float right, float bottom);
void sprite2d_set_uv_corners(Task* task, const float uv[8]);
void sprite2d_set_uv_corners1(Task* task, const float uv[8]);
void sprite2d_set_uv_orientation(Task* task, uint8_t quarter_turns, uint8_t flips);
void sprite2d_set_uv1_orientation(Task* task, uint8_t quarter_turns, uint8_t flips);
// Copies the first min(length, 40) bytes of params when length is at least 1.
void sprite2d_set_shader(Task* task, uint16_t selector, const void* params, int length);
void sprite2d_set_blend(Task* task, uint16_t blend);
void sprite2d_set_clip_rect(Task* task, int16_t x, int16_t y, int16_t width, int16_t height);
void sprite2d_show(Task* task);

AssetHandle sprite2d_get_texture(Task* task);
AssetHandle sprite2d_get_texture1(Task* task);
float sprite2d_get_x(Task* task);
float sprite2d_get_y(Task* task);
float sprite2d_get_angle(Task* task);
float sprite2d_get_width(Task* task);
float sprite2d_get_height(Task* task);
float sprite2d_get_pivot_x(Task* task);
float sprite2d_get_pivot_y(Task* task);
float sprite2d_get_scale_x(Task* task);
float sprite2d_get_scale_y(Task* task);
uint32_t sprite2d_get_colour(Task* task);

// The sprite's record (null for a null task or one of another type).
SpriteData* sprite2d_data(Task* task);

// Corner positions (top-left, top-right, bottom-left, bottom-right) of the
// sprite's quad, its extents multiplied by the factors. The draw subtracts
// half a pixel from the position; the hit tests do not. Returns 1 when the
// sprite is rotated.
int sprite2d_corners(Vec2 out[4], const SpriteData* s, float factor_x, float factor_y,
                     float pixel_offset);
// The same corners of a task's sprite without the offset; a task that is not
// a sprite leaves the quad alone and returns 0.
int quad2d_compute_corners(Quad2D* out, Task* task, float factor_x, float factor_y);
// Texture coordinates of the screen rectangle under the sprite: UV set 0
// (set 0) or 1 gets, for each corner of the sprite's quad (without the
// half-pixel offset of the draw), u = (x + a) / texture width and
// v = (y + b) / texture height, a and b being offsets in pixels; the rows of
// a texture run top down as the screen's do. A z other than 1 then moves
// each corner toward the centre of the four by that factor. A screen-sized
// texture (a render view's target, say) is thus sampled where the sprite
// lies. Nothing happens for a size of 0 or less.
void sprite2d_uv_from_screen(Task* task, int set, float texture_width, float texture_height, float a, float b,
                             float z);
// The same with the size of texture 0 or texture 1; nothing when the
// texture does not exist.
void sprite2d_uv_from_screen_texture(Task* task, float a, float b, float z);
void sprite2d_uv1_from_screen_texture(Task* task, float a, float b, float z);
// The UV set's corners after its quarter turns and flips.
void sprite2d_orient_uvs(Vec2 out[4], const Vec2 in[4], uint8_t quarter_turns, uint8_t flips);

// Hit tests on the sprite's screen quad; null tasks never hit.
int sprite2d_hit_point(Task* task, float factor_x, float factor_y, float px, float py);
int sprite2d_hit_circle(Task* task, float factor_x, float factor_y, const Vec2* centre,
                        float radius);
int sprite2d_hit_segment(Task* task, float factor_x, float factor_y, const Vec2* p0,
                         const Vec2* p1);
int sprite2d_hit_sprite(Task* a, float factor_ax, float factor_ay, Task* b, float factor_bx,
                        float factor_by);

// The draw callback of the type: one run of the draw list.
void sprite2d_draw_batch(Task* const* entries, int count);
