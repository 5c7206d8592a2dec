#include "assets/textures.h"

#include <string_view>

#include "assets/asset_names.h"
#include "assets/registry_internal.h"

namespace {

constexpr uint8_t kAddressBits = (7u << TEXTURE_FLAG_U_SHIFT) | (7u << TEXTURE_FLAG_V_SHIFT);

AssetPool<TextureRecord>& pool() { return registry_block().textures; }

std::string_view view(const char* name) { return name ? std::string_view(name) : std::string_view(); }

// Memory of a texture: width x height x bits / 8, and three eighths more for
// a full mip chain. 64-bit, so large textures cannot wrap.
int64_t texture_bytes(const TextureObject& t, bool with_mips) {
  const int64_t plain = int64_t{t.width} * t.height * t.bits / 8;
  return with_mips ? plain + plain * 3 / 8 : plain;
}

void set_address_modes(TextureObject* t, uint32_t u, uint32_t v) {
  t->flags = static_cast<uint8_t>((t->flags & ~kAddressBits) | ((u & 7u) << TEXTURE_FLAG_U_SHIFT) |
                                  ((v & 7u) << TEXTURE_FLAG_V_SHIFT));
}

void apply_clamp_tag(TextureRecord* r) {
  if (view(r->head.name).find("_clp") != std::string_view::npos) {
    set_address_modes(&r->object, TEXTURE_ADDRESS_CLAMP, TEXTURE_ADDRESS_CLAMP);
  }
}

void add_bytes(TextureRecord* r, int64_t bytes) {
  r->bytes = bytes;
  registry_block().texture_bytes += bytes;
}

void drop_bytes(TextureRecord* r) {
  registry_block().texture_bytes -= r->bytes;
  r->bytes = 0;
}

enum class Source { Blank, RenderTarget, Memory, File, Made };

struct TextureSource {
  Source kind;
  int32_t width, height, format_code;
  const void* data;
  size_t size;
  const char* path;
  uint8_t mip;
  TextureObject* made;  // Made: the object the record takes over
};

// A rectangle that lies inside the texture; sums in 64 bits so that nothing
// wraps.
bool rectangle_inside(const TextureObject& t, int32_t x, int32_t y, int32_t width, int32_t height) {
  return x >= 0 && y >= 0 && width >= 0 && height >= 0 && int64_t{x} + width <= t.width &&
         int64_t{y} + height <= t.height;
}

// What a record keeps of its device texture while it has none: the kind
// and the address modes.
struct DeviceTraits {
  uint8_t kind;
  uint8_t address;
};

DeviceTraits give_up_object(TextureRecord* r) {
  const DeviceTraits kept = {r->object.kind, static_cast<uint8_t>(r->object.flags & kAddressBits)};
  gfx_release_texture_pair(&r->object);
  return kept;
}

void put_back(TextureRecord* r, const DeviceTraits& kept) {
  r->object.kind = kept.kind;
  r->object.flags = static_cast<uint8_t>((r->object.flags & ~kAddressBits) | kept.address);
}

bool make_object(TextureObject* object, const TextureSource& s) {
  switch (s.kind) {
    case Source::Blank: return gfx_create_texture(object, s.format_code, s.width, s.height);
    case Source::RenderTarget: return gfx_create_render_target(object, s.format_code, s.width, s.height);
    case Source::Memory: return gfx_create_texture_d3dx(object, s.data, s.size, s.mip);
    case Source::File: return gfx_create_texture_d3dx_b(object, s.path, s.mip);
    case Source::Made:
      *object = *s.made;
      *s.made = TextureObject{};
      return true;
  }
  return false;
}

// The registration every texture registrar shares; name is the record's name.
AssetHandle register_texture(const char* package, std::string_view name, const TextureSource& source) {
  if (source.width < 0 || source.height < 0) return 0;
  AssetPool<TextureRecord>& p = pool();
  const Registration reg = begin_registration(p, package, name);
  if (reg.index < 0) return reg.handle;
  TextureRecord& r = p.records[reg.index];
  if (!make_object(&r.object, source)) {
    r = TextureRecord{};
    abandon_registration(p, reg);
    return 0;
  }
  const AssetHandle handle = finish_registration(p, reg);
  apply_clamp_tag(&r);
  const bool pictures = source.kind == Source::Memory || source.kind == Source::File || source.kind == Source::Made;
  add_bytes(&r, texture_bytes(r.object, pictures && source.mip));
  return handle;
}

}  // namespace

void texture_pool_remove(int32_t index) {
  TextureRecord& r = pool().records[index];
  drop_bytes(&r);
  buffer_rewind(&pool().names, r.head.name);
  gfx_release_texture_pair(&r.object);
  r = TextureRecord{};
}

AssetHandle create_texture(const char* package, const char* name, int32_t width, int32_t height, int32_t format_code) {
  return register_texture(package, view(name),
                          {Source::Blank, width, height, format_code, nullptr, 0, nullptr, 0, nullptr});
}

