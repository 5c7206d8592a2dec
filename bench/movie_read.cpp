// Reading a 640 x 480 H.264 movie frame by frame in order, as a movie slot
// does, when one position in eleven is an empty chunk (a dropped frame),
// against the same movie without them read just before it in the same run.
// Key frames lie as far apart as the encoder puts them by default, so a read
// that seeks pays for it.
//
// Figures: the gaps benchmark reports x_plain, its mean time over the plain
// movie's mean; each iteration opens the file, reads every position and
// closes it.
//
// Opening ten-minute 640 x 480 movies: MPEG-4 with the H.264 encoder's key
// interval (about 60 MB, as the test writer makes it); MJPEG with PCM audio
// laid out as GStreamer's avimux writes it, where every picture is a key; and
// MPEG-4 with PCM audio and a key every 12 frames, the MPEG-4 encoder's
// default, as the muxer writes it and laid out as other writers lay it out
// (each chunk padded to 2,048 bytes, each frame in a 'LIST rec ', idx1's
// offsets counted from the first chunk). For each, the movie library alone opening it (its headers and
// index, avformat_open_input), then the reader opening it (which also makes
// its first frame), cold (the file dropped from the page cache before each
// open) and warm. Each reports open_ms; disk_mb, the bytes read from the
// disk by the open (the process's read_bytes in /proc/self/io, which counts
// what the page cache had to fetch); reads, its read calls (the process's
// syscr there: each call of the reader's input, each read of the library's
// file, is one system call, and on a network disk one round trip); and
// read_mb, the bytes those calls asked for and got (rchar). The reader's
// open reports x_demuxer, x_demuxer_disk, x_demuxer_reads and
// x_demuxer_read_bytes: its time, disk bytes, read calls and bytes read over
// the library's, measured just before it in the same run. The movies are
// written once a run, which takes most of its time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/movie/movie_file.h"
#include "render/movie/test_movie.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kPositions = 231;  // 21 of them empty in the gaps movie
constexpr int kRate = 25;
constexpr int kKeyInterval = 250;  // the H.264 encoder's own default

using Clock = std::chrono::steady_clock;

constexpr int kLongPositions = 10 * 60 * kRate;

struct BenchMovie {
  std::string path;
  bool written;
};

BenchMovie movies[2] = {{test_movie_path("bench_plain.avi"), false}, {test_movie_path("bench_gaps.avi"), false}};

// 16-bit mono PCM at 44.1 kHz, one chunk a frame.
constexpr int kAudioBytes = 44100 / kRate * 2;

// The ten-minute movies whose opens are measured, which encode fast enough
// to write once a run; the last three are the key-every-12 movie laid out
// as other writers lay it out.
enum LongMovie { kMpeg4, kMjpegAvimux, kMpeg4Key12, kKey12Padded, kKey12RecLists, kKey12IndexFromFirstChunk, kLongMovies };

struct LongMovieKind {
  TestMovieCodec codec;
  TestMovieShape shape;
  BenchMovie movie;
  LongMovie from = kLongMovies;  // a movie whose file is laid out anew, or kLongMovies: written
};

constexpr TestMovieShape kKey12{.key_interval = 12, .audio = kAudioBytes};

LongMovieKind long_movies[kLongMovies] = {
    {TestMovieCodec::Mpeg4, {.key_interval = kKeyInterval}, {test_movie_path("bench_long.avi"), false}},
    {TestMovieCodec::Mjpeg, {.audio = kAudioBytes, .avimux = true}, {test_movie_path("bench_long_mjpeg.avi"), false}},
    {TestMovieCodec::Mpeg4, kKey12, {test_movie_path("bench_long_key12.avi"), false}},
    // Each chunk padded by a JUNK chunk to 2,048 bytes of the file, as
    // capture writers pad; each frame with its audio in a 'LIST rec '; idx1's
    // offsets counted from the first chunk, its first entry 4 bytes off.
    {TestMovieCodec::Mpeg4, {.pad_to = 2048}, {test_movie_path("bench_long_padded.avi"), false}, kMpeg4Key12},
    {TestMovieCodec::Mpeg4, {.rec_lists = true}, {test_movie_path("bench_long_rec.avi"), false}, kMpeg4Key12},
    {TestMovieCodec::Mpeg4, {.index_shift = -4}, {test_movie_path("bench_long_shifted.avi"), false}, kMpeg4Key12}};

