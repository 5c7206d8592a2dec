// Drawing laid-out text through the device: glyphs are packed into an atlas
// texture on first use and drawn as pixel-aligned pre-transformed quads.
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

// The device states a draw changes, to put back afterwards.
struct SavedStates {
  uint32_t render[GPU_RS_COUNT];
  uint32_t stage[2][GPU_TSS_COUNT];
  uint32_t sampler[GPU_SAMP_COUNT];
  GpuTexture* texture;
  uint32_t fvf;
  GpuShader* vertex_shader;
  GpuShader* pixel_shader;
};

void save_states(GpuDevice* d, SavedStates* s) {
  for (uint32_t i = 0; i < GPU_RS_COUNT; ++i) s->render[i] = gpu_get_render_state(d, GpuRenderState(i));
  for (uint32_t st = 0; st < 2; ++st) {
    for (uint32_t i = 0; i < GPU_TSS_COUNT; ++i) s->stage[st][i] = gpu_get_stage_state(d, st, GpuStageState(i));
  }
  for (uint32_t i = 0; i < GPU_SAMP_COUNT; ++i) s->sampler[i] = gpu_get_sampler_state(d, 0, GpuSamplerState(i));
  s->texture = gpu_get_texture(d, 0);
  s->fvf = gpu_get_fvf(d);
  s->vertex_shader = gpu_get_vertex_shader(d);
  s->pixel_shader = gpu_get_pixel_shader(d);
}

void restore_states(GpuDevice* d, const SavedStates& s) {
  for (uint32_t i = 0; i < GPU_RS_COUNT; ++i) gpu_set_render_state(d, GpuRenderState(i), s.render[i]);
  for (uint32_t st = 0; st < 2; ++st) {
    for (uint32_t i = 0; i < GPU_TSS_COUNT; ++i) gpu_set_stage_state(d, st, GpuStageState(i), s.stage[st][i]);
  }
  for (uint32_t i = 0; i < GPU_SAMP_COUNT; ++i) gpu_set_sampler_state(d, 0, GpuSamplerState(i), s.sampler[i]);
  gpu_set_texture(d, 0, s.texture);
  if (s.fvf) gpu_set_fvf(d, s.fvf);
  gpu_set_vertex_shader(d, s.vertex_shader);
  gpu_set_pixel_shader(d, s.pixel_shader);
}

