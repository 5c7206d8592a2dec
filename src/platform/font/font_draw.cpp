// Drawing laid-out text through the device: glyphs are packed into an atlas
// texture on first use and drawn as pixel-aligned pre-transformed quads.
#include <algorithm>
#include <cstring>

#include "platform/font/font_internal.h"

namespace {

struct FontVertex {
  float x, y, z, rhw;
  uint32_t diffuse;
  float u, v;
};
constexpr uint32_t kFontFvf = GPU_FVF_XYZRHW | GPU_FVF_DIFFUSE | gpu_fvf_tex(1);
static_assert(sizeof(FontVertex) == 28, "vertex layout of the font's format");

constexpr int32_t kGlyphPadding = 1;

// The states a text draw sets; each is put back to what it was afterwards.
enum class StateKind : uint8_t { RENDER, STAGE0, STAGE1, SAMPLER0 };

struct TextState {
  StateKind kind;
  uint32_t state;
  uint32_t value;
};

constexpr TextState kTextStates[] = {
    {StateKind::RENDER, GPU_RS_ALPHABLENDENABLE, 1},
    {StateKind::RENDER, GPU_RS_SRCBLEND, GPU_BLEND_SRCALPHA},
    {StateKind::RENDER, GPU_RS_DESTBLEND, GPU_BLEND_INVSRCALPHA},
    {StateKind::RENDER, GPU_RS_BLENDOP, GPU_BLENDOP_ADD},
    {StateKind::RENDER, GPU_RS_SEPARATEALPHABLENDENABLE, 0},
    {StateKind::RENDER, GPU_RS_ALPHATESTENABLE, 0},
    {StateKind::RENDER, GPU_RS_ZENABLE, 0},
    {StateKind::RENDER, GPU_RS_ZWRITEENABLE, 0},
    {StateKind::RENDER, GPU_RS_STENCILENABLE, 0},
    {StateKind::RENDER, GPU_RS_CULLMODE, GPU_CULL_NONE},
    {StateKind::RENDER, GPU_RS_FILLMODE, GPU_FILL_SOLID},
    {StateKind::RENDER, GPU_RS_FOGENABLE, 0},
    {StateKind::RENDER, GPU_RS_LIGHTING, 0},
    {StateKind::RENDER, GPU_RS_SPECULARENABLE, 0},
    {StateKind::RENDER, GPU_RS_CLIPPLANEENABLE, 0},
    {StateKind::RENDER, GPU_RS_COLORWRITEENABLE, 0xF},
    {StateKind::STAGE0, GPU_TSS_COLOROP, GPU_TOP_MODULATE},
    {StateKind::STAGE0, GPU_TSS_COLORARG1, GPU_TA_TEXTURE},
    {StateKind::STAGE0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE},
    {StateKind::STAGE0, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE},
    {StateKind::STAGE0, GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE},
    {StateKind::STAGE0, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE},
    {StateKind::STAGE0, GPU_TSS_TEXCOORDINDEX, 0},
    {StateKind::STAGE1, GPU_TSS_COLOROP, GPU_TOP_DISABLE},
    {StateKind::STAGE1, GPU_TSS_ALPHAOP, GPU_TOP_DISABLE},
    {StateKind::SAMPLER0, GPU_SAMP_MAGFILTER, GPU_FILTER_POINT},
    {StateKind::SAMPLER0, GPU_SAMP_MINFILTER, GPU_FILTER_POINT},
    {StateKind::SAMPLER0, GPU_SAMP_MIPFILTER, GPU_FILTER_NONE},
    {StateKind::SAMPLER0, GPU_SAMP_ADDRESSU, GPU_ADDRESS_CLAMP},
    {StateKind::SAMPLER0, GPU_SAMP_ADDRESSV, GPU_ADDRESS_CLAMP},
};
constexpr size_t kTextStateCount = sizeof kTextStates / sizeof kTextStates[0];

struct SavedStates {
  uint32_t values[kTextStateCount];
  GpuTexture* texture;
  uint32_t fvf;
  GpuShader* vertex_shader;
  GpuShader* pixel_shader;
};

uint32_t get_state(GpuDevice* d, const TextState& s) {
  switch (s.kind) {
    case StateKind::RENDER: return gpu_get_render_state(d, GpuRenderState(s.state));
    case StateKind::STAGE0: return gpu_get_stage_state(d, 0, GpuStageState(s.state));
    case StateKind::STAGE1: return gpu_get_stage_state(d, 1, GpuStageState(s.state));
    case StateKind::SAMPLER0: return gpu_get_sampler_state(d, 0, GpuSamplerState(s.state));
  }
  return 0;
}

void set_state(GpuDevice* d, const TextState& s, uint32_t value) {
  switch (s.kind) {
    case StateKind::RENDER: gpu_set_render_state(d, GpuRenderState(s.state), value); break;
    case StateKind::STAGE0: gpu_set_stage_state(d, 0, GpuStageState(s.state), value); break;
    case StateKind::STAGE1: gpu_set_stage_state(d, 1, GpuStageState(s.state), value); break;
    case StateKind::SAMPLER0: gpu_set_sampler_state(d, 0, GpuSamplerState(s.state), value); break;
  }
}

// Saves the states the text draw sets, then sets them.
void set_text_states(GpuDevice* d, GpuTexture* atlas, SavedStates* saved) {
  for (size_t i = 0; i < kTextStateCount; ++i) {
    saved->values[i] = get_state(d, kTextStates[i]);
    if (saved->values[i] != kTextStates[i].value) set_state(d, kTextStates[i], kTextStates[i].value);
  }
  saved->texture = gpu_get_texture(d, 0);
  saved->fvf = gpu_get_fvf(d);
  saved->vertex_shader = gpu_get_vertex_shader(d);
  saved->pixel_shader = gpu_get_pixel_shader(d);
  gpu_set_texture(d, 0, atlas);
  gpu_set_vertex_shader(d, nullptr);
  gpu_set_pixel_shader(d, nullptr);
  gpu_set_fvf(d, kFontFvf);
}

void restore_states(GpuDevice* d, const SavedStates& saved) {
  for (size_t i = 0; i < kTextStateCount; ++i)
    if (saved.values[i] != kTextStates[i].value) set_state(d, kTextStates[i], saved.values[i]);
  gpu_set_texture(d, 0, saved.texture);
  if (saved.fvf) gpu_set_fvf(d, saved.fvf);
  gpu_set_vertex_shader(d, saved.vertex_shader);
  gpu_set_pixel_shader(d, saved.pixel_shader);
}

// The atlas is as wide as it will ever be, so its shelves always span the
// whole width, and starts low: it doubles its height as it fills, up to a
// square, so a font that shows few glyphs never makes (and clears) a large
// texture.
constexpr int32_t kFirstAtlasHeight = 128;

int32_t atlas_side(const PlatformFont* font) { return font->params.height > 16 ? 1024 : 512; }

bool ensure_atlas(PlatformFont* font) {
  if (font->atlas) return true;
  const int32_t width = atlas_side(font), height = std::min(kFirstAtlasHeight, width);
  if (gpu_create_texture(font->device, uint32_t(width), uint32_t(height), 1, 0, GPU_FMT_A8R8G8B8, GPU_POOL_MANAGED,
                         &font->atlas) != GPU_OK) {
    font->atlas = nullptr;
    return false;
  }
  font->atlas_width = width;
  font->atlas_height = height;
  font->shelf_x = font->shelf_y = font->shelf_height = 0;
  ++font->atlas_generation;
  return true;
}

// Doubles the atlas's height with every glyph kept in its place; false at
// the largest size or when the bigger texture cannot be made.
bool grow_atlas(PlatformFont* font) {
  const int32_t width = font->atlas_width, old_height = font->atlas_height, height = old_height * 2;
  if (height > atlas_side(font)) return false;
  GpuTexture* bigger = nullptr;
  if (gpu_create_texture(font->device, uint32_t(width), uint32_t(height), 1, 0, GPU_FMT_A8R8G8B8, GPU_POOL_MANAGED,
                         &bigger) != GPU_OK)
    return false;
  GpuLockedRect from, to;
  const GpuRect kept{0, 0, width, old_height};
  if (gpu_texture_lock(font->atlas, 0, nullptr, &from, GPU_LOCK_READONLY) != GPU_OK) {
    gpu_texture_release(bigger);
    return false;
  }
  if (gpu_texture_lock(bigger, 0, &kept, &to, 0) != GPU_OK) {
    gpu_texture_unlock(font->atlas, 0);
    gpu_texture_release(bigger);
    return false;
  }
  for (int32_t y = 0; y < old_height; ++y)
    std::memcpy(static_cast<uint8_t*>(to.bits) + ptrdiff_t(y) * to.pitch,
                static_cast<const uint8_t*>(from.bits) + ptrdiff_t(y) * from.pitch, size_t(width) * 4);
  gpu_texture_unlock(bigger, 0);
  gpu_texture_unlock(font->atlas, 0);
  gpu_texture_release(font->atlas);
  font->atlas = bigger;
  font->atlas_height = height;
  return true;
}

// Reserves the glyph's place on the atlas's shelves and queues it for the
// next upload; false when the atlas has no room left.
bool atlas_place(PlatformFont* font, FontGlyph* g) {
  int32_t w = g->width + kGlyphPadding, h = g->height + kGlyphPadding;
  if (font->shelf_x + w > font->atlas_width) {
    font->shelf_x = 0;
    font->shelf_y += font->shelf_height;
    font->shelf_height = 0;
  }
  if (w > font->atlas_width || font->shelf_y + h > font->atlas_height) return false;
  g->atlas_x = font->shelf_x;
  g->atlas_y = font->shelf_y;
  g->atlas_generation = font->atlas_generation;
  font->shelf_x += w;
  if (h > font->shelf_height) font->shelf_height = h;
  font->pending.push_back(g);
  return true;
}

// Places every glyph of the laid-out text that the atlas does not hold,
// growing the atlas when it fills. A full atlas of the largest size starts
// over once (the glyphs drawn before are placed again when they are next
// drawn); a glyph that still finds no room is left out.
void place_glyphs(PlatformFont* font, const std::vector<FontPlacedGlyph>& placed) {
  bool restarted = false;
  for (size_t i = 0; i < placed.size(); ++i) {
    FontGlyph* g = placed[i].glyph;
    if (g->atlas_generation == font->atlas_generation || atlas_place(font, g)) continue;
    if (grow_atlas(font) && atlas_place(font, g)) continue;
    if (restarted) continue;
    restarted = true;
    font->shelf_x = font->shelf_y = font->shelf_height = 0;
    ++font->atlas_generation;
    font->pending.clear();
    i = size_t(-1);  // this text's glyphs again, from its first
  }
}

// The pending glyphs written into the atlas as white with their coverage as
// alpha, in one lock of the rectangle around them.
void upload_pending(PlatformFont* font) {
  if (font->pending.empty()) return;
  GpuRect r{font->atlas_width, font->atlas_height, 0, 0};
  for (const FontGlyph* g : font->pending) {
    r.left = std::min(r.left, g->atlas_x);
    r.top = std::min(r.top, g->atlas_y);
    r.right = std::max(r.right, g->atlas_x + g->width);
    r.bottom = std::max(r.bottom, g->atlas_y + g->height);
  }
  GpuLockedRect locked;
  if (r.right > r.left && r.bottom > r.top && gpu_texture_lock(font->atlas, 0, &r, &locked, 0) == GPU_OK) {
    for (const FontGlyph* g : font->pending) {
      for (int32_t y = 0; y < g->height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) +
                                                ptrdiff_t(g->atlas_y - r.top + y) * locked.pitch) +
                    (g->atlas_x - r.left);
        const uint8_t* src = g->coverage.data() + size_t(y) * size_t(g->width);
        for (int32_t x = 0; x < g->width; ++x) row[x] = uint32_t(src[x]) << 24 | 0x00FFFFFFu;
      }
    }
    gpu_texture_unlock(font->atlas, 0);
  }
  font->pending.clear();
}

