// What the window system itself holds, behind the program's back; kept apart
// from the engine's headers, which SDL's math declarations clash with.
#include "platform/window/window_sdl.h"

// Hides the window, as the window system may.
void test_hide_window(PlatformWindow* window) { SDL_HideWindow(window_sdl_handle(window)); }

// Whether the window system shows the mouse cursor.
bool test_cursor_shown() { return SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE; }