AssetHandle create_render_target_texture(const char* package, const char* name, int32_t width, int32_t height,
                                         int32_t format_code) {
  return register_texture(package, view(name),
                          {Source::RenderTarget, width, height, format_code, nullptr, 0, nullptr, 0, nullptr});
}

AssetHandle register_texture_from_memory(const char* package, const char* name, const void* data, size_t size,
                                         uint8_t mip) {
  if (!data || size == 0) return 0;
  return register_texture(package, base_name_of(view(name)),
                          {Source::Memory, 0, 0, 0, data, size, nullptr, mip, nullptr});
}

AssetHandle register_texture_from_file(const char* package, const char* path, uint8_t mip) {
  if (!path) return 0;
  return register_texture(package, base_name_of(path), {Source::File, 0, 0, 0, nullptr, 0, path, mip, nullptr});
}

AssetHandle register_texture_object(const char* package, const char* name, TextureObject* object) {
  if (!object || !object->texture) return 0;
  TextureObject made = *object;
  *object = TextureObject{};
  const uint8_t mip = made.flags & TEXTURE_FLAG_MIP_CHAIN;
  const AssetHandle handle =
      register_texture(package, base_name_of(view(name)), {Source::Made, 0, 0, 0, nullptr, 0, nullptr, mip, &made});
  if (made.texture) gfx_release_texture_pair(&made);  // not taken over
  return handle;
}

bool write_texture_pixels(AssetHandle handle, int32_t x, int32_t y, int32_t width, int32_t height,
                          const void* pixels) {
  TextureObject* t = get_texture_object(handle);
  return t && rectangle_inside(*t, x, y, width, height) && gfx_copy_to_texture(t, x, y, width, height, pixels);
}

bool write_texture_rgb(AssetHandle handle, int32_t x, int32_t y, int32_t width, int32_t height, const void* pixels,
                       int32_t source_bytes_per_pixel) {
  TextureObject* t = get_texture_object(handle);
  return t && rectangle_inside(*t, x, y, width, height) &&
         gfx_write_texture_rgb(t, x, y, width, height, pixels, source_bytes_per_pixel);
}

uint32_t read_texture_texel(AssetHandle handle, int32_t x, int32_t y) {
  TextureObject* t = get_texture_object(handle);
  return t ? gfx_read_texel(t, x, y) : 0;
}

bool set_texture_address_modes(AssetHandle handle, uint32_t u, uint32_t v) {
  TextureObject* t = get_texture_object(handle);
  if (!t) return false;
  set_address_modes(t, u, v);
  return true;
}

void resize_texture(AssetHandle handle, int32_t width, int32_t height, int32_t format_code) {
  TextureRecord* r = get_texture_record(handle);
  if (!r) return;
  drop_bytes(r);
  const DeviceTraits kept = give_up_object(r);
  bool made = false;
  if (width >= 1 && height >= 1) {
    made = kept.kind == TEXTURE_KIND_RENDER_TARGET ? gfx_create_render_target(&r->object, format_code, width, height)
                                                   : gfx_create_texture(&r->object, format_code, width, height);
  }
  put_back(r, kept);
  if (!made) return;
  apply_clamp_tag(r);
  add_bytes(r, texture_bytes(r->object, false));
}

void unregister_texture(AssetHandle handle) {
  TextureRecord* r = get_texture_record(handle);
  if (!r) return;
  if (static_cast<int32_t>(handle) == pool().count) {
    texture_pool_remove(pool().count - 1);
    return;
  }
  // The names of newer records follow this one's in the buffer, so its
  // bytes stay taken until a release removes the records before it.
  drop_bytes(r);
  gfx_release_texture_pair(&r->object);
  *r = TextureRecord{};
}

AssetHandle find_texture(const char* package, const char* name) { return find_in_pool(pool(), package, view(name)); }

int32_t count_textures() { return pool().count; }

TextureRecord* get_texture_record(AssetHandle handle) { return record_in_pool(pool(), handle); }

TextureObject* get_texture_object(AssetHandle handle) {
  TextureRecord* r = get_texture_record(handle);
  return r ? &r->object : nullptr;
}

const char* get_texture_name(AssetHandle handle) {
  const TextureRecord* r = get_texture_record(handle);
  return r ? r->head.name : nullptr;
}

const char* get_texture_package(AssetHandle handle) {
  const TextureRecord* r = get_texture_record(handle);
  return r ? r->head.package : nullptr;
}

void create_default_textures() {
  static const struct {
    const char* name;
    uint32_t argb;
  } kDefaults[DEFAULT_TEXTURE_COUNT] = {
      {"wh", 0xFFFFFFFFu}, {"bl", 0xFF000000u}, {"gr", 0xFF00FF00u},
      {"cy", 0xFF00FFFFu}, {"mag", 0xFFFF00FFu}, {"nrm", 0xFF8080FFu},
  };
  for (int i = 0; i < DEFAULT_TEXTURE_COUNT; ++i) {
    const AssetHandle h = create_texture("disp", kDefaults[i].name, 1, 1, 0);
    if (h) write_texture_pixels(h, 0, 0, 1, 1, &kDefaults[i].argb);
    registry_block().default_textures[i] = h;
  }
}
