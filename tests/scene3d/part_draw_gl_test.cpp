#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "part_scene_session.h"

#include "assets/asset_registry.h"
#include "assets/mesh_decoder.h"
#include "assets/mesh_records.h"
#include "assets/model_records.h"
#include "assets/textures.h"
#include "render/device/shaders.h"
#include "render/graphics/graphics.h"
#include "render/tasks/task.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "math/plane.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_draw.h"
#include "scene3d/part_render.h"

namespace {

class MeshPartDraw : public PartSceneSession {
 protected:
  void SetUp() override {
    start_scene("mesh part test");
    red = add_quad("red", 0xFFFF0000u, 0.0f);
    green = add_quad("green", 0xFF00FF00u, 0.0f);
    // Its quad at the origin, its bounding sphere 30 units behind it.
    far_quad = add_quad("far", 0xFFFFFFFFu, 0.0f, 0, 2, -30.0f);
    ASSERT_NE(red, 0u);
    ASSERT_NE(green, 0u);
    ASSERT_NE(far_quad, 0u);
    scenepass_apply_view(0, 0);
  }
  // A one-frame mesh part, unlit, unfogged, both faces drawn.
  static Task* part(AssetHandle model, float x, float y, float z) {
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
  AssetHandle red = 0, green = 0, far_quad = 0;
};

TEST_F(MeshPartDraw, QuadLandsOnItsProjectedPixels) {
  ASSERT_NE(part(red, 0, 0, 0), nullptr);
  run_frame(0);
  const struct {
    int dx, dy;
    uint32_t want;
  } probes[] = {{0, 0, 0xFF0000}, {5, 5, 0xFF0000}, {-5, -5, 0xFF0000}, {8, 0, 0}, {0, -8, 0}};
  for (const auto& p : probes) EXPECT_EQ(pixel(kCx + p.dx, kCy + p.dy), p.want) << p.dx << ", " << p.dy;

  // Moved right by 3 units: 18 pixels.
  ASSERT_NE(part(red, 3, 0, 0), nullptr);
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
    Task* t = part(red, 0, 0, 0);
    ASSERT_NE(t, nullptr);
    const LodPair pairs[2] = {{red, 0.0f}, {green, c.switch_at}};
    mesh_part_set_lods(t, pairs);
    run_frame(0);
    EXPECT_EQ(pixel(kCx, kCy), c.want) << c.switch_at;
  }
}

TEST_F(MeshPartDraw, SphereCullingLeavesOutPartsOutsideTheFrustum) {
  // Its sphere behind the eye, its quad at the origin: drawn without sphere
  // culling, left out with it.
  Task* t = part(far_quad, 0, 0, 0);
  ASSERT_NE(t, nullptr);
  mesh_part_set_flag_18(t, 0);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0xFFFFFFu);

  t = part(far_quad, 0, 0, 0);
  ASSERT_NE(t, nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0u);

  // Far off to the side: nothing anywhere on the centre row.
  ASSERT_NE(part(red, 100, 0, 0), nullptr);
  run_frame(0);
  for (int x = 0; x < kW; x += 4) EXPECT_EQ(pixel(x, kCy), 0u) << x;
}

TEST_F(MeshPartDraw, PassMembershipAndMissingMeshes) {
  // In a mirror pass only parts with the mirror bit are drawn.
  part_render_set_override_6(1);
  ASSERT_NE(part(red, 0, 0, 0), nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0u);
  part_render_clear_overrides();

  // A model without a device object draws nothing and breaks nothing.
  ASSERT_NE(part(0x7FFF, 0, 0, 0), nullptr);
  ASSERT_NE(part(green, 3, 0, 0), nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx, kCy), 0u);
  EXPECT_EQ(pixel(kCx + 18, kCy), 0x00FF00u);
}

