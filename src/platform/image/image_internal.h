// Shared pieces of the picture decoders: little-endian reads, the size check
// every decoder makes before it allocates, and channel-mask unpacking.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/image/image.h"

// Pixels are written as 32-bit words and as B, G, R, A byte runs interchangeably.
static_assert(std::endian::native == std::endian::little, "the decoders assume a little-endian host");

inline uint16_t image_rd16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t image_rd32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t image_rd32be(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// IMAGE_CORRUPT for a zero side, IMAGE_TOO_LARGE beyond the limits, else IMAGE_OK.
ImageResult image_check_size(uint64_t width, uint64_t height);
// Checks the size and sizes img to width x height (pixels zero); IMAGE_TOO_LARGE
// also when memory runs out.
ImageResult image_allocate(DecodedImage* img, uint64_t width, uint64_t height);

// One colour channel of a packed pixel: where it lies and how to widen it to 8 bits.
struct ImageChannel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;  // largest value after the shift; 0 for an absent channel
};
ImageChannel image_channel(uint32_t mask);
inline uint32_t image_channel_value(const ImageChannel& c, uint32_t pixel, uint32_t absent) {
  if (c.max == 0) return absent;
  uint32_t v = (pixel & c.mask) >> c.shift;
  return c.max == 255 ? v : (v * 255 + c.max / 2) / c.max;
}
// Converts packed pixels of 1 to 4 bytes with the given masks; alpha absent gives 0xFF.
struct ImageMasks {
  ImageChannel r, g, b, a;
};
ImageMasks image_masks(uint32_t r, uint32_t g, uint32_t b, uint32_t a);
inline uint32_t image_masks_argb(const ImageMasks& m, uint32_t pixel) {
  return (image_channel_value(m.a, pixel, 0xFF) << 24) | (image_channel_value(m.r, pixel, 0) << 16) |
         (image_channel_value(m.g, pixel, 0) << 8) | image_channel_value(m.b, pixel, 0);
}
// Reads a packed pixel of 1 to 4 bytes, little-endian.
inline uint32_t image_rd_packed(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

// The sink that fills a DecodedImage (allocated at begin).
ImageRowSink image_whole_sink(DecodedImage* img);

// The decoders; each is handed data whose signature it owns (or, for TGA,
// anything) and fills img only on IMAGE_OK. PNG and JPEG decode in bands of
// IMAGE_BAND_ROWS rows into a sink; its callbacks must not throw, since they
// run inside the libraries' error handling.
ImageResult image_decode_png_rows(const uint8_t* data, size_t size, const ImageRowSink& sink);
ImageResult image_decode_jpeg_rows(const uint8_t* data, size_t size, const ImageRowSink& sink);
// file_header: the data starts with the 14-byte "BM" header; else it is a bare DIB.
ImageResult image_decode_bmp(const uint8_t* data, size_t size, bool file_header, DecodedImage* img);
ImageResult image_decode_tga(const uint8_t* data, size_t size, DecodedImage* img);
ImageResult image_decode_dds(const uint8_t* data, size_t size, DecodedImage* img);
// True when the bytes start like a bare DIB header (size, planes and bit count plausible).
bool image_looks_like_dib(const uint8_t* data, size_t size);
// True when the 18-byte header is a plausible TGA header.
bool image_looks_like_tga(const uint8_t* data, size_t size);
