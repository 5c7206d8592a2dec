// The bitmap-font overlay: every command of its queue as one indexed draw of
// quads cut from the font sheet.
#include "assets/textures.h"
#include "platform/sys/sys.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"

namespace {

// The font sheet, drawn by tools/font_sheet.
const uint8_t kFontSheetPng[] = {
#include "render/text/font_sheet_png.inc"
};

BitmapFont bitmap;

bool is_cp932_trail(uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

void set_overlay_states(GpuDevice* d) {
  gpu_set_render_state(d, GPU_RS_ALPHABLENDENABLE, 1);
  gpu_set_render_state(d, GPU_RS_DESTBLEND, GPU_BLEND_INVSRCALPHA);
  gpu_set_render_state(d, GPU_RS_SRCBLEND, GPU_BLEND_SRCALPHA);
  gpu_set_render_state(d, GPU_RS_ZWRITEENABLE, 0);
  gpu_set_render_state(d, GPU_RS_CULLMODE, GPU_CULL_NONE);
  gpu_set_render_state(d, GPU_RS_FILLMODE, GPU_FILL_SOLID);
  gpu_set_render_state(d, GPU_RS_ZFUNC, GPU_CMP_ALWAYS);
  gpu_set_render_state(d, GPU_RS_FOGENABLE, 0);
  gpu_set_render_state(d, GPU_RS_LIGHTING, 0);
  gpu_set_stage_state(d, 0, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  gpu_set_stage_state(d, 0, GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
  gpu_set_stage_state(d, 0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
  gfx_set_stage_filter(d, 0, 0);
}

}  // namespace

int font_begin_draw(int mode, const void* param, int kind, int format, const Mat4* world) {
  return begin_mesh_draw(mode, param, kind, format, world, nullptr, nullptr, nullptr, 1.0f, nullptr, 0);
}

const BitmapFont* bitmap_font_state() { return &bitmap; }

void bitmap_fonts_init() {
  bitmap = BitmapFont{};
  for (int f = 0; f < FONT_COUNT; ++f) {
    const FontDesc& d = *font_desc(f);
    BitmapFontMetrics& m = bitmap.fonts[f];
    // The second and later registrations find the sheet and return its handle.
    bitmap.textures[f] = register_texture_from_memory("DFONT", "char", kFontSheetPng, sizeof kFontSheetPng, 0);
    // Glyph cells along the sheet's edges must not take in the other side.
    set_texture_address_modes(bitmap.textures[f], TEXTURE_ADDRESS_CLAMP, TEXTURE_ADDRESS_CLAMP);
    if (const TextureObject* sheet = get_texture_object(bitmap.textures[f]); sheet && sheet->texture) {
      m.inv_sheet_width = 1.0f / float(sheet->width);
      m.inv_sheet_height = 1.0f / float(sheet->height);
      m.cell_count = int32_t(float(sheet->width) / d.cell_width) * int32_t(float(sheet->height) / d.cell_height);
    }
    m.inv_glyph_size = 1.0f / d.glyph_size;
    m.column_bits = 0;
    for (uint32_t v = d.columns - 1u; v; v >>= 1) ++m.column_bits;
    m.column_mask = (1 << m.column_bits) - 1;
  }
}

int32_t bitmap_font_next_cell(const uint8_t* text, int32_t length, int32_t* pos, int32_t first_code) {
  uint8_t b = text[*pos];
  if (sys_is_cp932_lead(b) && *pos + 1 < length && is_cp932_trail(text[*pos + 1])) {
    int32_t cell = (b - 0x82) * 256 + text[*pos + 1] - 0x9E + (128 - first_code);
    *pos += 2;
    // Cells below the two-byte area belong to single-byte characters.
    return cell >= 128 - first_code ? cell : -1;
  }
  *pos += 1;
  if (b < 0x80 && b >= first_code) return b - first_code;
  // Control codes, half-width katakana and bytes that start no character.
  return -1;
}

int32_t bitmap_font_glyph_count(const uint8_t* text, int32_t length) {
  int32_t count = 0;
  for (int32_t pos = 0; pos < length; ++count) bitmap_font_next_cell(text, length, &pos, 0);
  return count;
}

int32_t bitmap_font_build_quads(const TextCommand& c, const char* text, ScreenVertex* vertices,
                                int32_t max_glyphs) {
  const FontDesc& d = *font_desc(c.font);
  const BitmapFontMetrics& m = bitmap.fonts[c.font];
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  int32_t glyphs = bitmap_font_glyph_count(bytes, c.length);
  if (glyphs > BITMAP_FONT_MAX_GLYPHS) return -1;

  float h = c.size2 * d.glyph_size * m.inv_glyph_size;
  float w = h * d.width_factor;
  float dx, dy;
  // Aligned by the glyphs drawn, so a two-byte character counts once.
  text_anchor_offset(c.anchor, w, h, glyphs, &dx, &dy);
  float pen = float(c.x) - 0.5f + dx;
  float top = float(c.y) - 0.5f + dy;
  int32_t drawn = 0;
  for (int32_t pos = 0; pos < c.length;) {
    int32_t cell = bitmap_font_next_cell(bytes, c.length, &pos, d.first_code);
    // Characters the sheet has no cell for take their place but draw nothing.
    if (cell >= 0 && cell < m.cell_count && drawn < max_glyphs) {
      float column = float(cell & m.column_mask), row = float(cell >> m.column_bits);
      float lu = (column * d.cell_width + d.u_offset) * m.inv_sheet_width;
      float ru = (column * d.cell_width + d.u_offset + d.cell_width) * m.inv_sheet_width;
      float tv = (row * d.cell_height + d.v_offset) * m.inv_sheet_height;
      float bv = (row * d.cell_height + d.v_offset + d.cell_height) * m.inv_sheet_height;
      ScreenVertex* q = vertices + 4 * drawn;
      q[0] = {pen, top, 0.0f, 1.0f, c.colour, lu, tv, 0.0f, 0.0f};
      q[1] = {pen + w, top, 0.0f, 1.0f, c.colour, ru, tv, 0.0f, 0.0f};
      q[2] = {pen, top + h, 0.0f, 1.0f, c.colour, lu, bv, 0.0f, 0.0f};
      q[3] = {pen + w, top + h, 0.0f, 1.0f, c.colour, ru, bv, 0.0f, 0.0f};
      ++drawn;
    }
    pen += w;
  }
  return drawn;
}

void bitmap_font_draw(int enable, GpuDevice* device, int queue) {
  const uint8_t* cursor = text_queue_data(queue);
  if (enable && device && cursor) {
    // Shading mode 0: the fixed-function pipeline with the ScreenVertex format.
    font_begin_draw(0, nullptr, 0, find_fvf_index(kScreenVertexFvf), nullptr);
    set_overlay_states(device);
    ScreenVertex* vertices = gfx_vertex_scratch();
    int previous_filter = -1;
    AssetHandle previous_texture = 0;
    TextCommand c;
    const char* text;
    while (text_queue_next(&cursor, &c, &text)) {
      const FontDesc* d = font_desc(c.font);
      if (!d) continue;
      const TextureObject* sheet = get_texture_object(bitmap.textures[c.font]);
      if (!sheet || !sheet->texture) continue;
      int32_t glyphs = bitmap_font_build_quads(c, text, vertices, GFX_QUAD_CAPACITY);
      if (glyphs < 0) break;
      // The font's own filter is set first; binding the sheet then samples it
      // linearly, the filter the glyphs are drawn with.
      if (d->filter_index != previous_filter) {
        gfx_set_stage_filter(device, 0, d->filter_index);
        previous_filter = d->filter_index;
      }
      if (bitmap.textures[c.font] != previous_texture) {
        gfx_bind_texture(device, 0, sheet, 1);
        previous_texture = bitmap.textures[c.font];
      }
      if (glyphs > 0) {
        gpu_draw_indexed_primitive_up(device, GPU_PT_TRIANGLELIST, 0, uint32_t(4 * glyphs), uint32_t(2 * glyphs),
                                      gfx_index_scratch(), GPU_FMT_INDEX16, vertices, sizeof(ScreenVertex));
      }
    }
    gfx_bind_texture(device, 0, nullptr, 1);
    // The states above were set behind the preset's cache.
    gfx_invalidate_render_cache();
  }
  text_queue_rewind(queue);
}
