// The picture: the texture "my_tex" fitted whole into the area below the menu
// bar, moved by the camera and the screen effects, with fading afterimages
// while PLAY is on. The picture file's bytes are kept for SAVE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "assets/asset_handle.h"

struct TextureObject;

struct PictureFit {
  float scale_x, scale_y;  // sprite scales relative to the texture surface
  float width, height;     // the fitted picture in layout pixels
};

// The fit of a texture into W x (H - 16), aspect kept. False (and 1 x 1, no
// scale) when the texture does not exist.
bool picture_fit(AssetHandle picture, PictureFit* out);

struct CgPlacement {
  float x, y, scale_x, scale_y;
};

// The camera transform of a layout point and scale, with the effect offsets.
CgPlacement cg_transform(float x, float y, float scale_x, float scale_y, float dx, float dy, float scale_x_add,
                         float scale_y_add);
// Draws the picture and, while playing, its afterimages; records this
// frame's placement.
void cg_draw(float dx, float dy, float scale_x_add, float scale_y_add);

// A blank 16 x 16 "my_tex" of package "mem" as the picture.
void picture_show_blank();
// A picture file's bytes decoded into a texture that is not shown yet, so
// that a picture that cannot be shown changes nothing. False (and an empty
// object) when they do not decode.
bool picture_prepare(const std::vector<uint8_t>& bytes, TextureObject* out);
// Shows a prepared picture in place of the current one and keeps its bytes;
// takes the object over. False (and no picture) when the texture pool is full.
bool picture_show_prepared(std::vector<uint8_t>&& bytes, TextureObject* prepared);
// Both at once: false, with nothing changed, when the bytes do not decode.
bool picture_show_bytes(std::vector<uint8_t>&& bytes);

// LOAD CG: asks for a picture file and shows it.
void load_cg_image();
// Shows a picture file. A file that cannot be read or decoded leaves the
// shown picture as it was (the blank one when there is none).
void load_cg_file(const std::string& path);
