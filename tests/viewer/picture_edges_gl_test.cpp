// The picture drawn enlarged keeps its own edge colours: sampling is clamped
// at its edges, so no row of the opposite edge bleeds in.
#include <gtest/gtest.h>

#include "assets/textures.h"
#include "platform/gpu/gpu.h"
#include "render/device/gfx_device.h"
#include "platform/image/image_samples.h"
#include "viewer/viewer_picture.h"
#include "viewer_scene_fixture.h"

namespace {

using viewer_test::ViewerSceneGl;

uint32_t back_buffer_green(int x, int y) {
  GpuSurface* bb = nullptr;
  uint32_t px = 0;
  EXPECT_EQ(gpu_get_render_target(gfx_device(), 0, &bb), GPU_OK);
  EXPECT_EQ(gpu_read_surface(gfx_device(), bb, GpuRect{x, y, x + 1, y + 1}, &px), GPU_OK);
  gpu_surface_release(bb);
  return (px >> 8) & 0xFF;
}

TEST_F(ViewerSceneGl, EnlargedPictureKeepsItsEdgeRowsAndColumns) {
  // 8 x 4, green rising from 0 on the top row to 255 on the bottom row.
  Picture p{8, 4, {}};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) p.argb.push_back(0xFF000000u | uint32_t(y * 85) << 8);
  ASSERT_TRUE(picture_show_bytes(write_png(p, PngKind::RGB8)));
  const AssetHandle pic = viewer_state().picture;
  // Eight times larger: 64 x 32 of the back buffer, filtered linearly.
  ASSERT_NE(sprite2d_draw_texture(0, pic, 0xFFFFFFFFu, 0.0f, 0.0f, 0.0f, 0.0f, 8.0f, 8.0f, 27), nullptr);
  gfx_render_frame(window, 0);
  const struct {
    int y;
    uint32_t green;
  } rows[] = {{0, 0}, {1, 0}, {30, 255}, {31, 255}};
  for (const auto& r : rows)
    for (int x : {0, 31, 63}) EXPECT_EQ(back_buffer_green(x, r.y), r.green) << "x " << x << " y " << r.y;
  // The middle of the picture is still filtered between its rows.
  const uint32_t middle = back_buffer_green(31, 16);
  EXPECT_GT(middle, 102u);
  EXPECT_LT(middle, 153u);
}

}  // namespace
