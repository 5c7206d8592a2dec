// Hides a window behind the program's back, as the window system may; kept
// apart from the engine's headers, which SDL's math declarations clash with.
#include "platform/window/window_sdl.h"

void test_hide_window(PlatformWindow* window) { SDL_HideWindow(window_sdl_handle(window)); }
