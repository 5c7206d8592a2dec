#include "render/device/device_resources.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/image/image.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"

namespace {

constexpr uint8_t kClampBoth = (1u << TEXTURE_FLAG_U_SHIFT) | (1u << TEXTURE_FLAG_V_SHIFT);
// The largest texture a picture becomes: 64 M texels.
constexpr uint64_t kMaxPictureTexels = uint64_t(64) << 20;

void fill_from_texture(TextureObject* o, GpuTexture* t) {
  GpuSurfaceDesc desc{};
  gpu_texture_level_desc(t, 0, &desc);
  o->texture = t;
  o->width = uint16_t(desc.width);
  o->height = uint16_t(desc.height);
  o->device_format = desc.format;
  o->format = uint8_t(desc.format & 0xFF);
  o->bits = uint8_t(gfx_format_bits(desc.format));
}

bool make_render_target(TextureObject* o, GpuFormat format, int32_t width, int32_t height) {
  GpuDevice* d = gfx_device();
  GpuTexture* t = nullptr;
  if (!d || gpu_create_texture(d, uint32_t(width), uint32_t(height), 1, GPU_USAGE_RENDERTARGET, format,
                               GPU_POOL_DEFAULT, &t) != GPU_OK)
    return false;
  fill_from_texture(o, t);
  gpu_texture_surface(t, 0, &o->surface);
  o->kind = TEXTURE_KIND_RENDER_TARGET;
  o->flags = kClampBoth;
  return true;
}

// Bytes per pixel that pixel copies use, by the format's low byte.
int copy_bytes(uint8_t format) {
  switch (format) {
    case GPU_FMT_R8G8B8: return 3;
    case GPU_FMT_A8R8G8B8:
    case GPU_FMT_X8R8G8B8:
    case GPU_FMT_R32F: return 4;
    case GPU_FMT_R5G6B5:
    case GPU_FMT_X1R5G5B5:
    case GPU_FMT_A1R5G5B5:
    case GPU_FMT_A4R4G4B4:
    case GPU_FMT_A8L8: return 2;
    case GPU_FMT_A8:
    case GPU_FMT_L8: return 1;
    default: return 0;
  }
}

bool rect_inside(const TextureObject* o, int32_t x, int32_t y, int32_t w, int32_t h) {
  return x >= 0 && y >= 0 && w >= 0 && h >= 0 && int64_t(x) + w <= o->width && int64_t(y) + h <= o->height;
}

uint32_t next_pow2(uint32_t v) {
  uint32_t p = 1;
  while (p < v) p <<= 1;
  return p;
}

uint32_t prev_pow2(uint32_t v) {
  uint32_t p = 1;
  while (p * 2 <= v) p <<= 1;
  return p;
}

// Linear resampling of ARGB pixels, centre to centre.
void resample(const DecodedImage& src, uint32_t dw, uint32_t dh, uint32_t* dst, size_t pitch_words) {
  const int sw = src.width, sh = src.height;
  for (uint32_t y = 0; y < dh; ++y) {
    float fy = std::max(0.0f, (float(y) + 0.5f) * float(sh) / float(dh) - 0.5f);
    int y0 = std::min(int(fy), sh - 1), y1 = std::min(y0 + 1, sh - 1);
    float ty = fy - float(y0);
    for (uint32_t x = 0; x < dw; ++x) {
      float fx = std::max(0.0f, (float(x) + 0.5f) * float(sw) / float(dw) - 0.5f);
      int x0 = std::min(int(fx), sw - 1), x1 = std::min(x0 + 1, sw - 1);
      float tx = fx - float(x0);
      uint32_t p00 = src.argb[size_t(y0) * size_t(sw) + size_t(x0)], p01 = src.argb[size_t(y0) * size_t(sw) + size_t(x1)];
      uint32_t p10 = src.argb[size_t(y1) * size_t(sw) + size_t(x0)], p11 = src.argb[size_t(y1) * size_t(sw) + size_t(x1)];
      uint32_t out = 0;
      for (int c = 0; c < 32; c += 8) {
        float a = float((p00 >> c) & 0xFF) * (1 - tx) + float((p01 >> c) & 0xFF) * tx;
        float b = float((p10 >> c) & 0xFF) * (1 - tx) + float((p11 >> c) & 0xFF) * tx;
        out |= uint32_t(std::clamp(a * (1 - ty) + b * ty + 0.5f, 0.0f, 255.0f)) << c;
      }
      dst[size_t(y) * pitch_words + x] = out;
    }
  }
}

// A texture from a decoded picture: its size rounded up to powers of two
// (down where that would pass the device's limits), the picture stretched
// over it, with a full mip chain when asked.
bool texture_from_picture(TextureObject* o, const DecodedImage& img, uint8_t mip) {
  GpuDevice* d = gfx_device();
  if (!d || img.width <= 0 || img.height <= 0) return false;
  GpuCaps caps{};
  gpu_device_caps(d, &caps);
  uint32_t w = next_pow2(uint32_t(img.width)), h = next_pow2(uint32_t(img.height));
  if (w > caps.max_texture_width) w = prev_pow2(caps.max_texture_width);
  if (h > caps.max_texture_height) h = prev_pow2(caps.max_texture_height);
  while (uint64_t(w) * h > kMaxPictureTexels) (w >= h ? w : h) >>= 1;
  bool alpha = std::any_of(img.argb.begin(), img.argb.end(), [](uint32_t p) { return (p >> 24) != 0xFF; });
  GpuFormat format = alpha ? GPU_FMT_A8R8G8B8 : GPU_FMT_X8R8G8B8;
  GpuTexture* t = nullptr;
  if (gpu_create_texture(d, w, h, mip ? 0 : 1, 0, format, GPU_POOL_MANAGED, &t) != GPU_OK) return false;
  GpuLockedRect lr;
  if (gpu_texture_lock(t, 0, nullptr, &lr, 0) != GPU_OK) {
    gpu_texture_release(t);
    return false;
  }
  if (w == uint32_t(img.width) && h == uint32_t(img.height)) {
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(static_cast<uint8_t*>(lr.bits) + size_t(y) * size_t(lr.pitch), &img.argb[size_t(y) * w], size_t(w) * 4);
  } else {
    resample(img, w, h, static_cast<uint32_t*>(lr.bits), size_t(lr.pitch) / 4);
  }
  gpu_texture_unlock(t, 0);
  if (mip) gpu_texture_generate_mips(t);
  fill_from_texture(o, t);
  o->image_width = uint16_t(std::min(img.width, 0xFFFF));
  o->image_height = uint16_t(std::min(img.height, 0xFFFF));
  o->flags = mip ? TEXTURE_FLAG_MIP_CHAIN : 0;
  o->kind = TEXTURE_KIND_MANAGED;
  return true;
}

uint32_t expand5(uint32_t v) { return (v << 3) | (v >> 2); }
uint32_t expand6(uint32_t v) { return (v << 2) | (v >> 4); }
uint32_t expand4(uint32_t v) { return v * 17; }

}  // namespace

