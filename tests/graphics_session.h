// Test helpers over a hidden window: the whole graphics start-up (or the bare
// drawing device) and read-back of the back buffer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/gpu/gpu.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/graphics/graphics.h"

class GraphicsSession : public ::testing::Test {
 protected:
  // Graphics start-up as the program runs it, on a width x height window.
  void start_graphics(int width, int height, const char* title) {
    open_window(width, height, title);
    const int layout[5] = {width, height, width, height, 0};
    ASSERT_EQ(gfx_init(window, 0, width, height, 32, layout), 1);
    graphics_started = true;
  }
  // The drawing device alone, for tests of what sits on it.
  void start_device(int width, int height, const char* title) {
    open_window(width, height, title);
    GfxDeviceParams p{};
    p.window = window;
    p.width = width;
    p.height = height;
    p.colour_bits = 32;
    gfx_install_device_hooks();
    ASSERT_EQ(gfx_device_init(p), 1);
  }
  void TearDown() override {
    if (graphics_started) gfx_shutdown();
    else if (window) gfx_device_shutdown();
    window_destroy(window);
    window_system_shutdown();
  }
  // A back-buffer pixel's red, green and blue.
  static uint32_t pixel(int x, int y) {
    GpuDevice* d = gfx_device();
    GpuSurface* bb = nullptr;
    uint32_t px = 0;
    EXPECT_EQ(gpu_get_render_target(d, 0, &bb), GPU_OK);
    EXPECT_EQ(gpu_read_surface(d, bb, GpuRect{x, y, x + 1, y + 1}, &px), GPU_OK);
    gpu_surface_release(bb);
    return px & 0x00FFFFFFu;
  }

  PlatformWindow* window = nullptr;

 private:
  void open_window(int width, int height, const char* title) {
    ASSERT_TRUE(window_system_init());
    window = window_create(title, width, height, nullptr);
    ASSERT_NE(window, nullptr);
  }
  bool graphics_started = false;
};
