#include "render/core/device_resources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "assets/textures.h"
#include "platform/image/image.h"
#include "render/core/gfx_device.h"
#include "render/core/gfx_resources.h"
#include "render/core/render_states.h"

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

// Box-filter weights of the source cells that each destination cell covers,
// for scaling a side of src cells down to dst cells.
struct Span {
  int first;
  std::vector<float> weights;
};

std::vector<Span> box_spans(int src, int dst) {
  std::vector<Span> spans(size_t(dst), Span{});
  const double ratio = double(src) / dst;
  for (int o = 0; o < dst; ++o) {
    const double a = o * ratio, b = std::min(double(src), (o + 1) * ratio);
    Span& s = spans[size_t(o)];
    s.first = int(a);
    for (int i = s.first; i < src && i < b; ++i)
      s.weights.push_back(float((std::min(b, i + 1.0) - std::max(a, double(i))) / ratio));
  }
  return spans;
}

// Rows first to first + count - 1 of the picture scaled down to dw x dh, each
// destination pixel the average of the source area it covers.
void scale_rows_down(const DecodedImage& src, int dw, int dh, int first, int count, uint32_t* dst) {
  const std::vector<Span> xs = box_spans(src.width, dw), ys = box_spans(src.height, dh);
  std::vector<float> acc(size_t(src.width) * 4);
  for (int y = first; y < first + count; ++y) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    const Span& sy = ys[size_t(y)];
    for (size_t k = 0; k < sy.weights.size(); ++k) {
      const uint32_t* row = src.argb.data() + size_t(sy.first + int(k)) * size_t(src.width);
      for (int x = 0; x < src.width; ++x)
        for (int c = 0; c < 4; ++c)
          acc[size_t(x) * 4 + size_t(c)] += sy.weights[k] * float((row[x] >> (8 * c)) & 0xFF);
    }
    for (int x = 0; x < dw; ++x) {
      const Span& sx = xs[size_t(x)];
      uint32_t out = 0;
      for (int c = 0; c < 4; ++c) {
        float v = 0;
        for (size_t k = 0; k < sx.weights.size(); ++k) v += sx.weights[k] * acc[size_t(sx.first + int(k)) * 4 + size_t(c)];
        out |= uint32_t(std::clamp(v + 0.5f, 0.0f, 255.0f)) << (8 * c);
      }
      dst[size_t(y - first) * size_t(dw) + size_t(x)] = out;
    }
  }
}

// Where a picture's rows go as they are decoded: band by band straight into
// a texture of the picture's own size, so that no whole decoded copy exists.
// A picture larger than the device takes is kept whole instead and scaled
// down once, aspect kept, when it is complete. The callbacks run inside the
// decoders and do not throw.
struct PictureUpload {
  GpuDevice* device;
  uint32_t max_width, max_height;
  uint8_t mip;
  GpuTexture* texture;
  int width, height;            // the picture
  int texture_width, texture_height;
  std::vector<uint32_t> band;   // decoded rows on their way to the texture
  DecodedImage whole;           // only for a picture that is scaled down
};

ImageResult upload_begin(void* user, int width, int height, bool has_alpha) noexcept {
  auto* u = static_cast<PictureUpload*>(user);
  u->width = width;
  u->height = height;
  uint64_t tw = uint32_t(width), th = uint32_t(height);
  if (tw > u->max_width || th > u->max_height) {
    if (tw * u->max_height >= th * u->max_width) {
      th = std::max<uint64_t>(1, (th * u->max_width + tw / 2) / tw);
      tw = u->max_width;
    } else {
      tw = std::max<uint64_t>(1, (tw * u->max_height + th / 2) / th);
      th = u->max_height;
    }
    try {
      u->whole.argb.assign(size_t(width) * size_t(height), 0);
    } catch (...) {
      return IMAGE_TOO_LARGE;
    }
    u->whole.width = width;
    u->whole.height = height;
  }
  u->texture_width = int(tw);
  u->texture_height = int(th);
  const GpuFormat format = has_alpha ? GPU_FMT_A8R8G8B8 : GPU_FMT_X8R8G8B8;
  return gpu_create_texture_unfilled(u->device, uint32_t(tw), uint32_t(th), u->mip ? 0 : 1, format, &u->texture) ==
                 GPU_OK
             ? IMAGE_OK
             : IMAGE_TOO_LARGE;
}

