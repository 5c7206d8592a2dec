#include "render/overlay2d/text2d.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "assets/crops.h"
#include "assets/textures.h"
#include "render/device/gfx_resources.h"

namespace {

int text_type = 0;

TextData* text(Task* task) {
  if (task == nullptr || text_type == 0 || task->type != text_type) return nullptr;
  return task_data<TextData>(task);
}

// The name is the prefix, '_' and four digits.
bool is_glyph_name(const char* name, const char* prefix) {
  if (name == nullptr) return false;
  const size_t n = std::strlen(prefix);
  if (std::strncmp(name, prefix, n) != 0 || name[n] != '_') return false;
  for (int i = 1; i <= 4; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[n + i]))) return false;
  }
  return name[n + 5] == '\0';
}

struct Layout {
  int glyphs;
  float advance;  // total
  float tallest;
};

// One pass over the string. With out, the glyph quads are written around
// the text's own origin (not yet anchored or placed).
Layout layout(Task* task, TextData* t, ScreenVertex* out, int max_glyphs, bool drawing,
              const uint32_t* shadow_colour) {
  Layout result{0, 0.0f, 0.0f};
  const TextureObject* texture = get_texture_object(t->texture);
  // A font whose texture is gone has no size to lay out with.
  if (t->first_crop == 0 || texture == nullptr || texture->width == 0 || texture->height == 0) return result;
  const float h = std::fabs(t->char_height) >= 0.001f ? t->char_height : t->glyph_height;
  const float aspect = static_cast<float>(texture->width) / static_cast<float>(texture->height);
  float pen_x = drawing ? -0.5f : 0.0f;
  const float pen_y = drawing ? -0.5f : 0.0f;
  const int length = std::min<int>(static_cast<int>(std::strlen(t->string)), kTextMaxLength);
  for (int i = 0; i < length; ++i) {
    const int g = static_cast<int>(static_cast<unsigned char>(t->string[i])) - static_cast<int>(t->first_code);
    if (g < 0) continue;
    const uint32_t handle = t->first_crop + static_cast<uint32_t>(g);
    if (handle >= t->end_crop) continue;
    const CropRecord* crop = get_crop_record(handle);
    if (crop == nullptr || crop->height == 0.0f) continue;
    const float w = h * aspect * crop->width / crop->height;
    GlyphAdjust adjust{0, 0.0f, 1.0f, 1.0f, 0.0f, 0.5f, 0.5f, t->colour};
    if (t->callback != nullptr) t->callback(task, i, &adjust, t->callback_argument);
    const float ex = t->scale_x * adjust.scale_x;
    const float ey = t->scale_y * adjust.scale_y;
    const float line = h * t->scale_x;
    const float advance = t->advance_factor == 0.0f ? w * t->scale_x : line * t->advance_factor;
    if (out != nullptr && result.glyphs < max_glyphs) {
      const float cx = pen_x + advance * adjust.pivot_x + static_cast<float>(adjust.x_offset);
      const float cy = pen_y + line * adjust.pivot_y + adjust.y_offset;
      const float left = w * adjust.pivot_x * ex, right = (1.0f - adjust.pivot_x) * w * ex;
      const float top = h * adjust.pivot_y * ey, bottom = (1.0f - adjust.pivot_y) * h * ey;
      const float offsets[4][2] = {{-left, -top}, {right, -top}, {-left, bottom}, {right, bottom}};
      const float uvs[4][2] = {{crop->u, crop->v},
                               {crop->u + crop->width, crop->v},
                               {crop->u, crop->v + crop->height},
                               {crop->u + crop->width, crop->v + crop->height}};
      const float sn = std::sin(adjust.angle), cs = std::cos(adjust.angle);
      ScreenVertex* v = out + 4 * result.glyphs;
      for (int k = 0; k < 4; ++k) {
        float dx = offsets[k][0], dy = offsets[k][1];
        if (adjust.angle != 0.0f) {
          const float rx = dx * cs + dy * sn, ry = dy * cs - dx * sn;
          dx = rx;
          dy = ry;
        }
        v[k] = ScreenVertex{cx + dx, cy + dy, 0.0f, 1.0f, shadow_colour != nullptr ? *shadow_colour : adjust.colour,
                            uvs[k][0], uvs[k][1], 0.0f, 0.0f};
      }
    }
    result.tallest = std::max(result.tallest, line);
    result.advance += advance;
    pen_x += advance;
    ++result.glyphs;
  }
  if (out != nullptr) result.glyphs = std::min(result.glyphs, max_glyphs);
  return result;
}

