// The present: the back buffer reaches the window the right way up, and the
// device draws on correctly after it; immediate draws larger than the
// stream buffer's first size.
#include <epoxy/gl.h>

#include <vector>

#include "platform/gpu/gpu_fixture.h"

namespace {

uint32_t window_pixel(int x, int y_from_top, int height) {
  uint8_t rgba[4] = {};
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  glReadPixels(x, height - 1 - y_from_top, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return uint32_t(rgba[0]) << 16 | uint32_t(rgba[1]) << 8 | rgba[2];
}

}  // namespace

using GpuPresentTest = GpuFixture;

TEST_F(GpuPresentTest, WindowShowsTheBackBufferTopRowFirstAndDrawingGoesOnAfter) {
  gpu_clear(device, GPU_CLEAR_TARGET, 0xFF0000FF, 1, 0);
  gpu_set_viewport(device, GpuViewport{0, 0, kWidth, 8, 0, 1});
  gpu_clear(device, GPU_CLEAR_TARGET, 0xFFFF0000, 1, 0);
  gpu_set_viewport(device, GpuViewport{0, 0, kWidth, kHeight, 0, 1});
  set_sprite_states(device);
  draw_quad(40, 30, 4, 4, 0xFF00FF00);
  ASSERT_EQ(gpu_present(device), GPU_OK);

  struct Probe {
    int x, y;
    uint32_t rgb;
  };
  const Probe probes[] = {{0, 0, 0xFF0000},  {63, 7, 0xFF0000},  {0, 8, 0x0000FF},
                          {63, 47, 0x0000FF}, {40, 30, 0x00FF00}, {44, 34, 0x0000FF}};
  for (const Probe& p : probes) EXPECT_EQ(window_pixel(p.x, p.y, kHeight), p.rgb) << p.x << "," << p.y;

  // The present changed OpenGL's states behind the device: its next draw
  // must send its own again.
  draw_quad(2, 20, 3, 3, 0xFFFFFFFF);
  EXPECT_EQ(pixel(3, 21) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(pixel(6, 21) & 0xFFFFFF, 0x0000FFu);
}

TEST_F(GpuPresentTest, ImmediateDrawsLargerThanTheStreamBufferDrawWhole) {
  gpu_clear(device, GPU_CLEAR_TARGET, 0, 1, 0);
  set_sprite_states(device);
  // 12,288 quads as separate triangles (about 2.9 MB of vertices) cover the
  // target; the last one lands on pixel (63, 47).
  std::vector<TestVertex> v;
  for (int i = 0; i < 4 * kWidth * kHeight; ++i) {
    const int cell = i % (kWidth * kHeight);
    const float x = float(cell % kWidth) - 0.5f, y = float(cell / kWidth) - 0.5f;
    const TestVertex c[6] = {{x, y, 0, 1, 0xFF00FF00, 0, 0, 0, 0},         {x + 1, y, 0, 1, 0xFF00FF00, 0, 0, 0, 0},
                             {x, y + 1, 0, 1, 0xFF00FF00, 0, 0, 0, 0},     {x + 1, y + 1, 0, 1, 0xFF00FF00, 0, 0, 0, 0},
                             {x, y + 1, 0, 1, 0xFF00FF00, 0, 0, 0, 0},     {x + 1, y, 0, 1, 0xFF00FF00, 0, 0, 0, 0}};
    v.insert(v.end(), c, c + 6);
  }
  ASSERT_EQ(gpu_set_fvf(device, kTestFvf), GPU_OK);
  ASSERT_EQ(gpu_draw_primitive_up(device, GPU_PT_TRIANGLELIST, uint32_t(v.size() / 3), v.data(), sizeof(TestVertex)),
            GPU_OK);
  const std::vector<uint32_t> px = read_back();
  for (size_t i = 0; i < px.size(); ++i) ASSERT_EQ(px[i] & 0xFFFFFF, 0x00FF00u) << i;
}
