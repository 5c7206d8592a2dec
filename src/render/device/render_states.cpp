#include "render/device/render_states.h"

#include <cstring>

#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/view/view_state.h"

namespace {

template <typename T, size_t N>
T pick(const T (&table)[N], int index, int fallback) {
  return index >= 0 && size_t(index) < N ? table[index] : table[fallback];
}

const uint32_t kClearFlags[6] = {
    GPU_CLEAR_TARGET,
    GPU_CLEAR_ZBUFFER,
    GPU_CLEAR_STENCIL,
    GPU_CLEAR_ZBUFFER | GPU_CLEAR_STENCIL,
    GPU_CLEAR_TARGET | GPU_CLEAR_ZBUFFER,
    GPU_CLEAR_TARGET | GPU_CLEAR_ZBUFFER | GPU_CLEAR_STENCIL,
};

const GpuFormat kFormats[24] = {
    GPU_FMT_A8R8G8B8,      GPU_FMT_X8R8G8B8,      GPU_FMT_A1R5G5B5, GPU_FMT_X1R5G5B5, GPU_FMT_R5G6B5,
    GPU_FMT_R8G8B8,        GPU_FMT_A4R4G4B4,      GPU_FMT_A16B16G16R16, GPU_FMT_A2R10G10B10, GPU_FMT_A2B10G10R10,
    GPU_FMT_A8,            GPU_FMT_L8,            GPU_FMT_A8L8,     GPU_FMT_DXT1,     GPU_FMT_DXT2,
    GPU_FMT_DXT3,          GPU_FMT_DXT4,          GPU_FMT_DXT5,     GPU_FMT_R16F,     GPU_FMT_R32F,
    GPU_FMT_G16R16F,       GPU_FMT_A16B16G16R16F, GPU_FMT_G32R32F,  GPU_FMT_A32B32G32R32F,
};
constexpr int kFormatDefault = 11;  // L8

struct FormatBits {
  GpuFormat format;
  uint32_t bits;
};
// R16F, A16B16G16R16 and A4L4 are not their formats' true sizes; the
// registry's texture byte counts are kept with these values.
const FormatBits kBits[] = {
    {GPU_FMT_D16_LOCKABLE, 16}, {GPU_FMT_D32, 32},          {GPU_FMT_D15S1, 16},         {GPU_FMT_D24S8, 32},
    {GPU_FMT_D24X8, 32},        {GPU_FMT_D24X4S4, 32},      {GPU_FMT_D32F_LOCKABLE, 32}, {GPU_FMT_D24FS8, 32},
    {GPU_FMT_D16, 16},          {GPU_FMT_INDEX16, 16},      {GPU_FMT_INDEX32, 32},       {GPU_FMT_DXT1, 4},
    {GPU_FMT_DXT2, 8},          {GPU_FMT_DXT3, 8},          {GPU_FMT_DXT4, 8},           {GPU_FMT_DXT5, 8},
    {GPU_FMT_R16F, 32},         {GPU_FMT_G16R16F, 32},      {GPU_FMT_A16B16G16R16F, 64}, {GPU_FMT_R32F, 32},
    {GPU_FMT_G32R32F, 64},      {GPU_FMT_A32B32G32R32F, 128}, {GPU_FMT_L6V5U5, 16},      {GPU_FMT_X8L8V8U8, 32},
    {GPU_FMT_A2W10V10U10, 32},  {GPU_FMT_V8U8, 16},         {GPU_FMT_Q8W8V8U8, 32},      {GPU_FMT_V16U16, 32},
    {GPU_FMT_Q16W16V16U16, 64}, {GPU_FMT_R8G8B8, 24},       {GPU_FMT_A8R8G8B8, 32},      {GPU_FMT_X8R8G8B8, 32},
    {GPU_FMT_R5G6B5, 16},       {GPU_FMT_X1R5G5B5, 16},     {GPU_FMT_A1R5G5B5, 16},      {GPU_FMT_A4R4G4B4, 16},
    {GPU_FMT_R3G3B2, 8},        {GPU_FMT_A8, 8},            {GPU_FMT_A8R3G3B2, 16},      {GPU_FMT_X4R4G4B4, 16},
    {GPU_FMT_A2B10G10R10, 32},  {GPU_FMT_A8B8G8R8, 32},     {GPU_FMT_X8B8G8R8, 32},      {GPU_FMT_G16R16, 32},
    {GPU_FMT_A2R10G10B10, 32},  {GPU_FMT_A16B16G16R16, 32}, {GPU_FMT_A8P8, 16},          {GPU_FMT_P8, 8},
    {GPU_FMT_L8, 8},            {GPU_FMT_L16, 16},          {GPU_FMT_A8L8, 16},          {GPU_FMT_A4L4, 16},
};
static_assert(sizeof kBits / sizeof kBits[0] == 52);

const GpuFormat kDepthFormats[2] = {GPU_FMT_D16, GPU_FMT_D24S8};
const GfxBlendPair kBlendPairs[12] = {
    {GPU_BLEND_ONE, GPU_BLEND_ZERO},
    {GPU_BLEND_SRCALPHA, GPU_BLEND_INVSRCALPHA},
    {GPU_BLEND_SRCALPHA, GPU_BLEND_ONE},
    {GPU_BLEND_ONE, GPU_BLEND_ONE},
    {GPU_BLEND_INVDESTCOLOR, GPU_BLEND_ONE},
    {GPU_BLEND_SRCCOLOR, GPU_BLEND_ONE},
    {GPU_BLEND_SRCCOLOR, GPU_BLEND_INVSRCCOLOR},
    {GPU_BLEND_ONE, GPU_BLEND_INVSRCALPHA},
    {GPU_BLEND_ZERO, GPU_BLEND_SRCCOLOR},
    {GPU_BLEND_DESTCOLOR, GPU_BLEND_ONE},
    {GPU_BLEND_DESTCOLOR, GPU_BLEND_SRCALPHA},
    {GPU_BLEND_INVDESTCOLOR, GPU_BLEND_ZERO},
};
const uint32_t kCull[3] = {GPU_CULL_CCW, GPU_CULL_CW, GPU_CULL_NONE};
const uint32_t kFill[3] = {GPU_FILL_SOLID, GPU_FILL_WIREFRAME, GPU_FILL_POINT};
const uint32_t kFilter[2] = {GPU_FILTER_POINT, GPU_FILTER_LINEAR};
const uint32_t kAlphaRef[6] = {1, 48, 129, 192, 254, 0};
const uint32_t kCompare[8] = {GPU_CMP_NEVER,   GPU_CMP_LESS,     GPU_CMP_EQUAL,        GPU_CMP_LESSEQUAL,
                              GPU_CMP_GREATER, GPU_CMP_NOTEQUAL, GPU_CMP_GREATEREQUAL, GPU_CMP_ALWAYS};
const uint32_t kStencilOps[8] = {GPU_STENCILOP_KEEP,    GPU_STENCILOP_ZERO,   GPU_STENCILOP_REPLACE,
                                 GPU_STENCILOP_INCRSAT, GPU_STENCILOP_DECRSAT, GPU_STENCILOP_INVERT,
                                 GPU_STENCILOP_INCR,    GPU_STENCILOP_DECR};
const uint32_t kAddress[2] = {GPU_ADDRESS_WRAP, GPU_ADDRESS_CLAMP};

int32_t* cache() { return gfx_device_ptr()->render_cache; }

void set_state(GpuRenderState s, uint32_t v) {
  if (GpuDevice* d = gfx_device()) gpu_set_render_state(d, s, v);
}

void apply_viewport(const GpuViewport& v) {
  GfxDevice* g = gfx_device_ptr();
  if (g->device && gpu_set_viewport(g->device, v) == GPU_OK) g->viewport = v;
}

void apply_scissor(int left, int top, int right, int bottom) {
  if (GpuDevice* d = gfx_device()) gpu_set_scissor_rect(d, GpuRect{left, top, right, bottom});
}

// A view's rectangle; false for a number that names no view.
bool view_rect(int view, int* x, int* y, int* w, int* h) {
  if (view < 0) {
    const GfxDevice* g = gfx_device_ptr();
    *x = *y = 0;
    *w = g->back_buffer_width;
    *h = g->back_buffer_height;
    return true;
  }
  if (view > 1) return false;
  get_viewport(view, x, y, w, h);
  return true;
}

}  // namespace

