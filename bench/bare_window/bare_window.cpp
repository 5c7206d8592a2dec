// The floor for start-up: an SDL2 window with an OpenGL 3.3 core context that
// presents one cleared frame. Run with TL_STARTUP_TRACE set, it prints the
// steady clock at main and after the present, as the program does.
#include <SDL.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

long long now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  const long long main_ns = now_ns();
  const int width = argc > 2 ? std::atoi(argv[1]) : 1280;
  const int height = argc > 2 ? std::atoi(argv[2]) : 1024;
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "bare_window: %s\n", SDL_GetError());
    return 1;
  }
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_Window* window = SDL_CreateWindow("bare window", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                                        SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
  SDL_GLContext context = window != nullptr ? SDL_GL_CreateContext(window) : nullptr;
  if (context == nullptr) {
    std::fprintf(stderr, "bare_window: %s\n", SDL_GetError());
    SDL_Quit();
    return 1;
  }
  SDL_GL_SetSwapInterval(0);
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
  }
  glViewport(0, 0, width, height);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  SDL_GL_SwapWindow(window);
  const long long present_ns = now_ns();
  if (std::getenv("TL_STARTUP_TRACE") != nullptr) std::printf("startup main=%lld first_present=%lld\n", main_ns, present_ns);
  SDL_GL_DeleteContext(context);
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}