TEST_F(MeshPartDraw, CullingQueryForCallersOutsideTheDraw) {
  Task* in = part(red, 0, 0, 0);
  Task* out = part(red, 0, 100, 0);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  run_frame(0);  // chooses the models
  Task* again_in = part(red, 0, 0, 0);
  Task* again_out = part(red, 0, 100, 0);
  EXPECT_FALSE(mesh_part_is_culled(again_in, 0, nullptr, false));
  EXPECT_TRUE(mesh_part_is_culled(again_out, 0, nullptr, false));
  const Frustum narrow{-0.01f, 0.01f, -0.01f, 0.01f, 1.0f, 200.0f};
  Task* side = part(red, 2, 0, 0);
  EXPECT_FALSE(mesh_part_is_culled(side, 0, nullptr, false));
  EXPECT_TRUE(mesh_part_is_culled(side, 0, &narrow, false));

  // Far to the right (x = 30 at depth 10, some 11 units outside the side
  // plane): the point alone is out; a radius or a centre back inside brings
  // it in.
  Mat4 right;
  mat4_identity(&right);
  right.m[12] = 30.0f;
  Task* prim = create_prim_part(1, &right, nullptr, 0, kDrawnLayer);
  ASSERT_NE(prim, nullptr);
  prim_part_set_bounds(prim, nullptr, 20.0f);
  EXPECT_TRUE(prim_part_is_culled(prim, 0, nullptr, false));
  EXPECT_FALSE(prim_part_is_culled(prim, 0, nullptr, true));
  const Vec3 back_left{-30, 0, 0};
  prim_part_set_bounds(prim, &back_left, 0.0f);
  EXPECT_FALSE(prim_part_is_culled(prim, 0, nullptr, false));
  EXPECT_FALSE(prim_part_is_culled(prim, 0, &narrow, false)) << "the centre stands on the view's axis";
  prim_part_set_bounds(prim, nullptr, 0.0f);
  EXPECT_TRUE(prim_part_is_culled(prim, 0, nullptr, true));
  // A point a quarter unit outside the plane that binds it.
  const Plane* planes = get_view_frustum_1(0);
  int binding = 0;
  for (int k = 1; k < 6; ++k) {
    const Vec3 p{30, 0, 0};
    if (plane_dot_point(&planes[k], &p) < plane_dot_point(&planes[binding], &p)) binding = k;
  }
  const Plane& bound = planes[binding];
  mat4_identity(prim_part_matrix(prim));
  prim_part_matrix(prim)->m[12] = (-0.25f - bound.d) / bound.a;
  prim_part_set_bounds(prim, nullptr, 0.5f);
  EXPECT_TRUE(prim_part_is_culled(prim, 0, nullptr, false));
  EXPECT_FALSE(prim_part_is_culled(prim, 0, nullptr, true));

  // A model part that last drew the far quad (inner radius 1.5, outer 31.5):
  // at x = 30 out either way; at x = 14, just outside the side plane, in
  // only with its inner radius.
  Task* model = create_model_part(1, &right, far_quad, kDrawnLayer);
  ASSERT_NE(model, nullptr);
  task_data<ModelPart>(model)->model_this_frame = far_quad;
  EXPECT_TRUE(model_part_is_culled(model, 0, nullptr, false));
  EXPECT_TRUE(model_part_is_culled(model, 0, nullptr, true));
  model_part_matrix(model)->m[12] = 14.0f;
  EXPECT_TRUE(model_part_is_culled(model, 0, nullptr, false));
  EXPECT_FALSE(model_part_is_culled(model, 0, nullptr, true));
  EXPECT_TRUE(model_part_is_culled(model, 0, &narrow, true));
  task_kill(model);
}

TEST_F(MeshPartDraw, BillboardsTurnTheWorldMatrixInPlace) {
  // Facing the camera: the rows become the camera's, the translation stays.
  Task* facing = part(red, 1, 2, 3);
  ASSERT_NE(facing, nullptr);
  mesh_part_set_flags_15_17(facing, 1);
  Mat4* f = mesh_part_matrix(facing);
  f->m[0] = 5.0f;
  // About the vertical axis: scale and pitch kept, yaw towards the camera.
  Task* turning = part(red, 10, 0, 0);
  ASSERT_NE(turning, nullptr);
  mesh_part_set_flags_15_17(turning, 3);
  Mat4* w = mesh_part_matrix(turning);
  const Vec3 pos{10, 0, 0}, angles{0.3f, 0.0f, 0.0f};
  mat4_from_position_euler(w, &pos, &angles);
  for (int c = 0; c < 3; ++c) w->m[c] *= 2.0f;
  // Drawn directly so the records are still there to look at.
  part_render_reset_counters();
  Task* const run[] = {facing, turning};
  mesh_part_draw(run, 2);

  const Mat4* camera = get_camera_matrix(0);
  for (int k = 0; k < 12; ++k) EXPECT_FLOAT_EQ(f->m[k], camera->m[k]) << k;
  EXPECT_EQ(f->m[12], 1.0f);
  EXPECT_EQ(f->m[13], 2.0f);
  EXPECT_EQ(f->m[14], 3.0f);

  Vec3 p, a, scale;
  mat4_decompose_euler(&p, &a, &scale, w);
  EXPECT_NEAR(scale.x, 2.0f, 1e-5f);
  EXPECT_NEAR(scale.y, 1.0f, 1e-5f);
  EXPECT_NEAR(a.x, 0.3f, 1e-5f);
  EXPECT_NEAR(a.y, std::atan2(10.0f, 10.0f), 1e-5f);  // from (0, 0, -10) to (10, 0, 0)
  EXPECT_EQ(p.x, 10.0f);
}

