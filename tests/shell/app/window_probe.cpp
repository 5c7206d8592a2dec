// What the window system itself holds, behind the program's back; kept apart
// from the engine's headers, which SDL's math declarations clash with.
#include "platform/window/window_sdl.h"

// Hides the window, as the window system may.
void test_hide_window(PlatformWindow* window) { SDL_HideWindow(window_sdl_handle(window)); }

// Puts one event in the window system's queue as its driver would: 0 quit,
// 1 close, 2 size changed, 3 moved, 4 motion to (a, b), 5 wheel by a notches
// (b: flipped), 6 key down, 7 button up.
void test_push_event(PlatformWindow* window, int kind, int a, int b) {
  SDL_Event e{};
  const Uint32 id = SDL_GetWindowID(window_sdl_handle(window));
  switch (kind) {
    case 0: e.type = SDL_QUIT; break;
    case 1:
    case 2:
    case 3:
      e.type = SDL_WINDOWEVENT;
      e.window.windowID = id;
      e.window.event = kind == 1 ? SDL_WINDOWEVENT_CLOSE : kind == 2 ? SDL_WINDOWEVENT_SIZE_CHANGED : SDL_WINDOWEVENT_MOVED;
      break;
    case 4:
      e.type = SDL_MOUSEMOTION;
      e.motion.windowID = id;
      e.motion.x = a;
      e.motion.y = b;
      break;
    case 5:
      e.type = SDL_MOUSEWHEEL;
      e.wheel.windowID = id;
      e.wheel.y = a;
      e.wheel.direction = b ? SDL_MOUSEWHEEL_FLIPPED : SDL_MOUSEWHEEL_NORMAL;
      break;
    case 6: e.type = SDL_KEYDOWN; break;
    default: e.type = SDL_MOUSEBUTTONUP; break;
  }
  SDL_PushEvent(&e);
}

// Whether the window system shows the mouse cursor.
bool test_cursor_shown() { return SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE; }
