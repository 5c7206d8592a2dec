// Texture records of the asset registry.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"

struct TextureRecord {
  RecordHead head;
};

AssetHandle find_texture(const char* package, const char* name);
int32_t count_textures();
// Null for an invalid handle.
TextureRecord* get_texture_record(AssetHandle handle);
const char* get_texture_name(AssetHandle handle);
const char* get_texture_package(AssetHandle handle);
