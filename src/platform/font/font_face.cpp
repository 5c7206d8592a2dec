// Faces, glyph rasterisation and text layout through FreeType.
#include <ft2build.h>
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <cstring>

#include "platform/font/font_internal.h"
#include "platform/sys/sys.h"

namespace {

constexpr uint32_t kIdeographicSpace = 0x3000;

std::vector<uint32_t> decode_utf8(const std::string& s) {
  std::vector<uint32_t> out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    auto b = uint8_t(s[i]);
    int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + size_t(extra) >= s.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      auto t = uint8_t(s[i + size_t(k)]);
      if ((t & 0xC0) != 0x80) ok = false;
      c = c << 6 | (t & 0x3F);
    }
    if (!ok) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(c);
    i += size_t(extra) + 1;
  }
  return out;
}

int32_t load_flags(const PlatformFont* font) {
  return font->params.quality == FONT_QUALITY_NONANTIALIASED ? FT_LOAD_TARGET_MONO : FT_LOAD_NO_BITMAP;
}

bool rasterise(PlatformFont* font, FontFace& face, FT_UInt index, FontGlyph* out) {
  if (FT_Load_Glyph(face.face, index, load_flags(font))) return false;
  FT_GlyphSlot slot = face.face->glyph;
  bool mono = font->params.quality == FONT_QUALITY_NONANTIALIASED;
  if (FT_Render_Glyph(slot, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL)) return false;
  const FT_Bitmap& bm = slot->bitmap;
  out->left = slot->bitmap_left;
  // Glyphs of a fallback face sit on the font's own baseline.
  out->top = slot->bitmap_top;
  out->advance = int32_t((slot->advance.x + 32) >> 6);
  out->width = int32_t(bm.width);
  out->height = int32_t(bm.rows);
  out->coverage.assign(size_t(out->width) * size_t(out->height), 0);
  for (int32_t y = 0; y < out->height; ++y) {
    const uint8_t* row = bm.buffer + (bm.pitch >= 0 ? y * bm.pitch : (out->height - 1 - y) * -bm.pitch);
    uint8_t* dst = out->coverage.data() + size_t(y) * size_t(out->width);
    for (int32_t x = 0; x < out->width; ++x) {
      if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
        dst[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      } else if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
        dst[x] = bm.num_grays == 256 ? row[x] : uint8_t(row[x] * 255 / (bm.num_grays - 1));
      }
    }
  }
  return true;
}

// The face that has the code point: the font's own face, else a fallback
// found once per code point.
int face_for(PlatformFont* font, uint32_t code_point) {
  if (FT_Get_Char_Index(font->faces[0].face, code_point)) return 0;
  auto known = font->fallback_of.find(code_point);
  if (known != font->fallback_of.end()) return known->second;
  int found = -1;
  FontFaceFile file;
  if (font_match_covering(font->params, code_point, &file)) {
    for (size_t i = 0; i < font->faces.size() && found < 0; ++i) {
      if (font->faces[i].file.path == file.path && font->faces[i].file.index == file.index) found = int(i);
    }
    FontFace face;
    if (found < 0 && font_open_face(font, file, &face)) {
      font->faces.push_back(face);
      found = int(font->faces.size() - 1);
    }
    if (found >= 0 && !FT_Get_Char_Index(font->faces[size_t(found)].face, code_point)) found = -1;
  }
  font->fallback_of[code_point] = found;
  return found;
}

}  // namespace

std::vector<uint32_t> font_decode_cp932(const char* text, size_t length) {
  return decode_utf8(sys_cp932_to_utf8(std::string(text, length)));
}

bool font_open_face(PlatformFont* font, const FontFaceFile& file, FontFace* out) {
  FT_Face face = nullptr;
  if (FT_New_Face(font->library, file.path.c_str(), file.index, &face)) return false;
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
    FT_Done_Face(face);
    return false;
  }
  // The cell (ascent plus descent) is the font's height, as the Windows
  // metrics of the face give it.
  double upem = face->units_per_EM;
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  double ascent = os2 && os2->usWinAscent + os2->usWinDescent > 0 ? os2->usWinAscent : face->ascender;
  double descent = os2 && os2->usWinAscent + os2->usWinDescent > 0 ? os2->usWinDescent : -face->descender;
  if (ascent + descent <= 0) {
    ascent = upem * 0.88;
    descent = upem * 0.12;
  }
  const FontParams& p = font->params;
  double em_y = p.height * upem / (ascent + descent);
  // A given width is that of a half-width character: a full-width one (the
  // ideographic space) advances twice as far.
  double em_x = em_y;
  if (p.width > 0) {
    double full = upem;
    FT_UInt space = FT_Get_Char_Index(face, kIdeographicSpace);
    if (space && !FT_Load_Glyph(face, space, FT_LOAD_NO_SCALE) && face->glyph->advance.x > 0) {
      full = double(face->glyph->advance.x);
    }
    em_x = 2.0 * p.width * upem / full;
  }
  if (FT_Set_Char_Size(face, FT_F26Dot6(std::lround(em_x * 64)), FT_F26Dot6(std::lround(em_y * 64)), 72, 72)) {
    FT_Done_Face(face);
    return false;
  }
  out->file = file;
  out->face = face;
  out->ascent = int32_t(std::lround(ascent * em_y / upem));
  return true;
}

