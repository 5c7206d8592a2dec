#include "platform/window/window.h"

#include <signal.h>

#include <deque>
#include <iterator>

#include "platform/sys/sys.h"
#include "platform/window/window_sdl.h"

struct PlatformWindow {
  SDL_Window* sdl = nullptr;
  WindowProc proc = nullptr;
  // What the program asked for: a window system without sizing borders of
  // its own (offscreen) keeps no such state.
  bool resizable = true;
};

namespace {

// Messages posted by the program itself are taken before the window system's.
std::deque<WindowMessage> posted;

// A hang-up (the terminal that started the program closed) and a quit
// (Ctrl-\ in that terminal) ask the program to end, as SIGTERM and SIGINT do
// through SDL: each comes as the request to close the window.
constexpr int kEndSignals[] = {SIGHUP, SIGQUIT};
volatile sig_atomic_t end_signalled = 0;
bool end_signal_handled[std::size(kEndSignals)] = {};

void on_end_signal(int) { end_signalled = 1; }

bool set_signal_handler(int signal, void (*handler)(int)) {
  struct sigaction a {};
  a.sa_handler = handler;
  a.sa_flags = SA_RESTART;
  sigemptyset(&a.sa_mask);
  return ::sigaction(signal, &a, nullptr) == 0;
}

// Only where the signal would end the program outright: one ignored at start
// (nohup, or a script's background command) stays ignored.
void handle_end_signals() {
  for (size_t i = 0; i < std::size(kEndSignals); ++i) {
    struct sigaction now {};
    if (::sigaction(kEndSignals[i], nullptr, &now) != 0 || now.sa_handler != SIG_DFL) continue;
    end_signal_handled[i] = set_signal_handler(kEndSignals[i], on_end_signal);
  }
}

void unhandle_end_signals() {
  for (size_t i = 0; i < std::size(kEndSignals); ++i) {
    if (end_signal_handled[i]) set_signal_handler(kEndSignals[i], SIG_DFL);
    end_signal_handled[i] = false;
  }
}

int64_t pack_position(int x, int y) {
  return static_cast<int64_t>(static_cast<uint16_t>(static_cast<int16_t>(x))) |
         (static_cast<int64_t>(static_cast<uint16_t>(static_cast<int16_t>(y))) << 16);
}

WindowMessage translate(const SDL_Event& e) {
  WindowMessage m;
  switch (e.type) {
    case SDL_QUIT:
      m.code = WINDOW_MSG_DESTROY;
      break;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED || e.window.event == SDL_WINDOWEVENT_MAXIMIZED) {
        m.code = WINDOW_MSG_SIZE;
        SDL_Window* w = SDL_GetWindowFromID(e.window.windowID);
        m.wparam = (w && (SDL_GetWindowFlags(w) & SDL_WINDOW_MAXIMIZED)) ? 1 : 0;
      } else if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
        m.code = WINDOW_MSG_DESTROY;
      } else {
        m.code = WINDOW_MSG_OTHER;
      }
      break;
    case SDL_MOUSEMOTION:
      m.code = WINDOW_MSG_MOUSEMOVE;
      m.lparam = pack_position(e.motion.x, e.motion.y);
      break;
    case SDL_MOUSEWHEEL: {
      int y = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
      m.code = WINDOW_MSG_MOUSEWHEEL;
      m.wparam = static_cast<int64_t>(y) * 120;
      break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      m.code = WINDOW_MSG_KEY;
      break;
    default:
      m.code = WINDOW_MSG_OTHER;
      break;
  }
  return m;
}

}  // namespace

SDL_Window* window_sdl_handle(PlatformWindow* window) { return window ? window->sdl : nullptr; }

void window_system_set_class(const char* name) {
  SDL_setenv("SDL_VIDEO_X11_WMCLASS", name, 0);
  SDL_setenv("SDL_VIDEO_WAYLAND_WMCLASS", name, 0);
}

