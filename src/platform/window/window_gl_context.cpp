#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include "platform/window/window_sdl.h"

// SDL reads the window's attributes as it makes a context for it, and reads
// on past a read that failed because another program destroyed the window
// just before: it crashes. On X11 no other client's request is served while
// the context is made, and the window is looked at first: where it is gone,
// Xlib's error exit ends the program as the loss of the window does at any
// other time.
SDL_GLContext window_create_gl_context(PlatformWindow* window) {
  SDL_Window* sdl = window_sdl_handle(window);
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(sdl, &info) || info.subsystem != SDL_SYSWM_X11) return SDL_GL_CreateContext(sdl);
  Display* display = info.info.x11.display;
  XGrabServer(display);
  XWindowAttributes attributes;
  SDL_GLContext context = nullptr;
  if (XGetWindowAttributes(display, info.info.x11.window, &attributes))
    context = SDL_GL_CreateContext(sdl);
  else
    SDL_SetError("the window is gone");
  XUngrabServer(display);
  XFlush(display);
  return context;
}