// ---- Preset ---------------------------------------------------------------------------

int gfx_set_render_preset(int lighting, int zwrite, int zfunc_index, int fog, int blend_index, int cull_index,
                          int fill_index, int alpha_ref_index, int shader_draw) {
  int32_t* c = cache();
  int result = 0;
  c[GFX_PRESET_LIGHTING_ASKED] = lighting;
  c[GFX_PRESET_FOG_ASKED] = fog;
  if (shader_draw) lighting = 0;
  if (c[GFX_PRESET_LIGHTING] != lighting) {
    c[GFX_PRESET_LIGHTING] = lighting;
    set_state(GPU_RS_LIGHTING, uint32_t(lighting));
    result = 1;
  }
  if (c[GFX_PRESET_ZWRITE] != zwrite) {
    c[GFX_PRESET_ZWRITE] = zwrite;
    set_state(GPU_RS_ZWRITEENABLE, uint32_t(zwrite));
  }
  if (c[GFX_PRESET_ZFUNC] != zfunc_index) {
    c[GFX_PRESET_ZFUNC] = zfunc_index;
    set_state(GPU_RS_ZFUNC, gfx_zfunc_by_index(zfunc_index));
  }
  if (c[GFX_PRESET_FOG] != fog) {
    c[GFX_PRESET_FOG] = fog;
    set_state(GPU_RS_FOGENABLE, uint32_t(fog));
    result = 1;
  }
  if (c[GFX_PRESET_BLEND] != blend_index) {
    GfxBlendPair p = gfx_blend_pair_by_index(blend_index);
    set_state(GPU_RS_SRCBLEND, p.source);
    set_state(GPU_RS_DESTBLEND, p.destination);
    c[GFX_PRESET_BLEND] = blend_index;
  }
  if (c[GFX_PRESET_CULL] != cull_index) {
    c[GFX_PRESET_CULL] = cull_index;
    set_state(GPU_RS_CULLMODE, gfx_cull_mode_by_index(cull_index));
  }
  if (c[GFX_PRESET_FILL] != fill_index) {
    c[GFX_PRESET_FILL] = fill_index;
    set_state(GPU_RS_FILLMODE, gfx_fill_mode_by_index(fill_index));
  }
  if (c[GFX_PRESET_ALPHA_REF] != alpha_ref_index) {
    c[GFX_PRESET_ALPHA_REF] = alpha_ref_index;
    set_state(GPU_RS_ALPHAREF, gfx_alpha_ref_by_index(alpha_ref_index));
  }
  if (c[GFX_PRESET_SHADER_DRAW] != shader_draw) {
    c[GFX_PRESET_SHADER_DRAW] = shader_draw;
    result = 1;
  }
  return result;
}

