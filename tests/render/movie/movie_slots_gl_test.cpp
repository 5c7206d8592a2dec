// Movie slots on a real device: their textures and crops at start-up.
#include <gtest/gtest.h>

#include <cstdio>

#include "assets/crops.h"
#include "assets/textures.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/graphics/graphics.h"
#include "render/movie/movie_textures.h"
#include "render/view/view_state.h"

namespace {

TEST(MovieSlotsOnDevice, StartUpRegistersEightTexturesAndCropsOnce) {
  ASSERT_TRUE(window_system_init());
  PlatformWindow* window = window_create("movie test", 64, 48, nullptr);
  ASSERT_NE(window, nullptr);
  const int layout[5] = {64, 48, 64, 48, 0};
  view_set_screen(64, 48, layout);
  gfx_install_device_hooks();
  ASSERT_EQ(gfx_device_init(GfxDeviceParams{window, 64, 48, 32, 0, 0, nullptr, nullptr}), 1);
  const int32_t before = count_textures();
  movie_tex_init();
  EXPECT_EQ(count_textures(), before + 8);
  EXPECT_STREQ(movie_tex_pool()->path, ".\\bin\\") << "no start-up file names the movie folder";
  for (int i = 0; i < kMovieSlotCount; ++i) {
    for (int j = 0; j < 2; ++j) {
      char name[16];
      std::snprintf(name, sizeof(name), "movtex%d%d", i, j);
      const AssetHandle tex = find_texture("motex", name);
      EXPECT_NE(tex, 0u) << name;
      const AssetHandle crop = find_crop("motex", name);
      ASSERT_NE(crop, 0u) << name;
      EXPECT_EQ(get_crop_record(crop)->texture, tex);
      EXPECT_EQ(get_texture_object(tex)->width, 1);
      EXPECT_EQ(get_texture_object(tex)->device_format, GPU_FMT_X8R8G8B8);
      EXPECT_FLOAT_EQ(get_crop_record(crop)->width, 0.0f);
      EXPECT_EQ(movie_tex_pool()->slots[i].decoder.crops[j], crop);
    }
  }
  movie_tex_shutdown();
  EXPECT_EQ(count_textures(), before);
  movie_tex_init();
  EXPECT_EQ(count_textures(), before + 8);
  movie_tex_shutdown();
  gfx_device_shutdown();
  window_destroy(window);
  window_system_shutdown();
}

}  // namespace
