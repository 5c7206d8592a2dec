// Texture records of the asset registry: a device texture with its size and
// sampler flags. Blank textures keep the caller's name; textures read from
// pictures are registered under the picture's base name, so "pic.png" and
// "dir\pic.jpg" of one package are the same texture. A stored name that
// contains "_clp" samples with clamp addressing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "assets/asset_registry.h"
#include "render/device/device_resources.h"

// Address-mode indices kept in the flags of a TextureObject.
enum : uint32_t {
  TEXTURE_ADDRESS_WRAP = 0,
  TEXTURE_ADDRESS_CLAMP = 1,
};

struct TextureRecord {
  RecordHead head;
  int64_t bytes;  // what this texture adds to the registry's texture bytes
  TextureObject object;
};

// A blank managed texture of the engine's format code (0 = A8R8G8B8). Width
// or height 0 gives a record with no device texture.
AssetHandle create_texture(const char* package, const char* name, int32_t width, int32_t height, int32_t format_code);
// A render target, clamped in U and V, recreated after a lost device.
AssetHandle create_render_target_texture(const char* package, const char* name, int32_t width, int32_t height,
                                         int32_t format_code);
// A texture from a picture file's bytes (any format the picture decoder
// reads); mip 1 asks for a full mip chain. 0 when the picture cannot be read.
AssetHandle register_texture_from_memory(const char* package, const char* name, const void* data, size_t size,
                                         uint8_t mip);
AssetHandle register_texture_from_file(const char* package, const char* path, uint8_t mip);
// A record, named like the picture registrars name theirs, for a picture's
// device texture made beforehand (gfx_create_texture_d3dx), so that a picture
// can be checked and decoded before the texture it replaces is released. The
// record takes the object over and leaves it empty; when the name is already
// registered (that handle is returned) or the pool is full (0), the object
// is released instead. 0 for an empty object.
AssetHandle register_texture_object(const char* package, const char* name, TextureObject* object);

// Rows of pixels in the texture's own format into the rectangle; false for
// an invalid handle or a rectangle that does not lie inside the texture.
bool write_texture_pixels(AssetHandle handle, int32_t x, int32_t y, int32_t width, int32_t height,
                          const void* pixels);
// 24- or 32-bit source pixels into a 32-bit texture.
bool write_texture_rgb(AssetHandle handle, int32_t x, int32_t y, int32_t width, int32_t height, const void* pixels,
                       int32_t source_bytes_per_pixel);
// ARGB of the texel at the position clamped to the texture; 0 for an invalid
// handle.
uint32_t read_texture_texel(AssetHandle handle, int32_t x, int32_t y);
// Stores the U and V address-mode indices (0..7); false for an invalid handle.
bool set_texture_address_modes(AssetHandle handle, uint32_t u, uint32_t v);
// Makes the device texture again at the new size and format, keeping the
// handle, name, kind and address modes; a zero size leaves no device texture.
void resize_texture(AssetHandle handle, int32_t width, int32_t height, int32_t format_code);
// Gives up the device texture and its bytes and clears the record, which
// is found no more; the count stays for the registry's release. The newest
// record also gives back its name's bytes (an older one's lie under the
// names of newer records).
void unregister_texture(AssetHandle handle);

AssetHandle find_texture(const char* package, const char* name);
int32_t count_textures();
// Null for an invalid handle.
TextureRecord* get_texture_record(AssetHandle handle);
TextureObject* get_texture_object(AssetHandle handle);
const char* get_texture_name(AssetHandle handle);
const char* get_texture_package(AssetHandle handle);
