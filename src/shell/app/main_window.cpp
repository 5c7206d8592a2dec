#include "shell/app/main_window.h"

#include <cstdlib>
#include <cstring>

#include "platform/window/window.h"
#include "render/graphics/graphics.h"
#include "shell/app/app.h"
#include "shell/app/window_icon.h"
#include "shell/services/input.h"

namespace {

WindowRecord windows[1];

// The window system sizes the client area directly, so the frame and caption
// add nothing to the outer size.
constexpr int kFrame = 0;
constexpr int kCaption = 0;

WindowRecord* record(int index) { return index == 0 ? &windows[0] : nullptr; }

}  // namespace

int create_main_window(void*, MainWindowProc proc) {
  WindowRecord& w = windows[0];
  std::memset(&w, 0, sizeof w);
  w.windowed = 1;
  w.client_width = get_client_width();
  w.client_height = get_client_height();
  w.outer_width = w.client_width + 2 * kFrame;
  w.outer_height = w.client_height + 2 * kFrame + kCaption;
  w.style = MAIN_WINDOW_STYLE;
  w.window = window_create("Tamberlune", w.client_width, w.client_height, proc);
  if (!w.window) return 0;
  uint32_t icon[WINDOW_ICON_SIZE * WINDOW_ICON_SIZE];
  draw_window_icon(icon);
  window_set_icon(w.window, icon, WINDOW_ICON_SIZE, WINDOW_ICON_SIZE);
  return 1;
}

WindowRecord* get_window_record(int index) { return record(index); }

void clear_window_record(int index) {
  if (WindowRecord* w = record(index)) w->window = nullptr;
}

// The window system has no disabled state for our window; input always reaches it.
void enable_window(int) {}
void disable_window(int) {}

void store_window_rect(int index) {
  WindowRecord* w = record(index);
  if (!w || !w->window) return;
  int x, y, cw, ch;
  window_get_position(w->window, &x, &y);
  window_get_client_size(w->window, &cw, &ch);
  w->stored_rect = {x, y, x + cw + 2 * kFrame, y + ch + 2 * kFrame + kCaption};
}

// After a device reset the window goes to the stored rectangle's corner (the
// screen's, unless store_window_rect ran) at the size it was made with, loses
// its sizing border and maximise box, and is shown. A maximised window is
// brought back to its normal state first, so that the place and size hold.
void restore_windowed_style(int index) {
  WindowRecord* w = record(index);
  if (!w || !w->window) return;
  window_restore(w->window);
  window_set_position(w->window, w->stored_rect.left, w->stored_rect.top);
  window_set_client_size(w->window, w->outer_width, w->outer_height);
  window_set_resizable(w->window, false);
  window_show(w->window);
}

int get_window_client_width(int index) {
  WindowRecord* w = record(index);
  int cw = 0, ch = 0;
  if (w) window_get_client_size(w->window, &cw, &ch);
  return cw;
}

int get_window_client_height(int index) {
  WindowRecord* w = record(index);
  int cw = 0, ch = 0;
  if (w) window_get_client_size(w->window, &cw, &ch);
  return ch;
}

AspectRequest client_aspect_request(int w, int h, int layout_width, int layout_height, bool maximised,
                                    int work_area_width) {
  AspectRequest r{};
  if (w == 0 || h == 0 || layout_height == 0) return r;
  int wanted = static_cast<int>(static_cast<int64_t>(layout_width) * h / layout_height);
  if (std::abs(w - wanted) <= 5) return r;
  r.resize = true;
  r.outer_width = wanted + 2 * kFrame;
  r.outer_height = h + 2 * kFrame + kCaption;
  r.move = maximised;
  r.x = (work_area_width - r.outer_width) / 2;
  r.y = 0;
  return r;
}

AspectRequest keep_client_aspect_request(WindowRecord* rec, int w, int h, int layout_width, int layout_height,
                                         bool maximised, int work_area_width) {
  AspectRequest r = client_aspect_request(w, h, layout_width, layout_height, maximised, work_area_width);
  const bool refused = r.resize && w == rec->request_from_width && h == rec->request_from_height;
  rec->request_from_width = r.resize ? w : 0;
  rec->request_from_height = r.resize ? h : 0;
  if (refused) r.resize = r.move = false;
  return r;
}

void keep_client_aspect(int index, int layout_width, int layout_height, bool maximised) {
  WindowRecord* rec = record(index);
  if (!rec || !rec->window) return;
  int w, h;
  window_get_client_size(rec->window, &w, &h);
  AspectRequest r =
      keep_client_aspect_request(rec, w, h, layout_width, layout_height, maximised, window_work_area_width());
  if (!r.resize) return;
  window_set_client_size(rec->window, r.outer_width, r.outer_height);
  if (r.move) window_set_position(rec->window, r.x, r.y);
}

int64_t main_window_proc(PlatformWindow*, uint32_t message, int64_t wparam, int64_t lparam) {
  switch (message) {
    case WINDOW_MSG_DESTROY:
      window_post_quit(0);
      break;
    case WINDOW_MSG_SIZE:
      keep_client_aspect(0, get_virtual_screen_width(), get_virtual_screen_height(), wparam == 1);
      break;
    case WINDOW_MSG_MOUSEMOVE:
      mouse_on_move(lparam);
      break;
    case WINDOW_MSG_MOUSEWHEEL:
      mouse_on_wheel(wparam, lparam);
      break;
    default:
      break;
  }
  return 0;
}