TEST_F(MeshPartDraw, MaterialRangesAreCutToTheMesh) {
  // The first triangle only (upper left half), a range past the end (none
  // drawn), and a count past the end (cut to the last triangle).
  const AssetHandle upper = add_quad("upper", 0xFFFFFFFFu, 0.0f, 0, 1);
  const AssetHandle past = add_quad("past", 0xFFFFFFFFu, 0.0f, 5, 1);
  const AssetHandle lower = add_quad("lower", 0xFFFFFFFFu, 0.0f, 1, 100);
  ASSERT_NE(part(upper, -3, 0, 0), nullptr);
  ASSERT_NE(part(past, 0, 0, 0), nullptr);
  ASSERT_NE(part(lower, 3, 0, 0), nullptr);
  run_frame(0);
  EXPECT_EQ(pixel(kCx - 18 - 4, kCy - 4), 0xFFFFFFu);
  EXPECT_EQ(pixel(kCx - 18 + 4, kCy + 4), 0u);
  EXPECT_EQ(pixel(kCx, kCy), 0u);
  EXPECT_EQ(pixel(kCx + 18 + 4, kCy + 4), 0xFFFFFFu);
  EXPECT_EQ(pixel(kCx + 18 - 4, kCy - 4), 0u);
}

uint64_t texture_id(AssetHandle texture) { return gpu_texture_id(get_texture_object(texture)->texture); }

// The draw of the 2-triangle quad in the frame last presented.
GpuTraceDraw quad_draw() {
  size_t n = 0;
  const GpuTraceDraw* draws = gpu_trace_last_frame(gfx_device(), &n);
  GpuTraceDraw found{};
  int quads = 0;
  for (size_t k = 0; k < n; ++k) {
    if (draws[k].primitive_count != 2) continue;
    found = draws[k];
    ++quads;
  }
  EXPECT_EQ(quads, 1);
  return found;
}

