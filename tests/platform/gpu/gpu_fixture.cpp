#include "platform/gpu/gpu_fixture.h"

#include <cstring>

void GpuFixture::SetUp() {
  ASSERT_TRUE(window_system_init());
  window = window_create("gpu test", kWidth, kHeight, nullptr);
  ASSERT_NE(window, nullptr);
  GpuPresentParams p{};
  p.windowed = true;
  p.swap_effect = GPU_SWAP_COPY;
  p.window = window;
  p.presentation_interval = GPU_PRESENT_INTERVAL_IMMEDIATE;
  ASSERT_EQ(gpu_device_create(GPU_DEVICE_HAL, window, GPU_CREATE_HARDWARE_VP | GPU_CREATE_PURE, &p, &device), GPU_OK);
  ASSERT_EQ(p.back_buffer_width, uint32_t(kWidth));
  ASSERT_EQ(p.back_buffer_height, uint32_t(kHeight));
}

void GpuFixture::TearDown() {
  gpu_device_release(device);
  window_destroy(window);
  window_system_shutdown();
}

void set_sprite_states(GpuDevice* d) {
  gpu_set_render_state(d, GPU_RS_LIGHTING, 0);
  gpu_set_render_state(d, GPU_RS_CULLMODE, GPU_CULL_NONE);
  gpu_set_stage_state(d, 0, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  gpu_set_stage_state(d, 0, GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
  gpu_set_stage_state(d, 0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE);
  gpu_set_stage_state(d, 0, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
}

void GpuFixture::draw_quad(float x, float y, float w, float h, uint32_t argb, float u0, float v0, float u1, float v1,
                           float z) {
  // Pixel centres lie on integers: the edges sit half a pixel before them.
  float l = x - 0.5f, t = y - 0.5f, r = x + w - 0.5f, b = y + h - 0.5f;
  TestVertex v[4] = {{l, t, z, 1, argb, u0, v0, u0, v0},
                     {r, t, z, 1, argb, u1, v0, u1, v0},
                     {l, b, z, 1, argb, u0, v1, u0, v1},
                     {r, b, z, 1, argb, u1, v1, u1, v1}};
  const uint16_t idx[6] = {0, 1, 2, 3, 2, 1};
  ASSERT_EQ(gpu_set_fvf(device, kTestFvf), GPU_OK);
  ASSERT_EQ(gpu_draw_indexed_primitive_up(device, GPU_PT_TRIANGLELIST, 0, 4, 2, idx, GPU_FMT_INDEX16, v,
                                          sizeof(TestVertex)),
            GPU_OK);
}

std::vector<uint32_t> GpuFixture::read_back() {
  std::vector<uint32_t> px(size_t(kWidth) * kHeight);
  GpuSurface* bb = nullptr;
  EXPECT_EQ(gpu_get_render_target(device, 0, &bb), GPU_OK);
  EXPECT_EQ(gpu_read_surface(device, bb, GpuRect{0, 0, kWidth, kHeight}, px.data()), GPU_OK);
  gpu_surface_release(bb);
  return px;
}

uint32_t GpuFixture::pixel(int x, int y) { return read_back()[size_t(y) * kWidth + size_t(x)]; }

GpuTexture* GpuFixture::make_texture(int w, int h, const std::vector<uint32_t>& argb) {
  GpuTexture* t = nullptr;
  EXPECT_EQ(gpu_create_texture(device, uint32_t(w), uint32_t(h), 1, 0, GPU_FMT_A8R8G8B8, GPU_POOL_MANAGED, &t), GPU_OK);
  GpuLockedRect lr;
  EXPECT_EQ(gpu_texture_lock(t, 0, nullptr, &lr, 0), GPU_OK);
  for (int y = 0; y < h; ++y)
    std::memcpy(static_cast<uint8_t*>(lr.bits) + y * lr.pitch, &argb[size_t(y) * size_t(w)], size_t(w) * 4);
  EXPECT_EQ(gpu_texture_unlock(t, 0), GPU_OK);
  return t;
}
