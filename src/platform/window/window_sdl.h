// Platform-internal: the SDL window behind a PlatformWindow, for the GPU layer.
#pragma once

#include <SDL.h>

struct PlatformWindow;
SDL_Window* window_sdl_handle(PlatformWindow* window);
// SDL_GL_CreateContext for the window, made current, where no other program
// can destroy the window meanwhile; a window already gone ends the program
// as its loss does at any time.
SDL_GLContext window_create_gl_context(PlatformWindow* window);
