// BMP and DIB (a BMP without its 14-byte file header): 1, 4 and 8-bit
// palettes (also RLE8 and RLE4), 16, 24 and 32-bit with or without channel
// masks, rows bottom-up or top-down.
#include <new>
#include <vector>

#include "platform/image/image_internal.h"

namespace {

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_ALPHABITFIELDS = 6 };
constexpr size_t BMP_FILE_HEADER = 14;

bool dib_header_size_known(uint32_t n) { return n == 12 || n == 40 || n == 52 || n == 56 || n == 64 || n == 108 || n == 124; }

struct BmpInfo {
  uint32_t header_size = 0;
  int64_t width = 0;
  int64_t height = 0;  // negative: rows top to bottom
  uint32_t bits = 0;
  uint32_t compression = BI_RGB;
  uint32_t colours_used = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool core = false;                  // 12-byte header: 3-byte palette entries
};

// Reads the info header at p (size bytes available from there).
ImageResult bmp_read_info(const uint8_t* p, size_t size, BmpInfo* bi) {
  if (size < 4) return IMAGE_CORRUPT;
  bi->header_size = image_rd32(p);
  if (!dib_header_size_known(bi->header_size)) return IMAGE_UNSUPPORTED;
  if (size < bi->header_size) return IMAGE_CORRUPT;
  if (bi->header_size == 12) {
    bi->core = true;
    bi->width = image_rd16(p + 4);
    bi->height = image_rd16(p + 6);
    bi->bits = image_rd16(p + 10);
    return IMAGE_OK;
  }
  bi->width = static_cast<int32_t>(image_rd32(p + 4));
  bi->height = static_cast<int32_t>(image_rd32(p + 8));
  bi->bits = image_rd16(p + 14);
  bi->compression = image_rd32(p + 16);
  bi->colours_used = image_rd32(p + 32);
  // Headers of 52 bytes and more carry the masks themselves (56+: alpha too).
  if (bi->header_size >= 52) {
    for (int i = 0; i < 3; ++i) bi->masks[i] = image_rd32(p + 40 + 4 * i);
    if (bi->header_size >= 56) bi->masks[3] = image_rd32(p + 52);
  }
  return IMAGE_OK;
}

// Palette entries (B, G, R[, X]) as opaque ARGB; missing entries stay black.
void bmp_read_palette(const uint8_t* p, uint32_t count, bool core, uint32_t* palette) {
  size_t step = core ? 3 : 4;
  for (uint32_t i = 0; i < count; ++i, p += step) palette[i] = 0xFF000000u | (p[2] << 16) | (p[1] << 8) | p[0];
}

// Expands RLE8 or RLE4 runs to palette indexes (rows bottom to top, as stored).
// Pixels the stream skips keep index 0.
ImageResult bmp_unpack_rle(const uint8_t* p, const uint8_t* end, bool rle4, uint32_t width, uint32_t height,
                           uint8_t* out) {
  uint64_t x = 0, y = 0;
  auto put = [&](uint8_t v) {
    if (x < width && y < height) out[static_cast<size_t>(y) * width + x] = v;
    ++x;
  };
  while (y < height) {
    if (end - p < 2) return IMAGE_CORRUPT;
    uint8_t count = p[0], value = p[1];
    p += 2;
    if (count > 0) {
      for (uint32_t i = 0; i < count; ++i) put(rle4 ? ((i & 1) ? (value & 15) : (value >> 4)) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      return IMAGE_OK;
    } else if (value == 2) {  // delta
      if (end - p < 2) return IMAGE_CORRUPT;
      x += p[0];
      y += p[1];
      p += 2;
    } else {  // literal run, padded to a 16-bit boundary
      size_t bytes = rle4 ? (value + 1u) / 2 : value;
      size_t padded = (bytes + 1) & ~static_cast<size_t>(1);
      if (static_cast<size_t>(end - p) < bytes) return IMAGE_CORRUPT;
      for (uint32_t i = 0; i < value; ++i) put(rle4 ? ((i & 1) ? (p[i / 2] & 15) : (p[i / 2] >> 4)) : p[i]);
      p += static_cast<size_t>(end - p) < padded ? bytes : padded;
    }
  }
  return IMAGE_OK;
}

}  // namespace