TEST_F(MeshPartDraw, OverridesAndFlagsReachTheDraw) {
  // A quad whose material has three textures.
  AssetHandle textures[4];
  for (int k = 0; k < 4; ++k) {
    textures[k] = create_texture("parts", std::string("t").append(std::to_string(k)).c_str(), 4, 4, 0);
    ASSERT_NE(textures[k], 0u);
  }
  const AssetHandle three = add_quad("three", 0xFFFFFFFFu, 0.0f);
  MaterialEntry* material = const_cast<MaterialEntry*>(&get_mesh_object(three)->materials[0]);
  material->slot_count = 3;
  for (int k = 0; k < 3; ++k) material->textures[k] = textures[k];
  gpu_trace_enable(gfx_device(), true);
  enum { kCull = 0, kFog = 1, kAlpha = 2, kSingle = 4, kNone = -1 };
  const struct {
    const char* what;
    int override_index;
    int32_t value;
    bool own_texture;  // else texture 3 replaces the first stage
    bool point_filter;
    uint64_t stage0, stage1;
    uint32_t alpha_ref, cull, fog;
  } cases[] = {
      // The part's own: alpha reference index 2 (129), cull index 1
      // (clockwise), fog on, linear filtering.
      {"own states", kNone, 0, true, false, 0, 1, 129, GPU_CULL_CW, 1},
      {"single stage", kSingle, 1, true, false, 0, 0, 129, GPU_CULL_CW, 1},
      {"single stage only at 1", kSingle, 2, true, false, 0, 1, 129, GPU_CULL_CW, 1},
      {"alpha reference 254", kAlpha, 1, true, false, 0, 1, 254, GPU_CULL_CW, 1},
      {"alpha reference only at 1", kAlpha, 0, true, false, 0, 1, 129, GPU_CULL_CW, 1},
      {"cull index 0 is in force", kCull, 0, true, false, 0, 1, 129, GPU_CULL_CCW, 1},
      {"cull none", kCull, 2, true, false, 0, 1, 129, GPU_CULL_NONE, 1},
      {"fog off", kFog, 0, true, false, 0, 1, 129, GPU_CULL_CW, 0},
      {"texture override", kNone, 0, false, false, 3, 1, 129, GPU_CULL_CW, 1},
      {"point filter", kNone, 0, true, true, 0, 1, 129, GPU_CULL_CW, 1},
  };
  PartRenderBlock* (*setters[])(int32_t) = {part_render_set_override_0, part_render_set_override_1,
                                           part_render_set_override_2, part_render_set_override_3,
                                           part_render_set_override_4};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Task* t = part(three, 0, 0, 0);
    ASSERT_NE(t, nullptr);
    mesh_part_set_flags_19_21(t, 2);
    mesh_part_set_flags_12_14(t, 1);
    mesh_part_set_flag_4(t, 1);
    mesh_part_set_flags_22_24(t, 6);
    if (c.point_filter) mesh_part_set_flags_25_26(t, 0);
    if (!c.own_texture) mesh_part_set_texture(t, textures[3]);
    if (c.override_index != kNone) setters[c.override_index](c.value);
    // Stage 0 already holds the part's texture, point-filtered: the batch's
    // own filter setting must not leave that binding believed current.
    gfx_bind_texture(gfx_device(), 0, get_texture_object(textures[c.stage0]), 0);
    run_frame(0);
    part_render_clear_overrides();
    const GpuTraceDraw d = quad_draw();
    EXPECT_EQ(d.textures[0], texture_id(textures[c.stage0]));
    EXPECT_EQ(d.textures[1], c.stage1 != 0 ? texture_id(textures[c.stage1]) : 0u);
    EXPECT_EQ(d.render_states[GPU_RS_ALPHAREF], c.alpha_ref);
    EXPECT_EQ(d.render_states[GPU_RS_CULLMODE], c.cull);
    EXPECT_EQ(d.render_states[GPU_RS_FOGENABLE], c.fog);
    EXPECT_EQ(d.render_states[GPU_RS_ZFUNC], uint32_t{GPU_CMP_GREATEREQUAL});
    EXPECT_EQ(d.render_states[GPU_RS_ALPHAFUNC], uint32_t{GPU_CMP_GREATEREQUAL});
    EXPECT_EQ(d.render_states[GPU_RS_ALPHATESTENABLE], 1u);
    EXPECT_EQ(d.render_states[GPU_RS_FILLMODE], uint32_t{GPU_FILL_SOLID});
    EXPECT_EQ(d.sampler_states[0][GPU_SAMP_MAGFILTER], c.point_filter ? GPU_FILTER_POINT : GPU_FILTER_LINEAR);
    EXPECT_EQ(d.stage_states[0][GPU_TSS_COLOROP], uint32_t{GPU_TOP_MODULATE});
  }

  // Two materials, one triangle each, drawn far to near after a quad of
  // three textures: the override replaces only the first material's first
  // texture, and a material without textures leaves none bound.
  const AssetHandle halves = add_quad("halves", 0xFFFFFFFFu, 0.0f, 0, 2, 0.0f, 2);
  MaterialEntry* both = const_cast<MaterialEntry*>(get_mesh_object(halves)->materials);
  both[0].slot_count = 1;
  both[0].textures[0] = textures[1];
  both[1].slot_count = 1;
  both[1].textures[0] = textures[2];
  Task* before = part(three, 0, 0, 2);
  Task* split = part(halves, 0, 0, 1);
  Task* bare = part(red, 0, 0, 0);
  for (Task* t : {before, split, bare}) mesh_part_set_flag_0(t, 1);
  mesh_part_set_texture(split, textures[3]);
  run_frame(0);
  size_t n = 0;
  const GpuTraceDraw* draws = gpu_trace_last_frame(gfx_device(), &n);
  std::vector<GpuTraceDraw> ours;
  for (size_t k = 0; k < n; ++k) {
    if (draws[k].primitive_count <= 2) ours.push_back(draws[k]);
  }
  ASSERT_EQ(ours.size(), 4u);
  EXPECT_EQ(ours[0].textures[0], texture_id(textures[0]));
  EXPECT_EQ(ours[1].textures[0], texture_id(textures[3])) << "the override on material 0";
  EXPECT_EQ(ours[2].textures[0], texture_id(textures[2])) << "material 1 keeps its own";
  EXPECT_NE(ours[3].textures[0], texture_id(textures[2])) << "no texture left from before";
  EXPECT_NE(ours[3].textures[0], 0u) << "stage 0 reads white";
  gpu_trace_enable(gfx_device(), false);
}

