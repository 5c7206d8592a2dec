// The device operations that name textures by asset handle or touch the
// registry: viewports, scissors and render targets from a texture, the format
// check of a texture, and the engine's registry mark taken when the device
// starts. The device layer below works on device objects alone.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "render/device/device_resources.h"

// A texture's size, or a fraction of it; a handle without a device texture
// changes nothing.
void gfx_set_viewport_texture(AssetHandle texture);
void gfx_set_viewport_texture_fraction(AssetHandle texture, float fx, float fy, float fw, float fh);
void gfx_set_scissor_texture(AssetHandle texture);
void gfx_set_scissor_texture_fraction(AssetHandle texture, float fx, float fy, float fw, float fh);

// Render targets by texture handle: a handle naming a render-target texture
// binds it, anything else binds the back buffer (index 0) or nothing.
void gfx_set_render_target(int index, AssetHandle texture);
void gfx_set_render_targets(AssetHandle target0, AssetHandle target1, DepthSurfaceObject* depth);

// Whether a texture's format passes the format checks for its kind.
bool gfx_texture_format_supported(uint32_t texture_handle);

// The engine's registry mark: taken once the registry exists, released
// before the device goes.
bool gfx_resources_mark();
void gfx_resources_release_to_mark();

// The device's started and stopping hooks: the registry with its default
// textures, then the mark; the release to the mark, then the registry.
void asset_store_device_started();
void asset_store_device_stopping();