// ---- Creation ----------------------------------------------------------------------------

bool gfx_create_texture(TextureObject* o, int32_t format_code, int32_t width, int32_t height) {
  if (!o) return false;
  std::memset(o, 0, sizeof *o);
  if (width == 0 || height == 0) return true;
  if (width < 0 || height < 0) return false;
  GpuDevice* d = gfx_device();
  GpuTexture* t = nullptr;
  if (!d || gpu_create_texture(d, uint32_t(width), uint32_t(height), 1, 0, gfx_format_by_index(format_code),
                               GPU_POOL_MANAGED, &t) != GPU_OK)
    return false;
  fill_from_texture(o, t);
  o->kind = TEXTURE_KIND_MANAGED;
  return true;
}

bool gfx_create_render_target(TextureObject* o, int32_t format_code, int32_t width, int32_t height) {
  if (!o) return false;
  std::memset(o, 0, sizeof *o);
  if (width <= 0 || height <= 0) return false;
  return make_render_target(o, gfx_format_by_index(format_code), width, height);
}

bool gfx_create_texture_d3dx(TextureObject* o, const void* data, size_t size, uint8_t mip) {
  if (!o) return false;
  std::memset(o, 0, sizeof *o);
  DecodedImage img;
  if (!data || image_decode_memory(data, size, &img) != IMAGE_OK) return false;
  return texture_from_picture(o, img, mip);
}