bool window_system_init() {
  SDL_SetHint(SDL_HINT_APP_NAME, "KT");
  SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "tamberlune: cannot open the display: %s\n", SDL_GetError());
    return false;
  }
  // SDL falls back to drivers that show nothing when no display can be
  // opened; a program nobody can see must not run on. They serve only when
  // asked for by name (the tests run offscreen).
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  const bool invisible = driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0);
  if (invisible && !(asked && SDL_strcasecmp(asked, driver) == 0)) {
    std::fprintf(stderr, "tamberlune: cannot open the display: no display found (DISPLAY or WAYLAND_DISPLAY)\n");
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  handle_end_signals();
  return true;
}

void window_system_shutdown() {
  unhandle_end_signals();
  end_signalled = 0;
  posted.clear();
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void window_screen_size(int* width, int* height) {
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
    *width = mode.w;
    *height = mode.h;
  } else {
    *width = 640;
    *height = 480;
  }
}

int window_work_area_width() {
  SDL_Rect r;
  if (SDL_GetDisplayUsableBounds(0, &r) == 0) return r.w;
  int w, h;
  window_screen_size(&w, &h);
  return w;
}

PlatformWindow* window_create(const std::string& title, int width, int height, WindowProc proc) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  SDL_Window* sdl = SDL_CreateWindow(sys_cp932_to_utf8(title).c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                     width, height, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN);
  if (!sdl) {
    std::fprintf(stderr, "tamberlune: cannot create the window: %s\n", SDL_GetError());
    return nullptr;
  }
  return new PlatformWindow{sdl, proc, true};
}

void window_set_icon(PlatformWindow* window, const uint32_t* argb, int width, int height) {
  if (!window) return;
  SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(argb), width, height, 32, width * 4,
                                                         SDL_PIXELFORMAT_ARGB8888);
  if (!icon) return;
  SDL_SetWindowIcon(window->sdl, icon);
  SDL_FreeSurface(icon);
}

void window_destroy(PlatformWindow* window) {
  if (!window) return;
  SDL_DestroyWindow(window->sdl);
  delete window;
}

void window_get_client_size(PlatformWindow* window, int* width, int* height) {
  *width = *height = 0;
  if (window) SDL_GetWindowSize(window->sdl, width, height);
}

void window_set_client_size(PlatformWindow* window, int width, int height) {
  if (window) SDL_SetWindowSize(window->sdl, width, height);
}

void window_get_position(PlatformWindow* window, int* x, int* y) {
  *x = *y = 0;
  if (window) SDL_GetWindowPosition(window->sdl, x, y);
}

void window_set_position(PlatformWindow* window, int x, int y) {
  if (window) SDL_SetWindowPosition(window->sdl, x, y);
}

void window_set_resizable(PlatformWindow* window, bool resizable) {
  if (!window) return;
  window->resizable = resizable;
  SDL_SetWindowResizable(window->sdl, resizable ? SDL_TRUE : SDL_FALSE);
}

bool window_is_resizable(PlatformWindow* window) { return window && window->resizable; }

void window_restore(PlatformWindow* window) {
  if (window) SDL_RestoreWindow(window->sdl);
}

void window_show(PlatformWindow* window) {
  if (window) SDL_ShowWindow(window->sdl);
}

bool window_is_shown(PlatformWindow* window) {
  return window && (SDL_GetWindowFlags(window->sdl) & SDL_WINDOW_SHOWN) != 0;
}

bool window_peek_message(WindowMessage* out) {
  if (!posted.empty()) {
    *out = posted.front();
    posted.pop_front();
    return true;
  }
  SDL_Event e;
  if (end_signalled) {
    end_signalled = 0;
    e.type = SDL_QUIT;
  } else if (!SDL_WasInit(SDL_INIT_VIDEO) || !SDL_PollEvent(&e)) {
    return false;
  }
  *out = translate(e);
  return true;
}

int64_t window_dispatch(PlatformWindow* window, const WindowMessage& msg) {
  if (!window || !window->proc) return 0;
  return window->proc(window, msg.code, msg.wparam, msg.lparam);
}

void window_post_message(const WindowMessage& msg) { posted.push_back(msg); }

void window_post_quit(int code) {
  WindowMessage m;
  m.code = WINDOW_MSG_QUIT;
  m.wparam = code;
  posted.push_back(m);
}

void window_show_cursor(bool show) {
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}
