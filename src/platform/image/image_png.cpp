// PNG through libpng. libpng reports errors by longjmp, so the frame that calls
// setjmp holds only plain data; the picture lives in the caller's record.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "platform/image/image_internal.h"

namespace {

struct PngSource {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

struct PngJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngSource src{};
  png_bytep* rows = nullptr;  // malloc'd so a longjmp leaves nothing to destroy
};

void png_read_memory(png_structp png, png_bytep out, png_size_t n) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  if (n > src->size - src->pos) png_error(png, "data cut short");
  std::memcpy(out, src->data + src->pos, n);
  src->pos += n;
}

void png_on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_on_warning(png_structp, png_const_charp) {}

ImageResult png_run(PngJob* job, DecodedImage* img) {
  png_structp png = job->png;
  png_infop info = job->info;
  if (setjmp(png_jmpbuf(png))) return IMAGE_CORRUPT;
  png_set_read_fn(png, &job->src, png_read_memory);
  png_read_info(png, info);

  png_uint_32 width = 0, height = 0;
  int depth = 0, colour = 0, interlace = 0;
  png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
  ImageResult r = image_check_size(width, height);
  if (r != IMAGE_OK) return r;
  // Deflate shrinks data at most 1032 to 1: a file too short to hold the
  // picture is refused before the picture is allocated.
  uint64_t raw = (1 + (static_cast<uint64_t>(width) * png_get_channels(png, info) * depth + 7) / 8) * height;
  if (job->src.size < raw / 1032) return IMAGE_CORRUPT;
  img->has_alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;

  // Everything becomes 8-bit B, G, R, A bytes: one little-endian ARGB word.
  png_set_expand(png);
  png_set_strip_16(png);
  if ((colour & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4) return IMAGE_UNSUPPORTED;

  r = image_allocate(img, width, height);
  if (r != IMAGE_OK) return r;
  job->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
  if (!job->rows) return IMAGE_TOO_LARGE;
  for (png_uint_32 y = 0; y < height; ++y)
    job->rows[y] = reinterpret_cast<png_bytep>(img->argb.data() + static_cast<size_t>(y) * width);
  png_read_image(png, job->rows);
  return IMAGE_OK;
}

}  // namespace

ImageResult image_decode_png(const uint8_t* data, size_t size, DecodedImage* img) {
  PngJob job;
  job.src = {data, size, 0};
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_on_error, png_on_warning);
  if (!job.png) return IMAGE_TOO_LARGE;
  job.info = png_create_info_struct(job.png);
  ImageResult r = job.info ? png_run(&job, img) : IMAGE_TOO_LARGE;
  png_destroy_read_struct(&job.png, job.info ? &job.info : nullptr, nullptr);
  std::free(job.rows);
  return r;
}
