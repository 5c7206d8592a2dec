// A hidden-desktop window with a device on it, and helpers that draw
// pre-transformed quads and read the back buffer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/gpu/gpu.h"
#include "platform/window/window.h"

// The vertex of 2D drawing: pre-transformed position, colour, two sets.
struct TestVertex {
  float x, y, z, rhw;
  uint32_t diffuse;
  float u0, v0, u1, v1;
};
constexpr uint32_t kTestFvf = GPU_FVF_XYZRHW | GPU_FVF_DIFFUSE | gpu_fvf_tex(2);

// Sprite drawing: texture times diffuse (white where no texture is bound),
// no lighting, no culling.
void set_sprite_states(GpuDevice* device);

class GpuFixture : public ::testing::Test {
 protected:
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 48;

  void SetUp() override;
  void TearDown() override;

  // A quad covering pixels [x, x + w) x [y, y + h), texture corners (u0, v0)
  // to (u1, v1), drawn with the states in force.
  void draw_quad(float x, float y, float w, float h, uint32_t argb, float u0 = 0, float v0 = 0, float u1 = 1,
                 float v1 = 1, float z = 0);
  std::vector<uint32_t> read_back();
  uint32_t pixel(int x, int y);
  // A managed A8R8G8B8 texture holding the given pixels, rows top first.
  GpuTexture* make_texture(int w, int h, const std::vector<uint32_t>& argb);

  PlatformWindow* window = nullptr;
  GpuDevice* device = nullptr;
};
