// Graphics start-up, the per-frame driver and shutdown.
#pragma once

// The screen sizes that 2D placement and the mouse use (get_virtual_screen_
// width/height) belong to the view state.
#include "render/core/view_state.h"

struct PlatformWindow;

// Starts the graphics side on the window: back buffer width x height,
// layout = {layout width, layout height, virtual width, virtual height,
// orientation}. Returns nonzero on success.
int gfx_init(PlatformWindow* window, int flags, int width, int height, int depth, const int layout[5]);
void run_frame(int arg);
void gfx_shutdown();
