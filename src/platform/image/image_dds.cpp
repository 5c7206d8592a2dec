// DDS: the first mip level (and first face or slice) of uncompressed RGB,
// luminance or alpha pictures described by channel masks, and of DXT1, DXT3
// and DXT5 block-compressed pictures, which are expanded to ARGB here.
#include "platform/image/image_internal.h"

namespace {

constexpr size_t DDS_HEADER_END = 128;  // "DDS " and the 124-byte header
constexpr size_t DDS_DX10_HEADER = 20;

enum : uint32_t {
  DDPF_ALPHAPIXELS = 0x1,
  DDPF_ALPHA = 0x2,
  DDPF_FOURCC = 0x4,
  DDPF_RGB = 0x40,
  DDPF_LUMINANCE = 0x20000,
};

constexpr uint32_t fourcc(const char (&s)[5]) {
  return static_cast<uint32_t>(s[0]) | (static_cast<uint32_t>(s[1]) << 8) | (static_cast<uint32_t>(s[2]) << 16) |
         (static_cast<uint32_t>(s[3]) << 24);
}

enum class DdsBlocks { NONE, DXT1, DXT3, DXT5 };

uint32_t expand565(uint32_t c) {
  uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
  return (((r * 255 + 15) / 31) << 16) | (((g * 255 + 31) / 63) << 8) | ((b * 255 + 15) / 31);
}

uint32_t mix(uint32_t a, uint32_t b, uint32_t wa, uint32_t wb, uint32_t div) {
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    uint32_t v = (((a >> shift) & 0xFF) * wa + ((b >> shift) & 0xFF) * wb) / div;
    out |= v << shift;
  }
  return out;
}

// One 4x4 block into 16 ARGB texels; the colour half is the last 8 bytes for
// DXT3/DXT5 and the whole block for DXT1.
void dds_decode_block(const uint8_t* block, DdsBlocks kind, uint32_t* texels) {
  const uint8_t* colour = kind == DdsBlocks::DXT1 ? block : block + 8;
  uint32_t c0 = image_rd16(colour), c1 = image_rd16(colour + 2);
  uint32_t palette[4];
  palette[0] = 0xFF000000u | expand565(c0);
  palette[1] = 0xFF000000u | expand565(c1);
  // DXT1 switches to three colours and transparent black when c0 <= c1; the
  // colour half of DXT3 and DXT5 always has four.
  if (c0 > c1 || kind != DdsBlocks::DXT1) {
    palette[2] = 0xFF000000u | mix(palette[0], palette[1], 2, 1, 3);
    palette[3] = 0xFF000000u | mix(palette[0], palette[1], 1, 2, 3);
  } else {
    palette[2] = 0xFF000000u | mix(palette[0], palette[1], 1, 1, 2);
    palette[3] = 0;
  }
  uint32_t indexes = image_rd32(colour + 4);
  for (int i = 0; i < 16; ++i) texels[i] = palette[(indexes >> (2 * i)) & 3];

  if (kind == DdsBlocks::DXT3) {
    for (int i = 0; i < 16; ++i) {
      uint32_t a = (block[i / 2] >> (4 * (i & 1))) & 15;
      texels[i] = (texels[i] & 0x00FFFFFFu) | ((a * 17) << 24);
    }
  } else if (kind == DdsBlocks::DXT5) {
    uint32_t a[8];
    a[0] = block[0];
    a[1] = block[1];
    if (a[0] > a[1]) {
      for (uint32_t j = 2; j < 8; ++j) a[j] = ((8 - j) * a[0] + (j - 1) * a[1]) / 7;
    } else {
      for (uint32_t j = 2; j < 6; ++j) a[j] = ((6 - j) * a[0] + (j - 1) * a[1]) / 5;
      a[6] = 0;
      a[7] = 255;
    }
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i) bits |= static_cast<uint64_t>(block[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i) texels[i] = (texels[i] & 0x00FFFFFFu) | (a[(bits >> (3 * i)) & 7] << 24);
  }
}

ImageResult dds_decode_blocks(const uint8_t* p, size_t avail, DdsBlocks kind, uint32_t width, uint32_t height,
                              DecodedImage* img) {
  const size_t block_bytes = kind == DdsBlocks::DXT1 ? 8 : 16;
  const size_t across = (width + 3) / 4, down = (height + 3) / 4;
  if (avail / block_bytes < across * down) return IMAGE_CORRUPT;
  ImageResult r = image_allocate(img, width, height);
  if (r != IMAGE_OK) return r;
  uint32_t texels[16];
  bool alpha = kind != DdsBlocks::DXT1;
  for (size_t by = 0; by < down; ++by) {
    for (size_t bx = 0; bx < across; ++bx, p += block_bytes) {
      dds_decode_block(p, kind, texels);
      // Blocks on the right and bottom edges may hang over the picture.
      for (size_t ty = 0; ty < 4 && by * 4 + ty < height; ++ty) {
        for (size_t tx = 0; tx < 4 && bx * 4 + tx < width; ++tx) {
          uint32_t t = texels[ty * 4 + tx];
          alpha = alpha || (t >> 24) != 0xFF;
          img->argb[(by * 4 + ty) * width + bx * 4 + tx] = t;
        }
      }
    }
  }
  img->has_alpha = alpha;
  return IMAGE_OK;
}

