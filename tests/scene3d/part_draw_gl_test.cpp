#include <gtest/gtest.h>

#include "platform/gpu/gpu.h"
#include "platform/window/window.h"
#include "render/core/gfx_device.h"
#include "render/core/gfx_resources.h"
#include "render/core/graphics.h"
#include "render/core/shaders.h"
#include "render/core/view_state.h"
#include "render/tasks/task.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_draw.h"
#include "scene3d/part_render.h"

namespace {

constexpr int kW = 160, kH = 120;
constexpr int kCx = kW / 2, kCy = kH / 2;
constexpr uint8_t kDrawnLayer = 30;
constexpr float kHalfPi = 1.57079633f;
constexpr uint32_t kRedModel = 1, kGreenModel = 2, kFarQuadModel = 3;

// Meshes built in memory: a 2 x 2 quad in the xy plane, coloured per vertex,
// its bounding sphere at its middle.
struct TestMesh {
  MeshBuffers buffers;
  PartMaterial material;
  PartMesh mesh;
};
TestMesh meshes[3];

const PartMesh* lookup(uint32_t model) {
  return model >= 1 && model <= 3 ? &meshes[model - 1].mesh : nullptr;
}

bool build_quad(TestMesh* out, uint32_t colour, float z, float outer_radius) {
  const float positions[] = {-1, 1, z, 1, 1, z, -1, -1, z, 1, -1, z};
  const float normals[] = {0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1};
  const uint32_t colours[] = {colour, colour, colour, colour};
  const float uv[] = {0, 0, 1, 0, 0, 1, 1, 1};
  const uint16_t indices[] = {0, 1, 2, 2, 1, 3};
  MeshData data{};
  data.positions = positions;
  data.normals = normals;
  data.colours = colours;
  data.texcoords[0] = uv;
  data.texcoord_sizes[0] = 2;
  data.indices = indices;
  data.vertex_count = 4;
  data.index_count = 6;
  data.fvf_index = find_fvf_index(GPU_FVF_XYZ | GPU_FVF_NORMAL | GPU_FVF_DIFFUSE | gpu_fvf_tex(1));
  if (!gfx_build_mesh_buffers(&out->buffers, data)) return false;
  out->material = PartMaterial{GPU_PT_TRIANGLELIST, 0, 2, 0, 4, 0, {}};
  out->mesh = PartMesh{};
  out->mesh.buffers = &out->buffers;
  out->mesh.material_count = 1;
  out->mesh.materials = &out->material;
  out->mesh.centre = Vec3{0, 0, z};
  out->mesh.inner_radius = 1.5f;
  out->mesh.outer_radius = outer_radius;
  return true;
}

// The whole graphics start-up on a hidden window. View 0 looks from
// (0, 0, -10) at the origin with a vertical field of 90 degrees, so the
// 2 x 2 quad at the origin covers 12 x 12 pixels at the centre.
class MeshPartDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("mesh part test", kW, kH, nullptr);
    ASSERT_NE(window, nullptr);
    const int layout[5] = {kW, kH, kW, kH, 0};
    gfx_init(window, 0, kW, kH, 32, layout);
    gfx_set_clear_colour(0xFF000000u);
    const Vec3 eye{0, 0, -10}, target{0, 0, 0}, up{0, 1, 0};
    set_camera_look_at(0, &eye, &target, &up);
    set_camera_fov(0, kHalfPi);
    set_viewport_rect(0, 0, 0, kW, kH);
    set_near_far(0, 1.0f, 200.0f, 200.0f);
    set_fog_enable(0, 0);
    ASSERT_TRUE(build_quad(&meshes[0], 0xFFFF0000u, 0.0f, 1.5f));
    ASSERT_TRUE(build_quad(&meshes[1], 0xFF00FF00u, 0.0f, 1.5f));
    // Its quad 20 units in front of the part's position, its outer sphere
    // only round that position.
    ASSERT_TRUE(build_quad(&meshes[2], 0xFFFFFFFFu, 20.0f, 1.0f));
    part_mesh_set_lookup(lookup);
    scenepass_apply_view(0, 0);
  }
  void TearDown() override {
    part_render_reset_state();
    part_mesh_set_lookup(nullptr);
    for (TestMesh& m : meshes) gfx_release_mesh_buffers(&m.buffers);
    gfx_shutdown();
    window_destroy(window);
    window_system_shutdown();
  }
  // A one-frame mesh part, unlit, unfogged, both faces drawn.
  static Task* part(uint32_t model, float x, float y, float z) {
    Mat4 m;
    mat4_identity(&m);
    m.m[12] = x;
    m.m[13] = y;
    m.m[14] = z;
    Task* t = create_mesh_part(1, &m, model, kDrawnLayer);
    EXPECT_NE(t, nullptr);
    if (t == nullptr) return nullptr;
    mesh_part_set_flag_1(t, 0);
    mesh_part_set_flag_2(t, 0);
    mesh_part_set_flag_4(t, 0);
    mesh_part_set_flags_12_14(t, 2);
    return t;
  }
  uint32_t pixel(int x, int y) {
    GpuDevice* d = gfx_device();
    GpuSurface* bb = nullptr;
    uint32_t px = 0;
    EXPECT_EQ(gpu_get_render_target(d, 0, &bb), GPU_OK);
    EXPECT_EQ(gpu_read_surface(d, bb, GpuRect{x, y, x + 1, y + 1}, &px), GPU_OK);
    gpu_surface_release(bb);
    return px & 0x00FFFFFFu;
  }
  PlatformWindow* window = nullptr;
};

