// The menu bar: seven buttons in a 16-pixel bar at the top of the layout.
#pragma once

#include <cstdint>

enum MenuCommand {
  MENU_NONE = 0,
  MENU_LOAD_CG = 1,
  MENU_POINT = 3,
  MENU_PLAY = 4,  // PLAY while stopped, STOP while playing
  MENU_LOAD = 5,
  MENU_SAVE = 6,
  MENU_ORDER = 7,  // ORDER / RAMDOM
  MENU_LAG = 8,
};

// Draws the bar and returns the command clicked this frame. The first button
// clicked ends the frame's bar: the buttons after it are not drawn.
int menu_bar_update(uint32_t owner);
// Whether the mouse lies in [x, x + w] x [y, y + h], bounds included.
bool menu_button_hit(int x, int y, int w, int h);
