#include "assets/depth_surfaces.h"

#include "assets/asset_names.h"
#include "assets/registry_internal.h"

namespace {

AssetPool<DepthSurfaceRecord>& pool() { return registry_block().depth_surfaces; }

std::string_view view(const char* name) { return name ? std::string_view(name) : std::string_view(); }

GpuFormat depth_format(int32_t code) { return code == 1 ? GPU_FMT_D24S8 : GPU_FMT_D16; }

// Makes the device surface and counts its bytes; false when it failed.
bool make_surface(DepthSurfaceRecord* r, int32_t width, int32_t height, int32_t code) {
  if (!gfx_create_depth_surface(&r->surface, depth_format(code), width, height)) return false;
  r->bytes = int64_t{r->surface.width} * r->surface.height * r->surface.bits / 8;
  registry_block().texture_bytes += r->bytes;
  return true;
}

void drop_surface(DepthSurfaceRecord* r) {
  registry_block().texture_bytes -= r->bytes;
  r->bytes = 0;
  gfx_release_surface_pair(&r->surface);
}

}  // namespace

void depth_surface_pool_remove(int32_t index) {
  DepthSurfaceRecord& r = pool().records[index];
  drop_surface(&r);
  buffer_rewind(&pool().names, r.head.name);
  r = DepthSurfaceRecord{};
}

AssetHandle create_depth_surface(const char* package, const char* name, int32_t width, int32_t height,
                                 int32_t depth_format_code) {
  if (width < 0 || height < 0) return 0;
  AssetPool<DepthSurfaceRecord>& p = pool();
  const Registration reg = begin_registration(p, package, base_name_of(view(name)));
  if (reg.index < 0) return reg.handle;
  if (!make_surface(&p.records[reg.index], width, height, depth_format_code)) {
    p.records[reg.index] = DepthSurfaceRecord{};
    abandon_registration(p, reg);
    return 0;
  }
  return finish_registration(p, reg);
}

void resize_depth_surface(AssetHandle handle, int32_t width, int32_t height, int32_t depth_format_code) {
  DepthSurfaceRecord* r = get_depth_surface_record(handle);
  if (!r) return;
  drop_surface(r);
  if (width >= 1 && height >= 1) make_surface(r, width, height, depth_format_code);
}

void release_depth_surface(AssetHandle handle) {
  DepthSurfaceRecord* r = get_depth_surface_record(handle);
  // The record keeps its head, and so its name's bytes, until the registry's
  // release removes it.
  if (r) drop_surface(r);
}

AssetHandle find_depth_surface(const char* package, const char* name) {
  return find_in_pool(pool(), package, view(name));
}

int32_t count_depth_surfaces() { return pool().count; }

DepthSurfaceRecord* get_depth_surface_record(AssetHandle handle) { return record_in_pool(pool(), handle); }

DepthSurfaceObject* get_depth_surface_object(AssetHandle handle) {
  DepthSurfaceRecord* r = get_depth_surface_record(handle);
  return r ? &r->surface : nullptr;
}

const char* get_depth_surface_name(AssetHandle handle) {
  const DepthSurfaceRecord* r = get_depth_surface_record(handle);
  return r ? r->head.name : nullptr;
}

const char* get_depth_surface_package(AssetHandle handle) {
  const DepthSurfaceRecord* r = get_depth_surface_record(handle);
  return r ? r->head.package : nullptr;
}
