// TGA: colour-mapped, true-colour and grey pictures (types 1, 2, 3 and their
// run-length forms 9, 10, 11), 8, 15, 16, 24 and 32 bits per pixel, any origin.
#include <new>
#include <vector>

#include "platform/image/image_internal.h"

namespace {

constexpr size_t TGA_HEADER = 18;

struct TgaHeader {
  uint32_t id_length, map_type, type, map_first, map_length, map_bits, width, height, bits, descriptor;
};

TgaHeader tga_header(const uint8_t* p) {
  return {p[0], p[1], p[2], image_rd16(p + 3), image_rd16(p + 5), p[7], image_rd16(p + 12), image_rd16(p + 14),
          p[16], p[17]};
}

bool tga_colour_bits(uint32_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// A 15/16-bit X1R5G5B5 or 24/32-bit BGR(A) value as ARGB.
uint32_t tga_colour(const uint8_t* p, uint32_t bytes, bool alpha) {
  if (bytes == 2) {
    uint32_t v = image_rd16(p);
    uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    uint32_t a = alpha ? ((v & 0x8000) ? 0xFF : 0) : 0xFF;
    return (a << 24) | (((r * 255 + 15) / 31) << 16) | (((g * 255 + 15) / 31) << 8) | ((b * 255 + 15) / 31);
  }
  uint32_t a = bytes == 4 && alpha ? p[3] : 0xFF;
  return (a << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
}

}  // namespace

bool image_looks_like_tga(const uint8_t* data, size_t size) {
  if (size < TGA_HEADER) return false;
  TgaHeader h = tga_header(data);
  if (h.map_type > 1 || h.width == 0 || h.height == 0 || (h.descriptor & 0xC0) != 0 || (h.descriptor & 15) > 8)
    return false;
  if (h.map_type == 1 && (h.map_length == 0 || !tga_colour_bits(h.map_bits))) return false;
  switch (h.type & ~8u) {
    case 1: return h.map_type == 1 && (h.bits == 8 || h.bits == 16);
    case 2: return tga_colour_bits(h.bits);
    case 3: return h.bits == 8 || h.bits == 16;
    default: return false;
  }
}

ImageResult image_decode_tga(const uint8_t* data, size_t size, DecodedImage* img) {
  if (!image_looks_like_tga(data, size)) return IMAGE_UNSUPPORTED;
  TgaHeader h = tga_header(data);
  ImageResult r = image_check_size(h.width, h.height);
  if (r != IMAGE_OK) return r;
  const uint32_t kind = h.type & 7;  // 1 mapped, 2 true colour, 3 grey
  const bool rle = (h.type & 8) != 0;
  // Alpha only where the descriptor says the pixels carry it: a 32-bit file
  // claiming none shows opaque rather than invisible.
  const bool alpha = (h.descriptor & 15) != 0;
  const bool map_alpha = alpha && (h.map_bits == 16 || h.map_bits == 32);
  const bool pixel_alpha = alpha && (h.bits == 16 || h.bits == 32);
  const uint32_t bytes = (h.bits + 7) / 8;

  size_t pos = TGA_HEADER + h.id_length;
  std::vector<uint32_t> palette;
  if (h.map_type == 1) {
    uint32_t entry = (h.map_bits + 7) / 8;
    size_t map_bytes = static_cast<size_t>(h.map_length) * entry;
    if (size < pos || size - pos < map_bytes) return IMAGE_CORRUPT;
    // A colour map on a picture that does not use it is skipped.
    if (kind == 1) {
      palette.resize(h.map_length);
      for (uint32_t i = 0; i < h.map_length; ++i) palette[i] = tga_colour(data + pos + i * entry, entry, map_alpha);
    }
    pos += map_bytes;
  }
  if (size < pos) return IMAGE_CORRUPT;

  const uint64_t count = static_cast<uint64_t>(h.width) * h.height;
  const size_t avail = size - pos;
  // Every run packet covers at most 128 pixels, which bounds the smallest
  // possible stream before anything is allocated.
  if (rle ? avail < (count + 127) / 128 * (1 + bytes) : avail < count * bytes) return IMAGE_CORRUPT;

  img->has_alpha = kind == 1 ? map_alpha : pixel_alpha;
  r = image_allocate(img, h.width, h.height);
  if (r != IMAGE_OK) return r;

  auto convert = [&](const uint8_t* p) -> uint32_t {
    if (kind == 1) {
      uint32_t index = bytes == 1 ? p[0] : image_rd16(p);
      // Indexes outside the map read as opaque black.
      return index >= h.map_first && index - h.map_first < palette.size() ? palette[index - h.map_first] : 0xFF000000u;
    }
    if (kind == 3) {
      uint32_t a = bytes == 2 && pixel_alpha ? p[1] : 0xFF;
      return (a << 24) | (p[0] * 0x010101u);
    }
    return tga_colour(p, bytes, pixel_alpha);
  };

  const bool top = (h.descriptor & 0x20) != 0;
  const bool right_to_left = (h.descriptor & 0x10) != 0;
  const uint8_t* p = data + pos;
  const uint8_t* end = data + size;
  uint32_t run_left = 0;   // pixels left in the current packet
  bool run_repeat = false;  // the packet repeats one pixel
  uint32_t run_pixel = 0;
  for (uint32_t row = 0; row < h.height; ++row) {
    uint32_t* dst = img->argb.data() + static_cast<size_t>(top ? row : h.height - 1 - row) * h.width;
    for (uint32_t col = 0; col < h.width; ++col) {
      uint32_t value;
      if (!rle) {
        value = convert(p);
        p += bytes;
      } else {
        if (run_left == 0) {
          if (end - p < 1) return IMAGE_CORRUPT;
          run_repeat = (*p & 0x80) != 0;
          run_left = (*p & 0x7F) + 1u;
          ++p;
          if (run_repeat) {
            if (static_cast<size_t>(end - p) < bytes) return IMAGE_CORRUPT;
            run_pixel = convert(p);
            p += bytes;
          }
        }
        if (run_repeat) {
          value = run_pixel;
        } else {
          if (static_cast<size_t>(end - p) < bytes) return IMAGE_CORRUPT;
          value = convert(p);
          p += bytes;
        }
        --run_left;
      }
      dst[right_to_left ? h.width - 1 - col : col] = value;
    }
  }
  return IMAGE_OK;
}
