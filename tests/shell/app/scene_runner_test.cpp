#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "render/graphics/graphics.h"
#include "render/text/text_queue.h"
#include "shell/app/scene_runner.h"
#include "sound/sound_command.h"

namespace {

std::string calls;
int finish_after = -1;  // update calls before the scene reports completion

void rec_init() { calls += "I"; }
int rec_update() {
  calls += "U";
  return finish_after >= 0 && --finish_after < 0 ? 1 : 0;
}
void rec_exit() { calls += "X"; }

const SceneEntry kTable[SCENE_COUNT] = {{rec_init, rec_update, rec_exit}, {nullptr, nullptr, nullptr}};

TEST(SceneRunner, InitOnTheSecondFrameFirstUpdateOnTheThird) {
  calls.clear();
  finish_after = -1;
  init_scene_runner_with(kTable);
  const char* after_frame[] = {"", "I", "IU", "IUU"};
  for (const char* expect : after_frame) {
    run_scene_runner();
    EXPECT_EQ(calls, expect);
  }
}

TEST(SceneRunner, AFinishedSceneExitsAndTheEmptySceneStaysForGood) {
  calls.clear();
  finish_after = 1;  // the second update reports completion
  init_scene_runner_with(kTable);
  for (int i = 0; i < 8; ++i) run_scene_runner();
  EXPECT_EQ(calls, "IUUX");
  EXPECT_EQ(get_scene_runner()->scene, 1u);
  EXPECT_EQ(get_scene_runner()->state, 3u);
}

TEST(SceneRunner, ShutdownDoesNotCallTheSceneExit) {
  calls.clear();
  finish_after = -1;
  init_scene_runner_with(kTable);
  for (int i = 0; i < 3; ++i) run_scene_runner();
  shutdown_scene_runner();
  EXPECT_EQ(calls.find('X'), std::string::npos);
}

TEST(FatalErrorExit, EndsWithCode1AndPrintsTheCodes) {
  EXPECT_EXIT(fatal_error_exit(3, 257, 0, nullptr), ::testing::ExitedWithCode(1), "fatal error 3 257 0");
  EXPECT_EXIT(fatal_error_exit(1, 0, 22, "pkg.bin"), ::testing::ExitedWithCode(1), "fatal error 1 0 22: pkg.bin");
}

TEST(ErrorScreen, RegionCaptions) {
  const ErrorScreen* e = get_error_screen();
  EXPECT_STREQ(e->titles[0], "ERROR");
  EXPECT_STREQ(e->titles[1], "ERROR");
  EXPECT_STREQ(e->titles[3], "ERROR");
  // "お店の人を呼んで下さい。" in CP932.
  EXPECT_EQ(std::string(e->titles[2]), std::string("\x82\xa8\x93\x58\x82\xcc\x90\x6c\x82\xf0\x8c\xc4\x82\xf1"
                                                   "\x82\xc5\x89\xba\x82\xb3\x82\xa2\x81\x42"));
}

void ignore_command(const SoundCommand&) {}

TEST(ErrorScreen, ClearForgetsEverythingOfTheLastErrorButTheCaptions) {
  // Recording the error also stops the sound worker, so that it does not run
  // on while the process ends.
  ASSERT_TRUE(sound_thread_start(ignore_command));
  ASSERT_TRUE(sound_thread_running());
  scene_runner_record_fatal_error(FATAL_ORIGIN_LOADER, 7, 9, "pkg.bin");
  EXPECT_FALSE(sound_thread_running());
  EXPECT_EQ(get_error_screen()->codes[1], 7);
  EXPECT_EQ(get_error_screen()->codes[2], 9);
  EXPECT_STREQ(get_error_screen()->text, "pkg.bin");
  error_screen_set_value(42);
  clear_error_screen();
  const ErrorScreen* e = get_error_screen();
  EXPECT_EQ(e->codes[0], 0);
  EXPECT_EQ(e->codes[1], 0);
  EXPECT_EQ(e->codes[2], 0);
  EXPECT_EQ(error_screen_get_value(), 0u);
  EXPECT_STREQ(e->text, "");
  EXPECT_STREQ(e->titles[0], "ERROR");
  // A second error without text shows no text of the first.
  scene_runner_record_fatal_error(FATAL_ORIGIN_SOUND, 258, 0, nullptr);
  EXPECT_EQ(e->codes[0], FATAL_ORIGIN_SOUND);
  EXPECT_STREQ(e->text, "");
  clear_error_screen();
}

// The error screen nothing draws: the region's caption, the row's lines and
// the stored text, centred in the system-font queue.
TEST(ErrorScreen, DrawQueuesTheCaptionAndTheText) {
  struct Item {
    std::string text;
    int32_t font;
    float size;
    int32_t y;
  };
  text_queue_table_reset();
  const int queue = text_queue_create(GFX_D3DX_TEXT_BYTES);
  ASSERT_EQ(queue, gfx_text_buffer_d3dx());
  auto drawn = [&] {
    std::vector<Item> out;
    const uint8_t* cursor = text_queue_data(queue);
    TextCommand cmd;
    const char* text;
    while (cursor && text_queue_next(&cursor, &cmd, &text)) {
      EXPECT_EQ(cmd.anchor, uint32_t(TEXT_ANCHOR_CENTRE_X));
      EXPECT_EQ(cmd.colour, 0xFFFFFFFFu);
      EXPECT_EQ(cmd.x, 0) << "half the client width (none without a window)";
      out.push_back({text, cmd.font, cmd.size, cmd.y});
    }
    text_queue_rewind(queue);
    return out;
  };
  clear_error_screen();
  draw_error_screen();
  EXPECT_TRUE(drawn().empty()) << "no error recorded";

  const std::string long_text(100, 't');
  set_region(2);
  scene_runner_record_fatal_error(FATAL_ORIGIN_LOADER, 4, 5, long_text.c_str());
  EXPECT_EQ(std::string(get_error_screen()->text), long_text.substr(0, 63));
  draw_error_screen();
  std::vector<Item> items = drawn();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].text, get_error_screen()->titles[2]);
  EXPECT_EQ(items[0].font, 1);
  EXPECT_EQ(items[0].size, 32.0f);
  EXPECT_EQ(items[0].y, -100);
  EXPECT_EQ(items[1].text, "") << "the row's first line; its second is null";
  EXPECT_EQ(items[1].y, -26);
  EXPECT_EQ(items[2].text, long_text.substr(0, 63));
  EXPECT_EQ(items[2].font, 0);
  EXPECT_EQ(items[2].size, 16.0f);
  EXPECT_EQ(items[2].y, -2);

  // An origin past the line table has no lines: the text follows the caption.
  set_region(1);
  scene_runner_record_fatal_error(40, 0, 0, "x");
  draw_error_screen();
  items = drawn();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, "ERROR");
  EXPECT_EQ(items[1].text, "x");
  EXPECT_EQ(items[1].y, -26);

  for (int r = 0; r < 4; ++r) {
    const ErrorLineRow* rows = get_error_lines(r);
    for (int i = 0; i < ERROR_LINE_ROWS; ++i) EXPECT_EQ(rows[i].number, 600) << r << "," << i;
  }
  set_region(0);
  clear_error_screen();
  text_queue_free_all();
}

// The empty scene never finishes: the runner stays in its update, and the
// transition record it zeroes on entering state 0 stays zero.
TEST(SceneRunner, EmptySceneRunsAndNeverFinishes) {
  const SceneEntry table[SCENE_COUNT] = {*get_empty_scene(), {nullptr, nullptr, nullptr}};
  init_scene_runner_with(table);
  for (int i = 0; i < 5; ++i) run_scene_runner();
  EXPECT_EQ(get_scene_runner()->state, 3u);
  EXPECT_EQ(get_scene_runner()->scene, 0u);
  EXPECT_EQ(get_empty_scene_state(), 0u);
  const SceneTransition* t = get_scene_transition();
  for (uint8_t b : t->bytes) EXPECT_EQ(b, 0);
  shutdown_scene_runner();
}

}  // namespace