ImageResult dds_decode_masked(const uint8_t* p, size_t avail, uint32_t bits, ImageMasks masks, bool alpha_only,
                              uint32_t width, uint32_t height, DecodedImage* img) {
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return IMAGE_UNSUPPORTED;
  const int bytes = static_cast<int>(bits / 8);
  const size_t row = static_cast<size_t>(width) * bytes;
  if (avail / row < height) return IMAGE_CORRUPT;
  ImageResult r = image_allocate(img, width, height);
  if (r != IMAGE_OK) return r;
  // A picture of alpha alone is white with that coverage.
  const uint32_t colour = alpha_only ? 0x00FFFFFFu : 0;
  uint32_t* dst = img->argb.data();
  for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i, p += bytes)
    dst[i] = image_masks_argb(masks, image_rd_packed(p, bytes)) | colour;
  img->has_alpha = masks.a.max != 0;
  return IMAGE_OK;
}

}  // namespace

ImageResult image_decode_dds(const uint8_t* data, size_t size, DecodedImage* img) {
  if (size < DDS_HEADER_END) return IMAGE_CORRUPT;
  const uint32_t height = image_rd32(data + 12), width = image_rd32(data + 16);
  ImageResult r = image_check_size(width, height);
  if (r != IMAGE_OK) return r;
  const uint32_t pf_flags = image_rd32(data + 80), code = image_rd32(data + 84), bits = image_rd32(data + 88);
  const uint32_t rmask = image_rd32(data + 92), gmask = image_rd32(data + 96), bmask = image_rd32(data + 100);
  const uint32_t amask = image_rd32(data + 104);
  size_t pos = DDS_HEADER_END;

  if (pf_flags & DDPF_FOURCC) {
    DdsBlocks kind = DdsBlocks::NONE;
    ImageMasks masks;
    bool masked = false;
    if (code == fourcc("DXT1")) kind = DdsBlocks::DXT1;
    if (code == fourcc("DXT2") || code == fourcc("DXT3")) kind = DdsBlocks::DXT3;
    if (code == fourcc("DXT4") || code == fourcc("DXT5")) kind = DdsBlocks::DXT5;
    if (code == fourcc("DX10")) {
      if (size - pos < DDS_DX10_HEADER) return IMAGE_CORRUPT;
      switch (image_rd32(data + pos)) {  // DXGI format numbers
        case 71: case 72: kind = DdsBlocks::DXT1; break;
        case 74: case 75: kind = DdsBlocks::DXT3; break;
        case 77: case 78: kind = DdsBlocks::DXT5; break;
        case 28: case 29: masks = image_masks(0xFF, 0xFF00, 0xFF0000, 0xFF000000u); masked = true; break;
        case 87: case 91: masks = image_masks(0xFF0000, 0xFF00, 0xFF, 0xFF000000u); masked = true; break;
        case 88: case 93: masks = image_masks(0xFF0000, 0xFF00, 0xFF, 0); masked = true; break;
        default: return IMAGE_UNSUPPORTED;
      }
      pos += DDS_DX10_HEADER;
    }
    if (masked) return dds_decode_masked(data + pos, size - pos, 32, masks, false, width, height, img);
    if (kind == DdsBlocks::NONE) return IMAGE_UNSUPPORTED;
    return dds_decode_blocks(data + pos, size - pos, kind, width, height, img);
  }

  if (pf_flags & (DDPF_RGB | DDPF_LUMINANCE | DDPF_ALPHA)) {
    const bool has_alpha = (pf_flags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) != 0;
    const uint32_t a = has_alpha ? amask : 0;
    if (pf_flags & DDPF_RGB)
      return dds_decode_masked(data + pos, size - pos, bits, image_masks(rmask, gmask, bmask, a), false, width, height,
                               img);
    if (pf_flags & DDPF_LUMINANCE)
      return dds_decode_masked(data + pos, size - pos, bits, image_masks(rmask, rmask, rmask, a), false, width, height,
                               img);
    return dds_decode_masked(data + pos, size - pos, bits, image_masks(0, 0, 0, a), true, width, height, img);
  }
  return IMAGE_UNSUPPORTED;
}
