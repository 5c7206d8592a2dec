// PNG through libpng. libpng reports errors by longjmp, so the frame that calls
// setjmp holds only plain data; the picture lives in the caller's record.
#include <png.h>

#include <algorithm>
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

// A row of R, G, B bytes that libpng wrote into the last three quarters of
// the row's memory, widened in place from the front to B, G, R, 0xFF: pixel
// x is read before it is written, and its four bytes end before pixel x + 1's
// three begin.
void png_widen_rgb(uint8_t* row, size_t width) {
  const uint8_t* rgb = row + width;
  auto* argb = reinterpret_cast<uint32_t*>(row);
  for (size_t x = 0; x < width; ++x) {
    const uint32_t r = rgb[3 * x], g = rgb[3 * x + 1], b = rgb[3 * x + 2];
    argb[x] = 0xFF000000u | r << 16 | g << 8 | b;
  }
}
void png_on_warning(png_structp, png_const_charp) {}

ImageResult png_run(PngJob* job, const ImageRowSink& sink) {
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
  const bool has_alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;

  // Everything becomes 8-bit B, G, R, A bytes: one little-endian ARGB word.
  // Plain 8-bit RGB, the usual photograph, is read as it is stored and
  // widened here, in one pass that costs less than libpng's reordering and
  // filling of every row.
  const bool rgb = colour == PNG_COLOR_TYPE_RGB && depth == 8 && !has_alpha;
  if (!rgb) {
    png_set_expand(png);
    png_set_strip_16(png);
    if ((colour & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * (rgb ? 3 : 4)) return IMAGE_UNSUPPORTED;
  const size_t row_offset = rgb ? width : 0;

  r = sink.begin(sink.user, int(width), int(height), has_alpha);
  if (r != IMAGE_OK) return r;
  // An interlaced picture is complete only after its last pass: one band.
  const int band_rows = passes > 1 ? int(height) : IMAGE_BAND_ROWS;
  job->rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * size_t(band_rows)));
  if (!job->rows) return IMAGE_TOO_LARGE;
  for (int first = 0; first < int(height); first += band_rows) {
    const int n = std::min(band_rows, int(height) - first);
    uint32_t* band = sink.band(sink.user, first, n);
    if (!band) return IMAGE_TOO_LARGE;
    for (int i = 0; i < n; ++i) job->rows[i] = reinterpret_cast<png_bytep>(band + size_t(i) * width) + row_offset;
    if (passes > 1) {
      png_read_image(png, job->rows);
    } else {
      png_read_rows(png, job->rows, nullptr, png_uint_32(n));
    }
    if (rgb)
      for (int i = 0; i < n; ++i) png_widen_rgb(job->rows[i] - row_offset, width);
    r = sink.done(sink.user, first, n);
    if (r != IMAGE_OK) return r;
  }
  return IMAGE_OK;
}

}  // namespace

ImageResult image_decode_png_rows(const uint8_t* data, size_t size, const ImageRowSink& sink) {
  PngJob job;
  job.src = {data, size, 0};
  job.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_on_error, png_on_warning);
  if (!job.png) return IMAGE_TOO_LARGE;
  job.info = png_create_info_struct(job.png);
  ImageResult r = job.info ? png_run(&job, sink) : IMAGE_TOO_LARGE;
  png_destroy_read_struct(&job.png, job.info ? &job.info : nullptr, nullptr);
  std::free(job.rows);
  return r;
}
