#include "assets/device_bindings.h"

#include <cstring>

#include "assets/asset_registry.h"
#include "assets/textures.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"

namespace {

RegistryMark engine_mark;

const TextureObject* texture_of(AssetHandle id) {
  const TextureObject* t = get_texture_object(id);
  return t && t->texture ? t : nullptr;
}

}  // namespace

void gfx_set_viewport_texture(AssetHandle texture) {
  if (const TextureObject* t = texture_of(texture)) gfx_set_viewport_rect(0, 0, t->width, t->height);
}

void gfx_set_viewport_texture_fraction(AssetHandle texture, float fx, float fy, float fw, float fh) {
  const TextureObject* t = texture_of(texture);
  if (!t) return;
  float w = float(t->width), h = float(t->height);
  gfx_set_viewport_rect(int(w * fx), int(h * fy), int(w * fw), int(h * fh));
}

void gfx_set_scissor_texture(AssetHandle texture) {
  if (const TextureObject* t = texture_of(texture)) gfx_set_scissor_rect(0, 0, t->width, t->height);
}

void gfx_set_scissor_texture_fraction(AssetHandle texture, float fx, float fy, float fw, float fh) {
  const TextureObject* t = texture_of(texture);
  if (!t) return;
  float w = float(t->width), h = float(t->height);
  const int left = int(w * fx), top = int(h * fy), right = int(w * (fx + fw)), bottom = int(h * (fy + fh));
  gfx_set_scissor_rect(left, top, right - left, bottom - top);
}

void gfx_set_render_target(int index, AssetHandle texture) {
  gfx_set_render_target_object(index, get_texture_object(texture));
}

void gfx_set_render_targets(AssetHandle target0, AssetHandle target1, DepthSurfaceObject* depth) {
  gfx_set_render_target(0, target0);
  gfx_set_render_target(1, target1);
  gfx_set_depth_surface(depth);
}

bool gfx_texture_format_supported(uint32_t texture_handle) {
  const TextureObject* t = get_texture_object(texture_handle);
  if (!t) return false;
  return gfx_check_texture_format(t->device_format, t->kind == TEXTURE_KIND_RENDER_TARGET ? 1 : 0);
}

bool gfx_resources_mark() {
  std::memset(&engine_mark, 0, sizeof engine_mark);
  mark_asset_registry(&engine_mark);
  return true;
}

void gfx_resources_release_to_mark() { release_asset_registry_to_mark(&engine_mark); }

void asset_store_device_started() {
  init_asset_registry();
  gfx_resources_mark();
}

void asset_store_device_stopping() {
  gfx_resources_release_to_mark();
  shutdown_asset_registry();
}