void set_string_bounded(TextData* t, const char* format, va_list args) {
  char buffer[kTextMaxLength];
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  const size_t n = std::strlen(buffer);
  std::memcpy(t->string, buffer, n + 1);
  t->length = static_cast<int16_t>(n);
}

Task* make(uint32_t owner) {
  Task* task = task_create(owner);
  if (task == nullptr) return nullptr;
  task_set_type(task, text_type);
  return task;
}

}  // namespace

int text2d_register_type() {
  text_type = task_type_register(text_draw_batch, text_on_create, nullptr, nullptr, sizeof(TextData));
  return text_type;
}

int text_get_type() { return text_type; }

void text2d_shutdown() {}

void text_on_create(Task* task) {
  TextData* t = task_data<TextData>(task);
  std::memset(static_cast<void*>(t), 0, sizeof(*t));
  t->scale_x = t->scale_y = 1.0f;
  t->colour = 0xFFFFFFFFu;
  t->blend = 1;
  t->first_code = 32;
  t->shadow_colour = 0xFF000000u;
  task_set_layer(task, kText2dLayer);
  task_set_visible(task, true);
}

uint32_t font_find_crop_end(const char* prefix, uint32_t first) {
  if (prefix == nullptr) return first;
  const uint32_t count = static_cast<uint32_t>(count_crops());
  uint32_t handle = first;
  while (handle >= 1 && handle <= count && is_glyph_name(get_crop_name(handle), prefix)) ++handle;
  return handle;
}

Task* text_create(uint32_t owner, const char* package, const char* font, int8_t first_code, uint32_t colour,
                  float x, float y, float scale_x, float scale_y, uint32_t align, uint8_t layer) {
  Task* task = make(owner);
  if (task == nullptr) return nullptr;
  task_set_visible(task, true);
  task_set_layer(task, layer);
  text_set_font(task, package, font, first_code);
  text_set_position(task, x, y);
  text_set_alignment(task, align);
  text_set_scale(task, scale_x, scale_y);
  text_set_colour(task, colour);
  return task;
}

Task* text_create_simple(uint32_t owner, const char* package, const char* font, int8_t first_code, float x,
                         float y, uint32_t align, uint8_t layer) {
  Task* task = make(owner);
  if (task == nullptr) return nullptr;
  task_set_visible(task, true);
  task_set_layer(task, layer);
  text_set_font(task, package, font, first_code);
  text_set_position(task, x, y);
  text_set_alignment(task, align);
  return task;
}

Task* text_draw_printf(uint32_t owner, const char* package, const char* font, int8_t first_code, uint32_t colour,
                       float x, float y, float scale_x, float scale_y, uint32_t align, uint8_t layer,
                       const char* format, ...) {
  Task* task = make(owner);
  if (task == nullptr) return nullptr;
  text_set_font(task, package, font, first_code);
  text_set_position(task, x, y);
  text_set_scale(task, scale_x, scale_y);
  text_set_alignment(task, align);
  text_set_colour(task, colour);
  va_list args;
  va_start(args, format);
  set_string_bounded(task_data<TextData>(task), format, args);
  va_end(args);
  task_set_visible(task, true);
  task_set_one_frame(task);
  task_set_layer(task, layer);
  return task;
}

void text_set_position(Task* task, float x, float y) {
  if (TextData* t = text(task)) {
    t->x = x;
    t->y = y;
  }
}

void text_set_height(Task* task, float height) {
  if (TextData* t = text(task)) t->char_height = height;
}

void text_set_anchor(Task* task, float x, float y) {
  if (TextData* t = text(task)) {
    t->anchor_x = x;
    t->anchor_y = y;
  }
}

void text_set_alignment(Task* task, uint32_t flags) {
  const float ax = (flags & kTextAlignCentre) ? 0.5f : (flags & kTextAlignRight) ? 1.0f : 0.0f;
  const float ay = (flags & kTextAlignMiddle) ? 0.5f : (flags & kTextAlignBottom) ? 1.0f : 0.0f;
  text_set_anchor(task, ax, ay);
}

void text_set_scale(Task* task, float x, float y) {
  if (TextData* t = text(task)) {
    t->scale_x = x;
    t->scale_y = y;
  }
}

void text_set_angle(Task* task, float angle) {
  if (TextData* t = text(task)) t->angle = angle;
}

void text_set_advance(Task* task, float factor) {
  if (TextData* t = text(task)) t->advance_factor = factor;
}