FontGlyph* font_glyph(PlatformFont* font, uint32_t code_point) {
  auto it = font->glyphs.find(code_point);
  if (it != font->glyphs.end()) return &it->second;
  FontGlyph glyph;
  int face = face_for(font, code_point);
  FT_UInt index = face >= 0 ? FT_Get_Char_Index(font->faces[size_t(face)].face, code_point) : 0;
  if (!rasterise(font, font->faces[size_t(face >= 0 ? face : 0)], index, &glyph)) glyph = FontGlyph();
  return &font->glyphs.emplace(code_point, std::move(glyph)).first->second;
}

int32_t font_layout(PlatformFont* font, const char* text, int32_t length, std::vector<FontPlacedGlyph>* out) {
  out->clear();
  size_t n = length < 0 ? strlen(text) : size_t(length);
  std::vector<uint32_t> codes = font_decode_cp932(text, n);
  const int32_t cell = font->params.height;
  const int32_t ascent = font->faces[0].ascent;
  int32_t pen = 0, line_top = 0;
  for (size_t i = 0; i < codes.size(); ++i) {
    uint32_t c = codes[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < codes.size() && codes[i + 1] == '\n') ++i;
      pen = 0;
      line_top += cell;
      continue;
    }
    if (c < 0x20) continue;
    FontGlyph* g = font_glyph(font, c);
    if (g->width > 0 && g->height > 0) out->push_back({g, pen + g->left, line_top + ascent - g->top});
    pen += g->advance;
  }
  return codes.empty() ? 0 : line_top + cell;
}

const FontLayoutEntry& font_layout_cached(PlatformFont* font, const char* text, int32_t length) {
  const size_t n = length < 0 ? strlen(text) : size_t(length);
  FontLayoutEntry* oldest = &font->layouts[0];
  for (FontLayoutEntry& e : font->layouts) {
    if (e.last_use != 0 && e.text.size() == n && memcmp(e.text.data(), text, n) == 0) {
      e.last_use = ++font->layout_clock;
      return e;
    }
    if (e.last_use < oldest->last_use) oldest = &e;
  }
  oldest->text.assign(text, n);
  oldest->height = font_layout(font, text, int32_t(n), &oldest->placed);
  oldest->last_use = ++font->layout_clock;
  return *oldest;
}

GpuResult font_create(GpuDevice* device, const FontParams& params, PlatformFont** out) {
  *out = nullptr;
  if (params.height <= 0 || params.width < 0) return GPU_INVALID_CALL;
  auto* font = new PlatformFont;
  font->params = params;
  font->device = device;
  FontFaceFile file;
  FontFace face;
  if (FT_Init_FreeType(&font->library) || !font_match_primary(params, &file) || !font_open_face(font, file, &face)) {
    font_release(font);
    return GPU_NOT_AVAILABLE;
  }
  font->faces.push_back(face);
  *out = font;
  return GPU_OK;
}

void font_release(PlatformFont* font) {
  if (!font) return;
  if (font->atlas) gpu_texture_release(font->atlas);
  for (FontFace& f : font->faces) FT_Done_Face(f.face);
  if (font->library) FT_Done_FreeType(font->library);
  delete font;
}

const std::string& font_family(const PlatformFont* font) { return font->faces[0].file.family; }
int32_t font_height(const PlatformFont* font) { return font->params.height; }
int32_t font_ascent(const PlatformFont* font) { return font->faces[0].ascent; }

int32_t font_render_text(PlatformFont* font, const char* text, int32_t length, int32_t width, int32_t height,
                         std::vector<uint8_t>* coverage) {
  coverage->assign(size_t(width > 0 ? width : 0) * size_t(height > 0 ? height : 0), 0);
  if (!font || !text) return 0;
  std::vector<FontPlacedGlyph> placed;
  int32_t text_height = font_layout(font, text, length, &placed);
  for (const FontPlacedGlyph& p : placed) {
    for (int32_t y = 0; y < p.glyph->height; ++y) {
      int32_t ty = p.y + y;
      if (ty < 0 || ty >= height) continue;
      for (int32_t x = 0; x < p.glyph->width; ++x) {
        int32_t tx = p.x + x;
        if (tx < 0 || tx >= width) continue;
        uint8_t c = p.glyph->coverage[size_t(y) * size_t(p.glyph->width) + size_t(x)];
        uint8_t& d = (*coverage)[size_t(ty) * size_t(width) + size_t(tx)];
        if (c > d) d = c;
      }
    }
  }
  return text_height;
}
