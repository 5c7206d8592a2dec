// The sample picture: a lake below snowy mountains at sunset, with a pine
// wood, a lit cabin, a boat and a meadow, drawn from noise and shapes.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kLandscapeWidth = 800;
constexpr int kLandscapeHeight = 600;

// RGB bytes, row by row from the top. The same every run.
std::vector<uint8_t> landscape_draw();
// The picture as a JPEG file image.
std::vector<uint8_t> landscape_encode_jpeg(const std::vector<uint8_t>& rgb, int quality);
