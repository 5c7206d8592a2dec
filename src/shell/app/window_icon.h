// The main window's icon: a white speech bubble with three dots on a dark
// blue tile with rounded corners, drawn when the window is made.
#pragma once

#include <cstdint>

enum { WINDOW_ICON_SIZE = 32 };

// Fills the icon's pixels, ARGB, rows top first.
void draw_window_icon(uint32_t pixels[WINDOW_ICON_SIZE * WINDOW_ICON_SIZE]);
