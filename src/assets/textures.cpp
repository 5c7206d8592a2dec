#include "assets/textures.h"

#include "assets/registry_internal.h"

namespace {

AssetPool<TextureRecord>& pool() { return registry_block().textures; }

}  // namespace

void texture_pool_remove(int32_t index) {
  TextureRecord& r = pool().records[index];
  buffer_rewind(&pool().names, r.head.name);
  r = TextureRecord{};
}

AssetHandle find_texture(const char* package, const char* name) {
  return find_in_pool(pool(), package, name ? std::string_view(name) : std::string_view());
}

int32_t count_textures() { return pool().count; }

TextureRecord* get_texture_record(AssetHandle handle) { return record_in_pool(pool(), handle); }

const char* get_texture_name(AssetHandle handle) {
  const TextureRecord* r = get_texture_record(handle);
  return r ? r->head.name : nullptr;
}

const char* get_texture_package(AssetHandle handle) {
  const TextureRecord* r = get_texture_record(handle);
  return r ? r->head.package : nullptr;
}