const std::string& long_movie_path(LongMovie which) {
  LongMovieKind& k = long_movies[which];
  if (!k.movie.written && k.from != kLongMovies) {
    std::error_code error;
    k.movie.written = std::filesystem::copy_file(long_movie_path(k.from), k.movie.path,
                                                 std::filesystem::copy_options::overwrite_existing, error) &&
                      test_movie_lay_out(k.movie.path, k.shape);
  } else if (!k.movie.written) {
    k.movie.written = write_test_movie(k.movie.path, k.codec, kWidth, kHeight, kLongPositions, kRate, k.shape);
  }
  return k.movie.path;
}

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

// Opens the movie, or tells the benchmark why it cannot.
MovieFile* open_or_skip(benchmark::State& state, const std::string& path) {
  std::string error;
  MovieFile* f = movie_file_open(path, &error);
  if (f == nullptr) state.SkipWithError(error.c_str());
  return f;
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
    MovieFile* f = open_or_skip(state, path);
    if (f == nullptr) break;
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

// What this process has read so far (/proc/self/io): bytes read from the
// disk, read calls and the bytes they returned; -1 where the system does not
// say.
struct ReadCount {
  int64_t disk_bytes = -1;
  int64_t calls = -1;
  int64_t bytes = -1;
};

ReadCount read_count_now() {
  ReadCount c;
  std::ifstream io("/proc/self/io");
  for (std::string line; std::getline(io, line);) {
    const auto field = [&](const char* name, int64_t* to) {
      const size_t n = std::strlen(name);
      if (line.compare(0, n, name) == 0) *to = std::stoll(line.substr(n));
    };
    field("read_bytes:", &c.disk_bytes);
    field("syscr:", &c.calls);
    field("rchar:", &c.bytes);
  }
  return c;
}

// The read calls and bytes a count between two reads of /proc/self/io takes
// for the reading itself, taken out of each count.
ReadCount read_count_cost() {
  static const ReadCount cost = [] {
    const ReadCount a = read_count_now();
    const ReadCount b = read_count_now();
    return ReadCount{0, b.calls - a.calls, b.bytes - a.bytes};
  }();
  return cost;
}

// Drops the file from the page cache, so that its next open reads the disk.
void drop_from_cache(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fdatasync(fd);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// One open of the long movie, timed and its reads counted.
struct OpenCost {
  double seconds = 0;
  double disk_bytes = 0;
  double read_calls = 0;
  double read_bytes = 0;
};

// The library's mean open of each movie, cold and warm, for the reader's
// after it.
OpenCost library_open[kLongMovies][2];

template <typename Open>
OpenCost measure_opens(benchmark::State& state, LongMovie which, bool cold, Open open) {
  const std::string& path = long_movie_path(which);
  const ReadCount cost = read_count_cost();
  OpenCost total;
  for (auto _ : state) {
    if (cold) drop_from_cache(path);
    const ReadCount before = read_count_now();
    const auto start = Clock::now();
    if (!open(path)) break;
    total.seconds += std::chrono::duration<double>(Clock::now() - start).count();
    const ReadCount after = read_count_now();
    total.disk_bytes += static_cast<double>(after.disk_bytes - before.disk_bytes);
    total.read_calls += static_cast<double>(after.calls - before.calls - cost.calls);
    total.read_bytes += static_cast<double>(after.bytes - before.bytes - cost.bytes);
  }
  const double n = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  const OpenCost mean{total.seconds / n, total.disk_bytes / n, total.read_calls / n, total.read_bytes / n};
  state.counters["open_ms"] = mean.seconds * 1000;
  const ReadCount now = read_count_now();
  if (now.disk_bytes >= 0) state.counters["disk_mb"] = mean.disk_bytes / 1e6;
  if (now.calls >= 0) state.counters["reads"] = mean.read_calls;
  if (now.bytes >= 0) state.counters["read_mb"] = mean.read_bytes / 1e6;
  return mean;
}

void BM_LongMovieOpenByTheLibrary(benchmark::State& state, LongMovie which, bool cold) {
  library_open[which][cold ? 1 : 0] = measure_opens(state, which, cold, [&](const std::string& path) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), av_find_input_format("avi"), nullptr) < 0) {
      state.SkipWithError("the library cannot open the movie");
      return false;
    }
    avformat_close_input(&format);
    return true;
  });
}

