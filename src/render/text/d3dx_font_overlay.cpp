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

void d3dx_font_draw(int enable, GpuDevice* device, int queue) {
  const uint8_t* cursor = text_queue_data(queue);
  if (enable && device && cursor) {
    TextCommand c;
    const char* text;
    char work[D3DX_FONT_TEXT_BYTES];
    while (text_queue_next(&cursor, &c, &text)) {
      PlatformFont* face = d3dx_font(c.font);
      if (!face) continue;
      size_t length = text_cp932_fit(text, size_t(c.length), sizeof work - 1);
      memcpy(work, text, length);
      work[length] = '\0';
      float h = font_desc(c.font)->glyph_size;
      float w = h * 0.5f;
      float dx, dy;
      text_anchor_offset(c.anchor, w, h, int32_t(length), &dx, &dy);
      float left = float(c.x) - 0.5f + dx;
      float top = float(c.y) - 0.5f + dy;
      // The back buffer is made at the client size chosen at start-up.
      const GpuPresentParams& pp = gfx_device_ptr()->present_params;
      GpuRect rect{int32_t(left), int32_t(top), int32_t(pp.back_buffer_width), int32_t(pp.back_buffer_height)};
      font_draw_text(face, work, -1, rect, FONT_DRAW_NOCLIP, c.colour);
    }
    gfx_bind_texture(device, 0, nullptr, 1);
  }
  text_queue_rewind(queue);
}
