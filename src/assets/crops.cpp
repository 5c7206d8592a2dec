#include "assets/crops.h"

#include "assets/asset_names.h"
#include "assets/registry_internal.h"
#include "assets/textures.h"

namespace {

AssetPool<CropRecord>& pool() { return registry_block().crops; }

std::string_view view(const char* name) { return name ? std::string_view(name) : std::string_view(); }

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
