#include <cstring>

#include "platform/window/window.h"
#include "platform/window/window_sdl.h"

namespace {

// Virtual-key numbers of the keys the program and its users can reach.
struct KeyMap {
  SDL_Scancode scancode;
  uint8_t vk;
};

constexpr KeyMap kKeys[] = {
    {SDL_SCANCODE_BACKSPACE, 8},  {SDL_SCANCODE_TAB, 9},        {SDL_SCANCODE_RETURN, 13},
    {SDL_SCANCODE_KP_ENTER, 13},  {SDL_SCANCODE_LSHIFT, 16},    {SDL_SCANCODE_RSHIFT, 16},
    {SDL_SCANCODE_LCTRL, 17},     {SDL_SCANCODE_RCTRL, 17},     {SDL_SCANCODE_LALT, 18},
    {SDL_SCANCODE_RALT, 18},      {SDL_SCANCODE_PAUSE, 19},     {SDL_SCANCODE_ESCAPE, 27},
    {SDL_SCANCODE_SPACE, 32},     {SDL_SCANCODE_PAGEUP, 33},    {SDL_SCANCODE_PAGEDOWN, 34},
    {SDL_SCANCODE_END, 35},       {SDL_SCANCODE_HOME, 36},      {SDL_SCANCODE_LEFT, 37},
    {SDL_SCANCODE_UP, 38},        {SDL_SCANCODE_RIGHT, 39},     {SDL_SCANCODE_DOWN, 40},
    {SDL_SCANCODE_INSERT, 45},    {SDL_SCANCODE_DELETE, 46},
};

}  // namespace

void window_get_keyboard_state(uint8_t keys[256]) {
  std::memset(keys, 0, 256);
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
  int count = 0;
  const Uint8* sdl = SDL_GetKeyboardState(&count);
  auto held = [&](SDL_Scancode s) { return static_cast<int>(s) < count && sdl[s]; };
  for (const KeyMap& k : kKeys)
    if (held(k.scancode)) keys[k.vk] = 0x80;
  for (int i = 0; i < 26; ++i)
    if (held(static_cast<SDL_Scancode>(SDL_SCANCODE_A + i))) keys['A' + i] = 0x80;
  for (int i = 0; i < 10; ++i) {
    // SDL lists 1..9 then 0; virtual keys run '0'..'9'.
    if (held(static_cast<SDL_Scancode>(SDL_SCANCODE_1 + i))) keys['0' + (i + 1) % 10] = 0x80;
    if (held(static_cast<SDL_Scancode>(SDL_SCANCODE_KP_1 + i))) keys[0x60 + (i + 1) % 10] = 0x80;
  }
  for (int i = 0; i < 12; ++i)
    if (held(static_cast<SDL_Scancode>(SDL_SCANCODE_F1 + i))) keys[0x70 + i] = 0x80;
  Uint32 buttons = SDL_GetMouseState(nullptr, nullptr);
  if (buttons & SDL_BUTTON_LMASK) keys[1] = 0x80;
  if (buttons & SDL_BUTTON_RMASK) keys[2] = 0x80;
  if (buttons & SDL_BUTTON_MMASK) keys[4] = 0x80;
}
