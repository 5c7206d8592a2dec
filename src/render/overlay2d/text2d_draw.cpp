#include "render/device/gfx_resources.h"
#include "render/overlay2d/overlay_device.h"
#include "render/overlay2d/text2d.h"

namespace {

// Glyphs of one text that one quad batch holds.
constexpr int kGlyphsPerDraw = GFX_QUAD_CAPACITY;

void draw_pass(Task* task, float dx, float dy, const uint32_t* shadow_colour) {
  const int glyphs = text_place_glyphs(task, overlay_vertex_scratch(), kGlyphsPerDraw, dx, dy, shadow_colour);
  if (glyphs > 0) overlay_draw_quads(glyphs);
}

}  // namespace

void text_draw_batch(Task* const* entries, int count) {
  overlay_begin_text();
  uint32_t last_blend = 1;
  uint16_t selector_in_force = 0;
  for (int i = 0; i < count; ++i) {
    Task* task = entries[i];
    const TextData* t = task_data<TextData>(task);
    if (t->first_crop == 0) continue;
    if (t->blend != last_blend) {
      overlay_set_blend(t->blend);
      last_blend = t->blend;
    }
    if (t->shader_selector == selector_in_force) {
      overlay_begin_shader(-1, t->shader_params);
    } else {
      overlay_begin_shader(t->shader_selector, t->shader_params);
      selector_in_force = t->shader_selector;
    }
    overlay_bind_texture(0, t->texture, 1);
    if (t->flags & kTextShadow) draw_pass(task, t->shadow_x, t->shadow_y, &t->shadow_colour);
    draw_pass(task, 0.0f, 0.0f, nullptr);
  }
  overlay_begin_shader(0, nullptr);
  overlay_unbind_all_textures();
}