bool gfx_create_texture_d3dx_b(TextureObject* o, const char* path, uint8_t mip) {
  if (!o) return false;
  std::memset(o, 0, sizeof *o);
  DecodedImage img;
  if (!path || image_decode_file(path, &img) != IMAGE_OK) return false;
  return texture_from_picture(o, img, mip);
}

// ---- Pixels -----------------------------------------------------------------------------------

bool gfx_copy_to_texture(TextureObject* o, int32_t x, int32_t y, int32_t width, int32_t height, const void* pixels) {
  if (!o || !o->texture || !pixels || !rect_inside(o, x, y, width, height)) return false;
  int bpp = copy_bytes(o->format);
  if (bpp == 0 || width == 0 || height == 0) return true;
  GpuRect r{x, y, x + width, y + height};
  GpuLockedRect lr;
  if (gpu_texture_lock(o->texture, 0, &r, &lr, 0) != GPU_OK) return false;
  size_t row = size_t(width) * size_t(bpp);
  for (int32_t i = 0; i < height; ++i)
    std::memcpy(static_cast<uint8_t*>(lr.bits) + size_t(i) * size_t(lr.pitch),
                static_cast<const uint8_t*>(pixels) + size_t(i) * row, row);
  return gpu_texture_unlock(o->texture, 0) == GPU_OK;
}

bool gfx_write_texture_rgb(TextureObject* o, int32_t x, int32_t y, int32_t width, int32_t height,
                           const void* pixels, int32_t source_bytes_per_pixel) {
  if (!o || !o->texture || !pixels || !rect_inside(o, x, y, width, height)) return false;
  if (o->format != GPU_FMT_A8R8G8B8 && o->format != GPU_FMT_X8R8G8B8) return false;
  if (source_bytes_per_pixel != 3 && source_bytes_per_pixel != 4) return false;
  if (width == 0 || height == 0) return true;
  GpuRect r{x, y, x + width, y + height};
  GpuLockedRect lr;
  if (gpu_texture_lock(o->texture, 0, &r, &lr, 0) != GPU_OK) return false;
  const uint8_t* src = static_cast<const uint8_t*>(pixels);
  const size_t n = size_t(source_bytes_per_pixel);
  for (int32_t row = 0; row < height; ++row) {
    uint8_t* dst = static_cast<uint8_t*>(lr.bits) + size_t(row) * size_t(lr.pitch);
    for (int32_t col = 0; col < width; ++col, src += n) {
      uint32_t texel = 0xFF000000u | uint32_t(src[2]) << 16 | uint32_t(src[1]) << 8 | src[0];
      std::memcpy(dst + size_t(col) * 4, &texel, 4);
    }
  }
  return gpu_texture_unlock(o->texture, 0) == GPU_OK;
}

uint32_t gfx_read_texel(const TextureObject* o, int32_t x, int32_t y) {
  if (!o || !o->texture || o->width == 0 || o->height == 0) return 0;
  x = std::clamp<int32_t>(x, 0, o->width - 1);
  y = std::clamp<int32_t>(y, 0, o->height - 1);
  GpuRect r{x, y, x + 1, y + 1};
  GpuLockedRect lr;
  if (gpu_texture_lock(o->texture, 0, &r, &lr, GPU_LOCK_READONLY) != GPU_OK) return 0;
  uint8_t p[4] = {0, 0, 0, 0};
  int bpp = copy_bytes(o->format);
  std::memcpy(p, lr.bits, size_t(bpp));
  gpu_texture_unlock(o->texture, 0);
  uint32_t word;
  std::memcpy(&word, p, 4);
  uint32_t half = word & 0xFFFF;
  switch (o->format) {
    case GPU_FMT_R8G8B8: return 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    case GPU_FMT_A8R8G8B8:
    case GPU_FMT_X8R8G8B8: return word;
    case GPU_FMT_R5G6B5:
      return 0xFF000000u | expand5(half >> 11) << 16 | expand6((half >> 5) & 63) << 8 | expand5(half & 31);
    case GPU_FMT_X1R5G5B5:
    case GPU_FMT_A1R5G5B5: {
      uint32_t a = o->format == GPU_FMT_X1R5G5B5 || (half & 0x8000) ? 0xFFu : 0u;
      return a << 24 | expand5((half >> 10) & 31) << 16 | expand5((half >> 5) & 31) << 8 | expand5(half & 31);
    }
    case GPU_FMT_A4R4G4B4:
      return expand4(half >> 12) << 24 | expand4((half >> 8) & 15) << 16 | expand4((half >> 4) & 15) << 8 |
             expand4(half & 15);
    case GPU_FMT_A8: return uint32_t(p[0]) << 24 | 0xFFFFFFu;
    case GPU_FMT_L8: return 0xFF000000u | uint32_t(p[0]) * 0x010101u;
    case GPU_FMT_A8L8: return uint32_t(p[1]) << 24 | uint32_t(p[0]) * 0x010101u;
    default: return 0;
  }
}