TEST_F(MeshPartDraw, TheScenePassLightsAndFogsTheParts) {
  // View 0's light: ambient a little blue (colour 0), diffuse green
  // (colour 2), shining along +z onto the quads that face the camera.
  // Along +z and a little to the side: the quads facing the camera take
  // cos 30 degrees of the light.
  const Vec3 along_z{0.5f, 0, 0.8660254f};
  set_light_direction(0, &along_z);
  const uint32_t colours[4] = {0xFF000040u, 0xFFFF0000u, 0xFF00C000u, 0xFFFFFFFFu};
  for (int i = 0; i < 4; ++i) set_light_color(0, i, colours[i]);
  // Fog from 2 to 6 along the view, blue: the quads 10 away are all fog.
  set_fog_start(0, 2.0f);
  set_fog_end(0, 6.0f);
  set_fog_color(0, 0xFF0000FFu);
  set_fog_enable(0, 1);
  run_frame(0);  // the light takes its new colours
  scenepass_apply_view(0, 0);
  const AssetHandle white = add_quad("white", 0xFFFFFFFFu, 0.0f);
  const struct {
    const char* what;
    bool lit, fogged;
    int32_t fog_override;
    uint32_t want;
  } cases[] = {
      {"unlit", false, false, -1, 0xFFFFFF},
      {"lit: ambient and diffuse", true, false, -1, 0x00A640},
      {"fogged", false, true, -1, 0x0000FF},
      {"fog switched off for every part", false, true, 0, 0xFFFFFF},
      {"fog switched on for every part", false, false, 1, 0x0000FF},
  };
  for (const auto& c : cases) {
    Task* t = part(white, 0, 0, 0);
    ASSERT_NE(t, nullptr);
    mesh_part_set_flag_1(t, c.lit);
    mesh_part_set_flag_4(t, c.fogged);
    part_render_set_override_1(c.fog_override);
    run_frame(0);
    part_render_clear_overrides();
    const uint32_t p = pixel(kCx, kCy);
    for (int shift : {0, 8, 16}) {
      const int got = static_cast<int>((p >> shift) & 0xFF), want = static_cast<int>((c.want >> shift) & 0xFF);
      EXPECT_NEAR(got, want, 3) << c.what << ", channel at bit " << shift;
    }
  }
  set_fog_enable(0, 0);
}

TEST_F(MeshPartDraw, NearbyLightsAreSoughtWhereThePartStandsNow) {
  // Without sphere culling the draw still places the sphere the light query
  // is made with; a part not lit by light spheres keeps its old one.
  Task* lit = part(red, 3, 0, 0);
  Task* unlit = part(red, -3, 0, 0);
  Task* culled = part(far_quad, 0, 0, 0);  // sphere culling on, and kept
  ASSERT_NE(lit, nullptr);
  ASSERT_NE(unlit, nullptr);
  ASSERT_NE(culled, nullptr);
  for (Task* t : {lit, unlit}) mesh_part_set_flag_18(t, 0);
  mesh_part_set_flag_2(lit, 1);
  mat4_identity(mesh_part_matrix(culled));
  mesh_part_matrix(culled)->m[14] = 35.0f;  // its sphere 30 nearer, at z = 5
  Task* const run[] = {lit, unlit, culled};
  mesh_part_draw(run, 3);
  const MeshPart* l = task_data<MeshPart>(lit);
  EXPECT_EQ(l->sphere_centre.x, 3.0f);
  EXPECT_EQ(l->sphere_radius, 1.5f);
  EXPECT_EQ(task_data<MeshPart>(unlit)->sphere_centre.x, 0.0f);
  EXPECT_EQ(task_data<MeshPart>(unlit)->sphere_radius, 0.0f);
  EXPECT_EQ(l->model_this_frame, red);
  const MeshPart* c = task_data<MeshPart>(culled);
  EXPECT_EQ(c->sphere_centre.z, 5.0f);
  EXPECT_EQ(c->sphere_radius, 1.5f);
}

