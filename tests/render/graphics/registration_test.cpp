#include <gtest/gtest.h>

#include "render/overlay2d/text2d.h"
#include "render/tasks/task.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "render/world/prim3d.h"
#include "render/world/sprite3d.h"
#include "scene3d/part_render.h"

namespace {

int placeholder() { return task_type_register(nullptr, nullptr, nullptr, nullptr, 16); }

// Graphics start-up's order: 2D line, 2D triangle, text, 2D sprite, 3D line,
// 3D triangle, world-space sprite, then the part classes. The 2D line,
// triangle and sprite types belong to another module and are stood in for.
TEST(TypeRegistration, StartUpOrderGivesTheFixedIds) {
  tasks_init();
  EXPECT_EQ(placeholder(), 1);
  EXPECT_EQ(placeholder(), 2);
  EXPECT_EQ(text2d_register_type(), 3);
  EXPECT_EQ(placeholder(), 4);
  EXPECT_EQ(line3d_register_type(), 5);
  EXPECT_EQ(tri3d_register_type(), 6);
  EXPECT_EQ(sprite3d_register_type(), 7);
  register_part_classes();
  const PartRenderBlock* b = part_render_block();
  EXPECT_EQ(b->prim_type_id, 8u);
  EXPECT_EQ(b->model_type_id, 9u);
  EXPECT_EQ(b->mesh_type_id, 10u);
  EXPECT_EQ(b->static_type_id, 11u);
  EXPECT_EQ(text_get_type(), 3);
  EXPECT_EQ(sprite3d_get_type(), 7);

  Task* s = task_create(1);
  task_set_type(s, 7);
  const Sprite3d* sprite = task_data<Sprite3d>(s);
  EXPECT_EQ(s->layer, kSprite3dLayer);
  EXPECT_EQ(sprite->head.blend, 1);
  EXPECT_EQ(sprite->head.zfunc, 3);
  EXPECT_EQ(sprite->head.param_a, 1.0f);
  EXPECT_EQ(sprite->billboard.uv0[2], 1.0f);
  EXPECT_EQ(sprite->billboard.colour, 0xFFFFFFFFu);
  sprite3d_init_mode2(s);
  EXPECT_EQ(sprite->quad.scale.y, 1.0f);
  EXPECT_EQ(sprite->quad.uv0[1][1], 1.0f);
  tasks_shutdown();
}

TEST(Prim3d, DefaultsSettersAndLayer) {
  tasks_init();
  placeholder();
  placeholder();
  placeholder();
  placeholder();
  ASSERT_EQ(line3d_register_type(), 5);
  ASSERT_EQ(tri3d_register_type(), 6);
  const Vec3 a{1, 2, 3}, b{4, 5, 6};
  Task* line = line3d_draw(1, &a, 0x11111111u, &b, 0x22222222u);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->layer, kPrim3dLayer);
  EXPECT_TRUE(line->flags & kTaskVisible);
  EXPECT_EQ(line->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame);
  const Line3D* l = task_data<Line3D>(line);
  EXPECT_EQ(l->flags, 1u | (1u << 5) | (7u << 6));
  EXPECT_EQ(l->p1.z, 6.0f);
  line3d_set_depth_func(line, 9);
  line3d_set_blend(line, 35);
  line3d_set_depth_write(line, 2);
  EXPECT_EQ(l->flags, 3u | (1u << 6));
  Task* tri = tri3d_draw(1, &a, 0, &b, 0, &a, 0);
  EXPECT_EQ(task_data<Tri3D>(tri)->flags, 1u | (1u << 5) | (1u << 6));
  // A 3D setter leaves a task of another type alone.
  tri3d_set_blend(line, 4);
  EXPECT_EQ(l->flags & kPrim3dBlendMask, 3u);
  tasks_shutdown();
}

TEST(Prim3d, TriangleKeyIsTheCentroidDistanceOverTheFarDistance) {
  tasks_init();
  for (int i = 0; i < 5; ++i) placeholder();
  ASSERT_EQ(tri3d_register_type(), 6);
  init_view_defaults();
  set_view_enabled(0, 1);
  set_current_view(0);
  const Mat4* cam = get_camera_matrix(0);
  const Vec3 eye{cam->m[12], cam->m[13], cam->m[14]};
  Task* tri = tri3d_draw(1, &eye, 0, &eye, 0, &eye, 0);
  // 0.3334 x 3 lies a little past one: the key of a triangle at the eye is
  // the distance of that error.
  EXPECT_LE(tri3d_sort_key(tri), 2u);
  // Each corner counts: 60 along x on any one of them puts the centroid at
  // (20, 0, 0), 20.62 from the eye at (0, 0, 5), over a far distance of 100.
  const Vec3 origin{0, 0, 0}, aside{60, 0, 0};
  for (int k = 0; k < 3; ++k) {
    tri3d_set_points(tri, k == 0 ? &aside : &origin, k == 1 ? &aside : &origin, k == 2 ? &aside : &origin);
    EXPECT_NEAR(double(tri3d_sort_key(tri)), 0.2062 * 65535, 20) << k;
  }
  const float far = get_far(0);
  const Vec3 beyond{eye.x + far * 2, eye.y, eye.z};
  tri3d_set_points(tri, &beyond, &beyond, &beyond);
  EXPECT_EQ(tri3d_sort_key(tri), 65535u);
  set_far(0, 0.0f);
  EXPECT_EQ(tri3d_sort_key(tri), 0u);
  tasks_shutdown();
}

}  // namespace
