// Decoding a 24-megapixel JPEG through the picture decoder against
// libjpeg-turbo's own plain decode of the same bytes.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>


#include "common/bench_pictures.h"
#include "platform/image/image.h"

namespace {

constexpr int BENCH_WIDTH = 6000;
constexpr int BENCH_HEIGHT = 4000;

// Gradients with a fine pattern and a little noise, so the entropy coder has
// real work.
void bench_row(int y, int width, int height, unsigned char* row, uint32_t* noise) {
  for (int x = 0; x < width; ++x) {
    *noise = *noise * 1103515245u + 12345u;
    int n = static_cast<int>((*noise >> 16) & 15);
    row[x * 3 + 0] = static_cast<unsigned char>((x * 255 / width + n) & 255);
    row[x * 3 + 1] = static_cast<unsigned char>((y * 255 / height + ((x / 7 + y / 5) % 2) * 40) & 255);
    row[x * 3 + 2] = static_cast<unsigned char>(((x ^ y) & 63) * 3 + n);
  }
}

// At quality 90 with the usual 4:2:0 chroma.
const std::vector<unsigned char>& bench_jpeg() {
  static const std::vector<unsigned char> bytes = bench_encode_jpeg(BENCH_WIDTH, BENCH_HEIGHT, 90, bench_row);
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
    std::vector<unsigned char> pixels;
    bench_decode_jpeg_plain(jpeg, pixels);
    benchmark::DoNotOptimize(pixels.data());
  }
}

}  // namespace

BENCHMARK(BM_ImageDecodeJpeg24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibjpegPlainDecode24MP)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