void flush(GpuDevice* d, std::vector<FontVertex>* vertices) {
  if (vertices->empty()) return;
  gpu_draw_primitive_up(d, GPU_PT_TRIANGLELIST, uint32_t(vertices->size() / 3), vertices->data(),
                        sizeof(FontVertex));
  vertices->clear();
}

// The glyph's quad (pixels x0..x1, y0..y1 on the target) cut to the clip
// rectangle; false when nothing is left.
bool clip_quad(const GpuRect* clip, int32_t* x0, int32_t* y0, int32_t* x1, int32_t* y1, int32_t* ax, int32_t* ay) {
  if (!clip) return true;
  if (*x0 < clip->left) {
    *ax += clip->left - *x0;
    *x0 = clip->left;
  }
  if (*y0 < clip->top) {
    *ay += clip->top - *y0;
    *y0 = clip->top;
  }
  if (*x1 > clip->right) *x1 = clip->right;
  if (*y1 > clip->bottom) *y1 = clip->bottom;
  return *x0 < *x1 && *y0 < *y1;
}

void push_quad(std::vector<FontVertex>* out, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t ax, int32_t ay,
               float texel_u, float texel_v, uint32_t argb) {
  // Pixel centres lie on integers: a quad from x0 - 0.5 to x1 - 0.5 covers
  // pixels x0 to x1 - 1 exactly, one texel each.
  float l = float(x0) - 0.5f, t = float(y0) - 0.5f, r = float(x1) - 0.5f, b = float(y1) - 0.5f;
  float u0 = float(ax) * texel_u, v0 = float(ay) * texel_v;
  float u1 = float(ax + (x1 - x0)) * texel_u, v1 = float(ay + (y1 - y0)) * texel_v;
  FontVertex tl{l, t, 0, 1, argb, u0, v0}, tr{r, t, 0, 1, argb, u1, v0};
  FontVertex bl{l, b, 0, 1, argb, u0, v1}, br{r, b, 0, 1, argb, u1, v1};
  out->insert(out->end(), {tl, tr, bl, tr, br, bl});
}

}  // namespace

