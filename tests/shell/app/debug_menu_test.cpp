#include "shell/app/debug_menu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "render/graphics/graphics.h"
#include "render/tasks/task.h"
#include "render/text/text_queue.h"
#include "render/view/view_state.h"
#include "shell/services/input.h"
#include "sound/sound_command.h"

namespace {

uint8_t keys[256];
void key_source(uint8_t out[256]) { std::memcpy(out, keys, 256); }

// A program that finishes on its third update and records its calls.
struct Calls {
  int init, update, exit, extra;
} calls;
void prog_init(void*, int size) {
  EXPECT_EQ(size, DEBUG_MENU_SCRATCH);
  ++calls.init;
}
int prog_update(void*, int) { return ++calls.update % 3 == 0; }
void prog_exit(void*, int) { ++calls.exit; }
int prog_extra(void*, int) { return 100 + ++calls.extra; }

const DebugProgram kRows[] = {
    {"A", prog_init, prog_update, prog_exit, prog_extra},
    {"B", prog_init, prog_update, nullptr, nullptr},
    {"C", nullptr, prog_update, nullptr, nullptr},  // cannot start: no init
};

class DebugMenuTest : public ::testing::Test {
 protected:
  int queue = -1;
  void SetUp() override {
    text_queue_table_reset();
    queue = text_queue_create(GFX_MAIN_TEXT_BYTES);
    std::memset(keys, 0, sizeof keys);
    input_set_keyboard_source(key_source);
    init_input();
    calls = {};
    debug_menu_set_programs(kRows, 3);
  }
  void TearDown() override {
    debug_menu_set_programs(nullptr, 0);
    input_set_keyboard_source(nullptr);
    text_queue_free_all();
  }
  // One frame with the given key pressed (0: none); the key is let go after.
  void frame(int vk) {
    if (vk) keys[vk] = 0x80;
    update_input();
    text_queue_rewind(queue);
    debug_menu_update();
    if (vk) keys[vk] = 0;
    update_input();
  }
  // The colour of each listed row, in the order queued; every command is
  // checked for its place, size and font on the way.
  std::vector<uint32_t> row_colours() {
    std::vector<uint32_t> out;
    const uint8_t* cursor = text_queue_data(queue);
    TextCommand cmd;
    const char* text;
    while (cursor && text_queue_next(&cursor, &cmd, &text)) {
      const bool title = std::strcmp(text, "DM") == 0;
      EXPECT_EQ(cmd.x, 100) << text;
      EXPECT_EQ(cmd.y, title ? 100 : 132 + 16 * int(out.size())) << text;
      EXPECT_EQ(cmd.size, 16.0f) << text;
      EXPECT_EQ(cmd.font, 0) << text;
      EXPECT_EQ(cmd.anchor, 0u) << text;
      if (title) {
        EXPECT_TRUE(out.empty()) << "the title comes first";
        EXPECT_EQ(cmd.colour, DEBUG_MENU_NORMAL);
      } else {
        EXPECT_STREQ(text, kRows[out.size()].name);
        out.push_back(cmd.colour);
      }
    }
    return out;
  }
};

constexpr uint32_t S = DEBUG_MENU_SELECTED, N = DEBUG_MENU_NORMAL;

TEST_F(DebugMenuTest, OnlyTheRowUnderTheCursorIsHighlighted) {
  ASSERT_EQ(queue, gfx_text_buffer_main()) << "the menu draws into the main text queue";
  gfx_set_clear_colour(0xFF123456u);
  frame(0);
  EXPECT_EQ(gfx_get_clear_colour(), 0u) << "the list is drawn on black";
  // Per step: key pressed this frame, then the colours drawn on the next frame.
  struct {
    int key;
    int cursor;
    std::vector<uint32_t> colours;
  } steps[] = {
      {0, 0, {S, N, N}},        {VK_DOWN, 1, {N, S, N}}, {VK_DOWN, 2, {N, N, S}},
      {VK_DOWN, 0, {S, N, N}},  // past the end wraps to the top
      {VK_UP, 0, {S, N, N}},    // above the top goes to the top
      {VK_LEFT, 0, {S, N, N}},
  };
  for (const auto& s : steps) {
    frame(s.key);
    EXPECT_EQ(debug_menu_state()->cursor, s.cursor) << "after key " << s.key;
    frame(0);
    EXPECT_EQ(row_colours(), s.colours) << "after key " << s.key;
  }
}

TEST_F(DebugMenuTest, EnterRunsTheProgramUntilItFinishes) {
  frame(VK_RETURN);
  EXPECT_EQ(calls.init, 1);
  EXPECT_EQ(debug_menu_state()->state, 1);
  EXPECT_EQ(debug_menu_extra(), 101);
  frame(0);
  frame(VK_DOWN);  // keys go to the program while it runs
  EXPECT_EQ(debug_menu_state()->running, 1);
  EXPECT_EQ(debug_menu_state()->cursor, 0);
  ASSERT_NE(handle_alloc(), 0u);
  frame(0);
  EXPECT_EQ(handle_count(), 0u) << "what the finished program owned is forgotten";
  EXPECT_EQ(calls.update, 3);
  EXPECT_EQ(calls.exit, 1);
  EXPECT_EQ(debug_menu_state()->state, 0);
  EXPECT_EQ(debug_menu_state()->running, 0);
  EXPECT_EQ(debug_menu_extra(), 0) << "no program runs";

  frame(VK_DOWN);
  frame(VK_DOWN);
  frame(VK_RETURN);
  EXPECT_EQ(debug_menu_state()->state, 0) << "a row without init does not start";
  EXPECT_EQ(calls.init, 1);
}

std::vector<uint32_t> posted;
void record_command(const SoundCommand& c) { posted.push_back(c.opcode); }

// Entering the menu starts it at the top of its list and posts the stop of
// the music and the menu's own sound command, in that order.
TEST_F(DebugMenuTest, InitStartsAtTheTopAndPostsItsSoundCommands) {
  frame(VK_DOWN);
  frame(VK_RETURN);
  ASSERT_EQ(debug_menu_state()->state, 1);
  posted.clear();
  ASSERT_TRUE(sound_thread_start(record_command));
  debug_menu_init();
  sound_thread_stop();
  EXPECT_EQ(posted, (std::vector<uint32_t>{2, 23}));
  EXPECT_EQ(debug_menu_state()->state, 0);
  EXPECT_EQ(debug_menu_state()->cursor, 0);
  EXPECT_EQ(debug_menu_state()->running, 0);
  debug_menu_exit();
}

TEST_F(DebugMenuTest, OneRowKeepsTheCursorAtZero) {
  debug_menu_set_programs(kRows, 1);
  for (int vk : {VK_DOWN, VK_UP, VK_DOWN}) {
    frame(vk);
    EXPECT_EQ(debug_menu_state()->cursor, 0);
  }
  frame(0);
  EXPECT_EQ(row_colours(), std::vector<uint32_t>{S});
  EXPECT_EQ(debug_menu_scene.update, &debug_menu_update);
}

}  // namespace
