// Process entry: the working folder, start-up configuration, region and
// client size, the start-up order of every component, the main loop and
// the shutdown order.
#pragma once

#include <string>

#include "platform/window/window.h"

struct AppState {
  void* instance;
  WindowMessage msg;
  void* instance_mutex;
  int paused;
  int client_width, client_height;
  int quit;
};

struct ClientSize {
  int width, height;
};

int win_main(void* instance, void* previous, const char* command_line, int show);

// The pieces of win_main, for the benchmark and the tests that drive the loop.
// app_startup returns false when no window could be opened.
bool app_startup(void* instance);
// One pass of the main loop: one message handled, or one frame run. False
// once the loop is over (quit message or quit flag).
bool app_loop_pass(bool* ran_frame);
void app_shutdown();

// The client size for a screen, before "CLIENTW" and "CLIENTH" apply.
ClientSize choose_client_size(int screen_width, int screen_height);
// The size with "CLIENTW" and "CLIENTH" applied, each on its own side where
// it holds an integer from 1 to 16384 (other values would make no window).
ClientSize apply_client_overrides(ClientSize size);
// Region index from the "REGION" value: 'E' 0, 'U' 1, 'J' 2, 'A' 3, else 0.
int region_from_text(const char* text);

int get_client_width();
int get_client_height();
WindowMessage* get_app_msg();
void request_quit();
void release_instance_mutex(AppState* app);
bool is_messagebox_enabled();
void show_error_box(const char* message, const char* file, int line);
void shutdown_app_shell();
// Asked before each frame; while true a pass would only run the frame driver.
// Nothing suspends updates, so it answers false.
bool is_update_suspended();