void font_prepare_text(PlatformFont* font, const char* text, int32_t length) {
  if (!font || !text) return;
  const FontLayoutEntry& layout = font_layout_cached(font, text, length);
  if (font->device && ensure_atlas(font)) place_glyphs(font, layout.placed);
}

void font_upload_glyphs(PlatformFont* font) {
  if (font && font->atlas) upload_pending(font);
}

int32_t font_draw_text(PlatformFont* font, const char* text, int32_t length, const GpuRect& rect, uint32_t flags,
                       uint32_t argb) {
  if (!font || !font->device || !text || !ensure_atlas(font)) return 0;
  const FontLayoutEntry& layout = font_layout_cached(font, text, length);
  if (layout.placed.empty()) return layout.height;
  // Glyphs nobody prepared are placed and sent now.
  place_glyphs(font, layout.placed);
  upload_pending(font);

  GpuDevice* d = font->device;
  SavedStates saved;
  set_text_states(d, font->atlas, &saved);
  const GpuRect* clip = (flags & FONT_DRAW_NOCLIP) ? nullptr : &rect;
  const float texel_u = 1.0f / float(font->atlas_width), texel_v = 1.0f / float(font->atlas_height);
  std::vector<FontVertex> vertices;
  vertices.reserve(layout.placed.size() * 6);
  for (const FontPlacedGlyph& p : layout.placed) {
    const FontGlyph* g = p.glyph;
    if (g->atlas_generation != font->atlas_generation) continue;
    int32_t x0 = rect.left + p.x, y0 = rect.top + p.y;
    int32_t x1 = x0 + g->width, y1 = y0 + g->height;
    int32_t ax = g->atlas_x, ay = g->atlas_y;
    if (clip_quad(clip, &x0, &y0, &x1, &y1, &ax, &ay)) push_quad(&vertices, x0, y0, x1, y1, ax, ay, texel_u, texel_v, argb);
  }
  flush(d, &vertices);
  restore_states(d, saved);
  return layout.height;
}