void set_text_states(GpuDevice* d, GpuTexture* atlas) {
  static const struct {
    GpuRenderState state;
    uint32_t value;
  } kRender[] = {
      {GPU_RS_ALPHABLENDENABLE, 1},
      {GPU_RS_SRCBLEND, GPU_BLEND_SRCALPHA},
      {GPU_RS_DESTBLEND, GPU_BLEND_INVSRCALPHA},
      {GPU_RS_BLENDOP, GPU_BLENDOP_ADD},
      {GPU_RS_SEPARATEALPHABLENDENABLE, 0},
      {GPU_RS_ALPHATESTENABLE, 0},
      {GPU_RS_ZENABLE, 0},
      {GPU_RS_ZWRITEENABLE, 0},
      {GPU_RS_STENCILENABLE, 0},
      {GPU_RS_CULLMODE, GPU_CULL_NONE},
      {GPU_RS_FILLMODE, GPU_FILL_SOLID},
      {GPU_RS_FOGENABLE, 0},
      {GPU_RS_LIGHTING, 0},
      {GPU_RS_SPECULARENABLE, 0},
      {GPU_RS_CLIPPLANEENABLE, 0},
      {GPU_RS_COLORWRITEENABLE, 0xF},
  };
  for (const auto& r : kRender) gpu_set_render_state(d, r.state, r.value);
  gpu_set_stage_state(d, 0, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  gpu_set_stage_state(d, 0, GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
  gpu_set_stage_state(d, 0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
  gpu_set_stage_state(d, 0, GPU_TSS_TEXCOORDINDEX, 0);
  gpu_set_stage_state(d, 1, GPU_TSS_COLOROP, GPU_TOP_DISABLE);
  gpu_set_stage_state(d, 1, GPU_TSS_ALPHAOP, GPU_TOP_DISABLE);
  gpu_set_sampler_state(d, 0, GPU_SAMP_MAGFILTER, GPU_FILTER_POINT);
  gpu_set_sampler_state(d, 0, GPU_SAMP_MINFILTER, GPU_FILTER_POINT);
  gpu_set_sampler_state(d, 0, GPU_SAMP_MIPFILTER, GPU_FILTER_NONE);
  gpu_set_sampler_state(d, 0, GPU_SAMP_ADDRESSU, GPU_ADDRESS_CLAMP);
  gpu_set_sampler_state(d, 0, GPU_SAMP_ADDRESSV, GPU_ADDRESS_CLAMP);
  gpu_set_texture(d, 0, atlas);
  gpu_set_vertex_shader(d, nullptr);
  gpu_set_pixel_shader(d, nullptr);
  gpu_set_fvf(d, kFontFvf);
}

bool ensure_atlas(PlatformFont* font) {
  if (font->atlas) return true;
  int32_t size = font->params.height > 16 ? 1024 : 512;
  if (gpu_create_texture(font->device, uint32_t(size), uint32_t(size), 1, 0, GPU_FMT_A8R8G8B8, GPU_POOL_MANAGED,
                         &font->atlas) != GPU_OK) {
    font->atlas = nullptr;
    return false;
  }
  font->atlas_size = size;
  font->shelf_x = font->shelf_y = font->shelf_height = 0;
  ++font->atlas_generation;
  return true;
}

// Puts the glyph into the atlas as white with its coverage as alpha; false
// when the atlas has no room left.
bool atlas_put(PlatformFont* font, FontGlyph* g) {
  int32_t w = g->width + kGlyphPadding, h = g->height + kGlyphPadding;
  if (font->shelf_x + w > font->atlas_size) {
    font->shelf_x = 0;
    font->shelf_y += font->shelf_height;
    font->shelf_height = 0;
  }
  if (w > font->atlas_size || font->shelf_y + h > font->atlas_size) return false;
  GpuRect rect = {font->shelf_x, font->shelf_y, font->shelf_x + g->width, font->shelf_y + g->height};
  GpuLockedRect locked;
  if (gpu_texture_lock(font->atlas, 0, &rect, &locked, 0) != GPU_OK) return false;
  for (int32_t y = 0; y < g->height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) + ptrdiff_t(y) * locked.pitch);
    const uint8_t* src = g->coverage.data() + size_t(y) * size_t(g->width);
    for (int32_t x = 0; x < g->width; ++x) row[x] = uint32_t(src[x]) << 24 | 0x00FFFFFFu;
  }
  gpu_texture_unlock(font->atlas, 0);
  g->atlas_x = font->shelf_x;
  g->atlas_y = font->shelf_y;
  g->atlas_generation = font->atlas_generation;
  font->shelf_x += w;
  if (h > font->shelf_height) font->shelf_height = h;
  return true;
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
               float texel, uint32_t argb) {
  // Pixel centres lie on integers: a quad from x0 - 0.5 to x1 - 0.5 covers
  // pixels x0 to x1 - 1 exactly, one texel each.
  float l = float(x0) - 0.5f, t = float(y0) - 0.5f, r = float(x1) - 0.5f, b = float(y1) - 0.5f;
  float u0 = float(ax) * texel, v0 = float(ay) * texel;
  float u1 = float(ax + (x1 - x0)) * texel, v1 = float(ay + (y1 - y0)) * texel;
  FontVertex tl{l, t, 0, 1, argb, u0, v0}, tr{r, t, 0, 1, argb, u1, v0};
  FontVertex bl{l, b, 0, 1, argb, u0, v1}, br{r, b, 0, 1, argb, u1, v1};
  out->insert(out->end(), {tl, tr, bl, tr, br, bl});
}

}  // namespace

int32_t font_draw_text(PlatformFont* font, const char* text, int32_t length, const GpuRect& rect, uint32_t flags,
                       uint32_t argb) {
  if (!font || !font->device || !text || !ensure_atlas(font)) return 0;
  std::vector<FontPlacedGlyph> placed;
  int32_t height = font_layout(font, text, length, &placed);
  if (placed.empty()) return height;

  GpuDevice* d = font->device;
  SavedStates saved;
  save_states(d, &saved);
  set_text_states(d, font->atlas);
  const GpuRect* clip = (flags & FONT_DRAW_NOCLIP) ? nullptr : &rect;
  const float texel = 1.0f / float(font->atlas_size);
  std::vector<FontVertex> vertices;
  vertices.reserve(placed.size() * 6);
  for (const FontPlacedGlyph& p : placed) {
    FontGlyph* g = p.glyph;
    if (g->atlas_generation != font->atlas_generation && !atlas_put(font, g)) {
      // Full: draw what is queued, then start the atlas over.
      flush(d, &vertices);
      font->shelf_x = font->shelf_y = font->shelf_height = 0;
      ++font->atlas_generation;
      if (!atlas_put(font, g)) continue;
    }
    int32_t x0 = rect.left + p.x, y0 = rect.top + p.y;
    int32_t x1 = x0 + g->width, y1 = y0 + g->height;
    int32_t ax = g->atlas_x, ay = g->atlas_y;
    if (clip_quad(clip, &x0, &y0, &x1, &y1, &ax, &ay)) push_quad(&vertices, x0, y0, x1, y1, ax, ay, texel, argb);
  }
  flush(d, &vertices);
  restore_states(d, saved);
  return height;
}