TEST_F(MeshPartDraw, QuadLandsOnItsProjectedPixels) {
  ASSERT_NE(part(kRedModel, 0, 0, 0), nullptr);
  run_frame(0);
  const struct {
    int dx, dy;
    uint32_t want;
  } probes[] = {{0, 0, 0xFF0000}, {5, 5, 0xFF0000}, {-5, -5, 0xFF0000}, {8, 0, 0}, {0, -8, 0}};
  for (const auto& p : probes) EXPECT_EQ(pixel(kCx + p.dx, kCy + p.dy), p.want) << p.dx << ", " << p.dy;

  // Moved right by 3 units: 18 pixels.
  ASSERT_NE(part(kRedModel, 3, 0, 0), nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx + 18, kCy), 0xFF0000u);
  EXPECT_EQ(pixel(kCx, kCy), 0u);
}

TEST_F(MeshPartDraw, LevelOfDetailFollowsTheSquaredDistance) {
  // The part at the origin is 100 (squared) from the eye.
  const struct {
    float switch_at;
    uint32_t want;
  } cases[] = {{50.0f, 0x00FF00}, {100.0f, 0x00FF00}, {101.0f, 0xFF0000}};
  for (const auto& c : cases) {
    Task* t = part(kRedModel, 0, 0, 0);
    ASSERT_NE(t, nullptr);
    const LodPair pairs[2] = {{kRedModel, 0.0f}, {kGreenModel, c.switch_at}};
    mesh_part_set_lods(t, pairs);
    run_frame(0);
    EXPECT_EQ(pixel(kCx, kCy), c.want) << c.switch_at;
  }
}

TEST_F(MeshPartDraw, SphereCullingLeavesOutPartsOutsideTheFrustum) {
  // Positioned behind the eye, its quad reaches back to the origin: drawn
  // without sphere culling, left out with it.
  Task* t = part(kFarQuadModel, 0, 0, -20);
  ASSERT_NE(t, nullptr);
  mesh_part_set_flag_18(t, 0);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0xFFFFFFu);

  t = part(kFarQuadModel, 0, 0, -20);
  ASSERT_NE(t, nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0u);

  // Far off to the side: nothing anywhere on the centre row.
  ASSERT_NE(part(kRedModel, 100, 0, 0), nullptr);
  run_frame(0);
  for (int x = 0; x < kW; x += 4) EXPECT_EQ(pixel(x, kCy), 0u) << x;
}

TEST_F(MeshPartDraw, PassMembershipAndMissingMeshes) {
  // In a mirror pass only parts with the mirror bit are drawn.
  part_render_set_override_6(1);
  ASSERT_NE(part(kRedModel, 0, 0, 0), nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0u);
  part_render_clear_overrides();

  // A model without a device object draws nothing and breaks nothing.
  ASSERT_NE(part(9, 0, 0, 0), nullptr);
  ASSERT_NE(part(kGreenModel, 3, 0, 0), nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0u);
  EXPECT_EQ(pixel(kCx + 18, kCy), 0x00FF00u);
}

TEST_F(MeshPartDraw, CullingQueryForCallersOutsideTheDraw) {
  Task* in = part(kRedModel, 0, 0, 0);
  Task* out = part(kRedModel, 0, 100, 0);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  run_frame(0);  // chooses the models
  Task* again_in = part(kRedModel, 0, 0, 0);
  Task* again_out = part(kRedModel, 0, 100, 0);
  EXPECT_FALSE(mesh_part_is_culled(again_in, 0, nullptr, false));
  EXPECT_TRUE(mesh_part_is_culled(again_out, 0, nullptr, false));
  const Frustum narrow{-0.01f, 0.01f, -0.01f, 0.01f, 1.0f, 200.0f};
  Task* side = part(kRedModel, 2, 0, 0);
  EXPECT_FALSE(mesh_part_is_culled(side, 0, nullptr, false));
  EXPECT_TRUE(mesh_part_is_culled(side, 0, &narrow, false));
}

}  // namespace
