#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/package_loader.h"
#include "assets/textures.h"
#include "render/movie/movie_player.h"
#include "render/movie/movie_textures.h"
#include "render/tasks/task.h"
#include "render/views/render_views.h"
#include "shell/services/startup_config.h"

namespace {

class IdleComponents : public ::testing::Test {
 protected:
  void SetUp() override {
    shutdown_startup_config();
    init_asset_registry();
    render_views_init();
    movie_tex_init();
    tasks_init();
  }
  void TearDown() override {
    tasks_shutdown();
    movie_tex_shutdown();
    render_views_shutdown();
    shutdown_asset_registry();
  }
};

TEST_F(IdleComponents, RenderViewsWithoutADeviceAreRefused) {
  EXPECT_STREQ(render_view_pool()->views[7].name, "n_00000007");
  EXPECT_EQ(render_view_create(7, 64, 32, "v"), nullptr) << "no target can be made";
  EXPECT_EQ(render_views_count(), 0);
  render_views_draw_all();
  render_views_on_device_lost();
  EXPECT_EQ(render_views_count(), 0);
}

TEST_F(IdleComponents, MovieSlotsStayIdle) {
  EXPECT_EQ(movie_tex_count(), 0);
  EXPECT_STREQ(movie_tex_pool()->path, ".\\bin\\");
  MovieSlot* slot = movie_tex_pool()->free;
  ASSERT_NE(slot, nullptr);
  movie_tex_update();
  movie_tex_acknowledge_frames();
  movie_tex_set_mode(slot, kMovieCallerFrames);
  EXPECT_EQ(movie_tex_seek(slot, 0), 1);
  EXPECT_EQ(movie_tex_seek(slot, 1), 0);  // one frame before a movie opens
  movie_tex_set_mode(slot, kMovieLoop);
  EXPECT_EQ(movie_tex_seek(slot, 99), 1);
  EXPECT_EQ(movie_tex_front_crop(slot), slot->decoder.crops[0]);
  movie_tex_reset();
  movie_tex_stop(nullptr);
  tasks_reset();
  EXPECT_EQ(movie_tex_count(), 0);
}

TEST(MoviePlayer, NeverOpensAndKeepsItsRange) {
  movie_player_construct();
  movie_player_init();
  EXPECT_EQ(movie_player_open("a.avi", 1), 0);
  EXPECT_EQ(movie_player_open_step("a.avi"), 0);
  EXPECT_EQ(movie_player_front_texture_id(), -1);
  movie_player_set_range(10, 0);
  uint32_t first = 0, end = 0;
  movie_player_get_range(&first, &end);
  EXPECT_EQ(first, 10u);
  EXPECT_EQ(end, 10u + kMoviePlayerNoRange);
  movie_player_set_frame_size(512, 256);
  EXPECT_FLOAT_EQ(movie_player()->width_fraction, 0.5f);
  movie_player_stop();
  movie_player_shutdown();
}

class PackageLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("tl_loader_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    init_asset_registry();
  }
  void TearDown() override {
    shutdown_package_loader();
    shutdown_asset_registry();
    shutdown_startup_config();
    std::filesystem::remove_all(dir_);
  }
  void configure(const std::string& text) {
    const std::string cf = (dir_ / "KT52.CF").string();
    std::ofstream(cf) << text;
    load_startup_config(cf);
  }
  std::filesystem::path dir_;
};

TEST_F(PackageLoaderTest, RootsTexListAndQueue) {
  std::ofstream(dir_ / "tex.lst") << "*cat menu *tex a.png *size 8 8 *crop 0 0 4 4 half\n";
  configure("TEXP " + dir_.string() + "/ MDATAPJ pj/\n");
  init_package_loader();
  EXPECT_STREQ(get_data_root(0), ".\\bin\\");
  EXPECT_STREQ(get_data_root(1), "pj/");
  EXPECT_EQ(get_data_root(2), nullptr);
  const PackageLoader* l = package_loader();
  ASSERT_EQ(texlist_category_count(&l->texlist), 1);
  EXPECT_TRUE(l->mark.valid);

  EXPECT_TRUE(enqueue_package("menu", 0));
  EXPECT_TRUE(enqueue_package("stage", kLoadFlagMipChain));
  EXPECT_TRUE(enqueue_package("menu", 0));
  EXPECT_EQ(l->tail - l->head, 2u);
  EXPECT_EQ(l->queue[0].kind, LOAD_KIND_TEXLIST);
  EXPECT_EQ(l->queue[1].kind, LOAD_KIND_PACKAGE);
  EXPECT_EQ(l->state, 1);
  EXPECT_FALSE(enqueue_package(nullptr, 0));
  EXPECT_FALSE(enqueue_package(std::string(64, 'p').c_str(), 0));
  EXPECT_TRUE(enqueue_package(std::string(63, 'p').c_str(), 0));
  for (int i = 3; i < kLoadQueueSize; ++i) ASSERT_TRUE(enqueue_package(("p" + std::to_string(i)).c_str(), 0));
  EXPECT_FALSE(enqueue_package("one_more", 0));
  const char* names[] = {"menu", nullptr};
  EXPECT_FALSE(enqueue_packages(names, 2, 0));

  reset_package_loader();
  EXPECT_EQ(l->tail, 0u);
  EXPECT_EQ(l->state, 0);
  EXPECT_TRUE(enqueue_package("menu", 0));
}

TEST_F(PackageLoaderTest, MissingTexListLeavesItEmptyAndShutdownReleasesToTheMark) {
  configure("TEXP " + dir_.string() + "/\n");
  init_package_loader();
  EXPECT_EQ(texlist_category_count(&package_loader()->texlist), 0);
  const int32_t before = count_textures();
  create_texture("late", "t", 0, 0, 0);
  shutdown_package_loader();
  EXPECT_EQ(count_textures(), before);
}

}  // namespace
