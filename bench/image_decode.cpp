// Decoding a 24-megapixel JPEG through the picture decoder against
// libjpeg-turbo's own plain decode of the same bytes.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "platform/image/image.h"

namespace {

constexpr int BENCH_WIDTH = 6000;
constexpr int BENCH_HEIGHT = 4000;

// Gradients with a fine pattern and a little noise, so the entropy coder has
// real work, at quality 90 with the usual 4:2:0 chroma.
const std::vector<unsigned char>& bench_jpeg() {
  static const std::vector<unsigned char> bytes = [] {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &mem, &size);
    c.image_width = BENCH_WIDTH;
    c.image_height = BENCH_HEIGHT;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<unsigned char> row(BENCH_WIDTH * 3);
    uint32_t noise = 12345;
    while (c.next_scanline < c.image_height) {
      int y = static_cast<int>(c.next_scanline);
      for (int x = 0; x < BENCH_WIDTH; ++x) {
        noise = noise * 1103515245u + 12345u;
        int n = static_cast<int>((noise >> 16) & 15);
        row[x * 3 + 0] = static_cast<unsigned char>((x * 255 / BENCH_WIDTH + n) & 255);
        row[x * 3 + 1] = static_cast<unsigned char>((y * 255 / BENCH_HEIGHT + ((x / 7 + y / 5) % 2) * 40) & 255);
        row[x * 3 + 2] = static_cast<unsigned char>(((x ^ y) & 63) * 3 + n);
      }
      JSAMPROW rp = row.data();
      jpeg_write_scanlines(&c, &rp, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<unsigned char> out(mem, mem + size);
    jpeg_destroy_compress(&c);
    std::free(mem);
    return out;
  }();
  return bytes;
}

void BM_ImageDecodeJpeg24MP(benchmark::State& state) {
  const auto& jpeg = bench_jpeg();
  for (auto _ : state) {
    DecodedImage img;
    ImageResult r = image_decode_memory(jpeg.data(), jpeg.size(), &img);
    if (r != IMAGE_OK) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(img.argb.data());
  }
  state.counters["MB"] = static_cast<double>(jpeg.size()) / 1e6;
}

// The library alone: its memory source, default RGB output, rows into a buffer.
void BM_LibjpegPlainDecode24MP(benchmark::State& state) {
  const auto& jpeg = bench_jpeg();
  for (auto _ : state) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    size_t stride = static_cast<size_t>(d.output_width) * d.output_components;
    std::vector<unsigned char> pixels(stride * d.output_height);
    while (d.output_scanline < d.output_height) {
      JSAMPROW rows[16];
      JDIMENSION n = d.output_height - d.output_scanline;
      if (n > 16) n = 16;
      for (JDIMENSION i = 0; i < n; ++i) rows[i] = pixels.data() + (d.output_scanline + i) * stride;
      jpeg_read_scanlines(&d, rows, n);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    benchmark::DoNotOptimize(pixels.data());
  }
}

}  // namespace

BENCHMARK(BM_ImageDecodeJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibjpegPlainDecode24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
