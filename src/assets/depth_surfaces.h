// Depth-surface records: depth-stencil surfaces for off-screen rendering.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"

struct DepthSurfaceRecord {
  RecordHead head;
};

AssetHandle find_depth_surface(const char* package, const char* name);
int32_t count_depth_surfaces();
DepthSurfaceRecord* get_depth_surface_record(AssetHandle handle);
const char* get_depth_surface_name(AssetHandle handle);
const char* get_depth_surface_package(AssetHandle handle);
