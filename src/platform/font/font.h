// Drawing fonts: a face named the way the system names it (CP932 bytes, for
// example the common Windows Japanese faces), matched through fontconfig to an
// installed face, its glyphs rasterised by FreeType into a glyph atlas texture
// of the device and drawn as pre-transformed quads. Texts are CP932 bytes.
//
// Windows Japanese face names have no alias on a Linux system, so a small
// table maps them to their metric-compatible free faces; when the face found
// lacks a glyph, a face that has it is looked up for that glyph alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"

struct PlatformFont;

enum : uint32_t { FONT_CHARSET_DEFAULT = 1, FONT_CHARSET_SHIFTJIS = 128 };
enum : uint32_t { FONT_QUALITY_DEFAULT = 0, FONT_QUALITY_NONANTIALIASED = 3, FONT_QUALITY_ANTIALIASED = 4 };

struct FontParams {
  int32_t height;   // cell height in pixels: ascent plus descent
  int32_t width;    // width of a half-width character; 0 keeps the face's proportions
  int32_t weight;   // 400 regular, 700 bold
  bool italic;
  uint32_t charset;  // FONT_CHARSET_SHIFTJIS asks for a face that covers Japanese
  uint32_t quality;  // FONT_QUALITY_NONANTIALIASED draws two-level glyphs
  std::string face;  // CP932; "" takes the system's default
};

// Text layout flags (only the ones the system uses).
enum : uint32_t {
  FONT_DRAW_NOCLIP = 0x100,  // draw outside the rectangle too
};

// Reads the system's font configuration and font list, which the first face
// made would otherwise read. Any thread may call it, also while another
// makes a face; false when there is no configuration.
bool font_system_init();

// Creates the font. A null device makes a font that lays out and rasterises
// text (font_render_text) but cannot draw. GPU_NOT_AVAILABLE when no
// installed face can be found.
GpuResult font_create(GpuDevice* device, const FontParams& params, PlatformFont** out);
void font_release(PlatformFont* font);

// The family of the face the font uses (UTF-8) and its metrics in pixels.
const std::string& font_family(const PlatformFont* font);
int32_t font_height(const PlatformFont* font);
int32_t font_ascent(const PlatformFont* font);

// Draws text (length bytes, or up to its zero byte when negative) with the
// first line's cell top at rect.top and starting at rect.left, in the ARGB
// colour, blended over the target by its alpha. Line breaks ("\r\n", "\n",
// "\r") start a new line one cell lower. Without FONT_DRAW_NOCLIP nothing is
// drawn outside the rectangle. Sets only the device states the text needs and
// puts those back afterwards. Glyphs not prepared before are uploaded first.
// Returns the height of the text drawn, 0 on failure.
int32_t font_draw_text(PlatformFont* font, const char* text, int32_t length, const GpuRect& rect, uint32_t flags,
                       uint32_t argb);

// Rasterises the glyphs of the text that the font has not drawn yet and
// places them in its glyph atlas, to be sent to the device by the next
// font_upload_glyphs. Done when a text is known ahead (a dialogue loaded, a
// line queued), so the frame that shows it does no rasterising.
void font_prepare_text(PlatformFont* font, const char* text, int32_t length);
// Sends the glyphs prepared since the last upload to the atlas texture in one
// update. Called once a frame before the font draws anything, so the upload
// never lands in a texture the frame is already drawing with.
void font_upload_glyphs(PlatformFont* font);

// Lays the text out as font_draw_text does and writes its coverage (0 to 255)
// into a width x height buffer, rows top first, with the rectangle's
// top-left at (0, 0). Returns the height of the text.
int32_t font_render_text(PlatformFont* font, const char* text, int32_t length, int32_t width, int32_t height,
                         std::vector<uint8_t>* coverage);

// The free family a Windows face name stands for, or "" when the table has no
// entry. Full-width letters and spaces count as their ASCII forms.
std::string font_substitute_family(const std::string& face_utf8);