void text_set_colour(Task* task, uint32_t colour) {
  if (TextData* t = text(task)) t->colour = colour;
}

void text_set_font(Task* task, const char* package, const char* font, int8_t first_code) {
  TextData* t = text(task);
  if (t == nullptr || font == nullptr) return;
  char name[160];
  if (std::snprintf(name, sizeof(name), "%s_0000", font) >= static_cast<int>(sizeof(name))) return;
  const AssetHandle crop = find_crop(package, name);
  const CropRecord* record = get_crop_record(crop);
  const TextureObject* texture = record != nullptr ? get_texture_object(record->texture) : nullptr;
  if (record == nullptr || texture == nullptr) return;
  t->first_crop = crop;
  t->end_crop = font_find_crop_end(font, crop);
  t->texture = record->texture;
  t->first_code = first_code;
  t->glyph_height = static_cast<float>(texture->height) * record->height;
}

void text_set_string(Task* task, const char* string) {
  TextData* t = text(task);
  if (t == nullptr) return;
  if (string == nullptr) {
    std::memset(t->string, 0, sizeof(t->string));
    return;
  }
  const size_t n = strnlen(string, kTextMaxLength + 1);
  if (n > kTextMaxLength) return;
  std::memcpy(t->string, string, n + 1);
  t->length = static_cast<int16_t>(n);
}

void text_printf(Task* task, const char* format, ...) {
  TextData* t = text(task);
  if (t == nullptr || format == nullptr) return;
  va_list args;
  va_start(args, format);
  set_string_bounded(t, format, args);
  va_end(args);
}

void text_set_shader(Task* task, uint16_t selector, const void* params, int length) {
  TextData* t = text(task);
  if (t == nullptr) return;
  t->shader_selector = selector;
  if (length >= 1 && params != nullptr) {
    std::memcpy(t->shader_params, params, static_cast<size_t>(std::min(length, kTextShaderParamsSize)));
  }
}

void text_set_blend(Task* task, uint16_t blend) {
  if (TextData* t = text(task)) t->blend = blend;
}

void text_set_shadow_enabled(Task* task, bool on) {
  if (TextData* t = text(task)) t->flags = on ? (t->flags | kTextShadow) : (t->flags & ~kTextShadow);
}

void text_set_shadow_offset(Task* task, float x, float y) {
  if (TextData* t = text(task)) {
    t->shadow_x = x;
    t->shadow_y = y;
  }
}

void text_set_shadow_colour(Task* task, uint32_t colour) {
  if (TextData* t = text(task)) t->shadow_colour = colour;
}

void text_set_shadow(Task* task, float x, float y, uint32_t colour) {
  text_set_shadow_offset(task, x, y);
  text_set_shadow_colour(task, colour);
  text_set_shadow_enabled(task, true);
}

void text_set_glyph_callback(Task* task, GlyphCallback callback, uintptr_t argument) {
  if (TextData* t = text(task)) {
    t->callback = callback;
    t->callback_argument = argument;
  }
}

int text_get_glyph_height(Task* task) {
  const TextData* t = text(task);
  return t != nullptr ? static_cast<int>(t->glyph_height) : 0;
}

void text_measure(Task* task, float* out_width, float* out_height) {
  TextData* t = text(task);
  if (t == nullptr) return;
  const Layout l = layout(task, t, nullptr, 0, false, nullptr);
  if (out_width != nullptr) *out_width = l.advance;
  if (out_height != nullptr) *out_height = l.tallest;
}

int text_place_glyphs(Task* task, ScreenVertex* out, int max_glyphs, float offset_x, float offset_y,
                      const uint32_t* shadow_colour) {
  TextData* t = text(task);
  if (t == nullptr || out == nullptr) return 0;
  const Layout l = layout(task, t, out, max_glyphs, true, shadow_colour);
  const float sn = std::sin(t->angle), cs = std::cos(t->angle);
  for (int i = 0; i < 4 * l.glyphs; ++i) {
    const float a = out[i].x - l.advance * t->anchor_x;
    const float b = out[i].y - l.tallest * t->anchor_y;
    if (t->angle == 0.0f) {
      out[i].x = t->x + a;
      out[i].y = t->y + b;
    } else {
      out[i].x = t->x + a * cs + b * sn;
      out[i].y = t->y + b * cs - a * sn;
    }
    out[i].x += offset_x;
    out[i].y += offset_y;
  }
  return l.glyphs;
}
