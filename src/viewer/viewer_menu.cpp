#include "viewer/viewer_menu.h"

#include <cstdio>

#include "render/overlay2d/sprite2d.h"
#include "render/text/text_queue.h"
#include "viewer/viewer_input.h"
#include "viewer/viewer_state.h"

namespace {

constexpr uint8_t kMenuLayer = 11;
constexpr float kButtonY = 1.0f;
constexpr float kButtonHeight = 14.0f;
constexpr uint32_t kButtonColour = 0xFF808080;
constexpr uint32_t kButtonHoverColour = 0xFFFF8040;
constexpr uint32_t kLabelColour = 0xFF0000FF;
constexpr int32_t kLabelY = 8;

// Draws one button with its label; returns whether it was clicked.
bool menu_button(uint32_t owner, float x, float width, const char* label) {
  const ViewerInput& in = viewer_input();
  const bool over = menu_button_hit(static_cast<int>(x), static_cast<int>(kButtonY), static_cast<int>(width),
                                    static_cast<int>(kButtonHeight));
  sprite2d_draw_rect(owner, over ? kButtonHoverColour : kButtonColour, x, kButtonY, width, kButtonHeight, 0, 0, 1,
                     1, kMenuLayer);
  text_queue_printf(viewer_text_main(), TEXT_ANCHOR_CENTRE_X | TEXT_ANCHOR_CENTRE_Y, 0, 16.0f,
                    static_cast<int32_t>(x + width / 2), kLabelY, kLabelColour, "%s", label);
  return over && in.left_pressed;
}

}  // namespace

bool menu_button_hit(int x, int y, int w, int h) {
  const ViewerInput& in = viewer_input();
  return in.x >= x && in.x <= x + w && in.y >= y && in.y <= y + h;
}

int menu_bar_update(uint32_t owner) {
  const ViewerState& s = viewer_state();
  const float w = viewer_width();
  if (menu_button(owner, 1, 72, "LOAD CG")) return MENU_LOAD_CG;
  if (menu_button(owner, 75, 48, "POINT")) return MENU_POINT;
  if (menu_button(owner, 127, 48, "LOAD")) return MENU_LOAD;
  if (menu_button(owner, 179, 48, "SAVE")) return MENU_SAVE;
  float x = w - 48 - 1;
  if (menu_button(owner, x, 48, s.playing ? "STOP" : "PLAY")) return MENU_PLAY;
  x = x - 48 - 2;
  if (menu_button(owner, x, 48, s.order ? "ORDER" : "RAMDOM")) return MENU_ORDER;
  x = x - 48 - 2;
  char lag[16];
  std::snprintf(lag, sizeof lag, "LAG %d", static_cast<int>(s.lag));
  if (menu_button(owner, x, 48, lag)) return MENU_LAG;
  return MENU_NONE;
}
