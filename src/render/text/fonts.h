// The fonts of the two text overlays and the overlays themselves. The
// bitmap-font overlay draws a text queue as quads cut from one font sheet
// (ASCII and kana, texture "char" of package "DFONT"); the face overlay draws
// a text queue with four faces named by "font.cf" (any CP932 text). Both
// share one table of four font descriptions, so a command's font index means
// the same size in both, and both rewind their queue after drawing.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "platform/gpu/gpu.h"

struct Mat4;

struct PlatformFont;
struct ScreenVertex;
struct TextCommand;

enum {
  FONT_COUNT = 4,
  // A bitmap-font command of more glyphs ends that frame's overlay.
  BITMAP_FONT_MAX_GLYPHS = 1000,
  // The face overlay's work buffer: longer texts are cut on a character boundary.
  D3DX_FONT_TEXT_BYTES = 516,
  // Bytes of "font.cf" taken as the face name.
  FONT_FACE_NAME_BYTES = 31,
};

struct FontDesc {
  uint8_t filter_index;  // into the font filter table: 0 point, 1 linear
  uint8_t columns;       // cells per sheet row
  uint8_t first_code;    // character code of cell 0
  float glyph_size;
  float width_factor;
  float u_offset, v_offset;        // texels
  float cell_width, cell_height;  // texels
};

// Per font, taken from the sheet at start-up.
struct BitmapFontMetrics {
  int32_t column_bits;
  int32_t column_mask;
  float inv_glyph_size;
  float inv_sheet_width, inv_sheet_height;
  int32_t cell_count;  // cells the sheet holds
};

struct BitmapFont {
  AssetHandle textures[FONT_COUNT];
  BitmapFontMetrics fonts[FONT_COUNT];
};

// Null for a font index outside 0 to 3.
FontDesc* font_desc(int font);
const BitmapFont* bitmap_font_state();
// The face of font 0 to 3, null when it could not be made.
PlatformFont* d3dx_font(int font);

// Graphics start-up and shutdown: the sheet, then the faces; the fonts'
// registry mark frees the sheet again.
void fonts_init();
void fonts_shutdown();
void bitmap_fonts_init();
// Also the device-loss and reset steps for the faces. Creation reads
// "font.cf" from the working folder.
void d3dx_font_create();
void d3dx_font_release();

// Rasterises the glyphs of a CP932 text that face `font` will draw (cut as
// the overlay cuts it), so the frame that first shows it only draws.
void d3dx_font_prepare_text(int font, const char* text);

// The start of each overlay draw: begin_mesh_draw with no material, no
// skeleton, alpha 1 and no point lights; 0 when the draw was refused.
int font_begin_draw(int mode, const void* param, int kind, int format, const Mat4* world);

// Draw every command of the queue when enable is nonzero, then rewind the
// queue (also when enable is 0). Commands with a font index outside 0 to 3
// are skipped.
void bitmap_font_draw(int enable, GpuDevice* device, int queue);
void d3dx_font_draw(int enable, GpuDevice* device, int queue);

// The face name "font.cf" gives (CP932): its first line, trimmed and cut to
// FONT_FACE_NAME_BYTES on a character boundary; the default face when the
// file is missing, unreadable or names nothing.
void d3dx_font_face_name(char out[FONT_FACE_NAME_BYTES + 1]);
// The default face, "ＭＳ　Ｐゴシック" in CP932.
extern const char kDefaultFontFace[];

// Offsets of a text of `glyphs` glyphs of w x h from its anchor point.
void text_anchor_offset(uint32_t anchor, float w, float h, int32_t glyphs, float* dx, float* dy);
// The sheet cell of the character at text[*pos] (moving *pos past it), or -1
// for a character the sheet has no cell for. Half-width katakana are single
// bytes; a two-byte character never takes a single-byte character's cell.
int32_t bitmap_font_next_cell(const uint8_t* text, int32_t length, int32_t* pos, int32_t first_code);
// Characters of the text, each one glyph wide on the sheet.
int32_t bitmap_font_glyph_count(const uint8_t* text, int32_t length);
// Writes the quads of one command into vertices (room for max_glyphs quads);
// returns the glyphs drawn, or -1 for a command over BITMAP_FONT_MAX_GLYPHS.
int32_t bitmap_font_build_quads(const TextCommand& command, const char* text, ScreenVertex* vertices,
                                int32_t max_glyphs);
