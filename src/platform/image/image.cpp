// Format sniffing, the file entry point and the helpers the decoders share.
#include <algorithm>
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

bool is_png(const uint8_t* p, size_t size) { return starts_with(p, size, "\x89PNG\r\n\x1a\n", 8); }
bool is_jpeg(const uint8_t* p, size_t size) { return size >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF; }

ImageResult decode_sniffed(const uint8_t* p, size_t size, DecodedImage* img) {
  if (is_png(p, size)) return image_decode_png_rows(p, size, image_whole_sink(img));
  if (is_jpeg(p, size)) return image_decode_jpeg_rows(p, size, image_whole_sink(img));
  if (starts_with(p, size, "BM", 2)) return image_decode_bmp(p, size, true, img);
  if (starts_with(p, size, "DDS ", 4)) return image_decode_dds(p, size, img);
  if (image_looks_like_dib(p, size)) return image_decode_bmp(p, size, false, img);
  // TGA has no signature: it is the last guess, and only for a sane header.
  if (image_looks_like_tga(p, size)) return image_decode_tga(p, size, img);
  return IMAGE_UNSUPPORTED;
}

ImageResult whole_begin(void* user, int width, int height, bool has_alpha) {
  auto* img = static_cast<DecodedImage*>(user);
  img->has_alpha = has_alpha;
  return image_allocate(img, uint64_t(width), uint64_t(height));
}

uint32_t* whole_band(void* user, int first, int) {
  auto* img = static_cast<DecodedImage*>(user);
  return img->argb.data() + size_t(first) * size_t(img->width);
}

ImageResult whole_done(void*, int, int) { return IMAGE_OK; }

ImageResult read_picture_file(const std::string& path, std::vector<uint8_t>* bytes) {
  if (sys_read_file(path, *bytes, IMAGE_MAX_FILE_BYTES)) return IMAGE_OK;
  return get_file_size(path) > IMAGE_MAX_FILE_BYTES ? IMAGE_TOO_LARGE : IMAGE_FILE_MISSING;
}

// Formats without a band decoder are decoded whole, then handed over in bands.
ImageResult emit_bands(const DecodedImage& img, const ImageRowSink& sink) {
  ImageResult r = sink.begin(sink.user, img.width, img.height, img.has_alpha);
  for (int first = 0; r == IMAGE_OK && first < img.height; first += IMAGE_BAND_ROWS) {
    const int n = std::min<int>(IMAGE_BAND_ROWS, img.height - first);
    uint32_t* dst = sink.band(sink.user, first, n);
    if (!dst) return IMAGE_TOO_LARGE;
    std::memcpy(dst, img.argb.data() + size_t(first) * size_t(img.width), size_t(n) * size_t(img.width) * 4);
    r = sink.done(sink.user, first, n);
  }
  return r;
}

}  // namespace

ImageRowSink image_whole_sink(DecodedImage* img) { return {img, whole_begin, whole_band, whole_done}; }

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

ImageResult image_decode_memory_rows(const void* data, size_t size, const ImageRowSink& sink) {
  if (!data || size == 0) return IMAGE_UNSUPPORTED;
  const auto* p = static_cast<const uint8_t*>(data);
  if (is_png(p, size)) return image_decode_png_rows(p, size, sink);
  if (is_jpeg(p, size)) return image_decode_jpeg_rows(p, size, sink);
  DecodedImage img;
  ImageResult r = decode_sniffed(p, size, &img);
  return r == IMAGE_OK ? emit_bands(img, sink) : r;
}

ImageResult image_decode_file(const std::string& path, DecodedImage* out) {
  if (!out) return IMAGE_CORRUPT;
  *out = DecodedImage();
  std::vector<uint8_t> bytes;
  ImageResult r = read_picture_file(path, &bytes);
  return r == IMAGE_OK ? image_decode_memory(bytes.data(), bytes.size(), out) : r;
}

ImageResult image_decode_file_rows(const std::string& path, const ImageRowSink& sink) {
  std::vector<uint8_t> bytes;
  ImageResult r = read_picture_file(path, &bytes);
  return r == IMAGE_OK ? image_decode_memory_rows(bytes.data(), bytes.size(), sink) : r;
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
