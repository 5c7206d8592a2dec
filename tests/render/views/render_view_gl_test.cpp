// Render views on a real device: each view's own target, depth surface and
// crop under its name, drawn with its layer ranges while the back buffer is
// left alone; refused creations leave the view free.
#include <gtest/gtest.h>

#include <string>

#include "assets/crops.h"
#include "assets/depth_surfaces.h"
#include "assets/textures.h"
#include "graphics_session.h"
#include "render/device/render_states.h"
#include "render/views/render_views.h"
#include "render/overlay2d/sprite2d.h"
#include "render/tasks/draw_list.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"
#include "render/world/prim3d.h"

namespace {

constexpr int kW = 64, kH = 48;

class RenderViews : public GraphicsSession {
 protected:
  void SetUp() override { start_graphics(kW, kH, "render view test"); }

  static uint32_t target_pixel(const RenderView* v, int x, int y) {
    const TextureObject* t = get_texture_object(v->target_texture);
    uint32_t px = 0;
    EXPECT_EQ(gpu_read_surface(gfx_device(), t->surface, GpuRect{x, y, x + 1, y + 1}, &px), GPU_OK);
    return px & 0x00FFFFFFu;
  }
  // The views draw inside a scene, before the back buffer is drawn.
  static void draw_views() {
    draw_list_build();
    ASSERT_EQ(gpu_begin_scene(gfx_device()), GPU_OK);
    render_views_draw_all();
    gpu_end_scene(gfx_device());
  }
};

TEST_F(RenderViews, AViewDrawsItsLayersIntoItsOwnTarget) {
  ASSERT_EQ(gpu_begin_scene(gfx_device()), GPU_OK);
  gfx_clear(0, 0x0000FFu);  // the back buffer holds blue
  gpu_end_scene(gfx_device());
  RenderView* v = render_view_create(3, 32, 16, "mirror");
  ASSERT_NE(v, nullptr);
  v->clear_colour = 0x00404040u;
  v->ranges[0][0] = 10;
  v->ranges[0][1] = 39;
  // Red on layer 10, green on 39, and white on 40 outside the range.
  sprite2d_draw_rect(0, 0xFFFF0000u, 2, 2, 4, 4, 0, 0, 1, 1, 10);
  sprite2d_draw_rect(0, 0xFF00FF00u, 10, 2, 4, 4, 0, 0, 1, 1, 39);
  sprite2d_draw_rect(0, 0xFFFFFFFFu, 20, 2, 4, 4, 0, 0, 1, 1, 40);
  draw_views();
  const struct {
    int x, y;
    uint32_t rgb;
  } texels[] = {{3, 3, 0xFF0000u}, {11, 3, 0x00FF00u}, {21, 3, 0x404040u}, {31, 15, 0x404040u}};
  for (const auto& t : texels) EXPECT_EQ(target_pixel(v, t.x, t.y), t.rgb) << t.x << ", " << t.y;
  for (int x : {3, 11, 63}) EXPECT_EQ(pixel(x, 3), 0x0000FFu) << "back buffer at " << x;

  // The second range inside view 0's pass, the third on top; view 0's
  // viewport and aspect are its own again afterwards.
  tasks_reap_marked();
  v->ranges[0][1] = 10;
  v->ranges[1][0] = v->ranges[1][1] = 21;
  v->ranges[2][0] = v->ranges[2][1] = 22;
  sprite2d_draw_rect(0, 0xFFFF0000u, 2, 2, 4, 4, 0, 0, 1, 1, 10);
  sprite2d_draw_rect(0, 0xFF0000FFu, 2, 8, 4, 4, 0, 0, 1, 1, 21);
  sprite2d_draw_rect(0, 0xFFFFFF00u, 24, 8, 4, 4, 0, 0, 1, 1, 22);
  // A world triangle in the second range is seen through view 0's camera
  // (from (0, 0, 5), world +x on the left) over the view's 32 x 16.
  const Vec3 a{1.0f, -0.5f, 0}, b{2.0f, -0.5f, 0}, c{1.5f, 0.5f, 0};
  task_set_layer(tri3d_draw(0, &a, 0xFF00FFFFu, &b, 0xFF00FFFFu, &c, 0xFF00FFFFu), 21);
  int x = 0, y = 0, w = 0, h = 0;
  get_viewport(0, &x, &y, &w, &h);
  const float aspect = get_viewport_aspect(0);
  draw_views();
  EXPECT_EQ(target_pixel(v, 10, 8), 0x00FFFFu);
  EXPECT_EQ(target_pixel(v, 21, 8), 0x404040u);
  EXPECT_EQ(target_pixel(v, 3, 3), 0xFF0000u);
  EXPECT_EQ(target_pixel(v, 3, 9), 0x0000FFu);
  EXPECT_EQ(target_pixel(v, 25, 9), 0xFFFF00u);
  EXPECT_EQ(target_pixel(v, 11, 3), 0x404040u) << "cleared again this frame";
  int x2 = -1, y2 = -1, w2 = -1, h2 = -1;
  get_viewport(0, &x2, &y2, &w2, &h2);
  EXPECT_EQ(x2, x);
  EXPECT_EQ(w2, w);
  EXPECT_EQ(h2, h);
  EXPECT_EQ(get_viewport_aspect(0), aspect);
  tasks_reap_marked();

  // The target and crop carry the view's name while it lives, their
  // start-up names again once it is freed.
  EXPECT_EQ(get_depth_surface_object(v->depth_surface)->width, 32);
  EXPECT_EQ(find_texture(kRenderViewPackage, "mirror"), v->target_texture);
  EXPECT_EQ(find_crop(kRenderViewPackage, "mirror"), v->crop);
  const AssetHandle target = v->target_texture, crop = v->crop;
  const std::string start_name = "n_0000000" + std::to_string(v - render_view_pool()->views);
  render_view_free(v);
  EXPECT_EQ(find_texture(kRenderViewPackage, "mirror"), 0u);
  EXPECT_EQ(find_texture(kRenderViewPackage, start_name.c_str()), target);
  EXPECT_EQ(find_crop(kRenderViewPackage, start_name.c_str()), crop);
  EXPECT_EQ(get_texture_object(target)->width, 0);
}

TEST_F(RenderViews, HoldEightAndFollowTheirOwners) {
  EXPECT_STREQ(render_view_pool()->views[7].name, "n_00000007");
  EXPECT_EQ(render_views_count(), 0);
  RenderView* views[kRenderViewCount];
  for (int i = 0; i < kRenderViewCount; ++i) {
    views[i] = render_view_create(i < 2 ? 5 : 6, 64, 32, "v");
    ASSERT_NE(views[i], nullptr);
  }
  EXPECT_EQ(render_view_create(7, 1, 1, "w"), nullptr);
  EXPECT_EQ(render_view_create(7, 1, 1, nullptr), nullptr);
  EXPECT_EQ(views[0]->ranges[1][0], -1);
  EXPECT_EQ(views[0]->viewport[2], 64);
  kill_owner(5);
  EXPECT_EQ(render_views_count(), 6);
  render_view_free(views[0]);  // already free
  EXPECT_EQ(render_views_count(), 6);
  const std::string long_name(40, 'n');
  RenderView* v = render_view_create(7, 1, 1, long_name.c_str());
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::string(v->name), long_name.substr(0, 32));
  EXPECT_EQ(render_view_find(long_name.substr(0, 32).c_str()), v);
  render_views_on_device_lost();
  EXPECT_EQ(render_views_count(), 0);
  EXPECT_EQ(render_view_create(7, 1, 1, "first"), &render_view_pool()->views[0]) << "the pool starts over in order";
  EXPECT_EQ(render_view_hash_name(nullptr), 0u);

