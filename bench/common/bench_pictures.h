// Pictures the decoding benchmarks make in their set-up: rows from a pattern
// function, written as JPEG (4:2:0 chroma) or RGB PNG in memory.
#pragma once

#include <cstdint>
#include <vector>

using BenchBytes = std::vector<unsigned char>;
// Fills one row of RGB bytes; noise is the caller's running random state.
using BenchRowFn = void (*)(int y, int width, int height, unsigned char* rgb, uint32_t* noise);

BenchBytes bench_encode_jpeg(int width, int height, int quality, BenchRowFn row);
BenchBytes bench_encode_png(int width, int height, int level, BenchRowFn row);
// The reference decode: libjpeg-turbo's defaults (RGB), rows 16 at a time,
// into pixels (resized to the picture).
void bench_decode_jpeg_plain(const BenchBytes& bytes, BenchBytes& pixels);
