// JPEG through libjpeg(-turbo). libjpeg reports fatal errors through
// error_exit, which longjmps back here; the frame that calls setjmp holds only
// plain data and the picture lives in the caller's record.
// jpeglib.h needs size_t and FILE declared first.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/image/image_internal.h"

namespace {

// Beyond the output picture, libjpeg may need whole-picture coefficient
// buffers (progressive files); this caps what one decode may ask for.
constexpr long JPEG_MAX_WORK_MEMORY = 1024L << 20;

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  ImageResult result;
};

struct JpegSource {
  jpeg_source_mgr mgr;  // first, so the library's pointer is ours too
  bool ran_out;         // the data ended and an end marker was supplied
};

struct JpegJob {
  jpeg_decompress_struct cinfo;
  JpegError err;
  JpegSource src;
};

const JOCTET JPEG_FAKE_EOI[2] = {0xFF, JPEG_EOI};

void jpeg_on_error(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  // Running out of the memory budget means too large, anything else damaged.
  err->result = (err->mgr.msg_code == JERR_OUT_OF_MEMORY || err->mgr.msg_code == JERR_NO_BACKING_STORE)
                    ? IMAGE_TOO_LARGE
                    : IMAGE_CORRUPT;
  std::longjmp(err->jump, 1);
}

void jpeg_on_message(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<JpegError*>(cinfo->err);
  // Entropy data that stops before the picture is complete is a cut-short
  // file: refuse it rather than show a grey remainder. Other warnings are
  // recoverable and stay silent.
  if (level < 0 && err->mgr.msg_code == JWRN_HIT_MARKER) {
    err->result = IMAGE_CORRUPT;
    std::longjmp(err->jump, 1);
  }
}

void jpeg_src_init(j_decompress_ptr) {}
void jpeg_src_term(j_decompress_ptr) {}

// At the end of the data the source supplies an end-of-image marker without a
// warning, so a file missing only its final marker still reads; the entropy
// decoder warns (JWRN_HIT_MARKER) when it needed more data than there was.
boolean jpeg_src_fill(j_decompress_ptr cinfo) {
  reinterpret_cast<JpegSource*>(cinfo->src)->ran_out = true;
  cinfo->src->next_input_byte = JPEG_FAKE_EOI;
  cinfo->src->bytes_in_buffer = 2;
  return TRUE;
}

void jpeg_src_skip(j_decompress_ptr cinfo, long n) {
  if (n <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<size_t>(n) >= src->bytes_in_buffer) {
    jpeg_src_fill(cinfo);
    return;
  }
  src->next_input_byte += n;
  src->bytes_in_buffer -= static_cast<size_t>(n);
}

// CMYK bands in place to B, G, R, 0xFF. Files with an Adobe marker store
// the inks inverted (0 = full ink), as print software writes them.
void cmyk_to_argb(uint32_t* pixels, size_t count, bool inverted) {
  auto* p = reinterpret_cast<uint8_t*>(pixels);
  for (size_t i = 0; i < count; ++i, p += 4) {
    uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    p[0] = static_cast<uint8_t>((y * k + 127) / 255);
    p[1] = static_cast<uint8_t>((m * k + 127) / 255);
    p[2] = static_cast<uint8_t>((c * k + 127) / 255);
    p[3] = 0xFF;
  }
}

ImageResult jpeg_run(JpegJob* job, const uint8_t* data, size_t size, const ImageRowSink& sink) {
  jpeg_decompress_struct* cinfo = &job->cinfo;
  if (setjmp(job->err.jump)) return job->err.result;
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = JPEG_MAX_WORK_MEMORY;
  jpeg_source_mgr* src = &job->src.mgr;
  src->next_input_byte = data;
  src->bytes_in_buffer = size;
  src->init_source = jpeg_src_init;
  src->fill_input_buffer = jpeg_src_fill;
  src->skip_input_data = jpeg_src_skip;
  src->resync_to_restart = jpeg_resync_to_restart;
  src->term_source = jpeg_src_term;
  cinfo->src = src;
  jpeg_read_header(cinfo, TRUE);

  ImageResult r = image_check_size(cinfo->image_width, cinfo->image_height);
  if (r != IMAGE_OK) return r;
  // Four-channel files come out as CMYK (the library turns YCCK into CMYK)
  // and are converted band by band; the rest as B, G, R, 0xFF bytes: one
  // little-endian ARGB word per pixel.
  const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(cinfo);
  // A progressive file has been read whole by now. Cut between two scans, it
  // shows no damage but lacks refinement: coefficients never received (-1)
  // or not refined to the last bit.
  if (job->src.ran_out && cinfo->progressive_mode) {
    for (int c = 0; c < cinfo->num_components; ++c)
      for (int k = 0; k < DCTSIZE2; ++k)
        if (cinfo->coef_bits[c][k] != 0) return IMAGE_CORRUPT;
  }
  if (cinfo->output_width != cinfo->image_width || cinfo->output_height != cinfo->image_height ||
      cinfo->output_components != 4)
    return IMAGE_UNSUPPORTED;

  const int width = static_cast<int>(cinfo->output_width), height = static_cast<int>(cinfo->output_height);
  r = sink.begin(sink.user, width, height, false);
  if (r != IMAGE_OK) return r;
  JSAMPROW rows[IMAGE_BAND_ROWS];
  while (cinfo->output_scanline < cinfo->output_height) {
    const int first = static_cast<int>(cinfo->output_scanline);
    const int n = height - first < IMAGE_BAND_ROWS ? height - first : IMAGE_BAND_ROWS;
    uint32_t* band = sink.band(sink.user, first, n);
    if (!band) return IMAGE_TOO_LARGE;
    for (int i = 0; i < n; ++i) rows[i] = reinterpret_cast<JSAMPROW>(band + static_cast<size_t>(i) * width);
    for (int got = 0; got < n;) {
      JDIMENSION read = jpeg_read_scanlines(cinfo, rows + got, static_cast<JDIMENSION>(n - got));
      if (read == 0) return IMAGE_CORRUPT;
      got += static_cast<int>(read);
    }
    if (cmyk) cmyk_to_argb(band, static_cast<size_t>(n) * width, cinfo->saw_Adobe_marker);
    r = sink.done(sink.user, first, n);
    if (r != IMAGE_OK) return r;
  }
  return IMAGE_OK;
}

}  // namespace

ImageResult image_decode_jpeg_rows(const uint8_t* data, size_t size, const ImageRowSink& sink) {
  JpegJob job;
  std::memset(&job, 0, sizeof job);
  job.cinfo.err = jpeg_std_error(&job.err.mgr);
  job.err.mgr.error_exit = jpeg_on_error;
  job.err.mgr.emit_message = jpeg_on_message;
  job.err.result = IMAGE_CORRUPT;
  ImageResult r = jpeg_run(&job, data, size, sink);
  jpeg_destroy_decompress(&job.cinfo);
  return r;
}
