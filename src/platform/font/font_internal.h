// Records shared by the font's source files. Not part of the interface.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/font/font.h"

// A face file as fontconfig names it.
struct FontFaceFile {
  std::string path;
  int index = 0;
  std::string family;
};

// The face of the font's name, matched with the font's weight, slant and
// language. False when fontconfig finds nothing at all.
bool font_match_primary(const FontParams& params, FontFaceFile* out);
// A face that covers the code point, false when none is installed.
bool font_match_covering(const FontParams& params, uint32_t code_point, FontFaceFile* out);

// One opened face, sized to the font's cell.
struct FontFace {
  FontFaceFile file;
  FT_Face face = nullptr;
  int32_t ascent = 0;  // pixels from the cell top to the baseline
};

// A rasterised glyph: coverage rows top first, placed relative to the pen on
// the baseline.
struct FontGlyph {
  int32_t left = 0, top = 0;  // bitmap origin: pen x + left, baseline - top
  int32_t width = 0, height = 0;
  int32_t advance = 0;
  std::vector<uint8_t> coverage;
  // Place in the atlas; valid while atlas_generation matches the atlas's.
  int32_t atlas_x = 0, atlas_y = 0;
  uint32_t atlas_generation = 0;
};

// One glyph of laid-out text: its bitmap's top-left relative to the rectangle.
struct FontPlacedGlyph {
  FontGlyph* glyph;
  int32_t x, y;
};

// A text laid out before: the layout of a line that shows frame after frame
// is made (and its CP932 converted) once.
struct FontLayoutEntry {
  std::string text;
  std::vector<FontPlacedGlyph> placed;
  int32_t height = 0;
  uint64_t last_use = 0;  // 0: the entry is free
};
constexpr int kFontLayoutEntries = 32;

struct PlatformFont {
  FontParams params;
  GpuDevice* device = nullptr;
  FT_Library library = nullptr;
  std::vector<FontFace> faces;  // [0] the font's own face, then per-glyph fallbacks
  std::unordered_map<uint32_t, FontGlyph> glyphs;  // by code point
  std::unordered_map<uint32_t, int> fallback_of;   // code point -> face index, -1 for none
  // The glyph atlas on the device.
  GpuTexture* atlas = nullptr;
  int32_t atlas_width = 0, atlas_height = 0;
  int32_t shelf_x = 0, shelf_y = 0, shelf_height = 0;
  uint32_t atlas_generation = 1;
  // Glyphs placed in the atlas's copy since the last upload.
  std::vector<FontGlyph*> pending;
  FontLayoutEntry layouts[kFontLayoutEntries];
  uint64_t layout_clock = 0;
};

// Opens and sizes a face; false when FreeType cannot read it.
bool font_open_face(PlatformFont* font, const FontFaceFile& file, FontFace* out);
// The glyph of a code point, rasterised on first use from the first face that
// has it (the font's own face's missing-glyph box when none has).
FontGlyph* font_glyph(PlatformFont* font, uint32_t code_point);
// Lays out CP932 text from the rectangle's top-left; returns the text height.
int32_t font_layout(PlatformFont* font, const char* text, int32_t length, std::vector<FontPlacedGlyph>* out);
// The same through the font's layout cache: a text laid out before is found
// by its bytes; otherwise the least recently used entry is replaced.
const FontLayoutEntry& font_layout_cached(PlatformFont* font, const char* text, int32_t length);
// CP932 bytes to code points.
std::vector<uint32_t> font_decode_cp932(const char* text, size_t length);
