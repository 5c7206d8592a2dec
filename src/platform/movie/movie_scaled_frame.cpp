#include "platform/movie/movie_scaled_frame.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr size_t kRowPixels = 16;  // 64 bytes
constexpr size_t kSlackPixels = 16;
#ifdef TL_FUZZ_GUARDS
constexpr size_t kGuardPixels = 1024;
constexpr uint32_t kGuardWord = 0xA5C3A5C3u;

// A write outside the rows ends the process: the scaler is not instrumented,
// so nothing else would see it before the heap breaks somewhere else.
void check_guards(const ScaledFrame* f, const AVFrame* source) {
  const size_t end = f->first + f->stride * static_cast<size_t>(f->height);
  for (size_t i = 0; i < f->words.size(); ++i) {
    if ((i < f->first || i >= end) && f->words[i] != kGuardWord) {
      std::fprintf(stderr,
                   "movie frame conversion wrote outside its destination: %d x %d in pixel format %d to %d x %d, "
                   "at word %td from the first row\n",
                   source->width, source->height, source->format, f->width, f->height,
                   static_cast<ptrdiff_t>(i) - static_cast<ptrdiff_t>(f->first));
      std::abort();
    }
  }
}
#else
constexpr size_t kGuardPixels = 0;
#endif

}  // namespace

void scaled_frame_size(ScaledFrame* f, int32_t width, int32_t height) {
  f->width = width;
  f->height = height;
  f->stride = (static_cast<size_t>(width) + kRowPixels - 1) / kRowPixels * kRowPixels;
  const size_t rows = f->stride * static_cast<size_t>(height);
  f->words.assign(kGuardPixels + kRowPixels - 1 + rows + kSlackPixels + kGuardPixels, 0);
  constexpr size_t kAlignBytes = kRowPixels * 4;
  const uintptr_t at = reinterpret_cast<uintptr_t>(f->words.data() + kGuardPixels);
  f->first = kGuardPixels + (kAlignBytes - at % kAlignBytes) % kAlignBytes / 4;
#ifdef TL_FUZZ_GUARDS
  for (size_t i = 0; i < f->words.size(); ++i)
    if (i < f->first || i >= f->first + rows) f->words[i] = kGuardWord;
#endif
}

const uint32_t* scaled_frame_convert(ScaledFrame* f, const MovieApi* av, SwsContext* scaler,
                                     const AVFrame* source) {
  uint32_t* rows = f->words.data() + f->first;
  uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(rows), nullptr, nullptr, nullptr};
  const int dst_stride[4] = {static_cast<int>(f->stride * 4), 0, 0, 0};
  const int done = av->sws_scale(scaler, source->data, source->linesize, 0, source->height, dst, dst_stride);
#ifdef TL_FUZZ_GUARDS
  check_guards(f, source);
#endif
  if (done != f->height) return nullptr;
  // Row y moves down to y x width, which never lies past its own start, so
  // no row is overwritten before it is read.
  uint32_t* out = rows;
  for (int32_t y = 0; y < f->height; ++y) {
    const uint32_t* row = rows + static_cast<size_t>(y) * f->stride;
    for (int32_t x = 0; x < f->width; ++x) *out++ = row[x] | 0xFF000000u;
  }
  return rows;
}
