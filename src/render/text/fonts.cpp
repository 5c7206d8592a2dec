// The font description table, font start-up and shutdown, and what both
// overlays share.
#include <cstdio>
#include <cstring>

#include "assets/asset_registry.h"
#include "platform/sys/sys.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"

// "ＭＳ　Ｐゴシック"
const char kDefaultFontFace[] = "\x82\x6c\x82\x72\x81\x40\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e";

namespace {

// Every font cuts its cells from the one 64-column sheet, so all four read it
// with 64 columns. Font 1's glyph size follows the screen width once the
// faces are made.
const FontDesc kFontDescDefaults[FONT_COUNT] = {
    {0, 64, 32, 16.0f, 0.5f, 0.0f, 0.0f, 8.0f, 16.0f},
    {0, 64, 32, 24.0f, 0.5f, 0.0f, 0.0f, 8.0f, 16.0f},
    {0, 64, 32, 16.0f, 0.5f, 0.0f, 0.0f, 8.0f, 16.0f},
    {0, 64, 32, 64.0f, 0.5f, 0.0f, 0.0f, 8.0f, 16.0f},
};

FontDesc font_descs[FONT_COUNT];

struct FontsBlock {
  RegistryMark mark;
};
FontsBlock fonts;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

FontDesc* font_desc(int font) { return font >= 0 && font < FONT_COUNT ? &font_descs[font] : nullptr; }

void fonts_init() {
  fonts = FontsBlock{};
  memcpy(font_descs, kFontDescDefaults, sizeof font_descs);
  mark_asset_registry(&fonts.mark);
  bitmap_fonts_init();
  d3dx_font_create();
}

void fonts_shutdown() {
  release_asset_registry_to_mark(&fonts.mark);
  d3dx_font_release();
}

void d3dx_font_face_name(char out[FONT_FACE_NAME_BYTES + 1]) {
  char buffer[256];
  size_t size = 0;
  if (FILE* f = sys_fopen("font.cf", "rb")) {
    size = fread(buffer, 1, sizeof buffer, f);
    fclose(f);
  }
  // The first line, without the blanks around it.
  size_t end = 0;
  while (end < size && buffer[end] != '\r' && buffer[end] != '\n' && buffer[end] != '\0') ++end;
  size_t start = 0;
  while (start < end && is_blank(buffer[start])) ++start;
  while (end > start && is_blank(buffer[end - 1])) --end;
  size_t length = text_cp932_fit(buffer + start, end - start, FONT_FACE_NAME_BYTES);
  if (length == 0) {
    memcpy(out, kDefaultFontFace, sizeof kDefaultFontFace);
    return;
  }
  memcpy(out, buffer + start, length);
  out[length] = '\0';
}

void text_anchor_offset(uint32_t anchor, float w, float h, int32_t glyphs, float* dx, float* dy) {
  if (anchor & TEXT_ANCHOR_END_X) {
    *dx = -w * float(glyphs);
  } else if (anchor & TEXT_ANCHOR_CENTRE_X) {
    *dx = -w * 0.5f * float(glyphs);
  } else {
    *dx = 0.0f;
  }
  if (anchor & TEXT_ANCHOR_END_Y) {
    *dy = -h;
  } else if (anchor & TEXT_ANCHOR_CENTRE_Y) {
    *dy = -h * 0.5f;
  } else {
    *dy = 0.0f;
  }
}
