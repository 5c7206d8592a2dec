#include "assets/depth_surfaces.h"

#include "assets/registry_internal.h"

namespace {

AssetPool<DepthSurfaceRecord>& pool() { return registry_block().depth_surfaces; }

}  // namespace

void depth_surface_pool_remove(int32_t index) {
  DepthSurfaceRecord& r = pool().records[index];
  buffer_rewind(&pool().names, r.head.name);
  r = DepthSurfaceRecord{};
}

AssetHandle find_depth_surface(const char* package, const char* name) {
  return find_in_pool(pool(), package, name ? std::string_view(name) : std::string_view());
}

int32_t count_depth_surfaces() { return pool().count; }

DepthSurfaceRecord* get_depth_surface_record(AssetHandle handle) { return record_in_pool(pool(), handle); }

const char* get_depth_surface_name(AssetHandle handle) {
  const DepthSurfaceRecord* r = get_depth_surface_record(handle);
  return r ? r->head.name : nullptr;
}

const char* get_depth_surface_package(AssetHandle handle) {
  const DepthSurfaceRecord* r = get_depth_surface_record(handle);
  return r ? r->head.package : nullptr;
}