  // A task reset forgets the views in use: a pointer kept from before frees
  // nothing, and all eight can be made again.
  RenderView* kept = render_view_create(7, 4, 4, "kept");
  ASSERT_NE(kept, nullptr);
  tasks_reset();
  EXPECT_EQ(render_views_count(), 0);
  render_view_free(kept);
  EXPECT_EQ(render_views_count(), 0);
  for (int i = 0; i < kRenderViewCount; ++i) EXPECT_NE(render_view_create(7, 4, 4, "again"), nullptr) << i;
  EXPECT_EQ(render_view_create(7, 4, 4, "ninth"), nullptr);
}

TEST_F(RenderViews, SizesWithoutATargetAreRefused) {
  const struct {
    uint32_t width, height;
  } sizes[] = {{0, 16}, {16, 0}, {100000, 4}};
  for (const auto& s : sizes) {
    EXPECT_EQ(render_view_create(1, s.width, s.height, "bad"), nullptr) << s.width << " x " << s.height;
    EXPECT_EQ(render_views_count(), 0);
    EXPECT_EQ(find_texture(kRenderViewPackage, "bad"), 0u) << "the records keep their start-up names";
  }
  RenderView* v = render_view_create(1, 4, 4, "good");
  ASSERT_NE(v, nullptr) << "a refusal leaves every view free";
  EXPECT_EQ(render_views_count(), 1);
}

}  // namespace