void gfx_invalidate_render_cache() {
  int32_t* c = cache();
  for (int i = 0; i < GFX_PRESET_WORDS; ++i) c[i] = -1;
}

int gfx_preset_lighting() { return cache()[GFX_PRESET_LIGHTING_ASKED]; }
int gfx_preset_fog() { return cache()[GFX_PRESET_FOG_ASKED]; }
int gfx_preset_effective_lighting() { return cache()[GFX_PRESET_LIGHTING]; }
int gfx_preset_zwrite() { return cache()[GFX_PRESET_ZWRITE]; }
int gfx_preset_zfunc() { return cache()[GFX_PRESET_ZFUNC]; }
int gfx_preset_fog_state() { return cache()[GFX_PRESET_FOG]; }
int gfx_preset_blend() { return cache()[GFX_PRESET_BLEND]; }
int gfx_preset_cull() { return cache()[GFX_PRESET_CULL]; }
int gfx_preset_fill() { return cache()[GFX_PRESET_FILL]; }
int gfx_preset_alpha_ref() { return cache()[GFX_PRESET_ALPHA_REF]; }

// ---- Tables ------------------------------------------------------------------------------

uint32_t gfx_clear_flags_by_index(int index) { return index >= 0 && index < 6 ? kClearFlags[index] : 0; }
GpuFormat gfx_format_by_index(int index) { return pick(kFormats, index, kFormatDefault); }

uint32_t gfx_format_bits(GpuFormat format) {
  for (const FormatBits& f : kBits)
    if (f.format == format) return f.bits;
  return 32;
}

