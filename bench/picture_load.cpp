// LOAD of a ".sav" holding a 24-megapixel picture, the way the viewer runs it
// (the file dialog's answer, the file read and checked, the picture decoded
// into its texture, the first frame that shows it), beside a plain
// libjpeg-turbo or libpng decode of the same picture in the same run.
//
// Figures: each LOAD benchmark reports x_plain, its mean time over the plain
// decode's mean measured just before it, and the peak memory LOAD adds:
// a fresh copy of this program (--peak-child) starts the viewer, shows the
// sample, resets the kernel's peak-RSS mark (/proc/self/clear_refs, 5), runs
// one LOAD and first frame, and reports VmHWM minus the RSS before it;
// peak_x_picture is that over the decoded picture's size (4 bytes a pixel).
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>


#include "common/bench_pictures.h"
#include "platform/sys/sys.h"
#include "platform/window/file_dialog.h"
#include "platform/window/window.h"
#include "render/graphics/graphics.h"
#include "shell/app/app.h"
#include "viewer/save_file.h"
#include "viewer/viewer_arrangement.h"
#include "viewer/viewer_input.h"
#include "viewer/viewer_scene.h"
#include "viewer/viewer_state.h"

namespace {

constexpr int kPictureWidth = 6000;
constexpr int kPictureHeight = 4000;
constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 1024;
constexpr double kPictureBytes = double(kPictureWidth) * kPictureHeight * 4;

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

// A photograph stand-in: broad gradients and soft shapes with a little grain,
// compressible but with real entropy-coder work (about 3 MB as JPEG).
void picture_row(int y, int width, int, unsigned char* rgb, uint32_t* noise) {
  for (int x = 0; x < width; ++x) {
    *noise = *noise * 1103515245u + 12345u;
    const int n = static_cast<int>((*noise >> 16) & 7) - 4;
    const int ring = ((x - 3000) * (x - 3000) + (y - 2000) * (y - 2000)) / 40000 % 64;
    const int v[3] = {x * 200 / kPictureWidth + ring + n, y * 180 / kPictureHeight + 40 + n,
                      ((x / 50 + y / 70) % 3) * 40 + 60 + n};
    for (int c = 0; c < 3; ++c) rgb[x * 3 + c] = static_cast<unsigned char>(v[c] < 0 ? 0 : v[c] > 255 ? 255 : v[c]);
  }
}

Bytes make_jpeg() { return bench_encode_jpeg(kPictureWidth, kPictureHeight, 85, picture_row); }

Bytes make_png() { return bench_encode_png(kPictureWidth, kPictureHeight, 6, picture_row); }

// The pictures and their ".sav" files, made once per process.
struct Sample {
  Bytes picture;
  std::string sav;
};

std::string temp_dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/tl_picture_load_XXXXXX";
    return std::string(::mkdtemp(tmpl));
  }();
  return dir;
}

const Sample& sample(bool jpeg) {
  static Sample samples[2];
  Sample& s = samples[jpeg ? 0 : 1];
  if (s.picture.empty()) {
    s.picture = jpeg ? make_jpeg() : make_png();
    SaveArrangement a;
    a.picture = s.picture;
    s.sav = temp_dir() + (jpeg ? "/jpeg24mp.sav" : "/png24mp.sav");
    save_write_file(s.sav, a);
  }
  return s;
}

// ---- Plain library decodes ----------------------------------------------------------------

struct PngReader {
  const Bytes* bytes;
  size_t at;
};
void png_read_from(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<PngReader*>(png_get_io_ptr(png));
  std::memcpy(out, r->bytes->data() + r->at, n);
  r->at += n;
}

void plain_png_decode(const Bytes& bytes, Bytes& pixels) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  PngReader reader{&bytes, 0};
  png_set_read_fn(png, &reader, png_read_from);
  png_read_info(png, info);
  const size_t stride = png_get_rowbytes(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  pixels.resize(stride * height);
  for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, pixels.data() + y * stride, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
}

// Mean seconds of the last plain decode, for the LOAD benchmark after it.
double plain_mean[2];

void BM_PlainDecode(benchmark::State& state, bool jpeg) {
  const Sample& s = sample(jpeg);
  Bytes pixels;
  double total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (jpeg)
      bench_decode_jpeg_plain(s.picture, pixels);
    else
      plain_png_decode(s.picture, pixels);
    benchmark::DoNotOptimize(pixels.data());
    total += std::chrono::duration<double>(Clock::now() - start).count();
    Bytes().swap(pixels);  // each decode allocates its picture, as LOAD does
  }
  plain_mean[jpeg ? 0 : 1] = total / static_cast<double>(state.iterations());
  state.counters["file_MB"] = static_cast<double>(s.picture.size()) / 1e6;
}

