// Device objects behind the asset store and the drawing code: textures
// (managed, render targets, read from pictures), their pixels, depth-stencil
// surfaces, render-target binding, and giving them up and making them again
// around a lost device. Whoever owns an object decides when these run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gpu/gpu.h"

enum : uint8_t { TEXTURE_KIND_MANAGED = 0, TEXTURE_KIND_RENDER_TARGET = 1 };
enum : uint8_t {
  TEXTURE_FLAG_MIP_CHAIN = 1,
  TEXTURE_FLAG_U_SHIFT = 1,  // bits 1 to 3: U address-mode index (0 wrap, 1 clamp)
  TEXTURE_FLAG_V_SHIFT = 4,  // bits 4 to 6: V address-mode index
};

struct TextureObject {
  GpuTexture* texture;  // null when empty
  GpuSurface* surface;  // level 0, kept only for render targets
  uint16_t width, height;              // level 0
  uint16_t image_width, image_height;  // the picture's size for textures read from pictures, else 0
  uint8_t bits;                        // bits per pixel of the format
  uint8_t flags;
  uint8_t format;  // low byte of the device format (compressed formats keep their first letter)
  uint8_t kind;
  GpuFormat device_format;  // the whole format, which the low byte cannot always name
};

// Also the record of the saved back buffer.
struct DepthSurfaceObject {
  GpuSurface* surface;
  uint16_t width, height;
  uint32_t format;  // GpuFormat
  uint8_t bits;
};

// Texture creation. Each starts by zeroing the object. format_code indexes
// the texture-format table (0 = A8R8G8B8, 1 = X8R8G8B8, ...).
// A zero width or height gives true and an empty object.
bool gfx_create_texture(TextureObject* object, int32_t format_code, int32_t width, int32_t height);
// A render target in the default pool, clamped in U and V.
bool gfx_create_render_target(TextureObject* object, int32_t format_code, int32_t width, int32_t height);
// From a picture file's bytes or a file. mip nonzero asks for a full mip
// chain. The texture is the picture's own size, decoded straight into it; a
// picture larger than the device's limit is scaled down once, aspect kept,
// and said so on stderr. The image size is always the picture's.
bool gfx_create_texture_d3dx(TextureObject* object, const void* data, size_t size, uint8_t mip);
bool gfx_create_texture_d3dx_b(TextureObject* object, const char* path, uint8_t mip);

// Rows of pixels in the texture's own format into the rectangle, which must
// lie inside the texture.
bool gfx_copy_to_texture(TextureObject* object, int32_t x, int32_t y, int32_t width, int32_t height,
                         const void* pixels);
// 3- or 4-byte source pixels (blue first) into an A8R8G8B8 or X8R8G8B8
// texture: 3-byte pixels are written opaque, 4-byte words with their alpha
// byte lowered by one (0 becomes an opaque 0xFF). Other sizes are refused.
bool gfx_write_texture_rgb(TextureObject* object, int32_t x, int32_t y, int32_t width, int32_t height,
                           const void* pixels, int32_t source_bytes_per_pixel);
// ARGB of the texel at the position clamped to the texture; 0 without one
// or for a format it does not read. Channels narrower than a byte fill its
// top bits (a 5-bit 31 reads 0xF8, a set 1-bit alpha 0x80).
uint32_t gfx_read_texel(const TextureObject* object, int32_t x, int32_t y);

void gfx_release_texture_pair(TextureObject* object);
// Around a lost device: render targets give up their device texture and
// make it again at the stored size, format and flags.
void gfx_release_render_texture(TextureObject* object);
void gfx_restore_render_texture(TextureObject* object);

// The saved back-buffer and depth records give up their surfaces when the
// device is lost and take them again after the reset.
void gfx_on_lost_surfaces();
void gfx_on_reset_surfaces();

// 1 on success, 0 with a zeroed record.
int gfx_create_depth_surface(DepthSurfaceObject* record, GpuFormat format, int32_t width, int32_t height);
void gfx_release_surface_pair(DepthSurfaceObject* record);
void gfx_depth_on_lost(DepthSurfaceObject* record);
void gfx_depth_on_reset(DepthSurfaceObject* record);

// A render-target texture object binds its surface; null or any other
// object binds the back buffer (index 0) or nothing. By texture handle:
// assets/device_bindings.h.
void gfx_set_render_target_object(int index, const TextureObject* object);
void gfx_set_depth_surface(DepthSurfaceObject* record);
