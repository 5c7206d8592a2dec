// Format sniffing, the file entry point and the helpers the decoders share.
#include <cstring>
#include <new>

#include "platform/image/image_internal.h"
#include "platform/sys/sys.h"

namespace {

// Files larger than this are refused before they are read.
constexpr uint64_t IMAGE_MAX_FILE_BYTES = UINT64_C(256) << 20;

bool starts_with(const uint8_t* data, size_t size, const char* magic, size_t n) {
  return size >= n && std::memcmp(data, magic, n) == 0;
}

ImageResult decode_sniffed(const uint8_t* p, size_t size, DecodedImage* img) {
  if (starts_with(p, size, "\x89PNG\r\n\x1a\n", 8)) return image_decode_png(p, size, img);
  if (size >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return image_decode_jpeg(p, size, img);
  if (starts_with(p, size, "BM", 2)) return image_decode_bmp(p, size, true, img);
  if (starts_with(p, size, "DDS ", 4)) return image_decode_dds(p, size, img);
  if (image_looks_like_dib(p, size)) return image_decode_bmp(p, size, false, img);
  // TGA has no signature: it is the last guess, and only for a sane header.
  if (image_looks_like_tga(p, size)) return image_decode_tga(p, size, img);
  return IMAGE_UNSUPPORTED;
}

}  // namespace

ImageResult image_check_size(uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) return IMAGE_CORRUPT;
  if (width > IMAGE_MAX_SIDE || height > IMAGE_MAX_SIDE || width * height > IMAGE_MAX_PIXELS) return IMAGE_TOO_LARGE;
  return IMAGE_OK;
}

ImageResult image_allocate(DecodedImage* img, uint64_t width, uint64_t height) {
  ImageResult r = image_check_size(width, height);
  if (r != IMAGE_OK) return r;
  try {
    img->argb.assign(static_cast<size_t>(width * height), 0);
  } catch (const std::bad_alloc&) {
    return IMAGE_TOO_LARGE;
  }
  img->width = static_cast<int>(width);
  img->height = static_cast<int>(height);
  return IMAGE_OK;
}

ImageChannel image_channel(uint32_t mask) {
  ImageChannel c;
  if (mask == 0) return c;
  c.mask = mask;
  c.shift = std::countr_zero(mask);
  c.max = mask >> c.shift;
  // A mask with holes or wider than 8 bits keeps only its top 8 contiguous bits.
  if (c.max > 255 || (c.max & (c.max + 1)) != 0) {
    int width = 32 - std::countl_zero(c.max);
    int keep = width > 8 ? 8 : width;
    c.shift += width - keep;
    c.max = (1u << keep) - 1;
    c.mask = c.max << c.shift;
  }
  return c;
}

ImageMasks image_masks(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  return {image_channel(r), image_channel(g), image_channel(b), image_channel(a)};
}

ImageResult image_decode_memory(const void* data, size_t size, DecodedImage* out) {
  if (!out) return IMAGE_CORRUPT;
  *out = DecodedImage();
  if (!data || size == 0) return IMAGE_UNSUPPORTED;
  DecodedImage img;
  ImageResult r = decode_sniffed(static_cast<const uint8_t*>(data), size, &img);
  if (r == IMAGE_OK) *out = std::move(img);
  return r;
}

ImageResult image_decode_file(const std::string& path, DecodedImage* out) {
  if (!out) return IMAGE_CORRUPT;
  *out = DecodedImage();
  std::vector<uint8_t> bytes;
  if (!sys_read_file(path, bytes, IMAGE_MAX_FILE_BYTES))
    return get_file_size(path) > IMAGE_MAX_FILE_BYTES ? IMAGE_TOO_LARGE : IMAGE_FILE_MISSING;
  return image_decode_memory(bytes.data(), bytes.size(), out);
}

const char* image_result_text(ImageResult result) {
  switch (result) {
    case IMAGE_OK: return "picture read";
    case IMAGE_FILE_MISSING: return "the picture file cannot be opened";
    case IMAGE_UNSUPPORTED: return "not a picture format that can be read";
    case IMAGE_CORRUPT: return "the picture data is damaged or cut short";
    case IMAGE_TOO_LARGE: return "the picture is too large";
  }
  return "unknown picture error";
}
