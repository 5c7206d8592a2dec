// A movie played into a slot on a real device: the front texture holds each
// frame's colours, the crop covers the frame, stopping gives the texture up.
#include <gtest/gtest.h>

#include "assets/crops.h"
#include "assets/textures.h"
#include "movie_fixture.h"
#include "platform/sys/sys.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/graphics/graphics.h"
#include "render/view/view_state.h"
#include "test_movie.h"

namespace {

class MovieOnDevice : public MovieFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("movie play test", 64, 48, nullptr);
    ASSERT_NE(window, nullptr);
    const int layout[5] = {64, 48, 64, 48, 0};
    view_set_screen(64, 48, layout);
    gfx_install_device_hooks();
    ASSERT_EQ(gfx_device_init(GfxDeviceParams{window, 64, 48, 32, 0, 0, nullptr, nullptr}), 1);
    MovieFixture::SetUp();
  }
  void TearDown() override {
    MovieFixture::TearDown();
    gfx_device_shutdown();
    window_destroy(window);
    window_system_shutdown();
  }
  // The front texture after the next upload that shows frame n.
  AssetHandle front_texture_of_frame(MovieSlot* s, int n) {
    const uint32_t start = sys_ms_clock();
    while (sys_ms_clock() - start < 5000) {
      movie_tex_update();
      const AssetHandle tex = get_crop_record(movie_tex_front_crop(s))->texture;
      const bool hit = read_texture_texel(tex, 0, 0) == test_movie_top(n) && shown_frame(s) == n;
      movie_tex_acknowledge_frames();
      if (hit) return tex;
      sys_sleep_ms(1);
    }
    return 0;
  }

  PlatformWindow* window = nullptr;
};

TEST_F(MovieOnDevice, FrontTextureHoldsEachFrame) {
  MovieSlot* s = movie_tex_play(5, "clip.avi", kMovieCallerFrames);
  ASSERT_NE(s, nullptr);
  for (int j = 0; j < 2; ++j) {
    const TextureObject* t = get_texture_object(s->decoder.textures[j]);
    EXPECT_EQ(t->width, 8);
    EXPECT_EQ(t->height, 8);
    const CropRecord* c = get_crop_record(s->decoder.crops[j]);
    EXPECT_FLOAT_EQ(c->u, 0.0f);
    EXPECT_FLOAT_EQ(c->v, 0.0f);
    EXPECT_FLOAT_EQ(c->width, 1.0f);
    EXPECT_FLOAT_EQ(c->height, 0.75f);
  }
  AssetHandle previous = 0;
  for (int n : {0, 2, 3, 1}) {
    ASSERT_EQ(movie_tex_seek(s, static_cast<uint32_t>(n)), 1);
    const AssetHandle tex = front_texture_of_frame(s, n);
    ASSERT_NE(tex, 0u) << "frame " << n;
    EXPECT_EQ(read_texture_texel(tex, 7, 2), test_movie_top(n));
    EXPECT_EQ(read_texture_texel(tex, 0, 3), test_movie_bottom(n));
    EXPECT_EQ(read_texture_texel(tex, 7, 5), test_movie_bottom(n));
    EXPECT_NE(tex, previous) << "front and back take turns";
    previous = tex;
  }
  movie_tex_stop(s);
  for (int j = 0; j < 2; ++j) {
    EXPECT_EQ(get_texture_object(s->decoder.textures[j])->width, 0);
    EXPECT_FLOAT_EQ(get_crop_record(s->decoder.crops[j])->width, 0.0f);
  }
}

}  // namespace
