// Graphics start-up, the per-frame driver and shutdown.
#pragma once

struct PlatformWindow;

// Starts the graphics side on the window: back buffer width x height,
// layout = {virtual width, virtual height, ...}. Returns nonzero on success.
int gfx_init(PlatformWindow* window, int flags, int width, int height, int depth, const int layout[5]);
void run_frame(int arg);
void gfx_shutdown();

// The layout size that 2D placement and the mouse use.
int get_virtual_screen_width();
int get_virtual_screen_height();
