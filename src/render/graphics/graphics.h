// The rendering engine's top level: graphics start-up and shutdown of every
// graphics-side component in one fixed order, the two reset fan-outs, the
// per-frame driver and the frame render.
#pragma once

#include <cstdint>

// The screen sizes that 2D placement and the mouse use (get_virtual_screen_
// width/height) belong to the view state.
#include "render/view/view_state.h"

struct PlatformWindow;

struct GraphicsState {
  PlatformWindow* window;
  uint32_t reserved;
  int32_t colour_bits;
  int32_t d3dx_text_queue;  // 16 KB, drawn with the system fonts (CP932)
  int32_t main_text_queue;  // 64 KB, drawn with the bitmap font
  int32_t render_enabled;
};

enum { GFX_D3DX_TEXT_BYTES = 16384, GFX_MAIN_TEXT_BYTES = 65536 };

// The layout descriptor: layout width, layout height, virtual width,
// virtual height (each 0 = the back buffer's) and orientation.
using GfxInitLayout = int[5];

// Starts the graphics side on the window: back buffer width x height and
// the layout (null: all sizes from the back buffer). Ends the program with a
// message when no drawing device can be made; returns 1 otherwise.
int gfx_init(PlatformWindow* window, uint32_t reserved, int width, int height, int colour_bits,
             const GfxInitLayout layout);
void gfx_shutdown();
// Gives the device its hooks: the asset store starts and stops with it, and
// a lost device releases and re-creates the system fonts, the shaders and the
// default-pool textures. gfx_init does it first; tests that start the device
// alone call it before gfx_device_init.
void gfx_install_device_hooks();
// The default lost and reset callbacks.
void gfx_on_device_lost();
void gfx_on_device_reset();
void gfx_reset_components();
void gfx_clear_components();
void gfx_reset_views();
const GraphicsState* gfx_state();

int gfx_text_buffer_d3dx();
int gfx_text_buffer_main();
void gfx_set_render_enabled(int enabled);

// One frame: view shakes and transitions, the per-frame steps, the render
// (or its skip) and the end-of-frame reaps. The main loop passes 0.
void run_frame(int arg);
void gfx_render_frame(PlatformWindow* window, int arg);
void gfx_frame_handoff(PlatformWindow* window, int arg);
void gfx_skip_render(PlatformWindow* window, int arg);

// The view and frame module's forwarders to the device's mode change:
// gfx_request_resize with the same arguments, and gfx_requested_mode.
void view_request_resize(int width, int height, int full_screen);
bool view_requested_mode();

// Render hand-off: with the mode on, the frames that run_frame requests are
// drawn by whichever thread calls gfx_render_thread_step (holding the
// device), and the main thread waits for each. Setting the mode zeroes the
// counts of frames requested and done.
void gfx_set_handoff_mode(int flag);
// One step of the render thread: waits for a requested frame, draws it and
// counts it done; 1 when it drew, 0 when the mode is (or went) off first.
int gfx_render_thread_step(PlatformWindow* window);
// The 3D-view layer pass: layers 55 to 63 on the whole back buffer; while
// view 0 is enabled, 46 to 54 and then 45 in view 0's 3D pass, after which
// the part drawing state is reset; last 40 to 44 on the whole back buffer.
void gfx_draw_scene_layers();

// The view steps of the frame driver, one view at a time.
// Transition factor of (n, total): (total - n) / (total - 1) in 0..1, 0 for a
// total of 1.
float gfx_transition_factor(int32_t n, int32_t total);
void gfx_step_view(int view);