void BM_LongMovieOpen(benchmark::State& state, LongMovie which, bool cold) {
  const OpenCost mean = measure_opens(state, which, cold, [&](const std::string& path) {
    MovieFile* f = open_or_skip(state, path);
    if (f == nullptr) return false;
    const bool whole = movie_file_info(f).frame_count == kLongPositions;
    movie_file_close(f);
    if (!whole) state.SkipWithError("the movie's length is not its positions'");
    return whole;
  });
  const OpenCost& library = library_open[which][cold ? 1 : 0];
  if (library.seconds > 0) state.counters["x_demuxer"] = mean.seconds / library.seconds;
  if (library.disk_bytes > 0) state.counters["x_demuxer_disk"] = mean.disk_bytes / library.disk_bytes;
  if (library.read_calls > 0) state.counters["x_demuxer_reads"] = mean.read_calls / library.read_calls;
  if (library.read_bytes > 0) state.counters["x_demuxer_read_bytes"] = mean.read_bytes / library.read_bytes;
}

}  // namespace

// The reader's opens run right after the library's they are compared with.
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, mpeg4_cold, kMpeg4, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, mpeg4_cold, kMpeg4, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, mpeg4_warm, kMpeg4, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, mpeg4_warm, kMpeg4, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, mjpeg_avimux_cold, kMjpegAvimux, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, mjpeg_avimux_cold, kMjpegAvimux, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, mjpeg_avimux_warm, kMjpegAvimux, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, mjpeg_avimux_warm, kMjpegAvimux, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, mpeg4_key12_cold, kMpeg4Key12, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, mpeg4_key12_cold, kMpeg4Key12, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, mpeg4_key12_warm, kMpeg4Key12, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, mpeg4_key12_warm, kMpeg4Key12, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, key12_padded_cold, kKey12Padded, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, key12_padded_cold, kKey12Padded, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, key12_padded_warm, kKey12Padded, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, key12_padded_warm, kKey12Padded, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, key12_rec_lists_cold, kKey12RecLists, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, key12_rec_lists_cold, kKey12RecLists, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, key12_rec_lists_warm, kKey12RecLists, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, key12_rec_lists_warm, kKey12RecLists, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, key12_index_from_first_chunk_cold, kKey12IndexFromFirstChunk, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, key12_index_from_first_chunk_cold, kKey12IndexFromFirstChunk, true)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpenByTheLibrary, key12_index_from_first_chunk_warm, kKey12IndexFromFirstChunk, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
BENCHMARK_CAPTURE(BM_LongMovieOpen, key12_index_from_first_chunk_warm, kKey12IndexFromFirstChunk, false)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);
// The gaps movie runs right after the plain one it is compared with.
BENCHMARK_CAPTURE(BM_MovieReadInOrder, plain, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(BM_MovieReadInOrder, gaps, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const BenchMovie& m : movies) std::remove(m.path.c_str());
  for (const LongMovieKind& k : long_movies) std::remove(k.movie.path.c_str());
  return 0;
}
