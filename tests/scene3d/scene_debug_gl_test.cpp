#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "scene_package_session.h"

#include "assets/package_builder.h"

#include "assets/model_records.h"
#include "assets/textures.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/view/view_state.h"
#include "render/tasks/task.h"
#include "scene3d/animation.h"
#include "scene3d/light_spheres.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_render.h"
#include "scene3d/ray_collision.h"
#include "shell/services/input.h"

namespace {

class SceneDebug : public ScenePackageSession {
 protected:
  void SetUp() override {
    start_package_scene("scene debug test");
    scenepass_apply_view(0, 0);
  }
  // The overlay layer is drawn only by the 3D pass; the tests draw the
  // parts made there on a layer the frame draws, after checking where they
  // were put.
  static int move_overlays_to_drawn_layer() {
    static int moved;
    moved = 0;
    tasks_for_each([](Task* t) {
      if (t->layer != kColliderOverlayLayer) return;
      task_set_layer(t, kDrawnLayer);
      ++moved;
    });
    return moved;
  }
  static Mat4 at(float x, float y, float z) {
    Mat4 m;
    const Vec3 p{x, y, z};
    return *mat4_translation(&m, &p);
  }
};

TEST_F(SceneDebug, ColliderOverlaysShowWhereTheColliderIsAndGoWithItsPart) {
  const struct {
    const char* what;
    float x;
    bool enabled;
    uint32_t main_channel;  // cyan shows blue, red shows red
  } cases[] = {{"enabled sphere", 2.0f, true, 0x0000FFu}, {"disabled sphere", -2.0f, false, 0xFF0000u}};
  for (const auto& c : cases) {
    const Mat4 m = at(c.x, 0, 0);
    Task* part = create_mesh_part_persistent(7, &m, 0, kDrawnLayer);
    ASSERT_NE(part, nullptr);
    ASSERT_TRUE(mesh_part_attach_collision_sphere(part, nullptr, 0.5f, 1));
    if (c.enabled) mesh_part_collider_set_flag_1(part);
    else mesh_part_collider(part)->flags &= ~kColliderEnabled;
    mesh_part_show_colliders(part, false);
    // One primitive part of the part's owner, for this frame only: the
    // collider's colour, drawn without lighting, depth writes, fog, sphere
    // culling or face culling.
    static Task* overlay;
    overlay = nullptr;
    tasks_for_each([](Task* t) {
      if (t->layer == kColliderOverlayLayer) overlay = t;
    });
    ASSERT_NE(overlay, nullptr) << c.what;
    EXPECT_TRUE(task_is_prim_part(overlay)) << c.what;
    EXPECT_EQ(overlay->owner, 7u) << c.what;
    EXPECT_EQ(overlay->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame) << c.what;
    const uint32_t flags = task_data<PrimPart>(overlay)->flags;
    EXPECT_EQ(flags & ((1u << 1) | (1u << 3) | (1u << 4) | (1u << 18)), 0u) << c.what;
    EXPECT_EQ((flags >> 12) & 7u, 2u) << c.what;
    EXPECT_EQ(prim_part_diffuse(overlay), c.enabled ? 0x8000FFFFu : 0x80FF0000u) << c.what;
    EXPECT_EQ(move_overlays_to_drawn_layer(), 1) << c.what;
    run_frame(0);
    const int px = kCx + static_cast<int>(c.x * 6.0f);
    EXPECT_NE(pixel(px, kCy) & c.main_channel, 0u) << c.what;
    EXPECT_EQ(pixel(kCx - static_cast<int>(c.x * 6.0f), kCy), 0u) << c.what;
    // Overlays last one frame: with the part gone nothing is left.
    task_kill(part);
    run_frame(0);
    EXPECT_EQ(pixel(px, kCy), 0u) << c.what;
  }
}

TEST_F(SceneDebug, CollisionMeshOverlayDrawsItsTriangles) {
  ASSERT_TRUE(enqueue_package("s1", 0));
  ASSERT_TRUE(load_all());
  const AssetHandle wall = find_collision("s1", "s1_wall");
  ASSERT_NE(wall, 0u);
  // The wall's one triangle (0,0,0) (3,0,0) (0,3,0) faces away from the
  // camera; turned half round it faces it, on the left of the middle.
  Mat4 m;
  mat4_identity(&m);
  mat4_rotate_y_local(&m, &m, 3.14159265f);
  Task* part = create_mesh_part_persistent(7, &m, 0, kDrawnLayer);
  ASSERT_NE(part, nullptr);
  ASSERT_TRUE(mesh_part_attach_collision_mesh(part, wall, 1));
  mesh_part_show_colliders(part, false);
  EXPECT_EQ(move_overlays_to_drawn_layer(), 1);
  run_frame(0);
  EXPECT_NE(pixel(kCx - 12, kCy - 3), 0u);  // inside the triangle at (-2, 0.5)
  EXPECT_EQ(pixel(kCx + 12, kCy - 3), 0u);

  // Solid: the mesh of the wall's name, the unit cube turned with the part
  // (x -1 to 0, y 0 to 1), instead of the triangle.
  mesh_part_show_colliders(part, true);
  static Task* overlay;
  overlay = nullptr;
  tasks_for_each([](Task* t) {
    if (t->layer == kColliderOverlayLayer) overlay = t;
  });
  ASSERT_NE(overlay, nullptr);
  EXPECT_TRUE(task_is_mesh_part(overlay));
  EXPECT_EQ(mesh_part_texture(overlay), get_white_texture());
  // See-through: unlit, unfogged, without depth writes, sorted by distance,
  // in the collider's colour (enabled: cyan).
  const uint32_t flags = task_data<MeshPart>(overlay)->flags;
  EXPECT_EQ(flags & ((1u << 1) | (1u << 3) | (1u << 4)), 0u);
  EXPECT_NE(flags & 1u, 0u);
  EXPECT_EQ(mesh_part_diffuse(overlay), 0x8000FFFFu);
  EXPECT_EQ(overlay->owner, 7u);
  EXPECT_EQ(move_overlays_to_drawn_layer(), 1);
  run_frame(0);
  EXPECT_NE(pixel(kCx - 3, kCy - 3), 0u);
  EXPECT_EQ(pixel(kCx - 12, kCy - 12), 0u);

  // A static part shows its collision mesh as triangles whatever else; a
  // primitive part shows only sphere Colliders.
  static int overlays;
  auto count_overlays = [] {
    overlays = 0;
    tasks_for_each([](Task* t) {
      if (t->layer == kColliderOverlayLayer) ++overlays;
    });
    return overlays;
  };
  kill_owner(7);
  Task* scenery = create_static_part(7, nullptr, kDrawnLayer);
  Task* prim = create_prim_part_persistent(7, nullptr, nullptr, 0, kDrawnLayer);
  ASSERT_TRUE(scenery != nullptr && prim != nullptr);
  ASSERT_TRUE(static_part_attach_collision_mesh(scenery, wall, 1));
  task_data<PrimPart>(prim)->colliders = collider_create_mesh(wall, prim_part_matrix(prim), 1, 9, 0, 0);
  static_part_show_colliders(scenery);
  ASSERT_EQ(count_overlays(), 1);
  tasks_for_each([](Task* t) {
    if (t->layer == kColliderOverlayLayer) {
      EXPECT_TRUE(task_is_prim_part(t));
    }
  });
  kill_owner(7);
  prim = create_prim_part_persistent(7, nullptr, nullptr, 0, kDrawnLayer);
  task_data<PrimPart>(prim)->colliders = collider_create_mesh(wall, prim_part_matrix(prim), 1, 9, 0, 0);
  prim_part_show_colliders(prim);
  EXPECT_EQ(count_overlays(), 0);
  ASSERT_TRUE(prim_part_attach_collision_sphere(prim, nullptr, 1.0f, 1));  // re-shapes it into a sphere
  prim_part_show_colliders(prim);
  EXPECT_EQ(count_overlays(), 1);
}

TEST_F(SceneDebug, LightSphereRingsFollowF9) {
  static uint8_t keys[256];
  input_set_keyboard_source([](uint8_t out[256]) { std::memcpy(out, keys, 256); });
  init_input();
  const Vec3 left{-2, 0, 0}, right{2, 0, 0};
  LightSphere* coloured = lightsphere_create(3, &left, 0.8f, 0xFF00FF00u);
  LightSphere* plain = lightsphere_create(3, &right, 0.8f, 0xFF00FF00u);
  ASSERT_NE(coloured, nullptr);
  ASSERT_NE(plain, nullptr);
  plain->flags &= ~kLightSphereColoured;
  const struct {
    bool press;
    uint32_t debug, rings;
  } steps[] = {{false, 0, 0}, {true, 1, 2}, {false, 1, 2}, {true, 0, 0}};
  for (const auto& s : steps) {
    keys[VK_F9] = s.press ? 0x80 : 0;
    read_keyboard_state();
    lightsphere_debug_pass();
    EXPECT_EQ(lightsphere_list()->debug, s.debug);
    // The rings: one-frame primitive parts of the lights' owner, unlit,
    // without depth writes, fog, face or sphere culling, blended by pair 2
    // over the white texture, in the ring colours.
    static std::vector<Task*> rings;
    rings.clear();
    tasks_for_each([](Task* t) {
      if (t->layer == kColliderOverlayLayer) rings.push_back(t);
    });
    for (Task* r : rings) {
      const PrimPart* ring = task_data<PrimPart>(r);
      EXPECT_EQ(r->owner, 3u);
      EXPECT_EQ(r->flags & kTaskLifetimeMask, kTaskLifetimeOneFrame);
      EXPECT_EQ(ring->flags & ((1u << 1) | (1u << 3) | (1u << 4) | (1u << 18)), 0u);
      EXPECT_EQ((ring->flags >> 12) & 7u, 2u);
      EXPECT_EQ((ring->flags >> 7) & 31u, 2u);
      EXPECT_EQ(ring->default_texture, get_white_texture());
      EXPECT_TRUE(ring->colours.diffuse == 0x8000FF00u || ring->colours.diffuse == 0x60FF0000u);
    }
    EXPECT_EQ(move_overlays_to_drawn_layer(), static_cast<int>(s.rings));
    run_frame(0);
    if (s.rings == 0) continue;
    // Coloured: the sphere's colour; not coloured: red.
    EXPECT_NE(pixel(kCx - 12, kCy) & 0x00FF00u, 0u);
    EXPECT_EQ(pixel(kCx - 12, kCy) & 0xFF0000u, 0u);
    EXPECT_NE(pixel(kCx + 12, kCy) & 0xFF0000u, 0u);
    EXPECT_EQ(pixel(kCx + 12, kCy) & 0x00FF00u, 0u);
    EXPECT_EQ(pixel(kCx, kCy), 0u);
  }
  shutdown_input();
  input_set_keyboard_source(nullptr);
}

TEST_F(SceneDebug, RotatedModelPartIsCulledByItsPlacedRoot) {
  // The root's rest transform is 12 along x. Turned half round and moved
  // 20 along x, the root stands at x = 8: inside the view.
  const Blob stream = bone_payload("root", "arm", 12.0f, 0.0f);
  const AssetHandle tree = register_bone_tree("pk", "root", stream.bytes.data(), stream.size());
  ASSERT_NE(tree, 0u);
  Mat4 turned, world;
  mat4_identity(&turned);
  mat4_rotate_y_local(&turned, &turned, 3.14159265f);
  world = turned;
  world.m[12] = 20.0f;
  Task* part = create_model_part(1, &world, 0, kDrawnLayer);
  ASSERT_NE(part, nullptr);
  model_part_set_motion(part, static_cast<int32_t>(tree), 0);
  EXPECT_FALSE(model_part_is_culled(part, 0, nullptr, false));
  // Not turned, the same root stands at x = 32, far outside.
  *model_part_matrix(part) = at(20, 0, 0);
  EXPECT_TRUE(model_part_is_culled(part, 0, nullptr, false));
}

TEST_F(SceneDebug, CulledPartsStillLeaveTheBatchStates) {
  GpuDevice* device = gfx_device();
  const Mat4 far_off = at(500, 0, 0);
  const AssetHandle quad = add_quad("quad", 0xFFFFFFFFu, 0.0f);
  Task* model = create_model_part(1, &far_off, quad, kDrawnLayer);
  Task* prim = create_prim_part_persistent(1, &far_off, [](Task*, uintptr_t) {}, 0, kDrawnLayer);
  Task* mesh = create_mesh_part_persistent(1, &far_off, quad, kDrawnLayer);
  ASSERT_NE(model, nullptr);
  ASSERT_NE(prim, nullptr);
  ASSERT_NE(mesh, nullptr);
  model_part_set_flag_18(model, 1);
  prim_part_set_flag_18(prim, 1);
  set_fog_enable(0, 1);
  const TextureObject* bound = get_texture_object(create_texture("parts", "bound", 4, 4, 0));
  const struct {
    const char* what;
    void (*draw)(Task* const*, int);
    Task* part;
    int32_t cull_override, fog_override;
    bool sets_states;
    uint32_t cull, fog;
  } cases[] = {
      {"model", model_part_draw, model, -1, -1, true, GPU_CULL_CCW, 1},
      {"primitive", prim_part_draw, prim, -1, -1, true, GPU_CULL_CCW, 1},
      {"model, cull none and fog off for all", model_part_draw, model, 2, 0, true, GPU_CULL_NONE, 0},
      {"primitive, cull index 0 in force", prim_part_draw, prim, 0, 1, true, GPU_CULL_CCW, 1},
      {"mesh: nothing listed, nothing set", mesh_part_draw, mesh, -1, -1, false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Whatever came before.
    gpu_set_render_state(device, GPU_RS_ALPHATESTENABLE, 1);
    gpu_set_render_state(device, GPU_RS_ALPHAREF, 77);
    gpu_set_render_state(device, GPU_RS_ZENABLE, 0);
    gpu_set_render_state(device, GPU_RS_ZWRITEENABLE, 0);
    gpu_set_render_state(device, GPU_RS_LIGHTING, 0);
    gpu_set_render_state(device, GPU_RS_ALPHABLENDENABLE, 0);
    gpu_set_render_state(device, GPU_RS_ALPHAFUNC, GPU_CMP_ALWAYS);
    gpu_set_render_state(device, GPU_RS_CULLMODE, GPU_CULL_CW);
    gpu_set_render_state(device, GPU_RS_FOGENABLE, 7);
    gpu_set_sampler_state(device, 0, GPU_SAMP_MAGFILTER, GPU_FILTER_POINT);
    for (int stage = 0; stage < 8; ++stage) gfx_bind_texture(device, stage, bound, 0);
    part_render_set_override_0(c.cull_override);
    part_render_set_override_1(c.fog_override);
    c.draw(&c.part, 1);
    part_render_clear_overrides();
    if (!c.sets_states) {
      EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ALPHATESTENABLE), 1u);
      EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ALPHAREF), 77u);
      EXPECT_EQ(gpu_get_render_state(device, GPU_RS_CULLMODE), uint32_t{GPU_CULL_CW});
      EXPECT_EQ(gpu_get_texture(device, 1), bound->texture);
      continue;
    }
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ALPHATESTENABLE), 0u) << "the batch's end";
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ALPHAREF), 1u);
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ALPHAFUNC), uint32_t{GPU_CMP_GREATEREQUAL});
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ZENABLE), 1u);
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ZWRITEENABLE), 1u);
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_LIGHTING), 1u);
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_ALPHABLENDENABLE), 1u);
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_CULLMODE), c.cull);
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_FOGENABLE), c.fog);
    EXPECT_EQ(gpu_get_sampler_state(device, 0, GPU_SAMP_MAGFILTER), uint32_t{GPU_FILTER_LINEAR});
    EXPECT_EQ(gpu_get_stage_state(device, 0, GPU_TSS_COLOROP), uint32_t{GPU_TOP_MODULATE});
    EXPECT_EQ(gpu_get_stage_state(device, 0, GPU_TSS_ALPHAARG2), uint32_t{GPU_TA_DIFFUSE});
    EXPECT_NE(gpu_get_texture(device, 0), bound->texture);
    for (int stage = 1; stage < 8; ++stage) EXPECT_EQ(gpu_get_texture(device, stage), nullptr) << stage;
    // A point-filtered binding after the batch is not lost to a stale cache.
    gfx_bind_texture(device, 0, bound, 0);
    EXPECT_EQ(gpu_get_sampler_state(device, 0, GPU_SAMP_MAGFILTER), uint32_t{GPU_FILTER_POINT});
  }
  set_fog_enable(0, 0);
}

}  // namespace
