#include "shell/services/input.h"

#include <algorithm>
#include <cstring>

#include "platform/window/window.h"
#include "render/view/view_state.h"

namespace {
KeyboardState keyboard;
MouseState mouse;
KeyboardSource keyboard_source = window_get_keyboard_state;
PlatformWindow* client_window = nullptr;
}  // namespace

void input_set_keyboard_source(KeyboardSource source) {
  keyboard_source = source ? source : window_get_keyboard_state;
}

void input_set_client_window(PlatformWindow* window) { client_window = window; }

int scale_to_layout(int position, int client_side, int layout_side) {
  return client_side ? static_cast<int>(static_cast<int64_t>(layout_side) * position / client_side) : 0;
}

void init_input() {
  init_keyboard();
  init_mouse();
}

void update_input() {
  read_keyboard_state();
  update_mouse();
}

void shutdown_input() {
  shutdown_mouse();
  shutdown_keyboard();
}

void init_keyboard() {
  std::memset(&keyboard, 0, sizeof keyboard);
  keyboard.now = keyboard.current;
  keyboard.before = keyboard.previous;
  keyboard_source(keyboard.now);
}

void read_keyboard_state() {
  std::memcpy(keyboard.before, keyboard.now, 256);
  keyboard_source(keyboard.now);
}

int is_key_down(int vk) { return vk >= 0 && vk < 256 && (keyboard.now[vk] & 0x80) ? 1 : 0; }

int is_key_pressed(int vk) {
  return vk >= 0 && vk < 256 && (keyboard.now[vk] & 0x80) && !(keyboard.before[vk] & 0x80) ? 1 : 0;
}

int is_key_down_async(int vk) {
  uint8_t keys[256];
  keyboard_source(keys);
  return vk >= 0 && vk < 256 && (keys[vk] & 0x80) ? 1 : 0;
}

void shutdown_keyboard() {}

void init_mouse() {
  std::memset(&mouse, 0, sizeof mouse);
  mouse.idle_frames = CURSOR_IDLE_FRAMES;
  mouse.cursor_mode = 2;
}

// Positions arrive as signed words and are held inside the client area, so a
// drag that leaves the window stays at its edge instead of jumping far away.
void mouse_on_move(int64_t lparam) {
  int x = static_cast<int16_t>(lparam & 0xFFFF);
  int y = static_cast<int16_t>((lparam >> 16) & 0xFFFF);
  int w = 0, h = 0;
  window_get_client_size(client_window, &w, &h);
  mouse.previous_x = mouse.x;
  mouse.previous_y = mouse.y;
  mouse.x = w > 0 ? std::clamp(x, 0, w - 1) : std::max(x, 0);
  mouse.y = h > 0 ? std::clamp(y, 0, h - 1) : std::max(y, 0);
  mouse.moved = 1;
}

void mouse_on_wheel(int64_t wparam, int64_t) {
  mouse.wheel_pending_flag = 1;
  mouse.wheel_pending = static_cast<int16_t>(wparam);
  mouse.moved = 1;
}

void update_mouse() {
  if (mouse.wheel_pending_flag) {
    mouse.wheel_frame = mouse.wheel_pending;
    mouse.wheel_pending_flag = 0;
  } else {
    mouse.wheel_frame = 0;
  }
  bool was_visible = mouse.cursor_visible;
  switch (mouse.cursor_mode) {
    case 0:
      if (mouse.moved)
        mouse.idle_frames = 0;
      else if (mouse.idle_frames < CURSOR_IDLE_FRAMES)
        ++mouse.idle_frames;
      mouse.cursor_visible = mouse.idle_frames < CURSOR_IDLE_FRAMES;
      break;
    case 1:
      mouse.cursor_visible = 1;
      break;
    default:
      mouse.cursor_visible = 0;
      break;
  }
  // The window system keeps a hidden cursor hidden, so showing it again is
  // explicit.
  if (!mouse.cursor_visible)
    window_show_cursor(false);
  else if (!was_visible)
    window_show_cursor(true);
  mouse.moved = 0;
}

void set_cursor_mode(int mode) { mouse.cursor_mode = mode; }
int is_cursor_hidden() { return mouse.cursor_visible ? 0 : 1; }

void get_mouse_pos_backbuffer(int* x, int* y) {
  int w = 0, h = 0;
  window_get_client_size(client_window, &w, &h);
  *x = scale_to_layout(mouse.x, w, get_virtual_screen_width());
  *y = scale_to_layout(mouse.y, h, get_virtual_screen_height());
}

void get_mouse_prev_pos(int* x, int* y) {
  *x = mouse.previous_x;
  *y = mouse.previous_y;
}

int get_wheel_delta() { return mouse.wheel_frame; }
const MouseState* get_mouse_state() { return &mouse; }
void shutdown_mouse() {}
