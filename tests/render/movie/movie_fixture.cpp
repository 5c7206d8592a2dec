#include "movie_fixture.h"

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/sys/sys.h"
#include "shell/services/startup_config.h"
#include "test_movie.h"

void MovieFixture::SetUp() {
  dir = test_movie_path("movies");
  std::filesystem::create_directories(dir);
  const std::string config = dir + "/config.cf";
  std::ofstream(config) << "MVDATAP " << dir << "/\n";
  load_startup_config(config);
  ASSERT_TRUE(write_test_movie(dir + "/clip.avi", TestMovieCodec::Raw, 8, 6, 5, 10));
  std::vector<uint8_t> bytes = read_test_file(dir + "/clip.avi");
  bytes.resize(200);
  std::ofstream(dir + "/bad.avi", std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 200);
  movie_tex_init();
}

void MovieFixture::TearDown() {
  movie_tex_shutdown();
  shutdown_startup_config();
  std::filesystem::remove_all(dir);
}

int MovieFixture::shown_frame(MovieSlot* slot) {
  AviDecoder& d = slot->decoder;
  std::lock_guard<std::mutex> guard(d.lock);
  // The staging buffer keeps the uploaded frame until it is acknowledged.
  if (d.new_frame == 0 || d.staging.empty()) return -1;
  for (int n = 0; n < 8; ++n)
    if (d.staging[0] == test_movie_top(n) && d.staging.back() == test_movie_bottom(n)) return n;
  return -2;
}

bool MovieFixture::show_frame(MovieSlot* slot, int n) {
  const uint32_t start = sys_ms_clock();
  while (sys_ms_clock() - start < 5000) {
    movie_tex_update();
    const int shown = shown_frame(slot);
    movie_tex_acknowledge_frames();
    if (shown == n) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}
