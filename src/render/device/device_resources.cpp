#include "render/device/device_resources.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/picture_upload.h"
#include "render/device/render_states.h"

namespace {

constexpr uint8_t kClampBoth = (1u << TEXTURE_FLAG_U_SHIFT) | (1u << TEXTURE_FLAG_V_SHIFT);

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

// A texture from a picture file's bytes, or from the file when data is null.
bool texture_from_picture(TextureObject* o, const void* data, size_t size, const char* path, uint8_t mip) {
  PictureTexture made{};
  if (!picture_upload(gfx_device(), data, size, path, mip, &made)) return false;
  fill_from_texture(o, made.texture);
  o->image_width = uint16_t(std::min(made.width, 0xFFFF));
  o->image_height = uint16_t(std::min(made.height, 0xFFFF));
  o->flags = mip ? TEXTURE_FLAG_MIP_CHAIN : 0;
  o->kind = TEXTURE_KIND_MANAGED;
  return true;
}

// A channel of fewer than eight bits read into a byte: its bits go to the top
// of the byte and the low bits stay 0 (five bits times 8, six times 4, four
// times 16, one times 0x80).
uint32_t widen(uint32_t value, int bits) { return value << (8 - bits); }

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
  return data && size > 0 && texture_from_picture(o, data, size, nullptr, mip);
}

bool gfx_create_texture_d3dx_b(TextureObject* o, const char* path, uint8_t mip) {
  if (!o) return false;
  std::memset(o, 0, sizeof *o);
  return path && texture_from_picture(o, nullptr, 0, path, mip);
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
      uint32_t texel;
      if (n == 3) {
        texel = 0xFF000000u | uint32_t(src[2]) << 16 | uint32_t(src[1]) << 8 | src[0];
      } else {
        // A source word's alpha byte is lowered by one: the 0 that frame
        // decoders leave there wraps to an opaque 0xFF.
        std::memcpy(&texel, src, 4);
        texel -= 0x01000000u;
      }
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
      return 0xFF000000u | widen(half >> 11, 5) << 16 | widen((half >> 5) & 63, 6) << 8 | widen(half & 31, 5);
    case GPU_FMT_X1R5G5B5:
    case GPU_FMT_A1R5G5B5:
      return widen(half >> 15, 1) << 24 | widen((half >> 10) & 31, 5) << 16 | widen((half >> 5) & 31, 5) << 8 |
             widen(half & 31, 5);
    case GPU_FMT_A4R4G4B4:
      return widen(half >> 12, 4) << 24 | widen((half >> 8) & 15, 4) << 16 | widen((half >> 4) & 15, 4) << 8 |
             widen(half & 15, 4);
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

