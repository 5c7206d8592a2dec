// The main window: creation at the chosen client size, its window procedure,
// and the rule that keeps the client area at the layout's aspect.
#pragma once

#include <cstdint>

struct PlatformWindow;

struct WindowRect {
  int left, top, right, bottom;
};

struct WindowRecord {
  PlatformWindow* window;
  uint32_t style;
  int windowed;
  int client_width, client_height;
  int outer_width, outer_height;
  WindowRect stored_rect;
  // The client size the last aspect request was made from; the same size
  // reported again means the window manager refused the request.
  int request_from_width, request_from_height;
};

enum { MAIN_WINDOW_STYLE = 0x100F0000 };

// What keep_client_aspect asks of the window, when anything.
struct AspectRequest {
  bool resize;
  bool move;
  int outer_width, outer_height;
  int x, y;
};

using MainWindowProc = int64_t (*)(PlatformWindow*, uint32_t, int64_t, int64_t);

int create_main_window(void* instance, MainWindowProc proc);
WindowRecord* get_window_record(int index);
void clear_window_record(int index);
void enable_window(int index);
void disable_window(int index);
void store_window_rect(int index);
void restore_windowed_style(int index);
int get_window_client_width(int index);
int get_window_client_height(int index);
// The aspect rule for a client of w x h: the width follows the height.
AspectRequest client_aspect_request(int w, int h, int layout_width, int layout_height, bool maximised,
                                    int work_area_width);
// The rule for a window whose client is now w x h, remembering its last
// request: a request the window manager refused (it reports the size the
// request was made from again) is not repeated, so the two cannot ask and
// answer for ever. Any other size asks anew.
AspectRequest keep_client_aspect_request(WindowRecord* record, int w, int h, int layout_width, int layout_height,
                                         bool maximised, int work_area_width);
void keep_client_aspect(int index, int layout_width, int layout_height, bool maximised);
int64_t main_window_proc(PlatformWindow* window, uint32_t message, int64_t wparam, int64_t lparam);