GpuFormat gfx_depth_format_by_index(int index) { return pick(kDepthFormats, index, 0); }
GfxBlendPair gfx_blend_pair_by_index(int index) { return pick(kBlendPairs, index, 0); }
uint32_t gfx_cull_mode_by_index(int index) { return pick(kCull, index, 0); }
uint32_t gfx_fill_mode_by_index(int index) { return pick(kFill, index, 0); }
uint32_t gfx_filter_by_index(int index) { return pick(kFilter, index, 1); }
uint32_t gfx_alpha_ref_by_index(int index) { return pick(kAlphaRef, index, 0); }
uint32_t gfx_zfunc_by_index(int index) { return pick(kCompare, index, 1); }
uint32_t gfx_stencil_op_by_index(int index) { return pick(kStencilOps, index, 0); }
uint32_t gfx_address_by_index(int index) { return pick(kAddress, index, 0); }

// ---- Clear, viewport, scissor ----------------------------------------------------------------

void gfx_clear(int index, uint32_t argb) {
  GfxDevice* g = gfx_device_ptr();
  const DepthSurfaceObject* depth = gfx_current_depth_record();
  if (!depth || !depth->surface) {
    // Without a depth surface every clear is one of the target, except a
    // clear of depth or stencil alone, which has nothing to clear and must
    // not wipe the colour.
    if (index >= 1 && index <= 3) return;
    index = 0;
  }
  uint32_t flags = gfx_clear_flags_by_index(index);
  if (depth && !g->has_stencil && !gpu_format_has_stencil(GpuFormat(depth->format)))
    flags &= ~uint32_t(GPU_CLEAR_STENCIL);
  if (flags == 0 || !g->device) return;
  gpu_clear(g->device, flags, argb, 1.0f, 0);
}

void gfx_set_viewport(int view) {
  int x, y, w, h;
  if (view_rect(view, &x, &y, &w, &h)) gfx_set_viewport_rect(x, y, w, h);
}

void gfx_set_viewport_rect(int x, int y, int width, int height) {
  if (x < 0 || y < 0 || width <= 0 || height <= 0) return;
  apply_viewport(GpuViewport{uint32_t(x), uint32_t(y), uint32_t(width), uint32_t(height), 0.0f, 1.0f});
}

GpuViewport gfx_current_viewport() { return gfx_device_ptr()->viewport; }

void gfx_set_scissor(int view) {
  int x, y, w, h;
  if (view_rect(view, &x, &y, &w, &h)) apply_scissor(x, y, x + w, y + h);
}

void gfx_set_scissor_rect(int x, int y, int width, int height) { apply_scissor(x, y, x + width, y + height); }

void gfx_get_scissor(int* x, int* y, int* width, int* height) {
  GpuRect r = gpu_get_scissor_rect(gfx_device());
  if (x) *x = r.left;
  if (y) *y = r.top;
  if (width) *width = r.right - r.left;
  if (height) *height = r.bottom - r.top;
}

// ---- Single states ----------------------------------------------------------------------------

void gfx_set_colour_write(int red, int green, int blue, int alpha) {
  set_state(GPU_RS_COLORWRITEENABLE, (red ? 1u : 0u) | (green ? 2u : 0u) | (blue ? 4u : 0u) | (alpha ? 8u : 0u));
}

void gfx_set_clip_plane(int index, const float* plane, int enable) {
  if (index < 0 || index >= GPU_MAX_CLIP_PLANES) return;
  if (!enable) {
    set_state(GPU_RS_CLIPPLANEENABLE, 0);
    return;
  }
  if (plane && gfx_device()) gpu_set_clip_plane(gfx_device(), uint32_t(index), plane);
  set_state(GPU_RS_CLIPPLANEENABLE, 1u << index);
}

void gfx_set_stencil_enable(int enable) { set_state(GPU_RS_STENCILENABLE, enable ? 1 : 0); }

void gfx_set_stencil_test(uint32_t reference, uint32_t mask, uint32_t write_mask, uint32_t compare_function) {
  set_state(GPU_RS_STENCILREF, reference);
  set_state(GPU_RS_STENCILMASK, mask);
  set_state(GPU_RS_STENCILWRITEMASK, write_mask);
  set_state(GPU_RS_STENCILFUNC, compare_function);
}

void gfx_set_stencil_ops(int fail_index, int zfail_index, int pass_index) {
  set_state(GPU_RS_STENCILFAIL, gfx_stencil_op_by_index(fail_index));
  set_state(GPU_RS_STENCILZFAIL, gfx_stencil_op_by_index(zfail_index));
  set_state(GPU_RS_STENCILPASS, gfx_stencil_op_by_index(pass_index));
}
