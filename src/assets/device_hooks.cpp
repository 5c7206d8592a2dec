// The asset store's part in device loss: render-target textures and depth
// surfaces live in the default pool, so they give up their device objects
// when the device is lost and are made again, at their stored size and
// format, when it is reset. Managed textures survive untouched.
#include "assets/depth_surfaces.h"
#include "assets/registry_internal.h"
#include "assets/textures.h"

void release_device_textures() {
  AssetRegistry& r = registry_block();
  gfx_on_lost_surfaces();
  for (int32_t i = r.textures.count - 1; i >= 0; --i) gfx_release_render_texture(&r.textures.records[i].object);
  for (int32_t i = r.depth_surfaces.count - 1; i >= 0; --i) gfx_depth_on_lost(&r.depth_surfaces.records[i].surface);
}

void restore_device_textures() {
  AssetRegistry& r = registry_block();
  gfx_on_reset_surfaces();
  for (int32_t i = r.textures.count - 1; i >= 0; --i) gfx_restore_render_texture(&r.textures.records[i].object);
  for (int32_t i = r.depth_surfaces.count - 1; i >= 0; --i) {
    gfx_depth_on_reset(&r.depth_surfaces.records[i].surface);
  }
}