uint32_t* upload_band(void* user, int first, int count) noexcept {
  auto* u = static_cast<PictureUpload*>(user);
  if (!u->whole.argb.empty()) return u->whole.argb.data() + size_t(first) * size_t(u->width);
  try {
    u->band.resize(size_t(count) * size_t(u->width));
  } catch (...) {
    return nullptr;
  }
  return u->band.data();
}

ImageResult upload_done(void* user, int first, int count) noexcept {
  auto* u = static_cast<PictureUpload*>(user);
  if (!u->whole.argb.empty()) return IMAGE_OK;
  return gpu_texture_write_rows(u->texture, 0, uint32_t(first), uint32_t(count), u->band.data()) == GPU_OK
             ? IMAGE_OK
             : IMAGE_CORRUPT;
}

// The kept picture scaled into the texture, a band at a time.
bool upload_scaled(PictureUpload* u) {
  std::fprintf(stderr, "picture %dx%d is larger than the device's %ux%u texture limit: shown scaled down to %dx%d\n",
               u->width, u->height, u->max_width, u->max_height, u->texture_width, u->texture_height);
  std::vector<uint32_t> rows(size_t(IMAGE_BAND_ROWS) * size_t(u->texture_width));
  for (int first = 0; first < u->texture_height; first += IMAGE_BAND_ROWS) {
    const int n = std::min<int>(IMAGE_BAND_ROWS, u->texture_height - first);
    scale_rows_down(u->whole, u->texture_width, u->texture_height, first, n, rows.data());
    if (gpu_texture_write_rows(u->texture, 0, uint32_t(first), uint32_t(n), rows.data()) != GPU_OK) return false;
  }
  return true;
}

// A texture from a picture file's bytes, or from the file when data is null:
// the picture's own size, with a full mip chain when asked.
bool texture_from_picture(TextureObject* o, const void* data, size_t size, const char* path, uint8_t mip) {
  PictureUpload u{};
  u.device = gfx_device();
  if (!u.device) return false;
  GpuCaps caps{};
  gpu_device_caps(u.device, &caps);
  u.max_width = caps.max_texture_width;
  u.max_height = caps.max_texture_height;
  u.mip = mip;
  const ImageRowSink sink{&u, upload_begin, upload_band, upload_done};
  bool ok = false;
  try {
    ImageResult r = data ? image_decode_memory_rows(data, size, sink) : image_decode_file_rows(path, sink);
    u.band = std::vector<uint32_t>();
    ok = r == IMAGE_OK && (u.whole.argb.empty() || upload_scaled(&u));
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  u.band = std::vector<uint32_t>();
  u.whole = DecodedImage();
  if (!ok) {
    if (u.texture) gpu_texture_release(u.texture);
    return false;
  }
  if (mip) gpu_texture_generate_mips(u.texture);
  fill_from_texture(o, u.texture);
  o->image_width = uint16_t(std::min(u.width, 0xFFFF));
  o->image_height = uint16_t(std::min(u.height, 0xFFFF));
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

void gfx_set_render_target(int index, AssetHandle texture) {
  GpuDevice* d = gfx_device();
  if (!d || index < 0 || index >= gfx_max_render_targets()) return;
  const TextureObject* o = get_texture_object(texture);
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

void gfx_set_render_targets(AssetHandle target0, AssetHandle target1, DepthSurfaceObject* depth) {
  gfx_set_render_target(0, target0);
  gfx_set_render_target(1, target1);
  gfx_set_depth_surface(depth);
}
