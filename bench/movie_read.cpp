// Reading a 640 x 480 H.264 movie frame by frame in order, as a movie slot
// does, when one position in eleven is an empty chunk (a dropped frame),
// against the same movie without them read just before it in the same run.
// Key frames lie as far apart as the encoder puts them by default, so a read
// that seeks pays for it.
//
// Figures: the gaps benchmark reports x_plain, its mean time over the plain
// movie's mean; each iteration opens the file, reads every position and
// closes it.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/movie/movie_file.h"
#include "render/movie/test_movie.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kPositions = 231;  // 21 of them empty in the gaps movie
constexpr int kRate = 25;
constexpr int kKeyInterval = 250;  // the H.264 encoder's own default

using Clock = std::chrono::steady_clock;

struct BenchMovie {
  std::string path;
  bool written;
};

BenchMovie movies[2] = {{test_movie_path("bench_plain.avi"), false}, {test_movie_path("bench_gaps.avi"), false}};

// Written on first use, once per process.
const std::string& movie_path(bool gaps) {
  BenchMovie& m = movies[gaps ? 1 : 0];
  if (!m.written) {
    TestMovieShape shape;
    shape.key_interval = kKeyInterval;
    if (gaps) {
      shape.gap_at = 10;
      shape.gap_length = 1;
      shape.gap_every = 11;
    }
    m.written = write_test_movie(m.path, TestMovieCodec::H264BFrames, kWidth, kHeight, kPositions, kRate, shape);
  }
  return m.path;
}

// Mean seconds of the plain movie's read, for the gaps benchmark after it.
double plain_mean = 0;

void BM_MovieReadInOrder(benchmark::State& state, bool gaps) {
  if (!test_movie_codec_available(TestMovieCodec::H264BFrames)) {
    state.SkipWithError("no H.264 encoder");
    return;
  }
  const std::string& path = movie_path(gaps);
  double total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    std::string error;
    MovieFile* f = movie_file_open(path, &error);
    if (f == nullptr) {
      state.SkipWithError(error.c_str());
      break;
    }
    const uint32_t count = movie_file_info(f).frame_count;
    uint32_t shown = 0;
    for (uint32_t n = 0; n < count; ++n) shown += movie_file_frame(f, n) != nullptr ? 1 : 0;
    movie_file_close(f);
    total += std::chrono::duration<double>(Clock::now() - start).count();
    if (shown != count) {
      state.SkipWithError("a position gave no frame");
      break;
    }
  }
  const double mean = total / static_cast<double>(state.iterations());
  if (gaps && plain_mean > 0) state.counters["x_plain"] = mean / plain_mean;
  if (!gaps) plain_mean = mean;
  state.counters["read_ms"] = mean * 1000;
}

}  // namespace

// The gaps movie runs right after the plain one it is compared with.
BENCHMARK_CAPTURE(BM_MovieReadInOrder, plain, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(BM_MovieReadInOrder, gaps, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const BenchMovie& m : movies) std::remove(m.path.c_str());
  return 0;
}
