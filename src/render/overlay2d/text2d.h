// The 2D text task type: a string of at most 128 single-byte characters
// drawn as glyph quads from a font made of consecutive crops of one texture
// (the first named "<font>_0000" draws the first character code, the next
// the next code, and so on), with anchor, scale, rotation, fixed or
// proportional advance, colour, blend, shader, a drop shadow and a per-glyph
// callback. Screen text of the program goes through the text queues; this
// type is for scene code.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "render/tasks/task.h"

constexpr int kTextMaxLength = 128;
constexpr uint8_t kText2dLayer = 20;
constexpr int kTextShaderParamsSize = 40;
constexpr uint32_t kTextShadow = 1u << 0;
// Alignment flags.
constexpr uint32_t kTextAlignRight = 1, kTextAlignCentre = 2, kTextAlignBottom = 4, kTextAlignMiddle = 8;

// Defaults handed to the glyph callback for every glyph.
struct GlyphAdjust {
  int32_t x_offset;
  float y_offset;
  float scale_x, scale_y;
  float angle;
  float pivot_x, pivot_y;
  uint32_t colour;
};

using GlyphCallback = void (*)(Task* task, int glyph_index, GlyphAdjust* adjust, uintptr_t argument);

struct TextData {
  float x, y;
  float char_height;  // below 0.001 in magnitude: the font's glyph height
  float anchor_x, anchor_y;
  float scale_x, scale_y;
  float angle;
  float glyph_height;
  float advance_factor;  // 0: each glyph its own width
  uint32_t first_crop;   // 0: no font
  uint32_t end_crop;     // one past the font's last glyph crop
  uint32_t texture;
  uint32_t colour;
  uint16_t shader_selector;
  uint16_t blend;
  uint8_t shader_params[kTextShaderParamsSize];
  GlyphCallback callback;
  uintptr_t callback_argument;
  char string[kTextMaxLength + 1];
  int8_t first_code;
  int16_t length;
  uint32_t flags;
  float shadow_x, shadow_y;
  uint32_t shadow_colour;
};

// Registers the type (draw text_draw_batch, create text_on_create); graphics
// start-up runs it right before the 2D sprite type, so it takes id 3.
int text2d_register_type();
int text_get_type();
void text2d_shutdown();
void text_on_create(Task* task);

// One past the last crop of the run from first whose names are the prefix,
// '_' and four digits; first for a null prefix.
uint32_t font_find_crop_end(const char* prefix, uint32_t first);

// Creators: null when the task pool is full.
Task* text_create(uint32_t owner, const char* package, const char* font, int8_t first_code, uint32_t colour,
                  float x, float y, float scale_x, float scale_y, uint32_t align, uint8_t layer);
Task* text_create_simple(uint32_t owner, const char* package, const char* font, int8_t first_code, float x,
                         float y, uint32_t align, uint8_t layer);
// A one-frame text; the output is cut to 127 characters.
Task* text_draw_printf(uint32_t owner, const char* package, const char* font, int8_t first_code, uint32_t colour,
                       float x, float y, float scale_x, float scale_y, uint32_t align, uint8_t layer,
                       const char* format, ...) __attribute__((format(printf, 12, 13)));

// Setters; a null task or one of another type is ignored.
void text_set_position(Task* task, float x, float y);
void text_set_height(Task* task, float height);
void text_set_anchor(Task* task, float x, float y);
void text_set_alignment(Task* task, uint32_t flags);
void text_set_scale(Task* task, float x, float y);
void text_set_angle(Task* task, float angle);
void text_set_advance(Task* task, float factor);
void text_set_colour(Task* task, uint32_t colour);
// Unchanged when the font's first crop or its texture does not exist.
void text_set_font(Task* task, const char* package, const char* font, int8_t first_code);
// Null zeroes the string; 129 characters or more are ignored.
void text_set_string(Task* task, const char* string);
void text_printf(Task* task, const char* format, ...) __attribute__((format(printf, 2, 3)));
void text_set_shader(Task* task, uint16_t selector, const void* params, int length);
void text_set_blend(Task* task, uint16_t blend);
void text_set_shadow_enabled(Task* task, bool on);
void text_set_shadow_offset(Task* task, float x, float y);
void text_set_shadow_colour(Task* task, uint32_t colour);
void text_set_shadow(Task* task, float x, float y, uint32_t colour);
void text_set_glyph_callback(Task* task, GlyphCallback callback, uintptr_t argument);
int text_get_glyph_height(Task* task);
// Total advance and tallest line; outputs may be null.
void text_measure(Task* task, float* out_width, float* out_height);

// The placed glyph quads of a text: 4 vertices a glyph (top-left, top-right,
// bottom-left, bottom-right), in screen pixels, moved by the offset. With
// a shadow colour every vertex takes it. Returns the glyphs placed (0 for a
// text without a font or texture).
struct ScreenVertex;
int text_place_glyphs(Task* task, ScreenVertex* out, int max_glyphs, float offset_x, float offset_y,
                      const uint32_t* shadow_colour);

void text_draw_batch(Task* const* entries, int count);
