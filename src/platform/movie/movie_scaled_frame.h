// The scaler's destination for a movie's frames: RGB32 rows laid out the way
// the scaler writes them. Its vector paths store whole blocks of pixels, up
// to 16 from a row's start whatever the row's width, so a tightly packed
// frame narrower than that takes the last row's writes past its end into the
// heap. Here every row starts 64-byte aligned and holds a multiple of 16
// pixels, and the rows are followed by slack; after the conversion the rows
// are packed tightly in place.
//
// The fuzz build (TL_FUZZ_GUARDS) surrounds the rows with guard words and
// stops the process with a report when a conversion wrote outside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/movie/movie_library.h"

struct ScaledFrame {
  std::vector<uint32_t> words;
  size_t first;   // index of the first row's first pixel, 64-byte aligned in memory
  size_t stride;  // pixels a row, a multiple of 16
  int32_t width, height;
};

// Lays the destination out for width x height pixels.
void scaled_frame_size(ScaledFrame* frame, int32_t width, int32_t height);
// Scales the decoded frame through the scaler (made for the frame's size and
// pixel format and the destination's size): width x height ARGB pixels,
// alpha 255, rows top first, valid until the next conversion. Null when the
// scaler gives fewer rows.
const uint32_t* scaled_frame_convert(ScaledFrame* frame, const MovieApi* av, SwsContext* scaler,
                                     const AVFrame* source);