TEST_F(MeshPartDraw, ScenePassTakesItsBranchesTransformsAndResetEndsIt) {
  GpuDevice* device = gfx_device();
  const int light = get_current_light_index();
  const struct {
    const char* what;
    bool light_view, mirror;
    const Mat4* view;
    const Mat4* projection;
  } cases[] = {
      {"normal", false, false, get_view_matrix(0), get_projection_matrix(0)},
      {"mirror", false, true, get_matrix_slot16(0), get_matrix_slot18(0)},
      {"light view", true, false, get_light_matrix_a(0, light), get_light_matrix_c(0, light)},
      // The light-view branch is tested first.
      {"both", true, true, get_light_matrix_a(0, light), get_light_matrix_c(0, light)},
  };
  set_fog_color(0, 0xFF336699u);
  set_fog_start(0, 3.0f);
  set_fog_end(0, 9.0f);
  for (const auto& c : cases) {
    if (c.light_view) part_render_set_override_5(1);
    if (c.mirror) part_render_set_override_6(1);
    gpu_set_render_state(device, GPU_RS_FOGVERTEXMODE, GPU_FOG_LINEAR);
    gpu_set_render_state(device, GPU_RS_RANGEFOGENABLE, 1);
    gpu_set_render_state(device, GPU_RS_AMBIENT, 0xFFFFFFFFu);
    scenepass_apply_view(0, 2);
    EXPECT_EQ(part_render_get_pass_index(), 2) << c.what;
    float view[16], projection[16];
    gpu_get_transform(device, GPU_TS_VIEW, view);
    gpu_get_transform(device, GPU_TS_PROJECTION, projection);
    for (int k = 0; k < 16; ++k) {
      EXPECT_EQ(view[k], c.view->m[k]) << c.what << " view " << k;
      EXPECT_EQ(projection[k], c.projection->m[k]) << c.what << " projection " << k;
    }
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_LIGHTING), 1u) << c.what;
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_FOGTABLEMODE), uint32_t{GPU_FOG_LINEAR}) << c.what;
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_FOGVERTEXMODE), uint32_t{GPU_FOG_NONE}) << c.what;
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_RANGEFOGENABLE), 0u) << c.what;
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_FOGCOLOR), 0xFF336699u) << c.what;
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_FOGSTART), gpu_float_bits(3.0f)) << c.what;
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_FOGEND), gpu_float_bits(9.0f)) << c.what;
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_SHADEMODE), uint32_t{GPU_SHADE_GOURAUD}) << c.what;
    EXPECT_EQ(gpu_get_render_state(device, GPU_RS_AMBIENT), 0u) << c.what;
    part_render_clear_overrides();
  }
  // A pass of view 1 makes it the view the parts are drawn from.
  scenepass_apply_view(1, 0);
  EXPECT_EQ(get_current_view(), 1);
  scenepass_apply_view(0, 0);
  EXPECT_EQ(get_current_view(), 0);
  // Reset after every override, with textures on every stage.
  for (auto set : {part_render_set_override_0, part_render_set_override_1, part_render_set_override_2,
                   part_render_set_override_3, part_render_set_override_4, part_render_set_override_5,
                   part_render_set_override_6}) {
    set(1);
  }
  const TextureObject* bound = get_texture_object(create_texture("parts", "bound", 4, 4, 0));
  for (int stage = 0; stage < 8; ++stage) gfx_bind_texture(device, stage, bound, 1);
  gpu_set_render_state(device, GPU_RS_FOGENABLE, 1);
  part_render_reset_state();
  for (int32_t o : part_render_block()->overrides) EXPECT_EQ(o, -1);
  EXPECT_EQ(gpu_get_render_state(device, GPU_RS_LIGHTING), 0u);
  EXPECT_EQ(gpu_get_render_state(device, GPU_RS_FOGENABLE), 0u);
  // Stage 0 without a texture reads the device's white.
  EXPECT_NE(gpu_get_texture(device, 0), bound->texture);
  for (int stage = 1; stage < 8; ++stage) EXPECT_EQ(gpu_get_texture(device, stage), nullptr) << stage;
}

}  // namespace
