#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/sys/sys.h"
#include "platform/window/window.h"
#include "platform/window/window_sdl.h"

void window_message_box(const std::string& text, const std::string& caption) {
  std::string utf_text = sys_cp932_to_utf8(text);
  std::string utf_caption = sys_cp932_to_utf8(caption);
  std::fprintf(stderr, "tamberlune: %s: %s\n", utf_caption.c_str(), utf_text.c_str());
  const char* mode = std::getenv("TL_MESSAGEBOX");
  if (mode && std::strcmp(mode, "stderr") == 0) return;
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, utf_caption.c_str(), utf_text.c_str(), nullptr);
}
