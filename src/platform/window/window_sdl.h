// Platform-internal: the SDL window behind a PlatformWindow, for the GPU layer.
#pragma once

#include <SDL.h>

struct PlatformWindow;
SDL_Window* window_sdl_handle(PlatformWindow* window);
