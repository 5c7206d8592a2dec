#include "assets/crops.h"

#include "assets/asset_names.h"
#include "assets/registry_internal.h"
#include "assets/textures.h"

namespace {

AssetPool<CropRecord>& pool() { return registry_block().crops; }

std::string_view view(const char* name) { return name ? std::string_view(name) : std::string_view(); }

// Fills the crop with the rectangle's fractions of the texture's size, or
// texture 0 and zeros for an invalid texture.
void set_fractions(CropRecord* c, int32_t x, int32_t y, int32_t width, int32_t height, AssetHandle texture) {
  const TextureObject* t = get_texture_object(texture);
  c->texture = t ? texture : 0;
  c->u = c->v = c->width = c->height = 0.0f;
  if (!t) return;
  // A texture of zero size has no fractions to give.
  if (t->width > 0) {
    c->u = static_cast<float>(x) / t->width;
    c->width = static_cast<float>(width) / t->width;
  }
  if (t->height > 0) {
    c->v = static_cast<float>(y) / t->height;
    c->height = static_cast<float>(height) / t->height;
  }
}

}  // namespace

void crop_pool_remove(int32_t index) {
  CropRecord& r = pool().records[index];
  buffer_rewind(&pool().names, r.head.name);
  r = CropRecord{};
}

AssetHandle register_crop(const char* package, const char* name, float u, float v, float width, float height,
                          const char* texture_name) {
  const Registration r = begin_registration(pool(), package, base_name_of(view(name)));
  if (r.index < 0) return r.handle;
  CropRecord& c = pool().records[r.index];
  c.texture = find_in_pool(registry_block().textures, r.package, base_name_of(view(texture_name)));
  c.u = u;
  c.v = v;
  c.width = width;
  c.height = height;
  return finish_registration(pool(), r);
}

AssetHandle register_crop_of_texture(const char* package, const char* name, int32_t x, int32_t y, int32_t width,
                                     int32_t height, AssetHandle texture) {
  if (!get_texture_record(texture)) return 0;
  const Registration r = begin_registration(pool(), package, view(name));
  if (r.index < 0) return r.handle;
  set_fractions(&pool().records[r.index], x, y, width, height, texture);
  return finish_registration(pool(), r);
}

void set_crop_pixels(AssetHandle crop, int32_t x, int32_t y, int32_t width, int32_t height, AssetHandle texture) {
  CropRecord* c = get_crop_record(crop);
  if (c) set_fractions(c, x, y, width, height, texture);
}

void unregister_crop(AssetHandle handle) {
  CropRecord* c = get_crop_record(handle);
  if (!c) return;
  if (static_cast<int32_t>(handle) == pool().count) {
    crop_pool_remove(pool().count - 1);
    return;
  }
  // The names of newer crops follow this one's in the buffer.
  *c = CropRecord{};
}

AssetHandle find_crop(const char* package, const char* name) {
  return find_in_pool(pool(), package, view(name));
}

int32_t count_crops() { return pool().count; }

CropRecord* get_crop_record(AssetHandle handle) { return record_in_pool(pool(), handle); }

const char* get_crop_name(AssetHandle handle) {
  const CropRecord* r = get_crop_record(handle);
  return r ? r->head.name : nullptr;
}

const char* get_crop_package(AssetHandle handle) {
  const CropRecord* r = get_crop_record(handle);
  return r ? r->head.package : nullptr;
}