bool image_looks_like_dib(const uint8_t* data, size_t size) {
  if (size < 16 || !dib_header_size_known(image_rd32(data))) return false;
  uint32_t planes, bits;
  if (image_rd32(data) == 12) {
    planes = image_rd16(data + 8);
    bits = image_rd16(data + 10);
  } else {
    planes = image_rd16(data + 12);
    bits = image_rd16(data + 14);
  }
  return planes == 1 && (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

ImageResult image_decode_bmp(const uint8_t* data, size_t size, bool file_header, DecodedImage* img) {
  size_t info_at = file_header ? BMP_FILE_HEADER : 0;
  if (size < info_at + 4) return IMAGE_CORRUPT;
  BmpInfo bi;
  ImageResult r = bmp_read_info(data + info_at, size - info_at, &bi);
  if (r != IMAGE_OK) return r;

  bool top_down = bi.height < 0;
  uint64_t width = bi.width < 0 ? 0 : static_cast<uint64_t>(bi.width);
  uint64_t height = static_cast<uint64_t>(top_down ? -bi.height : bi.height);
  if (bi.width < 0) return IMAGE_CORRUPT;
  r = image_check_size(width, height);
  if (r != IMAGE_OK) return r;

  bool palette_based = bi.bits == 1 || bi.bits == 4 || bi.bits == 8;
  bool rle = bi.compression == BI_RLE8 || bi.compression == BI_RLE4;
  if (!palette_based && bi.bits != 16 && bi.bits != 24 && bi.bits != 32) return IMAGE_UNSUPPORTED;
  if ((bi.compression == BI_RLE8 && bi.bits != 8) || (bi.compression == BI_RLE4 && bi.bits != 4)) return IMAGE_CORRUPT;
  bool masked = bi.compression == BI_BITFIELDS || bi.compression == BI_ALPHABITFIELDS;
  if (!rle && !masked && bi.compression != BI_RGB) return IMAGE_UNSUPPORTED;
  if (masked && bi.bits != 16 && bi.bits != 32) return IMAGE_CORRUPT;
  if (rle && top_down) return IMAGE_CORRUPT;

  // A 40-byte header is followed by its masks when it asks for them.
  size_t after_header = info_at + bi.header_size;
  if (masked && bi.header_size == 40) {
    size_t n = bi.compression == BI_ALPHABITFIELDS ? 4 : 3;
    if (size - after_header < n * 4) return IMAGE_CORRUPT;
    for (size_t i = 0; i < n; ++i) bi.masks[i] = image_rd32(data + after_header + 4 * i);
    after_header += n * 4;
  }

  uint32_t palette[256];
  for (uint32_t& c : palette) c = 0xFF000000u;
  size_t palette_bytes = 0;
  if (palette_based) {
    uint32_t full = 1u << bi.bits;
    uint32_t count = bi.colours_used == 0 || bi.colours_used > full ? full : bi.colours_used;
    // The 12-byte header has no colour count: the gap before the pixels tells it.
    if (bi.core && file_header) {
      uint32_t offset = image_rd32(data + 10);
      if (offset > after_header && (offset - after_header) / 3 < count) count = (offset - after_header) / 3;
    }
    palette_bytes = static_cast<size_t>(count) * (bi.core ? 3 : 4);
    if (size - after_header < palette_bytes) return IMAGE_CORRUPT;
    bmp_read_palette(data + after_header, count, bi.core, palette);
  }

  // The pixel offset of the file header is trusted when it points past the
  // headers; writers that leave it zero or wrong get the packed layout.
  size_t pixels_at = after_header + palette_bytes;
  if (file_header) {
    uint32_t offset = image_rd32(data + 10);
    if (offset >= after_header && offset < size) pixels_at = offset;
  }
  if (pixels_at > size) return IMAGE_CORRUPT;
  const uint8_t* pixels = data + pixels_at;
  size_t avail = size - pixels_at;

  if (rle) {
    // Index plane first, bounded by the size checks above (at most IMAGE_MAX_PIXELS bytes).
    std::vector<uint8_t> indexes;
    try {
      indexes.assign(static_cast<size_t>(width * height), 0);
    } catch (const std::bad_alloc&) {
      return IMAGE_TOO_LARGE;
    }
    r = bmp_unpack_rle(pixels, pixels + avail, bi.compression == BI_RLE4, static_cast<uint32_t>(width),
                       static_cast<uint32_t>(height), indexes.data());
    if (r != IMAGE_OK) return r;
    r = image_allocate(img, width, height);
    if (r != IMAGE_OK) return r;
    for (uint64_t y = 0; y < height; ++y) {
      const uint8_t* src = indexes.data() + (height - 1 - y) * width;
      uint32_t* dst = img->argb.data() + y * width;
      for (uint64_t x = 0; x < width; ++x) dst[x] = palette[src[x]];
    }
    return IMAGE_OK;
  }

  uint64_t row_bytes = (width * bi.bits + 7) / 8;
  uint64_t stride = (width * bi.bits + 31) / 32 * 4;
  // The last row may lack its padding.
  if (avail < stride * (height - 1) + row_bytes) return IMAGE_CORRUPT;

  ImageMasks masks;
  if (bi.bits == 16 || bi.bits == 32) {
    if (!masked) {
      bi.masks[0] = bi.bits == 16 ? 0x7C00 : 0xFF0000;
      bi.masks[1] = bi.bits == 16 ? 0x03E0 : 0x00FF00;
      bi.masks[2] = bi.bits == 16 ? 0x001F : 0x0000FF;
      // BI_RGB has no alpha, whatever the spare bits hold.
      bi.masks[3] = 0;
    }
    if (bi.bits == 16) {
      for (uint32_t& m : bi.masks) m &= 0xFFFF;
    }
    masks = image_masks(bi.masks[0], bi.masks[1], bi.masks[2], bi.masks[3]);
    img->has_alpha = masks.a.max != 0;
  }

  r = image_allocate(img, width, height);
  if (r != IMAGE_OK) return r;
  for (uint64_t y = 0; y < height; ++y) {
    const uint8_t* src = pixels + (top_down ? y : height - 1 - y) * stride;
    uint32_t* dst = img->argb.data() + y * width;
    switch (bi.bits) {
      case 1:
      case 4:
      case 8: {
        uint32_t per_byte = 8 / bi.bits, mask = (1u << bi.bits) - 1;
        for (uint64_t x = 0; x < width; ++x) {
          uint32_t shift = 8 - bi.bits * (1 + static_cast<uint32_t>(x % per_byte));
          dst[x] = palette[(src[x / per_byte] >> shift) & mask];
        }
        break;
      }
      case 24:
        for (uint64_t x = 0; x < width; ++x, src += 3) dst[x] = 0xFF000000u | (src[2] << 16) | (src[1] << 8) | src[0];
        break;
      default: {
        int bytes = static_cast<int>(bi.bits / 8);
        for (uint64_t x = 0; x < width; ++x, src += bytes) dst[x] = image_masks_argb(masks, image_rd_packed(src, bytes));
        break;
      }
    }
  }
  return IMAGE_OK;
}
