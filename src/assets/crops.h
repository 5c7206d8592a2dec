// Crop records: a named rectangle of a texture in fractions of its size,
// which is what sprites, glyphs and movie frames draw.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"

struct CropRecord {
  RecordHead head;
  AssetHandle texture;  // 0 when none
  // Fractions of the texture's width and height; negative sizes flip.
  float u, v, width, height;
};

// Registers a crop of the texture named texture_name in the same package;
// both names are reduced to base names. A texture that is not registered
// gives texture 0, and the crop is still registered. Returns the handle of an
// existing crop of this package and name, or 0 when the crop cannot be stored.
AssetHandle register_crop(const char* package, const char* name, float u, float v, float width, float height,
                          const char* texture_name);

// Registers a crop of a texture from a rectangle in pixels; 0 for an invalid
// texture handle. A texture of zero size gives zero fractions.
AssetHandle register_crop_of_texture(const char* package, const char* name, int32_t x, int32_t y, int32_t width,
                                     int32_t height, AssetHandle texture);
// Points an existing crop at a rectangle in pixels of a texture; an invalid
// texture gives texture 0 and zero fractions; an invalid crop does nothing.
void set_crop_pixels(AssetHandle crop, int32_t x, int32_t y, int32_t width, int32_t height, AssetHandle texture);
// Clears the crop, which is found no more; the count stays for the
// registry's release. The newest crop also gives back its name's bytes (an
// older one's lie under the names of newer crops).
void unregister_crop(AssetHandle handle);

AssetHandle find_crop(const char* package, const char* name);
int32_t count_crops();
CropRecord* get_crop_record(AssetHandle handle);
const char* get_crop_name(AssetHandle handle);
const char* get_crop_package(AssetHandle handle);
