// Keyboard and mouse, sampled once per frame on the main thread.
#pragma once

#include <cstdint>

struct KeyboardState {
  uint8_t current[256];
  uint8_t previous[256];
  uint8_t* now;
  uint8_t* before;
};

struct MouseState {
  int16_t wheel_pending;
  int16_t wheel_frame;
  uint16_t wheel_pending_flag;
  int32_t x, y;
  int32_t previous_x, previous_y;
  uint8_t cursor_visible;
  int32_t cursor_mode;  // 0 hide after 300 idle frames, 1 always shown, 2 always hidden
  uint32_t idle_frames;
  uint8_t moved;
};

struct PlatformWindow;

enum { CURSOR_IDLE_FRAMES = 300 };

// Virtual keys the program reads.
enum : int {
  VK_LBUTTON = 1, VK_RBUTTON = 2, VK_RETURN = 13, VK_ESCAPE = 27, VK_SPACE = 32,
  VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40, VK_F9 = 120,
};

// Where keyboard snapshots come from; tests substitute their own. Null
// restores the window's keyboard.
using KeyboardSource = void (*)(uint8_t keys[256]);
void input_set_keyboard_source(KeyboardSource source);
// The window whose client area mouse positions are measured in, read anew at
// every call; the application passes its main window once it exists.
void input_set_client_window(PlatformWindow* window);

// Client pixels to layout pixels on one axis; 0 when the client side is 0.
int scale_to_layout(int position, int client_side, int layout_side);

void init_input();
void update_input();
void shutdown_input();

void init_keyboard();
void read_keyboard_state();
int is_key_down(int vk);
int is_key_pressed(int vk);
int is_key_down_async(int vk);
void shutdown_keyboard();

void init_mouse();
void mouse_on_move(int64_t lparam);
void mouse_on_wheel(int64_t wparam, int64_t lparam);
void update_mouse();
void set_cursor_mode(int mode);
int is_cursor_hidden();
void get_mouse_pos_backbuffer(int* x, int* y);
void get_mouse_prev_pos(int* x, int* y);
int get_wheel_delta();
const MouseState* get_mouse_state();
void shutdown_mouse();