// ---- The viewer ---------------------------------------------------------------------------

void headless() {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("ALSOFT_DRIVERS", "null", 0);
  setenv("TL_MESSAGEBOX", "stderr", 0);
}

PlatformWindow* g_window = nullptr;

// The mouse rests on the picture, away from the menu; nothing is pressed.
void still_input(ViewerInput* in) { *in = ViewerInput{kWindowWidth / 2, kWindowHeight / 2, false, false, false, false}; }

// The viewer on the engine, showing the sample arrangement; LOAD's dialog
// answers the given file.
bool viewer_start(const std::string& sav) {
  headless();
  const std::string answers = temp_dir() + "/answers.txt";
  std::ofstream(answers) << sav << "\n";
  setenv("TL_FILE_DIALOG_ANSWERS", answers.c_str(), 1);
  setup_work_directory();
  if (!window_system_init()) return false;
  g_window = window_create("picture load bench", kWindowWidth, kWindowHeight, nullptr);
  const int layout[5] = {kWindowWidth, kWindowHeight, kWindowWidth, kWindowHeight, 0};
  if (!g_window || gfx_init(g_window, 0, kWindowWidth, kWindowHeight, 32, layout) != 1) return false;
  viewer_input_set_source(still_input);
  viewer_scene_init();
  viewer_scene_update();  // loads the sample arrangement
  run_frame(0);
  return viewer_state().picture != 0;
}

void viewer_stop() {
  viewer_scene_release();
  viewer_input_set_source(nullptr);
  gfx_shutdown();
  window_destroy(g_window);
  window_system_shutdown();
}

// LOAD through the dialog, then the frame that shows the picture.
bool load_and_show() {
  file_dialog_reset_answers();
  save_load(nullptr);
  viewer_scene_update();
  run_frame(0);
  return viewer_state().picture_bytes.size() > 100000;
}

long status_kb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(key);
  while (std::getline(in, line))
    if (line.compare(0, n, key) == 0) return std::strtol(line.c_str() + n + 1, nullptr, 10);
  return -1;
}

// In the fresh child: the bytes of resident memory one LOAD adds at its peak.
int peak_child(const std::string& sav) {
  if (!viewer_start(sav)) return 1;
  const long before = status_kb("VmRSS:");
  std::ofstream("/proc/self/clear_refs") << "5";
  const bool shown = load_and_show();
  const long peak = status_kb("VmHWM:");
  std::printf("%ld\n", shown && before > 0 && peak > 0 ? (peak - before) * 1024 : -1L);
  viewer_stop();
  std::system(("rm -rf '" + temp_dir() + "'").c_str());
  return 0;
}

double peak_in_child(const std::string& sav) {
  const std::string command = "'/proc/" + std::to_string(::getpid()) + "/exe' --peak-child '" + sav + "' 2>/dev/null";
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  double bytes = -1;
  if (std::fscanf(p, "%lf", &bytes) != 1) bytes = -1;
  ::pclose(p);
  return bytes;
}

void BM_Load(benchmark::State& state, bool jpeg) {
  const Sample& s = sample(jpeg);
  const double peak = peak_in_child(s.sav);
  if (!viewer_start(s.sav)) {
    state.SkipWithError("no window or no sample");
    return;
  }
  double total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    const bool shown = load_and_show();
    total += std::chrono::duration<double>(Clock::now() - start).count();
    if (!shown) {
      state.SkipWithError("the picture was not shown");
      break;
    }
    // The next LOAD starts from the small sample, as after start-up.
    state.PauseTiming();
    save_load("sample01.sav");
    state.ResumeTiming();
  }
  viewer_stop();
  const double mean = total / static_cast<double>(state.iterations());
  const double plain = plain_mean[jpeg ? 0 : 1];
  if (plain > 0) state.counters["x_plain"] = mean / plain;
  state.counters["load_ms"] = mean * 1000;
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["peak_x_picture"] = peak / kPictureBytes;
}

}  // namespace

// Each LOAD runs right after the plain decode it is compared with.
BENCHMARK_CAPTURE(BM_PlainDecode, jpeg24mp, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK_CAPTURE(BM_Load, jpeg24mp, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK_CAPTURE(BM_PlainDecode, png24mp, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK_CAPTURE(BM_Load, png24mp, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak-child") == 0) return peak_child(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::system(("rm -rf '" + temp_dir() + "'").c_str());
  return 0;
}
