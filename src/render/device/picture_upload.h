// Pictures into textures, for the device resources: the picture is decoded
// on a worker thread in bands of rows while the main thread, which owns the
// device, makes the texture and writes the bands into it as they become
// ready. The texture's making, which touches all of its memory, overlaps the
// decoding; a bounded queue of bands (at most three quarters of a big
// picture, so the decoder seldom waits for the texture) is all that exists
// of the picture besides the texture. A picture larger than the
// device's limit is kept whole instead and scaled down once, aspect kept,
// with a line on stderr.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gpu/gpu.h"

struct PictureTexture {
  GpuTexture* texture;  // managed, at the picture's size or scaled down to the device's limit
  int width, height;    // the picture's own size
};

// From a picture file's bytes, or from the file at path when data is null;
// mip nonzero gives a full mip chain. False (and nothing made) when the
// picture cannot be read or the texture cannot be made.
bool picture_upload(GpuDevice* device, const void* data, size_t size, const char* path, uint8_t mip,
                    PictureTexture* out);