// ---- Release and restore -------------------------------------------------------------------

void gfx_release_texture_pair(TextureObject* o) {
  if (!o) return;
  gpu_surface_release(o->surface);
  gpu_texture_release(o->texture);
  std::memset(o, 0, sizeof *o);
}

void gfx_release_render_texture(TextureObject* o) {
  if (!o || o->kind != TEXTURE_KIND_RENDER_TARGET) return;
  gpu_surface_release(o->surface);
  gpu_texture_release(o->texture);
  o->surface = nullptr;
  o->texture = nullptr;
}

void gfx_restore_render_texture(TextureObject* o) {
  if (!o || o->kind != TEXTURE_KIND_RENDER_TARGET || o->width == 0 || o->height == 0 || o->texture) return;
  TextureObject keep = *o;
  std::memset(o, 0, sizeof *o);
  if (!make_render_target(o, keep.device_format, keep.width, keep.height)) {
    *o = keep;
    return;
  }
  GpuTexture* t = o->texture;
  GpuSurface* s = o->surface;
  *o = keep;
  o->texture = t;
  o->surface = s;
}

// ---- Depth surfaces ------------------------------------------------------------------------

int gfx_create_depth_surface(DepthSurfaceObject* r, GpuFormat format, int32_t width, int32_t height) {
  if (!r) return 0;
  std::memset(r, 0, sizeof *r);
  GpuDevice* d = gfx_device();
  if (!d || width <= 0 || height <= 0 ||
      gpu_create_depth_surface(d, uint32_t(width), uint32_t(height), format, 0, 0, true, &r->surface) != GPU_OK)
    return 0;
  r->width = uint16_t(width);
  r->height = uint16_t(height);
  r->format = format;
  r->bits = uint8_t(gfx_format_bits(format));
  return 1;
}

void gfx_release_surface_pair(DepthSurfaceObject* r) {
  if (!r) return;
  gpu_surface_release(r->surface);
  std::memset(r, 0, sizeof *r);
}

void gfx_depth_on_lost(DepthSurfaceObject* r) {
  if (!r) return;
  gpu_surface_release(r->surface);
  r->surface = nullptr;
}

void gfx_depth_on_reset(DepthSurfaceObject* r) {
  if (r && r->width && r->height && !r->surface) gfx_create_depth_surface(r, GpuFormat(r->format), r->width, r->height);
}

// ---- Render targets --------------------------------------------------------------------------

void gfx_set_render_target_object(int index, const TextureObject* o) {
  GpuDevice* d = gfx_device();
  if (!d || index < 0 || index >= gfx_max_render_targets()) return;
  DepthSurfaceObject* saved = gfx_saved_back_buffer_record();
  if (o && o->surface) {
    gpu_set_render_target(d, uint32_t(index), o->surface);
  } else {
    gpu_set_render_target(d, uint32_t(index), index == 0 ? saved->surface : nullptr);
  }
  if (index == 0) {
    if (o && o->surface)
      gfx_set_current_target_record(DepthSurfaceObject{o->surface, o->width, o->height, o->device_format, o->bits});
    else
      gfx_set_current_target_record(*saved);
  }
}

void gfx_set_depth_surface(DepthSurfaceObject* r) {
  GpuDevice* d = gfx_device();
  if (d) gpu_set_depth_surface(d, r ? r->surface : nullptr);
  gfx_set_current_depth_record(r);
}

