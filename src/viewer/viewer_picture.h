// The picture: the texture "my_tex" fitted whole into the area below the menu
// bar, moved by the camera and the screen effects, with fading afterimages
// while PLAY is on. The picture file's bytes are kept for SAVE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "assets/asset_handle.h"

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
// Shows the picture file's bytes in place of the current picture and keeps
// them. False (and nothing shown) when they do not decode.
bool picture_show_bytes(std::vector<uint8_t>&& bytes);
// Whether the bytes decode as a picture, without showing them.
bool picture_bytes_decode(const std::vector<uint8_t>& bytes);

// LOAD CG: asks for a picture file and shows it.
void load_cg_image();
// Shows a picture file. A file that cannot be read into memory leaves the
// shown picture as it was; one that does not decode leaves the blank picture.
void load_cg_file(const std::string& path);
