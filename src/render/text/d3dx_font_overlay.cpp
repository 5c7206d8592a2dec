// The face overlay: the four faces named by "font.cf", and every command of
// its queue drawn as CP932 text.
#include <cstring>

#include "platform/font/font.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"
#include "render/view/view_state.h"

namespace {

PlatformFont* faces[FONT_COUNT];

// A command's text cut to the work buffer on a character boundary; the
// anchor offsets count these bytes.
size_t fitted_length(const char* text, const TextCommand& c) {
  return text_cp932_fit(text, size_t(c.length), D3DX_FONT_TEXT_BYTES - 1);
}

}  // namespace

PlatformFont* d3dx_font(int font) { return font >= 0 && font < FONT_COUNT ? faces[font] : nullptr; }

void d3dx_font_create() {
  // Faces made before (a reset without the loss step) are given back first.
  d3dx_font_release();
  font_desc(1)->glyph_size = float(get_virtual_screen_width()) * 0.03f;
  GpuDevice* device = gfx_device();
  if (!device) return;
  // Read once for all four faces.
  char face[FONT_FACE_NAME_BYTES + 1];
  d3dx_font_face_name(face);
  for (int f = 0; f < FONT_COUNT; ++f) {
    float size = font_desc(f)->glyph_size;
    FontParams params{int32_t(size), int32_t(size * 0.5f), 400, false, FONT_CHARSET_SHIFTJIS,
                      FONT_QUALITY_ANTIALIASED, face};
    if (font_create(device, params, &faces[f]) != GPU_OK) faces[f] = nullptr;
  }
}

void d3dx_font_release() {
  for (int f = FONT_COUNT - 1; f >= 0; --f) {
    font_release(faces[f]);
    faces[f] = nullptr;
  }
}

void d3dx_font_prepare_text(int font, const char* text) {
  PlatformFont* face = d3dx_font(font);
  if (face && text) font_prepare_text(face, text, int32_t(text_cp932_fit(text, strlen(text), D3DX_FONT_TEXT_BYTES - 1)));
}

void d3dx_font_draw(int enable, GpuDevice* device, int queue) {
  const uint8_t* start = text_queue_data(queue);
  if (enable && device && start) {
    TextCommand c;
    const char* text;
    // Every new glyph of the queue goes to the atlases before the first text
    // is drawn, in one upload per face.
    const uint8_t* cursor = start;
    while (text_queue_next(&cursor, &c, &text)) {
      PlatformFont* face = d3dx_font(c.font);
      if (face) font_prepare_text(face, text, int32_t(strnlen(text, fitted_length(text, c))));
    }
    for (PlatformFont* face : faces) font_upload_glyphs(face);
    cursor = start;
    while (text_queue_next(&cursor, &c, &text)) {
      PlatformFont* face = d3dx_font(c.font);
      if (!face) continue;
      const size_t length = fitted_length(text, c);
      float h = font_desc(c.font)->glyph_size;
      float w = h * 0.5f;
      float dx, dy;
      text_anchor_offset(c.anchor, w, h, int32_t(length), &dx, &dy);
      float left = float(c.x) - 0.5f + dx;
      float top = float(c.y) - 0.5f + dy;
      // The back buffer is made at the client size chosen at start-up.
      const GpuPresentParams& pp = gfx_device_ptr()->present_params;
      GpuRect rect{int32_t(left), int32_t(top), int32_t(pp.back_buffer_width), int32_t(pp.back_buffer_height)};
      // The text ends at its first zero byte.
      font_draw_text(face, text, int32_t(strnlen(text, length)), rect, FONT_DRAW_NOCLIP, c.colour);
    }
    gfx_bind_texture(device, 0, nullptr, 1);
  }
  text_queue_rewind(queue);
}
