// Depth-surface records: depth-stencil surfaces for off-screen rendering.
// They live in the default pool and are recreated after a lost device.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"
#include "render/device/device_resources.h"

struct DepthSurfaceRecord {
  RecordHead head;
  int64_t bytes;  // what this surface adds to the registry's texture bytes
  DepthSurfaceObject surface;
};

// Depth format code 1 is D24S8; 0 and any other code D16. The name is
// reduced to its base name.
AssetHandle create_depth_surface(const char* package, const char* name, int32_t width, int32_t height,
                                 int32_t depth_format_code);
// Makes the surface again at the new size; a zero size leaves none.
void resize_depth_surface(AssetHandle handle, int32_t width, int32_t height, int32_t depth_format_code);
// Gives up the device surface and its bytes; the record, its name and its
// handle stay until the registry's release (a resize makes a surface again).
void release_depth_surface(AssetHandle handle);

AssetHandle find_depth_surface(const char* package, const char* name);
int32_t count_depth_surfaces();
DepthSurfaceRecord* get_depth_surface_record(AssetHandle handle);
DepthSurfaceObject* get_depth_surface_object(AssetHandle handle);
const char* get_depth_surface_name(AssetHandle handle);
const char* get_depth_surface_package(AssetHandle handle);
