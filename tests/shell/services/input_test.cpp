#include <gtest/gtest.h>

#include <cstring>

#include "platform/window/window.h"
#include "shell/services/input.h"

namespace {

uint8_t fake_keys[256];
void fake_source(uint8_t keys[256]) { std::memcpy(keys, fake_keys, 256); }

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(fake_keys, 0, sizeof fake_keys);
    input_set_keyboard_source(fake_source);
    init_input();
  }
  void TearDown() override { input_set_keyboard_source(nullptr); }
};

TEST_F(InputTest, KeyPressedOnlyInItsFirstFrame) {
  // Per frame: is space held in the snapshot, then expected down / pressed.
  struct {
    bool held;
    int down, pressed;
  } frames[] = {{false, 0, 0}, {true, 1, 1}, {true, 1, 0}, {true, 1, 0}, {false, 0, 0}, {true, 1, 1}};
  for (const auto& f : frames) {
    fake_keys[VK_SPACE] = f.held ? 0x80 : 0;
    update_input();
    EXPECT_EQ(is_key_down(VK_SPACE), f.down);
    EXPECT_EQ(is_key_pressed(VK_SPACE), f.pressed);
  }
  EXPECT_EQ(is_key_down(-1), 0);
  EXPECT_EQ(is_key_pressed(256), 0);
  // The asynchronous test reads the keyboard now, not the frame's snapshot.
  fake_keys[VK_ESCAPE] = 0x80;
  EXPECT_EQ(is_key_down(VK_ESCAPE), 0);
  EXPECT_EQ(is_key_down_async(VK_ESCAPE), 1);
  EXPECT_EQ(is_key_down_async(VK_SPACE), 1);
  EXPECT_EQ(is_key_down_async(VK_RETURN), 0);
  EXPECT_EQ(is_key_down_async(300), 0);
}

TEST_F(InputTest, CursorHidesAfter300IdleFramesInMode0) {
  set_cursor_mode(0);
  mouse_on_move(10 | (10 << 16));
  update_input();
  EXPECT_EQ(is_cursor_hidden(), 0);
  for (int i = 1; i < CURSOR_IDLE_FRAMES; ++i) {
    update_input();
    ASSERT_EQ(is_cursor_hidden(), 0) << "idle frame " << i;
  }
  update_input();
  EXPECT_EQ(is_cursor_hidden(), 1) << "hidden on the 300th idle frame";
  mouse_on_wheel(120, 0);
  update_input();
  EXPECT_EQ(is_cursor_hidden(), 0) << "a wheel notch counts as movement";
}

TEST_F(InputTest, CursorModes) {
  EXPECT_EQ(get_mouse_state()->cursor_mode, 2) << "input starts with the cursor hidden";
  update_input();
  EXPECT_EQ(is_cursor_hidden(), 1);
  set_cursor_mode(1);
  update_input();
  EXPECT_EQ(is_cursor_hidden(), 0);
}

TEST_F(InputTest, WheelDeltaLastsOneFrame) {
  mouse_on_wheel(-240, 0);
  update_input();
  EXPECT_EQ(get_wheel_delta(), -240);
  update_input();
  EXPECT_EQ(get_wheel_delta(), 0);
}

TEST_F(InputTest, ReInitStartsFromTheKeysHeldAndAQuietMouse) {
  set_cursor_mode(1);
  mouse_on_move(40 | (30 << 16));
  mouse_on_wheel(120, 0);
  fake_keys[VK_RETURN] = 0x80;
  update_input();
  ASSERT_EQ(is_key_pressed(VK_RETURN), 1);
  mouse_on_move(50 | (60 << 16));
  mouse_on_wheel(-120, 0);  // pending when input starts again

  init_input();  // the key is still held
  const MouseState* m = get_mouse_state();
  EXPECT_EQ(m->x, 0);
  EXPECT_EQ(m->y, 0);
  EXPECT_EQ(m->previous_x, 0);
  EXPECT_EQ(m->moved, 0);
  EXPECT_EQ(m->cursor_mode, 2);
  update_input();
  EXPECT_EQ(is_key_down(VK_RETURN), 1);
  EXPECT_EQ(is_key_pressed(VK_RETURN), 0) << "held since before the start: no new press";
  EXPECT_EQ(get_wheel_delta(), 0) << "a notch from before the start is gone";
  EXPECT_EQ(is_cursor_hidden(), 1);
  // In mode 0 a fresh start counts as long idle: hidden until the mouse moves.
  set_cursor_mode(0);
  update_input();
  EXPECT_EQ(is_cursor_hidden(), 1);
  mouse_on_move(1 | (1 << 16));
  update_input();
  EXPECT_EQ(is_cursor_hidden(), 0);
}

TEST(InputScale, ClientToLayout) {
  struct {
    int pos, client, layout, expect;
  } cases[] = {
      {200, 2048, 1024, 100}, {100, 1536, 768, 50}, {5, 0, 1024, 0}, {1023, 1024, 1024, 1023}, {639, 640, 1280, 1278},
  };
  for (const auto& c : cases) EXPECT_EQ(scale_to_layout(c.pos, c.client, c.layout), c.expect);
}

TEST_F(InputTest, PositionsLeftOfTheWindowStayAtItsEdge) {
  // Without a window there is no client rectangle; negatives still clamp to 0.
  mouse_on_move(static_cast<uint16_t>(-5) | (static_cast<int64_t>(static_cast<uint16_t>(-7)) << 16));
  EXPECT_EQ(get_mouse_state()->x, 0);
  EXPECT_EQ(get_mouse_state()->y, 0);
}

}  // namespace
