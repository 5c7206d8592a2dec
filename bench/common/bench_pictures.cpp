#include "bench_pictures.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <png.h>

namespace {

void png_write_to(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<BenchBytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

void png_flush_none(png_structp) {}

}  // namespace

BenchBytes bench_encode_jpeg(int width, int height, int quality, BenchRowFn row_fn) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  BenchBytes row(static_cast<size_t>(width) * 3);
  uint32_t noise = 12345;
  while (c.next_scanline < c.image_height) {
    row_fn(static_cast<int>(c.next_scanline), width, height, row.data(), &noise);
    JSAMPROW rp = row.data();
    jpeg_write_scanlines(&c, &rp, 1);
  }
  jpeg_finish_compress(&c);
  BenchBytes out(mem, mem + size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

BenchBytes bench_encode_png(int width, int height, int level, BenchRowFn row_fn) {
  BenchBytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, png_write_to, png_flush_none);
  png_set_compression_level(png, level);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  BenchBytes row(static_cast<size_t>(width) * 3);
  uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    row_fn(y, width, height, row.data(), &noise);
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

void bench_decode_jpeg_plain(const BenchBytes& bytes, BenchBytes& pixels) {
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, bytes.data(), bytes.size());
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  const size_t stride = static_cast<size_t>(d.output_width) * d.output_components;
  pixels.resize(stride * d.output_height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW rows[16];
    JDIMENSION n = d.output_height - d.output_scanline;
    if (n > 16) n = 16;
    for (JDIMENSION i = 0; i < n; ++i) rows[i] = pixels.data() + (d.output_scanline + i) * stride;
    jpeg_read_scanlines(&d, rows, n);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
}
